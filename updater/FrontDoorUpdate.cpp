#include "FrontDoorUpdate.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "BoundedText.h"
#include "DownloadProgress.h"
#include "DownloadSlot.h"
#include "FileDigest.h"
#include "FileFetch.h"
#include "FrontDoorCheck.h"
#include "FrontDoorOffers.h"
#include "InstallLayout.h"
#include "MovedAsideNames.h"
#include "ScopedHandles.h"
#include "UpdateLocations.h"

namespace {

// Set for the updater that takes this one's place, so that it never
// replaces the front door again in the same hand-off, whatever the
// manifest it fetches offers; it clears it before anything it starts
// could inherit it.
const wchar_t kHandedOverVariable[] = L"QALUPDATE_FRONT_DOOR_HANDED_OVER";

// A check answers at once; a program that shows a box or waits instead is
// not the one offered. Under emulation a 32-bit process takes seconds to
// start.
const DWORD kCheckLimitMs = 15000;
// The launcher ends right after its hand-off; Windows refuses to replace
// the file of a program still running.
const DWORD kLauncherWaitMs = 15000;

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane";

const char* const kThisArch = FrontDoorArch(sizeof(void*) == 8);

void Say(const char* name, const char* what)
{
    wchar_t line[512];
    _snwprintf(line, 512, L"qalUpdate: front door: %hs %hs\n", name, what);
    line[511] = L'\0';
    OutputDebugStringW(line);
}

bool ProgramPath(wchar_t* out, const wchar_t* moduleDir, const char* name)
{
    wchar_t wideName[32];
    return AnsiToWide(name, wideName, 32) && JoinText(out, kPathCapacity, moduleDir, wideName);
}

// Whether the program at path is the one offered: its size and MD5, and in
// a build with manifest keys its SHA-256 too.
bool IsOffered(const wchar_t* path, const FrontDoorOffer& offer, bool signedManifest)
{
    const ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    return file && GetFileSizeEx(file.Get(), &size) && uint64_t(size.QuadPart) == offer.size &&
           OpenFileMatchesDigests(file.Get(), offer.ver, signedManifest ? offer.sha256 : nullptr);
}

// Held by the one updater of the installation replacing its front door;
// another one running at the same time leaves the front door alone.
HANDLE TakeFrontDoorLock(unsigned long long installationKey)
{
    wchar_t name[64];
    _snwprintf(name, 64, L"Local\\qalUpdate-%016llx-frontdoor", installationKey);
    name[63] = L'\0';
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

// A fetched program, held open so that no one can change it between its
// proof and the rename that puts it in place.
struct Candidate {
    wchar_t path[kPathCapacity] = {};
    ScopedHandle file;

    void Discard()
    {
        if (file) {
            DeleteOpenFile(file.Get());
            file.Reset();
        }
        DeleteFileW(path);
    }
};

bool FetchCandidate(const FrontDoorOffer& offer, const FrontDoorSite& site, Candidate* candidate,
                    const char** trouble)
{
    char path[96];
    wchar_t widePath[96];
    wchar_t url[kAddressCapacity];
    if (!FormFrontDoorPath(path, sizeof path, offer) || !AnsiToWide(path, widePath, 96) ||
        !JoinText(url, kAddressCapacity, site.resourceBaseUrl, widePath) ||
        !JoinText(candidate->path, kPathCapacity, site.downloadDir, site.slot->ProgramPartialName())) {
        *trouble = "was not fetched (its address or partial file does not fit)";
        return false;
    }
    // A callback of its own that moves no bar: only to see error pages,
    // cut bodies and silent servers, as for every file.
    auto* progress = new DownloadProgress(nullptr);
    FetchOutcome fetched = FetchToPartial(url, candidate->path, progress);
    if (fetched == FetchOutcome::Abandoned) {
        // It may still write its partial file and call its callback: both
        // stay its own, and what follows gets a slot of its own.
        site.slot->MoveOn();
        *trouble = "was not fetched (its transfer would not end)";
        return false;
    }
    delete progress;
    if (fetched != FetchOutcome::Replaced) {
        *trouble = "was not fetched (no whole answer with a success status)";
        return false;
    }
    candidate->file.Reset(CreateFileW(candidate->path, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!candidate->file || !GetFileSizeEx(candidate->file.Get(), &size) || uint64_t(size.QuadPart) != offer.size) {
        candidate->Discard();
        *trouble = "was not taken (the download is not of the listed size)";
        return false;
    }
    // Its SHA-256 whenever listed: reading it can only refuse a wrong program.
    if (!OpenFileMatchesDigests(candidate->file.Get(), offer.ver, offer.sha256)) {
        candidate->Discard();
        *trouble = "was not taken (the download does not match its listed digests)";
        return false;
    }
    return true;
}

uint32_t FreshChallenge()
{
    uint32_t challenge = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&challenge), sizeof challenge,
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        challenge = uint32_t(now.QuadPart) ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
    }
    return challenge;
}

// A job that ends the programs in it when its last handle closes: when this
// updater ends, however it ends, a check that hangs ends with it instead of
// holding its file. Null where the system does not allow one here (Windows 7
// in a job of its own already): the check is then bounded while this
// updater runs.
HANDLE JobEndingWithThisProcess()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// Starts the fetched program in its check mode, hidden, and waits a few
// seconds for its answer.
bool PassesCheck(const Candidate& candidate, const char* name, const wchar_t* manifestPath, const char** trouble)
{
    const uint32_t challenge = FreshChallenge();
    std::wstring commandLine = L"\"" + std::wstring(candidate.path) + L"\" " +
                               FormFrontDoorCheckArguments(challenge, manifestPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    const ScopedHandle job(JobEndingWithThisProcess());
    if (!CreateProcessW(candidate.path, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &process)) {
        *trouble = "was not taken (it does not start)";
        return false;
    }
    const ScopedHandle processHandle(process.hProcess);
    if (job)
        AssignProcessToJobObject(job.Get(), processHandle.Get());
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    if (WaitForSingleObject(processHandle.Get(), kCheckLimitMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), 1);
        WaitForSingleObject(processHandle.Get(), 5000);
        *trouble = "was not taken (it did not answer its check in time)";
        return false;
    }
    DWORD answer = 0;
    if (!GetExitCodeProcess(processHandle.Get(), &answer) || answer != FrontDoorCheckAnswer(name, kThisArch, challenge)) {
        *trouble = "was not taken (it failed its check)";
        return false;
    }
    return true;
}

bool FetchProvenProgram(const FrontDoorOffer& offer, const FrontDoorSite& site, const wchar_t* manifestPath,
                        Candidate* candidate, const char** trouble)
{
    if (!FetchCandidate(offer, site, candidate, trouble))
        return false;
    if (!PassesCheck(*candidate, offer.name, manifestPath, trouble)) {
        candidate->Discard();
        return false;
    }
    return true;
}

// The launcher has handed off and is ending: its file is replaced in one
// rename once it is free, so it is always wholly the old or the new one.
void ReplaceLauncher(const FrontDoorOffer& offer, const FrontDoorSite& site, const wchar_t* launcherPath)
{
    Candidate candidate;
    const char* trouble = nullptr;
    if (!FetchProvenProgram(offer, site, nullptr, &candidate, &trouble)) {
        Say(offer.name, trouble);
        return;
    }
    if (!RenameOpenFile(candidate.file.Get(), launcherPath, kLauncherWaitMs)) {
        candidate.Discard();
        Say(offer.name, "was not replaced (its file stayed busy, or the rename was refused)");
        return;
    }
    Say(offer.name, "replaced");
}

// Windows never lets the file of a running program be replaced, but lets
// it be renamed: the running image moves aside and the new one moves in.
// Between the two renames there is no updater at its path; a run ended
// there leaves the image aside, which the launcher moves back.
bool PutUpdaterInPlace(Candidate* candidate, const wchar_t* updaterPath, const wchar_t* moduleDir)
{
    wchar_t asideName[64];
    wchar_t asidePath[kPathCapacity];
    if (!FormMovedAsideName(asideName, 64, kUpdaterFileName, GetCurrentProcessId()) ||
        !JoinText(asidePath, kPathCapacity, moduleDir, asideName))
        return false;
    // One left by an earlier run of this process id is no one's any more.
    DeleteFileW(asidePath);
    const bool present = GetFileAttributesW(updaterPath) != INVALID_FILE_ATTRIBUTES;
    if (present && !MoveFileExW(updaterPath, asidePath, 0))
        return false;
    if (RenameOpenFile(candidate->file.Get(), updaterPath, 0)) {
        candidate->file.Reset();
        return true;
    }
    if (present)
        MoveFileExW(asidePath, updaterPath, 0);
    return false;
}

// The new updater goes on with exactly this one's command line.
bool StartSuccessor(const wchar_t* updaterPath, PROCESS_INFORMATION* process)
{
    std::wstring commandLine = GetCommandLineW();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    SetEnvironmentVariableW(kHandedOverVariable, L"1");
    BOOL started = CreateProcessW(updaterPath, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, process);
    SetEnvironmentVariableW(kHandedOverVariable, nullptr);
    return started != FALSE;
}

// This one waits for its successor and ends with its exit code, so whoever
// waits for the updater still learns how the update ended.
[[noreturn]] void EndWithSuccessor(const PROCESS_INFORMATION& process)
{
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 100;
    GetExitCodeProcess(process.hProcess, &exitCode);
    ExitProcess(exitCode);
}

// Images moved aside by earlier runs, once no process runs them any more
// (Windows refuses to delete the file of a running program). Never while
// there is no updater at its path: an image aside is then the one the
// launcher moves back.
void RemoveFreeMovedAsideImages(const wchar_t* moduleDir)
{
    wchar_t updaterPath[kPathCapacity];
    wchar_t pattern[kPathCapacity];
    wchar_t patternName[64];
    if (!JoinText(updaterPath, kPathCapacity, moduleDir, kUpdaterFileName) ||
        GetFileAttributesW(updaterPath) == INVALID_FILE_ATTRIBUTES ||
        !FormMovedAsidePattern(patternName, 64, kUpdaterFileName) ||
        !JoinText(pattern, kPathCapacity, moduleDir, patternName))
        return;
    WIN32_FIND_DATAW found;
    const ScopedFindHandle listing(FindFirstFileW(pattern, &found));
    if (!listing)
        return;
    do {
        wchar_t path[kPathCapacity];
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            IsMovedAsideName(found.cFileName, kUpdaterFileName) &&
            JoinText(path, kPathCapacity, moduleDir, found.cFileName))
            DeleteFileW(path);
    } while (FindNextFileW(listing.Get(), &found));
}

bool IdentifyDirectory(const wchar_t* path, BY_HANDLE_FILE_INFORMATION* info)
{
    const ScopedHandle directory(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return directory && GetFileInformationByHandle(directory.Get(), info) &&
           (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One directory, however each path names it (another drive letter mapped
// to it, a short name, another case): the same file on the same volume.
bool SameDirectory(const wchar_t* first, const wchar_t* second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    return IdentifyDirectory(first, &a) && IdentifyDirectory(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The installer's "Apps & features" entry shows the front door's version:
// only the entry of this installation, and only when it is there.
void FollowWithInstalledVersion(const wchar_t* moduleDir, const char* version)
{
    wchar_t wideVersion[32];
    if (!version || !AnsiToWide(version, wideVersion, 32))
        return;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &raw) != ERROR_SUCCESS)
        return;
    const ScopedRegistryKey key(raw);
    auto readText = [&key](const wchar_t* name, wchar_t* out, DWORD capacity) {
        DWORD type = 0, bytes = (capacity - 1) * sizeof(wchar_t);
        if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            return false;
        out[bytes / sizeof(wchar_t)] = L'\0';
        return true;
    };
    wchar_t location[kPathCapacity + 1];
    wchar_t shown[64];
    if (!readText(L"InstallLocation", location, kPathCapacity + 1) || !SameDirectory(location, moduleDir))
        return;
    if (readText(L"DisplayVersion", shown, 64) && std::wcscmp(shown, wideVersion) == 0)
        return;
    RegSetValueExW(key.Get(), L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(wideVersion),
                   DWORD((std::wcslen(wideVersion) + 1) * sizeof(wchar_t)));
}

// The version the offers of this architecture carry, when they agree.
const char* OfferedVersion(const FrontDoorOffer* launcher, const FrontDoorOffer* updater)
{
    const char* version = nullptr;
    for (const FrontDoorOffer* offer : {launcher, updater}) {
        if (!offer || !offer->version)
            continue;
        if (version && std::strcmp(version, offer->version) != 0)
            return nullptr;
        version = offer->version;
    }
    return version;
}

}  // namespace

void BringFrontDoorCurrent(tinyxml2::XMLDocument& manifest, const FrontDoorSite& site)
{
    wchar_t handedOver[4];
    const bool wasHandedOver = GetEnvironmentVariableW(kHandedOverVariable, handedOver, 4) > 0;
    if (wasHandedOver)
        SetEnvironmentVariableW(kHandedOverVariable, nullptr);
    RemoveFreeMovedAsideImages(site.moduleDir);

    const std::vector<FrontDoorOffer> offers = FrontDoorOffers(manifest, site.signedManifest);
    if (offers.empty())
        return;
    const FrontDoorOffer* launcher = FrontDoorOfferFor(offers, kThisArch, kLauncherProgramName);
    const FrontDoorOffer* updater = FrontDoorOfferFor(offers, kThisArch, kUpdaterProgramName);
    if (!launcher && !updater) {
        Say(kThisArch, "programs are not offered; the front door stays as it is");
        return;
    }
    wchar_t launcherPath[kPathCapacity];
    wchar_t updaterPath[kPathCapacity];
    if (!ProgramPath(launcherPath, site.moduleDir, kLauncherProgramName) ||
        !ProgramPath(updaterPath, site.moduleDir, kUpdaterProgramName)) {
        Say(kThisArch, "programs' paths do not fit; the front door stays as it is");
        return;
    }
    auto current = [&](const FrontDoorOffer* offer, const wchar_t* path) {
        return !offer || IsOffered(path, *offer, site.signedManifest);
    };
    if (wasHandedOver) {
        // At most once a hand-off: even a manifest that keeps offering
        // something else never makes the updaters replace each other in turn.
        if (current(launcher, launcherPath) && current(updater, updaterPath))
            FollowWithInstalledVersion(site.moduleDir, OfferedVersion(launcher, updater));
        else
            Say(kThisArch, "programs still differ from the offer after a hand-over; left as they are");
        return;
    }
    ScopedHandle lock(TakeFrontDoorLock(site.slot->InstallationKey()));
    if (!lock) {
        Say(kThisArch, "programs are being replaced by another updater; left to it");
        return;
    }
    if (!current(launcher, launcherPath))
        ReplaceLauncher(*launcher, site, launcherPath);
    if (!current(updater, updaterPath)) {
        Candidate candidate;
        const char* trouble = nullptr;
        if (!FetchProvenProgram(*updater, site, site.manifestPath, &candidate, &trouble)) {
            Say(updater->name, trouble);
        } else if (!PutUpdaterInPlace(&candidate, updaterPath, site.moduleDir)) {
            candidate.Discard();
            Say(updater->name, "was not replaced (a rename was refused)");
        } else {
            PROCESS_INFORMATION successor = {};
            if (StartSuccessor(updaterPath, &successor)) {
                Say(updater->name, "replaced; the new one goes on");
                // Nothing this process holds is needed any more.
                lock.Reset();
                manifest.Clear();
                EndWithSuccessor(successor);
            }
            // It proved it starts: a failure here is passing, and it is
            // there for the next start.
            Say(updater->name, "replaced, but not started now; this one goes on");
        }
    }
    if (current(launcher, launcherPath) && current(updater, updaterPath))
        FollowWithInstalledVersion(site.moduleDir, OfferedVersion(launcher, updater));
}
