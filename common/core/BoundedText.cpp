#include "BoundedText.h"

#include <cwchar>

namespace {

// Appends text at *length; false when it would not fit with the terminator.
bool Append(wchar_t* out, std::size_t capacity, std::size_t* length, const wchar_t* text, std::size_t add)
{
    if (add >= capacity - *length)
        return false;
    std::wmemcpy(out + *length, text, add);
    *length += add;
    out[*length] = L'\0';
    return true;
}

bool Append(wchar_t* out, std::size_t capacity, std::size_t* length, const wchar_t* text)
{
    return text == nullptr || Append(out, capacity, length, text, std::wcslen(text));
}

}  // namespace

bool JoinText(wchar_t* out, std::size_t capacity, const wchar_t* first, const wchar_t* second,
              const wchar_t* third)
{
    if (out == nullptr || capacity == 0)
        return false;
    std::size_t length = 0;
    out[0] = L'\0';
    if (!Append(out, capacity, &length, first) || !Append(out, capacity, &length, second) ||
        !Append(out, capacity, &length, third)) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool DirectoryPrefixOf(wchar_t* out, std::size_t capacity, const wchar_t* directory)
{
    if (out != nullptr && capacity > 0)
        out[0] = L'\0';
    if (directory == nullptr || directory[0] == L'\0')
        return false;
    const bool endsInBackslash = directory[std::wcslen(directory) - 1] == L'\\';
    return JoinText(out, capacity, directory, endsInBackslash ? L"" : L"\\");
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
    if (out == nullptr || capacity == 0)
        return false;
    std::size_t length = 0;
    out[0] = L'\0';
    if (path == nullptr || Append(out, capacity, &length, path, DirectoryPartLength(path)))
        return true;
    out[0] = L'\0';
    return false;
}

void CopyTextCut(wchar_t* out, std::size_t capacity, const wchar_t* text)
{
    if (out == nullptr || capacity == 0)
        return;
    std::size_t length = text ? std::wcslen(text) : 0;
    if (length >= capacity)
        length = capacity - 1;
    if (length)
        std::wmemcpy(out, text, length);
    out[length] = L'\0';
}
