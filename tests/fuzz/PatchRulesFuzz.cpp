// Arbitrary bytes as qupdater.xml: every patch offer and every front-door
// offer read from it must keep every rule (so an updater never fetches,
// applies or runs what they forbid), the offer chosen for a digest or a
// program must be the one that names it, the objects' directory is plain,
// and an offer's or object's path is either whole or not formed at all,
// whatever the room.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "DigestText.h"
#include "FrontDoorOffers.h"
#include "ManifestReader.h"
#include "ObjectStore.h"
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

// Every way of forming a path into too little room refuses it whole and
// writes nothing past the room given.
template <typename Form>
void RequireWholeOrNothing(const std::string& whole, Form form)
{
    for (size_t room = 0; room <= whole.size(); ++room) {
        char tight[200];
        std::memset(tight, 'x', sizeof tight);
        Require(!form(tight, room));
        Require(room == 0 || tight[0] == '\0');
        Require(tight[room] == 'x');
    }
}

void CheckFrontDoor(const tinyxml2::XMLDocument& document, bool requireSha256)
{
    std::vector<FrontDoorOffer> offers = FrontDoorOffers(document, requireSha256);
    for (const FrontDoorOffer& offer : offers) {
        Require(std::strcmp(offer.arch, "i686") == 0 || std::strcmp(offer.arch, "x86_64") == 0);
        Require(std::strcmp(offer.name, "qalLogin.exe") == 0 || std::strcmp(offer.name, "qalUpdate.exe") == 0);
        Require(IsWellFormedDigest(offer.ver));
        Require(offer.size >= 1 && offer.size <= kMaxFrontDoorProgramBytes);
        Require(offer.sha256 ? IsWellFormedSha256(offer.sha256) : !requireSha256);
        Require(!offer.version || IsWellFormedFrontDoorVersion(offer.version));
        // One offer a program and arch, and the one found is it.
        Require(FrontDoorOfferFor(offers, offer.arch, offer.name) == &offer);
        std::string whole = std::string("frontdoor/") + offer.arch + "/" + offer.ver + "/" + offer.name;
        char path[96];
        Require(FormFrontDoorPath(path, sizeof path, offer) && whole == path);
        RequireWholeOrNothing(whole, [&](char* out, size_t room) { return FormFrontDoorPath(out, room, offer); });
    }
}

void CheckObjects(const tinyxml2::XMLDocument& document)
{
    const char* objects = ManifestObjectsPath(document);
    if (!objects)
        return;
    Require(IsWellFormedObjectsPath(objects) && std::strlen(objects) <= kMaxObjectsPathLength);
    Require(objects[0] != '/' && std::strstr(objects, "//") == nullptr && std::strstr(objects, "\\") == nullptr &&
            std::strstr(objects, ":") == nullptr);
    for (const ManifestEntry& entry : ManifestEntries(document)) {
        char path[kMaxObjectsPathLength + 40];
        bool formed = FormObjectPath(path, sizeof path, objects, entry.expectedDigest);
        Require(formed == IsWellFormedDigest(entry.expectedDigest));
        if (!formed)
            continue;
        std::string whole = std::string(objects) + entry.expectedDigest;
        Require(whole == path);
        RequireWholeOrNothing(whole, [&](char* out, size_t room) {
            return FormObjectPath(out, room, objects, entry.expectedDigest);
        });
    }
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
    CheckFrontDoor(document, false);
    CheckFrontDoor(document, true);
    CheckObjects(document);
    return 0;
}
