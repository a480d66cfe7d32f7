// Arbitrary addresses, markers, base addresses and launcher paths through the
// game-entry test and the updater's parameter text; the same texts as
// command lines through the front door's check mode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "FrontDoorCheck.h"
#include "GameEntryRules.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Cuts the input at NUL bytes into up to four wide texts, two bytes a
// character, so any UTF-16 unit (surrogates included) can appear.
std::wstring Take(const uint8_t*& data, size_t& size)
{
    std::wstring text;
    while (size >= 2) {
        wchar_t c = wchar_t(data[0] | (data[1] << 8));
        data += 2;
        size -= 2;
        if (c == 0)
            break;
        text.push_back(c);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring address = Take(data, size);
    std::wstring marker = Take(data, size);
    std::wstring base = Take(data, size);
    std::wstring launcher = Take(data, size);

    bool entry = IsGameEntryAddress(address.c_str(), marker.c_str());
    bool builtIn = address.find(kBuiltInEntryMarker) != std::wstring::npos;
    bool configured = !marker.empty() && address.find(marker) != std::wstring::npos;
    Require(entry == (builtIn || configured));
    Require(!IsGameEntryAddress(nullptr, marker.c_str()));

    std::wstring parameters = BuildUpdaterParameters(address.c_str(), base.c_str(), launcher.c_str());
    // The address comes first, whole; the quoted launcher path comes last.
    Require(parameters.compare(0, address.size(), address) == 0);
    std::wstring tail = L" \"" + launcher + L"\"";
    Require(parameters.size() >= address.size() + tail.size());
    Require(parameters.compare(parameters.size() - tail.size(), tail.size(), tail) == 0);
    std::wstring middle = parameters.substr(address.size(), parameters.size() - address.size() - tail.size());
    if (IsAcceptableResourceBase(base.c_str()))
        Require(middle == std::wstring(kResourceBaseParameter) + base);
    else
        Require(middle.empty());

    // A check is asked for only in exactly the form the updater writes, so
    // no hand-off's text is ever taken for one.
    uint32_t challenge = 0;
    std::wstring manifest;
    for (const std::wstring& text : {address, parameters}) {
        if (ParseFrontDoorCheck(text.c_str(), &challenge, &manifest))
            Require(FormFrontDoorCheckArguments(challenge, manifest.c_str()) == text);
        const wchar_t* arguments = ArgumentsOfCommandLine(text.c_str());
        Require(arguments >= text.c_str() && arguments <= text.c_str() + text.size());
    }
    Require(!ParseFrontDoorCheck(parameters.c_str(), &challenge, &manifest) || address.empty() ||
            address.compare(0, 18, kFrontDoorCheckOption) == 0);
    return 0;
}
