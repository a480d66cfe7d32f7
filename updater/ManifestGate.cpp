#include "ManifestGate.h"

#include <cstring>
#include <string>

#include "AnsiText.h"
#include "BuildSettings.h"
#include "ManifestReader.h"
#include "P256KeyFiles.h"
#include "SignatureCrypto.h"

ManifestGate::ManifestGate()
{
    for (const char* const* key = kBuiltInManifestKeys; *key; ++key) {
        // Any key at all makes signatures a must, even one that fails to
        // read here: the build checked them, and no key must never mean
        // that anything goes.
        requiresSignature = true;
        std::vector<unsigned char> der;
        P256PublicKey parsed;
        if (DecodeBase64(*key, std::strlen(*key), &der) && ParseP256PublicKeyInfo(der.data(), der.size(), &parsed))
            keys.push_back(parsed);
    }
}

bool ManifestGate::SignedByBuiltInKey(const char* bytes, size_t size, const EcdsaSignature& signature) const
{
    for (const P256PublicKey& key : keys) {
        if (VerifyP256Sha256(key, reinterpret_cast<const unsigned char*>(bytes), size, signature))
            return true;
    }
    return false;
}

bool ManifestGate::Read(const wchar_t* path, tinyxml2::XMLDocument* document, uint64_t lowest,
                        uint64_t* sequence) const
{
    // Read and proven once, then parsed from the very bytes that were
    // proven: nothing read later from the disk can take their place.
    std::vector<char> narrowPath;
    std::string bytes;
    if (!WideToAnsi(path, &narrowPath) || !ReadManifestFile(narrowPath.data(), &bytes))
        return false;
    if (!requiresSignature)
        return ParseManifest(*document, bytes.data(), bytes.size());
    size_t signedLength = 0;
    EcdsaSignature signature;
    if (SplitSignedManifest(bytes.data(), bytes.size(), &signedLength, &signature) != SignatureBlock::Present ||
        !SignedByBuiltInKey(bytes.data(), signedLength, signature) ||
        !ParseManifest(*document, bytes.data(), signedLength))
        return false;
    return CheckSignedManifest(*document, lowest, sequence) == SignedManifestFault::None;
}

void ManifestGate::RememberKeptManifest(const wchar_t* path)
{
    if (!requiresSignature)
        return;
    tinyxml2::XMLDocument kept;
    uint64_t sequence = 0;
    if (Read(path, &kept, 0, &sequence))
        lowestSequence = sequence;
}

bool ManifestGate::Admit(const wchar_t* path, tinyxml2::XMLDocument* document) const
{
    uint64_t sequence = 0;
    return Read(path, document, lowestSequence, &sequence);
}
