// launcher-publish: the game maker's side of the launcher. It assembles and packs application
// bundles, writes the version manifest and checks that the launcher will read a manifest the
// way its author meant.
#include "tools/publish/commands.h"

#include <exception>
#include <iostream>
#include <map>

namespace {

const char* const kUsage =
    "usage: launcher-publish <command> [options]\n"
    "\n"
    "commands:\n"
    "  release   publish a whole release from its description (RELEASE.ini): bundle, pack\n"
    "            with patches, manifest, every check, and what players will fetch\n"
    "  bundle    assemble an application bundle (<prefix><name>.app) around an executable\n"
    "  pack      pack an application bundle folder into a ZIP archive (game content or the\n"
    "            launcher's installer)\n"
    "  manifest  write LatestVersion.ini with the five keys the launcher reads, and the\n"
    "            hashes, serial and signature that a launcher with a key checks\n"
    "  lint      check a manifest file or URL for everything the launcher would read\n"
    "            otherwise than its author meant\n"
    "  keygen    make a release signing key (Ed25519) and print its public key\n"
    "  sign      (re)sign a manifest edited by hand, or with a new expiry, by one or more keys\n"
    "  verify    check a signed manifest and its archives as a launcher with the keys will\n"
    "  launcher  make the studio's launcher bundle (config.plist, Info.plist) and its\n"
    "            installer archive\n"
    "\n"
    "Run 'launcher-publish <command> --help' for the options of a command;\n"
    "'launcher-publish --version' prints the tool's version.\n";

} // namespace

// Parses the words after the command's name by what it accepts; "--help" prints its help.
int runCommand(const std::string& name, const Command& command,
               const std::vector<std::string>& arguments) {
    std::string error;
    const auto parsed = parseArguments(arguments, command.accepted, error);
    if (!parsed) {
        return reportError(name, error + " (see --help)", kUsageError);
    }
    if (parsed->hasSwitch("--help")) {
        std::cout << command.help;
        return kSuccess;
    }
    return command.run(*parsed);
}

int reportError(const std::string& command, const std::string& message, int status) {
    std::cerr << "launcher-publish " << command << ": " << message << "\n";
    return status;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kUsage;
        return kUsageError;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kSuccess;
    }
    if (command == "--version") {
        std::cout << "launcher-publish " << LAUNCHER_PUBLISH_VERSION << "\n";
        return kSuccess;
    }
    const std::map<std::string, const Command*> commands = {
        {"bundle", &bundleCommand}, {"pack", &packCommand},         {"manifest", &manifestCommand},
        {"lint", &lintCommand},     {"keygen", &keygenCommand},     {"sign", &signCommand},
        {"verify", &verifyCommand}, {"launcher", &launcherCommand}, {"release", &releaseCommand}};
    const auto found = commands.find(command);
    if (found == commands.end()) {
        std::cerr << "launcher-publish: unknown command '" << command << "'\n\n" << kUsage;
        return kUsageError;
    }
    try {
        return runCommand(command, *found->second, {argv + 2, argv + argc});
    } catch (const std::exception& error) {
        // A file system or allocation failure ends the command with a message, never a crash.
        return reportError(command, error.what(), kFailure);
    }
}
