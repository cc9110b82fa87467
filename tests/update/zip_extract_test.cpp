#include "update/unpack/zip_extract.h"

#include "tests/support/child_process.h"
#include "tests/support/file_modes.h"
#include "tests/update/download_test_support.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <zip.h>

namespace fs = std::filesystem;

namespace {

using Progress = std::tuple<std::string, long long, long long>;

struct Recorded {
    std::vector<Progress> progress;
    std::vector<std::pair<std::string, bool>> completion;
};

// The outcome is recorded as the installs take it: once, from what unzipArchive returns.
bool unzipRecorded(const fs::path& archive, const fs::path& destination, Recorded& recorded) {
    const bool unpacked =
        unzipArchive(archive.string(), destination.string(),
                     [&](const std::string& entry, long long number, long long total) {
                         recorded.progress.emplace_back(entry, number, total);
                     });
    recorded.completion.emplace_back(archive.string(), unpacked);
    return unpacked;
}

bool unzipQuietly(const fs::path& archive, const fs::path& destination) {
    Recorded ignored;
    return unzipRecorded(archive, destination, ignored);
}

std::time_t modifiedTime(const fs::path& path) {
    struct stat status {};
    lstat(path.c_str(), &status);
    return status.st_mtime;
}

// A small application bundle on disk, as a publisher would pack it.
void makeBundleTree(const fs::path& root) {
    writeFile(root / "Game.app/Contents/MacOS/Game", "#!/bin/sh\nexit 0\n");
    fs::permissions(root / "Game.app/Contents/MacOS/Game", fs::perms(0755));
    writeFile(root / "Game.app/Contents/Resources/text.txt", std::string(50000, 'x') + "end");
    writeFile(root / "Game.app/Contents/Resources/Ünïcødé ✓.txt", "utf-8 name");
    fs::create_directory_symlink("Resources", root / "Game.app/Contents/Current");
}

void expectBundleTree(const fs::path& root, bool withLink = true) {
    EXPECT_EQ(readFile(root / "Game.app/Contents/MacOS/Game"), "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(permissionsOf(root / "Game.app/Contents/MacOS/Game"), 0755);
    EXPECT_EQ(readFile(root / "Game.app/Contents/Resources/text.txt"),
              std::string(50000, 'x') + "end");
    EXPECT_EQ(readFile(root / "Game.app/Contents/Resources/Ünïcødé ✓.txt"), "utf-8 name");
    if (!withLink) {
        EXPECT_FALSE(fs::exists(root / "Game.app/Contents/Current"));
        return;
    }
    ASSERT_TRUE(fs::is_symlink(root / "Game.app/Contents/Current"));
    EXPECT_EQ(fs::read_symlink(root / "Game.app/Contents/Current"), "Resources");
}

bool hasDataDescriptor(const std::string& archive) {
    return archive.find(std::string("PK\x07\x08", 4)) != std::string::npos;
}

class UnzipArchiveTest : public LoggedTest {
  protected:
    TempFolder scratch;
    fs::path destination() const { return scratch / "dest"; }
    void SetUp() override {
        LoggedTest::SetUp();
        fs::create_directories(destination());
    }
};

TEST_F(UnzipArchiveTest, UnpacksEveryKindOfEntryWithModesTimesAndLinks) {
    const std::time_t folderTime = 1500000000;
    const std::time_t fileTime = 1600000000;
    const std::string nested = zipBytes(scratch, {fileEntry("inner.txt", "inner")});
    const std::string big(300000, 'q'); // larger than one copy buffer
    std::vector<ZipEntrySpec> entries = {
        folderEntry("Game.app/", 0750),
        fileEntry("Game.app/Contents/MacOS/Game", "#!/bin/sh\n", 0755),
        fileEntry("Game.app/Contents/Resources/stored.txt", "plain", 0640, true),
        fileEntry("Game.app/Contents/Resources/deflated.txt", big),
        fileEntry("Game.app/Contents/Resources/Ünïcødé ✓.txt", "utf-8"),
        fileEntry("Game.app/Contents/Resources/levels.zip", nested, 0644, true),
        linkEntry("Game.app/Contents/Current", "Resources"),
        linkEntry("Game.app/Contents/Resources/game", "../MacOS/Game"),
        folderEntry("Game.app/Empty/"),
        fileEntry("Game.app/setid", "x", 06755),
    };
    entries[0].modified = folderTime;
    entries[1].modified = fileTime;
    entries[6].modified = fileTime;
    writeZip(scratch / "a.zip", entries);

    Recorded recorded;
    ASSERT_TRUE(unzipRecorded(scratch / "a.zip", destination(), recorded));

    const fs::path app = destination() / "Game.app";
    EXPECT_EQ(readFile(app / "Contents/MacOS/Game"), "#!/bin/sh\n");
    EXPECT_EQ(permissionsOf(app / "Contents/MacOS/Game"), 0755);
    EXPECT_EQ(modifiedTime(app / "Contents/MacOS/Game"), fileTime);
    EXPECT_EQ(readFile(app / "Contents/Resources/stored.txt"), "plain");
    EXPECT_EQ(permissionsOf(app / "Contents/Resources/stored.txt"), 0640);
    EXPECT_EQ(readFile(app / "Contents/Resources/deflated.txt"), big);
    EXPECT_EQ(readFile(app / "Contents/Resources/Ünïcødé ✓.txt"), "utf-8");
    EXPECT_EQ(readFile(app / "Contents/Resources/levels.zip"), nested);
    EXPECT_FALSE(fs::exists(app / "Contents/Resources/inner.txt"));
    EXPECT_EQ(fs::read_symlink(app / "Contents/Current"), "Resources");
    EXPECT_EQ(modifiedTime(app / "Contents/Current"), fileTime);
    EXPECT_EQ(readFile(app / "Contents/Current/stored.txt"), "plain");
    EXPECT_EQ(fs::read_symlink(app / "Contents/Resources/game"), "../MacOS/Game");
    EXPECT_TRUE(fs::is_directory(app / "Empty"));
    EXPECT_EQ(permissionsOf(app), 0750);
    EXPECT_EQ(modifiedTime(app), folderTime);
    EXPECT_EQ(permissionsOf(app / "setid"), 0755) << "set-id bits are not taken over";
    EXPECT_TRUE(listTree(app / "Contents/MacOS").size() == 1) << "no partial files left";

    ASSERT_EQ(recorded.progress.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(recorded.progress[i], Progress(entries[i].name, i + 1, entries.size()));
    }
    ASSERT_EQ(recorded.completion.size(), 1U);
    EXPECT_EQ(recorded.completion[0], std::make_pair((scratch / "a.zip").string(), true));
}

TEST_F(UnzipArchiveTest, ReadsWhatInfoZipAnd7zMake) {
    makeBundleTree(scratch / "tree");
    const std::string tree = (scratch / "tree").string();

    // Written to a pipe, Info-ZIP cannot seek back and puts data descriptors after each entry.
    // It stores links uncompressed, which it refuses to do on a pipe, so the link stays out of
    // this one; the other two archives carry it.
    const ChildResult streamed = runChild(
        "/usr/bin/zip", {"-q", "-r", "-y", "-", "Game.app", "-x", "Game.app/Contents/Current"}, {},
        std::chrono::seconds(60), tree);
    ASSERT_EQ(streamed.exitStatus, 0) << streamed.standardError;
    ASSERT_TRUE(hasDataDescriptor(streamed.standardOutput)) << "no data descriptor";
    writeFile(scratch / "streamed.zip", streamed.standardOutput);

    const ChildResult zip64 = runChild(
        "/usr/bin/zip", {"-q", "-r", "-y", "-fz", (scratch / "zip64.zip").string(), "Game.app"}, {},
        std::chrono::seconds(60), tree);
    ASSERT_EQ(zip64.exitStatus, 0) << zip64.standardError;
    ASSERT_NE(readFile(scratch / "zip64.zip").find(std::string("PK\x06\x06", 4)), std::string::npos)
        << "no ZIP64 end record";

    const ChildResult sevenZip =
        runChild("/usr/bin/7z", {"a", "-tzip", "-snl", (scratch / "7z.zip").string(), "Game.app"},
                 {}, std::chrono::seconds(60), tree);
    ASSERT_EQ(sevenZip.exitStatus, 0) << sevenZip.standardOutput;

    for (const char* name : {"streamed.zip", "zip64.zip", "7z.zip"}) {
        SCOPED_TRACE(name);
        const fs::path into = scratch / (std::string("out-") + name);
        fs::create_directories(into);
        ASSERT_TRUE(unzipQuietly(scratch / name, into));
        expectBundleTree(into, std::string(name) != "streamed.zip");
    }
}

// Each archive tries to put "evil" into the folder "outside", next to the destination.
struct SlipCase {
    const char* label;
    std::vector<ZipEntrySpec> (*entries)(const fs::path& outside);
    void (*prepare)(const fs::path& destination, const fs::path& outside);
    // A link that an earlier install left is replaced by a folder instead of being written
    // through: the archive installs, and "evil" lands inside the destination.
    bool replacesAnEarlierLink = false;
};

void nothingToPrepare(const fs::path&, const fs::path&) {}

const SlipCase slipCases[] = {
    {"absolute name",
     [](const fs::path& outside) {
         return std::vector{fileEntry((outside / "evil").string(), "x")};
     },
     nothingToPrepare},
    {"dot-dot name", [](const fs::path&) { return std::vector{fileEntry("../outside/evil", "x")}; },
     nothingToPrepare},
    {"dot-dot inside a name",
     [](const fs::path&) {
         return std::vector{fileEntry("Game.app/ok", "x"),
                            fileEntry("Game.app/../../outside/evil", "x")};
     },
     nothingToPrepare},
    {"backslash dot-dot",
     [](const fs::path&) { return std::vector{fileEntry("..\\outside\\evil", "x")}; },
     nothingToPrepare},
    {"link to an absolute folder, then a file through it",
     [](const fs::path& outside) {
         return std::vector{linkEntry("escape", outside.string()), fileEntry("escape/evil", "x")};
     },
     nothingToPrepare},
    {"link climbing out",
     [](const fs::path&) {
         return std::vector{linkEntry("escape", "../outside"), fileEntry("escape/evil", "x")};
     },
     nothingToPrepare},
    {"link climbing out from a sub-folder",
     [](const fs::path&) { return std::vector{linkEntry("Game.app/escape", "../../outside")}; },
     nothingToPrepare},
    {"link climbing through another link",
     [](const fs::path&) {
         return std::vector{linkEntry("Game.app/up", ".."),
                            linkEntry("Game.app/out", "up/../outside"),
                            fileEntry("Game.app/out/evil", "x")};
     },
     nothingToPrepare},
    {"file written through a link that stays inside",
     [](const fs::path&) {
         return std::vector{folderEntry("sub/"), linkEntry("inside", "sub"),
                            fileEntry("inside/evil", "x")};
     },
     nothingToPrepare},
    {"file written through a link an earlier install left",
     [](const fs::path&) { return std::vector{fileEntry("escape/evil", "x")}; },
     [](const fs::path& destination, const fs::path& outside) {
         fs::create_directory_symlink(outside, destination / "escape");
     },
     true},
    {"folder entry through a link an earlier install left",
     [](const fs::path&) { return std::vector{folderEntry("escape/evil/")}; },
     [](const fs::path& destination, const fs::path& outside) {
         fs::create_directory_symlink(outside, destination / "escape");
     },
     true},
};

void PrintTo(const SlipCase& slip, std::ostream* out) {
    *out << slip.label;
}

std::string testName(const char* label) {
    std::string name;
    for (const char* c = label; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
}

class ZipSlipTest : public LoggedTest, public ::testing::WithParamInterface<SlipCase> {};

TEST_P(ZipSlipTest, IsRefusedAndNothingOutsideChanges) {
    TempFolder root;
    const fs::path destination = root / "dest";
    const fs::path outside = root / "outside";
    writeFile(outside / "victim", "original");
    fs::create_directories(destination);
    GetParam().prepare(destination, outside);
    writeZip(root / "slip.zip", GetParam().entries(outside));
    const auto outsideBefore = listTree(outside);

    Recorded recorded;
    const bool replaces = GetParam().replacesAnEarlierLink;
    EXPECT_EQ(unzipRecorded(root / "slip.zip", destination, recorded), replaces) << log();

    EXPECT_EQ(listTree(outside), outsideBefore);
    EXPECT_EQ(readFile(outside / "victim"), "original");
    EXPECT_FALSE(fs::exists(destination / "sub/evil"));
    EXPECT_EQ(listTree(root.path()).size(), listTree(destination).size() + outsideBefore.size() + 3)
        << "only dest, outside and the archive stand in the root";
    ASSERT_EQ(recorded.completion.size(), 1U);
    EXPECT_EQ(recorded.completion[0].second, replaces);
    if (replaces) {
        EXPECT_FALSE(fs::is_symlink(destination / "escape"));
        EXPECT_TRUE(fs::exists(destination / "escape/evil"));
        return;
    }
    EXPECT_NE(log().find("unzip: entry '"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ZipSlipTest, ::testing::ValuesIn(slipCases),
                         [](const auto& info) { return testName(info.param.label); });

TEST_F(UnzipArchiveTest, NamesAreCheckedBeforeAnythingIsWritten) {
    writeFile(destination() / "Game.app/data.txt", "old");
    writeZip(scratch / "a.zip", {fileEntry("Game.app/data.txt", "new"), fileEntry("../evil", "x")});
    EXPECT_FALSE(unzipQuietly(scratch / "a.zip", destination()));
    EXPECT_EQ(readFile(destination() / "Game.app/data.txt"), "old");
    EXPECT_TRUE(logged("unzip: entry '../evil' of " + (scratch / "a.zip").string() +
                       " not unpacked: its name leads outside the destination"));
}

TEST_F(UnzipArchiveTest, ReplacesAnEarlierInstallAndKeepsWhatTheArchiveLacks) {
    const fs::path app = destination() / "Game.app";
    writeFile(app / "kept.txt", "kept");
    writeFile(app / "data.txt", "old data");
    writeFile(app / "readonly.txt", "old");
    fs::permissions(app / "readonly.txt", fs::perms(0444));
    writeFile(scratch / "outside/victim", "original");
    fs::create_symlink(scratch / "outside/victim", app / "was-a-link");
    fs::create_directories(app / "Contents/MacOS");
    // A program of the earlier install still running: rewriting it in place would fail.
    fs::copy_file("/bin/sleep", app / "Contents/MacOS/helper");
    const pid_t helper = fork();
    if (helper == 0) {
        execl((app / "Contents/MacOS/helper").c_str(), "helper", "30", nullptr);
        _exit(127);
    }
    ASSERT_GT(helper, 0);

    writeZip(scratch / "a.zip", {fileEntry("Game.app/data.txt", "new data"),
                                 fileEntry("Game.app/readonly.txt", "new", 0444),
                                 fileEntry("Game.app/was-a-link", "a file now"),
                                 fileEntry("Game.app/Contents/MacOS/helper", "new helper", 0755)});
    const bool unpacked = unzipQuietly(scratch / "a.zip", destination());
    killAndForget(helper);
    waitpid(helper, nullptr, 0);

    ASSERT_TRUE(unpacked) << log();
    EXPECT_EQ(readFile(app / "kept.txt"), "kept");
    EXPECT_EQ(readFile(app / "data.txt"), "new data");
    EXPECT_EQ(readFile(app / "readonly.txt"), "new");
    EXPECT_FALSE(fs::is_symlink(app / "was-a-link"));
    EXPECT_EQ(readFile(app / "was-a-link"), "a file now");
    EXPECT_EQ(readFile(scratch / "outside/victim"), "original");
    EXPECT_EQ(readFile(app / "Contents/MacOS/helper"), "new helper");
}

// Lowers the largest file this process may write, so that writes fail as on a full disk.
struct FileSizeLimit {
    rlimit saved{};
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
};

TEST_F(UnzipArchiveTest, FailsOnDamagedArchivesAndFailedWritesWithoutHalfFiles) {
    writeFile(scratch / "page.zip", "<html>404 Not Found</html>");
    EXPECT_FALSE(unzipQuietly(scratch / "page.zip", destination()));
    EXPECT_NE(log().find("unzip: cannot open " + (scratch / "page.zip").string() + ": "),
              std::string::npos);

    writeZip(scratch / "whole.zip", {fileEntry("a.txt", std::string(20000, 'a'))});
    const std::string whole = readFile(scratch / "whole.zip");
    writeFile(scratch / "cut.zip", whole.substr(0, whole.size() / 2));
    EXPECT_FALSE(unzipQuietly(scratch / "cut.zip", destination()));

    // One byte of stored data changed: only the CRC can tell.
    writeZip(scratch / "crc.zip", {fileEntry("first.txt", "fine", 0644, true),
                                   fileEntry("damaged.txt", "0123456789", 0644, true)});
    std::string damaged = readFile(scratch / "crc.zip");
    damaged[damaged.find("0123456789") + 3] = 'X';
    writeFile(scratch / "crc.zip", damaged);
    Recorded recorded;
    EXPECT_FALSE(unzipRecorded(scratch / "crc.zip", destination(), recorded));
    EXPECT_EQ(readFile(destination() / "first.txt"), "fine") << "what was unpacked stays";
    EXPECT_FALSE(fs::exists(destination() / "damaged.txt"));
    EXPECT_EQ(listTree(destination()), std::vector<std::string>{"first.txt"});
    ASSERT_EQ(recorded.progress.size(), 1U);
    EXPECT_FALSE(recorded.completion.at(0).second);

    EXPECT_FALSE(unzipQuietly(scratch / "crc.zip", scratch / "missing"));
}

TEST_F(UnzipArchiveTest, AFailedWriteFailsTheUnpack) {
    writeZip(scratch / "big.zip",
             {fileEntry("small.txt", "small"), fileEntry("large.bin", std::string(2 << 20, 'L'))});
    bool unpacked = true;
    {
        const FileSizeLimit limit(1 << 20);
        unpacked = unzipQuietly(scratch / "big.zip", destination());
    }
    EXPECT_FALSE(unpacked);
    EXPECT_EQ(listTree(destination()), std::vector<std::string>{"small.txt"});
    EXPECT_NE(log().find("unzip: entry 'large.bin' of " + (scratch / "big.zip").string() +
                         " not unpacked: cannot write it: "),
              std::string::npos);
}

} // namespace

namespace {

// A big entry produced on the fly for libzip's writer: zeros with a marker at its end, so that
// the archive stays small while the unpack streams every byte and the marker's place is checked.
const std::string bigEntryMarker = "end of the big entry";

struct ZeroSource {
    zip_uint64_t size = 0;
    zip_uint64_t offset = 0;
};

zip_int64_t zeroSourceCallback(void* state, void* data, zip_uint64_t length,
                               zip_source_cmd_t command) {
    auto& source = *static_cast<ZeroSource*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        source.offset = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t count = std::min(length, source.size - source.offset);
        auto* bytes = static_cast<char*>(data);
        std::memset(bytes, 0, count);
        const zip_uint64_t markerStart = source.size - bigEntryMarker.size();
        for (zip_uint64_t i = 0; i < count; ++i) {
            if (source.offset + i >= markerStart) {
                bytes[i] = bigEntryMarker[source.offset + i - markerStart];
            }
        }
        source.offset += count;
        return static_cast<zip_int64_t>(count);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* status = static_cast<zip_stat_t*>(data);
        zip_stat_init(status);
        status->valid = ZIP_STAT_SIZE;
        status->size = source.size;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return 2 * sizeof(int);
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        return -1;
    }
}

long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class BigEntryTest : public UnzipArchiveTest {
  protected:
    // Packs one entry of size bytes (entries over 4 GiB get ZIP64 sizes), unpacks it, and checks
    // its size, its end and that peak memory grew by less than 64 MiB.
    void unpackBigEntry(zip_uint64_t size) {
        ZeroSource state{size, 0};
        int error = 0;
        zip_t* writer = zip_open((scratch / "big.zip").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        ASSERT_NE(writer, nullptr);
        zip_source_t* source = zip_source_function(writer, zeroSourceCallback, &state);
        const zip_int64_t index = zip_file_add(writer, "big.bin", source, 0);
        ASSERT_GE(index, 0);
        zip_set_file_compression(writer, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
        ASSERT_EQ(zip_close(writer), 0);

        const long before = peakResidentKiB();
        ASSERT_TRUE(unzipQuietly(scratch / "big.zip", destination()));
        const long after = peakResidentKiB();

        const fs::path unpacked = destination() / "big.bin";
        EXPECT_EQ(fs::file_size(unpacked), size);
        std::ifstream file(unpacked, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(size - bigEntryMarker.size() - 1));
        std::string tail(bigEntryMarker.size() + 1, '?');
        file.read(tail.data(), static_cast<std::streamsize>(tail.size()));
        EXPECT_EQ(tail, std::string(1, '\0') + bigEntryMarker);
        EXPECT_LT(after - before, 64 * 1024)
            << "peak memory grew by " << (after - before) << " KiB";
    }
};

TEST_F(BigEntryTest, StreamsABigEntryInBoundedMemory) {
    unpackBigEntry(256ULL << 20);
}

// About 25 s and 4 GiB of disk, so only on request: LAUNCHER_HUGE_TESTS=1.
TEST_F(BigEntryTest, UnpacksAnEntryOverFourGiB) {
    if (std::getenv("LAUNCHER_HUGE_TESTS") == nullptr) {
        GTEST_SKIP() << "set LAUNCHER_HUGE_TESTS=1 to unpack an entry over 4 GiB";
    }
    unpackBigEntry((4ULL << 30) + (1 << 20));
}

} // namespace
