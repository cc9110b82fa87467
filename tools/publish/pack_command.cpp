// pack: an application bundle folder into the ZIP archive the launcher downloads and unpacks
// (the game content, or the launcher's own installer). Entries keep their Unix permissions,
// modification times and symbolic links, and come in a stable order.
#include "tools/publish/bundle_pack.h"
#include "tools/publish/commands.h"
#include "tools/publish/options.h"

#include <charconv>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish pack <bundle.app> --output <archive.zip>\n"
    "                             [--patch-from <older.zip>]... [--patch-min-size <bytes>]\n"
    "\n"
    "Packs an application bundle folder into a ZIP archive with the bundle at its top\n"
    "level, as the launcher expects of both the game content archive and the launcher's\n"
    "installer archive. Unix permissions, modification times and symbolic links (stored as\n"
    "links, never followed) are kept; entries are sorted by name, so the same folder always\n"
    "gives the same order.\n"
    "\n"
    "The bundle must be named *.app and hold the executable the launcher starts:\n"
    "Contents/MacOS/<CFBundleExecutable of Contents/Info.plist>, or Contents/MacOS/<name>\n"
    "without it. Symbolic links that point outside the bundle, and special files, are\n"
    "refused, and so are names that the launcher would refuse as one file on a player's\n"
    "disk: names that differ only in letter case or Unicode normalization (a Mac's disk\n"
    "takes Level.bin and level.bin for one). The archive may not be written inside the\n"
    "bundle; an existing archive is replaced.\n"
    "\n"
    "Beside the bundle the archive carries ReleaseIndex.sha256: the SHA-256 of every file\n"
    "(\"<hex>  <name>\", as sha256sum writes it) and of every link's target text\n"
    "(\"<hex> @<name>\"), sorted by name. The launcher leaves it in its data folder as the\n"
    "record of what was installed.\n"
    "\n"
    "With --patch-from, every file of at least --patch-min-size bytes (1 MiB when not\n"
    "given) whose path an older archive holds with other content also travels as a zstd\n"
    "patch from the older file: a player who has that older file fetches about what changed\n"
    "instead of the whole file. Patches are stored entries of the folder .launcher-patches/,\n"
    "named by the SHA-256 of the older file and of the new one; the launcher never unpacks\n"
    "that folder. ReleaseIndex.sha256 lists them like any file, so a signed release covers\n"
    "them. A patch is kept only when it is smaller than half of the file's own compressed\n"
    "entry. Give --patch-from once for each of the last few releases that players may still\n"
    "have; an older file that several of them share gets one patch. Files larger than 2 GiB\n"
    "always travel whole. The older files are unpacked beside the archive while the patches\n"
    "are made, so its folder needs room for the largest of them. An older archive that\n"
    "cannot be read stops the pack, and no archive is written.\n"
    "\n"
    "options:\n"
    "  --output FILE            the archive to write\n"
    "  --patch-from ARCHIVE     an older release to make patches from (may be repeated)\n"
    "  --patch-min-size BYTES   the smallest file that gets patches (default 1048576)\n"
    "  -h, --help               show this help\n";

// The patch options on the command line; none (with problem set) when they make no sense.
std::optional<PatchOptions> patchOptionsOf(const ParsedArguments& parsed, std::string& problem) {
    PatchOptions options;
    const auto older = parsed.lists.find("--patch-from");
    if (older != parsed.lists.end()) {
        options.olderArchives = older->second;
    }
    if (!parsed.has("--patch-min-size")) {
        return options;
    }
    const std::string text = parsed.value("--patch-min-size");
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), options.minimumSize);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        problem = "--patch-min-size takes a number of bytes, not '" + text + "'";
        return std::nullopt;
    }
    if (options.olderArchives.empty()) {
        problem = "--patch-min-size needs --patch-from";
        return std::nullopt;
    }
    return options;
}

int runPack(const ParsedArguments& parsed) {
    std::string problem;
    if (parsed.positionals.size() != 1 || !parsed.has("--output")) {
        return reportError("pack", "give one bundle folder and --output (see --help)", kUsageError);
    }
    const fs::path bundle = withoutTrailingSeparator(parsed.positionals.front());
    const fs::path output = parsed.value("--output");
    const auto patchOptions = patchOptionsOf(parsed, problem);
    if (!patchOptions) {
        return reportError("pack", problem + " (see --help)", kUsageError);
    }
    const auto entryCount = packBundle(bundle, output, *patchOptions, std::cout, problem);
    if (!entryCount) {
        return reportError("pack", problem, kFailure);
    }
    std::cout << "packed " << *entryCount << " entries of " << bundle.string() << " into "
              << output.string() << "\n";
    return kSuccess;
}

} // namespace

const Command packCommand{
    {.valued = {"--output", "--patch-min-size"}, .repeated = {"--patch-from"}}, kHelp, runPack};
