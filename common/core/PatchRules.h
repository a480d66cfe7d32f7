// Binary patches a manifest entry offers instead of its whole file.
//
// An entry may hold child elements, one for each older version a patch can
// be made from:
//   <file path="data/big.pak" ver="NEW-MD5" sha256="..."><patch from="OLD-MD5" sha256="..." size="N"/></file>
// `from` is the MD5 digest text of the older file (as "ver" lists digests),
// `sha256` and `size` are the patch's own. A patch is a zstd frame made with
// the older file as its reference ("zstd --patch-from=OLD"); it is published
// at "patch/<from>-<ver>.zst" below the resource base address, a name that
// never stands for two contents.
#pragma once

#include "ManifestReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct PatchOffer {
    const char* from;    // owned by the document: 32 uppercase hexadecimal digits
    const char* sha256;  // 64 lowercase hexadecimal digits, or null
    uint64_t size;       // bytes of the patch
};

// The largest file a patch is made for or applied to. Applying one holds the
// older file and the new file's window in memory at once: a 32-bit updater
// has 2 GiB of address space in all, shared with everything else it holds.
constexpr uint64_t kMaxPatchedFileBytes32 = uint64_t(512) << 20;
constexpr uint64_t kMaxPatchedFileBytes64 = uint64_t(2) << 30;
// The bound of the updater built for this pointer size.
constexpr uint64_t MaxPatchedFileBytes(bool is64bit)
{
    return is64bit ? kMaxPatchedFileBytes64 : kMaxPatchedFileBytes32;
}

// The entry's usable offers, in document order. An offer that breaks a rule
// is left out, and the file is then fetched whole: a `from` that is not a
// well-formed digest or is the entry's own "ver", a size that is not plain
// decimal digits or is 0 or above the bound, a "sha256" that is not 64
// lowercase hexadecimal digits, or none where one is required (a signed
// manifest proves every byte it names). An entry whose own "ver" is not a
// well-formed digest offers none, and neither does one offering the same
// `from` twice (which of the two would be meant?).
std::vector<PatchOffer> PatchOffers(const ManifestEntry& entry, bool requireSha256);

// The offer that turns a local copy of this digest (lowercase hexadecimal,
// as computed) into the entry's file, or null.
const PatchOffer* PatchFor(const std::vector<PatchOffer>& offers, const char* localHexDigest);

// "patch/<from>-<ver>.zst", below the resource base address; false (and an
// empty text) when either digest is not well formed or it does not fit.
bool FormPatchPath(char* out, size_t capacity, const char* from, const char* ver);
