// Arbitrary bytes as qupdater.xml, read and planned as the updater does; every
// queued entry must land inside the game directory, and a refused manifest
// must queue nothing.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "ManifestPathCheck.h"
#include "ManifestReader.h"
#include "UpdateLocations.h"
#include "UpdatePlan.h"

namespace {

const wchar_t kBase[] = L"http://127.0.0.1:28461/qal_lianyun/micro/";
const wchar_t kGameDir[] = L"C:\\Games\\Orvane\\game/";

// Latin-1 widening: one wide character per byte, as a single-byte code page.
bool Widen(const char* text, wchar_t* out, size_t capacity)
{
    size_t length = std::strlen(text);
    if (length >= capacity)
        return false;
    for (size_t i = 0; i <= length; ++i)
        out[i] = wchar_t(static_cast<unsigned char>(text[i]));
    return true;
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Resolves a path below the game directory the way Windows reads one: "\"
// and "/" separate, "." stays, and a component of dots and blanks with two
// dots or more climbs (Windows drops trailing dots and blanks). False when
// it climbs out, or names a drive or a stream.
bool StaysInside(const wchar_t* relative)
{
    int depth = 0;
    const wchar_t* start = relative;
    for (const wchar_t* p = relative;; ++p) {
        if (*p == L':')
            return false;
        if (*p != L'\0' && *p != L'\\' && *p != L'/')
            continue;
        std::wstring component(start, p);
        bool dotsAndBlanks = !component.empty() && component.find_first_not_of(L". ") == std::wstring::npos;
        size_t dots = 0;
        for (wchar_t c : component)
            dots += c == L'.';
        if (dotsAndBlanks && dots >= 2) {
            if (--depth < 0)
                return false;
        } else if (!dotsAndBlanks && !component.empty()) {
            ++depth;
        }
        if (*p == L'\0')
            return true;
        start = p + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tinyxml2::XMLDocument manifest;
    if (manifest.Parse(reinterpret_cast<const char*>(data), size) != tinyxml2::XML_SUCCESS ||
        !manifest.FirstChildElement())
        return 0;
    std::vector<ManifestEntry> entries = ManifestEntries(manifest);
    std::deque<const char*> pending{"sentinel"};
    std::deque<PendingFile> digests(1);
    // Every other file is there with the digest its entry lists, so both
    // branches of the plan run.
    size_t looked = 0;
    PlanOutcome outcome = PlanDownloads(
        entries, kBase, kGameDir, Widen,
        [&](const wchar_t*, char* hexDigest) {
            const char* listed = entries[looked++].expectedDigest;
            if (looked % 2 || !listed || !*listed || std::strlen(listed) >= kDigestTextCapacity)
                return false;
            for (size_t i = 0; (hexDigest[i] = char(std::tolower((unsigned char)listed[i]))) != 0; ++i) {
            }
            return true;
        },
        &pending, &digests);
    if (outcome != PlanOutcome::Ready) {
        Require(pending.size() == 1 && digests.size() == 1);
        return 0;
    }
    Require(pending.size() == digests.size());
    // Nothing queued has a copy that is current.
    for (size_t i = 0; i < pending.size(); ++i) {
        Require(pending[i] == digests[i].entry.path);
        Require(!digests[i].localDigest[0] ||
                !DigestTextMatches(digests[i].localDigest, digests[i].entry.expectedDigest));
    }
    const size_t gameDirLength = std::wcslen(kGameDir);
    for (const char* path : pending) {
        wchar_t wide[kPathCapacity];
        Require(Widen(path, wide, kPathCapacity));
        Require(IsSafeManifestPath(wide));
        DownloadTarget target;
        Require(FormDownloadTarget(&target, kBase, kGameDir, wide));
        Require(std::wcsncmp(target.destination, kGameDir, gameDirLength) == 0);
        Require(StaysInside(target.destination + gameDirLength));
        Require(std::wcsncmp(target.partial, kGameDir, gameDirLength) == 0);
        Require(std::wcsncmp(target.address, kBase, std::wcslen(kBase)) == 0);
        Require(std::wcslen(target.destination) < kPathCapacity && std::wcslen(target.address) < kAddressCapacity);
    }
    return 0;
}
