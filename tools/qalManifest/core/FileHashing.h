// The digest of one file, read in large blocks into one reused buffer, so
// memory stays the same whatever the size of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// An open file as the platform reads it.
class InputFile {
public:
    virtual ~InputFile() = default;
    // Bytes read into buffer, 0 at the end, -1 on failure (see Error).
    virtual long long Read(unsigned char* buffer, size_t capacity) = 0;
    virtual std::string Error() const = 0;
};

// Provided by the platform glue; null with the reason when the file cannot be
// opened.
std::unique_ptr<InputFile> OpenInputFile(const std::string& source, std::string* error);

// Large enough that the per-call cost of reading vanishes next to the digest
// (from the page cache 64 KiB, 256 KiB and 1 MiB measured the same: MD5 is the
// limit), and few calls on a slow disk or share.
constexpr size_t kReadBlockSize = 1024 * 1024;

// Digest of everything the file yields, as 32 uppercase hexadecimal digits;
// progressed(bytes) after every block. False with the reason on a read
// failure. capacity must be below 4 GiB (the digest takes 32-bit lengths).
// With sha256 not null, the SHA-256 of the same bytes, as sha256sum prints
// it, from the same read.
bool DigestInput(InputFile& file, unsigned char* buffer, size_t capacity, std::string* upperHex,
                 const std::function<void(uint64_t)>& progressed, std::string* error,
                 std::string* sha256 = nullptr);
