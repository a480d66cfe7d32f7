// Text forms the tool moves between: UTF-8 inside the tool, UTF-16 where the
// updater's own rules and limits apply, and the players' ANSI code page in the
// manifest.
#pragma once

#include <string>

// Whether text is well-formed UTF-8 (no overlong forms, surrogates or values
// beyond U+10FFFF).
bool IsValidUtf8(const std::string& text);

// The UTF-16 code units of a UTF-8 text, one per wchar_t on every platform:
// the updater counts its limits in Windows' 16-bit units, so a character
// beyond the BMP takes two here as it does there. False for text that is not
// valid UTF-8.
bool Utf8ToUtf16Units(const std::string& utf8, std::wstring* out);

// The inverse; false for unpaired surrogates.
bool Utf16UnitsToUtf8(const std::wstring& units, std::string* out);

// A name as it can be shown in a message: bytes that are not UTF-8 appear as
// <0xNN>, so a broken name is still told apart from its neighbours.
std::string ShowableName(const std::string& bytes);

// The encoding name the manifest declares for a code page: 936 is "GBK",
// 65001 "UTF-8", any other N "windows-N".
std::string EncodingNameOf(unsigned codePage);
