// Arbitrary names through qalManifest's rules: every name it accepts must be
// one the updater accepts, plans and can form a download for, once written in
// the players' code page and read back as the updater reads it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "CodePage.h"
#include "ManifestReader.h"
#include "NameRules.h"
#include "TextCoding.h"
#include "TreeListing.h"
#include "UpdatePlan.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

struct Setting {
    std::unique_ptr<CodePage> gbk;
    UpdaterSite site;
    Setting()
    {
        std::string error;
        gbk = OpenCodePage(936, &error);
        Require(gbk != nullptr);
        Require(FormUpdaterSite("C:\\Program Files (x86)\\Orvane\\", "http://updates.example.com/qal_lianyun/micro/",
                                &site));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Setting setting;
    std::string listed(reinterpret_cast<const char*>(data), size);
    if (listed.find('\0') != std::string::npos)
        return 0;  // no file name holds one
    if (!PathRefusal(listed, *setting.gbk, setting.site).empty())
        return 0;

    // What the manifest holds, and what the updater makes of it.
    std::string bytes;
    Require(EncodeExactly(*setting.gbk, ManifestFormOf(listed), &bytes));
    auto widen = [](const char* text, wchar_t* out, size_t capacity) {
        std::string utf8;
        std::wstring units;
        if (!setting.gbk->Decode(text, &utf8) || !Utf8ToUtf16Units(utf8, &units) || units.size() >= capacity)
            return false;
        units.copy(out, units.size());
        out[units.size()] = L'\0';
        return true;
    };
    std::vector<ManifestEntry> entries = {{bytes.c_str(), nullptr}};
    std::deque<const char*> pending;
    PlanOutcome outcome = PlanDownloads(entries, setting.site.resourceBase.c_str(), setting.site.gameDir.c_str(),
                                        widen, [](const wchar_t*, char*) { return false; }, &pending);
    Require(outcome == PlanOutcome::Ready);
    Require(pending.size() == 1);
    return 0;
}
