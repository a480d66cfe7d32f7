// Forming the local paths and server addresses of the update. Every result
// goes into a fixed buffer whose capacity counts the terminator; what does not
// fit is refused (false, empty buffer), never shortened into another name.
#pragma once

#include <cstddef>

#include "BoundedText.h"

constexpr size_t kAddressCapacity = 1024;

// base + "game/" + path, then every "\" becomes "/" and every blank "%20";
// nothing else is escaped.
bool FormFileAddress(wchar_t* out, size_t capacity, const wchar_t* resourceBase, const wchar_t* path);

// gameDir + path, separators kept as they are.
bool FormDestination(wchar_t* out, size_t capacity, const wchar_t* gameDir, const wchar_t* path);

// The destination up to its last "\". Only "\" separates directories here:
// the game directory itself is joined with "/", and a path using "/" gets no
// directories made for it.
bool FormParentDirectory(wchar_t* out, size_t capacity, const wchar_t* destination);

// Every download is written into a partial file in its destination's own
// directory and only renamed over the destination once it is complete and
// proven, so a player's copy is never half-written. Updaters running side by
// side each hold a slot of their own and write their own partial name:
// "qalUpdate.part" for slot 0, "qalUpdate.N.part" for slot N. The names are
// the updater's own: no manifest entry may use them, and one left by an
// updater that is no longer running is removed.
extern const wchar_t kPartialDownloadName[];  // "qalUpdate.part"
constexpr int kDownloadSlots = 10;

// The partial file name of a slot.
bool FormPartialName(int slot, wchar_t* out, size_t capacity);

// The partial file name of a slot for a program the updater fetches and
// then starts (a new front door in its check mode): the partial name
// followed by ".exe". A program still running holds its file, so it must
// never share a name with the partial files of the manifest and the game.
bool FormProgramPartialName(int slot, wchar_t* out, size_t capacity);

// The directory part of the destination (up to its last "\" or "/") followed
// by the partial file name.
bool FormPartialPath(wchar_t* out, size_t capacity, const wchar_t* destination,
                     const wchar_t* partialName = kPartialDownloadName);

// The slot whose partial file (or program partial file) the last component
// of path names, as Windows compares names (any case, trailing dots and
// blanks ignored), or -1.
int PartialDownloadSlot(const wchar_t* path);
// Whether it names any slot's partial file.
bool NamesPartialDownload(const wchar_t* path);
