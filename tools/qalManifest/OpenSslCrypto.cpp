// The signature cryptography natively, through OpenSSL's libcrypto. Keys and
// signatures cross in the DER the common core writes and reads, so both
// platforms share one form of every file.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "SignatureCrypto.h"

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct DigestFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestFree>;

class OpenSslSha256Stream : public Sha256Stream {
public:
    OpenSslSha256Stream() : context_(EVP_MD_CTX_new())
    {
        ok_ = context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1;
    }

    bool Ready() const { return ok_; }

    void Add(const unsigned char* data, size_t size) override
    {
        ok_ = ok_ && EVP_DigestUpdate(context_.get(), data, size) == 1;
    }

    bool Finish(unsigned char digest[32]) override
    {
        unsigned int length = 0;
        bool done = ok_ && EVP_DigestFinal_ex(context_.get(), digest, &length) == 1 && length == 32;
        ok_ = false;
        return done;
    }

private:
    DigestContext context_;
    bool ok_ = false;
};

Key PublicKeyOf(const P256PublicKey& key)
{
    std::vector<unsigned char> der = EncodeP256PublicKeyInfo(key);
    const unsigned char* at = der.data();
    return Key(d2i_PUBKEY(nullptr, &at, long(der.size())));
}

Key PrivateKeyOf(const P256PrivateKey& key)
{
    std::vector<unsigned char> der = EncodeP256PrivateKeyPkcs8(key);
    const unsigned char* at = der.data();
    Key parsed(d2i_AutoPrivateKey(nullptr, &at, long(der.size())));
    OPENSSL_cleanse(der.data(), der.size());
    return parsed;
}

}  // namespace

std::unique_ptr<Sha256Stream> NewSha256Stream()
{
    auto stream = std::make_unique<OpenSslSha256Stream>();
    if (!stream->Ready())
        return nullptr;
    return stream;
}

bool VerifyP256Sha256(const P256PublicKey& publicKey, const unsigned char* message, size_t size,
                      const EcdsaSignature& signature)
{
    Key key = PublicKeyOf(publicKey);
    DigestContext context(EVP_MD_CTX_new());
    std::vector<unsigned char> der = EncodeEcdsaSignatureDer(signature);
    return key && context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), der.data(), der.size(), message, size) == 1;
}

bool GenerateP256Key(P256PrivateKey* privateKey)
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key)
        return false;
    // The core's own reading of OpenSSL's PKCS#8 takes the scalar and the
    // point out, as it would from the file.
    int size = i2d_PrivateKey(key.get(), nullptr);
    if (size <= 0)
        return false;
    std::vector<unsigned char> der(static_cast<size_t>(size));
    unsigned char* at = der.data();
    bool read = i2d_PrivateKey(key.get(), &at) == size && ParseP256PrivateKey(der.data(), der.size(), privateKey);
    OPENSSL_cleanse(der.data(), der.size());
    return read;
}

bool SignP256Sha256(const P256PrivateKey& privateKey, const unsigned char* message, size_t size,
                    EcdsaSignature* signature)
{
    Key key = PrivateKeyOf(privateKey);
    DigestContext context(EVP_MD_CTX_new());
    size_t length = 0;
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, message, size) != 1)
        return false;
    std::vector<unsigned char> der(length);
    if (EVP_DigestSign(context.get(), der.data(), &length, message, size) != 1)
        return false;
    return ParseEcdsaSignatureDer(der.data(), length, signature);
}
