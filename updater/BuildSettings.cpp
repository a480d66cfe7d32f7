#include "BuildSettings.h"

#ifndef QAL_DOWNLOAD_STALL_SECONDS
#error "QAL_DOWNLOAD_STALL_SECONDS must give the silence limit"
#endif
#ifndef QAL_MANIFEST_TRANSFER_SECONDS
#error "QAL_MANIFEST_TRANSFER_SECONDS must bound the manifest's transfer"
#endif
#ifndef QAL_RESOURCE_BASE_URL
#error "QAL_RESOURCE_BASE_URL must name the resource server"
#endif
#ifndef QAL_MANIFEST_KEYS_FILE
#error "QAL_MANIFEST_KEYS_FILE must name the generated list of manifest keys"
#endif

#define QAL_WIDEN2(text) L##text
#define QAL_WIDEN(text) QAL_WIDEN2(text)

const DWORD kDownloadStallLimitMs = DWORD(QAL_DOWNLOAD_STALL_SECONDS) * 1000;

const DWORD kManifestTransferLimitMs = DWORD(QAL_MANIFEST_TRANSFER_SECONDS) * 1000;

const wchar_t kDefaultResourceBaseUrl[] = QAL_WIDEN(QAL_RESOURCE_BASE_URL);

const char* const kBuiltInManifestKeys[] = {
#include QAL_MANIFEST_KEYS_FILE
    nullptr};
