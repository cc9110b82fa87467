#include "tests/support/temp_folder.h"
#include "tests/tools/publish_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

// 2020-09-13 12:26:41 UTC: an odd second, which only the extended timestamp keeps exactly.
constexpr time_t kDataTime = 1600000001;
constexpr time_t kExecutableTime = 1500000000;

const std::vector<std::string> kBundleEntries = {
    "Game.app/",
    "Game.app/Contents/",
    "Game.app/Contents/Frameworks/",
    "Game.app/Contents/Frameworks/Engine.framework/",
    "Game.app/Contents/Frameworks/Engine.framework/Engine",
    "Game.app/Contents/Frameworks/Engine.framework/Versions/",
    "Game.app/Contents/Frameworks/Engine.framework/Versions/A/",
    "Game.app/Contents/Frameworks/Engine.framework/Versions/A/Engine",
    "Game.app/Contents/Frameworks/Engine.framework/Versions/Current",
    "Game.app/Contents/MacOS/",
    "Game.app/Contents/MacOS/Game",
    "Game.app/Contents/Resources/",
    "Game.app/Contents/Resources/empty/",
    "Game.app/Contents/Resources/levels.dat",
    "Game.app/Contents/Resources/shared.dat",
    "ReleaseIndex.sha256"};

// A bundle with an executable, a private data file, an empty folder and framework-style
// relative links, made in an order other than the sorted one.
fs::path makeBundle(const fs::path& folder) {
    const fs::path bundle = folder / "Game.app";
    const fs::path contents = bundle / "Contents";
    writeFile(contents / "Resources" / "shared.dat", "shared");
    writeFile(contents / "Resources" / "levels.dat", "level data");
    fs::create_directories(contents / "Resources" / "empty");
    writeFile(contents / "MacOS" / "Game", "#!/bin/sh\nexit 0\n");
    const fs::path framework = contents / "Frameworks" / "Engine.framework";
    writeFile(framework / "Versions" / "A" / "Engine", "engine");
    fs::create_directory_symlink("A", framework / "Versions" / "Current");
    fs::create_symlink("Versions/Current/Engine", framework / "Engine");
    chmod((contents / "MacOS" / "Game").c_str(), 0755);
    chmod((contents / "Resources" / "levels.dat").c_str(), 0640);
    setModified(contents / "Resources" / "levels.dat", kDataTime);
    setModified(contents / "MacOS" / "Game", kExecutableTime);
    return bundle;
}

const ArchiveEntry& entryNamed(const std::vector<ArchiveEntry>& entries, const std::string& name) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [&](const ArchiveEntry& e) { return e.name == name; });
    if (found == entries.end()) {
        throw std::runtime_error("no entry " + name);
    }
    return *found;
}

class PackTest : public testing::Test {
  protected:
    ChildResult pack(const fs::path& bundle, const fs::path& output) {
        return publish({"pack", bundle.string(), "--output", output.string()});
    }

    TempFolder folder;
};

} // namespace

TEST_F(PackTest, KeepsModesTimesAndLinksInSortedOrder) {
    const fs::path bundle = makeBundle(folder.path());
    const fs::path archive = folder / "game.zip";
    const ChildResult result = pack(bundle, archive);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    const auto entries = readArchive(archive);
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        names.push_back(entry.name);
    }
    EXPECT_EQ(names, kBundleEntries);

    const auto& executable = entryNamed(entries, "Game.app/Contents/MacOS/Game");
    EXPECT_EQ(executable.mode, static_cast<std::uint32_t>(S_IFREG | 0755));
    EXPECT_EQ(executable.data, "#!/bin/sh\nexit 0\n");
    EXPECT_LE(std::llabs(executable.modified - kExecutableTime), 2);
    EXPECT_EQ(entryNamed(entries, "Game.app/Contents/Resources/levels.dat").mode,
              static_cast<std::uint32_t>(S_IFREG | 0640));
    const auto& link =
        entryNamed(entries, "Game.app/Contents/Frameworks/Engine.framework/Versions/Current");
    EXPECT_TRUE(S_ISLNK(link.mode));
    EXPECT_EQ(link.data, "A");
    EXPECT_TRUE(S_ISDIR(entryNamed(entries, "Game.app/Contents/Resources/empty/").mode));
}

TEST_F(PackTest, UnpacksWithInfoZipToTheSameTree) {
    const fs::path bundle = makeBundle(folder.path());
    const fs::path archive = folder / "game.zip";
    ASSERT_EQ(pack(bundle, archive).exitStatus, 0);
    const fs::path out = folder / "out";
    fs::create_directories(out);
    const ChildResult unzip =
        runChild("/usr/bin/unzip", {"-q", archive.string(), "-d", out.string()});
    ASSERT_EQ(unzip.exitStatus, 0) << unzip.standardError;

    const fs::path contents = out / "Game.app" / "Contents";
    struct stat status;
    ASSERT_EQ(stat((contents / "MacOS" / "Game").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    EXPECT_EQ(status.st_mtime, kExecutableTime);
    ASSERT_EQ(stat((contents / "Resources" / "levels.dat").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, kDataTime); // the odd second survives
    const fs::path engineLink = contents / "Frameworks" / "Engine.framework" / "Engine";
    ASSERT_TRUE(fs::is_symlink(engineLink));
    EXPECT_EQ(fs::read_symlink(engineLink), "Versions/Current/Engine");
    EXPECT_EQ(readFile(engineLink), "engine");
    EXPECT_TRUE(fs::is_directory(contents / "Resources" / "empty"));
}

TEST_F(PackTest, SameFolderGivesTheSameBytes) {
    const fs::path bundle = makeBundle(folder.path());
    ASSERT_EQ(pack(bundle, folder / "first.zip").exitStatus, 0);
    ASSERT_EQ(pack(bundle, folder / "second.zip").exitStatus, 0);
    EXPECT_EQ(readFile(folder / "first.zip"), readFile(folder / "second.zip"));
}

// Bytes that deflate cannot shrink, then runs of one byte that it shrinks to almost nothing.
std::string noiseThenZeros(std::size_t noise, std::size_t zeros) {
    std::mt19937 generator(7);
    std::string bytes(noise, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes + std::string(zeros, '\0');
}

struct CompressionCase {
    const char* what;
    std::string contents;
    std::int32_t method;
};

TEST_F(PackTest, StoresFilesThatDeflatingShrinksByLessThanOnePercent) {
    const std::vector<CompressionCase> cases = {
        {"noise", noiseThenZeros(256 * 1024, 0), ZIP_CM_STORE},
        {"noise-half-percent-zeros", noiseThenZeros(256 * 1024, 1300), ZIP_CM_STORE},
        {"noise-three-percent-zeros", noiseThenZeros(256 * 1024, 8000), ZIP_CM_DEFLATE},
        // Past the trial's first chunk: decided on the whole file, not its start.
        {"zeros-after-noise", noiseThenZeros(3 * 1024 * 1024, 200 * 1024), ZIP_CM_DEFLATE},
        {"text", std::string(40, 'x') + "level data\n", ZIP_CM_DEFLATE},
        {"nothing.dat", "", ZIP_CM_STORE},
    };
    const fs::path bundle = makeBundle(folder.path());
    for (const CompressionCase& item : cases) {
        writeFile(bundle / "Contents" / "Resources" / item.what, item.contents);
    }
    const fs::path archive = folder / "game.zip";
    const ChildResult result = pack(bundle, archive);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto entries = readArchive(archive);
    for (const CompressionCase& item : cases) {
        const auto& entry =
            entryNamed(entries, std::string("Game.app/Contents/Resources/") + item.what);
        EXPECT_EQ(entry.method, item.method) << item.what;
        EXPECT_EQ(entry.data, item.contents) << item.what;
    }
}

TEST_F(PackTest, ReplacesAnExistingArchive) {
    const fs::path bundle = makeBundle(folder.path());
    writeFile(folder / "game.zip", "an older upload");
    ASSERT_EQ(pack(bundle, folder / "game.zip").exitStatus, 0);
    EXPECT_EQ(readArchive(folder / "game.zip").size(), kBundleEntries.size());
}

TEST_F(PackTest, PacksTheLauncherBundleAsItsInstaller) {
    const fs::path archive = folder / "Launcher.zip";
    const ChildResult result = pack(LAUNCHER_BUNDLE_DIR, archive);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    const auto entries = readArchive(archive);
    EXPECT_EQ(entries.front().name, "Launcher.app/");
    EXPECT_EQ(entryNamed(entries, "Launcher.app/Contents/MacOS/launcher").mode & 0111, 0111u);
    EXPECT_NO_THROW(entryNamed(entries, "Launcher.app/Contents/Resources/config.plist"));
}

namespace {

// What spoils a fresh bundle and where the archive is to go (usually beside the bundle).
using Spoil = std::function<fs::path(const fs::path& bundle)>;

fs::path besideTheBundle(const fs::path& bundle) {
    return bundle.parent_path() / "a.zip";
}

// Does act to the bundle's executable, Contents/MacOS/Game.
Spoil onTheExecutable(const std::function<void(const fs::path& executable)>& act) {
    return [act](const fs::path& b) {
        act(b / "Contents" / "MacOS" / "Game");
        return besideTheBundle(b);
    };
}

// A link of the bundle's Contents/Resources that leads to target.
Spoil linkTo(const std::string& target, const std::string& name) {
    return [target, name](const fs::path& b) {
        fs::create_symlink(target, b / "Contents" / "Resources" / name);
        return besideTheBundle(b);
    };
}

// Every refusal names the problem, fails, and leaves no archive behind.
void expectRefused(const std::string& what, const Spoil& spoil, const std::string& message) {
    SCOPED_TRACE(what);
    TempFolder scratch;
    const fs::path bundle = makeBundle(scratch.path());
    const fs::path archive = spoil(bundle);
    const ChildResult result = publish({"pack", bundle.string(), "--output", archive.string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find(message), std::string::npos) << result.standardError;
    EXPECT_FALSE(fs::exists(archive));
}

} // namespace

TEST(PackRefusals, ALinkThatLeadsOutOfTheBundle) {
    expectRefused("absolute link", linkTo("/etc/passwd", "passwd"),
                  "points outside the bundle (/etc/passwd)");
    expectRefused("link climbing out", linkTo("../../../secret", "up"),
                  "points outside the bundle");
    expectRefused("climb after a name", linkTo("empty/../../../x", "odd"),
                  "points outside the bundle");
}

TEST(PackRefusals, AnArchiveInsideTheBundle) {
    expectRefused(
        "archive inside the bundle",
        [](const fs::path& b) { return b / "Contents" / "Resources" / "self.zip"; },
        "would be written inside the bundle");
}

TEST(PackRefusals, ABundleWithoutAnExecutableToStart) {
    expectRefused("no executable", onTheExecutable([](const fs::path& e) { fs::remove(e); }),
                  "the launcher would find nothing to start");
    expectRefused("executable without its x bit",
                  onTheExecutable([](const fs::path& e) { chmod(e.c_str(), 0644); }),
                  "Contents/MacOS/Game is not an executable file");
}

TEST(PackRefusals, ANamedPipeWhichWouldBlockAReader) {
    expectRefused(
        "a named pipe",
        [](const fs::path& b) {
            mkfifo((b / "Contents" / "Resources" / "pipe").c_str(), 0644);
            return besideTheBundle(b);
        },
        "is neither a file, a folder nor a symbolic link");
}

TEST_F(PackTest, RefusesAFolderThatIsNoBundle) {
    writeFile(folder / "Game" / "Contents" / "MacOS" / "Game", "x");
    ChildResult result = pack(folder / "Game", folder / "a.zip");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("its name must end in .app"), std::string::npos);
    result = pack(folder / "Missing.app", folder / "a.zip");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("is not a folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "a.zip"));
}

TEST(PublishCommandLine, EveryCommandHasHelpAndRejectsBadUsage) {
    for (const std::string command : {"bundle", "pack", "manifest", "lint"}) {
        SCOPED_TRACE(command);
        ChildResult result = publish({command, "--help"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardOutput.rfind("usage: launcher-publish " + command, 0), 0u);
        result = publish({command, "--no-such-option"});
        EXPECT_EQ(result.exitStatus, 2);
        EXPECT_NE(result.standardError.find("unknown option --no-such-option"), std::string::npos);
    }
    ChildResult result = publish({"publish-everything"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("unknown command 'publish-everything'"), std::string::npos);
    result = publish({"pack", "Game.app"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("--output"), std::string::npos);
    result = publish({"pack", "Game.app", "--output"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.standardError.find("--output needs a value"), std::string::npos);
}
