// Which names the updater could not fetch or write, and why. Every reason is
// a sentence fragment shown after the name.
#pragma once

#include <string>
#include <vector>

#include "CodePage.h"
#include "TreeListing.h"

// Where the player's updater works: its game directory (installation
// directory + "game/", as the updater joins them) and its resource address.
struct UpdaterSite {
    std::wstring gameDir;
    std::wstring resourceBase;
};

// Forms the site as the updater would; false when the game directory itself
// does not fit the updater's path buffer.
bool FormUpdaterSite(const std::string& installDir, const std::string& resourceBase, UpdaterSite* site);

// The reason one component of a name is refused, or empty: not UTF-8, a
// character Windows or the download address cannot hold, a trailing dot or
// blank, the shape of a short (8.3) name such as NAME~1.EXT, which Windows
// may have given another file of the same directory.
std::string ComponentRefusal(const std::string& component);

// The reason a listed path is refused, or empty. Checks every component, then
// the whole path as the updater will see it: the code page, the updater's own
// safety rules and its buffers.
std::string PathRefusal(const std::string& listedPath, const CodePage& codePage, const UpdaterSite& site);

// Names that differ only in letter case within one directory, as NTFS
// compares them: they are one file on Windows. Looks at every directory and
// file name the listed paths pass through, so "Data/a" and "data/b" collide
// at "Data"/"data".
std::vector<RefusedEntry> FindCaseCollisions(const std::vector<ListedFile>& files);

// Provided by the platform glue: the UTF-16 units of a name in upper case
// the way NTFS compares names, one unit for one by the simple uppercase
// mapping of each, whatever the user's language.
std::wstring UpcaseAsNtfs(const std::wstring& name);

// Whether the listing holds the micro-client at its top, the file every
// updater starts (Windows finds it in any letter case).
bool HoldsMicroClient(const TreeListing& listing);
