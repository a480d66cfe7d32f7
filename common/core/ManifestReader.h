// Reading the update manifest "qupdater.xml".
#pragma once

#include <tinyxml2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct ManifestEntry {
    const char* path;            // owned by the document
    const char* expectedDigest;  // "ver"; null when the entry has none
    const char* sha256 = nullptr;  // "sha256"; read only from signed manifests
    const tinyxml2::XMLElement* element = nullptr;  // the entry itself (its patch offers)
};

// Loads the file (8-bit name, handed to the runtime as is). A document that
// cannot be read, or that holds no element at all, is refused.
bool LoadManifest(tinyxml2::XMLDocument& manifest, const char* fileName);
// Loads bytes already read, as LoadManifest loads a file.
bool ParseManifest(tinyxml2::XMLDocument& manifest, const char* bytes, size_t size);

// A size a manifest lists ("size" of a patch or a front-door program):
// plain decimal digits, no sign, blank or leading zero, from 1 to bound.
bool ParseManifestSize(const char* text, uint64_t bound, uint64_t* size);

// "version" of the root element, or null.
const char* ManifestVersion(const tinyxml2::XMLDocument& manifest);

// "sequence" of the root element, or null.
const char* ManifestSequence(const tinyxml2::XMLDocument& manifest);

// The root's first "file" child and every element sibling after it, whatever
// its name, in document order. Entries without a "path" name no file and are
// left out.
std::vector<ManifestEntry> ManifestEntries(const tinyxml2::XMLDocument& manifest);
