// Comparing a manifest with a directory: what a mirror would serve against
// what the manifest promises.
#pragma once

#include <string>
#include <vector>

#include "CodePage.h"
#include "ManifestReader.h"
#include "NameRules.h"
#include "TreeListing.h"

struct VerifyPlan {
    // "missing: P", "different: P", "refused: P (reason)", "unlisted: P",
    // known without reading any file.
    std::vector<std::string> findings;
    // Listed files whose digest decides between a match and "different".
    struct Check {
        size_t file;  // index into the listing's files
        std::string path;  // as shown
        std::string expected;  // a well-formed digest
        std::string sha256;  // a well-formed one to check as well, or empty
    };
    std::vector<Check> checks;
};

// Names compare exactly: a mirror serves names as they are, whatever case
// Windows would forgive. Every entry must keep the rules build keeps for the
// players' site (separators, characters, code page, devices, lengths, names
// one file on Windows), each breach named. With signedRules, as an
// updater built with manifest keys reads the entries: each must carry a
// well-formed "ver" and "sha256", and the file must match both.
VerifyPlan PlanVerify(const std::vector<ManifestEntry>& entries, const TreeListing& listing,
                      const CodePage& codePage, const UpdaterSite& site, bool signedRules = false);

// The finding for a signed manifest's root "sequence", or empty when it is
// well-formed.
std::string SequenceFinding(const char* sequence);

// Why LoadManifest refused a document, for the message naming the file.
std::string DescribeLoadFailure(const tinyxml2::XMLDocument& document);

// Sorted, each finding once.
void SortFindings(std::vector<std::string>* findings);
