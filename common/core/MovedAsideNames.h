// The running updater cannot be written in place (Windows refuses to
// replace the file of a running program), so a new one takes its place in
// two renames: the running image moves aside to "qalUpdate.exe.<8 hex
// digits>.old" beside it, then the new program moves in. A later run
// deletes the images moved aside once they are free; when a run was ended
// between the two renames, the launcher moves one back.
#pragma once

#include <cstddef>
#include <cstdint>

// "<program>.<8 lowercase hexadecimal digits of tag>.old"; false (and an
// empty text) when it does not fit.
bool FormMovedAsideName(wchar_t* out, std::size_t capacity, const wchar_t* program, uint32_t tag);

// Whether name (a file name, no directory) is one of program's moved-aside
// images, in any letter case, as Windows compares names.
bool IsMovedAsideName(const wchar_t* name, const wchar_t* program);

// The pattern that lists them in a directory listing (checked one by one
// with IsMovedAsideName: a listing's pattern also matches short names).
bool FormMovedAsidePattern(wchar_t* out, std::size_t capacity, const wchar_t* program);
