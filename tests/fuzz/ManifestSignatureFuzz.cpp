// Arbitrary bytes through every parser of the signed manifest and its key
// files. Each must stay inside its input, and whatever one accepts must be
// the one text its own writer gives back: a second spelling of a signature
// or a key would let a changed file pass as the signed one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ManifestSignature.h"
#include "P256KeyFiles.h"

namespace {

const char kBlockOpening[] = "<!--signature:";

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool SameBytes(const std::vector<unsigned char>& bytes, const uint8_t* data, size_t size)
{
    return bytes.size() == size && (size == 0 || std::memcmp(bytes.data(), data, size) == 0);
}

bool SamePublicKey(const P256PublicKey& a, const P256PublicKey& b)
{
    return std::memcmp(a.x, b.x, 32) == 0 && std::memcmp(a.y, b.y, 32) == 0;
}

bool IsZero(const unsigned char value[32])
{
    for (int i = 0; i < 32; ++i) {
        if (value[i])
            return false;
    }
    return true;
}

void CheckSignatureBlock(const char* bytes, size_t size)
{
    // Missing leaves *signedLength alone; a value no answer could give shows
    // whether the other answers set it.
    size_t signedLength = size + 1;
    EcdsaSignature signature;
    SignatureBlock block = SplitSignedManifest(bytes, size, &signedLength, &signature);
    if (block == SignatureBlock::Missing)
        return;
    const size_t openingLength = std::strlen(kBlockOpening);
    Require(signedLength <= size && size - signedLength >= openingLength);
    Require(std::memcmp(bytes + signedLength, kBlockOpening, openingLength) == 0);
    if (block != SignatureBlock::Present)
        return;
    std::string tail(bytes + signedLength, size - signedLength);
    if (tail.size() >= 2 && tail.compare(tail.size() - 2, 2, "\r\n") == 0)
        tail.resize(tail.size() - 2);
    else if (!tail.empty() && tail.back() == '\n')
        tail.pop_back();
    std::string formed = FormatSignatureBlock(signature);
    Require(!formed.empty() && formed.back() == '\n');
    formed.pop_back();
    Require(tail == formed);
}

void CheckBase64(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> decoded;
    if (DecodeBase64(reinterpret_cast<const char*>(data), size, &decoded)) {
        std::string encoded = EncodeBase64(decoded.data(), decoded.size());
        Require(encoded.size() == size && std::memcmp(encoded.data(), data, size) == 0);
    }
    // Empty text is refused by design, so only non-empty bytes come back.
    if (size == 0)
        return;
    std::string encoded = EncodeBase64(data, size);
    Require(DecodeBase64(encoded.data(), encoded.size(), &decoded));
    Require(SameBytes(decoded, data, size));
}

void CheckSignatureDer(const uint8_t* data, size_t size)
{
    EcdsaSignature signature;
    if (!ParseEcdsaSignatureDer(data, size, &signature))
        return;
    Require(SameBytes(EncodeEcdsaSignatureDer(signature), data, size));
    Require(!IsZero(signature.r) && !IsZero(signature.s));
}

void CheckPublicKey(const uint8_t* data, size_t size)
{
    P256PublicKey key;
    if (!ParseP256PublicKeyInfo(data, size, &key))
        return;
    std::vector<unsigned char> encoded = EncodeP256PublicKeyInfo(key);
    Require(SameBytes(encoded, data, size));
    P256PublicKey again;
    Require(ParseP256PublicKeyInfo(encoded.data(), encoded.size(), &again));
    Require(SamePublicKey(key, again));
}

void CheckPrivateKey(const uint8_t* data, size_t size)
{
    P256PrivateKey key;
    if (!ParseP256PrivateKey(data, size, &key))
        return;
    // SEC1 and PKCS#8 are both read but only PKCS#8 is written, so the
    // bytes may differ; the key they carry may not.
    std::vector<unsigned char> encoded = EncodeP256PrivateKeyPkcs8(key);
    P256PrivateKey again;
    Require(ParseP256PrivateKey(encoded.data(), encoded.size(), &again));
    Require(std::memcmp(key.d, again.d, 32) == 0 && SamePublicKey(key.publicKey, again.publicKey));
}

void CheckPem(const std::string& text, const char* label)
{
    std::vector<unsigned char> der;
    if (!ParsePem(text, label, &der))
        return;
    std::vector<unsigned char> again;
    Require(ParsePem(FormatPem(label, der), label, &again));
    Require(again == der);
    // What a key file holds goes on to the key parsers, as when it is read.
    CheckPublicKey(der.data(), der.size());
    CheckPrivateKey(der.data(), der.size());
}

void CheckSequence(const char* text)
{
    uint64_t sequence = 0;
    if (!ParseManifestSequence(text, &sequence))
        return;
    Require(sequence >= 1 && sequence <= kHighestManifestSequence);
    Require(*text != '\0');
    for (const char* c = text; *c; ++c)
        Require(*c >= '0' && *c <= '9');
}

void CheckSha256(const char* text)
{
    if (!IsWellFormedSha256(text))
        return;
    size_t length = 0;
    for (; text[length]; ++length)
        Require((text[length] >= '0' && text[length] <= '9') || (text[length] >= 'a' && text[length] <= 'f'));
    Require(length == 64);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Every parser on the same bytes: each is linear in its input, and a
    // seed meant for one is a near miss for the others.
    const char* text = reinterpret_cast<const char*>(data);
    CheckSignatureBlock(text, size);
    CheckBase64(data, size);
    CheckSignatureDer(data, size);
    CheckPublicKey(data, size);
    CheckPrivateKey(data, size);

    std::string asText(text, size);
    CheckPem(asText, "PUBLIC KEY");
    CheckPem(asText, "PRIVATE KEY");

    // The text parsers stop at the first NUL, as they do on an attribute.
    CheckSequence(asText.c_str());
    CheckSha256(asText.c_str());
    return 0;
}
