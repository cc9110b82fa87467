#include "tools/publish/launcher_settings.h"

#include "launcher/launcher_config.h"
#include "platform/app_support_folder.h"
#include "platform/property_list.h"
#include "tools/publish/manifest_analysis.h"
#include "tools/publish/manifest_file.h"
#include "update/release/mirror_urls.h"
#include "update/release/release_signature.h"
#include "update/release/signature_threshold.h"

#include <algorithm>
#include <memory>
#include <plist/plist.h>
#include <set>

namespace fs = std::filesystem;

namespace {

struct CharFree {
    void operator()(char* text) const { std::free(text); }
};

std::string keyListProblem(const std::string& keys, std::int32_t threshold) {
    std::set<std::string> distinct;
    if (!keys.empty()) {
        for (const std::string& key : splitKeyList(keys)) {
            const auto raw = decodePublicKey(key);
            if (!raw) {
                return "the public key \"" + key + "\" is not base64 of 32 bytes: the launcher " +
                       "would refuse every manifest";
            }
            distinct.insert(*raw);
        }
    }
    if (threshold > 1 && distinct.size() < static_cast<std::size_t>(threshold)) {
        return "a threshold of " + std::to_string(threshold) + " needs as many different " +
               "public keys, there are " + std::to_string(distinct.size()) +
               ": the launcher would refuse every manifest";
    }
    return {};
}

// The manifest's LauncherVersion is read trimmed and cut at a comment: a launcherVersion that
// the parser would not give back as it is never equals it, and the launcher would fetch its
// installer on every run.
std::string launcherVersionProblem(const std::string& version) {
    LatestVersionInfo read;
    if (version.empty() || version.find_first_of("\r\n") != std::string::npos ||
        parseLikeLauncher("LauncherVersion=" + version + "\n", read) != 0 ||
        read.LauncherVersion != version) {
        return "--launcher-version \"" + version + "\" is not a value a manifest's " +
               "LauncherVersion can hold: the launcher would update itself on every run";
    }
    return {};
}

std::string nameProblem(const char* option, const std::string& name) {
    if (isSingleFolderName(name)) {
        return {};
    }
    return std::string(option) + " \"" + name + "\" must be a single name (not empty, not . " +
           "or .., no \"/\"): the launcher refuses it";
}

void setString(plist_t dictionary, const char* key, const std::string& value) {
    plist_dict_set_item(dictionary, key, plist_new_string(value.c_str()));
}

void setInteger(plist_t dictionary, const char* key, std::int32_t value) {
    plist_dict_set_item(dictionary, key, plist_new_uint(static_cast<std::uint64_t>(value)));
}

// Changes the dictionary at path by edit and writes it back as XML.
template <typename Edit>
bool rewriteDictionary(const fs::path& path, Edit edit, std::string& problem) {
    const auto dictionary = loadPropertyListDictionary(path.string(), problem);
    if (!dictionary) {
        return false;
    }
    edit(static_cast<plist_t>(dictionary->get()));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(static_cast<plist_t>(dictionary->get()), &xml, &length);
    const std::unique_ptr<char, CharFree> owned(xml);
    if (!owned) {
        problem = "libplist could not write " + path.string();
        return false;
    }
    return writeFileAtomically(path.string(), std::string(owned.get(), length), problem);
}

} // namespace

bool completeFromConfig(LauncherSettings& settings, const std::string& path, std::string& problem) {
    std::vector<std::string> problems;
    const ConfigFile file{loadPropertyListDictionary(path, problem), &problems};
    if (!file.dictionary) {
        return false;
    }
    LauncherConfig config;
    readConfigString(file, "releaseSigningPublicKey", config.releaseSigningPublicKey);
    settings.releaseSigningPublicKey =
        settings.releaseSigningPublicKey.value_or(config.releaseSigningPublicKey);
    settings.releaseSigningThreshold =
        settings.releaseSigningThreshold.value_or(readConfigInt(file, "releaseSigningThreshold"));
    settings.startInstalledGameWhenOffline = settings.startInstalledGameWhenOffline.value_or(
        readConfigInt(file, "startInstalledGameWhenOffline"));
    return true;
}

std::string launcherSettingsProblem(const LauncherSettings& settings) {
    for (const auto& [option, name] : {std::pair{"--name", settings.appDisplayName},
                                       std::pair{"--company", settings.companyFolderName},
                                       std::pair{"--app-folder", settings.appFolderName}}) {
        const std::string problem = nameProblem(option, name);
        if (!problem.empty()) {
            return problem;
        }
    }
    const std::string& endpoint = settings.latestVersionEndpoint;
    if (!isHttpUrl(endpoint) || endpoint.find_first_of(" \t\r\n") != std::string::npos) {
        return "--endpoint \"" + endpoint + "\" is not an http:// or https:// URL without " +
               "blanks: the launcher would never fetch a manifest";
    }
    const std::string version = launcherVersionProblem(settings.launcherVersion);
    if (!version.empty()) {
        return version;
    }
    return keyListProblem(settings.releaseSigningPublicKey.value_or(""),
                          settings.releaseSigningThreshold.value_or(0));
}

bool writeLauncherSettings(const fs::path& bundle, const LauncherSettings& settings,
                           std::string& problem) {
    const fs::path contents = bundle / "Contents";
    const auto config = [&](plist_t dictionary) {
        setString(dictionary, "latestVersionEndpoint", settings.latestVersionEndpoint);
        setString(dictionary, "launcherVersion", settings.launcherVersion);
        setString(dictionary, "companyFolderName", settings.companyFolderName);
        setString(dictionary, "appFolderName", settings.appFolderName);
        setString(dictionary, "appDisplayName", settings.appDisplayName);
        setString(dictionary, "releaseSigningPublicKey",
                  settings.releaseSigningPublicKey.value_or(""));
        // Below 0 reads as 0 and any other value than 0 as on; libplist writes no negatives.
        setInteger(dictionary, "releaseSigningThreshold",
                   std::max(settings.releaseSigningThreshold.value_or(0), 0));
        setInteger(dictionary, "startInstalledGameWhenOffline",
                   settings.startInstalledGameWhenOffline.value_or(0) != 0 ? 1 : 0);
    };
    const auto info = [&](plist_t dictionary) {
        setString(dictionary, "CFBundleName", settings.appDisplayName);
        setString(dictionary, "CFBundleDisplayName", settings.appDisplayName);
        setString(dictionary, "CFBundleShortVersionString", settings.launcherVersion);
    };
    return rewriteDictionary(contents / "Resources" / "config.plist", config, problem) &&
           rewriteDictionary(contents / "Info.plist", info, problem);
}
