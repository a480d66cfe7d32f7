#include "NameRules.h"

#include <iterator>
#include <map>
#include <set>

#include "InstallLayout.h"
#include "ManifestPathCheck.h"
#include "TextCoding.h"
#include "UpdateLocations.h"

namespace {

bool Fits(bool (*form)(wchar_t*, size_t, const wchar_t*, const wchar_t*), size_t capacity,
          const std::wstring& first, const std::wstring& second, std::wstring* formed = nullptr)
{
    std::wstring out(capacity, L'\0');
    if (!form(&out[0], capacity, first.c_str(), second.c_str()))
        return false;
    if (formed)
        *formed = out.c_str();
    return true;
}

std::string Quoted(char c)
{
    return std::string("\"") + c + "\"";
}

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// NAME~N.EXT: at most eight characters with a "~" and digits ending them,
// then at most one dot and three more.
bool IsShapedLikeShortName(const std::string& component)
{
    size_t dot = component.find('.');
    std::string base = component.substr(0, dot);
    if (dot != std::string::npos) {
        std::string extension = component.substr(dot + 1);
        if (extension.size() > 3 || extension.find('.') != std::string::npos)
            return false;
    }
    size_t tilde = base.rfind('~');
    if (base.size() > 8 || tilde == std::string::npos || tilde == 0 || tilde + 1 == base.size())
        return false;
    for (size_t i = tilde + 1; i < base.size(); ++i) {
        if (!IsAsciiDigit(base[i]))
            return false;
    }
    return true;
}

// The name as NTFS compares it, for grouping; invalid text stays as it is.
std::string FoldedForNtfs(const std::string& name)
{
    std::wstring units;
    std::string folded;
    if (!Utf8ToUtf16Units(name, &units) || !Utf16UnitsToUtf8(UpcaseAsNtfs(units), &folded))
        return name;
    return folded;
}

}  // namespace

bool FormUpdaterSite(const std::string& installDir, const std::string& resourceBase, UpdaterSite* site)
{
    // The updater's module directory always ends in "\" and it appends
    // "game/" to it; a directory given without the "\" gets one.
    std::string moduleDir = installDir;
    if (moduleDir.empty() || (moduleDir.back() != '\\' && moduleDir.back() != '/'))
        moduleDir += '\\';
    std::wstring wideDir;
    if (!Utf8ToUtf16Units(moduleDir, &wideDir) || !Utf8ToUtf16Units(resourceBase, &site->resourceBase))
        return false;
    wchar_t gameDir[kPathCapacity];
    if (!JoinText(gameDir, kPathCapacity, wideDir.c_str(), L"game/"))
        return false;
    site->gameDir = gameDir;
    return true;
}

std::string ComponentRefusal(const std::string& component)
{
    if (!IsValidUtf8(component))
        return "its name is not valid UTF-8";
    for (char c : component) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20)
            return "holds a control character, which Windows does not allow in a file name";
        if (c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '*' || c == '\\')
            return "holds " + Quoted(c) + ", which Windows does not allow in a file name";
        // The updater escapes only blanks when it forms the address; these
        // would end the path or start an escape there.
        if (c == '#' || c == '?' || c == '%')
            return "holds " + Quoted(c) + ", which the updater's download address cannot carry";
    }
    if (!component.empty() && (component.back() == '.' || component.back() == ' '))
        return "a name ending in a dot or a blank, which Windows drops";
    if (IsShapedLikeShortName(component))
        return "shaped like a short (8.3) name such as NAME~1.EXT, which Windows may have given another file "
               "of the same directory";
    return std::string();
}

std::string PathRefusal(const std::string& listedPath, const CodePage& codePage, const UpdaterSite& site)
{
    size_t start = 0;
    for (;;) {
        size_t end = listedPath.find('/', start);
        std::string reason = ComponentRefusal(listedPath.substr(start, end - start));
        if (!reason.empty())
            return reason;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }

    std::string manifestForm = ManifestFormOf(listedPath);
    std::string encoded;
    if (!EncodeExactly(codePage, manifestForm, &encoded))
        return "code page " + std::to_string(codePage.Number()) + " cannot carry its name exactly";

    std::wstring path;
    if (!Utf8ToUtf16Units(manifestForm, &path))
        return "its name is not valid UTF-8";
    // With the characters above refused, what the updater's own check still
    // refuses in a real directory is a device name.
    if (!IsSafeManifestPath(path.c_str()))
        return "the updater refuses it: Windows opens a device for a name like CON, PRN, AUX, NUL, "
               "COM0-COM9 or LPT0-LPT9, with any extension";
    // A directory of that name too: the partial file of everything beside it
    // would have no place.
    for (size_t end = 0; end <= path.size(); ++end) {
        if ((end == path.size() || path[end] == L'\\') && NamesPartialDownload(path.substr(0, end).c_str()))
            return "the updater's own partial download name";
    }

    std::wstring destination;
    if (!Fits(FormDestination, kPathCapacity, site.gameDir, path, &destination))
        return "too long for the updater: its path in the installation would exceed " +
               std::to_string(kPathCapacity - 1) + " characters";
    wchar_t partial[kPathCapacity];
    if (!FormPartialPath(partial, kPathCapacity, destination.c_str()))
        return "too long for the updater: the partial download path beside it would exceed " +
               std::to_string(kPathCapacity - 1) + " characters";
    if (!Fits(FormFileAddress, kAddressCapacity, site.resourceBase, path))
        return "too long for the updater: its download address would exceed " +
               std::to_string(kAddressCapacity - 1) + " characters";
    return std::string();
}

std::vector<RefusedEntry> FindCaseCollisions(const std::vector<ListedFile>& files)
{
    // (parent path, name folded as NTFS compares it) -> the names seen
    // there.
    std::map<std::pair<std::string, std::string>, std::set<std::string>> seen;
    for (const ListedFile& file : files) {
        size_t start = 0;
        for (;;) {
            size_t end = file.path.find('/', start);
            std::string parent = start ? file.path.substr(0, start - 1) : std::string();
            std::string name = file.path.substr(start, end - start);
            seen[{parent, FoldedForNtfs(name)}].insert(file.path.substr(0, end));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    std::vector<RefusedEntry> collisions;
    for (const auto& group : seen) {
        const std::set<std::string>& names = group.second;
        if (names.size() < 2)
            continue;
        for (const std::string& name : names) {
            const std::string& other = name == *names.begin() ? *std::next(names.begin()) : *names.begin();
            collisions.push_back({name, "differs only in letter case from " + ShowableName(ManifestFormOf(other)) +
                                            ", the same file on Windows"});
        }
    }
    return collisions;
}

bool HoldsMicroClient(const TreeListing& listing)
{
    std::wstring wanted = UpcaseAsNtfs(kMicroClientFileName);
    for (const ListedFile& file : listing.files) {
        std::wstring name;
        if (file.path.find('/') == std::string::npos && Utf8ToUtf16Units(file.path, &name) &&
            UpcaseAsNtfs(name) == wanted)
            return true;
    }
    return false;
}

bool EncodeExactly(const CodePage& codePage, const std::string& utf8, std::string* bytes)
{
    std::string back;
    if (!codePage.Encode(utf8, bytes) || !codePage.Decode(*bytes, &back) || back != utf8) {
        bytes->clear();
        return false;
    }
    return true;
}
