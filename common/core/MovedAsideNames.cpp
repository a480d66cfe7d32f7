#include "MovedAsideNames.h"

#include <cwchar>
#include <string>

namespace {

const wchar_t kAsideEnding[] = L".old";

wchar_t Lower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (Lower(c) >= L'a' && Lower(c) <= L'f');
}

// out = the pieces joined, or false (and an empty text) when they do not fit.
bool Join(wchar_t* out, std::size_t capacity, const std::wstring& text)
{
    if (text.size() >= capacity) {
        out[0] = L'\0';
        return false;
    }
    std::wmemcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

bool FormMovedAsideName(wchar_t* out, std::size_t capacity, const wchar_t* program, uint32_t tag)
{
    if (capacity == 0)
        return false;
    out[0] = L'\0';
    if (!program || !*program)
        return false;
    std::wstring name = std::wstring(program) + L".";
    for (int shift = 28; shift >= 0; shift -= 4)
        name += L"0123456789abcdef"[(tag >> shift) & 0xF];
    return Join(out, capacity, name + kAsideEnding);
}

bool IsMovedAsideName(const wchar_t* name, const wchar_t* program)
{
    if (!name || !program || !*program)
        return false;
    const size_t programLength = std::wcslen(program);
    const size_t endingLength = std::wcslen(kAsideEnding);
    if (std::wcslen(name) != programLength + 1 + 8 + endingLength)
        return false;
    for (size_t i = 0; i < programLength; ++i) {
        if (Lower(name[i]) != Lower(program[i]))
            return false;
    }
    if (name[programLength] != L'.')
        return false;
    for (size_t i = 0; i < 8; ++i) {
        if (!IsHexDigit(name[programLength + 1 + i]))
            return false;
    }
    for (size_t i = 0; i < endingLength; ++i) {
        if (Lower(name[programLength + 9 + i]) != kAsideEnding[i])
            return false;
    }
    return true;
}

bool FormMovedAsidePattern(wchar_t* out, std::size_t capacity, const wchar_t* program)
{
    if (capacity == 0)
        return false;
    out[0] = L'\0';
    if (!program || !*program)
        return false;
    return Join(out, capacity, std::wstring(program) + L".*" + kAsideEnding);
}
