// bundle: wraps an executable into the application bundle the launcher starts,
// <prefix><name>.app/Contents/{Info.plist, MacOS/<executable>, Resources/}.
#include "tools/publish/commands.h"
#include "tools/publish/options.h"
#include "tools/publish/resource_folder.h"

#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <plist/plist.h>

namespace fs = std::filesystem;

namespace {

const char* const kHelp =
    "usage: launcher-publish bundle --executable FILE --name NAME --version V\n"
    "                               --output-folder DIR [options]\n"
    "\n"
    "Makes DIR/<prefix><NAME>.app, the bundle name the launcher looks for\n"
    "(ApplicationExecutablePrefix + appDisplayName + \".app\"), holding\n"
    "Contents/MacOS/<executable>, Contents/Resources/ and Contents/Info.plist with\n"
    "CFBundleExecutable, CFBundleName and CFBundleDisplayName (NAME),\n"
    "CFBundleShortVersionString and CFBundleVersion (V), CFBundleIdentifier and\n"
    "CFBundlePackageType. Then pack it with 'launcher-publish pack'.\n"
    "\n"
    "options:\n"
    "  --executable FILE       the program to put in Contents/MacOS\n"
    "  --executable-name N     its name inside the bundle (default: FILE's name)\n"
    "  --name NAME             the game's display name (the launcher's appDisplayName)\n"
    "  --version V             the version the bundle carries\n"
    "  --prefix P              ApplicationExecutablePrefix (default: none)\n"
    "  --identifier ID         CFBundleIdentifier (default: com.example.<executable name>)\n"
    "  --resource PATH         copy PATH, a file or a folder (whole, its symbolic links\n"
    "                          as links; none may point outside it), into\n"
    "                          Contents/Resources (may be repeated)\n"
    "  --output-folder DIR     where to make the bundle (created when missing)\n"
    "  --replace               replace a bundle of that name that is already there\n"
    "  -h, --help              show this help\n";

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
struct CharFree {
    void operator()(char* text) const { free(text); }
};

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string infoPlistXml(const std::string& executable, const std::string& name,
                         const std::string& version, const std::string& identifier) {
    std::unique_ptr<void, PlistFree> dict(plist_new_dict());
    const std::pair<const char*, std::string> entries[] = {
        {"CFBundleExecutable", executable}, {"CFBundleName", name},
        {"CFBundleDisplayName", name},      {"CFBundleShortVersionString", version},
        {"CFBundleVersion", version},       {"CFBundleIdentifier", identifier},
        {"CFBundlePackageType", "APPL"},    {"CFBundleInfoDictionaryVersion", "6.0"}};
    for (const auto& [key, value] : entries) {
        plist_dict_set_item(dict.get(), key, plist_new_string(value.c_str()));
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dict.get(), &xml, &length);
    std::unique_ptr<char, CharFree> owned(xml);
    return owned ? std::string(owned.get(), length) : std::string();
}

void writeText(const fs::path& path, const std::string& text) {
    std::FILE* raw = std::fopen(path.c_str(), "wb");
    if (raw == nullptr) {
        throw std::runtime_error("cannot write " + path.string());
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(raw, std::fclose);
    if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

struct BundleRequest {
    fs::path executable;
    std::string executableName;
    std::string name;
    std::string version;
    std::string identifier;
    std::string prefix;
    std::vector<fs::path> resources;
    fs::path bundle;
};

std::string checkRequest(const BundleRequest& request, bool replace) {
    std::error_code error;
    if (!fs::is_regular_file(request.executable, error)) {
        return request.executable.string() + " is not a file";
    }
    if (!isPlainName(request.executableName)) {
        return "--executable-name must be a plain file name";
    }
    if (!request.prefix.empty() &&
        (std::isspace(static_cast<unsigned char>(request.prefix.front())) != 0 ||
         std::isspace(static_cast<unsigned char>(request.prefix.back())) != 0)) {
        // The manifest's parser trims its values, so no manifest could name such a bundle.
        return "--prefix must not start or end with a blank: the launcher reads "
               "ApplicationExecutablePrefix without them";
    }
    if (!isPlainName(request.prefix + request.name + ".app")) {
        return "--prefix and --name must not hold \"/\"";
    }
    for (const auto& resource : request.resources) {
        if (fs::is_directory(resource, error)) {
            const std::string problem = resourceFolderProblem(resource, request.bundle);
            if (!problem.empty()) {
                return problem;
            }
        } else if (!fs::is_regular_file(resource, error)) {
            return "--resource " + resource.string() + " is neither a file nor a folder";
        }
    }
    if (fs::symlink_status(request.bundle, error).type() != fs::file_type::not_found && !replace) {
        return request.bundle.string() + " is already there (--replace replaces it)";
    }
    return {};
}

void makeBundle(const BundleRequest& request) {
    fs::remove_all(request.bundle);
    const fs::path contents = request.bundle / "Contents";
    fs::create_directories(contents / "MacOS");
    fs::create_directories(contents / "Resources");
    const fs::path executable = contents / "MacOS" / request.executableName;
    fs::copy_file(request.executable, executable);
    fs::permissions(executable, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    for (const auto& resource : request.resources) {
        if (fs::is_directory(resource)) {
            copyResourceFolder(resource, contents / "Resources");
        } else {
            fs::copy_file(resource, contents / "Resources" / resource.filename(),
                          fs::copy_options::overwrite_existing);
        }
    }
    writeText(contents / "Info.plist", infoPlistXml(request.executableName, request.name,
                                                    request.version, request.identifier));
}

int runBundle(const ParsedArguments& parsed) {
    std::string problem;
    const std::string missing =
        missingOptions(parsed, {"--executable", "--name", "--version", "--output-folder"});
    if (!missing.empty() || !parsed.positionals.empty()) {
        return reportError("bundle",
                           missing.empty() ? "unexpected argument " + parsed.positionals[0]
                                           : "missing " + missing + " (see --help)",
                           kUsageError);
    }
    BundleRequest request;
    request.executable = parsed.value("--executable");
    request.executableName = parsed.has("--executable-name")
                                 ? parsed.value("--executable-name")
                                 : request.executable.filename().string();
    request.name = parsed.value("--name");
    request.version = parsed.value("--version");
    request.identifier = parsed.has("--identifier") ? parsed.value("--identifier")
                                                    : "com.example." + request.executableName;
    if (parsed.lists.count("--resource") != 0) {
        const auto& resources = parsed.lists.at("--resource");
        request.resources.assign(resources.begin(), resources.end());
    }
    request.prefix = parsed.value("--prefix");
    request.bundle =
        fs::path(parsed.value("--output-folder")) / (request.prefix + request.name + ".app");
    if (request.name.empty() || request.version.empty()) {
        return reportError("bundle", "--name and --version must not be empty", kUsageError);
    }
    problem = checkRequest(request, parsed.hasSwitch("--replace"));
    if (!problem.empty()) {
        return reportError("bundle", problem, kFailure);
    }
    fs::create_directories(parsed.value("--output-folder"));
    makeBundle(request);
    std::cout << "made " << request.bundle.string() << "\n";
    return kSuccess;
}

} // namespace

const Command bundleCommand{{.valued = {"--executable", "--executable-name", "--name", "--version",
                                        "--prefix", "--identifier", "--output-folder"},
                             .repeated = {"--resource"},
                             .switches = {"--replace"}},
                            kHelp,
                            runBundle};
