#include "tools/publish/installer_keys.h"

#include "launcher/launcher_config.h"
#include "platform/property_list.h"
#include "update/release/signature_threshold.h"

#include <memory>
#include <zip.h>

namespace {

struct ZipClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

constexpr const char* settingsPath = "/Contents/Resources/config.plist";
// A settings file is a few kilobytes; a larger entry is read no further.
constexpr zip_uint64_t largestSettings = 1 << 20;

// The entry "<name>.app/Contents/Resources/config.plist" at the top of the archive; -1 if none.
zip_int64_t settingsEntry(zip_t* archive, std::string& bundle) {
    const zip_int64_t total = zip_get_num_entries(archive, 0);
    const std::string tail = settingsPath;
    for (zip_int64_t index = 0; index < total; ++index) {
        const char* entry = zip_get_name(archive, static_cast<zip_uint64_t>(index), 0);
        const std::string name = entry != nullptr ? entry : "";
        if (name.size() <= tail.size() || !name.ends_with(tail)) {
            continue;
        }
        const std::string folder = name.substr(0, name.size() - tail.size());
        if (folder.ends_with(".app") && folder.find('/') == std::string::npos) {
            bundle = folder;
            return index;
        }
    }
    return -1;
}

std::optional<std::string> entryBytes(zip_t* archive, zip_int64_t index) {
    zip_stat_t status;
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &status) != 0 ||
        status.size > largestSettings) {
        return std::nullopt;
    }
    const std::unique_ptr<zip_file_t, ZipFileClose> file(
        zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
    std::string bytes(status.size, '\0');
    if (!file ||
        zip_fread(file.get(), bytes.data(), status.size) != static_cast<zip_int64_t>(status.size)) {
        return std::nullopt;
    }
    return bytes;
}

} // namespace

std::optional<InstallerKeys> readInstallerKeys(const std::string& archivePath,
                                               std::string& problem) {
    int code = 0;
    const std::unique_ptr<zip_t, ZipClose> archive(
        zip_open(archivePath.c_str(), ZIP_RDONLY, &code));
    if (!archive) {
        problem = "is no ZIP archive";
        return std::nullopt;
    }
    InstallerKeys found;
    const zip_int64_t index = settingsEntry(archive.get(), found.bundle);
    if (index < 0) {
        problem = "holds no <appDisplayName>.app" + std::string(settingsPath);
        return std::nullopt;
    }
    const std::string name = found.bundle + settingsPath;
    const auto bytes = entryBytes(archive.get(), index);
    std::vector<std::string> ignored; // the launcher only logs what it could not use
    const ConfigFile config{
        bytes ? propertyListDictionaryFromBytes(*bytes, name, problem) : std::nullopt, &ignored};
    if (!config.dictionary) {
        problem = "holds a " + name + " that cannot be read" + (bytes ? ": " + problem : "");
        return std::nullopt;
    }
    readConfigString(config, "launcherVersion", found.launcherVersion);
    readConfigSigningKey(config, found.keyList);
    found.threshold = readConfigInt(config, "releaseSigningThreshold");
    if (!found.keyList.empty()) {
        found.keys = splitKeyList(found.keyList);
    }
    return found;
}
