// Content-addressed copies of the game's files. A manifest whose root
// carries objects="objects/" promises every listed file also at
// <resource base><objects><its MD5 digest>: an address whose bytes never
// change, which a CDN may keep for ever, unlike game/<path>, which every
// version rewrites.
#pragma once

#include <cstddef>

#include <tinyxml2.h>

// A path below the resource base, ending in "/": one or more names of
// ASCII letters, digits, ".", "_" and "-", none "." or "..", each followed
// by "/", at most kMaxObjectsPathLength characters in all. Nothing else can
// reach a URL unescaped or leave the base.
constexpr std::size_t kMaxObjectsPathLength = 128;
bool IsWellFormedObjectsPath(const char* text);

// The root's "objects" when it is well formed, else null (the files are
// then fetched from game/ as they always were).
const char* ManifestObjectsPath(const tinyxml2::XMLDocument& manifest);

// objects + ver, for an entry whose "ver" is a well-formed digest; false
// (and an empty text) otherwise or when it does not fit.
bool FormObjectPath(char* out, std::size_t capacity, const char* objects, const char* ver);
