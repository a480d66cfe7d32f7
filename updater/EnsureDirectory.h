#pragma once

#include <windows.h>

// True when something exists at the path or the directory (with any missing
// parents) was created.
bool EnsureDirectory(const wchar_t* path);
