// What a walk over the game directory found, in a form the rules can judge
// without knowing the platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ListedFile {
    // Relative to the game directory; components joined by "/", which no
    // name on either platform can hold, so a "\" inside a Linux name stays a
    // character the rules can see. UTF-8 (on Linux whatever bytes the name
    // has).
    std::string path;
    std::string source;  // what the platform opens to read the content
    uint64_t size = 0;
};

// An entry that cannot be listed, with the reason, e.g. a link leading out.
struct RefusedEntry {
    std::string path;  // relative, "/" between components like ListedFile
    std::string reason;
};

struct TreeListing {
    std::vector<ListedFile> files;
    std::vector<RefusedEntry> refused;
};

// Provided by the platform glue: every regular file under root, recursively.
// False (with the reason) only when root itself cannot be walked; what goes
// wrong below it is recorded in refused.
bool ListTree(const std::string& root, TreeListing* listing, std::string* error);

// The relative path as the manifest and the messages show it: "\" between
// directories.
std::string ManifestFormOf(const std::string& listedPath);

// Puts every path in its manifest form and sorts by it, byte by byte: the
// same order from the same tree on every platform. Only for names the rules
// accepted (none holds a "\" of its own).
void SortInManifestForm(std::vector<ListedFile>* files);
