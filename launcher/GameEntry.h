// The game-entry hand-off: starts the updater with the entry address and ends
// the launcher.
#pragma once

#include "InstallLayout.h"

// Destroys the browser host, starts launcherDir's qalUpdate.exe through the
// shell and posts the quit message (code 100).
void LaunchUpdater(const wchar_t* entryAddress);
