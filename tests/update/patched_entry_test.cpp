// An entry-wise update by patch whose installed base is, or is not, what the record of installed
// files says: a base that changed (after the plan, or behind the record's back with its size,
// time and inode kept) is never patched into a wrong result, and the whole entry installs
// instead. A base the record vouches for is not read to plan the update.
#include "tests/tools/patched_release.h"
#include "tests/update/download_test_support.h"
#include "update/entry_stream_install.h"
#include "update/http/range_reader.h"
#include "update/stage/staged_commit.h"

#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class PatchedEntry : public LoggedTest {
  protected:
    // Serves path with ranges; before the first request that reaches the byte at trigger (none:
    // never), before runs once. The server keeps its own copy of bytes: a transfer that the
    // launcher leaves half way may still be sending when the test's own strings are gone.
    void serve(const std::string& path, const std::string& bytes, std::size_t trigger,
               std::function<void()> before) {
        const auto owned = std::make_shared<const std::string>(bytes);
        http.server().Get(path, [this, owned, trigger, before](const httplib::Request&,
                                                               httplib::Response& response) {
            response.set_content_provider(owned->size(), "application/zip",
                                          [this, owned, trigger, before](std::size_t offset,
                                                                         std::size_t length,
                                                                         httplib::DataSink& sink) {
                                              if (offset <= trigger && trigger < offset + length &&
                                                  !triggered.exchange(true)) {
                                                  before();
                                              }
                                              return sink.write(owned->data() + offset, length);
                                          });
        });
    }

    // The road, then the record as the worker makes it once the game runs: a first install's
    // files are recorded only then.
    bool install(const fs::path& folder, const std::string& path, const std::string& version) {
        return installContentEntryWise(http.url(path), folder.string(), "Game.zip", "Game.app",
                                       std::nullopt, {}, version) == EntryWiseInstall::Installed &&
               recordCommittedRelease(folder.string(), version, true) == 0;
    }

    TempFolder work;
    TempFolder data;
    std::atomic<bool> triggered{false}; // before the server, which its threads outlive otherwise
    HttpTestServer http;
};

// Bytes this process has read from files (and pipes) so far.
long long bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

// One byte of path rewritten in place, its size, time and inode kept: the record of installed
// files still takes it for the file it recorded.
void changeBehindTheRecord(const fs::path& path, std::size_t at) {
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(static_cast<std::streamoff>(at));
        const char byte = static_cast<char>(file.get() ^ 0x01);
        file.seekp(static_cast<std::streamoff>(at));
        file.put(byte);
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

enum class BaseChange { None, AfterThePlan, BehindTheRecord };

struct BaseCase {
    const char* name;
    BaseChange change;
    bool sameSize;        // the release keeps the file's size: planning could take it for the same
    const char* whyWhole; // how the run-log reason it comes whole begins; none: it is patched
};

// A case's two releases, served at /<case>/v1.zip and /<case>/v2.zip.
struct Releases {
    std::string older;
    std::string newer;
    std::string v1;
    std::string v2;
};

} // namespace

TEST_F(PatchedEntry, OnlyABaseAsRecordedIsPatchedAndItIsNotReadToPlanTheUpdate) {
    const BaseCase cases[] = {
        {"as recorded", BaseChange::None, true, nullptr},
        {"as recorded, another size", BaseChange::None, false, nullptr},
        {"changed after the plan", BaseChange::AfterThePlan, false,
         "the installed file changed since the update was planned"},
        // The frame's own checksum fails before the result's SHA-256 is compared.
        {"changed behind the record's back", BaseChange::BehindTheRecord, true,
         "its patch failed: the patch does not apply: "},
    };
    std::vector<Releases> served;
    for (const BaseCase& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string name = std::to_string(served.size());
        // A patch of some hundred KiB: past the tail that is read to parse the archive.
        Releases releases{
            incompressibleBytes(8 << 20, 1), {}, "/" + name + "/v1.zip", "/" + name + "/v2.zip"};
        releases.newer = test.sameSize ? releases.older : changedSlightly(releases.older, 2);
        const std::string run = incompressibleBytes(releases.older.size() / 25, 3);
        std::copy(run.begin(), run.end(),
                  releases.newer.begin() + static_cast<long>(releases.newer.size() / 5));
        const fs::path folder = work / name;
        ASSERT_EQ(packRelease(makeGameBundle(folder / "v1", {{"levels.pak", releases.older}}),
                              folder / "v1.zip")
                      .exitStatus,
                  0);
        ASSERT_EQ(packRelease(makeGameBundle(folder / "v2", {{"levels.pak", releases.newer}}),
                              folder / "v2.zip", {"--patch-from", (folder / "v1.zip").string()})
                      .exitStatus,
                  0);
        const std::string second = readFile(folder / "v2.zip");
        const std::size_t patchName = second.find(".launcher-patches/");
        ASSERT_NE(patchName, std::string::npos);
        ASSERT_GT(second.size() - patchName, 128u * 1024);
        serve(releases.v1, readFile(folder / "v1.zip"), std::string::npos, [] {});
        // The player's file changes as the patch is asked for, after the plan chose it.
        const fs::path installed = data / name / resourceEntry("levels.pak");
        std::string edited = releases.older;
        edited[edited.size() / 2] ^= 0x01;
        serve(releases.v2, second,
              test.change == BaseChange::AfterThePlan ? patchName : std::string::npos,
              [installed, edited] { writeFile(installed, edited); });
        served.push_back(std::move(releases));
    }
    http.start();

    for (std::size_t round = 0; round < served.size(); ++round) {
        const BaseCase& test = cases[round];
        const Releases& releases = served[round];
        SCOPED_TRACE(test.name);
        const fs::path folder = data / std::to_string(round);
        fs::create_directories(folder);
        const fs::path installed = folder / resourceEntry("levels.pak");
        triggered = false;
        ASSERT_TRUE(install(folder, releases.v1, "1.0")) << log();
        if (test.change == BaseChange::BehindTheRecord) {
            changeBehindTheRecord(installed, releases.older.size() / 2);
        }
        const long long readBefore = bytesReadSoFar();
        ASSERT_TRUE(install(folder, releases.v2, "2.0")) << log();
        // The installed file's hash comes from the record: planning does not read it whole.
        EXPECT_LT(bytesReadSoFar() - readBefore, static_cast<long long>(releases.older.size() / 2));
        EXPECT_EQ(triggered.load(), test.change == BaseChange::AfterThePlan);
        EXPECT_TRUE(readFile(installed) == releases.newer); // not printed: megabytes
        const std::string url = "entry-wise install of " + http.url(releases.v2) + ": ";
        EXPECT_NE(log().find(url + "fetching "), std::string::npos) << log();
        EXPECT_NE(log().find(" bytes (1 as patches)"), std::string::npos) << log();
        const std::string whole = url + "fetching " + resourceEntry("levels.pak") + " whole: ";
        if (test.whyWhole != nullptr) {
            EXPECT_NE(log().find(whole + test.whyWhole), std::string::npos) << log();
        } else {
            EXPECT_EQ(log().find(whole), std::string::npos) << log();
            EXPECT_NE(log().find(url + resourceEntry("levels.pak") + " patched in "),
                      std::string::npos)
                << log();
        }
    }
}
