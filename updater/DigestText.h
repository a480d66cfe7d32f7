// The comparison rule between a computed digest and the one a manifest lists.
#pragma once

// True only when `expected` is exactly the 32-digit uppercase form of the
// lowercase `hexDigest`. A missing digest on either side never matches, so the
// file is fetched again.
bool DigestTextMatches(const char* hexDigest, const char* expected);
