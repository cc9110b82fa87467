#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// RELEASE.ini: what `release` publishes, kept in the studio's repository beside the game. Paths
// are relative to the description's own folder; keys marked "repeatable" may be given on several
// lines. Unknown sections and keys are refused, so a typo never drops a setting silently.
//
//   [game]      name (appDisplayName), version (ApplicationVersion), prefix
//               (ApplicationExecutablePrefix), and either bundle (a <prefix><name>.app folder)
//               or executable with resource (repeatable), executable_name, identifier
//   [server]    base_url (where the output folder's files will be served), mirror (repeatable,
//               each serving the same files), live_manifest (default base_url +
//               LatestVersion.ini)
//   [patches]   from (repeatable: an older archive, a path or an http(s) URL)
//   [signing]   key (repeatable: a private key made by keygen), expires_in or expires_at,
//               serial (the last one published, for when the live manifest cannot be fetched)
//   [launcher]  version (LauncherVersion), and installer (the installer archive, published
//               beside the content) or url (an installer already served)
//   [release]   output (the folder to write), rollout (RolloutPercent), archive (the content
//               archive's file name, default <name>-<version>.zip)
struct ReleaseDescription {
    std::filesystem::path folder; // the description's own, which relative paths start from

    std::string name;
    std::string version;
    std::string prefix;
    std::optional<std::filesystem::path> bundle;
    std::optional<std::filesystem::path> executable;
    std::string executableName;
    std::string identifier;
    std::vector<std::filesystem::path> resources;

    std::string baseUrl; // always ends with "/"
    std::vector<std::string> mirrors;
    std::string liveManifest;

    std::vector<std::string> patchFrom; // paths made absolute, or URLs as given

    std::vector<std::filesystem::path> keys;
    std::string expiresIn;
    std::string expiresAt;
    std::optional<unsigned long long> serial;

    std::string launcherVersion;
    std::optional<std::filesystem::path> launcherInstaller;
    std::string launcherUrl;

    std::filesystem::path output;
    std::optional<int> rollout;
    std::string archive;
};

// Reads and checks the description at path; none, with problem set to one line naming the file,
// line and key, when it cannot be read, holds an unknown key or misses a required one.
std::optional<ReleaseDescription> readReleaseDescription(const std::filesystem::path& path,
                                                         std::string& problem);

// name with every character a URL would have to escape made a "-".
std::string urlSafeName(std::string name);

// An http:// or https:// URL.
bool isWebAddress(const std::string& text);
