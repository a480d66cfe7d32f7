#include "CommandLine.h"

#include "ManifestSignature.h"

namespace {

bool ParseCodePage(const std::string& text, unsigned* out)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    *out = value;
    return true;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& defaultBaseUrl)
{
    ParsedCommandLine parsed;
    ToolOptions& options = parsed.options;
    options.baseUrl = defaultBaseUrl;
    auto refuse = [&](const std::string& why) {
        parsed.ok = false;
        parsed.error = why;
        return parsed;
    };

    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg == "-h" || arg == "--help") {
            options.command = ToolOptions::Command::Help;
            parsed.ok = true;
            return parsed;
        }
    }
    if (args.empty())
        return refuse("no command given");
    if (args[0] == "build")
        options.command = ToolOptions::Command::Build;
    else if (args[0] == "verify")
        options.command = ToolOptions::Command::Verify;
    else if (args[0] == "keygen")
        options.command = ToolOptions::Command::Keygen;
    else if (args[0] == "prune")
        options.command = ToolOptions::Command::Prune;
    else
        return refuse("unknown command \"" + args[0] + "\"");
    const bool build = options.command == ToolOptions::Command::Build;
    const bool verify = options.command == ToolOptions::Command::Verify;
    const bool prune = options.command == ToolOptions::Command::Prune;

    std::vector<std::string> operands;
    bool haveVersion = false, optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        bool known = ((build || verify) && name == "--code-page") ||
                     ((build || verify) && (name == "--install-dir" || name == "--base-url")) ||
                     ((build || verify) && name == "--patch-dir") || (build && name == "--patch-from") ||
                     (build && (name == "--version" || name == "-o" || name == "--output" || name == "--sign" ||
                                name == "--sequence")) ||
                     (verify && name == "--public-key") ||
                     ((build || verify || prune) && name == "--object-dir") ||
                     (build && name == "--front-door") || ((build || verify) && name == "--front-door-dir") ||
                     (prune && name == "--dry-run");
        if (!known)
            return refuse("unknown option \"" + name + "\" for " + args[0]);
        if (name == "--dry-run") {
            if (inlineValue)
                return refuse("--dry-run takes no value");
            options.dryRun = true;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return refuse("option " + name + " needs a value");
            value = args[++i];
        }
        if (name == "--code-page") {
            if (!ParseCodePage(value, &options.codePage))
                return refuse("--code-page needs a code page number (1-65535), not \"" + value + "\"");
        } else if (name == "--version") {
            options.version = value;
            haveVersion = true;
        } else if (name == "-o" || name == "--output") {
            if (value.empty())
                return refuse(name + " needs a file name");
            options.output = value;
        } else if (name == "--sign") {
            if (value.empty())
                return refuse("--sign needs the private key file");
            options.signingKey = value;
        } else if (name == "--sequence") {
            if (!ParseManifestSequence(value.c_str(), &options.sequence))
                return refuse("--sequence needs a whole number from 1 to 9223372036854775807, not \"" + value +
                              "\"");
            options.haveSequence = true;
        } else if (name == "--public-key") {
            if (value.empty())
                return refuse("--public-key needs a public key file");
            options.publicKeys.push_back(value);
        } else if (name == "--patch-from") {
            if (value.empty())
                return refuse("--patch-from needs an older game directory");
            options.patchFrom.push_back(value);
        } else if (name == "--patch-dir") {
            if (value.empty())
                return refuse("--patch-dir needs a directory");
            options.patchDir = value;
        } else if (name == "--object-dir" || name == "--front-door" || name == "--front-door-dir") {
            if (value.empty())
                return refuse(name + " needs a directory");
            (name == "--object-dir" ? options.objectDir
                                    : name == "--front-door" ? options.frontDoor : options.frontDoorDir) = value;
        } else if (name == "--install-dir") {
            if (value.empty())
                return refuse("--install-dir needs a directory");
            options.installDir = value;
        } else {
            if (value.empty() || value.back() != '/')
                return refuse("--base-url must end with \"/\", as the updater's built-in address does");
            options.baseUrl = value;
        }
    }

    if (build) {
        if (operands.empty())
            return refuse("build needs GAME_DIR");
        if (operands.size() > 1)
            return refuse("unexpected operand \"" + operands[1] + "\"");
        if (!haveVersion)
            return refuse("build needs --version TEXT");
        if (options.patchFrom.empty() != options.patchDir.empty())
            return refuse("--patch-from OLD_DIR and --patch-dir DIR go together");
        if (options.frontDoor.empty() != options.frontDoorDir.empty())
            return refuse("--front-door DIR and --front-door-dir OUT go together");
        if (options.haveSequence && options.signingKey.empty())
            return refuse("--sequence is written only into a signed manifest: give --sign PRIVATE.pem too");
        options.gameDir = operands[0];
    } else if (options.command == ToolOptions::Command::Keygen) {
        if (operands.size() < 2)
            return refuse("keygen needs PRIVATE.pem and PUBLIC.pem");
        if (operands.size() > 2)
            return refuse("unexpected operand \"" + operands[2] + "\"");
        if (operands[0] == operands[1])
            return refuse("keygen needs two different files for the private and the public key");
        options.privateKeyOut = operands[0];
        options.publicKeyOut = operands[1];
    } else if (prune) {
        if (options.objectDir.empty())
            return refuse("prune needs --object-dir DIR");
        if (operands.empty())
            return refuse("prune needs at least one MANIFEST: the objects of every manifest given stay, all others go");
        options.manifests = operands;
    } else {
        if (operands.size() < 2)
            return refuse("verify needs MANIFEST and GAME_DIR");
        if (operands.size() > 2)
            return refuse("unexpected operand \"" + operands[2] + "\"");
        options.manifest = operands[0];
        options.gameDir = operands[1];
    }
    parsed.ok = true;
    return parsed;
}

std::string UsageText(const std::string& defaultBaseUrl)
{
    return
        "Usage:\n"
        "  qalManifest build GAME_DIR --version TEXT [-o FILE] [--code-page N]\n"
        "                    [--install-dir DIR] [--base-url URL]\n"
        "                    [--sign PRIVATE.pem [--sequence N]]\n"
        "                    [--patch-from OLD_DIR... --patch-dir DIR] [--object-dir DIR]\n"
        "                    [--front-door DIR --front-door-dir DIR]\n"
        "  qalManifest verify MANIFEST GAME_DIR [--code-page N] [--install-dir DIR]\n"
        "                     [--base-url URL] [--public-key PUBLIC.pem]...\n"
        "                     [--patch-dir DIR] [--object-dir DIR] [--front-door-dir DIR]\n"
        "  qalManifest prune --object-dir DIR [--dry-run] MANIFEST...\n"
        "  qalManifest keygen PRIVATE.pem PUBLIC.pem\n"
        "  qalManifest --help\n"
        "\n"
        "build   Writes the update manifest (qupdater.xml) that qalUpdate reads: every\n"
        "        regular file under GAME_DIR, recursively, with its MD5, sorted by path.\n"
        "        Refuses, naming each one, every name the updater could not fetch or\n"
        "        write (device names, its partial file name qalUpdate.part, names the\n"
        "        code page cannot carry, characters Windows or the download address\n"
        "        cannot hold, trailing dots or blanks, names differing only in case,\n"
        "        names too long for the updater, names shaped like short 8.3 names such\n"
        "        as NAME~1.EXT, links leading out of GAME_DIR), then exits 1 without\n"
        "        writing anything. Names differing only in letter case as NTFS compares\n"
        "        them (any letter the code page carries) are refused. A GAME_DIR with no\n"
        "        PelMicroLauncher.exe at its top is refused. Empty directories are not\n"
        "        listed.\n"
        "verify  Compares MANIFEST with GAME_DIR and prints, sorted, one per line:\n"
        "          missing: PATH      listed, but no such file\n"
        "          different: PATH    the file's MD5 differs (or \"ver\" is no digest)\n"
        "          refused: PATH (R)  the updater would refuse the entry, by any rule\n"
        "                             build applies (\"/\" as a separator among them)\n"
        "          unlisted: PATH     a file the manifest does not list\n"
        "        Names compare exactly, case included. Exits 0 when nothing is printed.\n"
        "        With --public-key, checks what an updater built with those keys checks:\n"
        "        first a line \"signature: good\", \"signature: bad\" or \"signature: missing\",\n"
        "        then also \"sequence: ...\" when the sequence is missing or malformed, every\n"
        "        entry's sha256 (\"refused:\" when missing, \"different:\" when the file's\n"
        "        SHA-256 differs); exits 0 only when the signature is good and nothing\n"
        "        else is printed.\n"
        "prune   Deletes from the --object-dir every object (a file named by 32\n"
        "        uppercase hexadecimal digits) that no MANIFEST lists, printing\n"
        "        \"removed: objects/MD5\" for each; other files stay. Give every manifest\n"
        "        players may still hold, the one being published too. A MANIFEST that\n"
        "        does not load (a signed one is read up to its signature) stops it\n"
        "        before anything is deleted.\n"
        "keygen  Makes an ECDSA P-256 key pair for signing manifests: PRIVATE.pem\n"
        "        (PKCS#8, readable by its owner only; keep it off the servers) and\n"
        "        PUBLIC.pem (build the updater with it: QAL_MANIFEST_PUBLIC_KEYS).\n"
        "        Never overwrites a file.\n"
        "\n"
        "Options:\n"
        "  --version TEXT     the manifest's version, shown by the updater (build)\n"
        "  -o, --output FILE  write the manifest to FILE, replacing it only once\n"
        "                     everything succeeded (default: standard output)\n"
        "  --code-page N      the players' ANSI code page; names and the version are\n"
        "                     written (and read back) in it (default: 936, GBK)\n"
        "  --install-dir DIR  the players' installation directory, for the updater's\n"
        "                     path limits (build, verify; default: the installer's,\n"
        "                     %LOCALAPPDATA%\\Programs\\Orvane\\ of a 20-character user\n"
        "                     name: " + std::string(kDefaultInstallDir) + ")\n"
        "  --base-url URL     the updater's resource address, ending in \"/\", for its\n"
        "                     address limit (default: " + defaultBaseUrl + ")\n"
        "  --sign KEY         sign the manifest with this private key (PEM): every\n"
        "                     entry gets its sha256, the root its sequence, the file\n"
        "                     ends in the signature (build; default: unsigned, as before)\n"
        "  --sequence N       the signed manifest's sequence, 1 to 9223372036854775807;\n"
        "                     updaters refuse one lower than the last they took\n"
        "                     (build; default: seconds since 1970, UTC)\n"
        "  --public-key FILE  a key the players' updater trusts (verify; repeatable)\n"
        "  --patch-from DIR   an older version's game directory (build; repeatable):\n"
        "                     for every listed file that differs from the file of the\n"
        "                     same path there, a binary patch (zstd --patch-from) is\n"
        "                     written into the --patch-dir and offered in the manifest\n"
        "                     when it is at most 3/4 of the file; files over 2 GiB get\n"
        "                     none. Publish DIR as patch/ beside qupdater.xml and game/.\n"
        "  --patch-dir DIR    where patches are written (build) or looked for (verify:\n"
        "                     each offered patch is checked, \"missing: patch/NAME\" or\n"
        "                     \"different: patch/NAME\")\n"
        "  --object-dir DIR   content-addressed copies of the listed files, DIR/MD5\n"
        "                     (build: each file not there yet is added, none is ever\n"
        "                     rewritten, one holding other bytes is an error, and the\n"
        "                     manifest's root gets objects=\"objects/\"; publish DIR as\n"
        "                     objects/ beside qupdater.xml. verify: each listed file's\n"
        "                     object is checked, \"missing: objects/MD5\" or\n"
        "                     \"different: objects/MD5\". prune: where to delete)\n"
        "  --front-door DIR   the launcher and updater to offer players (build):\n"
        "                     DIR/i686/ and/or DIR/x86_64/, each with qalLogin.exe\n"
        "                     and/or qalUpdate.exe (Windows programs of that\n"
        "                     architecture, up to 64 MiB), and optionally DIR/VERSION\n"
        "                     (one line such as 1.0.5); each is offered in the manifest\n"
        "                     with its size, MD5 and SHA-256\n"
        "  --front-door-dir DIR\n"
        "                     where those programs go, as DIR/ARCH/MD5/NAME, never\n"
        "                     rewritten (build; publish DIR as frontdoor/ beside\n"
        "                     qupdater.xml), or are checked (verify: \"missing:\n"
        "                     frontdoor/ARCH/MD5/NAME\" or \"different: ...\")\n"
        "  --dry-run          list what prune would delete, as \"unused: objects/MD5\",\n"
        "                     and delete nothing\n"
        "  -h, --help         show this text\n"
        "\n"
        "On a terminal, progress is shown on standard error.\n"
        "Exit status: 0 success, 1 refused names, differences or failures, 2 bad usage.\n";
}
