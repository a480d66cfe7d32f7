#include "ManifestTool.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <new>
#include <set>

#include "CodePage.h"
#include "CommandLine.h"
#include "DigestText.h"
#include "FileHashing.h"
#include "FrontDoorOffers.h"
#include "FrontDoorPrograms.h"
#include "ManifestReader.h"
#include "ManifestSignature.h"
#include "ManifestWriter.h"
#include "NameRules.h"
#include "ObjectStore.h"
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
// Where build publishes the objects, below the resource base; --object-dir
// is that directory.
const char kObjectsPath[] = "objects/";
// A VERSION file holds one short line.
const size_t kVersionFileLimit = 256;

void Say(const std::string& text)
{
    WriteText(OutputStream::Error, "qalManifest: " + text + "\n");
}

// Says text on a line of its own, with no progress line across it.
void SayClear(ProgressLine* progress, const std::string& text)
{
    if (progress)
        progress->Clear();
    Say(text);
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

// A file published under a name that stands for its content alone: a name
// there, once written, is never rewritten, so a CDN may keep it for ever.
struct ContentCopy {
    std::string source;  // what the platform opens
    std::string shown;   // the file, for messages
    std::string store;   // the directory given for such copies
    std::string name;    // below store, "/" between directories
    std::string digest;  // the content's MD5, as the manifest lists it
    uint64_t size = 0;
    std::string Path() const { return store + "/" + name; }
};

// A file's content on its way into a new file: every block read is
// written too, so one pass digests and copies with flat memory.
class CopyingInput : public InputFile {
public:
    CopyingInput(InputFile& source, NewFile& copy) : source_(source), copy_(copy) {}
    long long Read(unsigned char* buffer, size_t capacity) override
    {
        long long got = source_.Read(buffer, capacity);
        if (got < 0)
            error_ = source_.Error();
        else if (got > 0 && !copy_.Write(buffer, size_t(got), &error_))
            return -1;
        return got;
    }
    std::string Error() const override { return error_; }

private:
    InputFile& source_;
    NewFile& copy_;
    std::string error_;
};

enum class Stored { Absent, Same, Other };

// Whether the copy's name already holds its content; says why and answers
// false when that cannot be told.
bool ExamineStored(const ContentCopy& copy, std::vector<unsigned char>& buffer, ProgressLine* progress,
                   Stored* stored)
{
    PathKind kind = PathKind::Missing;
    uint64_t size = 0;
    std::string error, digest;
    if (!ExaminePath(copy.Path(), &kind, &size, &error)) {
        SayClear(progress, "cannot examine " + copy.Path() + ": " + error);
        return false;
    }
    if (kind == PathKind::Missing) {
        *stored = Stored::Absent;
        return true;
    }
    if (kind != PathKind::File || size != copy.size) {
        *stored = Stored::Other;
        return true;
    }
    if (!DigestListedFile({copy.Path(), copy.Path(), size}, copy.Path(), buffer, progress, &digest))
        return false;
    *stored = digest == copy.digest ? Stored::Same : Stored::Other;
    return true;
}

void SayOtherContent(ProgressLine* progress, const ContentCopy& copy)
{
    SayClear(progress, copy.Path() + ": not the content of " + copy.shown +
                           " (size or MD5 differ), yet named for it; a name there stands for one content for ever"
                           " and is never rewritten: find out how it changed, or remove it");
}

// Writes the copy under a temporary name beside its name and renames it
// into place once complete; says why and answers false otherwise.
bool CopyIntoStore(const ContentCopy& copy, std::vector<unsigned char>& buffer, ProgressLine* progress)
{
    std::string error, digest;
    // Along the name: the store itself (one level, like --patch-dir) and
    // the directories below it.
    std::vector<std::string> directories = {copy.store};
    for (size_t slash = copy.name.find('/'); slash != std::string::npos; slash = copy.name.find('/', slash + 1))
        directories.push_back(copy.store + "/" + copy.name.substr(0, slash));
    for (const std::string& directory : directories) {
        if (!MakeDirectory(directory, &error)) {
            SayClear(progress, "cannot create " + directory + ": " + error);
            return false;
        }
    }
    std::unique_ptr<NewFile> target = StartNewFile(copy.Path(), &error);
    if (!target) {
        SayClear(progress, error);
        return false;
    }
    std::unique_ptr<InputFile> input = OpenInputFile(copy.source, &error);
    if (!input) {
        SayClear(progress, "cannot read " + copy.shown + ": " + error);
        return false;
    }
    CopyingInput copying(*input, *target);
    uint64_t copied = 0;
    bool done = DigestInput(copying, buffer.data(), buffer.size(), &digest,
                            [&](uint64_t bytes) {
                                copied += bytes;
                                if (progress)
                                    progress->AddBytes(bytes);
                            },
                            &error);
    if (progress)
        progress->FileDone();
    if (!done) {
        SayClear(progress, "cannot copy " + copy.shown + " to " + copy.Path() + ": " + error);
        return false;
    }
    // The file may have changed since it was digested; its name must never
    // stand for other bytes.
    if (digest != copy.digest || copied != copy.size) {
        SayClear(progress, copy.shown + " changed while it was being published; nothing written as " + copy.Path());
        return false;
    }
    switch (target->Place(&error)) {
    case NewFile::Placed::Done:
        return true;
    case NewFile::Placed::TargetExists: {
        // Another run placed it meanwhile: fine when it holds the same bytes.
        Stored stored;
        if (!ExamineStored(copy, buffer, nullptr, &stored))
            return false;
        if (stored == Stored::Same)
            return true;
        SayOtherContent(progress, copy);
        return false;
    }
    case NewFile::Placed::Failed:
        break;
    }
    SayClear(progress, error);
    return false;
}

// Puts every copy at its name unless it is there already. Every name
// already there is checked first: one that holds other bytes stops the run
// before anything is written. Says why and answers false then, or when a
// file cannot be read or written.
bool StoreCopies(const std::vector<ContentCopy>& copies, std::vector<unsigned char>& buffer, size_t* added)
{
    std::vector<const ContentCopy*> distinct;
    std::set<std::string> seen;
    uint64_t bytes = 0;
    for (const ContentCopy& copy : copies) {
        if (seen.insert(copy.Path()).second) {
            distinct.push_back(&copy);
            bytes += copy.size;
        }
    }
    std::unique_ptr<ProgressLine> progress = StartProgress(distinct.size(), bytes);
    std::vector<const ContentCopy*> absent;
    bool clean = true;
    for (const ContentCopy* copy : distinct) {
        Stored stored;
        if (!ExamineStored(*copy, buffer, progress.get(), &stored))
            return false;
        if (stored == Stored::Absent)
            absent.push_back(copy);
        else if (stored == Stored::Other) {
            SayOtherContent(progress.get(), *copy);
            clean = false;
        }
    }
    if (!clean)
        return false;
    for (const ContentCopy* copy : absent) {
        if (!CopyIntoStore(*copy, buffer, progress.get()))
            return false;
        ++*added;
    }
    if (progress)
        progress->Clear();
    return true;
}

// The front door's programs, DIR/<arch>/<name>, and its version, DIR/VERSION,
// each checked: the offers to write and the copies to publish below
// outDir. Says why and answers false when anything is refused.
bool ReadFrontDoor(const std::string& dir, const std::string& outDir, std::vector<unsigned char>& buffer,
                   std::vector<FrontDoorLine>* offers, std::vector<ContentCopy>* copies)
{
    std::string error, version;
    PathKind kind = PathKind::Missing;
    uint64_t size = 0;
    auto examine = [&](const std::string& path) {
        if (ExaminePath(path, &kind, &size, &error))
            return true;
        Say("cannot examine " + path + ": " + error);
        return false;
    };
    if (!examine(dir))
        return false;
    if (kind != PathKind::Directory) {
        Say(dir + (kind == PathKind::Missing ? ": no such directory" : ": not a directory"));
        return false;
    }
    const std::string versionFile = dir + "/VERSION";
    if (!examine(versionFile))
        return false;
    if (kind != PathKind::Missing) {
        std::string text;
        if (!ReadWholeFile(versionFile, kVersionFileLimit, &text, &error)) {
            Say(versionFile + ": " + error);
            return false;
        }
        if (!ReadFrontDoorVersionFile(text, &version)) {
            Say(versionFile + ": not a version: one line of 1 to 4 numbers of up to 5 digits joined by dots,"
                              " such as 1.0.5");
            return false;
        }
    }
    bool anyArch = false, allTaken = true;
    for (const char* arch : {kFrontDoorArch32, kFrontDoorArch64}) {
        const std::string archDir = dir + "/" + arch;
        if (!examine(archDir))
            return false;
        if (kind == PathKind::Missing)
            continue;
        if (kind != PathKind::Directory) {
            Say(archDir + ": not a directory");
            return false;
        }
        anyArch = true;
        bool anyProgram = false;
        for (const char* name : {kLauncherProgramName, kUpdaterProgramName}) {
            const std::string path = archDir + "/" + name;
            if (!examine(path))
                return false;
            if (kind == PathKind::Missing)
                continue;
            anyProgram = true;
            std::string bytes, refusal, digest, sha256;
            if (kind != PathKind::File)
                refusal = "not a file";
            else if (size > kMaxFrontDoorProgramBytes)
                refusal = std::to_string(size) + " bytes, more than a front-door program may have (" +
                          std::to_string(kMaxFrontDoorProgramBytes) + ")";
            else if (!ReadWholeFile(path, size_t(kMaxFrontDoorProgramBytes), &bytes, &error))
                refusal = error;
            else
                refusal = FrontDoorProgramRefusal(bytes, arch);
            if (!refusal.empty()) {
                Say(path + ": " + refusal + "; refused");
                allTaken = false;
                continue;
            }
            if (!DigestListedFile({path, path, bytes.size()}, path, buffer, nullptr, &digest, &sha256))
                return false;
            offers->push_back({arch, name, digest, sha256, bytes.size(), version});
            copies->push_back({path, path, outDir, std::string(arch) + "/" + digest + "/" + name, digest, bytes.size()});
        }
        if (!anyProgram) {
            Say(archDir + ": holds neither " + kLauncherProgramName + " nor " + kUpdaterProgramName);
            return false;
        }
    }
    if (!anyArch) {
        Say(dir + ": holds neither " + kFrontDoorArch32 + "/ nor " + kFrontDoorArch64 + "/ with the programs to offer");
        return false;
    }
    return allTaken;
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

    // The front door's few small programs are checked before the game is
    // read, so a refused one costs no hashing.
    std::vector<unsigned char> buffer(kReadBlockSize);
    ManifestAdditions additions;
    std::vector<ContentCopy> frontDoorCopies;
    if (!options.frontDoor.empty() &&
        !ReadFrontDoor(options.frontDoor, options.frontDoorDir, buffer, &additions.frontDoor, &frontDoorCopies)) {
        Say("no manifest written");
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

    if (!options.objectDir.empty())
        additions.objects = kObjectsPath;
    std::string manifest, failed;
    if (!ComposeManifest(*codePage, options.version, lines, &manifest, &failed, sign ? &sequence : nullptr,
                         additions)) {
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
    // Published before the manifest that names them, so no updater is
    // ever sent to one that is not there yet.
    std::vector<ContentCopy> copies = std::move(frontDoorCopies);
    if (!options.objectDir.empty()) {
        for (size_t i = 0; i < listing.files.size(); ++i)
            copies.push_back({listing.files[i].source, Shown(listing.files[i].path), options.objectDir,
                              lines[i].digest, lines[i].digest, listing.files[i].size});
    }
    size_t added = 0;
    if (!StoreCopies(copies, buffer, &added)) {
        Say("no manifest written");
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
            (options.output.empty() ? std::string() : ", in " + options.output) +
            (sign ? ", signed, sequence " + std::to_string(sequence) : std::string()) +
            (olderTrees.empty() ? std::string() : ", " + std::to_string(patches) + " patches in " + options.patchDir) +
            (copies.empty() ? std::string() : ", " + std::to_string(added) + " new objects and programs published"));
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

// A published file that must hold the bytes the manifest names.
struct PublishedCheck {
    std::string path;       // on this machine
    std::string published;  // below the resource base, for the finding
    std::string digest;     // MD5
    std::string sha256;     // or empty
    bool sizeKnown = false;
    uint64_t size = 0;
};

// "missing: NAME" or "different: NAME" for each published file that does
// not hold its bytes; false when a file cannot be examined or read.
bool CheckPublished(const std::vector<PublishedCheck>& checks, std::vector<unsigned char>& buffer,
                    std::vector<std::string>* findings)
{
    std::vector<std::pair<const PublishedCheck*, uint64_t>> toRead;
    uint64_t totalBytes = 0;
    bool allRead = true;
    for (const PublishedCheck& check : checks) {
        PathKind kind = PathKind::Missing;
        uint64_t size = 0;
        std::string error;
        if (!ExaminePath(check.path, &kind, &size, &error)) {
            Say("cannot examine " + check.path + ": " + error);
            allRead = false;
        } else if (kind == PathKind::Missing) {
            findings->push_back("missing: " + check.published);
        } else if (kind != PathKind::File || (check.sizeKnown && size != check.size)) {
            findings->push_back("different: " + check.published);
        } else {
            toRead.push_back({&check, size});
            totalBytes += size;
        }
    }
    std::unique_ptr<ProgressLine> progress = StartProgress(toRead.size(), totalBytes);
    for (const auto& item : toRead) {
        const PublishedCheck& check = *item.first;
        std::string digest, sha256;
        if (!DigestListedFile({check.path, check.path, item.second}, check.path, buffer, progress.get(), &digest,
                              check.sha256.empty() ? nullptr : &sha256))
            allRead = false;
        else if (digest != check.digest || sha256 != check.sha256)
            findings->push_back("different: " + check.published);
    }
    if (progress)
        progress->Clear();
    return allRead;
}

// The object of every entry with a well-formed "ver", at objectDir/<ver>,
// as updaters fetch it from the manifest's "objects".
void PlanObjectChecks(const tinyxml2::XMLDocument& document, const std::vector<ManifestEntry>& entries,
                      const std::string& objectDir, std::vector<PublishedCheck>* checks,
                      std::vector<std::string>* findings)
{
    const char* objects = ManifestObjectsPath(document);
    if (!objects) {
        const char* given = document.FirstChildElement()->Attribute("objects");
        findings->push_back(given ? "refused: objects attribute \"" + ShowableName(given) +
                                        "\" (not a directory below the base that updaters take)"
                                  : std::string("missing: objects attribute"));
        return;
    }
    std::set<std::string> planned;
    for (const ManifestEntry& entry : entries) {
        char published[kMaxObjectsPathLength + kDigestTextCapacity];
        if (!FormObjectPath(published, sizeof published, objects, entry.expectedDigest))
            continue;
        std::string sha256 = IsWellFormedSha256(entry.sha256) ? entry.sha256 : "";
        if (planned.insert(std::string(entry.expectedDigest) + sha256).second)
            checks->push_back({objectDir + "/" + entry.expectedDigest, published, entry.expectedDigest, sha256});
    }
}

// Every front-door program the manifest offers, at
// frontDoorDir/<arch>/<ver>/<name>, as updaters take the offers.
void PlanFrontDoorChecks(const tinyxml2::XMLDocument& document, bool signedRules, const std::string& frontDoorDir,
                         std::vector<PublishedCheck>* checks, std::vector<std::string>* findings)
{
    std::vector<FrontDoorOffer> offers = FrontDoorOffers(document, signedRules);
    if (offers.empty())
        findings->push_back("missing: frontdoor offers");
    for (const FrontDoorOffer& offer : offers) {
        char published[128];
        if (!FormFrontDoorPath(published, sizeof published, offer))
            continue;
        checks->push_back({frontDoorDir + "/" + offer.arch + "/" + offer.ver + "/" + offer.name, published, offer.ver,
                           offer.sha256 ? offer.sha256 : "", true, offer.size});
    }
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
    std::vector<PublishedCheck> published;
    if (!options.objectDir.empty())
        PlanObjectChecks(document, ManifestEntries(document), options.objectDir, &published, &plan.findings);
    if (!options.frontDoorDir.empty())
        PlanFrontDoorChecks(document, signedRules, options.frontDoorDir, &published, &plan.findings);
    if (!CheckPublished(published, buffer, &plan.findings))
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

// Deletes every object no given manifest lists. Each manifest must load
// first: one that does not might have listed any object, so nothing is
// deleted then.
int RunPrune(const ToolOptions& options)
{
    std::set<std::string> listed;
    std::string error;
    for (const std::string& path : options.manifests) {
        std::string bytes;
        if (!ReadWholeFile(path, kManifestLimit, &bytes, &error)) {
            Say(path + ": " + error + "; nothing removed");
            return 1;
        }
        // A signed manifest is read as a signing updater reads it: only the
        // bytes before its signature.
        size_t readLength = bytes.size();
        EcdsaSignature signature;
        if (SplitSignedManifest(bytes.data(), bytes.size(), &readLength, &signature) == SignatureBlock::Missing)
            readLength = bytes.size();
        tinyxml2::XMLDocument document;
        if (!ParseManifest(document, bytes.data(), readLength)) {
            Say(path + ": " + DescribeLoadFailure(document) + "; nothing removed");
            return 1;
        }
        bool anyDigest = false;
        for (const ManifestEntry& entry : ManifestEntries(document)) {
            if (IsWellFormedDigest(entry.expectedDigest)) {
                listed.insert(entry.expectedDigest);
                anyDigest = true;
            }
        }
        // Some other XML file given by mistake would otherwise let every
        // object go.
        if (!anyDigest) {
            Say(path + ": lists no file with a well-formed ver, as every manifest build writes does; nothing removed");
            return 1;
        }
    }
    std::vector<std::string> names;
    if (!ListDirectoryFiles(options.objectDir, &names, &error)) {
        Say(options.objectDir + ": " + error + "; nothing removed");
        return 1;
    }
    std::sort(names.begin(), names.end());
    size_t kept = 0, removed = 0;
    uint64_t removedBytes = 0;
    bool allRemoved = true, written = true;
    for (const std::string& name : names) {
        // Only names of objects: a build's temporary files and whatever else
        // lives there stay.
        if (!IsWellFormedDigest(name.c_str()))
            continue;
        if (listed.count(name)) {
            ++kept;
            continue;
        }
        const std::string path = options.objectDir + "/" + name;
        PathKind kind = PathKind::Missing;
        uint64_t size = 0;
        ExaminePath(path, &kind, &size, &error);
        if (!options.dryRun && !DeleteExistingFile(path, &error)) {
            Say("cannot remove " + path + ": " + error);
            allRemoved = false;
            continue;
        }
        written = WriteText(OutputStream::Standard,
                            (options.dryRun ? "unused: " : "removed: ") + std::string(kObjectsPath) + name + "\n") &&
                  written;
        ++removed;
        removedBytes += size;
    }
    if (!written)
        Say("cannot write the list to standard output");
    if (ErrorIsTerminal())
        Say((options.dryRun ? std::to_string(removed) + " objects unused (" + FormatMegabytes(removedBytes) +
                                  "), nothing removed (--dry-run)"
                            : "removed " + std::to_string(removed) + " objects (" + FormatMegabytes(removedBytes) +
                                  ")") +
            ", kept " + std::to_string(kept) + " that the manifests list");
    return allRemoved && written ? 0 : 1;
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
    case ToolOptions::Command::Prune:
        return RunPrune(parsed.options);
    }
    return 2;
}
