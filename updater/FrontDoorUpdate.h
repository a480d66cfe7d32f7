// Brings the launcher and the updater beside it to the programs the
// manifest offers for this build's architecture, before the game is
// planned. A new program is fetched, proven by its size and digests, and
// started in its check mode before it takes the place of the old one; any
// trouble keeps the program there and is one diagnostic line, never a
// failure of the update. A new updater is started in this one's place with
// the same command line, and this process ends with its exit code.
#pragma once

#include <tinyxml2.h>

class DownloadSlot;

struct FrontDoorSite {
    const wchar_t* moduleDir;        // the programs' directory, ending in "\"
    const wchar_t* downloadDir;      // where offers are fetched to
    const wchar_t* resourceBaseUrl;  // ending in "/"
    const wchar_t* manifestPath;     // the manifest just accepted, kept on disk
    bool signedManifest;             // offers must then list their SHA-256
    DownloadSlot* slot;              // whose partial name a fetch writes
};

// Returns when this process goes on with the game. When a new updater took
// over, this process releases the manifest, waits for it and ends with its
// exit code.
void BringFrontDoorCurrent(tinyxml2::XMLDocument& manifest, const FrontDoorSite& site);
