// The updater replaces itself in two renames (its running image aside, the
// new one in); a run ended between them leaves no qalUpdate.exe, and then
// no start could ever reach the updater that would mend it. The launcher,
// which every start runs first, moves an image aside back.
#pragma once

// When there is no file at updaterPath, moves one of the updater's images
// moved aside in directory (ending in "\") back to it. True when an
// updater is there afterwards.
bool RestoreMovedAsideUpdater(const wchar_t* directory, const wchar_t* updaterPath);
