#include "FrontDoorCheck.h"

#include <cstring>
#include <cwchar>

#include "Md5.h"

std::wstring FormFrontDoorCheckArguments(uint32_t challenge, const wchar_t* manifestPath)
{
    std::wstring arguments = std::wstring(kFrontDoorCheckOption) + L" " + std::to_wstring(challenge);
    if (manifestPath && *manifestPath)
        arguments += L" \"" + std::wstring(manifestPath) + L"\"";
    return arguments;
}

bool ParseFrontDoorCheck(const wchar_t* arguments, uint32_t* challenge, std::wstring* manifestPath)
{
    if (!arguments)
        return false;
    const size_t optionLength = std::wcslen(kFrontDoorCheckOption);
    if (std::wcsncmp(arguments, kFrontDoorCheckOption, optionLength) != 0 || arguments[optionLength] != L' ')
        return false;
    const wchar_t* p = arguments + optionLength + 1;
    uint64_t value = 0;
    const wchar_t* digits = p;
    while (*p >= L'0' && *p <= L'9') {
        value = value * 10 + unsigned(*p - L'0');
        if (value > 0xFFFFFFFFull)
            return false;
        ++p;
    }
    if (p == digits)
        return false;
    manifestPath->clear();
    if (*p == L' ' && p[1] == L'"') {
        const wchar_t* start = p + 2;
        const wchar_t* end = std::wcschr(start, L'"');
        if (!end || end == start || end[1] != L'\0')
            return false;
        manifestPath->assign(start, end);
        p = end + 1;
    }
    if (*p != L'\0')
        return false;
    *challenge = uint32_t(value);
    return true;
}

const wchar_t* ArgumentsOfCommandLine(const wchar_t* commandLine)
{
    if (!commandLine)
        return L"";
    const wchar_t* p = commandLine;
    // The program's name ends at the closing quote when it starts with one,
    // else at the first blank, as the C runtime reads it.
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

uint32_t FrontDoorCheckAnswer(const char* name, const char* arch, uint32_t challenge)
{
    std::string text = std::string("Orvane front door check\n") + (name ? name : "") + "\n" + (arch ? arch : "") +
                       "\n" + std::to_string(challenge);
    MD5Context context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const unsigned char*>(text.data()), uint32_t(text.size()));
    MD5Final(&context);
    uint32_t word = (uint32_t(context.digest[0]) << 24) | (uint32_t(context.digest[1]) << 16) |
                    (uint32_t(context.digest[2]) << 8) | uint32_t(context.digest[3]);
    return 0x10000000u | (word & 0x0FFFFFFFu);
}
