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

// What the gate made of a manifest.
enum class ManifestVerdict {
    Admitted,  // it may be planned from
    // Genuine and well formed, but older than the one the last good run
    // kept: a cache that still holds an earlier publish. Not planned from.
    Older,
    Refused    // it does not load, or breaks a rule of this build
};

// About eight times a manifest of 100,000 entries: enough for any game, and
// a bound on what a server can make the updater hold.
constexpr unsigned long long kManifestSizeLimit = 64ull * 1024 * 1024;

class ManifestGate {
public:
    // Reads the keys built into this program.
    ManifestGate();

    bool RequiresSignature() const { return requiresSignature; }

    // Takes the sequence of the manifest kept at path as the lowest still
    // acceptable, when that manifest too carries a good signature.
    void RememberKeptManifest(const wchar_t* path);

    // Reads the manifest in file (from its start) into document, the signed
    // bytes only when signatures are required. A file over
    // kManifestSizeLimit is refused before it is read.
    ManifestVerdict Admit(HANDLE file, tinyxml2::XMLDocument* document) const;
    // The same for the manifest kept at path.
    ManifestVerdict Admit(const wchar_t* path, tinyxml2::XMLDocument* document) const;

private:
    bool SignedByBuiltInKey(const char* bytes, size_t size, const EcdsaSignature& signature) const;
    ManifestVerdict Read(HANDLE file, tinyxml2::XMLDocument* document, uint64_t lowest, uint64_t* sequence) const;

    bool requiresSignature = false;
    std::vector<P256PublicKey> keys;
    uint64_t lowestSequence = 0;
};
