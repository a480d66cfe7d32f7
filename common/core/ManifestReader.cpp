#include "ManifestReader.h"

bool LoadManifest(tinyxml2::XMLDocument& manifest, const char* fileName)
{
    if (!fileName)
        return false;
    if (manifest.LoadFile(fileName) != tinyxml2::XML_SUCCESS)
        return false;
    return manifest.FirstChildElement() != nullptr;
}

const char* ManifestVersion(const tinyxml2::XMLDocument& manifest)
{
    const tinyxml2::XMLElement* root = manifest.FirstChildElement();
    return root ? root->Attribute("version") : nullptr;
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
            entries.push_back({path, entry->Attribute("ver")});
    }
    return entries;
}
