// What each build of the updater fixes at build time: a test build links
// other values than the one players get (BuildSettings.cpp, compiled once
// for every updater program).
#pragma once

#include <windows.h>

// How long a transfer may receive nothing before it counts as failed.
extern const DWORD kDownloadStallLimitMs;

// How long the manifest's whole transfer may take: a server that trickles
// it keeps the silence limit from ending it, and while the manifest comes
// there is no window a player could close.
extern const DWORD kManifestTransferLimitMs;

// The resource server's base address, ending in "/".
extern const wchar_t kDefaultResourceBaseUrl[];

// The operator's manifest keys, each the Base64 of a P-256
// SubjectPublicKeyInfo, ending in a null. With none, manifests are taken
// unsigned, as they always were.
extern const char* const kBuiltInManifestKeys[];
