#include "UpdateLocations.h"

#include <cwchar>
#include <initializer_list>

#include "InstallLayout.h"

namespace {

bool Refuse(wchar_t* out, size_t capacity)
{
    if (capacity > 0)
        out[0] = L'\0';
    return false;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

const wchar_t kPartialDownloadName[] = L"qalUpdate.part";

bool FormFileAddress(wchar_t* out, size_t capacity, const wchar_t* resourceBase, const wchar_t* path)
{
    if (!out || capacity == 0 || !resourceBase || !path)
        return out && capacity ? Refuse(out, capacity) : false;
    size_t length = 0;
    out[0] = L'\0';
    auto put = [&](wchar_t c) {
        if (length + 1 >= capacity)
            return false;
        out[length++] = c;
        out[length] = L'\0';
        return true;
    };
    auto putAll = [&](const wchar_t* text) {
        for (; *text; ++text) {
            wchar_t c = *text == L'\\' ? L'/' : *text;
            if (c == L' ') {
                if (!put(L'%') || !put(L'2') || !put(L'0'))
                    return false;
            } else if (!put(c)) {
                return false;
            }
        }
        return true;
    };
    if (!putAll(resourceBase) || !putAll(kGameDirectoryName) || !put(L'/') || !putAll(path))
        return Refuse(out, capacity);
    return true;
}

bool FormDestination(wchar_t* out, size_t capacity, const wchar_t* gameDir, const wchar_t* path)
{
    if (!gameDir || !path)
        return out && capacity ? Refuse(out, capacity) : false;
    return JoinText(out, capacity, gameDir, path);
}

bool FormParentDirectory(wchar_t* out, size_t capacity, const wchar_t* destination)
{
    if (!out || capacity == 0)
        return false;
    if (!destination)
        return Refuse(out, capacity);
    const wchar_t* lastBackslash = std::wcsrchr(destination, L'\\');
    if (!lastBackslash)
        return Refuse(out, capacity);
    size_t length = size_t(lastBackslash - destination);
    if (length >= capacity)
        return Refuse(out, capacity);
    std::wmemcpy(out, destination, length);
    out[length] = L'\0';
    return true;
}

bool FormPartialName(int slot, wchar_t* out, size_t capacity)
{
    if (slot < 0 || slot >= kDownloadSlots)
        return Refuse(out, capacity);
    if (slot == 0)
        return JoinText(out, capacity, kPartialDownloadName, nullptr) || Refuse(out, capacity);
    const wchar_t digit[2] = {wchar_t(L'0' + slot), L'\0'};
    return JoinText(out, capacity, L"qalUpdate.", digit, L".part") || Refuse(out, capacity);
}

bool FormProgramPartialName(int slot, wchar_t* out, size_t capacity)
{
    wchar_t partial[32];
    return (FormPartialName(slot, partial, 32) && JoinText(out, capacity, partial, L".exe")) ||
           Refuse(out, capacity);
}

bool FormPartialPath(wchar_t* out, size_t capacity, const wchar_t* destination, const wchar_t* partialName)
{
    if (!out || capacity == 0)
        return false;
    if (!destination || !partialName)
        return Refuse(out, capacity);
    size_t directoryLength = 0;
    for (size_t i = 0; destination[i]; ++i) {
        if (IsSeparator(destination[i]))
            directoryLength = i + 1;
    }
    if (directoryLength == 0 || directoryLength >= capacity)
        return Refuse(out, capacity);
    std::wmemcpy(out, destination, directoryLength);
    out[directoryLength] = L'\0';
    return JoinText(out + directoryLength, capacity - directoryLength, partialName, nullptr) ||
           Refuse(out, capacity);
}

int PartialDownloadSlot(const wchar_t* path)
{
    if (!path)
        return -1;
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (IsSeparator(*p))
            name = p + 1;
    }
    size_t length = std::wcslen(name);
    while (length > 0 && (name[length - 1] == L'.' || name[length - 1] == L' '))
        --length;
    for (int slot = 0; slot < kDownloadSlots; ++slot) {
        for (auto form : {FormPartialName, FormProgramPartialName}) {
            wchar_t expected[32];
            form(slot, expected, 32);
            if (length != std::wcslen(expected))
                continue;
            size_t i = 0;
            for (; i < length; ++i) {
                wchar_t a = name[i], b = expected[i];
                if (a >= L'A' && a <= L'Z')
                    a = wchar_t(a - L'A' + L'a');
                if (b >= L'A' && b <= L'Z')
                    b = wchar_t(b - L'A' + L'a');
                if (a != b)
                    break;
            }
            if (i == length)
                return slot;
        }
    }
    return -1;
}

bool NamesPartialDownload(const wchar_t* path)
{
    return PartialDownloadSlot(path) >= 0;
}
