#include "ManifestTool.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <new>

#include "CodePage.h"
#include "CommandLine.h"
#include "FileHashing.h"
#include "ManifestReader.h"
#include "ManifestSignature.h"
#include "ManifestWriter.h"
#include "NameRules.h"
#include "PatchMaking.h"
#include "PatchRules.h"
#include "Platform.h"
#include "Progress.h"
#include "SignatureCrypto.h"
#include "TextCoding.h"
#include "TreeListing.h"
#include "VerifyReport.h"

#ifndef QAL_RESOURCE_BASE_URL
#error "QAL_RESOURCE_BASE_URL must name the updater's resource server"
#endif

namespace {

const char kDefaultBaseUrl[] = QAL_RESOURCE_BASE_URL;
// A key file is a few hundred bytes; a manifest of 100,000 entries about 12 MB.
const size_t kKeyFileLimit = 64 * 1024;
const size_t kManifestLimit = size_t(1) << 30;

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
                      ProgressLine* progress, std::string* digest, std::string* sha256 = nullptr)
{
    std::string error;
    std::unique_ptr<InputFile> input = OpenInputFile(file.source, &error);
    bool read = input && DigestInput(*input, buffer.data(), buffer.size(), digest,
                                     [progress](uint64_t bytes) {
                                         if (progress)
                                             progress->AddBytes(bytes);
                                     },
                                     &error, sha256);
    if (progress)
        progress->FileDone();
    if (!read) {
        if (progress)
            progress->Clear();
        Say("cannot read " + shownPath + ": " + error);
    }
    return read;
}

bool ReadPrivateKey(const std::string& path, P256PrivateKey* key)
{
    std::string text, why;
    bool read = ReadWholeFile(path, kKeyFileLimit, &text, &why) && ReadP256PrivateKeyPem(text, key, &why);
    std::fill(text.begin(), text.end(), '\0');
    if (!read)
        Say(path + ": " + why);
    return read;
}

bool ReadPublicKey(const std::string& path, P256PublicKey* key)
{
    std::string text, why;
    if (ReadWholeFile(path, kKeyFileLimit, &text, &why) && ReadP256PublicKeyPem(text, key, &why))
        return true;
    Say(path + ": " + why);
    return false;
}

bool SignedByAny(const std::vector<P256PublicKey>& keys, const std::string& bytes, size_t size,
                 const EcdsaSignature& signature)
{
    for (const P256PublicKey& key : keys) {
        if (VerifyP256Sha256(key, reinterpret_cast<const unsigned char*>(bytes.data()), size, signature))
            return true;
    }
    return false;
}

std::unique_ptr<ProgressLine> StartProgress(uint64_t files, uint64_t bytes)
{
    if (!ErrorIsTerminal())
        return nullptr;
    return std::make_unique<ProgressLine>(files, bytes,
                                          [](const std::string& text) { WriteText(OutputStream::Error, text); });
}

std::string Sha256Of(const std::string& bytes)
{
    std::unique_ptr<Sha256Stream> stream = NewSha256Stream();
    unsigned char digest[32];
    if (!stream)
        return {};
    stream->Add(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return stream->Finish(digest) ? Sha256Text(digest) : std::string();
}

// The file name a patch has in the patch directory ("patch/" on the server).
std::string PatchFileName(const std::string& from, const std::string& ver)
{
    char path[96];
    if (!FormPatchPath(path, sizeof path, from.c_str(), ver.c_str()))
        return {};
    return std::string(path).substr(std::strlen("patch/"));
}

// Adds to every line whose file differs from the file of the same path in
// an older tree a patch from that older file, written into patchDir, when
// it is worth publishing; files either way larger than any updater patches
// get none. Says why and answers false when a file cannot be read or a
// patch cannot be made or written.
bool AddPatches(const std::vector<TreeListing>& olderTrees, const std::vector<ListedFile>& files,
                const std::string& patchDir, std::vector<unsigned char>& buffer, std::vector<ManifestLine>* lines,
                size_t* made)
{
    std::vector<std::map<std::string, const ListedFile*>> olderByPath(olderTrees.size());
    for (size_t t = 0; t < olderTrees.size(); ++t) {
        // The listed files are in manifest form by now ("\\" between directories).
        for (const ListedFile& file : olderTrees[t].files)
            olderByPath[t][ManifestFormOf(file.path)] = &file;
    }
    std::string error;
    if (!MakeDirectory(patchDir, &error)) {
        Say("cannot create " + patchDir + ": " + error);
        return false;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const ListedFile& file = files[i];
        ManifestLine& line = (*lines)[i];
        if (file.size > kMaxPatchedFileBytes64)
            continue;
        std::string newer;
        for (size_t t = 0; t < olderTrees.size(); ++t) {
            auto found = olderByPath[t].find(file.path);
            if (found == olderByPath[t].end() || found->second->size > kMaxPatchedFileBytes64)
                continue;
            const ListedFile& olderFile = *found->second;
            std::string from;
            if (!DigestListedFile(olderFile, olderFile.source, buffer, nullptr, &from))
                return false;
            bool known = from == line.digest;
            for (const PatchLine& patch : line.patches)
                known = known || patch.from == from;
            if (known)
                continue;
            std::string older, patch;
            // Both versions are held at once: a 32-bit qalManifest may lack
            // the room for big ones, which then get no patch (players fetch
            // them whole), as files beyond the bound do.
            try {
                if (!ReadWholeFile(olderFile.source, size_t(kMaxPatchedFileBytes64), &older, &error)) {
                    Say("cannot read " + olderFile.source + ": " + error);
                    return false;
                }
                if (newer.empty() && file.size > 0 &&
                    !ReadWholeFile(file.source, size_t(kMaxPatchedFileBytes64), &newer, &error)) {
                    Say("cannot read " + Shown(file.path) + ": " + error);
                    return false;
                }
                PatchMade made = MakePatch(older, newer, &patch, &error);
                if (made == PatchMade::OutOfMemory) {
                    Say("no patch for " + Shown(file.path) + " from " + olderFile.source + ": " + error);
                    std::string().swap(newer);
                    continue;
                }
                if (made != PatchMade::Made) {
                    Say("cannot make the patch for " + Shown(file.path) + " from " + olderFile.source + ": " + error);
                    return false;
                }
            } catch (const std::bad_alloc&) {
                Say("no patch for " + Shown(file.path) + " from " + olderFile.source +
                    ": not enough memory for both versions at once");
                std::string().swap(newer);
                continue;
            }
            if (!PatchWorthPublishing(patch.size(), newer.size()))
                continue;
            std::string sha256 = Sha256Of(patch), name = PatchFileName(from, line.digest);
            if (sha256.empty() || name.empty()) {
                Say("the system could not digest the patch for " + Shown(file.path));
                return false;
            }
            if (!ReplaceFileWith(patchDir + "/" + name, patch, &error)) {
                Say(error);
                return false;
            }
            line.patches.push_back({from, sha256, patch.size()});
            ++*made;
        }
    }
    return true;
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
    // The key is read before any file, so a wrong one costs no hashing.
    const bool sign = !options.signingKey.empty();
    P256PrivateKey key;
    if (sign && !ReadPrivateKey(options.signingKey, &key))
        return 1;
    const uint64_t sequence = options.haveSequence ? options.sequence : uint64_t(std::time(nullptr));
    UpdaterSite site;
    if (!FormUpdaterSite(options.installDir, options.baseUrl, &site))
        return UsageError("the installation directory \"" + ShowableName(options.installDir) +
                          "\" leaves the updater no room for a file name (or is not UTF-8)");

    TreeListing listing;
    if (!ListTree(options.gameDir, &listing, &error)) {
        Say(options.gameDir + ": " + error);
        return 1;
    }
    // The site root given for the game directory would publish game\game\...
    // and leave every player without a micro-client to start.
    if (!HoldsMicroClient(listing)) {
        Say(options.gameDir + ": no PelMicroLauncher.exe at its top, which every updater starts (is it the "
            "game directory itself, not the site above it?); no manifest written");
        return 1;
    }

    // Older versions are listed before any file is read, so a mistyped one
    // costs no hashing.
    std::vector<TreeListing> olderTrees(options.patchFrom.size());
    for (size_t t = 0; t < olderTrees.size(); ++t) {
        if (!ListTree(options.patchFrom[t], &olderTrees[t], &error)) {
            Say(options.patchFrom[t] + ": " + error + "; no manifest written");
            return 1;
        }
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
        std::string digest, sha256;
        if (DigestListedFile(file, file.path, buffer, progress.get(), &digest, sign ? &sha256 : nullptr))
            lines.push_back({file.path, digest, sha256});
        else
            allRead = false;
    }
    if (progress)
        progress->Clear();
    if (!allRead) {
        Say("no manifest written");
        return 1;
    }

    size_t patches = 0;
    if (!olderTrees.empty() && !AddPatches(olderTrees, listing.files, options.patchDir, buffer, &lines, &patches)) {
        Say("no manifest written");
        return 1;
    }

    std::string manifest, failed;
    if (!ComposeManifest(*codePage, options.version, lines, &manifest, &failed, sign ? &sequence : nullptr)) {
        Say("code page " + std::to_string(options.codePage) + " cannot carry \"" + ShowableName(failed) +
            "\"; no manifest written");
        return 1;
    }
    if (sign) {
        // Checked against its own public half before anything is written:
        // a signature the updater would refuse is never published.
        EcdsaSignature signature;
        const auto* bytes = reinterpret_cast<const unsigned char*>(manifest.data());
        if (!SignP256Sha256(key, bytes, manifest.size(), &signature) ||
            !VerifyP256Sha256(key.publicKey, bytes, manifest.size(), signature)) {
            Say(options.signingKey + ": the system could not sign with this key; no manifest written");
            return 1;
        }
        manifest += FormatSignatureBlock(signature);
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
            (options.output.empty() ? std::string() : ", in " + options.output) +
            (sign ? ", signed, sequence " + std::to_string(sequence) : std::string()) +
            (olderTrees.empty() ? std::string() : ", " + std::to_string(patches) + " patches in " + options.patchDir));
    return 0;
}

// Every patch the manifest offers, as the updater would take it, against
// the file of its name in patchDir: "missing: patch/NAME" when there is none,
// "different: patch/NAME" when its size or SHA-256 is not the one listed.
bool CheckPatches(const std::vector<ManifestEntry>& entries, const std::string& patchDir,
                  std::vector<std::string>* findings)
{
    bool allRead = true;
    for (const ManifestEntry& entry : entries) {
        for (const PatchOffer& offer : PatchOffers(entry, false)) {
            std::string name = PatchFileName(offer.from, entry.expectedDigest), bytes, error;
            if (!ReadWholeFile(patchDir + "/" + name, size_t(kMaxPatchedFileBytes64), &bytes, &error)) {
                if (error.compare(0, 16, "cannot be opened") == 0) {
                    findings->push_back("missing: patch/" + name);
                } else {
                    Say("cannot read " + patchDir + "/" + name + ": " + error);
                    allRead = false;
                }
            } else if (bytes.size() != offer.size || (offer.sha256 && Sha256Of(bytes) != offer.sha256)) {
                findings->push_back("different: patch/" + name);
            }
        }
    }
    return allRead;
}

int RunVerify(const ToolOptions& options)
{
    std::string error;
    std::unique_ptr<CodePage> codePage = OpenCodePage(options.codePage, &error);
    if (!codePage)
        return UsageError(error);
    UpdaterSite site;
    if (!FormUpdaterSite(options.installDir, options.baseUrl, &site))
        return UsageError("the installation directory \"" + ShowableName(options.installDir) +
                          "\" leaves the updater no room for a file name (or is not UTF-8)");
    const bool signedRules = !options.publicKeys.empty();
    std::vector<P256PublicKey> keys(options.publicKeys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!ReadPublicKey(options.publicKeys[i], &keys[i]))
            return 1;
    }

    std::string bytes;
    if (!ReadWholeFile(options.manifest, kManifestLimit, &bytes, &error)) {
        Say(options.manifest + ": " + error);
        return 1;
    }
    // A signing updater reads only the bytes the signature covers.
    size_t readLength = bytes.size();
    std::string signatureLine;
    if (signedRules) {
        EcdsaSignature signature;
        switch (SplitSignedManifest(bytes.data(), bytes.size(), &readLength, &signature)) {
        case SignatureBlock::Missing:
            readLength = bytes.size();
            signatureLine = "signature: missing";
            break;
        case SignatureBlock::Malformed:
            signatureLine = "signature: bad";
            break;
        case SignatureBlock::Present:
            signatureLine = SignedByAny(keys, bytes, readLength, signature) ? "signature: good" : "signature: bad";
            break;
        }
    }
    tinyxml2::XMLDocument document;
    if (!ParseManifest(document, bytes.data(), readLength)) {
        if (!signatureLine.empty())
            WriteText(OutputStream::Standard, signatureLine + "\n");
        Say(options.manifest + ": " + DescribeLoadFailure(document));
        return 1;
    }
    TreeListing listing;
    if (!ListTree(options.gameDir, &listing, &error)) {
        Say(options.gameDir + ": " + error);
        return 1;
    }

    VerifyPlan plan = PlanVerify(ManifestEntries(document), listing, *codePage, site, signedRules);
    if (signedRules) {
        std::string sequence = SequenceFinding(ManifestSequence(document));
        if (!sequence.empty())
            plan.findings.push_back(sequence);
    }
    uint64_t totalBytes = 0;
    for (const VerifyPlan::Check& check : plan.checks)
        totalBytes += listing.files[check.file].size;
    std::unique_ptr<ProgressLine> progress = StartProgress(plan.checks.size(), totalBytes);
    std::vector<unsigned char> buffer(kReadBlockSize);
    bool allRead = true;
    for (const VerifyPlan::Check& check : plan.checks) {
        std::string digest, sha256;
        if (!DigestListedFile(listing.files[check.file], check.path, buffer, progress.get(), &digest,
                              check.sha256.empty() ? nullptr : &sha256))
            allRead = false;
        else if (digest != check.expected)
            plan.findings.push_back("different: " + check.path);
        else if (sha256 != check.sha256)
            plan.findings.push_back("different: " + check.path + " (its SHA-256)");
    }
    if (progress)
        progress->Clear();
    if (!options.patchDir.empty() && !CheckPatches(ManifestEntries(document), options.patchDir, &plan.findings))
        allRead = false;

    SortFindings(&plan.findings);
    if (!signatureLine.empty())
        plan.findings.insert(plan.findings.begin(), signatureLine);
    bool written = true;
    for (const std::string& finding : plan.findings)
        written = WriteText(OutputStream::Standard, finding + "\n") && written;
    if (!written) {
        Say("cannot write the findings to standard output");
        return 1;
    }
    const bool good = plan.findings.size() == (signatureLine.empty() ? 0 : 1) &&
                      (!signedRules || signatureLine == "signature: good");
    if (ErrorIsTerminal() && good && allRead)
        Say("all " + std::to_string(plan.checks.size()) + " listed files match");
    return good && allRead ? 0 : 1;
}

// A new key pair; the private half is written first and taken away again
// when the public half cannot be written, so a failure leaves nothing.
int RunKeygen(const ToolOptions& options)
{
    P256PrivateKey key;
    if (!GenerateP256Key(&key)) {
        Say("the system could not make an ECDSA P-256 key pair");
        return 1;
    }
    std::string privateText = WriteP256PrivateKeyPem(key), error;
    bool privateWritten = WriteNewFile(options.privateKeyOut, privateText, true, &error);
    std::fill(privateText.begin(), privateText.end(), '\0');
    if (!privateWritten) {
        Say(options.privateKeyOut + ": " + error + "; no key written");
        return 1;
    }
    if (!WriteNewFile(options.publicKeyOut, WriteP256PublicKeyPem(key.publicKey), false, &error)) {
        RemoveFile(options.privateKeyOut);
        Say(options.publicKeyOut + ": " + error + "; no key written");
        return 1;
    }
    if (ErrorIsTerminal())
        Say("wrote the private key " + options.privateKeyOut + " (keep it off the servers) and the public key " +
            options.publicKeyOut + " (build the updater with it)");
    return 0;
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
    case ToolOptions::Command::Keygen:
        return RunKeygen(parsed.options);
    }
    return 2;
}
