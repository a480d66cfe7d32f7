#include "PatchRules.h"

#include "DigestText.h"
#include "ManifestSignature.h"

#include <cstdio>
#include <cstring>

std::vector<PatchOffer> PatchOffers(const ManifestEntry& entry, bool requireSha256)
{
    std::vector<PatchOffer> offers;
    if (!entry.element || !IsWellFormedDigest(entry.expectedDigest))
        return offers;
    // A patch is never larger than the largest file patched.
    const uint64_t bound = kMaxPatchedFileBytes64;
    for (const tinyxml2::XMLElement* patch = entry.element->FirstChildElement("patch"); patch;
         patch = patch->NextSiblingElement("patch")) {
        PatchOffer offer{patch->Attribute("from"), patch->Attribute("sha256"), 0};
        if (!IsWellFormedDigest(offer.from) || std::strcmp(offer.from, entry.expectedDigest) == 0)
            continue;
        if (offer.sha256 ? !IsWellFormedSha256(offer.sha256) : requireSha256)
            continue;
        if (!ParseManifestSize(patch->Attribute("size"), bound, &offer.size))
            continue;
        for (const PatchOffer& earlier : offers) {
            if (std::strcmp(earlier.from, offer.from) == 0)
                return {};
        }
        offers.push_back(offer);
    }
    return offers;
}

const PatchOffer* PatchFor(const std::vector<PatchOffer>& offers, const char* localHexDigest)
{
    for (const PatchOffer& offer : offers) {
        if (DigestTextMatches(localHexDigest, offer.from))
            return &offer;
    }
    return nullptr;
}

bool FormPatchPath(char* out, size_t capacity, const char* from, const char* ver)
{
    if (capacity > 0)
        out[0] = '\0';
    if (!IsWellFormedDigest(from) || !IsWellFormedDigest(ver))
        return false;
    int length = std::snprintf(out, capacity, "patch/%s-%s.zst", from, ver);
    if (length < 0 || size_t(length) >= capacity) {
        if (capacity > 0)
            out[0] = '\0';
        return false;
    }
    return true;
}
