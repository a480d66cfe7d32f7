#include "ManifestReader.h"

bool LoadManifest(tinyxml2::XMLDocument& manifest, const char* fileName)
{
    if (!fileName)
        return false;
    if (manifest.LoadFile(fileName) != tinyxml2::XML_SUCCESS)
        return false;
    return manifest.FirstChildElement() != nullptr;
}

bool ParseManifest(tinyxml2::XMLDocument& manifest, const char* bytes, size_t size)
{
    if (!bytes)
        return false;
    if (manifest.Parse(bytes, size) != tinyxml2::XML_SUCCESS)
        return false;
    return manifest.FirstChildElement() != nullptr;
}

bool ParseManifestSize(const char* text, uint64_t bound, uint64_t* size)
{
    if (!text || text[0] < '1' || text[0] > '9')
        return false;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        unsigned digit = unsigned(*p - '0');
        if (value > (bound - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *size = value;
    return true;
}

const char* ManifestVersion(const tinyxml2::XMLDocument& manifest)
{
    const tinyxml2::XMLElement* root = manifest.FirstChildElement();
    return root ? root->Attribute("version") : nullptr;
}

const char* ManifestSequence(const tinyxml2::XMLDocument& manifest)
{
    const tinyxml2::XMLElement* root = manifest.FirstChildElement();
    return root ? root->Attribute("sequence") : nullptr;
}

std::vector<ManifestEntry> ManifestEntries(const tinyxml2::XMLDocument& manifest)
{
    std::vector<ManifestEntry> entries;
    const tinyxml2::XMLElement* root = manifest.FirstChildElement();
    if (!root)
        return entries;
    for (const tinyxml2::XMLElement* entry = root->FirstChildElement("file"); entry;
         entry = entry->NextSiblingElement()) {
        const char* path = entry->Attribute("path");
        if (path)
            entries.push_back({path, entry->Attribute("ver"), entry->Attribute("sha256"), entry});
    }
    return entries;
}
