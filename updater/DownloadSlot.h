// Which partial file name this updater writes. Nothing stops a player from
// starting a second updater (a second click while the first is still
// hashing), so each takes a slot of its own for the installation, held for
// the life of its process by a named mutex: its partial files are then its
// own, and a partial file is removed only when no running updater holds its
// slot.
#pragma once

#include <windows.h>

#include <vector>

#include "ScopedHandles.h"
#include "UpdateLocations.h"

class DownloadSlot {
public:
    // Takes the first free slot of the installation in moduleDir; false when
    // every slot stays held for some seconds.
    bool Take(const wchar_t* moduleDir);

    // The installation's own key, the same for every updater of it (after Take).
    unsigned long long InstallationKey() const { return installationKey; }

    // The partial file name of the slot held now.
    const wchar_t* PartialName() const { return partialName; }
    // Its name for a program fetched to be started.
    const wchar_t* ProgramPartialName() const { return programPartialName; }

    // Takes another free slot and keeps the one held so far: a transfer
    // given up on may still write under its name, and nothing that runs
    // after it may share that file. False when every slot is held.
    bool MoveOn();

    // Removes, anywhere below each directory (not following links), the
    // partial files of this slot (left by an updater that held it before)
    // and of every slot no running updater holds.
    void RemoveStalePartials(const std::vector<const wchar_t*>& directories) const;

private:
    bool Claim(int first);
    void MutexName(int slot, wchar_t* out, size_t capacity) const;

    unsigned long long installationKey = 0;
    int slot = -1;
    wchar_t partialName[32] = {};
    wchar_t programPartialName[32] = {};
    std::vector<ScopedHandle> held;
};
