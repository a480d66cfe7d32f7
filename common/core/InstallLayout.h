// The names both programs agree on: what lies beside them in the game's
// installation directory. No Windows API here; both programs' cores use it.
#pragma once

// The game files and the micro-client; the updater fills it, the launcher's
// repair deletes it.
inline constexpr wchar_t kGameDirectoryName[] = L"game";
// Where the updater keeps the fetched manifest.
inline constexpr wchar_t kDownloadDirectoryName[] = L"download";
// The game's micro-client, at the top of the game directory.
inline constexpr wchar_t kMicroClientFileName[] = L"PelMicroLauncher.exe";
// The updater, beside the launcher.
inline constexpr wchar_t kUpdaterFileName[] = L"qalUpdate.exe";
