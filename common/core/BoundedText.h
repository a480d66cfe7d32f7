// Text and path forming for fixed-size wide buffers, for both programs and
// the manifest publisher. A text that does not fit is refused, never
// shortened: a shortened path or address names a different file.
// No Windows API here, so the rules build and run natively as well.
#pragma once

#include <cstddef>

// The programs' path buffers: MAX_PATH wide characters, terminator included.
constexpr std::size_t kPathCapacity = 260;

// out = first + second (+ third); a null piece counts as empty. `capacity`
// counts the terminator. Returns false, leaving `out` empty, when the joined
// text would not fit.
bool JoinText(wchar_t* out, std::size_t capacity, const wchar_t* first, const wchar_t* second,
              const wchar_t* third = nullptr);

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

// Copies at most capacity - 1 characters; only for texts that are shown,
// never for a path or an address.
void CopyTextCut(wchar_t* out, std::size_t capacity, const wchar_t* text);
