// One URL download that cannot hold the updater for good.
#pragma once

#include <windows.h>

class DownloadProgress;

enum class Transfer {
    Ended,     // result holds what the download service answered
    Abandoned  // it would not end: it may still write path and call progress
};

// Downloads url into path with progress as the status callback. After
// kDownloadStallLimitMs of silence from the service, or totalLimitMs in all
// (0: no limit), the transfer is aborted and ends with E_ABORT. Not for two
// threads at once.
Transfer TransferWithinLimits(const wchar_t* url, const wchar_t* path, DownloadProgress* progress,
                              DWORD totalLimitMs, HRESULT* result);
