#include "TextCoding.h"

namespace {

// Decodes one character at text[*at]; false (at unchanged) for a byte that
// does not start a well-formed sequence.
bool NextCodePoint(const std::string& text, size_t* at, char32_t* out)
{
    size_t i = *at;
    unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        *out = lead;
        *at = i + 1;
        return true;
    }
    int trail;
    char32_t value;
    char32_t least;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3, value = lead & 0x07, least = 0x10000;
    } else {
        return false;
    }
    if (text.size() - i - 1 < size_t(trail))
        return false;
    for (int k = 1; k <= trail; ++k) {
        unsigned char c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80)
            return false;
        value = (value << 6) | (c & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    *out = value;
    *at = i + 1 + trail;
    return true;
}

void AppendUtf8(std::string* out, char32_t c)
{
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | (c >> 6)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(char(0xE0 | (c >> 12)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (c >> 18)));
        out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

}  // namespace

bool IsValidUtf8(const std::string& text)
{
    char32_t c;
    for (size_t at = 0; at < text.size();) {
        if (!NextCodePoint(text, &at, &c))
            return false;
    }
    return true;
}

bool Utf8ToUtf16Units(const std::string& utf8, std::wstring* out)
{
    out->clear();
    out->reserve(utf8.size());
    char32_t c;
    for (size_t at = 0; at < utf8.size();) {
        if (!NextCodePoint(utf8, &at, &c)) {
            out->clear();
            return false;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out->push_back(wchar_t(0xD800 + (c >> 10)));
            out->push_back(wchar_t(0xDC00 + (c & 0x3FF)));
        } else {
            out->push_back(wchar_t(c));
        }
    }
    return true;
}

bool Utf16UnitsToUtf8(const std::wstring& units, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = char32_t(units[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size()) {
            char32_t low = char32_t(units[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            out->clear();
            return false;
        }
        AppendUtf8(out, c);
    }
    return true;
}

std::string ShowableName(const std::string& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    char32_t c;
    for (size_t at = 0; at < bytes.size();) {
        size_t start = at;
        if (NextCodePoint(bytes, &at, &c)) {
            shown.append(bytes, start, at - start);
        } else {
            unsigned char b = static_cast<unsigned char>(bytes[at++]);
            shown += "<0x";
            shown += kHex[b >> 4];
            shown += kHex[b & 15];
            shown += '>';
        }
    }
    return shown;
}

std::string EncodingNameOf(unsigned codePage)
{
    if (codePage == 936)
        return "GBK";
    if (codePage == 65001)
        return "UTF-8";
    return "windows-" + std::to_string(codePage);
}
