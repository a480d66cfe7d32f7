// The updater's one object: the update job and its progress window at once.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>

#include <tinyxml2.h>

#include "DownloadProgress.h"
#include "DownloadSlot.h"
#include "FileFetch.h"
#include "GdiPlusBitmap.h"
#include "ManifestReader.h"
#include "ScopedHandles.h"
#include "UpdateLocations.h"
#include "UpdatePlan.h"
#include "XWindow.h"

class CacheEntrySweeper;

class SimpleWindow : public XWindowImpl<SimpleWindow> {
public:
    // Progress window (ProgressDisplay.cpp).
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Paint();
    // Draws the background once into a bitmap like the window's (picture).
    void PreparePicture(HDC windowDc);

    // Update job (UpdateJob.cpp), on the main thread: fetch and read the
    // manifest, plan, show the window when anything is to be fetched, start
    // the worker. Asks for the end with code 100 when the update fails.
    void PrepareUpdate();
    // On the worker thread; ends the process one way or another.
    void RunDownloads();
    // Starts the micro-client, waits for it and ends the process (MicroClientLaunch.cpp).
    [[noreturn]] void LaunchMicroClient();

    wchar_t moduleDir[kPathCapacity] = {};
    wchar_t resourceBaseUrl[kPathCapacity] = {};
    wchar_t downloadDir[kPathCapacity] = {};
    wchar_t gameDir[kPathCapacity] = {};
    wchar_t versionText[kPathCapacity] = {};
    std::deque<const char*> pendingFiles;
    // In step with pendingFiles: each one's entry, whose digests prove the
    // download, and its local copy's digest.
    std::deque<PendingFile> pendingEntries;
    // The size of pendingFiles as the worker last left it; the painter reads
    // this instead of the queue the worker is changing.
    std::atomic<int> pendingCount{0};
    int totalFiles = 0;
    HWND progressBar = nullptr;
    HANDLE workerThread = nullptr;
    // Made when the window is created, released when it closes.
    std::unique_ptr<CGdiPlusBitmapResource> background;
    // The background as Paint copies it to the window.
    ScopedGdiObject<HBITMAP> picture;
    tinyxml2::XMLDocument manifest;
    // Whether the manifest was signed: each file must then match its
    // "sha256" as well.
    bool signedManifest = false;
    // Where the manifest keeps every file by its digest, below the resource
    // base ("objects/"), or null: owned by the manifest.
    const char* objectsPath = nullptr;
    // The files' status callback; the worker releases it after the last file.
    std::unique_ptr<DownloadProgress> downloadCallback;
    const char* commandLine = nullptr;
    // Whose partial files this updater writes, beside any other running.
    DownloadSlot downloadSlot;

private:
    // The addresses and paths of a manifest path; false when they cannot
    // be formed whole.
    bool FormTarget(const char* path, DownloadTarget* target) const;
    // The address of the entry's file among the manifest's objects; false
    // when the manifest keeps none or the entry lists no digest.
    bool FormObjectAddress(const ManifestEntry& entry, wchar_t* address) const;
    // The first address the next queued file will be fetched from, formed
    // into following, or null when nothing follows.
    const wchar_t* FirstAddressOfNext(DownloadTarget* following) const;
    // Makes the file from its local copy and a patch, when its entry offers
    // one for that copy; Failed, with a diagnostic line, when that does not
    // work out, so that the whole file is fetched instead.
    FetchOutcome FetchByPatchWhenOffered(const PendingFile& file, const DownloadTarget& target,
                                         CacheEntrySweeper* sweeper, const wchar_t* nextUrl);
    // A transfer would not end: it keeps its callback and its partial
    // files, and what follows gets new ones.
    void LeaveTransferBehind();
    // Shows "更新失败!" and, once it is answered, has the updater end with
    // code 100; false when the box could not be shown.
    bool ReportWorkerFailure();
};

// The window command that ends the updater with exit code 100.
constexpr WPARAM kCommandFailUpdate = 2013;

// Size of the background image, set when the window is created.
extern int imageWidth;
extern int imageHeight;
