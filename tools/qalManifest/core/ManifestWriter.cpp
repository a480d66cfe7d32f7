#include "ManifestWriter.h"

#include "TextCoding.h"

std::string EscapeAttribute(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                escaped += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
            else
                escaped += c;
        }
    }
    return escaped;
}

bool ComposeManifest(const CodePage& codePage, const std::string& version, const std::vector<ManifestLine>& lines,
                     std::string* manifest, std::string* failed, const uint64_t* sequence,
                     const ManifestAdditions& additions)
{
    // Entities are ASCII, which every ANSI code page keeps as it is, so the
    // text is escaped first and converted after.
    std::string out = "<?xml version=\"1.0\" encoding=\"" + EncodingNameOf(codePage.Number()) + "\"?>\n";
    std::string bytes;
    if (!EncodeExactly(codePage, EscapeAttribute(version), &bytes)) {
        *failed = version;
        return false;
    }
    out += "<update version=\"" + bytes + "\"";
    if (sequence)
        out += " sequence=\"" + std::to_string(*sequence) + "\"";
    if (!additions.objects.empty())
        out += " objects=\"" + EscapeAttribute(additions.objects) + "\"";
    out += ">\n";
    // Before the first entry: from there on every element is an entry to
    // the updaters of today.
    for (const FrontDoorLine& offer : additions.frontDoor) {
        out += "  <frontdoor arch=\"" + EscapeAttribute(offer.arch) + "\" name=\"" + EscapeAttribute(offer.name) +
               "\" ver=\"" + offer.digest + "\" sha256=\"" + offer.sha256 + "\" size=\"" + std::to_string(offer.size) +
               "\"";
        if (!offer.version.empty())
            out += " version=\"" + EscapeAttribute(offer.version) + "\"";
        out += "/>\n";
    }
    for (const ManifestLine& line : lines) {
        if (!EncodeExactly(codePage, EscapeAttribute(line.path), &bytes)) {
            *failed = line.path;
            return false;
        }
        out += "  <file path=\"" + bytes + "\" ver=\"" + line.digest + "\"";
        if (sequence)
            out += " sha256=\"" + line.sha256 + "\"";
        if (line.patches.empty()) {
            out += "/>\n";
            continue;
        }
        out += ">\n";
        for (const PatchLine& patch : line.patches)
            out += "    <patch from=\"" + patch.from + "\" sha256=\"" + patch.sha256 + "\" size=\"" +
                   std::to_string(patch.size) + "\"/>\n";
        out += "  </file>\n";
    }
    out += "</update>\n";
    *manifest = std::move(out);
    return true;
}
