#include "tools/publish/release_description.h"

#include "tools/publish/manifest_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <ini.h>
#include <map>

namespace fs = std::filesystem;

namespace {

struct Reading {
    ReleaseDescription description;
    std::map<std::string, int> seen; // "section.key": how often
    std::string problem;
};

// A character a URL carries as it is, so that a file name is also its own URL path.
bool isPlainInUrl(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

bool isWholeNumber(const std::string& text, unsigned long long& number) {
    const char* end = text.data() + text.size();
    return !text.empty() && std::from_chars(text.data(), end, number).ptr == end;
}

fs::path inFolder(const Reading& reading, const std::string& value) {
    return (reading.description.folder / value).lexically_normal();
}

using Setter = std::function<std::string(Reading&, const std::string&)>;

// Keeps value in field; the problem's text when it is no good.
Setter text(std::string ReleaseDescription::*field) {
    return [field](Reading& reading, const std::string& value) {
        reading.description.*field = value;
        return std::string();
    };
}

Setter path(std::optional<fs::path> ReleaseDescription::*field) {
    return [field](Reading& reading, const std::string& value) {
        reading.description.*field = inFolder(reading, value);
        return std::string();
    };
}

Setter paths(std::vector<fs::path> ReleaseDescription::*field) {
    return [field](Reading& reading, const std::string& value) {
        (reading.description.*field).push_back(inFolder(reading, value));
        return std::string();
    };
}

Setter webAddresses(std::vector<std::string> ReleaseDescription::*field) {
    return [field](Reading& reading, const std::string& value) {
        if (!isWebAddress(value)) {
            return std::string("is not an http:// or https:// URL");
        }
        (reading.description.*field).push_back(value);
        return std::string();
    };
}

std::string setBaseUrl(Reading& reading, const std::string& value) {
    if (!isWebAddress(value)) {
        return "is not an http:// or https:// URL";
    }
    reading.description.baseUrl = value.back() == '/' ? value : value + "/";
    return {};
}

std::string addOlder(Reading& reading, const std::string& value) {
    reading.description.patchFrom.push_back(
        isWebAddress(value) ? value : inFolder(reading, value).string());
    return {};
}

std::string setSerial(Reading& reading, const std::string& value) {
    unsigned long long serial = 0;
    if (!isWholeNumber(value, serial)) {
        return "is not a whole number";
    }
    reading.description.serial = serial;
    return {};
}

std::string setRollout(Reading& reading, const std::string& value) {
    unsigned long long percent = 0;
    if (!isWholeNumber(value, percent) || percent > 100) {
        return "is not a whole number from 0 to 100";
    }
    reading.description.rollout = static_cast<int>(percent);
    return {};
}

std::string setOutput(Reading& reading, const std::string& value) {
    reading.description.output = inFolder(reading, value);
    return {};
}

std::string setArchive(Reading& reading, const std::string& value) {
    if (!value.ends_with(".zip") || value.starts_with(".") ||
        !std::all_of(value.begin(), value.end(), isPlainInUrl)) {
        return "must be a file name ending with .zip, of letters, digits, '.', '_' and '-'";
    }
    reading.description.archive = value;
    return {};
}

Setter webAddress(std::string ReleaseDescription::*field) {
    return [field](Reading& reading, const std::string& value) {
        if (!isWebAddress(value)) {
            return std::string("is not an http:// or https:// URL");
        }
        reading.description.*field = value;
        return std::string();
    };
}

struct Key {
    Setter set;
    bool repeatable = false;
};

const std::map<std::string, Key>& knownKeys() {
    using D = ReleaseDescription;
    static const std::map<std::string, Key> keys = {
        {"game.name", {text(&D::name)}},
        {"game.version", {text(&D::version)}},
        {"game.prefix", {text(&D::prefix)}},
        {"game.bundle", {path(&D::bundle)}},
        {"game.executable", {path(&D::executable)}},
        {"game.executable_name", {text(&D::executableName)}},
        {"game.identifier", {text(&D::identifier)}},
        {"game.resource", {paths(&D::resources), true}},
        {"server.base_url", {setBaseUrl}},
        {"server.mirror", {webAddresses(&D::mirrors), true}},
        {"server.live_manifest", {webAddress(&D::liveManifest)}},
        {"patches.from", {addOlder, true}},
        {"signing.key", {paths(&D::keys), true}},
        {"signing.expires_in", {text(&D::expiresIn)}},
        {"signing.expires_at", {text(&D::expiresAt)}},
        {"signing.serial", {setSerial}},
        {"launcher.version", {text(&D::launcherVersion)}},
        {"launcher.installer", {path(&D::launcherInstaller)}},
        {"launcher.url", {webAddress(&D::launcherUrl)}},
        {"release.output", {setOutput}},
        {"release.rollout", {setRollout}},
        {"release.archive", {setArchive}},
    };
    return keys;
}

int onValue(void* user, const char* section, const char* name, const char* value) {
    auto& reading = *static_cast<Reading*>(user);
    if (!reading.problem.empty()) {
        return 1;
    }
    const std::string key = std::string(section) + "." + name;
    const std::string at = std::string("[") + section + "] " + name;
    const auto found = knownKeys().find(key);
    if (found == knownKeys().end()) {
        reading.problem = at + " is not a setting of a release description";
        return 1;
    }
    if (++reading.seen[key] > 1 && !found->second.repeatable) {
        reading.problem = at + " is given twice";
        return 1;
    }
    const std::string why = found->second.set(reading, value);
    if (!why.empty()) {
        reading.problem = at + " " + why + ": " + value;
    }
    return 1;
}

std::string missingSetting(const ReleaseDescription& d) {
    const std::pair<bool, const char*> required[] = {
        {d.name.empty(), "[game] name"},
        {d.version.empty(), "[game] version"},
        {!d.bundle && !d.executable, "[game] bundle, or [game] executable"},
        {d.bundle && d.executable, "only one of [game] bundle and [game] executable"},
        {d.baseUrl.empty(), "[server] base_url"},
        {d.launcherVersion.empty(), "[launcher] version"},
        {!d.launcherInstaller && d.launcherUrl.empty(), "[launcher] installer, or [launcher] url"},
        {d.launcherInstaller && !d.launcherUrl.empty(),
         "only one of [launcher] installer and [launcher] url"},
        {!d.expiresIn.empty() && !d.expiresAt.empty(),
         "only one of [signing] expires_in and [signing] expires_at"},
        {d.output.empty(), "[release] output"},
    };
    for (const auto& [missing, what] : required) {
        if (missing) {
            return what;
        }
    }
    return {};
}

} // namespace

std::string urlSafeName(std::string name) {
    for (char& c : name) {
        c = isPlainInUrl(c) ? c : '-';
    }
    return name;
}

bool isWebAddress(const std::string& text) {
    return (text.starts_with("http://") && text.size() > 7) ||
           (text.starts_with("https://") && text.size() > 8);
}

std::optional<ReleaseDescription> readReleaseDescription(const fs::path& path,
                                                         std::string& problem) {
    const auto bytes = readManifestFile(path.string(), problem);
    if (!bytes) {
        return std::nullopt;
    }
    Reading reading;
    reading.description.folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    const int failedLine = ini_parse_string(bytes->c_str(), onValue, &reading);
    if (reading.problem.empty() && failedLine != 0) {
        reading.problem = "line " + std::to_string(failedLine) + " is not a key = value line";
    }
    ReleaseDescription& d = reading.description;
    if (reading.problem.empty()) {
        const std::string missing = missingSetting(d);
        if (!missing.empty()) {
            reading.problem = "it needs " + missing;
        }
    }
    if (!reading.problem.empty()) {
        problem = path.string() + ": " + reading.problem;
        return std::nullopt;
    }
    if (d.liveManifest.empty()) {
        d.liveManifest = d.baseUrl + "LatestVersion.ini";
    }
    if (d.archive.empty()) {
        d.archive = urlSafeName(d.name + "-" + d.version) + ".zip";
    }
    return d;
}
