#include "FrontDoorOffers.h"

#include <cstdio>
#include <cstring>

#include "DigestText.h"
#include "ManifestReader.h"
#include "ManifestSignature.h"

namespace {

bool IsOneOf(const char* text, const char* first, const char* second)
{
    return text && (std::strcmp(text, first) == 0 || std::strcmp(text, second) == 0);
}

}  // namespace

bool IsWellFormedFrontDoorVersion(const char* text)
{
    if (!text)
        return false;
    int numbers = 0, digits = 0;
    for (const char* p = text;; ++p) {
        if (*p >= '0' && *p <= '9') {
            if (++digits > 5)
                return false;
            continue;
        }
        if (digits == 0 || (*p != '.' && *p != '\0'))
            return false;
        if (++numbers > 4)
            return false;
        if (*p == '\0')
            return true;
        digits = 0;
    }
}

std::vector<FrontDoorOffer> FrontDoorOffers(const tinyxml2::XMLDocument& manifest, bool requireSha256)
{
    std::vector<FrontDoorOffer> offers;
    std::vector<FrontDoorOffer> repeated;
    const tinyxml2::XMLElement* root = manifest.FirstChildElement();
    if (!root)
        return offers;
    for (const tinyxml2::XMLElement* element = root->FirstChildElement(); element;
         element = element->NextSiblingElement()) {
        // From the first entry on, every element is an entry, whatever its name.
        if (std::strcmp(element->Name(), "file") == 0)
            break;
        if (std::strcmp(element->Name(), "frontdoor") != 0)
            continue;
        FrontDoorOffer offer{element->Attribute("arch"), element->Attribute("name"), element->Attribute("ver"),
                             element->Attribute("sha256"), 0, element->Attribute("version")};
        if (!IsOneOf(offer.arch, kFrontDoorArch32, kFrontDoorArch64) ||
            !IsOneOf(offer.name, kLauncherProgramName, kUpdaterProgramName) || !IsWellFormedDigest(offer.ver) ||
            !ParseManifestSize(element->Attribute("size"), kMaxFrontDoorProgramBytes, &offer.size))
            continue;
        if (offer.sha256 ? !IsWellFormedSha256(offer.sha256) : requireSha256)
            continue;
        if (!IsWellFormedFrontDoorVersion(offer.version))
            offer.version = nullptr;
        if (FrontDoorOfferFor(offers, offer.arch, offer.name) || FrontDoorOfferFor(repeated, offer.arch, offer.name))
            repeated.push_back(offer);
        else
            offers.push_back(offer);
    }
    std::vector<FrontDoorOffer> usable;
    for (const FrontDoorOffer& offer : offers) {
        if (!FrontDoorOfferFor(repeated, offer.arch, offer.name))
            usable.push_back(offer);
    }
    return usable;
}

const FrontDoorOffer* FrontDoorOfferFor(const std::vector<FrontDoorOffer>& offers, const char* arch,
                                        const char* name)
{
    for (const FrontDoorOffer& offer : offers) {
        if (arch && name && std::strcmp(offer.arch, arch) == 0 && std::strcmp(offer.name, name) == 0)
            return &offer;
    }
    return nullptr;
}

bool FormFrontDoorPath(char* out, std::size_t capacity, const FrontDoorOffer& offer)
{
    if (capacity > 0)
        out[0] = '\0';
    if (!IsOneOf(offer.arch, kFrontDoorArch32, kFrontDoorArch64) ||
        !IsOneOf(offer.name, kLauncherProgramName, kUpdaterProgramName) || !IsWellFormedDigest(offer.ver))
        return false;
    int length = std::snprintf(out, capacity, "frontdoor/%s/%s/%s", offer.arch, offer.ver, offer.name);
    if (length < 0 || std::size_t(length) >= capacity) {
        if (capacity > 0)
            out[0] = '\0';
        return false;
    }
    return true;
}
