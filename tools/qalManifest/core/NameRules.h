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
// blank.
std::string ComponentRefusal(const std::string& component);

// The reason a listed path is refused, or empty. Checks every component, then
// the whole path as the updater will see it: the code page, the updater's own
// safety rules and its buffers.
std::string PathRefusal(const std::string& listedPath, const CodePage& codePage, const UpdaterSite& site);

// Names that differ only in ASCII letter case within one directory: they are
// one file on Windows. Looks at every directory and file name the listed
// paths pass through, so "Data/a" and "data/b" collide at "Data"/"data".
std::vector<RefusedEntry> FindCaseCollisions(const std::vector<ListedFile>& files);
