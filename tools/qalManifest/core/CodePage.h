// The players' ANSI code page. The updater turns a manifest's bytes into
// names with the player's code page, so the manifest must hold exactly those
// bytes: a name is only written when it survives the trip there and back.
#pragma once

#include <memory>
#include <string>

class CodePage {
public:
    virtual ~CodePage() = default;
    virtual unsigned Number() const = 0;
    // UTF-8 into the code page's bytes without any best-fit substitute;
    // false when some character has no byte form.
    virtual bool Encode(const std::string& utf8, std::string* bytes) const = 0;
    // The code page's bytes into UTF-8; false for bytes that are no text there.
    virtual bool Decode(const std::string& bytes, std::string* utf8) const = 0;
};

// Provided by the platform glue: iconv natively, the Win32 converters on
// Windows. Null (with the reason) for a code page the system does not know.
std::unique_ptr<CodePage> OpenCodePage(unsigned number, std::string* error);

// Encode, then decode and compare: what a converter silently maps to a
// look-alike or a default character would come back as another name.
bool EncodeExactly(const CodePage& codePage, const std::string& utf8, std::string* bytes);
