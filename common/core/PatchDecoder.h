// Turning a binary patch and the player's older copy into the new file.
//
// A patch is one zstd frame made with the older file as its reference
// ("zstd --patch-from=OLD"). Decoding streams: the patch is read a piece at a
// time and the new file written as it comes, so only the older copy and the
// frame's window are held in memory, both bounded by the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

enum class PatchDecodeResult {
    Done,            // the whole frame was decoded and written
    BadFrame,        // not one whole, intact zstd frame (cut, corrupt, or more after it)
    WindowTooLarge,  // the frame asks for more memory than the bound allows
    OutputTooLarge,  // it decodes to more bytes than the bound allows
    OutOfMemory,     // the decoder could not get its memory
    ReadFailed,      // reading the patch failed
    WriteFailed      // writing the new file failed
};

// Fills buffer with up to capacity patch bytes and answers how many; 0 at
// the end of the patch. Sets *failed (and answers 0) when reading fails.
using PatchRead = std::function<size_t(unsigned char* buffer, size_t capacity, bool* failed)>;
// Takes the next decoded bytes; false when they could not be written.
using PatchWrite = std::function<bool(const unsigned char* data, size_t size)>;

// Decodes the patch read by `read` against the older file's bytes, giving the
// new file to `write`. Neither the new file nor the frame's window may exceed
// maxBytes. Whatever the result, nothing is written beyond what was decoded.
PatchDecodeResult DecodePatch(const unsigned char* older, size_t olderSize, const PatchRead& read,
                              const PatchWrite& write, uint64_t maxBytes);

// The result in a few words, for the diagnostic line.
const char* PatchDecodeResultText(PatchDecodeResult result);
