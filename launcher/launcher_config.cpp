#include "launcher/launcher_config.h"

#include "launcher/run_log.h"
#include "platform/main_bundle.h"
#include "platform/preferred_languages.h"

LauncherConfig launcherConfig;
std::vector<std::string> configProblems;

namespace {

std::string languageCode;

} // namespace

std::string preferredLanguageCode() {
    if (!languageCode.empty()) {
        return languageCode;
    }
    languageCode = languageCodeFor(preferredLanguages());
    return languageCode;
}

std::string languageCodeFor(const std::vector<std::string>& languages) {
    return languages.empty() ? std::string("en") : languages.front().substr(0, 2);
}

std::string configFilePath() {
    return mainBundleResourcePath() + "/config.plist";
}

ConfigFile openConfigFile(const std::string& path) {
    ConfigFile file;
    file.problems = &configProblems;
    std::string problem;
    file.dictionary = loadPropertyListDictionary(path, problem);
    if (!file.dictionary) {
        configProblems.push_back("config.plist not used, compiled-in settings stand: " + problem);
    }
    return file;
}

void readConfigString(const ConfigFile& file, const std::string& key, std::string& field) {
    if (!file.dictionary) {
        return;
    }
    if (auto value = propertyListString(*file.dictionary, key)) {
        field = std::move(*value);
        return;
    }
    if (propertyListValueKind(*file.dictionary, key) != PropertyListValueKind::Absent) {
        file.problems->push_back("config.plist key " + key + " is not a string; keeping " + field);
    }
}

std::int32_t readConfigInt(const ConfigFile& file, const std::string& key) {
    if (!file.dictionary) {
        return 0;
    }
    if (auto value = propertyListIntValue(*file.dictionary, key)) {
        return *value;
    }
    file.problems->push_back("config.plist key " + key + " holds no number; reading it as 0");
    return 0;
}

// A key of another kind must not leave the compiled-in empty value standing, which would turn
// the checks off: it is kept as a value no key decodes from, so every manifest is refused.
void readConfigSigningKey(const ConfigFile& file, std::string& field) {
    if (!file.dictionary) {
        return;
    }
    readConfigString(file, "releaseSigningPublicKey", field);
    const auto kind = propertyListValueKind(*file.dictionary, "releaseSigningPublicKey");
    if (kind != PropertyListValueKind::Absent && kind != PropertyListValueKind::String) {
        field = "(not a string)";
    }
}

void loadLauncherConfig(const std::string& code) {
    loadLauncherConfigFrom(configFilePath(), code);
}

void loadContentInstallerConfig() {
    loadContentInstallerConfigFrom(configFilePath());
}

namespace {

// What the launcher and its content installer each read besides the settings they share.
using SettingsGroupReader = void (*)(const ConfigFile& file, LauncherConfig& c,
                                     const std::string& code);

// The settings both read first (the launcher also launcherVersion, in its place among them),
// then the group's own. Nothing when the file cannot be read.
void loadSettings(const std::string& path, const std::string& code, bool withLauncherVersion,
                  SettingsGroupReader readGroup) {
    const ConfigFile file = openConfigFile(path);
    if (!file.dictionary) {
        return;
    }
    LauncherConfig& c = launcherConfig;
    readConfigString(file, "latestVersionEndpoint", c.latestVersionEndpoint);
    if (withLauncherVersion) {
        readConfigString(file, "launcherVersion", c.launcherVersion);
    }
    readConfigString(file, "companyFolderName", c.companyFolderName);
    readConfigString(file, "appFolderName", c.appFolderName);
    readConfigString(file, "appDisplayName", c.appDisplayName);
    readConfigSigningKey(file, c.releaseSigningPublicKey);
    c.releaseSigningThreshold = readConfigInt(file, "releaseSigningThreshold");
    c.verifyServerCertificates = readConfigInt(file, "verifyServerCertificates");
    c.contentTransferConnections = readConfigInt(file, "contentTransferConnections");
    readGroup(file, c, code);
}

void readLauncherGroup(const ConfigFile& file, LauncherConfig& c, const std::string& code) {
    c.launcherImageWidth = readConfigInt(file, "launcherImageWidth");
    c.launcherImageHeight = readConfigInt(file, "launcherImageHeight");

    std::string englishText = c.checkingForUpdatesText;
    readConfigString(file, "checkingForUpdatesText-en", englishText);
    c.checkingForUpdatesText = englishText;
    readConfigString(file, "checkingForUpdatesText-" + code, c.checkingForUpdatesText);

    readConfigString(file, "launcherFontFileName", c.launcherFontFileName);
    c.launcherFontPointSizeOrIndex = readConfigInt(file, "launcherFontPointSizeOrIndex");
    c.launcherFontColorR = readConfigInt(file, "launcherFontColorR");
    c.launcherFontColorG = readConfigInt(file, "launcherFontColorG");
    c.launcherFontColorB = readConfigInt(file, "launcherFontColorB");
    c.launcherDisplayTextX = readConfigInt(file, "launcherDisplayTextX");
    c.launcherDisplayTextY = readConfigInt(file, "launcherDisplayTextY");
    c.launcherDisplayTextWidth = readConfigInt(file, "launcherDisplayTextWidth");
    c.launcherDisplayTextHeight = readConfigInt(file, "launcherDisplayTextHeight");
    c.startInstalledGameWhenOffline = readConfigInt(file, "startInstalledGameWhenOffline");
}

void readContentInstallerGroup(const ConfigFile& file, LauncherConfig& c, const std::string& code) {
    c.contentInstallerImageWidth = readConfigInt(file, "contentInstallerImageWidth");
    c.contentInstallerImageHeight = readConfigInt(file, "contentInstallerImageHeight");
    readConfigString(file, "contentInstallerFontFileName", c.contentInstallerFontFileName);
    c.contentInstallerFontPointSizeOrIndex =
        readConfigInt(file, "contentInstallerFontPointSizeOrIndex");
    c.contentInstallerFontColorR =
        static_cast<std::uint8_t>(readConfigInt(file, "contentInstallerFontColorR") & 0xFF);
    c.contentInstallerFontColorG =
        static_cast<std::uint8_t>(readConfigInt(file, "contentInstallerFontColorG") & 0xFF);
    c.contentInstallerFontColorB =
        static_cast<std::uint8_t>(readConfigInt(file, "contentInstallerFontColorB") & 0xFF);
    c.contentInstallerPercentDisplayTextX =
        readConfigInt(file, "contentInstallerPercentDisplayTextX");
    c.contentInstallerPercentDisplayTextY =
        readConfigInt(file, "contentInstallerPercentDisplayTextY");
    c.contentInstallerPercentDisplayTextWidth =
        readConfigInt(file, "contentInstallerPercentDisplayTextWidth");
    c.contentInstallerPercentDisplayTextHeight =
        readConfigInt(file, "contentInstallerPercentDisplayTextHeight");
    readConfigString(file, "previousInstallPath", c.previousInstallPath);
    readConfigString(file, "previousInstallCompanyFolderName", c.previousInstallCompanyFolderName);
    readConfigString(file, "previousInstallAppFolderName", c.previousInstallAppFolderName);
    // The English text stands in for every language without a text of its own.
    std::string englishFailure;
    readConfigString(file, "installFailedText-en", englishFailure);
    c.installFailedText = englishFailure;
    readConfigString(file, "installFailedText-" + code, c.installFailedText);
}

} // namespace

void loadLauncherConfigFrom(const std::string& path, const std::string& code) {
    loadSettings(path, code, true, readLauncherGroup);
}

void loadContentInstallerConfigFrom(const std::string& path, const std::string& code) {
    loadSettings(path, code, false, readContentInstallerGroup);
}

void logConfigProblems() {
    for (const std::string& problem : configProblems) {
        writeToLog(problem);
    }
    configProblems.clear();
}
