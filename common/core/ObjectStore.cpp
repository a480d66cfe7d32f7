#include "ObjectStore.h"

#include <cstdio>
#include <cstring>

#include "DigestText.h"

bool IsWellFormedObjectsPath(const char* text)
{
    if (!text || !*text)
        return false;
    std::size_t length = std::strlen(text);
    if (length > kMaxObjectsPathLength || text[length - 1] != '/')
        return false;
    std::size_t nameLength = 0;
    bool onlyDots = true;
    for (const char* c = text; *c; ++c) {
        if (*c == '/') {
            if (nameLength == 0 || (onlyDots && nameLength <= 2))
                return false;
            nameLength = 0;
            onlyDots = true;
            continue;
        }
        bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                     *c == '.' || *c == '_' || *c == '-';
        if (!plain)
            return false;
        onlyDots = onlyDots && *c == '.';
        ++nameLength;
    }
    return true;
}

const char* ManifestObjectsPath(const tinyxml2::XMLDocument& manifest)
{
    const tinyxml2::XMLElement* root = manifest.FirstChildElement();
    const char* objects = root ? root->Attribute("objects") : nullptr;
    return IsWellFormedObjectsPath(objects) ? objects : nullptr;
}

bool FormObjectPath(char* out, std::size_t capacity, const char* objects, const char* ver)
{
    if (capacity > 0)
        out[0] = '\0';
    if (!IsWellFormedObjectsPath(objects) || !IsWellFormedDigest(ver))
        return false;
    int length = std::snprintf(out, capacity, "%s%s", objects, ver);
    if (length < 0 || std::size_t(length) >= capacity) {
        if (capacity > 0)
            out[0] = '\0';
        return false;
    }
    return true;
}
