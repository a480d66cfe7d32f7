// The signature cryptography through the system's CNG (bcrypt.dll, Vista and
// later): nothing beyond what every Windows 7 to 11 has, so no one-shot
// BCryptHash and no algorithm pseudo-handles (both Windows 10 only).
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "SignatureCrypto.h"

namespace {

bool Succeeded(NTSTATUS status)
{
    return status == 0;
}

struct AlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static void Release(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct KeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static void Release(Handle handle) { BCryptDestroyKey(handle); }
};
struct HashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static void Release(Handle handle) { BCryptDestroyHash(handle); }
};

// A CNG handle that is given back when it goes; null means none.
template <typename Traits>
class CngHandle {
public:
    CngHandle() = default;
    ~CngHandle()
    {
        if (handle_)
            Traits::Release(handle_);
    }
    CngHandle(const CngHandle&) = delete;
    CngHandle& operator=(const CngHandle&) = delete;

    typename Traits::Handle Get() const { return handle_; }
    typename Traits::Handle* Put() { return &handle_; }

private:
    typename Traits::Handle handle_ = nullptr;
};
using Algorithm = CngHandle<AlgorithmTraits>;
using Key = CngHandle<KeyTraits>;
using Hash = CngHandle<HashTraits>;

bool OpenAlgorithm(const wchar_t* name, Algorithm* algorithm)
{
    return Succeeded(BCryptOpenAlgorithmProvider(algorithm->Put(), name, nullptr, 0));
}

class CngSha256Stream : public Sha256Stream {
public:
    CngSha256Stream()
    {
        DWORD objectSize = 0, got = 0;
        ok_ = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM, &algorithm_) &&
              Succeeded(BCryptGetProperty(algorithm_.Get(), BCRYPT_OBJECT_LENGTH,
                                          reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize, &got, 0));
        if (ok_) {
            // The hash object lives in memory of ours: Vista takes no other.
            object_.resize(objectSize);
            ok_ = Succeeded(BCryptCreateHash(algorithm_.Get(), hash_.Put(), object_.data(), objectSize, nullptr, 0, 0));
        }
    }
    // The hash goes before the memory it lives in.
    ~CngSha256Stream() override = default;

    bool Ready() const { return ok_; }

    void Add(const unsigned char* data, size_t size) override
    {
        while (ok_ && size > 0) {
            ULONG piece = size > 0x40000000 ? 0x40000000 : ULONG(size);
            ok_ = Succeeded(BCryptHashData(hash_.Get(), const_cast<PUCHAR>(data), piece, 0));
            data += piece;
            size -= piece;
        }
    }

    bool Finish(unsigned char digest[32]) override
    {
        ok_ = ok_ && Succeeded(BCryptFinishHash(hash_.Get(), digest, 32, 0));
        bool done = ok_;
        ok_ = false;
        return done;
    }

private:
    std::vector<UCHAR> object_;
    Algorithm algorithm_;
    Hash hash_;
    bool ok_ = false;
};

bool Sha256Of(const unsigned char* message, size_t size, unsigned char digest[32])
{
    CngSha256Stream stream;
    if (!stream.Ready())
        return false;
    stream.Add(message, size);
    return stream.Finish(digest);
}

// BCRYPT_ECCKEY_BLOB, then X, Y and (for a private blob) d, 32 bytes each.
std::vector<UCHAR> KeyBlob(ULONG magic, const P256PublicKey& publicKey, const unsigned char* d)
{
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + (d ? 96 : 64));
    BCRYPT_ECCKEY_BLOB header = {magic, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, publicKey.x, 32);
    std::memcpy(blob.data() + sizeof header + 32, publicKey.y, 32);
    if (d)
        std::memcpy(blob.data() + sizeof header + 64, d, 32);
    return blob;
}

bool ImportKey(const Algorithm& algorithm, const wchar_t* type, std::vector<UCHAR> blob, Key* key)
{
    bool imported = Succeeded(BCryptImportKeyPair(algorithm.Get(), nullptr, type, key->Put(), blob.data(),
                                                  ULONG(blob.size()), 0));
    SecureZeroMemory(blob.data(), blob.size());
    return imported;
}

}  // namespace

std::unique_ptr<Sha256Stream> NewSha256Stream()
{
    auto stream = std::make_unique<CngSha256Stream>();
    if (!stream->Ready())
        return nullptr;
    return stream;
}

bool VerifyP256Sha256(const P256PublicKey& publicKey, const unsigned char* message, size_t size,
                      const EcdsaSignature& signature)
{
    unsigned char digest[32];
    Algorithm algorithm;
    Key key;
    if (!Sha256Of(message, size, digest) || !OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, &algorithm) ||
        !ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, KeyBlob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, publicKey, nullptr),
                   &key))
        return false;
    // CNG takes r and s side by side, not the DER the file carries.
    UCHAR rs[64];
    std::memcpy(rs, signature.r, 32);
    std::memcpy(rs + 32, signature.s, 32);
    return Succeeded(BCryptVerifySignature(key.Get(), nullptr, digest, 32, rs, 64, 0));
}

bool GenerateP256Key(P256PrivateKey* privateKey)
{
    Algorithm algorithm;
    Key key;
    ULONG size = 0;
    if (!OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, &algorithm) ||
        !Succeeded(BCryptGenerateKeyPair(algorithm.Get(), key.Put(), 256, 0)) ||
        !Succeeded(BCryptFinalizeKeyPair(key.Get(), 0)) ||
        !Succeeded(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, nullptr, 0, &size, 0)) ||
        size != sizeof(BCRYPT_ECCKEY_BLOB) + 96)
        return false;
    std::vector<UCHAR> blob(size);
    bool exported = Succeeded(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(), size, &size, 0));
    BCRYPT_ECCKEY_BLOB header;
    std::memcpy(&header, blob.data(), sizeof header);
    exported = exported && size == blob.size() && header.dwMagic == BCRYPT_ECDSA_PRIVATE_P256_MAGIC &&
               header.cbKey == 32;
    if (exported) {
        std::memcpy(privateKey->publicKey.x, blob.data() + sizeof header, 32);
        std::memcpy(privateKey->publicKey.y, blob.data() + sizeof header + 32, 32);
        std::memcpy(privateKey->d, blob.data() + sizeof header + 64, 32);
    }
    SecureZeroMemory(blob.data(), blob.size());
    return exported;
}

bool SignP256Sha256(const P256PrivateKey& privateKey, const unsigned char* message, size_t size,
                    EcdsaSignature* signature)
{
    unsigned char digest[32];
    Algorithm algorithm;
    Key key;
    if (!Sha256Of(message, size, digest) || !OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, &algorithm) ||
        !ImportKey(algorithm, BCRYPT_ECCPRIVATE_BLOB,
                   KeyBlob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, privateKey.publicKey, privateKey.d), &key))
        return false;
    UCHAR rs[64];
    ULONG written = 0;
    if (!Succeeded(BCryptSignHash(key.Get(), nullptr, digest, 32, rs, sizeof rs, &written, 0)) || written != 64)
        return false;
    std::memcpy(signature->r, rs, 32);
    std::memcpy(signature->s, rs + 32, 32);
    return true;
}
