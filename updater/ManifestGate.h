// Whether a manifest may be planned from. An updater built without manifest
// keys takes any manifest that loads, as it always did. One built with keys
// takes only a manifest whose signature one of them verifies, whose
// sequence is not below that of the manifest the last good run kept, and
// whose every entry names both digests of its file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include <tinyxml2.h>

#include "ManifestSignature.h"

class ManifestGate {
public:
    // Reads the keys built into this program.
    ManifestGate();

    bool RequiresSignature() const { return requiresSignature; }

    // Takes the sequence of the manifest kept at path as the lowest still
    // acceptable, when that manifest too carries a good signature.
    void RememberKeptManifest(const wchar_t* path);

    // Reads the manifest at path into document (the signed bytes only, when
    // signatures are required): true when it may be planned from.
    bool Admit(const wchar_t* path, tinyxml2::XMLDocument* document) const;

private:
    bool SignedByBuiltInKey(const char* bytes, size_t size, const EcdsaSignature& signature) const;
    bool Read(const wchar_t* path, tinyxml2::XMLDocument* document, uint64_t lowest, uint64_t* sequence) const;

    bool requiresSignature = false;
    std::vector<P256PublicKey> keys;
    uint64_t lowestSequence = 0;
};
