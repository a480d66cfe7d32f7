#include "UpdatePlan.h"

#include "ManifestPathCheck.h"

bool FormDownloadTarget(DownloadTarget* target, const wchar_t* resourceBase, const wchar_t* gameDir,
                        const wchar_t* path, const wchar_t* partialName)
{
    if (!IsSafeManifestPath(path))
        return false;
    return FormFileAddress(target->address, kAddressCapacity, resourceBase, path) &&
           FormDestination(target->destination, kPathCapacity, gameDir, path) &&
           FormParentDirectory(target->parent, kPathCapacity, target->destination) &&
           FormPartialPath(target->partial, kPathCapacity, target->destination, partialName);
}

PlanOutcome PlanDownloads(const std::vector<ManifestEntry>& entries, const wchar_t* resourceBase,
                          const wchar_t* gameDir, const WidenText& widen,
                          const LocalFileDigest& digestOf, std::deque<const char*>* pending,
                          std::deque<PendingFile>* pendingFiles, const wchar_t* partialName)
{
    wchar_t path[kPathCapacity];
    DownloadTarget target;

    // Every path is judged before any local file is read or anything fetched.
    bool formable = true;
    for (const ManifestEntry& entry : entries) {
        if (!widen(entry.path, path, kPathCapacity)) {
            formable = false;
            continue;
        }
        if (!IsSafeManifestPath(path) || NamesPartialDownload(path))
            return PlanOutcome::UnsafePath;
        if (!FormDestination(target.destination, kPathCapacity, gameDir, path))
            formable = false;
    }
    if (!formable)
        return PlanOutcome::UnformablePath;

    std::deque<const char*> queued;
    std::deque<PendingFile> queuedFiles;
    for (const ManifestEntry& entry : entries) {
        widen(entry.path, path, kPathCapacity);
        FormDestination(target.destination, kPathCapacity, gameDir, path);
        PendingFile file;
        file.entry = entry;
        if (!digestOf(target.destination, file.localDigest))
            file.localDigest[0] = '\0';
        file.localDigest[kDigestTextCapacity - 1] = '\0';
        if (file.localDigest[0] && DigestTextMatches(file.localDigest, entry.expectedDigest))
            continue;
        if (!FormDownloadTarget(&target, resourceBase, gameDir, path, partialName))
            return PlanOutcome::UnformablePath;
        queued.push_back(entry.path);
        queuedFiles.push_back(file);
    }
    *pending = std::move(queued);
    if (pendingFiles)
        *pendingFiles = std::move(queuedFiles);
    return PlanOutcome::Ready;
}
