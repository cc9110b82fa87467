#include "launcher/launcher_config.h"
#include "launcher/transfer_settings.h"
#include "platform/preferred_languages.h"
#include "tests/support/plist_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class LauncherConfigTest : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        launcherConfig = LauncherConfig{};
        configProblems.clear();
    }

    // Writes the entries in the format under test and returns the file's path.
    std::string configFile(const PlistEntries& entries) {
        const std::string path = folder.str() + "/config.plist";
        if (GetParam()) {
            writeBinaryPlist(path, entries);
        } else {
            writeXmlPlist(path, entries);
        }
        return path;
    }

    TempFolder folder;
};

} // namespace

TEST_P(LauncherConfigTest, ReadsEveryValueKindTheWayIntValueDoes) {
    loadLauncherConfigFrom(configFile({
                               {"launcherImageWidth", "<string>  320 pixels</string>"},
                               {"launcherImageHeight", "<real>250.9</real>"},
                               {"launcherFontPointSizeOrIndex", "<true/>"},
                               {"launcherDisplayTextX", "<real>-7.9</real>"},
                               {"launcherDisplayTextY", "<string>-12</string>"},
                               {"launcherDisplayTextHeight", "<string>none</string>"},
                               {"launcherFontColorR", "<string>99999999999</string>"},
                               {"launcherFontColorG", "<integer>-5</integer>"},
                           }),
                           "en");
    const LauncherConfig& c = launcherConfig;
    EXPECT_EQ(c.launcherImageWidth, 320);
    EXPECT_EQ(c.launcherImageHeight, 250);
    EXPECT_EQ(c.launcherFontPointSizeOrIndex, 1);
    EXPECT_EQ(c.launcherDisplayTextX, -7);
    EXPECT_EQ(c.launcherDisplayTextY, -12);
    EXPECT_EQ(c.launcherDisplayTextHeight, 0);
    EXPECT_EQ(c.launcherFontColorR, INT32_MAX);
    EXPECT_EQ(c.launcherFontColorG, -5);
    // Absent integer keys read as 0 whatever the compiled-in value was.
    EXPECT_EQ(c.launcherDisplayTextWidth, 0);
    EXPECT_EQ(c.launcherFontColorB, 0);
}

TEST_P(LauncherConfigTest, AbsentStringsKeepCompiledInValuesAndOtherKindsAreReported) {
    loadLauncherConfigFrom(configFile({
                               {"latestVersionEndpoint", "<string>http://127.0.0.1/m.ini</string>"},
                               {"companyFolderName", "<integer>7</integer>"},
                               {"appDisplayName", "<string>Ünïcode Gäme</string>"},
                               {"launcherImageWidth", "<array/>"},
                           }),
                           "en");
    const LauncherConfig& c = launcherConfig;
    EXPECT_EQ(c.latestVersionEndpoint, "http://127.0.0.1/m.ini");
    EXPECT_EQ(c.companyFolderName, "Quillmere");
    EXPECT_EQ(c.appFolderName, "Driftmoor");
    EXPECT_EQ(c.appDisplayName, "Ünïcode Gäme");
    EXPECT_EQ(c.launcherVersion, "");
    EXPECT_EQ(c.launcherImageWidth, 0);
    EXPECT_EQ(c.checkingForUpdatesText, "CHECKING FOR UPDATES");
    ASSERT_EQ(configProblems.size(), 2u);
    EXPECT_NE(configProblems[0].find("companyFolderName"), std::string::npos);
    EXPECT_NE(configProblems[1].find("launcherImageWidth"), std::string::npos);
}

TEST_P(LauncherConfigTest, ContentInstallerColoursKeepTheLowEightBits) {
    loadContentInstallerConfigFrom(configFile({
        {"contentInstallerFontColorR", "<integer>511</integer>"},
        {"contentInstallerFontColorG", "<integer>256</integer>"},
        {"contentInstallerFontColorB", "<string>300</string>"},
        {"contentInstallerImageWidth", "<integer>640</integer>"},
        {"previousInstallPath", "<string>/opt/old</string>"},
        {"appFolderName", "<string>Other</string>"},
    }));
    const LauncherConfig& c = launcherConfig;
    EXPECT_EQ(c.contentInstallerFontColorR, 255);
    EXPECT_EQ(c.contentInstallerFontColorG, 0);
    EXPECT_EQ(c.contentInstallerFontColorB, 44);
    EXPECT_EQ(c.contentInstallerImageWidth, 640);
    EXPECT_EQ(c.contentInstallerImageHeight, 0);
    EXPECT_EQ(c.previousInstallPath, "/opt/old");
    EXPECT_EQ(c.appFolderName, "Other");
}

TEST_P(LauncherConfigTest, ChoosesTheCheckingTextForTheLanguage) {
    const PlistEntries both = {{"checkingForUpdatesText-en", "<string>CHECKING</string>"},
                               {"checkingForUpdatesText-de", "<string>PRÜFE</string>"}};
    loadLauncherConfigFrom(configFile(both), "de");
    EXPECT_EQ(launcherConfig.checkingForUpdatesText, "PRÜFE");

    loadLauncherConfigFrom(configFile({both[0]}), "de");
    EXPECT_EQ(launcherConfig.checkingForUpdatesText, "CHECKING");

    // Only the two-letter key is ever looked up.
    loadLauncherConfigFrom(
        configFile({both[0], {"checkingForUpdatesText-zh-Hant", "<string>HANT</string>"}}),
        languageCodeFor({"zh-Hant"}));
    EXPECT_EQ(launcherConfig.checkingForUpdatesText, "CHECKING");
    loadLauncherConfigFrom(
        configFile({both[0], {"checkingForUpdatesText-zh", "<string>ZH</string>"}}),
        languageCodeFor({"zh-Hant"}));
    EXPECT_EQ(launcherConfig.checkingForUpdatesText, "ZH");
}

TEST_P(LauncherConfigTest, OfflinePlayIsOffUnlessTheFileTurnsItOn) {
    EXPECT_EQ(launcherConfig.startInstalledGameWhenOffline, 0);
    loadLauncherConfigFrom(configFile({{"startInstalledGameWhenOffline", "<true/>"}}), "en");
    EXPECT_EQ(launcherConfig.startInstalledGameWhenOffline, 1);
    loadLauncherConfigFrom(configFile({}), "en");
    EXPECT_EQ(launcherConfig.startInstalledGameWhenOffline, 0);
}

TEST_P(LauncherConfigTest, BothReadingsTakeTheSigningThreshold) {
    EXPECT_EQ(launcherConfig.releaseSigningThreshold, 0);
    const PlistEntries two = {{"releaseSigningThreshold", "<integer>2</integer>"}};
    loadLauncherConfigFrom(configFile(two), "en");
    EXPECT_EQ(launcherConfig.releaseSigningThreshold, 2);
    loadLauncherConfigFrom(configFile({}), "en");
    EXPECT_EQ(launcherConfig.releaseSigningThreshold, 0);
    // The content installer checks the manifest it fetches again with the same rules.
    loadContentInstallerConfigFrom(configFile(two), "en");
    EXPECT_EQ(launcherConfig.releaseSigningThreshold, 2);
}

TEST_P(LauncherConfigTest, CertificatesAreVerifiedOnlyWhenTheFileSaysSoForBothParts) {
    EXPECT_EQ(launcherConfig.verifyServerCertificates, 0);
    const PlistEntries on = {{"verifyServerCertificates", "<integer>1</integer>"}};
    loadLauncherConfigFrom(configFile(on), "en");
    EXPECT_EQ(launcherConfig.verifyServerCertificates, 1);
    loadLauncherConfigFrom(configFile({}), "en");
    EXPECT_EQ(launcherConfig.verifyServerCertificates, 0);
    // The content installer reads the settings again and fetches too.
    loadContentInstallerConfigFrom(configFile(on), "en");
    EXPECT_EQ(launcherConfig.verifyServerCertificates, 1);
    loadContentInstallerConfigFrom(configFile({}), "en");
    EXPECT_EQ(launcherConfig.verifyServerCertificates, 0);
}

TEST_P(LauncherConfigTest, ChoosesTheInstallFailedTextForTheLanguage) {
    EXPECT_EQ(launcherConfig.installFailedText, "");
    const PlistEntries both = {{"installFailedText-en", "<string>FAILED</string>"},
                               {"installFailedText-fr", "<string>ÉCHEC</string>"}};
    loadContentInstallerConfigFrom(configFile(both), "fr");
    EXPECT_EQ(launcherConfig.installFailedText, "ÉCHEC");
    loadContentInstallerConfigFrom(configFile(both), "de");
    EXPECT_EQ(launcherConfig.installFailedText, "FAILED");
    // A file without the keys leaves no text behind from an earlier reading.
    loadContentInstallerConfigFrom(configFile({}), "fr");
    EXPECT_EQ(launcherConfig.installFailedText, "");
}

TEST_P(LauncherConfigTest, ContentTransferConnectionsAreHeldBetweenOneAndSixteen) {
    const std::pair<const char*, int> cases[] = {
        {nullptr, 1}, {"<integer>0</integer>", 1}, {"<integer>1</integer>", 1},
        {"<integer>4</integer>", 4}, {"<integer>-3</integer>", 1}, {"<integer>1000</integer>", 16},
        {"<string>many</string>", 1}};
    for (const auto& [value, connections] : cases) {
        launcherConfig = LauncherConfig{};
        PlistEntries entries;
        if (value != nullptr) {
            entries.push_back({"contentTransferConnections", value});
        }
        loadLauncherConfigFrom(configFile(entries), "en");
        EXPECT_EQ(configuredTransferSettings(launcherConfig).contentConnections, connections)
            << (value != nullptr ? value : "absent");
    }
}

TEST(ShippedConfig, PlaysOfflineAndExplainsAFailedInstallInThreeLanguages) {
    launcherConfig = LauncherConfig{};
    const std::string shipped = LAUNCHER_SOURCE_DIR "/resources/config.plist";
    loadLauncherConfigFrom(shipped, "en");
    EXPECT_EQ(launcherConfig.startInstalledGameWhenOffline, 1);
    EXPECT_EQ(launcherConfig.verifyServerCertificates, 1);
    EXPECT_EQ(configuredTransferSettings(launcherConfig).contentConnections, 4);
    std::vector<std::string> texts;
    for (const char* code : {"en", "de", "fr"}) {
        loadContentInstallerConfigFrom(shipped, code);
        EXPECT_FALSE(launcherConfig.installFailedText.empty()) << code;
        texts.push_back(launcherConfig.installFailedText);
    }
    EXPECT_NE(texts[0], texts[1]);
    EXPECT_NE(texts[0], texts[2]);
    EXPECT_TRUE(configProblems.empty());
    configProblems.clear();
}

INSTANTIATE_TEST_SUITE_P(XmlAndBinary, LauncherConfigTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Binary" : "Xml"; });

TEST(LauncherConfigFile, MissingOrNonDictionaryFilesLeaveCompiledInValuesAndSaySo) {
    TempFolder folder;
    const std::string arrayRoot =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\"><array><string>x</string></array></plist>";
    for (const std::string& contents :
         {std::string(), std::string("not a plist at all"), arrayRoot}) {
        launcherConfig = LauncherConfig{};
        launcherConfig.launcherImageWidth = 1234;
        configProblems.clear();
        const std::string path = folder.str() + "/config.plist";
        writeFile(path, contents);
        loadLauncherConfigFrom(path, "en");
        EXPECT_EQ(launcherConfig.launcherImageWidth, 1234);
        EXPECT_EQ(launcherConfig.companyFolderName, "Quillmere");
        ASSERT_EQ(configProblems.size(), 1u);
        EXPECT_NE(configProblems[0].find("config.plist not used"), std::string::npos);
    }
    configProblems.clear();
    loadLauncherConfigFrom(folder.str() + "/absent.plist", "en");
    ASSERT_EQ(configProblems.size(), 1u);
    configProblems.clear();
}

TEST(PreferredLanguage, FirstTwoBytesOfTheFirstPreferredLanguage) {
    EXPECT_EQ(languageCodeFor({}), "en");
    EXPECT_EQ(languageCodeFor({"de_DE.UTF-8"}), "de");
    EXPECT_EQ(languageCodeFor({"fr-CA", "en"}), "fr");
    EXPECT_EQ(languageCodeFor({"pt-BR"}), "pt");
    EXPECT_EQ(languageCodeFor({"x"}), "x");
}

TEST(PreferredLanguage, ReadsTheLocaleVariablesInTheirOrder) {
    const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value ? value : "");
        unsetenv(name);
    }
    EXPECT_TRUE(preferredLanguages().empty());
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(preferredLanguages(), std::vector<std::string>{"de_DE.UTF-8"});
    setenv("LC_ALL", "C", 1);
    EXPECT_TRUE(preferredLanguages().empty());
    setenv("LC_ALL", "", 1);
    setenv("LANGUAGE", "fr_CA:de", 1);
    EXPECT_EQ(preferredLanguages(), (std::vector<std::string>{"fr_CA", "de"}));
    for (const auto& [name, value] : saved) {
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
}
