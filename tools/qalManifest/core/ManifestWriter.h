// The manifest text exactly as the updater reads it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CodePage.h"

// A binary patch offered for a line: from the older file of this digest.
struct PatchLine {
    std::string from;    // the older file's digest, 32 uppercase hexadecimal digits
    std::string sha256;  // the patch's, 64 lowercase ones
    uint64_t size = 0;   // the patch's bytes
};

struct ManifestLine {
    std::string path;  // UTF-8, "\" between directories
    std::string digest;  // 32 uppercase hexadecimal digits
    std::string sha256 = {};  // 64 lowercase ones; written only into a signed manifest
    std::vector<PatchLine> patches = {};  // children of the entry, in this order
};

// A front-door program offered to players (see FrontDoorOffers.h).
struct FrontDoorLine {
    std::string arch;     // "i686" or "x86_64"
    std::string name;     // "qalLogin.exe" or "qalUpdate.exe"
    std::string digest;   // its MD5, 32 uppercase hexadecimal digits
    std::string sha256;   // 64 lowercase ones
    uint64_t size = 0;
    std::string version;  // the front door's version, or empty
};

// What a manifest may carry beyond its entries.
struct ManifestAdditions {
    std::string objects;  // the root's "objects", or empty for none
    std::vector<FrontDoorLine> frontDoor;  // before the first entry, in this order
};

// Text for an attribute value between double quotes: markup characters as
// entities, control characters as numeric references (a raw tab or line
// break would be read back as something else).
std::string EscapeAttribute(const std::string& text);

// The whole manifest in the code page, lines in the given order. False, with
// the text that failed in *failed, when the version or a path cannot be
// carried by the code page exactly. With a sequence, the bytes a signature
// will cover: the root carries the sequence and every entry its sha256.
// A line with patches holds them as children; one without is written as
// it always was. Without additions (or with empty ones) the text is what
// it always was too.
bool ComposeManifest(const CodePage& codePage, const std::string& version, const std::vector<ManifestLine>& lines,
                     std::string* manifest, std::string* failed, const uint64_t* sequence = nullptr,
                     const ManifestAdditions& additions = {});
