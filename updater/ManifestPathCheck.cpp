#include "ManifestPathCheck.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Windows drops trailing dots and blanks from path components, so ". ." or
// "..." would resolve like "..": any component made only of dots and blanks
// with two dots in it is refused.
bool ClimbsUp(const wchar_t* begin, const wchar_t* end)
{
    int dots = 0;
    for (const wchar_t* p = begin; p != end; ++p) {
        if (*p == L'.')
            ++dots;
        else if (*p != L' ')
            return false;
    }
    return dots >= 2;
}

}  // namespace

bool IsSafeManifestPath(const wchar_t* path)
{
    if (!path || !path[0])
        return false;
    if (IsSeparator(path[0]))
        return false;  // rooted, UNC or device namespace
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L':')
            return false;  // drive letter or alternate data stream
    }
    const wchar_t* component = path;
    for (const wchar_t* p = path;; ++p) {
        if (*p == L'\0' || IsSeparator(*p)) {
            if (ClimbsUp(component, p))
                return false;
            if (*p == L'\0')
                break;
            component = p + 1;
        }
    }
    return true;
}
