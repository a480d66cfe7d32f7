// Conversions between the 8-bit texts the updater receives (argument text,
// manifest values, names for the runtime's file functions) and wide text, in
// the calling thread's ANSI code page, never as UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Whole text into out (capacity counts the terminator); false, with out
// empty, when it cannot be converted or does not fit.
bool AnsiToWide(const char* text, wchar_t* out, size_t capacity);

// The whole text, however long; empty for a null or unconvertible text.
std::wstring AnsiToWideWhole(const char* text);

// Wide to 8-bit, the whole text with its terminator, in a buffer as large as
// the converter asks for; false (out empty) when the conversion fails.
bool WideToAnsi(const wchar_t* text, std::vector<char>* out);
// The same in a given code page.
bool WideToCodePage(unsigned codePage, const wchar_t* text, std::vector<char>* out);
