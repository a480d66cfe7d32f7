// The update job: fetch and read the manifest, decide what to fetch, and
// fetch it on one worker thread.
#include "SimpleWindow.h"

#include <shlwapi.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstdlib>
#include <cwchar>
#include <vector>

#include "AnsiText.h"
#include "BuildSettings.h"
#include "CacheEntrySweeper.h"
#include "DownloadProgress.h"
#include "EnsureDirectory.h"
#include "FileDigest.h"
#include "FileFetch.h"
#include "InstallLayout.h"
#include "ManifestGate.h"
#include "FrontDoorUpdate.h"
#include "ManifestReader.h"
#include "ObjectStore.h"
#include "PatchFetch.h"
#include "PatchRules.h"
#include "ScopedHandles.h"
#include "UpdatePlan.h"

namespace {

const wchar_t kUpdateFailedText[] = L"更新失败!";
const wchar_t kWarningCaption[] = L"警告";

// One level only, as preparing the update always did: the download and game
// directories sit beside the updater, whose own directory exists. The
// recursive EnsureDirectory is for the directories inside a file's path.
void CreateDirectoryIfMissing(const wchar_t* path)
{
    WIN32_FIND_DATAW found;
    if (ScopedFindHandle(FindFirstFileW(path, &found)) && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    CreateDirectoryW(path, nullptr);
}

// Answers true when the failure box was answered; the caller then ends the
// update. A box that cannot be shown lets the job go on.
bool ShowUpdateFailed(HWND owner)
{
    return MessageBoxW(owner, kUpdateFailedText, kWarningCaption, MB_OK) == IDOK;
}

// A failure before the worker starts: the box, then the end of the program
// with code 100, whatever the box answered.
void EndWithUpdateFailure(HWND owner)
{
    ShowUpdateFailed(owner);
    PostQuitMessage(100);
}

DWORD WINAPI DownloadThreadProc(LPVOID parameter)
{
    static_cast<SimpleWindow*>(parameter)->RunDownloads();
    return 0;
}

}  // namespace

void SimpleWindow::PrepareUpdate()
{
    wchar_t modulePath[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    bool located = length > 0 && length < MAX_PATH && DirectoryOfPath(moduleDir, kPathCapacity, modulePath);
    // An installation whose directories do not fit is not guessed at.
    if (!located || !JoinText(downloadDir, kPathCapacity, moduleDir, kDownloadDirectoryName, L"/") ||
        !JoinText(gameDir, kPathCapacity, moduleDir, kGameDirectoryName, L"/")) {
        EndWithUpdateFailure(nullptr);
        return;
    }
    CreateDirectoryIfMissing(downloadDir);
    CreateDirectoryIfMissing(gameDir);
    if (!downloadSlot.Take(moduleDir)) {
        EndWithUpdateFailure(nullptr);
        return;
    }
    // A run ended mid-download (window closed, process ended) may have left
    // its partial files; this run neither keeps nor trips over them, and
    // leaves those of an updater still running alone.
    downloadSlot.RemoveStalePartials({downloadDir, gameDir});
    JoinText(resourceBaseUrl, kPathCapacity, kDefaultResourceBaseUrl, nullptr);

    wchar_t manifestUrl[kAddressCapacity];
    wchar_t manifestPath[kPathCapacity];
    wchar_t manifestPartialPath[kPathCapacity];
    if (!JoinText(manifestUrl, kAddressCapacity, resourceBaseUrl, L"qupdater.xml") ||
        !JoinText(manifestPath, kPathCapacity, downloadDir, L"qupdater.xml") ||
        !FormPartialPath(manifestPartialPath, kPathCapacity, manifestPath, downloadSlot.PartialName())) {
        EndWithUpdateFailure(nullptr);
        return;
    }

    // The manifest gets a callback of its own that moves no bar: only so an
    // error page, a cut body or a silent server is not taken for the
    // manifest. It is not freed: a transfer given up on may still call it.
    // Having no digest, a manifest proves itself by loading (and, in a
    // build with manifest keys, by its signature and sequence): a body cut
    // short or forged never replaces the last good one. The document the
    // plan refers to is the one read from those proven bytes.
    auto* manifestProgress = new DownloadProgress(nullptr);
    ManifestGate gate;
    gate.RememberKeptManifest(manifestPath);
    ManifestVerdict verdict = ManifestVerdict::Refused;
    auto manifestAdmitted = [this, &gate, &verdict](HANDLE partial) {
        verdict = gate.Admit(partial, &manifest);
        return verdict == ManifestVerdict::Admitted;
    };
    FetchOutcome fetched = FetchVerified(manifestUrl, manifestPath, manifestPartialPath, nullptr, nullptr,
                                         manifestProgress, manifestAdmitted, kManifestTransferLimitMs);
    if (fetched == FetchOutcome::Failed && verdict == ManifestVerdict::Older) {
        // A cache (a CDN's edge) still serving an earlier publish is no
        // failure: the kept manifest, proven again from the disk, is the
        // newest this player may take, and stays as it is.
        if (gate.Admit(manifestPath, &manifest) == ManifestVerdict::Admitted) {
            OutputDebugStringW(L"qalUpdate: the server's manifest is older than the one kept; "
                               L"updating to the kept one\n");
            fetched = FetchOutcome::Replaced;
        }
    }
    if (fetched != FetchOutcome::Replaced) {
        // A transfer left behind keeps its file: nothing after it shares it.
        if (fetched == FetchOutcome::Abandoned && !downloadSlot.MoveOn()) {
            EndWithUpdateFailure(nullptr);
            return;
        }
        if (ShowUpdateFailed(nullptr)) {
            PostQuitMessage(100);
            return;
        }
        // The box could not be shown: the job goes on with the manifest the
        // last good run kept, which must pass the same gate.
        if (gate.Admit(manifestPath, &manifest) != ManifestVerdict::Admitted) {
            EndWithUpdateFailure(hwnd);
            return;
        }
    }

    std::wstring version = AnsiToWideWhole(ManifestVersion(manifest));
    CopyTextCut(versionText, kPathCapacity, version.c_str());

    // Without manifest keys a "sha256" is not read at all, as before.
    signedManifest = gate.RequiresSignature();
    objectsPath = ManifestObjectsPath(manifest);

    // The launcher and this updater first: a front door that differs from
    // the one offered is replaced, and a new updater goes on in this one's
    // place. Whatever goes wrong there, the game's update goes on as ever.
    FrontDoorSite site{moduleDir, downloadDir, resourceBaseUrl, manifestPath, signedManifest, &downloadSlot};
    BringFrontDoorCurrent(manifest, site);
    PlanOutcome outcome = PlanDownloads(
        ManifestEntries(manifest), resourceBaseUrl, gameDir,
        [](const char* text, wchar_t* out, size_t capacity) { return AnsiToWide(text, out, capacity); },
        [](const wchar_t* localPath, char* hexDigest) { return DigestLocalFile(localPath, hexDigest); },
        &pendingFiles, &pendingEntries, downloadSlot.PartialName());
    if (outcome != PlanOutcome::Ready) {
        // Nothing has been written or fetched for any entry.
        EndWithUpdateFailure(nullptr);
        return;
    }

    totalFiles = int(pendingFiles.size());
    pendingCount.store(totalFiles, std::memory_order_release);
    downloadCallback.reset();

    if (totalFiles > 0) {
        Create();
        ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
        downloadCallback = std::make_unique<DownloadProgress>(progressBar);
    }

    workerThread = CreateThread(nullptr, 0, DownloadThreadProc, this, 0, nullptr);
}

bool SimpleWindow::ReportWorkerFailure()
{
    if (!ShowUpdateFailed(nullptr))
        return false;
    // The quit must reach the main thread's loop: the window answers this
    // command there with exit code 100. Without a window to carry it the
    // worker ends the process itself.
    if (!hwnd || !PostMessageW(hwnd, WM_COMMAND, kCommandFailUpdate, 0))
        ExitProcess(100);
    return true;
}

bool SimpleWindow::FormTarget(const char* path, DownloadTarget* target) const
{
    // A name that cannot be formed whole is a failed download, never a
    // shortened one.
    wchar_t widePath[kPathCapacity];
    return AnsiToWide(path, widePath, kPathCapacity) &&
           FormDownloadTarget(target, resourceBaseUrl, gameDir, widePath, downloadSlot.PartialName());
}

FetchOutcome SimpleWindow::FetchByPatchWhenOffered(const PendingFile& file, const DownloadTarget& target,
                                                   CacheEntrySweeper* sweeper, const wchar_t* nextUrl)
{
    // The one choice between a patch and the whole file: a patch only for a
    // local copy whose digest an offer names, and in a build with manifest
    // keys only an offer whose SHA-256 the signature covers.
    if (!file.localDigest[0])
        return FetchOutcome::Failed;
    std::vector<PatchOffer> offers = PatchOffers(file.entry, signedManifest);
    const PatchOffer* offer = PatchFor(offers, file.localDigest);
    if (!offer)
        return FetchOutcome::Failed;

    // "patch/", two digests, "-" and ".zst".
    char patchPath[6 + 32 + 1 + 32 + 4 + 1];
    wchar_t widePatchPath[sizeof patchPath];
    wchar_t patchUrl[kAddressCapacity];
    wchar_t patchPartial[kPathCapacity];
    const char* trouble = "its address does not fit";
    FetchOutcome fetched = FetchOutcome::Failed;
    // The patch is fetched beside the manifest, never into the game.
    if (FormPatchPath(patchPath, sizeof patchPath, offer->from, file.entry.expectedDigest) &&
        AnsiToWide(patchPath, widePatchPath, sizeof patchPath) &&
        JoinText(patchUrl, kAddressCapacity, resourceBaseUrl, widePatchPath) &&
        JoinText(patchPartial, kPathCapacity, downloadDir, downloadSlot.PartialName()))
        fetched = FetchByPatch(patchUrl, patchPartial, *offer, target, file.entry.expectedDigest,
                               signedManifest ? file.entry.sha256 : nullptr, downloadCallback.get(), sweeper,
                               nextUrl, &trouble);
    if (fetched == FetchOutcome::Abandoned)
        trouble = "its transfer would not end";
    if (fetched != FetchOutcome::Replaced) {
        wchar_t line[1024];
        _snwprintf(line, 1024, L"qalUpdate: the patch for %hs was not used (%hs); fetching the whole file\n",
                   file.entry.path, trouble);
        line[1023] = L'\0';
        OutputDebugStringW(line);
    }
    return fetched;
}

bool SimpleWindow::FormObjectAddress(const ManifestEntry& entry, wchar_t* address) const
{
    char objectPath[kMaxObjectsPathLength + kDigestTextCapacity];
    wchar_t wideObjectPath[sizeof objectPath];
    return objectsPath && FormObjectPath(objectPath, sizeof objectPath, objectsPath, entry.expectedDigest) &&
           AnsiToWide(objectPath, wideObjectPath, sizeof objectPath) &&
           JoinText(address, kAddressCapacity, resourceBaseUrl, wideObjectPath);
}

const wchar_t* SimpleWindow::FirstAddressOfNext(DownloadTarget* following) const
{
    if (pendingFiles.empty() || !FormTarget(pendingFiles.front(), following))
        return nullptr;
    // Where the next fetch asks first: its object when it has one.
    wchar_t object[kAddressCapacity];
    if (FormObjectAddress(pendingEntries.front().entry, object))
        JoinText(following->address, kAddressCapacity, object, nullptr);
    return following->address;
}

void SimpleWindow::LeaveTransferBehind()
{
    static_cast<void>(downloadCallback.release());
    downloadCallback = std::make_unique<DownloadProgress>(progressBar);
    if (!downloadSlot.MoveOn()) {
        ShowUpdateFailed(nullptr);
        ExitProcess(100);
    }
}

void SimpleWindow::RunDownloads()
{
    DownloadTarget target;
    DownloadTarget following;
    CacheEntrySweeper sweeper;

    while (!pendingFiles.empty()) {
        const char* path = pendingFiles.front();
        pendingFiles.pop_front();
        const PendingFile file = pendingEntries.front();
        pendingEntries.pop_front();
        pendingCount.store(int(pendingFiles.size()), std::memory_order_release);
        // Created with the window whenever something is queued; a callback
        // is needed all the same to see failures and silent servers.
        if (!downloadCallback)
            downloadCallback = std::make_unique<DownloadProgress>(nullptr);

        // Formed afresh rather than kept from the turn before, when only
        // its address was needed: a transfer abandoned since then has moved
        // the slot on, and with it the partial file's name.
        FetchOutcome fetched = FetchOutcome::Failed;
        bool formed = FormTarget(path, &target);
        if (formed) {
            const wchar_t* nextUrl = FirstAddressOfNext(&following);
            EnsureDirectory(target.parent);
            const char* sha256 = signedManifest ? file.entry.sha256 : nullptr;
            // A patch first, then the file's object, then its game/ address:
            // each road taken only when the one before made nothing that
            // proves, and under the new slot's name when its transfer was
            // left behind.
            fetched = FetchByPatchWhenOffered(file, target, &sweeper, nextUrl);
            if (fetched == FetchOutcome::Abandoned) {
                LeaveTransferBehind();
                formed = FormTarget(path, &target);
                fetched = FetchOutcome::Failed;
            }
            wchar_t objectAddress[kAddressCapacity];
            if (fetched == FetchOutcome::Failed && formed && FormObjectAddress(file.entry, objectAddress)) {
                fetched = FetchVerified(objectAddress, target.destination, target.partial, file.entry.expectedDigest,
                                        sha256, downloadCallback.get(), nullptr, 0, &sweeper, nextUrl);
                if (fetched == FetchOutcome::Abandoned) {
                    LeaveTransferBehind();
                    formed = FormTarget(path, &target);
                    fetched = FetchOutcome::Failed;
                }
                if (fetched == FetchOutcome::Failed) {
                    wchar_t line[1024];
                    _snwprintf(line, 1024, L"qalUpdate: %hs did not come from its object address; "
                                           L"fetching it from game/\n", file.entry.path);
                    line[1023] = L'\0';
                    OutputDebugStringW(line);
                }
            }
            if (fetched == FetchOutcome::Failed && formed)
                fetched = FetchVerified(target.address, target.destination, target.partial,
                                        file.entry.expectedDigest, sha256, downloadCallback.get(), nullptr, 0,
                                        &sweeper, nextUrl);
        }
        if (fetched != FetchOutcome::Replaced)
            sweeper.Settle();
        if (fetched == FetchOutcome::Abandoned) {
            // The transfer left behind may still write its partial file and
            // call its callback: both stay its own, and what follows gets
            // new ones.
            LeaveTransferBehind();
        }
        if (fetched != FetchOutcome::Replaced && ReportWorkerFailure())
            return;  // fetch nothing more; the main thread ends the process
        // A null handle here would repaint every window of the desktop.
        if (hwnd)
            InvalidateRect(hwnd, nullptr, TRUE);
    }

    sweeper.Settle();
    downloadCallback.reset();
    LaunchMicroClient();
}
