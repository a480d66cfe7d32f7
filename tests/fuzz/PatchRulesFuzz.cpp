// Arbitrary bytes as qupdater.xml: every patch offer read from it must keep
// every rule (so an updater never fetches or applies what they forbid), the
// offer chosen for a digest must be the one that names it, and a patch's
// path is either whole or not formed at all, whatever the room.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "DigestText.h"
#include "ManifestReader.h"
#include "ManifestSignature.h"
#include "PatchRules.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckOffers(const ManifestEntry& entry, bool requireSha256)
{
    std::vector<PatchOffer> offers = PatchOffers(entry, requireSha256);
    for (const PatchOffer& offer : offers) {
        Require(IsWellFormedDigest(entry.expectedDigest) && IsWellFormedDigest(offer.from));
        Require(std::strcmp(offer.from, entry.expectedDigest) != 0);
        Require(offer.size >= 1 && offer.size <= kMaxPatchedFileBytes64);
        Require(offer.sha256 ? IsWellFormedSha256(offer.sha256) : !requireSha256);
        std::string lower(offer.from);
        for (char& c : lower)
            c = char(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        Require(PatchFor(offers, lower.c_str()) == &offer);

        char path[96];
        Require(FormPatchPath(path, sizeof path, offer.from, entry.expectedDigest));
        std::string whole = std::string("patch/") + offer.from + "-" + entry.expectedDigest + ".zst";
        Require(whole == path);
        for (size_t room = 0; room <= whole.size(); ++room) {
            char tight[96];
            std::memset(tight, 'x', sizeof tight);
            Require(!FormPatchPath(tight, room, offer.from, entry.expectedDigest));
            Require(room == 0 || tight[0] == '\0');
            Require(tight[room] == 'x');  // nothing written past the room given
        }
    }
    Require(PatchFor(offers, entry.expectedDigest ? entry.expectedDigest : "") == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tinyxml2::XMLDocument document;
    if (!ParseManifest(document, reinterpret_cast<const char*>(data), size))
        return 0;
    for (const ManifestEntry& entry : ManifestEntries(document)) {
        CheckOffers(entry, false);
        CheckOffers(entry, true);
    }
    return 0;
}
