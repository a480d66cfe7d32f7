#include "FileHashing.h"

#include "Md5.h"

bool DigestInput(InputFile& file, unsigned char* buffer, size_t capacity, std::string* upperHex,
                 const std::function<void(uint64_t)>& progressed, std::string* error)
{
    MD5Context context;
    MD5Init(&context);
    for (;;) {
        long long got = file.Read(buffer, capacity);
        if (got < 0) {
            *error = file.Error();
            return false;
        }
        if (got == 0)
            break;
        MD5Update(&context, buffer, uint32_t(got));
        if (progressed)
            progressed(uint64_t(got));
    }
    MD5Final(&context);
    upperHex->assign(context.hexDigest, 32);
    for (char& c : *upperHex) {
        if (c >= 'a' && c <= 'f')
            c = char(c - 'a' + 'A');
    }
    return true;
}
