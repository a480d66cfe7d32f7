#include "AnsiText.h"

#include <windows.h>

#include <cwchar>

bool AnsiToWide(const char* text, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0)
        return false;
    out[0] = L'\0';
    if (!text)
        return false;
    int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0 || size_t(needed) > capacity)
        return false;
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, out, needed) != needed) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

std::wstring AnsiToWideWhole(const char* text)
{
    if (!text)
        return std::wstring();
    int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::vector<wchar_t> wide(size_t(needed), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide.data(), needed) != needed)
        return std::wstring();
    return std::wstring(wide.data());
}

bool WideToCodePage(unsigned codePage, const wchar_t* text, std::vector<char>* out)
{
    out->clear();
    if (!text)
        return false;
    // The converter says how many bytes the text takes: a CJK character is two
    // bytes in code page 936 but three in UTF-8.
    int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return false;
    out->assign(size_t(needed), '\0');
    int written = WideCharToMultiByte(codePage, 0, text, -1, out->data(), needed, nullptr, nullptr);
    if (written != needed) {
        out->clear();
        return false;
    }
    return true;
}

bool WideToAnsi(const wchar_t* text, std::vector<char>* out)
{
    return WideToCodePage(CP_THREAD_ACP, text, out);
}
