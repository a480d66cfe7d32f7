// The tool's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// %LOCALAPPDATA%\Programs\Orvane\ of a user whose name has 20 characters.
inline const char kDefaultInstallDir[] = "C:\\Users\\UUUUUUUUUUUUUUUUUUUU\\AppData\\Local\\Programs\\Orvane\\";

struct ToolOptions {
    enum class Command { Help, Build, Verify, Keygen, Prune };
    Command command = Command::Help;
    std::string gameDir;
    std::string manifest;  // verify: the manifest to check
    std::vector<std::string> manifests;  // prune: every manifest whose objects stay
    std::string version;   // build
    std::string output;    // build: empty writes to standard output
    std::string signingKey;  // build: the private key to sign with; empty: unsigned
    bool haveSequence = false;  // build: sequence given, else the time of the build
    uint64_t sequence = 0;
    std::vector<std::string> publicKeys;  // verify: any of them may have signed
    std::vector<std::string> patchFrom;   // build: older game directories to make patches from
    std::string patchDir;                 // build: where patches go; verify: where they are
    std::string objectDir;     // build: where objects go; verify, prune: where they are
    std::string frontDoor;     // build: the programs to offer, DIR/<arch>/<name>
    std::string frontDoorDir;  // build: where they go; verify: where they are
    bool dryRun = false;       // prune: list only
    std::string privateKeyOut, publicKeyOut;  // keygen
    unsigned codePage = 936;
    // Where the installer puts the programs, as a player has it: the user
    // name is a placeholder of the longest a local account can have.
    std::string installDir = kDefaultInstallDir;
    std::string baseUrl;
};

struct ParsedCommandLine {
    bool ok = false;
    std::string error;  // why the command line was refused
    ToolOptions options;
};

// args without the program name; baseUrl is the default resource address.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& defaultBaseUrl);

std::string UsageText(const std::string& defaultBaseUrl);
