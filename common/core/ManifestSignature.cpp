#include "ManifestSignature.h"

#include <cstring>

#include "DigestText.h"
#include "ManifestReader.h"

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kBlockOpening[] = "<!--signature:";
const char kBlockClosing[] = "-->";

// The order n of the P-256 group: r and s lie in [1, n - 1].
const unsigned char kCurveOrder[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool IsBase64Character(char c)
{
    return Base64Value(c) >= 0 || c == '=';
}

// One DER INTEGER at der[*at], into 32 big-endian bytes, left-padded.
bool ParseScalar(const unsigned char* der, size_t size, size_t* at, unsigned char out[32])
{
    if (size - *at < 2 || der[*at] != 0x02)
        return false;
    size_t length = der[*at + 1];
    const unsigned char* value = der + *at + 2;
    if (length == 0 || length > 33 || length > size - *at - 2)
        return false;
    if (value[0] & 0x80)
        return false;  // negative
    if (length > 1 && value[0] == 0 && !(value[1] & 0x80))
        return false;  // a leading zero that is not needed
    if (value[0] == 0 && length > 1) {
        ++value;
        --length;
    }
    if (length > 32)
        return false;
    std::memset(out, 0, 32);
    std::memcpy(out + 32 - length, value, length);
    *at += 2 + der[*at + 1];
    return IsP256Scalar(out);
}

void AppendScalar(std::vector<unsigned char>* der, const unsigned char value[32])
{
    size_t first = 0;
    while (first < 31 && value[first] == 0)
        ++first;
    bool pad = (value[first] & 0x80) != 0;
    der->push_back(0x02);
    der->push_back(static_cast<unsigned char>(32 - first + (pad ? 1 : 0)));
    if (pad)
        der->push_back(0);
    der->insert(der->end(), value + first, value + 32);
}

bool EndsWith(const char* bytes, size_t size, const char* tail)
{
    size_t length = std::strlen(tail);
    return size >= length && std::memcmp(bytes + size - length, tail, length) == 0;
}

}  // namespace

bool IsP256Scalar(const unsigned char value[32])
{
    bool zero = true;
    for (int i = 0; i < 32; ++i)
        zero = zero && value[i] == 0;
    return !zero && std::memcmp(value, kCurveOrder, 32) < 0;
}

std::string EncodeBase64(const unsigned char* data, size_t size)
{
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        unsigned value = unsigned(data[i]) << 16;
        if (i + 1 < size)
            value |= unsigned(data[i + 1]) << 8;
        if (i + 2 < size)
            value |= data[i + 2];
        text += kBase64Alphabet[(value >> 18) & 63];
        text += kBase64Alphabet[(value >> 12) & 63];
        text += i + 1 < size ? kBase64Alphabet[(value >> 6) & 63] : '=';
        text += i + 2 < size ? kBase64Alphabet[value & 63] : '=';
    }
    return text;
}

bool DecodeBase64(const char* text, size_t length, std::vector<unsigned char>* out)
{
    out->clear();
    if (!text || length == 0 || length % 4 != 0)
        return false;
    size_t padding = 0;
    if (text[length - 1] == '=')
        padding = text[length - 2] == '=' ? 2 : 1;
    out->reserve(length / 4 * 3);
    for (size_t i = 0; i < length; i += 4) {
        bool last = i + 4 == length;
        unsigned value = 0;
        for (size_t j = 0; j < 4; ++j) {
            bool padded = last && j >= 4 - padding;
            int digit = padded ? 0 : Base64Value(text[i + j]);
            if (digit < 0) {
                out->clear();
                return false;
            }
            value = (value << 6) | unsigned(digit);
        }
        out->push_back(static_cast<unsigned char>(value >> 16));
        if (!(last && padding == 2))
            out->push_back(static_cast<unsigned char>(value >> 8));
        if (!(last && padding >= 1))
            out->push_back(static_cast<unsigned char>(value));
        // Bits the padding leaves unused must be zero, or two texts would
        // stand for one signature.
        if (last && ((padding == 1 && (value & 0xFF)) || (padding == 2 && (value & 0xFFFF)))) {
            out->clear();
            return false;
        }
    }
    return true;
}

bool ParseEcdsaSignatureDer(const unsigned char* der, size_t size, EcdsaSignature* out)
{
    // Two scalars of at most 33 bytes each: the length always fits the
    // short form, and a long form would not be DER.
    if (!der || size < 2 || der[0] != 0x30 || der[1] >= 0x80 || size_t(der[1]) + 2 != size)
        return false;
    size_t at = 2;
    EcdsaSignature parsed;
    if (!ParseScalar(der, size, &at, parsed.r) || !ParseScalar(der, size, &at, parsed.s) || at != size)
        return false;
    *out = parsed;
    return true;
}

std::vector<unsigned char> EncodeEcdsaSignatureDer(const EcdsaSignature& signature)
{
    // The sequence's length byte is filled in once both scalars are in.
    std::vector<unsigned char> der(2);
    der[0] = 0x30;
    AppendScalar(&der, signature.r);
    AppendScalar(&der, signature.s);
    der[1] = static_cast<unsigned char>(der.size() - 2);
    return der;
}

SignatureBlock SplitSignedManifest(const char* bytes, size_t size, size_t* signedLength, EcdsaSignature* signature)
{
    if (!bytes)
        return SignatureBlock::Missing;
    size_t end = size;
    if (EndsWith(bytes, end, "\r\n"))
        end -= 2;
    else if (EndsWith(bytes, end, "\n"))
        end -= 1;
    if (!EndsWith(bytes, end, kBlockClosing))
        return SignatureBlock::Missing;
    size_t payloadEnd = end - std::strlen(kBlockClosing);
    // The file's last comment: Base64 holds no "<", so a signature that
    // is the last thing starts at the last "<!--".
    size_t opening = payloadEnd;
    for (;;) {
        if (opening < 4)
            return SignatureBlock::Missing;
        --opening;
        if (std::memcmp(bytes + opening - 3, "<!--", 4) == 0) {
            opening -= 3;
            break;
        }
    }
    size_t payload = opening + std::strlen(kBlockOpening);
    if (payload > payloadEnd || std::memcmp(bytes + opening, kBlockOpening, std::strlen(kBlockOpening)) != 0)
        return SignatureBlock::Missing;
    *signedLength = opening;
    for (size_t i = payload; i < payloadEnd; ++i) {
        if (!IsBase64Character(bytes[i]))
            return SignatureBlock::Malformed;
    }
    std::vector<unsigned char> der;
    if (!DecodeBase64(bytes + payload, payloadEnd - payload, &der) ||
        !ParseEcdsaSignatureDer(der.data(), der.size(), signature))
        return SignatureBlock::Malformed;
    return SignatureBlock::Present;
}

std::string FormatSignatureBlock(const EcdsaSignature& signature)
{
    std::vector<unsigned char> der = EncodeEcdsaSignatureDer(signature);
    return kBlockOpening + EncodeBase64(der.data(), der.size()) + kBlockClosing + "\n";
}

bool ParseManifestSequence(const char* text, uint64_t* out)
{
    if (!text || !*text)
        return false;
    uint64_t value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        unsigned digit = unsigned(*c - '0');
        if (value > (kHighestManifestSequence - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (value == 0)
        return false;
    *out = value;
    return true;
}

bool IsWellFormedSha256(const char* text)
{
    if (!text)
        return false;
    for (int i = 0; i < 64; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return text[64] == '\0';
}

std::string Sha256Text(const unsigned char digest[32])
{
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

SignedManifestFault CheckSignedManifest(const tinyxml2::XMLDocument& manifest, uint64_t lowestSequence,
                                        uint64_t* sequence)
{
    if (!ParseManifestSequence(ManifestSequence(manifest), sequence))
        return SignedManifestFault::NoSequence;
    if (*sequence < lowestSequence)
        return SignedManifestFault::OlderSequence;
    for (const ManifestEntry& entry : ManifestEntries(manifest)) {
        if (!IsWellFormedDigest(entry.expectedDigest) || !IsWellFormedSha256(entry.sha256))
            return SignedManifestFault::EntryWithoutDigest;
    }
    return SignedManifestFault::None;
}
