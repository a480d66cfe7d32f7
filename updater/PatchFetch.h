// Making a queued file from the player's older copy and a binary patch,
// instead of fetching it whole.
#pragma once

#include <windows.h>

#include "FileFetch.h"
#include "PatchRules.h"
#include "UpdatePlan.h"

class CacheEntrySweeper;
class DownloadProgress;

// The most a patch may make this updater hold: the older copy, and the new
// file's window beside it.
extern const uint64_t kPatchedFileLimit;

// Fetches the patch at patchUrl into patchPartial (a partial file name of
// this updater's own, outside the game directory), proves it by the offer's
// size and SHA-256, decodes it against the local copy at target.destination
// into target.partial, proves the result by expectedDigest (and
// expectedSha256 when given) and renames it over the destination. The
// player's copy is only read until the new file has proven itself.
// Replaced when the destination holds the new file; Failed, with *trouble
// saying why in a few words, when anything on the way went wrong (both
// partial files are gone, the destination is as it was); Abandoned when the
// patch's transfer was left behind, as FetchVerified says.
FetchOutcome FetchByPatch(const wchar_t* patchUrl, const wchar_t* patchPartial, const PatchOffer& offer,
                          const DownloadTarget& target, const char* expectedDigest, const char* expectedSha256,
                          DownloadProgress* progress, CacheEntrySweeper* sweeper, const wchar_t* nextUrl,
                          const char** trouble);
