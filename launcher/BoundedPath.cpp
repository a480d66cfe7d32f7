#include "BoundedPath.h"

#include <cwchar>

namespace {

bool CopyPieces(wchar_t* out, std::size_t capacity, const wchar_t* first, std::size_t firstLength,
                const wchar_t* second, std::size_t secondLength)
{
    if (out == nullptr || capacity == 0)
        return false;
    out[0] = L'\0';
    // The terminator needs its own slot.
    if (firstLength >= capacity || secondLength >= capacity - firstLength)
        return false;
    std::wmemcpy(out, first, firstLength);
    std::wmemcpy(out + firstLength, second, secondLength);
    out[firstLength + secondLength] = L'\0';
    return true;
}

}  // namespace

bool JoinPath(wchar_t* out, std::size_t capacity, const wchar_t* first, const wchar_t* second)
{
    if (first == nullptr)
        first = L"";
    if (second == nullptr)
        second = L"";
    return CopyPieces(out, capacity, first, std::wcslen(first), second, std::wcslen(second));
}

bool DirectoryPrefixOf(wchar_t* out, std::size_t capacity, const wchar_t* directory)
{
    if (out != nullptr && capacity > 0)
        out[0] = L'\0';
    if (directory == nullptr || directory[0] == L'\0')
        return false;
    const std::size_t length = std::wcslen(directory);
    const wchar_t* separator = directory[length - 1] == L'\\' ? L"" : L"\\";
    return CopyPieces(out, capacity, directory, length, separator, std::wcslen(separator));
}

std::size_t DirectoryPartLength(const wchar_t* path)
{
    if (path == nullptr)
        return 0;
    std::size_t part = 0;
    if (path[0] != L'\0' && path[1] == L':')
        part = 2;
    for (std::size_t i = 0; path[i] != L'\0'; ++i) {
        if (path[i] == L'\\' || path[i] == L'/')
            part = i + 1;
    }
    return part;
}

bool DirectoryOfPath(wchar_t* out, std::size_t capacity, const wchar_t* path)
{
    return CopyPieces(out, capacity, path, DirectoryPartLength(path), L"", 0);
}
