// MD5 message digest (RFC 1321) and the digest of a whole file.
#pragma once

#include <cstddef>
#include <cstdint>

struct MD5Context {
    uint32_t state[4];      // chaining words A, B, C, D
    uint32_t count[2];      // message length in bits, low word first
    unsigned char buffer[64];
    unsigned char digest[16];
    char hexDigest[33];     // lowercase, NUL-terminated
};

void MD5Init(MD5Context* context);
void MD5Update(MD5Context* context, const unsigned char* input, uint32_t length);
void MD5Final(MD5Context* context);
void MD5Transform(uint32_t state[4], const unsigned char block[64]);

// Digests the file named by the 8-bit path (handed to fopen as is). Answers the
// context's hexDigest, or null after printing "<path> can't be opened" when the
// file cannot be opened.
const char* MD5File(MD5Context* context, const char* path);
