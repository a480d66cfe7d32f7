// The signed manifest's parsing: only one text may stand for one signature
// or key, and anything else is refused before any cryptography sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ManifestSignature.h"
#include "P256KeyFiles.h"
#include "key_vectors.h"

namespace {

// A signature over "abc" from `openssl dgst -sha256 -sign` with a key since
// thrown away (s carries a leading zero). The key files are made afresh at
// build time (key_vectors.h).
const char kSignature[] =
    "MEUCIGZK3/dJ3idRxPxM5+ahBRhxjnkW6Kih/dfLFd5eLfhFAiEA3AzphZlcyLYWc8gEP16HkoKPab8DMJvouihfVfh/CRo=";

std::vector<unsigned char> Decoded(const char* text)
{
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(DecodeBase64(text, std::strlen(text), &bytes)) << text;
    return bytes;
}

std::vector<unsigned char> SignatureDer()
{
    return Decoded(kSignature);
}

bool ParsesAsSignature(const std::vector<unsigned char>& der)
{
    EcdsaSignature signature;
    return ParseEcdsaSignatureDer(der.data(), der.size(), &signature);
}

std::string WithBlock(const std::string& body, const std::string& tail)
{
    return body + "<!--signature:" + kSignature + "-->" + tail;
}

}  // namespace

TEST(SignatureText, Base64IsStrict)
{
    struct Row {
        const char* text;
        bool accepted;
    };
    for (const Row& row : std::vector<Row>{{"TWFu", true}, {"TWE=", true}, {"TQ==", true}, {"TWF=", false},
                                           {"TR==", false}, {"TQ=", false}, {"TQ", false}, {"", false},
                                           {"T===", false}, {"TQ==TQ==", false}, {"TW\nFu", false},
                                           {"TWF-", false}, {"TW_u", false}, {"=QQQ", false}}) {
        std::vector<unsigned char> bytes;
        EXPECT_EQ(DecodeBase64(row.text, std::strlen(row.text), &bytes), row.accepted) << row.text;
        if (row.accepted) {
            EXPECT_EQ(EncodeBase64(bytes.data(), bytes.size()), row.text);
        }
    }
}

TEST(SignatureText, DerSignaturesAreMinimalAndInRange)
{
    std::vector<unsigned char> good = SignatureDer();
    EcdsaSignature signature;
    ASSERT_TRUE(ParseEcdsaSignatureDer(good.data(), good.size(), &signature));
    EXPECT_EQ(signature.s[0], 0xDC);  // the leading zero of its DER is not a digit
    EXPECT_EQ(EncodeEcdsaSignatureDer(signature), good);

    auto changed = [&](auto change) {
        std::vector<unsigned char> der = good;
        change(der);
        return ParsesAsSignature(der);
    };
    EXPECT_FALSE(changed([](auto& d) { d.push_back(0); }));                          // a byte after it
    EXPECT_FALSE(changed([](auto& d) { d.pop_back(); }));                            // cut short
    EXPECT_FALSE(changed([](auto& d) { d[0] = 0x31; }));                             // not a sequence
    EXPECT_FALSE(changed([](auto& d) { d.insert(d.begin() + 1, 0x81); }));           // long form length
    EXPECT_FALSE(changed([](auto& d) { d[3] += 1; d.insert(d.begin() + 4, 0); d[1] += 1; }));  // padded r
    EXPECT_FALSE(changed([](auto& d) { d[4] |= 0x80; }));                            // negative r
    EXPECT_FALSE(changed([](auto& d) { d.erase(d.begin() + 38); d[37] -= 1; d[1] -= 1; }));  // s negative
    EXPECT_FALSE(changed([](auto& d) { d[2] = 0x04; }));                             // r no integer
    EXPECT_FALSE(ParsesAsSignature({0x30, 0x06, 0x02, 0x01, 0x00, 0x02, 0x01, 0x01}));  // r = 0
    EXPECT_TRUE(ParsesAsSignature({0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}));

    // r = n is refused, n - 1 is the largest taken.
    std::vector<unsigned char> order = {0x02, 0x21, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,
                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBC, 0xE6, 0xFA, 0xAD,
                                        0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};
    auto withR = [](std::vector<unsigned char> der) {
        der.insert(der.end(), {0x02, 0x01, 0x01});
        der.insert(der.begin(), {0x30, static_cast<unsigned char>(der.size())});
        return der;
    };
    EXPECT_FALSE(ParsesAsSignature(withR(order)));
    order.back() = 0x50;
    EXPECT_TRUE(ParsesAsSignature(withR(order)));
}

TEST(SignatureText, TheBlockIsTheVeryLastThing)
{
    const std::string body = "<?xml version='1.0'?>\n<update sequence='5'/>\n";
    struct Row {
        std::string file;
        SignatureBlock expected;
    };
    const std::vector<Row> rows = {
        {WithBlock(body, "\n"), SignatureBlock::Present},
        {WithBlock(body, "\r\n"), SignatureBlock::Present},
        {WithBlock(body, ""), SignatureBlock::Present},
        {WithBlock(body, "\n\n"), SignatureBlock::Missing},
        {WithBlock(body, " "), SignatureBlock::Missing},
        {WithBlock(body, "\n<!--later-->"), SignatureBlock::Missing},
        {WithBlock(body, "<x/>"), SignatureBlock::Missing},
        {body, SignatureBlock::Missing},
        {"", SignatureBlock::Missing},
        {"-->", SignatureBlock::Missing},
        {body + "<!--signature:-->\n", SignatureBlock::Malformed},
        {body + "<!--signature: " + kSignature + "-->\n", SignatureBlock::Malformed},
        {body + "<!--signature:" + std::string(kSignature).substr(4) + "-->\n", SignatureBlock::Malformed},
        {body + "<!--signature:TWFu-->\n", SignatureBlock::Malformed},
        {body + "<!--Signature:" + kSignature + "-->\n", SignatureBlock::Missing},
    };
    for (const Row& row : rows) {
        size_t signedLength = 12345;
        EcdsaSignature signature;
        EXPECT_EQ(SplitSignedManifest(row.file.data(), row.file.size(), &signedLength, &signature), row.expected)
            << row.file;
        if (row.expected != SignatureBlock::Missing) {
            EXPECT_EQ(signedLength, body.size()) << row.file;
        }
    }
    EcdsaSignature signature;
    size_t signedLength;
    std::string file = WithBlock(body, "\n");
    ASSERT_EQ(SplitSignedManifest(file.data(), file.size(), &signedLength, &signature), SignatureBlock::Present);
    EXPECT_EQ(body + FormatSignatureBlock(signature), file);
}

TEST(SignatureText, SequencesAndSha256Texts)
{
    uint64_t value = 0;
    for (const char* text : {"1", "42", "0042", "9223372036854775807"}) {
        EXPECT_TRUE(ParseManifestSequence(text, &value)) << text;
    }
    EXPECT_EQ(value, 9223372036854775807ull);
    for (const char* text : {"", "0", "000", "-1", "+1", " 1", "1 ", "1.0", "0x10", "1e3", "9223372036854775808",
                             "18446744073709551617", "99999999999999999999999"}) {
        EXPECT_FALSE(ParseManifestSequence(text, &value)) << text;
    }
    EXPECT_FALSE(ParseManifestSequence(nullptr, &value));

    const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_TRUE(IsWellFormedSha256(sha.c_str()));
    for (const std::string& text : {sha.substr(1), sha + "0", std::string("BA") + sha.substr(2),
                                    std::string("g") + sha.substr(1), std::string()}) {
        EXPECT_FALSE(IsWellFormedSha256(text.c_str())) << text;
    }
    EXPECT_FALSE(IsWellFormedSha256(nullptr));
}

TEST(SignatureText, ASignedManifestNamesItsSequenceAndBothDigests)
{
    const char md5[] = "0123456789ABCDEF0123456789ABCDEF";
    const std::string sha(64, 'a');
    auto check = [&](const std::string& root, const std::string& entries, uint64_t lowest) {
        tinyxml2::XMLDocument document;
        EXPECT_EQ(document.Parse(("<update" + root + ">" + entries + "</update>").c_str()), tinyxml2::XML_SUCCESS);
        uint64_t sequence = 0;
        return CheckSignedManifest(document, lowest, &sequence);
    };
    const std::string good = "<file path='a' ver='" + std::string(md5) + "' sha256='" + sha + "'/>";
    EXPECT_EQ(check(" sequence='7'", good + good, 7), SignedManifestFault::None);
    EXPECT_EQ(check(" sequence='7'", "", 0), SignedManifestFault::None);
    EXPECT_EQ(check(" sequence='7'", good, 8), SignedManifestFault::OlderSequence);
    EXPECT_EQ(check("", good, 0), SignedManifestFault::NoSequence);
    EXPECT_EQ(check(" sequence='seven'", good, 0), SignedManifestFault::NoSequence);
    EXPECT_EQ(check(" sequence='7'", good + "<file path='b' ver='" + md5 + "'/>", 0),
              SignedManifestFault::EntryWithoutDigest);
    EXPECT_EQ(check(" sequence='7'", good + "<other path='b' sha256='" + sha + "' ver='" + md5 + "0'/>", 0),
              SignedManifestFault::EntryWithoutDigest);
    EXPECT_EQ(check(" sequence='7'", "<file path='b' ver='" + std::string(md5) + "' sha256='" +
                                         std::string(64, 'A') + "'/>", 0),
              SignedManifestFault::EntryWithoutDigest);
}

TEST(KeyFiles, OpenSslsKeysReadAndWriteBackByteForByte)
{
    P256PrivateKey fromPkcs8, fromSec1;
    std::string why;
    ASSERT_TRUE(ReadP256PrivateKeyPem(kPkcs8, &fromPkcs8, &why)) << why;
    ASSERT_TRUE(ReadP256PrivateKeyPem(kSec1, &fromSec1, &why)) << why;
    EXPECT_EQ(std::memcmp(&fromPkcs8, &fromSec1, sizeof fromPkcs8), 0);
    EXPECT_EQ(WriteP256PrivateKeyPem(fromPkcs8), kPkcs8);

    P256PublicKey publicKey;
    ASSERT_TRUE(ReadP256PublicKeyPem(kPublic, &publicKey, &why)) << why;
    EXPECT_EQ(std::memcmp(&publicKey, &fromPkcs8.publicKey, sizeof publicKey), 0);
    EXPECT_EQ(WriteP256PublicKeyPem(publicKey), kPublic);

    EXPECT_FALSE(ReadP256PublicKeyPem(kP384Public, &publicKey, &why));
    EXPECT_EQ(why, "not an ECDSA P-256 public key");
    EXPECT_FALSE(ReadP256PublicKeyPem(kPkcs8, &publicKey, &why));
    EXPECT_FALSE(ReadP256PrivateKeyPem(kPublic, &fromPkcs8, &why));
    EXPECT_FALSE(ReadP256PrivateKeyPem(kWithoutPublicPoint, &fromPkcs8, &why));
    EXPECT_EQ(why, "not an ECDSA P-256 private key that carries its public key");
    EXPECT_FALSE(ReadP256PrivateKeyPem(kEncryptedPkcs8, &fromPkcs8, &why));
    EXPECT_NE(why.find("encrypted"), std::string::npos);

    // One byte more or less anywhere in the DER is no key.
    std::vector<unsigned char> der;
    ASSERT_TRUE(ParsePem(kPublic, "PUBLIC KEY", &der));
    der.push_back(0);
    EXPECT_FALSE(ParseP256PublicKeyInfo(der.data(), der.size(), &publicKey));
    der.pop_back();
    der[der.size() - 65] = 0x02;  // a compressed point
    EXPECT_FALSE(ParseP256PublicKeyInfo(der.data(), der.size(), &publicKey));
}
