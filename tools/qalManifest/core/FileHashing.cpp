#include "FileHashing.h"

#include "Md5.h"
#include "SignatureCrypto.h"

bool DigestInput(InputFile& file, unsigned char* buffer, size_t capacity, std::string* upperHex,
                 const std::function<void(uint64_t)>& progressed, std::string* error, std::string* sha256)
{
    MD5Context context;
    MD5Init(&context);
    std::unique_ptr<Sha256Stream> stream;
    if (sha256 && !(stream = NewSha256Stream())) {
        *error = "the system offers no SHA-256";
        return false;
    }
    for (;;) {
        long long got = file.Read(buffer, capacity);
        if (got < 0) {
            *error = file.Error();
            return false;
        }
        if (got == 0)
            break;
        MD5Update(&context, buffer, uint32_t(got));
        if (stream)
            stream->Add(buffer, size_t(got));
        if (progressed)
            progressed(uint64_t(got));
    }
    MD5Final(&context);
    if (stream) {
        unsigned char digest[32];
        if (!stream->Finish(digest)) {
            *error = "the system's SHA-256 failed";
            return false;
        }
        *sha256 = Sha256Text(digest);
    }
    upperHex->assign(context.hexDigest, 32);
    for (char& c : *upperHex) {
        if (c >= 'a' && c <= 'f')
            c = char(c - 'a' + 'A');
    }
    return true;
}
