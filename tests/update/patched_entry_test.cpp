// An entry-wise update whose installed base changes between the plan and the patch: the patch is
// not applied to it, and the whole entry installs instead.
#include "tests/tools/patched_release.h"
#include "tests/update/download_test_support.h"
#include "update/entry_stream_install.h"
#include "update/http/range_reader.h"

#include <memory>

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

    bool install(const std::string& path, const std::string& version) {
        return installContentEntryWise(http.url(path), data.str(), "Game.zip", "Game.app",
                                       std::nullopt, {}, version) == EntryWiseInstall::Installed;
    }

    TempFolder work;
    TempFolder data;
    std::atomic<bool> triggered{false}; // before the server, which its threads outlive otherwise
    HttpTestServer http;
};

} // namespace

TEST_F(PatchedEntry, ABaseChangedAfterThePlanIsNotPatchedAndTheWholeEntryInstalls) {
    // A patch of some hundred KiB: past the tail that is read to parse the archive.
    const std::string older = incompressibleBytes(8 << 20, 1);
    std::string newer = changedSlightly(older, 2);
    const std::string run = incompressibleBytes(older.size() / 25, 3);
    std::copy(run.begin(), run.end(), newer.begin() + static_cast<long>(newer.size() / 5));
    ASSERT_EQ(packRelease(makeGameBundle(work / "v1", {{"levels.pak", older}}), work / "v1.zip")
                  .exitStatus,
              0);
    ASSERT_EQ(packRelease(makeGameBundle(work / "v2", {{"levels.pak", newer}}), work / "v2.zip",
                          {"--patch-from", (work / "v1.zip").string()})
                  .exitStatus,
              0);
    const std::string first = readFile(work / "v1.zip");
    const std::string second = readFile(work / "v2.zip");
    const std::size_t patchName = second.find(".launcher-patches/");
    ASSERT_NE(patchName, std::string::npos);
    ASSERT_GT(second.size() - patchName, 128u * 1024);

    const fs::path installed = data / resourceEntry("levels.pak");
    std::string edited = older;
    edited[edited.size() / 2] ^= 0x01;
    serve("/v1.zip", first, std::string::npos, [] {});
    // The player's file changes as the patch is asked for, after the plan chose it.
    serve("/v2.zip", second, patchName, [&] { writeFile(installed, edited); });
    http.start();
    ASSERT_TRUE(install("/v1.zip", "1.0")) << log();
    ASSERT_TRUE(install("/v2.zip", "2.0")) << log();
    EXPECT_TRUE(triggered.load());
    EXPECT_TRUE(readFile(installed) == newer); // not printed: megabytes
    EXPECT_TRUE(log().find(" (1 as patches)") != std::string::npos) << log();
    EXPECT_TRUE(logged("entry-wise install of " + http.url("/v2.zip") + ": fetching " +
                       resourceEntry("levels.pak") +
                       " whole: the installed file changed since the update was planned"))
        << log();
}
