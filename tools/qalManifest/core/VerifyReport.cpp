#include "VerifyReport.h"

#include <algorithm>
#include <unordered_map>

#include "DigestText.h"
#include "ManifestPathCheck.h"
#include "ManifestSignature.h"
#include "NameRules.h"
#include "TextCoding.h"
#include "UpdateLocations.h"

VerifyPlan PlanVerify(const std::vector<ManifestEntry>& entries, const TreeListing& listing,
                      const CodePage& codePage, const UpdaterSite& site, bool signedRules)
{
    VerifyPlan plan;
    std::vector<ListedFile> accepted;
    std::unordered_map<std::string, size_t> byPath;
    for (size_t i = 0; i < listing.files.size(); ++i)
        byPath.emplace(listing.files[i].path, i);
    std::vector<bool> listed(listing.files.size(), false);

    for (const ManifestEntry& entry : entries) {
        std::string raw = entry.path;
        std::string path;
        std::wstring wide;
        if (!codePage.Decode(raw, &path) || !Utf8ToUtf16Units(path, &wide)) {
            plan.findings.push_back("refused: " + ShowableName(raw) + " (not text in code page " +
                                    std::to_string(codePage.Number()) + ")");
            continue;
        }
        // Shown as written: a "/" is not a "\\" to the updater.
        std::string shown = ShowableName(path);
        if (!IsSafeManifestPath(wide.c_str())) {
            plan.findings.push_back("refused: " + shown +
                                    " (the updater refuses it: it leaves the game directory or names a device)");
            continue;
        }
        if (path.find('/') != std::string::npos) {
            plan.findings.push_back("refused: " + shown +
                                    " (separates directories with \"/\", for which the updater makes no"
                                    " directory: a fresh installation cannot take it; use \"\\\")");
            continue;
        }
        std::string key = path;
        std::replace(key.begin(), key.end(), '\\', '/');
        if (key.empty() || key.front() == '/' || key.back() == '/' || key.find("//") != std::string::npos) {
            plan.findings.push_back("refused: " + shown + " (an empty name between separators)");
            continue;
        }
        // The rules build applies, so what passes here the updater takes.
        std::string reason = PathRefusal(key, codePage, site);
        if (!reason.empty()) {
            plan.findings.push_back("refused: " + shown + " (" + reason + ")");
            continue;
        }
        accepted.push_back({key, std::string(), 0});
        auto found = byPath.find(key);
        if (found == byPath.end()) {
            plan.findings.push_back("missing: " + shown);
            continue;
        }
        listed[found->second] = true;
        if (signedRules && !IsWellFormedDigest(entry.expectedDigest))
            plan.findings.push_back("refused: " + shown +
                                    " (its ver is not 32 uppercase hexadecimal digits, so a signing updater"
                                    " refuses the manifest)");
        else if (signedRules && !IsWellFormedSha256(entry.sha256))
            plan.findings.push_back("refused: " + shown +
                                    " (its sha256 is missing or not 64 lowercase hexadecimal digits, so a"
                                    " signing updater refuses the manifest)");
        else if (!IsWellFormedDigest(entry.expectedDigest))
            plan.findings.push_back("different: " + shown);
        else
            plan.checks.push_back({found->second, shown, entry.expectedDigest, signedRules ? entry.sha256 : ""});
    }
    for (const RefusedEntry& collision : FindCaseCollisions(accepted))
        plan.findings.push_back("refused: " + ShowableName(ManifestFormOf(collision.path)) + " (" + collision.reason +
                                ")");
    for (size_t i = 0; i < listing.files.size(); ++i) {
        if (!listed[i])
            plan.findings.push_back("unlisted: " + ShowableName(ManifestFormOf(listing.files[i].path)));
    }
    for (const RefusedEntry& refused : listing.refused)
        plan.findings.push_back("refused: " + ShowableName(ManifestFormOf(refused.path)) + " (" + refused.reason + ")");
    return plan;
}

std::string SequenceFinding(const char* sequence)
{
    uint64_t value;
    if (!sequence)
        return "sequence: missing";
    if (!ParseManifestSequence(sequence, &value))
        return "sequence: \"" + ShowableName(sequence) + "\" is not a whole number from 1 to 9223372036854775807";
    return std::string();
}

std::string DescribeLoadFailure(const tinyxml2::XMLDocument& document)
{
    switch (document.ErrorID()) {
    case tinyxml2::XML_SUCCESS:
        return "holds no element";
    case tinyxml2::XML_ERROR_FILE_NOT_FOUND:
    case tinyxml2::XML_ERROR_FILE_COULD_NOT_BE_OPENED:
        return "cannot be opened";
    case tinyxml2::XML_ERROR_FILE_READ_ERROR:
        return "cannot be read";
    case tinyxml2::XML_ERROR_EMPTY_DOCUMENT:
        return "is empty";
    default:
        return "is not well-formed XML (line " + std::to_string(document.ErrorLineNum()) + ")";
    }
}

void SortFindings(std::vector<std::string>* findings)
{
    std::sort(findings->begin(), findings->end());
    findings->erase(std::unique(findings->begin(), findings->end()), findings->end());
}
