// The platform glue for Windows: directory walking with FindFirstFileExW on
// extended-length paths, the Win32 code page converters, wide file names and
// the console.
#include <windows.h>
#include <sddl.h>

#include <climits>
#include <utility>
#include <vector>

#include "CodePage.h"
#include "FileHashing.h"
#include "NameRules.h"
#include "Platform.h"
#include "ScopedHandles.h"
#include "TextCoding.h"
#include "TreeListing.h"

namespace {

std::wstring Wide(const std::string& utf8)
{
    std::wstring wide;
    Utf8ToUtf16Units(utf8, &wide);
    return wide;
}

// A name Windows handed over, for messages even when it holds an unpaired
// surrogate.
std::string Narrow(const std::wstring& wide)
{
    std::string utf8;
    if (Utf16UnitsToUtf8(wide, &utf8))
        return utf8;
    std::wstring repaired = wide;
    for (size_t i = 0; i < repaired.size(); ++i) {
        wchar_t c = repaired[i];
        bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < repaired.size() && repaired[i + 1] >= 0xDC00 && repaired[i + 1] <= 0xDFFF)
            ++i;
        else if (high || low)
            repaired[i] = 0xFFFD;
    }
    Utf16UnitsToUtf8(repaired, &utf8);
    return utf8;
}

std::string SystemErrorText(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length && text ? std::wstring(text, length) : std::wstring();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                                message.back() == L'.'))
        message.pop_back();
    std::string shown = Narrow(message);
    return (shown.empty() ? "Windows error" : shown) + " (" + std::to_string(code) + ")";
}

// The full path with the extended-length prefix, so a deep tree is not
// limited to MAX_PATH.
std::wstring ExtendedPath(const std::wstring& path)
{
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The code pages whose converters take no flags at all.
bool TakesNoFlags(unsigned codePage)
{
    return (codePage >= 50220 && codePage <= 50229) || (codePage >= 57002 && codePage <= 57011) ||
           codePage == 65000 || codePage == 42;
}

class WindowsCodePage : public CodePage {
public:
    explicit WindowsCodePage(unsigned number) : number_(number) {}

    unsigned Number() const override { return number_; }

    bool Encode(const std::string& utf8, std::string* bytes) const override
    {
        bytes->clear();
        std::wstring wide;
        if (!Utf8ToUtf16Units(utf8, &wide) || wide.size() > INT_MAX / 4)
            return false;
        if (wide.empty())
            return true;
        // No best fit: a character without its own bytes must fail, not
        // turn into a look-alike that names another file.
        DWORD flags = WC_NO_BEST_FIT_CHARS;
        if (number_ == CP_UTF8 || number_ == 54936)
            flags = WC_ERR_INVALID_CHARS;
        else if (TakesNoFlags(number_))
            flags = 0;
        BOOL usedDefault = FALSE;
        BOOL* reportDefault = (number_ == CP_UTF8 || number_ == CP_UTF7) ? nullptr : &usedDefault;
        int needed = WideCharToMultiByte(number_, flags, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                         reportDefault);
        if (needed <= 0 || usedDefault)
            return false;
        bytes->assign(size_t(needed), '\0');
        int written = WideCharToMultiByte(number_, flags, wide.data(), int(wide.size()), &(*bytes)[0], needed,
                                          nullptr, reportDefault);
        if (written != needed || usedDefault) {
            bytes->clear();
            return false;
        }
        return true;
    }

    bool Decode(const std::string& bytes, std::string* utf8) const override
    {
        utf8->clear();
        if (bytes.size() > INT_MAX)
            return false;
        if (bytes.empty())
            return true;
        DWORD flags = TakesNoFlags(number_) ? 0 : MB_ERR_INVALID_CHARS;
        int needed = MultiByteToWideChar(number_, flags, bytes.data(), int(bytes.size()), nullptr, 0);
        if (needed <= 0)
            return false;
        std::wstring wide(size_t(needed), L'\0');
        if (MultiByteToWideChar(number_, flags, bytes.data(), int(bytes.size()), &wide[0], needed) != needed)
            return false;
        return Utf16UnitsToUtf8(wide, utf8);
    }

private:
    unsigned number_;
};

class Walker {
public:
    explicit Walker(TreeListing* listing) : listing_(listing) {}

    void Walk(const std::wstring& directory, const std::string& relative)
    {
        // Subdirectories are walked after the listing is closed, so the open
        // handles stay one however deep the tree.
        std::vector<std::pair<std::wstring, std::string>> subdirectories;
        List(directory, relative, &subdirectories);
        for (const auto& subdirectory : subdirectories)
            Walk(subdirectory.first, subdirectory.second);
    }

private:
    // Takes the directory's files into the listing and collects its
    // subdirectories.
    void List(const std::wstring& directory, const std::string& relative,
              std::vector<std::pair<std::wstring, std::string>>* subdirectories)
    {
        WIN32_FIND_DATAW found;
        const ScopedFindHandle search(FindFirstFileExW(Child(directory, L"*").c_str(), FindExInfoBasic, &found,
                                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!search) {
            DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND)
                Refuse(relative, "cannot list this directory: " + SystemErrorText(error));
            return;
        }
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::string utf8;
            if (!Utf16UnitsToUtf8(name, &utf8)) {
                Refuse(Join(relative, Narrow(name)), "its name is not valid Unicode");
                continue;
            }
            std::string child = Join(relative, utf8);
            std::wstring full = Child(directory, name);
            // Junctions, symbolic links and other reparse points may lead
            // anywhere; under Wine a Unix symbolic link shows as one too.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                Refuse(child, "a link or other reparse point, which is never followed");
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                subdirectories->emplace_back(full, child);
            else
                listing_->files.push_back(
                    {child, Narrow(full), (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
        } while (FindNextFileW(search.Get(), &found));
        DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_FILES)
            Refuse(relative, "cannot list this directory: " + SystemErrorText(error));
    }


    // A drive's root keeps its separator (\\?\C:\); no other directory
    // ends in one, and an extended path takes no doubled separator.
    static std::wstring Child(const std::wstring& directory, const std::wstring& name)
    {
        return directory.back() == L'\\' ? directory + name : directory + L"\\" + name;
    }

    static std::string Join(const std::string& relative, const std::string& name)
    {
        return relative.empty() ? name : relative + "/" + name;
    }

    void Refuse(const std::string& relative, const std::string& reason)
    {
        listing_->refused.push_back({relative, reason});
    }

    TreeListing* listing_;
};

class WindowsInputFile : public InputFile {
public:
    explicit WindowsInputFile(ScopedHandle file) : file_(std::move(file)) {}

    long long Read(unsigned char* buffer, size_t capacity) override
    {
        DWORD got = 0;
        DWORD asked = capacity > 0x40000000 ? 0x40000000 : DWORD(capacity);
        if (!ReadFile(file_.Get(), buffer, asked, &got, nullptr)) {
            error_ = GetLastError();
            return -1;
        }
        return got;
    }
    std::string Error() const override { return SystemErrorText(error_); }

private:
    ScopedHandle file_;
    DWORD error_ = 0;
};

bool WriteHandle(HANDLE handle, const char* data, size_t size)
{
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// The security of a file only the user running the tool may open: a
// protected DACL with that user alone, nothing inherited from the directory.
class OwnerOnlySecurity {
public:
    OwnerOnlySecurity()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        const ScopedHandle tokenHandle(token);
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size ? size : 1);
        wchar_t* sid = nullptr;
        if (!GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
            !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
            return;
        std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
        LocalFree(sid);
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr);
    }
    ~OwnerOnlySecurity()
    {
        if (descriptor_)
            LocalFree(descriptor_);
    }
    OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
    OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

    // Null when the system would not say who the user is.
    SECURITY_ATTRIBUTES* Attributes()
    {
        if (!descriptor_)
            return nullptr;
        attributes_ = {sizeof attributes_, descriptor_, FALSE};
        return &attributes_;
    }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
};

// A new file beside target, named after it and this process: a failed run
// leaves target as it was.
ScopedHandle CreateTemporaryBeside(const std::string& target, std::string* temporary, std::wstring* wideTemporary,
                                   std::string* error)
{
    std::wstring wideTarget = ExtendedPath(Wide(target));
    for (int attempt = 0;; ++attempt) {
        std::string suffix =
            ".tmp" + std::to_string(GetCurrentProcessId()) + (attempt ? "-" + std::to_string(attempt) : "");
        *temporary = target + suffix;
        *wideTemporary = wideTarget + Wide(suffix);
        ScopedHandle file(CreateFileW(wideTemporary->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return file;
        DWORD failure = GetLastError();
        if (failure != ERROR_FILE_EXISTS || attempt >= 100) {
            *error = "cannot create " + *temporary + ": " + SystemErrorText(failure);
            return ScopedHandle();
        }
    }
}

class WindowsNewFile : public NewFile {
public:
    WindowsNewFile(std::string target, std::string temporary, std::wstring wideTemporary, ScopedHandle file)
        : target_(std::move(target)), temporary_(std::move(temporary)), wideTemporary_(std::move(wideTemporary)),
          file_(std::move(file))
    {
    }
    ~WindowsNewFile() override
    {
        file_.Reset();
        if (!placed_)
            DeleteFileW(wideTemporary_.c_str());
    }
    WindowsNewFile(const WindowsNewFile&) = delete;
    WindowsNewFile& operator=(const WindowsNewFile&) = delete;

    bool Write(const unsigned char* data, size_t size, std::string* error) override
    {
        if (file_ && WriteHandle(file_.Get(), reinterpret_cast<const char*>(data), size))
            return true;
        *error = "cannot write " + temporary_ + ": " + SystemErrorText(GetLastError());
        return false;
    }

    Placed Place(std::string* error) override
    {
        bool written = file_ && FlushFileBuffers(file_.Get());
        DWORD failure = GetLastError();
        // Closed before it is renamed.
        file_.Reset();
        if (!written) {
            *error = "cannot write " + temporary_ + ": " + SystemErrorText(failure);
            return Placed::Failed;
        }
        // Without MOVEFILE_REPLACE_EXISTING a name already there is refused.
        if (!MoveFileExW(wideTemporary_.c_str(), ExtendedPath(Wide(target_)).c_str(), MOVEFILE_WRITE_THROUGH)) {
            failure = GetLastError();
            if (failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS)
                return Placed::TargetExists;
            *error = "cannot rename " + temporary_ + " to " + target_ + ": " + SystemErrorText(failure);
            return Placed::Failed;
        }
        placed_ = true;
        return Placed::Done;
    }

private:
    std::string target_, temporary_;
    std::wstring wideTemporary_;
    ScopedHandle file_;
    bool placed_ = false;
};

}  // namespace

std::unique_ptr<CodePage> OpenCodePage(unsigned number, std::string* error)
{
    if (!IsValidCodePage(number)) {
        *error = "code page " + std::to_string(number) + " is not installed on this system";
        return nullptr;
    }
    return std::make_unique<WindowsCodePage>(number);
}

bool ListTree(const std::string& root, TreeListing* listing, std::string* error)
{
    std::wstring directory = ExtendedPath(Wide(root));
    while (directory.size() > 7 && (directory.back() == L'\\' || directory.back() == L'/'))
        directory.pop_back();
    DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *error = SystemErrorText(GetLastError());
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = "not a directory";
        return false;
    }
    Walker(listing).Walk(directory, std::string());
    return true;
}

std::unique_ptr<InputFile> OpenInputFile(const std::string& source, std::string* error)
{
    // A reparse point put in a file's place since the listing is opened
    // itself, not followed, and then refused below.
    ScopedHandle file(CreateFileW(Wide(source).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        *error = SystemErrorText(GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        *error = "no longer a regular file";
        return nullptr;
    }
    return std::make_unique<WindowsInputFile>(std::move(file));
}

bool ReplaceFileWith(const std::string& target, const std::string& content, std::string* error)
{
    std::string temporary;
    std::wstring wideTemporary;
    ScopedHandle file = CreateTemporaryBeside(target, &temporary, &wideTemporary, error);
    if (!file)
        return false;
    bool written = WriteHandle(file.Get(), content.data(), content.size()) && FlushFileBuffers(file.Get());
    DWORD writeError = GetLastError();
    // Closed before the file is deleted or renamed.
    file.Reset();
    if (!written) {
        DeleteFileW(wideTemporary.c_str());
        *error = "cannot write " + temporary + ": " + SystemErrorText(writeError);
        return false;
    }
    if (!MoveFileExW(wideTemporary.c_str(), ExtendedPath(Wide(target)).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD moveError = GetLastError();
        DeleteFileW(wideTemporary.c_str());
        *error = "cannot replace " + target + ": " + SystemErrorText(moveError);
        return false;
    }
    return true;
}

std::unique_ptr<NewFile> StartNewFile(const std::string& target, std::string* error)
{
    std::string temporary;
    std::wstring wideTemporary;
    ScopedHandle file = CreateTemporaryBeside(target, &temporary, &wideTemporary, error);
    if (!file)
        return nullptr;
    return std::make_unique<WindowsNewFile>(target, temporary, wideTemporary, std::move(file));
}

bool ExaminePath(const std::string& path, PathKind* kind, uint64_t* size, std::string* error)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(ExtendedPath(Wide(path)).c_str(), GetFileExInfoStandard, &data)) {
        DWORD failure = GetLastError();
        if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND) {
            *kind = PathKind::Missing;
            return true;
        }
        *error = SystemErrorText(failure);
        return false;
    }
    // A reparse point is not followed: it may lead anywhere.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        *kind = PathKind::Other;
    else
        *kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
    *size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool ListDirectoryFiles(const std::string& directory, std::vector<std::string>* names, std::string* error)
{
    names->clear();
    std::wstring pattern = ExtendedPath(Wide(directory));
    pattern += pattern.back() == L'\\' ? L"*" : L"\\*";
    WIN32_FIND_DATAW found;
    const ScopedFindHandle search(
        FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        *error = SystemErrorText(GetLastError());
        return false;
    }
    do {
        std::string name;
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            Utf16UnitsToUtf8(found.cFileName, &name))
            names->push_back(name);
    } while (FindNextFileW(search.Get(), &found));
    DWORD failure = GetLastError();
    if (failure != ERROR_NO_MORE_FILES) {
        *error = SystemErrorText(failure);
        return false;
    }
    return true;
}

bool DeleteExistingFile(const std::string& path, std::string* error)
{
    if (DeleteFileW(ExtendedPath(Wide(path)).c_str()))
        return true;
    *error = SystemErrorText(GetLastError());
    return false;
}

bool WriteBytes(const std::string& bytes)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return false;
    return WriteHandle(output, bytes.data(), bytes.size());
}

bool WriteText(OutputStream stream, const std::string& utf8)
{
    HANDLE output = GetStdHandle(stream == OutputStream::Standard ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return false;
    DWORD mode;
    if (!GetConsoleMode(output, &mode))
        return WriteHandle(output, utf8.data(), utf8.size());
    // A console shows characters, whatever its code page.
    std::wstring wide = Wide(utf8);
    const wchar_t* data = wide.data();
    size_t left = wide.size();
    while (left > 0) {
        DWORD chunk = left > 8192 ? 8192 : DWORD(left);
        DWORD written = 0;
        if (!WriteConsoleW(output, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

bool ErrorIsTerminal()
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::wstring UpcaseAsNtfs(const std::wstring& name)
{
    // The invariant locale: a Turkish user's "i" must not become "İ", which
    // NTFS does not do.
    if (name.empty() || name.size() > INT_MAX)
        return name;
    std::wstring upper(name.size(), L'\0');
    int written = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, name.data(), int(name.size()), &upper[0],
                               int(upper.size()));
    return written == int(name.size()) ? upper : name;
}

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* content, std::string* error)
{
    content->clear();
    ScopedHandle file(CreateFileW(ExtendedPath(Wide(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        *error = "cannot be opened: " + SystemErrorText(GetLastError());
        return false;
    }
    std::vector<char> block(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.data(), DWORD(block.size()), &got, nullptr)) {
            *error = "cannot be read: " + SystemErrorText(GetLastError());
            return false;
        }
        if (got == 0)
            return true;
        if (content->size() + got > maxBytes) {
            *error = "is larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        content->append(block.data(), got);
    }
}

bool WriteNewFile(const std::string& path, const std::string& content, bool ownerOnly, std::string* error)
{
    std::wstring widePath = ExtendedPath(Wide(path));
    OwnerOnlySecurity security;
    SECURITY_ATTRIBUTES* attributes = nullptr;
    if (ownerOnly && !(attributes = security.Attributes())) {
        *error = "cannot be created for its owner alone: " + SystemErrorText(GetLastError());
        return false;
    }
    ScopedHandle file(CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) {
        DWORD failure = GetLastError();
        *error = failure == ERROR_FILE_EXISTS ? "already exists (never overwritten)"
                                              : "cannot be created: " + SystemErrorText(failure);
        return false;
    }
    bool written = WriteHandle(file.Get(), content.data(), content.size()) && FlushFileBuffers(file.Get());
    DWORD writeError = GetLastError();
    file.Reset();
    if (!written) {
        DeleteFileW(widePath.c_str());
        *error = "cannot be written: " + SystemErrorText(writeError);
        return false;
    }
    return true;
}

bool MakeDirectory(const std::string& path, std::string* error)
{
    std::wstring wide = ExtendedPath(Wide(path));
    if (CreateDirectoryW(wide.c_str(), nullptr))
        return true;
    DWORD failure = GetLastError();
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (failure == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    *error = failure == ERROR_ALREADY_EXISTS ? "not a directory" : SystemErrorText(failure);
    return false;
}

void RemoveFile(const std::string& path)
{
    DeleteFileW(ExtendedPath(Wide(path)).c_str());
}
