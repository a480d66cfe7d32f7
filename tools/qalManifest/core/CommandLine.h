// The tool's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolOptions {
    enum class Command { Help, Build, Verify, Keygen };
    Command command = Command::Help;
    std::string gameDir;
    std::string manifest;  // verify: the manifest to check
    std::string version;   // build
    std::string output;    // build: empty writes to standard output
    std::string signingKey;  // build: the private key to sign with; empty: unsigned
    bool haveSequence = false;  // build: sequence given, else the time of the build
    uint64_t sequence = 0;
    std::vector<std::string> publicKeys;  // verify: any of them may have signed
    std::string privateKeyOut, publicKeyOut;  // keygen
    unsigned codePage = 936;
    std::string installDir = "C:\\Program Files (x86)\\Orvane\\";
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
