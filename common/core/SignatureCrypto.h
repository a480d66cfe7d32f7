// The cryptography signed manifests need, never our own: each platform
// provides it, the system's CNG on Windows (common/CngCrypto.cpp) and
// OpenSSL's libcrypto natively (tools/qalManifest/OpenSslCrypto.cpp).
#pragma once

#include <cstddef>
#include <memory>

#include "ManifestSignature.h"
#include "P256KeyFiles.h"

// SHA-256 fed in pieces.
class Sha256Stream {
public:
    virtual ~Sha256Stream() = default;
    virtual void Add(const unsigned char* data, size_t size) = 0;
    // False when the platform failed at any point; the stream is then done.
    virtual bool Finish(unsigned char digest[32]) = 0;
};

// Null when the platform offers no SHA-256.
std::unique_ptr<Sha256Stream> NewSha256Stream();

// Whether signature is key's ECDSA signature with SHA-256 over the bytes.
bool VerifyP256Sha256(const P256PublicKey& key, const unsigned char* message, size_t size,
                      const EcdsaSignature& signature);

// A fresh key pair from the platform's random source.
bool GenerateP256Key(P256PrivateKey* key);

// key's ECDSA signature with SHA-256 over the bytes.
bool SignP256Sha256(const P256PrivateKey& key, const unsigned char* message, size_t size,
                    EcdsaSignature* signature);
