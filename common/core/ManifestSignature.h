// The signed form of qupdater.xml: the manifest's bytes, then, as the very
// last thing in the file, one comment "<!--signature:BASE64-->" (optionally
// followed by one line end) holding the DER ECDSA P-256 signature with
// SHA-256 over every byte before the comment's "<!--". Only parsing lives
// here; the cryptography is the platform's (SignatureCrypto.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <tinyxml2.h>

// Big-endian, 32 bytes each: the forms CNG and the curve's arithmetic take.
struct P256PublicKey {
    unsigned char x[32];
    unsigned char y[32];
};

struct EcdsaSignature {
    unsigned char r[32];
    unsigned char s[32];
};

// Standard Base64 with padding, no line breaks.
std::string EncodeBase64(const unsigned char* data, size_t size);
// Strict: the standard alphabet only, a length that is a multiple of four,
// padding only at the end, unused bits zero (so every text decodes from
// exactly one byte string). False for anything else, and for empty text.
bool DecodeBase64(const char* text, size_t length, std::vector<unsigned char>* out);

// The DER ECDSA-Sig-Value SEQUENCE { INTEGER r, INTEGER s } that
// `openssl dgst -sign` writes. Strict DER: short lengths, minimal positive
// integers, each from 1 to the curve order minus one, no byte after the
// sequence.
bool ParseEcdsaSignatureDer(const unsigned char* der, size_t size, EcdsaSignature* out);
std::vector<unsigned char> EncodeEcdsaSignatureDer(const EcdsaSignature& signature);

// Whether a big-endian 32-byte value lies in [1, n - 1], n the order of the
// P-256 group: what a signature's r and s and a private key must be.
bool IsP256Scalar(const unsigned char value[32]);

enum class SignatureBlock {
    Missing,    // the file does not end in a signature comment
    Malformed,  // it does, but its Base64 or DER breaks the rules
    Present     // *signedLength and *signature are set
};

// Finds the signature comment at the very end of the file's bytes.
// *signedLength is where the comment's "<!--" starts: the signed bytes are
// the ones before it. It is set for Malformed as well.
SignatureBlock SplitSignedManifest(const char* bytes, size_t size, size_t* signedLength, EcdsaSignature* signature);

// The comment that ends a signed manifest, with its line end.
std::string FormatSignatureBlock(const EcdsaSignature& signature);

// The root's "sequence": decimal digits only, from 1 to 9223372036854775807.
constexpr uint64_t kHighestManifestSequence = 9223372036854775807ull;
bool ParseManifestSequence(const char* text, uint64_t* out);

// A "sha256" value as sha256sum prints it: 64 lowercase hexadecimal digits.
bool IsWellFormedSha256(const char* text);
// The digest's bytes as that text.
std::string Sha256Text(const unsigned char digest[32]);

enum class SignedManifestFault {
    None,
    NoSequence,         // the root has no well-formed "sequence"
    OlderSequence,      // lower than the last accepted manifest's
    EntryWithoutDigest  // an entry lacks a well-formed "ver" or "sha256"
};

// What a signed manifest must carry beyond its signature, given the lowest
// sequence still acceptable (0: any); *sequence gets the manifest's own.
SignedManifestFault CheckSignedManifest(const tinyxml2::XMLDocument& manifest, uint64_t lowestSequence,
                                        uint64_t* sequence);
