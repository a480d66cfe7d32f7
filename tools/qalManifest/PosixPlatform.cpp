// The platform glue for Linux: directory walking with lstat, links resolved
// with realpath, code pages through glibc iconv, plain POSIX files.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "CodePage.h"
#include "FileHashing.h"
#include "NameRules.h"
#include "Platform.h"
#include "TreeListing.h"

namespace {

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

class IconvCodePage : public CodePage {
public:
    IconvCodePage(unsigned number, iconv_t encode, iconv_t decode) : number_(number), encode_(encode), decode_(decode)
    {
    }
    ~IconvCodePage() override
    {
        iconv_close(encode_);
        iconv_close(decode_);
    }
    IconvCodePage(const IconvCodePage&) = delete;
    IconvCodePage& operator=(const IconvCodePage&) = delete;

    unsigned Number() const override { return number_; }
    bool Encode(const std::string& utf8, std::string* bytes) const override { return Convert(encode_, utf8, bytes); }
    bool Decode(const std::string& bytes, std::string* utf8) const override { return Convert(decode_, bytes, utf8); }

private:
    static bool Convert(iconv_t converter, const std::string& in, std::string* out)
    {
        out->clear();
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        // No character of any of these encodings takes more than four bytes,
        // and each takes at least one on the way in; a text that still does
        // not fit (E2BIG) is refused, never cut.
        std::string buffer(in.size() * 4 + 4, '\0');
        char* from = const_cast<char*>(in.data());
        size_t fromLeft = in.size();
        char* to = &buffer[0];
        size_t toLeft = buffer.size();
        // A positive count means characters were converted irreversibly.
        if (iconv(converter, &from, &fromLeft, &to, &toLeft) != 0 || fromLeft != 0)
            return false;
        if (iconv(converter, nullptr, nullptr, &to, &toLeft) == size_t(-1))
            return false;
        out->assign(buffer.data(), buffer.size() - toLeft);
        return true;
    }

    unsigned number_;
    iconv_t encode_;
    iconv_t decode_;
};

std::string IconvNameOf(unsigned codePage)
{
    if (codePage == 65001)
        return "UTF-8";
    if (codePage == 54936)
        return "GB18030";
    return "CP" + std::to_string(codePage);
}

class Walker {
public:
    Walker(const std::string& root, TreeListing* listing) : root_(root), listing_(listing)
    {
        inside_ = root == "/" ? root : root + "/";
    }

    void Walk(const std::string& relative)
    {
        std::string directory = relative.empty() ? root_ : inside_ + relative;
        DIR* stream = opendir(directory.c_str());
        if (!stream) {
            Refuse(relative, "cannot list this directory: " + ErrnoText(errno));
            return;
        }
        // Subdirectories are walked after this one is closed, so the open
        // handles stay one however deep the tree.
        std::vector<std::string> subdirectories;
        for (;;) {
            errno = 0;
            dirent* entry = readdir(stream);
            if (!entry) {
                if (errno)
                    Refuse(relative, "cannot list this directory: " + ErrnoText(errno));
                break;
            }
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string child = relative.empty() ? name : relative + "/" + name;
            if (Examine(child))
                subdirectories.push_back(child);
        }
        closedir(stream);
        for (const std::string& subdirectory : subdirectories)
            Walk(subdirectory);
    }

private:
    // Lists or refuses one entry; true for a directory to walk.
    bool Examine(const std::string& relative)
    {
        std::string full = inside_ + relative;
        struct stat status;
        if (lstat(full.c_str(), &status) != 0) {
            Refuse(relative, "cannot be examined: " + ErrnoText(errno));
            return false;
        }
        if (S_ISDIR(status.st_mode))
            return true;
        if (S_ISREG(status.st_mode)) {
            listing_->files.push_back({relative, full, uint64_t(status.st_size)});
            return false;
        }
        if (S_ISLNK(status.st_mode)) {
            ExamineLink(relative, full);
            return false;
        }
        if (S_ISFIFO(status.st_mode))
            Refuse(relative, "a fifo, not a regular file");
        else if (S_ISSOCK(status.st_mode))
            Refuse(relative, "a socket, not a regular file");
        else
            Refuse(relative, "a device, not a regular file");
        return false;
    }

    // A link stands for its target's content only when that target is a
    // regular file inside the game directory: the mirror serves what the
    // link reaches, and nothing outside may be published by accident.
    void ExamineLink(const std::string& relative, const std::string& full)
    {
        char* resolved = realpath(full.c_str(), nullptr);
        if (!resolved) {
            Refuse(relative, "a link that leads nowhere: " + ErrnoText(errno));
            return;
        }
        std::string target = resolved;
        std::free(resolved);
        struct stat status;
        if (stat(target.c_str(), &status) != 0) {
            Refuse(relative, "a link that leads nowhere: " + ErrnoText(errno));
            return;
        }
        if (target != root_ && target.compare(0, inside_.size(), inside_) != 0)
            Refuse(relative, "a link leading outside GAME_DIR, which is never followed");
        else if (S_ISDIR(status.st_mode))
            Refuse(relative, "a link to a directory, which is never followed");
        else if (!S_ISREG(status.st_mode))
            Refuse(relative, "a link to something other than a regular file");
        else
            listing_->files.push_back({relative, target, uint64_t(status.st_size)});
    }

    void Refuse(const std::string& relative, const std::string& reason)
    {
        listing_->refused.push_back({relative, reason});
    }

    std::string root_;
    std::string inside_;  // the root with a trailing "/"
    TreeListing* listing_;
};

class PosixInputFile : public InputFile {
public:
    explicit PosixInputFile(int descriptor) : descriptor_(descriptor) {}
    ~PosixInputFile() override { close(descriptor_); }
    PosixInputFile(const PosixInputFile&) = delete;
    PosixInputFile& operator=(const PosixInputFile&) = delete;

    long long Read(unsigned char* buffer, size_t capacity) override
    {
        for (;;) {
            ssize_t got = read(descriptor_, buffer, capacity);
            if (got >= 0)
                return got;
            if (errno != EINTR) {
                error_ = errno;
                return -1;
            }
        }
    }
    std::string Error() const override { return ErrnoText(error_); }

private:
    int descriptor_;
    int error_ = 0;
};

bool WriteAll(int descriptor, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// A new file beside target, named after it and this process: a failed run
// leaves target as it was.
int CreateTemporaryBeside(const std::string& target, std::string* temporary, std::string* error)
{
    for (int attempt = 0;; ++attempt) {
        *temporary = target + ".tmp" + std::to_string(getpid()) + (attempt ? "-" + std::to_string(attempt) : "");
        int descriptor = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0)
            return descriptor;
        if (errno != EEXIST || attempt >= 100) {
            *error = "cannot create " + *temporary + ": " + ErrnoText(errno);
            return -1;
        }
    }
}

// Renames from to to unless to is there already (errno EEXIST then).
int RenameWithoutReplacing(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    // A file system without that flag: a hard link is refused an existing
    // name just the same.
    if (link(from, to) != 0)
        return -1;
    unlink(from);
    return 0;
}

class PosixNewFile : public NewFile {
public:
    PosixNewFile(std::string target, std::string temporary, int descriptor)
        : target_(std::move(target)), temporary_(std::move(temporary)), descriptor_(descriptor)
    {
    }
    ~PosixNewFile() override
    {
        if (descriptor_ >= 0)
            close(descriptor_);
        if (!placed_)
            unlink(temporary_.c_str());
    }
    PosixNewFile(const PosixNewFile&) = delete;
    PosixNewFile& operator=(const PosixNewFile&) = delete;

    bool Write(const unsigned char* data, size_t size, std::string* error) override
    {
        if (descriptor_ >= 0 && WriteAll(descriptor_, reinterpret_cast<const char*>(data), size))
            return true;
        *error = "cannot write " + temporary_ + ": " + ErrnoText(errno);
        return false;
    }

    Placed Place(std::string* error) override
    {
        bool written = descriptor_ >= 0 && fsync(descriptor_) == 0;
        int failure = errno;
        if (descriptor_ >= 0 && close(descriptor_) != 0 && written) {
            written = false;
            failure = errno;
        }
        descriptor_ = -1;
        if (!written) {
            *error = "cannot write " + temporary_ + ": " + ErrnoText(failure);
            return Placed::Failed;
        }
        if (RenameWithoutReplacing(temporary_.c_str(), target_.c_str()) != 0) {
            if (errno == EEXIST)
                return Placed::TargetExists;
            *error = "cannot rename " + temporary_ + " to " + target_ + ": " + ErrnoText(errno);
            return Placed::Failed;
        }
        placed_ = true;
        return Placed::Done;
    }

private:
    std::string target_, temporary_;
    int descriptor_;
    bool placed_ = false;
};

}  // namespace

std::unique_ptr<CodePage> OpenCodePage(unsigned number, std::string* error)
{
    std::string name = IconvNameOf(number);
    iconv_t encode = iconv_open(name.c_str(), "UTF-8");
    if (encode == iconv_t(-1)) {
        *error = "code page " + std::to_string(number) + " is not available here (iconv knows no " + name + ")";
        return nullptr;
    }
    iconv_t decode = iconv_open("UTF-8", name.c_str());
    if (decode == iconv_t(-1)) {
        iconv_close(encode);
        *error = "code page " + std::to_string(number) + " is not available here (iconv knows no " + name + ")";
        return nullptr;
    }
    return std::make_unique<IconvCodePage>(number, encode, decode);
}

bool ListTree(const std::string& root, TreeListing* listing, std::string* error)
{
    char* resolved = realpath(root.c_str(), nullptr);
    if (!resolved) {
        *error = ErrnoText(errno);
        return false;
    }
    std::string canonical = resolved;
    std::free(resolved);
    struct stat status;
    if (stat(canonical.c_str(), &status) != 0) {
        *error = ErrnoText(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        *error = "not a directory";
        return false;
    }
    DIR* probe = opendir(canonical.c_str());
    if (!probe) {
        *error = ErrnoText(errno);
        return false;
    }
    closedir(probe);
    Walker(canonical, listing).Walk(std::string());
    return true;
}

std::unique_ptr<InputFile> OpenInputFile(const std::string& source, std::string* error)
{
    // No links (the listing resolved them) and no waiting on a fifo that
    // took a file's place since the listing.
    int descriptor = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0) {
        *error = ErrnoText(errno);
        return nullptr;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        *error = "no longer a regular file";
        return nullptr;
    }
    posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixInputFile>(descriptor);
}

bool ReplaceFileWith(const std::string& target, const std::string& content, std::string* error)
{
    std::string temporary;
    int descriptor = CreateTemporaryBeside(target, &temporary, error);
    if (descriptor < 0)
        return false;
    bool written = WriteAll(descriptor, content.data(), content.size()) && fsync(descriptor) == 0;
    int writeError = errno;
    if (close(descriptor) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        *error = "cannot write " + temporary + ": " + ErrnoText(writeError);
        return false;
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        int renameError = errno;
        unlink(temporary.c_str());
        *error = "cannot replace " + target + ": " + ErrnoText(renameError);
        return false;
    }
    return true;
}

std::unique_ptr<NewFile> StartNewFile(const std::string& target, std::string* error)
{
    std::string temporary;
    int descriptor = CreateTemporaryBeside(target, &temporary, error);
    if (descriptor < 0)
        return nullptr;
    return std::make_unique<PosixNewFile>(target, temporary, descriptor);
}

bool ExaminePath(const std::string& path, PathKind* kind, uint64_t* size, std::string* error)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            *kind = PathKind::Missing;
            return true;
        }
        *error = ErrnoText(errno);
        return false;
    }
    *kind = S_ISREG(status.st_mode) ? PathKind::File : S_ISDIR(status.st_mode) ? PathKind::Directory : PathKind::Other;
    *size = uint64_t(status.st_size);
    return true;
}

bool ListDirectoryFiles(const std::string& directory, std::vector<std::string>* names, std::string* error)
{
    names->clear();
    DIR* stream = opendir(directory.c_str());
    if (!stream) {
        *error = ErrnoText(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        dirent* entry = readdir(stream);
        if (!entry)
            break;
        struct stat status;
        if (fstatat(dirfd(stream), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode))
            names->push_back(entry->d_name);
    }
    int failure = errno;
    closedir(stream);
    if (failure) {
        *error = ErrnoText(failure);
        return false;
    }
    return true;
}

bool DeleteExistingFile(const std::string& path, std::string* error)
{
    if (unlink(path.c_str()) == 0)
        return true;
    *error = ErrnoText(errno);
    return false;
}

bool WriteBytes(const std::string& bytes)
{
    return WriteAll(STDOUT_FILENO, bytes.data(), bytes.size());
}

bool WriteText(OutputStream stream, const std::string& utf8)
{
    return WriteAll(stream == OutputStream::Standard ? STDOUT_FILENO : STDERR_FILENO, utf8.data(), utf8.size());
}

bool ErrorIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

std::wstring UpcaseAsNtfs(const std::wstring& name)
{
    // glibc's own Unicode tables, whatever locale the operator runs in.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    std::wstring upper = name;
    for (wchar_t& unit : upper) {
        // Surrogates stay as they are: NTFS folds no character beyond the
        // BMP, and each unit is folded alone.
        if (unicode && (unit < 0xD800 || unit > 0xDFFF)) {
            wint_t mapped = towupper_l(wint_t(unit), unicode);
            if (mapped <= 0xFFFF)
                unit = wchar_t(mapped);
        }
    }
    return upper;
}

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* content, std::string* error)
{
    content->clear();
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        *error = "cannot be opened: " + ErrnoText(errno);
        return false;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        *error = "cannot be opened: not a regular file";
        return false;
    }
    char block[64 * 1024];
    for (;;) {
        ssize_t got = read(descriptor, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = "cannot be read: " + ErrnoText(errno);
            close(descriptor);
            return false;
        }
        if (got == 0)
            break;
        if (content->size() + size_t(got) > maxBytes) {
            *error = "is larger than " + std::to_string(maxBytes) + " bytes";
            close(descriptor);
            return false;
        }
        content->append(block, size_t(got));
    }
    close(descriptor);
    return true;
}

bool WriteNewFile(const std::string& path, const std::string& content, bool ownerOnly, std::string* error)
{
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, ownerOnly ? 0600 : 0644);
    if (descriptor < 0) {
        *error = errno == EEXIST ? "already exists (never overwritten)" : "cannot be created: " + ErrnoText(errno);
        return false;
    }
    // The mode above is narrowed by the umask; an owner-only file must not
    // be widened by it either, so it is set once more.
    bool written = (!ownerOnly || fchmod(descriptor, 0600) == 0) && WriteAll(descriptor, content.data(), content.size()) &&
                   fsync(descriptor) == 0;
    int writeError = errno;
    if (close(descriptor) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        unlink(path.c_str());
        *error = "cannot be written: " + ErrnoText(writeError);
        return false;
    }
    return true;
}

bool MakeDirectory(const std::string& path, std::string* error)
{
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    int failure = errno;
    struct stat status;
    if (failure == EEXIST && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    *error = failure == EEXIST ? "not a directory" : std::strerror(failure);
    return false;
}

void RemoveFile(const std::string& path)
{
    unlink(path.c_str());
}
