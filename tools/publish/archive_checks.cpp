#include "tools/publish/archive_checks.h"

#include "launcher/launcher_config.h"
#include "platform/app_support_folder.h"
#include "platform/property_list.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <zip.h>

namespace {

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

struct ListedEntry {
    zip_uint64_t index = 0;
    mode_t mode = 0; // as the unpacker makes it: S_IFLNK, S_IFDIR or S_IFREG and permissions
    zip_uint64_t size = 0;
};

// An archive's entries by name (folders without their trailing "/"), as the launcher unpacks
// them.
struct ArchiveListing {
    std::unique_ptr<zip_t, ZipClose> archive;
    std::map<std::string, ListedEntry> entries;
};

// The unpacker's reading of the stored mode: Unix hosts and p7zip's 0x8000 mark carry one; a
// file without one is unpacked with 0644, so it is no executable.
mode_t unpackedMode(const std::string& name, zip_uint8_t system, zip_uint32_t attributes) {
    const bool stored = system == ZIP_OPSYS_UNIX || (attributes & 0x8000U) != 0;
    const mode_t mode = stored ? static_cast<mode_t>(attributes >> 16) : 0;
    if (S_ISLNK(mode)) {
        return mode;
    }
    if (name.back() == '/' || S_ISDIR(mode)) {
        return S_IFDIR | 0755;
    }
    return S_IFREG | ((mode & 0755) == 0 ? 0644 : (mode & 0755));
}

std::optional<ArchiveListing> listArchive(const std::string& path) {
    int code = 0;
    ArchiveListing listing;
    listing.archive.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!listing.archive) {
        return std::nullopt;
    }
    const zip_int64_t count = zip_get_num_entries(listing.archive.get(), 0);
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        zip_stat_t status;
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_stat_index(listing.archive.get(), i, 0, &status) != 0 || status.name == nullptr ||
            *status.name == '\0' ||
            zip_file_get_external_attributes(listing.archive.get(), i, 0, &system, &attributes) !=
                0) {
            return std::nullopt;
        }
        std::string name = status.name;
        const mode_t mode = unpackedMode(name, system, attributes);
        while (name.size() > 1 && name.back() == '/') {
            name.pop_back();
        }
        listing.entries[name] = {i, mode, status.size};
    }
    return listing;
}

std::optional<std::string> entryBytes(const ArchiveListing& listing, const ListedEntry& entry) {
    constexpr zip_uint64_t largest = 16 << 20; // settings and link targets only
    const std::unique_ptr<zip_file_t, ZipFileClose> file(
        zip_fopen_index(listing.archive.get(), entry.index, 0));
    if (!file || entry.size > largest) {
        return std::nullopt;
    }
    std::string bytes(entry.size, '\0');
    if (entry.size != 0 &&
        zip_fread(file.get(), bytes.data(), entry.size) != static_cast<zip_int64_t>(entry.size)) {
        return std::nullopt;
    }
    return bytes;
}

// The entry a name leads to once links are followed inside the archive, as starting the game
// follows them on the player's disk; none when it leads nowhere in it.
const ListedEntry* resolvedEntry(const ArchiveListing& listing, std::string name) {
    for (int hops = 0; hops < 16; ++hops) {
        const auto found = listing.entries.find(name);
        if (found == listing.entries.end() || !S_ISLNK(found->second.mode)) {
            return found == listing.entries.end() ? nullptr : &found->second;
        }
        const auto target = entryBytes(listing, found->second);
        if (!target || target->empty() || target->front() == '/') {
            return nullptr;
        }
        name = (std::filesystem::path(name).parent_path() / *target).lexically_normal().string();
        if (name.rfind("..", 0) == 0) {
            return nullptr;
        }
    }
    return nullptr;
}

bool isExecutableFile(const ListedEntry* entry) {
    return entry != nullptr && S_ISREG(entry->mode) && (entry->mode & S_IXUSR) != 0;
}

std::optional<PropertyList> dictionaryAt(const ArchiveListing& listing, const std::string& name) {
    const ListedEntry* entry = resolvedEntry(listing, name);
    const auto bytes = entry && S_ISREG(entry->mode) ? entryBytes(listing, *entry) : std::nullopt;
    std::string ignored;
    return bytes ? propertyListDictionaryFromBytes(*bytes, name, ignored) : std::nullopt;
}

bool holdsAnythingBelow(const ArchiveListing& listing, const std::string& folder) {
    const auto next = listing.entries.upper_bound(folder + "/");
    return listing.entries.count(folder + "/") != 0 ||
           (next != listing.entries.end() && next->first.rfind(folder + "/", 0) == 0);
}

// What starting bundleName would miss, by the rules of the launcher's own check on a release
// (update/stage/release_application); empty when it can be started.
std::string missingApplication(const ArchiveListing& listing, const std::string& bundleName) {
    const auto top = listing.entries.find(bundleName);
    if (top != listing.entries.end() && !S_ISDIR(top->second.mode)) {
        return isExecutableFile(resolvedEntry(listing, bundleName))
                   ? std::string()
                   : "its " + bundleName + " is neither an application bundle nor an executable";
    }
    if (top == listing.entries.end() && !holdsAnythingBelow(listing, bundleName)) {
        return "it holds no " + bundleName;
    }
    std::string executable;
    if (const auto info = dictionaryAt(listing, bundleName + "/Contents/Info.plist")) {
        executable = propertyListString(*info, "CFBundleExecutable").value_or(std::string());
    }
    if (executable.empty() || executable.find('/') != std::string::npos) {
        executable = bundleName.substr(0, bundleName.rfind('.'));
    }
    const std::string path = bundleName + "/Contents/MacOS/" + executable;
    if (listing.entries.count(path) == 0) {
        return "it holds no executable " + path;
    }
    return isExecutableFile(resolvedEntry(listing, path))
               ? std::string()
               : "its " + path + " is not an executable file";
}

// The bundle at the archive's top that carries a config.plist: the launcher the self-update
// unpacks.
std::optional<std::string> launcherBundleIn(const ArchiveListing& listing) {
    for (const auto& [name, entry] : listing.entries) {
        const std::size_t slash = name.find('/');
        const std::string top = name.substr(0, slash);
        if (slash != std::string::npos && top.ends_with(".app") &&
            name.compare(slash, std::string::npos, "/Contents/Resources/config.plist") == 0) {
            return top;
        }
    }
    return std::nullopt;
}

// appDisplayName as the config.plist of the launcher bundle in the archive names it; none when
// there is no such bundle.
std::optional<std::string> configuredAppName(const ArchiveListing& listing,
                                             const std::string& bundle, std::string& problem) {
    std::vector<std::string> problems;
    const ConfigFile config{dictionaryAt(listing, bundle + "/Contents/Resources/config.plist"),
                            &problems};
    if (!config.dictionary) {
        problem = "the config.plist of " + bundle + " is no property list";
        return std::nullopt;
    }
    std::string name = LauncherConfig().appDisplayName;
    readConfigString(config, "appDisplayName", name);
    return name;
}

} // namespace

LauncherInstallerCheck checkLauncherInstaller(const std::string& archivePath,
                                              const std::string& knownAppName) {
    const std::string label = "the launcher installer " + archivePath + ": ";
    const std::string suffering = ": players' launchers would fetch it again on every run and "
                                  "never update themselves";
    const auto listing = listArchive(archivePath);
    if (!listing) {
        return {label + "no ZIP archive that can be read" + suffering};
    }
    LauncherInstallerCheck check{{}, knownAppName};
    std::string source = "the name given";
    if (const auto bundle = launcherBundleIn(*listing)) {
        const auto name = configuredAppName(*listing, *bundle, check.problem);
        if (!name) {
            check.problem = label + check.problem + suffering;
            return check;
        }
        check.appDisplayName = *name;
        source =
            *bundle + "/Contents/Resources/config.plist names appDisplayName \"" + *name + "\"";
    } else if (knownAppName.empty()) {
        check.skipped = true;
        check.problem = "it holds no launcher bundle whose config.plist names appDisplayName";
        return check;
    }
    const std::string wanted = check.appDisplayName + ".app";
    const std::string missing = isSingleFolderName(check.appDisplayName)
                                    ? missingApplication(*listing, wanted)
                                    : "appDisplayName is not a single name";
    if (!missing.empty()) {
        check.problem =
            label + missing + ", the bundle the self-update starts (" + source + ")" + suffering;
    }
    return check;
}

std::string contentArchiveProblem(const std::string& archivePath, const std::string& bundleName) {
    const std::string label = "the content archive " + archivePath;
    const std::string suffering = ": every launcher would refuse the release (\"Update refused, "
                                  "the installed game stays as it is\"), and new players get no "
                                  "game";
    const auto listing = listArchive(archivePath);
    if (!listing) {
        return label + " is no ZIP archive that can be read" + suffering;
    }
    const std::string missing = missingApplication(*listing, bundleName);
    return missing.empty() ? std::string() : label + ": " + missing + suffering;
}

std::vector<ArchiveCheckLine> checkReleaseArchives(const ReleaseArchives& archives) {
    std::vector<ArchiveCheckLine> lines;
    std::string appDisplayName = archives.appDisplayName;
    if (!archives.launcherArchive.empty()) {
        const LauncherInstallerCheck check =
            checkLauncherInstaller(archives.launcherArchive, archives.appDisplayName);
        lines.push_back({"contents of " + archives.launcherArchive, check.problem, check.skipped});
        if (appDisplayName.empty()) {
            appDisplayName = check.appDisplayName;
        }
    }
    if (archives.contentArchive.empty()) {
        return lines;
    }
    const std::string name = "contents of " + archives.contentArchive;
    if (appDisplayName.empty()) {
        lines.push_back({name,
                         "the game's bundle was not looked for: appDisplayName is not known "
                         "without a launcher installer that names it",
                         true});
        return lines;
    }
    const std::string bundleName = archives.executablePrefix + appDisplayName + ".app";
    lines.push_back({name, contentArchiveProblem(archives.contentArchive, bundleName)});
    return lines;
}
