// Kept apart so a test build can link a shorter limit than the one players get.
#include "FileFetch.h"

#ifndef QAL_DOWNLOAD_STALL_SECONDS
#define QAL_DOWNLOAD_STALL_SECONDS 60
#endif

const DWORD kDownloadStallLimitMs = DWORD(QAL_DOWNLOAD_STALL_SECONDS) * 1000;
