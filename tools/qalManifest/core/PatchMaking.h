// Making the binary patches a manifest offers (see PatchRules.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where libzstd takes its memory from while it makes a patch; without
// functions, the C heap.
struct PatchMemory {
    void* (*allocate)(void* opaque, size_t size) = nullptr;
    void (*release)(void* opaque, void* address) = nullptr;
    void* opaque = nullptr;
};

enum class PatchMade {
    Made,
    // libzstd could not get its memory: this file goes without a patch, as
    // one too large for this machine does, and the build goes on.
    OutOfMemory,
    Failed
};

// The patch that turns older into newer: one zstd frame with its checksum,
// made against older as "zstd --patch-from=OLDER" makes it, then decoded
// again and compared, so a patch the updater would refuse is never
// published. Otherwise the reason in *error.
PatchMade MakePatch(const std::string& older, const std::string& newer, std::string* patch, std::string* error,
                    const PatchMemory& memory = {});

// Whether a patch is worth publishing in place of the file: clearly smaller
// (at most three quarters of it), or a player gains too little for the
// operator's trouble.
bool PatchWorthPublishing(uint64_t patchBytes, uint64_t fileBytes);
