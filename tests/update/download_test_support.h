#pragma once
#include "tests/support/http_test_server.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

// One entry of an archive written with libzip's writer. mode is a full st_mode (type and
// permission bits), stored as the entry's Unix attributes.
struct ZipEntrySpec {
    std::string name;
    std::string data;
    mode_t mode = 0100644;
    std::time_t modified = 0; // 0: the time of writing
    bool stored = false;      // Stored instead of Deflate
};

ZipEntrySpec fileEntry(const std::string& name, const std::string& data, mode_t permissions = 0644,
                       bool stored = false);
ZipEntrySpec folderEntry(const std::string& name, mode_t permissions = 0755);
ZipEntrySpec linkEntry(const std::string& name, const std::string& target);

// Writes the entries in order with libzip; throws when libzip refuses.
void writeZip(const std::filesystem::path& archive, const std::vector<ZipEntrySpec>& entries);
std::string zipBytes(const TempFolder& scratch, const std::vector<ZipEntrySpec>& entries);

// The executable of bundle <name>.app: a script that writes its pid to pidFile and then sleeps,
// so that it is still running when the launcher checks.
ZipEntrySpec gameExecutableEntry(const std::string& name, const std::filesystem::path& pidFile,
                                 mode_t permissions = 0755);

// Every name below folder (relative, sorted), links not followed.
std::vector<std::string> listTree(const std::filesystem::path& folder);

// The pid a started game script wrote to pidFile, waiting for it up to limit; 0 when none.
int waitForPid(const std::filesystem::path& pidFile,
               std::chrono::milliseconds limit = std::chrono::seconds(5));

// Ends the game that wrote pidFile, if any, when the test ends.
struct GameReaper {
    std::filesystem::path pidFile;
    ~GameReaper();
};

// What the loopback server hands out and what it saw; shared with its handler threads.
struct ServedState {
    std::string archive;
    std::map<std::string, std::string> files;
    std::atomic<bool> release{false};
    std::atomic<int> archiveRequests{0};
    std::mutex mutex;
    std::string userAgent;
};

// A real HTTP server on loopback with the answers a content host can give: /game.zip with a
// length, /nolength.zip without one, /redirect, /missing (404), /drop (hangs up half-way),
// /stall (goes quiet after two bytes), and any further files given by path.
class ContentServer {
  public:
    explicit ContentServer(std::string archive, std::map<std::string, std::string> files = {});
    ~ContentServer();

    std::string url(const std::string& path) const { return http.url(path); }
    int archiveRequests() const { return state->archiveRequests; }
    std::string userAgent() const;

  private:
    std::shared_ptr<ServedState> state = std::make_shared<ServedState>();
    HttpTestServer http;
};

// Sets up the run log in its own folder (writeToLog ends the process otherwise) and resets the
// shared percentages, which the code under test never resets.
class LoggedTest : public ::testing::Test {
  protected:
    void SetUp() override;
    std::string log() const;
    // Whether message stands in the log as one whole entry.
    bool logged(const std::string& message) const;

    TempFolder logFolder;
};

// An install into data of a game whose script writes its pid to scratch / "game.pid" as it
// starts (gameExecutableEntry); that game is ended with the test.
class GameInstallTest : public LoggedTest {
  protected:
    TempFolder data;
    TempFolder scratch;
    GameReaper game{scratch / "game.pid"};
};
