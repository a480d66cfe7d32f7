#include "GameEntryRules.h"

#include <cwchar>

const wchar_t kBuiltInEntryMarker[] = L"/entergame.htm?";
const wchar_t kResourceBaseMarker[] = L"http";
const wchar_t kResourceBaseParameter[] = L"&urlBase=";

namespace {

bool Contains(const wchar_t* text, const wchar_t* piece)
{
    return text != nullptr && piece != nullptr && piece[0] != L'\0' && std::wcsstr(text, piece) != nullptr;
}

}  // namespace

bool IsGameEntryAddress(const wchar_t* address, const wchar_t* enterMarker)
{
    return Contains(address, kBuiltInEntryMarker) || Contains(address, enterMarker);
}

bool IsAcceptableResourceBase(const wchar_t* urlBase)
{
    return Contains(urlBase, kResourceBaseMarker);
}

std::wstring BuildUpdaterParameters(const wchar_t* entryAddress, const wchar_t* urlBase,
                                    const wchar_t* launcherPath)
{
    std::wstring parameters = entryAddress != nullptr ? entryAddress : L"";
    if (IsAcceptableResourceBase(urlBase)) {
        parameters += kResourceBaseParameter;
        parameters += urlBase;
    }
    parameters += L" \"";
    parameters += launcherPath != nullptr ? launcherPath : L"";
    parameters += L"\"";
    return parameters;
}
