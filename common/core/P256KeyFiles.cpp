#include "P256KeyFiles.h"

#include <cstring>

namespace {

// id-ecPublicKey (1.2.840.10045.2.1) and prime256v1 (1.2.840.10045.3.1.7),
// each with its tag and length.
const unsigned char kEcPublicKeyOid[] = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01};
const unsigned char kP256Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

// A DER element: its tag and content.
struct DerElement {
    unsigned char tag = 0;
    const unsigned char* content = nullptr;
    size_t length = 0;
};

// Reads the elements of one constructed content, in order.
class DerReader {
public:
    DerReader(const unsigned char* bytes, size_t size) : at_(bytes), left_(size) {}

    bool Next(DerElement* element)
    {
        if (left_ < 2)
            return false;
        element->tag = at_[0];
        size_t length = at_[1];
        size_t header = 2;
        if (length == 0x81) {
            if (left_ < 3 || at_[2] < 0x80)
                return false;  // the short form would have done
            length = at_[2];
            header = 3;
        } else if (length == 0x82) {
            if (left_ < 4 || at_[2] == 0)
                return false;
            length = size_t(at_[2]) << 8 | at_[3];
            header = 4;
        } else if (length >= 0x80) {
            return false;
        }
        if (length > left_ - header)
            return false;
        element->content = at_ + header;
        element->length = length;
        at_ += header + length;
        left_ -= header + length;
        return true;
    }

    bool AtEnd() const { return left_ == 0; }

private:
    const unsigned char* at_;
    size_t left_;
};

bool Is(const DerElement& element, const unsigned char* expected, size_t size)
{
    return element.length + 2 == size && element.tag == expected[0] && element.length == expected[1] &&
           std::memcmp(element.content, expected + 2, element.length) == 0;
}

bool IsSmallInteger(const DerElement& element, unsigned char value)
{
    return element.tag == 0x02 && element.length == 1 && element.content[0] == value;
}

// The content of a BIT STRING holding an uncompressed P-256 point.
bool ReadPoint(const DerElement& bits, P256PublicKey* key)
{
    if (bits.tag != 0x03 || bits.length != 66 || bits.content[0] != 0 || bits.content[1] != 0x04)
        return false;
    std::memcpy(key->x, bits.content + 2, 32);
    std::memcpy(key->y, bits.content + 34, 32);
    return true;
}

void AppendElement(std::vector<unsigned char>* out, unsigned char tag, const std::vector<unsigned char>& content)
{
    out->push_back(tag);
    if (content.size() >= 0x80) {
        out->push_back(0x81);  // every element here stays below 256 bytes
    }
    out->push_back(static_cast<unsigned char>(content.size()));
    out->insert(out->end(), content.begin(), content.end());
}

std::vector<unsigned char> PointBits(const P256PublicKey& key)
{
    std::vector<unsigned char> bits = {0x00, 0x04};
    bits.insert(bits.end(), key.x, key.x + 32);
    bits.insert(bits.end(), key.y, key.y + 32);
    return bits;
}

std::vector<unsigned char> Bytes(const unsigned char* data, size_t size)
{
    return std::vector<unsigned char>(data, data + size);
}

// SEC1's ECPrivateKey: version 1, the scalar, the curve (optional, P-256
// only), the public point (required).
bool ParseEcPrivateKey(const unsigned char* der, size_t size, P256PrivateKey* key)
{
    DerReader outer(der, size);
    DerElement sequence, version, scalar, field;
    if (!outer.Next(&sequence) || sequence.tag != 0x30 || !outer.AtEnd())
        return false;
    DerReader inner(sequence.content, sequence.length);
    if (!inner.Next(&version) || !IsSmallInteger(version, 1) || !inner.Next(&scalar) || scalar.tag != 0x04 ||
        scalar.length == 0 || scalar.length > 32 || !inner.Next(&field))
        return false;
    if (field.tag == 0xA0) {
        DerReader parameters(field.content, field.length);
        DerElement curve;
        if (!parameters.Next(&curve) || !Is(curve, kP256Oid, sizeof kP256Oid) || !parameters.AtEnd() ||
            !inner.Next(&field))
            return false;
    }
    if (field.tag != 0xA1 || !inner.AtEnd())
        return false;
    DerReader point(field.content, field.length);
    DerElement bits;
    if (!point.Next(&bits) || !point.AtEnd() || !ReadPoint(bits, &key->publicKey))
        return false;
    std::memset(key->d, 0, 32);
    std::memcpy(key->d + 32 - scalar.length, scalar.content, scalar.length);
    return IsP256Scalar(key->d);
}

std::vector<unsigned char> AlgorithmIdentifier()
{
    std::vector<unsigned char> content = Bytes(kEcPublicKeyOid, sizeof kEcPublicKeyOid);
    content.insert(content.end(), kP256Oid, kP256Oid + sizeof kP256Oid);
    std::vector<unsigned char> out;
    AppendElement(&out, 0x30, content);
    return out;
}

bool IsPemSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool ParsePem(const std::string& text, const char* label, std::vector<unsigned char>* der)
{
    der->clear();
    const std::string begin = std::string("-----BEGIN ") + label + "-----";
    const std::string end = std::string("-----END ") + label + "-----";
    size_t start = text.find(begin);
    if (start == std::string::npos)
        return false;
    start += begin.size();
    size_t stop = text.find(end, start);
    if (stop == std::string::npos)
        return false;
    std::string body;
    for (size_t i = start; i < stop; ++i) {
        if (!IsPemSpace(text[i]))
            body += text[i];
    }
    return DecodeBase64(body.data(), body.size(), der);
}

std::string FormatPem(const char* label, const std::vector<unsigned char>& der)
{
    std::string body = EncodeBase64(der.data(), der.size());
    std::string text = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t i = 0; i < body.size(); i += 64)
        text += body.substr(i, 64) + "\n";
    return text + "-----END " + label + "-----\n";
}

bool ParseP256PublicKeyInfo(const unsigned char* der, size_t size, P256PublicKey* key)
{
    DerReader outer(der, size);
    DerElement sequence, algorithm, bits;
    if (!der || !outer.Next(&sequence) || sequence.tag != 0x30 || !outer.AtEnd())
        return false;
    DerReader inner(sequence.content, sequence.length);
    if (!inner.Next(&algorithm) || !inner.Next(&bits) || !inner.AtEnd())
        return false;
    std::vector<unsigned char> expected = AlgorithmIdentifier();
    if (algorithm.tag != 0x30 || algorithm.length + 2 != expected.size() ||
        std::memcmp(algorithm.content, expected.data() + 2, algorithm.length) != 0)
        return false;
    return ReadPoint(bits, key);
}

std::vector<unsigned char> EncodeP256PublicKeyInfo(const P256PublicKey& key)
{
    std::vector<unsigned char> content = AlgorithmIdentifier();
    AppendElement(&content, 0x03, PointBits(key));
    std::vector<unsigned char> out;
    AppendElement(&out, 0x30, content);
    return out;
}

bool ParseP256PrivateKey(const unsigned char* der, size_t size, P256PrivateKey* key)
{
    if (!der)
        return false;
    DerReader outer(der, size);
    DerElement sequence, version, algorithm, wrapped;
    if (!outer.Next(&sequence) || sequence.tag != 0x30 || !outer.AtEnd())
        return false;
    DerReader inner(sequence.content, sequence.length);
    if (!inner.Next(&version))
        return false;
    // SEC1 starts with version 1 and the scalar; PKCS#8 with version 0 and
    // the algorithm.
    if (IsSmallInteger(version, 1))
        return ParseEcPrivateKey(der, size, key);
    std::vector<unsigned char> expected = AlgorithmIdentifier();
    if (!IsSmallInteger(version, 0) || !inner.Next(&algorithm) || algorithm.tag != 0x30 ||
        algorithm.length + 2 != expected.size() ||
        std::memcmp(algorithm.content, expected.data() + 2, algorithm.length) != 0 || !inner.Next(&wrapped) ||
        wrapped.tag != 0x04 || !inner.AtEnd())
        return false;
    return ParseEcPrivateKey(wrapped.content, wrapped.length, key);
}

std::vector<unsigned char> EncodeP256PrivateKeyPkcs8(const P256PrivateKey& key)
{
    std::vector<unsigned char> ecContent = {0x02, 0x01, 0x01};
    AppendElement(&ecContent, 0x04, Bytes(key.d, 32));
    std::vector<unsigned char> point;
    AppendElement(&point, 0x03, PointBits(key.publicKey));
    AppendElement(&ecContent, 0xA1, point);
    std::vector<unsigned char> ecPrivateKey;
    AppendElement(&ecPrivateKey, 0x30, ecContent);

    std::vector<unsigned char> content = {0x02, 0x01, 0x00};
    std::vector<unsigned char> algorithm = AlgorithmIdentifier();
    content.insert(content.end(), algorithm.begin(), algorithm.end());
    AppendElement(&content, 0x04, ecPrivateKey);
    std::vector<unsigned char> out;
    AppendElement(&out, 0x30, content);
    return out;
}

bool ReadP256PublicKeyPem(const std::string& text, P256PublicKey* key, std::string* why)
{
    std::vector<unsigned char> der;
    if (!ParsePem(text, "PUBLIC KEY", &der)) {
        *why = "no PEM \"PUBLIC KEY\" block (openssl pkey -pubout writes one)";
        return false;
    }
    if (!ParseP256PublicKeyInfo(der.data(), der.size(), key)) {
        *why = "not an ECDSA P-256 public key";
        return false;
    }
    return true;
}

bool ReadP256PrivateKeyPem(const std::string& text, P256PrivateKey* key, std::string* why)
{
    std::vector<unsigned char> der;
    if (ParsePem(text, "ENCRYPTED PRIVATE KEY", &der)) {
        *why = "an encrypted private key; give it unencrypted (openssl pkey -in KEY -out PLAIN.pem)";
        return false;
    }
    if (!ParsePem(text, "PRIVATE KEY", &der) && !ParsePem(text, "EC PRIVATE KEY", &der)) {
        *why = "no PEM \"PRIVATE KEY\" block (qalManifest keygen writes one)";
        return false;
    }
    if (!ParseP256PrivateKey(der.data(), der.size(), key)) {
        *why = "not an ECDSA P-256 private key that carries its public key";
        return false;
    }
    return true;
}

std::string WriteP256PublicKeyPem(const P256PublicKey& key)
{
    return FormatPem("PUBLIC KEY", EncodeP256PublicKeyInfo(key));
}

std::string WriteP256PrivateKeyPem(const P256PrivateKey& key)
{
    return FormatPem("PRIVATE KEY", EncodeP256PrivateKeyPkcs8(key));
}
