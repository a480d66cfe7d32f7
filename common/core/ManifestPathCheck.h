// Whether a path read from the update manifest stays inside the game directory.
#pragma once

// The manifest comes from the network: a path that is absolute, names a drive
// or a share, carries a stream or device colon, or climbs with ".." would make
// the updater write outside the game directory, and a component that Windows
// reads as a device (CON, AUX, NUL, COM1, LPT9.log, ...) would open the device
// instead of a file. Empty paths name no file.
bool IsSafeManifestPath(const wchar_t* path);
