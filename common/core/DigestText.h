// The comparison rule between a computed digest and the one a manifest lists.
#pragma once

#include <cstddef>

// A computed MD5 digest as text: 32 hexadecimal digits and the terminator.
constexpr std::size_t kDigestTextCapacity = 33;

// True only when `expected` is exactly the 32-digit uppercase form of the
// lowercase `hexDigest`. A missing digest on either side never matches, so the
// file is fetched again.
bool DigestTextMatches(const char* hexDigest, const char* expected);

// Whether text is a digest as a manifest lists it: exactly 32 uppercase
// hexadecimal digits. Only such a digest can prove a download.
bool IsWellFormedDigest(const char* text);
