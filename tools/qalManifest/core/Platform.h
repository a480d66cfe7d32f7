// The rest of what the platform glue provides besides listing, reading and
// code pages: output, the terminal, whole small files and new files.
#pragma once

#include <cstddef>
#include <string>

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
