// The rest of what the platform glue provides besides listing, reading and
// code pages: output, the terminal, whole small files, new files and the
// directories of published objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class OutputStream { Standard, Error };

// Writes content into a new file beside target and renames it over target
// only once it is complete on disk, so a failed run leaves target as it was
// and no temporary file behind.
bool ReplaceFileWith(const std::string& target, const std::string& content, std::string* error);

// Bytes to standard output unchanged (no line-end translation); false when
// they could not all be written.
bool WriteBytes(const std::string& bytes);

// Text (UTF-8) for a person: on a console as characters, elsewhere as UTF-8
// bytes. False when it could not be written.
bool WriteText(OutputStream stream, const std::string& utf8);

// Whether standard error is a terminal (on Windows a console).
bool ErrorIsTerminal();

// The whole content of a file of at most maxBytes; false with the reason
// (starting "cannot be opened" when it cannot) otherwise.
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::string* content, std::string* error);

// Creates path, which must not exist yet, with content, complete on disk;
// ownerOnly: readable and writable by the user running the tool alone. On
// false nothing is left at path.
bool WriteNewFile(const std::string& path, const std::string& content, bool ownerOnly, std::string* error);

// Makes the directory at path unless it is one already (its parent must
// exist); false with the reason otherwise.
bool MakeDirectory(const std::string& path, std::string* error);

// Removes a file this run created.
void RemoveFile(const std::string& path);

// What a path names: on Linux links are followed, on Windows a reparse
// point, which may lead anywhere, is Other.
enum class PathKind { Missing, File, Directory, Other };

// *size is set for a file. False with the reason only when the system
// cannot tell (a path that is not there is Missing).
bool ExaminePath(const std::string& path, PathKind* kind, uint64_t* size, std::string* error);

// A file written in pieces under a temporary name beside its target (the
// target's name followed by ".tmp" and the process id), which takes the
// target's name only once it is complete on disk, and never the place of a
// file already there. Destroyed before it is placed, it leaves nothing.
class NewFile {
public:
    enum class Placed { Done, TargetExists, Failed };
    virtual ~NewFile() = default;
    virtual bool Write(const unsigned char* data, size_t size, std::string* error) = 0;
    virtual Placed Place(std::string* error) = 0;
};

// Null with the reason when the temporary file cannot be created.
std::unique_ptr<NewFile> StartNewFile(const std::string& target, std::string* error);

// The names of the regular files directly in directory (not of links or
// directories); false with the reason when it cannot be listed.
bool ListDirectoryFiles(const std::string& directory, std::vector<std::string>* names, std::string* error);

// Deletes a file; false with the reason.
bool DeleteExistingFile(const std::string& path, std::string* error);
