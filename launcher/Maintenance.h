// The panel's two maintenance actions: clearing the browser's temporary files
// and repairing the installation (ending the micro-client, deleting "game").
#pragma once

#include <windows.h>

#include "InstallLayout.h"

void ClearBrowserTraces();
// `owner` owns the confirmation box.
void RepairInstallation(HWND owner);
// Ends every process whose executable is exactly "PelMicroLauncher.exe".
void KillMicroClientProcesses();
// Deletes `directory` with everything below it. 1 when the directory was
// found and walked, 0 otherwise.
int DeleteDirectoryTree(const wchar_t* directory);
