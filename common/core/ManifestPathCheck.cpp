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

wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - L'a' + L'A') : c; }

bool SameAsciiName(const wchar_t* begin, const wchar_t* end, const wchar_t* name)
{
    for (const wchar_t* p = begin; p != end; ++p, ++name) {
        if (*name == L'\0' || UpperAscii(*p) != *name)
            return false;
    }
    return *name == L'\0';
}

bool IsDeviceDigit(wchar_t c)
{
    // The superscript digits count too: Windows maps COM¹ to a port.
    return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

// Windows reads a component as a device when the part before its first dot,
// without trailing dots and blanks, is a device name: "aux.dat", "NUL.tar.gz",
// "com1 " and "CON." all open devices, not files.
bool NamesDevice(const wchar_t* begin, const wchar_t* end)
{
    const wchar_t* stem = begin;
    while (stem != end && *stem != L'.')
        ++stem;
    while (stem != begin && (stem[-1] == L' ' || stem[-1] == L'.'))
        --stem;
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (SameAsciiName(begin, stem, device))
            return true;
    }
    if (stem - begin == 4 && IsDeviceDigit(stem[-1]) &&
        (SameAsciiName(begin, stem - 1, L"COM") || SameAsciiName(begin, stem - 1, L"LPT")))
        return true;
    return false;
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
            if (ClimbsUp(component, p) || NamesDevice(component, p))
                return false;
            if (*p == L'\0')
                break;
            component = p + 1;
        }
    }
    return true;
}
