#include "DigestText.h"

#include <cstring>

bool DigestTextMatches(const char* hexDigest, const char* expected)
{
    if (!hexDigest || !expected)
        return false;
    char upper[33];
    size_t length = std::strlen(hexDigest);
    if (length >= sizeof upper)
        return false;
    for (size_t i = 0; i <= length; ++i) {
        char c = hexDigest[i];
        upper[i] = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
    return std::strcmp(upper, expected) == 0;
}

bool IsWellFormedDigest(const char* text)
{
    if (!text)
        return false;
    for (int i = 0; i < 32; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return text[32] == '\0';
}
