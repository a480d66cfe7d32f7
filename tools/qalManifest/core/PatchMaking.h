// Making the binary patches a manifest offers (see PatchRules.h).
#pragma once

#include <cstdint>
#include <string>

// The patch that turns older into newer: one zstd frame with its checksum,
// made against older as "zstd --patch-from=OLDER" makes it, then decoded
// again and compared, so a patch the updater would refuse is never
// published. False with the reason otherwise.
bool MakePatch(const std::string& older, const std::string& newer, std::string* patch, std::string* error);

// Whether a patch is worth publishing in place of the file: clearly smaller
// (at most three quarters of it), or a player gains too little for the
// operator's trouble.
bool PatchWorthPublishing(uint64_t patchBytes, uint64_t fileBytes);
