// The rest of what the platform glue provides besides listing, reading and
// code pages: output, the terminal and the manifest's file name.
#pragma once

#include <tinyxml2.h>

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

// Loads a manifest through the updater's reader, the name handed over in the
// 8-bit form the runtime's fopen takes.
bool LoadManifestFile(tinyxml2::XMLDocument& document, const std::string& path, std::string* error);
