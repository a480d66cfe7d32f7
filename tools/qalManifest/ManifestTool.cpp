#include "ManifestTool.h"

#include <algorithm>
#include <memory>

#include "CodePage.h"
#include "CommandLine.h"
#include "FileHashing.h"
#include "ManifestWriter.h"
#include "NameRules.h"
#include "Platform.h"
#include "Progress.h"
#include "TextCoding.h"
#include "TreeListing.h"
#include "VerifyReport.h"

#ifndef QAL_RESOURCE_BASE_URL
#error "QAL_RESOURCE_BASE_URL must name the updater's resource server"
#endif

namespace {

const char kDefaultBaseUrl[] = QAL_RESOURCE_BASE_URL;

void Say(const std::string& text)
{
    WriteText(OutputStream::Error, "qalManifest: " + text + "\n");
}

int UsageError(const std::string& text)
{
    WriteText(OutputStream::Error, "qalManifest: " + text + "\n\n" + UsageText(kDefaultBaseUrl));
    return 2;
}

std::string Shown(const std::string& listedPath)
{
    return ShowableName(ManifestFormOf(listedPath));
}

// Digests one listed file into *digest, feeding the progress line; says
// why and answers false when the file cannot be read.
bool DigestListedFile(const ListedFile& file, const std::string& shownPath, std::vector<unsigned char>& buffer,
                      ProgressLine* progress, std::string* digest)
{
    std::string error;
    std::unique_ptr<InputFile> input = OpenInputFile(file.source, &error);
    bool read = input && DigestInput(*input, buffer.data(), buffer.size(), digest,
                                     [progress](uint64_t bytes) {
                                         if (progress)
                                             progress->AddBytes(bytes);
                                     },
                                     &error);
    if (progress)
        progress->FileDone();
    if (!read) {
        if (progress)
            progress->Clear();
        Say("cannot read " + shownPath + ": " + error);
    }
    return read;
}

std::unique_ptr<ProgressLine> StartProgress(uint64_t files, uint64_t bytes)
{
    if (!ErrorIsTerminal())
        return nullptr;
    return std::make_unique<ProgressLine>(files, bytes,
                                          [](const std::string& text) { WriteText(OutputStream::Error, text); });
}

int RunBuild(const ToolOptions& options)
{
    std::string error;
    std::unique_ptr<CodePage> codePage = OpenCodePage(options.codePage, &error);
    if (!codePage)
        return UsageError(error);
    std::string versionBytes;
    if (!EncodeExactly(*codePage, options.version, &versionBytes))
        return UsageError("code page " + std::to_string(options.codePage) + " cannot carry the version \"" +
                          ShowableName(options.version) + "\" exactly");
    UpdaterSite site;
    if (!FormUpdaterSite(options.installDir, options.baseUrl, &site))
        return UsageError("the installation directory \"" + ShowableName(options.installDir) +
                          "\" leaves the updater no room for a file name (or is not UTF-8)");

    TreeListing listing;
    if (!ListTree(options.gameDir, &listing, &error)) {
        Say(options.gameDir + ": " + error);
        return 1;
    }

    // Every name is judged before any file is read: one run shows the
    // operator everything to rename.
    std::vector<RefusedEntry> refused = std::move(listing.refused);
    for (const ListedFile& file : listing.files) {
        std::string reason = PathRefusal(file.path, *codePage, site);
        if (!reason.empty())
            refused.push_back({file.path, reason});
    }
    for (RefusedEntry& collision : FindCaseCollisions(listing.files))
        refused.push_back(std::move(collision));
    if (!refused.empty()) {
        std::vector<std::string> lines;
        for (const RefusedEntry& entry : refused)
            lines.push_back("refused: " + Shown(entry.path) + " (" + entry.reason + ")\n");
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        for (const std::string& line : lines)
            WriteText(OutputStream::Error, line);
        Say(std::to_string(lines.size()) + (lines.size() == 1 ? " name" : " names") +
            " refused; no manifest written");
        return 1;
    }

    SortInManifestForm(&listing.files);
    uint64_t totalBytes = 0;
    for (const ListedFile& file : listing.files)
        totalBytes += file.size;

    std::unique_ptr<ProgressLine> progress = StartProgress(listing.files.size(), totalBytes);
    std::vector<unsigned char> buffer(kReadBlockSize);
    std::vector<ManifestLine> lines;
    lines.reserve(listing.files.size());
    bool allRead = true;
    for (const ListedFile& file : listing.files) {
        std::string digest;
        if (DigestListedFile(file, file.path, buffer, progress.get(), &digest))
            lines.push_back({file.path, digest});
        else
            allRead = false;
    }
    if (progress)
        progress->Clear();
    if (!allRead) {
        Say("no manifest written");
        return 1;
    }

    std::string manifest, failed;
    if (!ComposeManifest(*codePage, options.version, lines, &manifest, &failed)) {
        Say("code page " + std::to_string(options.codePage) + " cannot carry \"" + ShowableName(failed) +
            "\"; no manifest written");
        return 1;
    }
    if (options.output.empty()) {
        if (!WriteBytes(manifest)) {
            Say("cannot write the manifest to standard output");
            return 1;
        }
    } else if (!ReplaceFileWith(options.output, manifest, &error)) {
        Say(error + "; no manifest written");
        return 1;
    }
    if (ErrorIsTerminal())
        Say("listed " + std::to_string(lines.size()) + " files, " + FormatMegabytes(totalBytes) +
            (options.output.empty() ? std::string() : ", in " + options.output));
    return 0;
}

int RunVerify(const ToolOptions& options)
{
    std::string error;
    std::unique_ptr<CodePage> codePage = OpenCodePage(options.codePage, &error);
    if (!codePage)
        return UsageError(error);
    tinyxml2::XMLDocument document;
    if (!LoadManifestFile(document, options.manifest, &error)) {
        Say(options.manifest + ": " + error);
        return 1;
    }
    TreeListing listing;
    if (!ListTree(options.gameDir, &listing, &error)) {
        Say(options.gameDir + ": " + error);
        return 1;
    }

    VerifyPlan plan = PlanVerify(ManifestEntries(document), listing, *codePage);
    uint64_t totalBytes = 0;
    for (const VerifyPlan::Check& check : plan.checks)
        totalBytes += listing.files[check.file].size;
    std::unique_ptr<ProgressLine> progress = StartProgress(plan.checks.size(), totalBytes);
    std::vector<unsigned char> buffer(kReadBlockSize);
    bool allRead = true;
    for (const VerifyPlan::Check& check : plan.checks) {
        std::string digest;
        if (!DigestListedFile(listing.files[check.file], check.path, buffer, progress.get(), &digest))
            allRead = false;
        else if (digest != check.expected)
            plan.findings.push_back("different: " + check.path);
    }
    if (progress)
        progress->Clear();

    SortFindings(&plan.findings);
    bool written = true;
    for (const std::string& finding : plan.findings)
        written = WriteText(OutputStream::Standard, finding + "\n") && written;
    if (!written) {
        Say("cannot write the findings to standard output");
        return 1;
    }
    if (ErrorIsTerminal() && plan.findings.empty() && allRead)
        Say("all " + std::to_string(plan.checks.size()) + " listed files match");
    return plan.findings.empty() && allRead ? 0 : 1;
}

}  // namespace

int RunManifestTool(const std::vector<std::string>& args)
{
    ParsedCommandLine parsed = ParseCommandLine(args, kDefaultBaseUrl);
    if (!parsed.ok)
        return UsageError(parsed.error);
    switch (parsed.options.command) {
    case ToolOptions::Command::Help:
        return WriteText(OutputStream::Standard, UsageText(kDefaultBaseUrl)) ? 0 : 1;
    case ToolOptions::Command::Build:
        return RunBuild(parsed.options);
    case ToolOptions::Command::Verify:
        return RunVerify(parsed.options);
    }
    return 2;
}
