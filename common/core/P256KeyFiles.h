// ECDSA P-256 key files as OpenSSL writes and reads them: PEM around DER,
// SubjectPublicKeyInfo ("PUBLIC KEY", what `openssl pkey -pubout` writes)
// and PKCS#8 ("PRIVATE KEY"; the older SEC1 "EC PRIVATE KEY" is read too).
// Only the named curve P-256 is taken.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ManifestSignature.h"

struct P256PrivateKey {
    unsigned char d[32];  // big-endian
    P256PublicKey publicKey;
};

// The DER inside the first "-----BEGIN label-----" block of text. The body's
// line breaks and blanks are dropped; the rest must be strict Base64.
bool ParsePem(const std::string& text, const char* label, std::vector<unsigned char>* der);
// 64 characters a line, "\n" line ends.
std::string FormatPem(const char* label, const std::vector<unsigned char>& der);

// The 91 bytes of a P-256 SubjectPublicKeyInfo with an uncompressed point.
bool ParseP256PublicKeyInfo(const unsigned char* der, size_t size, P256PublicKey* key);
std::vector<unsigned char> EncodeP256PublicKeyInfo(const P256PublicKey& key);

// PKCS#8 (version 0, no attributes) or SEC1, either way holding the public
// point as well: signing on Windows needs it and cannot derive it.
bool ParseP256PrivateKey(const unsigned char* der, size_t size, P256PrivateKey* key);
std::vector<unsigned char> EncodeP256PrivateKeyPkcs8(const P256PrivateKey& key);

// Whole key files; on false *why says what is wrong, for a message that
// names the file.
bool ReadP256PublicKeyPem(const std::string& text, P256PublicKey* key, std::string* why);
bool ReadP256PrivateKeyPem(const std::string& text, P256PrivateKey* key, std::string* why);
std::string WriteP256PublicKeyPem(const P256PublicKey& key);
std::string WriteP256PrivateKeyPem(const P256PrivateKey& key);
