// Path forming for fixed-size wide buffers. A path that does not fit is
// refused, never shortened: a shortened path names a different file.
// No Windows API here, so the rules build and run natively as well.
#pragma once

#include <cstddef>

// Writes `first` followed by `second` into `out` (capacity in wide characters,
// terminator included). Returns false, leaving `out` empty, when the joined
// text would not fit.
bool JoinPath(wchar_t* out, std::size_t capacity, const wchar_t* first, const wchar_t* second);

// Writes `directory` into `out` ending in exactly one added backslash unless it
// already ends in one. Empty or unfit input: false, `out` empty.
bool DirectoryPrefixOf(wchar_t* out, std::size_t capacity, const wchar_t* directory);

// Number of leading characters of `path` that form its drive and directory,
// trailing separator included (what the runtime's path splitting yields as
// drive followed by directory).
std::size_t DirectoryPartLength(const wchar_t* path);

// Writes the drive and directory of `path` into `out`. False, `out` empty, when
// it does not fit.
bool DirectoryOfPath(wchar_t* out, std::size_t capacity, const wchar_t* path);
