#include "tests/update/download_test_support.h"

#include "launcher/run_log.h"
#include "tests/support/child_process.h"
#include "update/http/transfer_progress.h"
#include "update/unzip_progress.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <zip.h>

namespace fs = std::filesystem;

ZipEntrySpec fileEntry(const std::string& name, const std::string& data, mode_t permissions,
                       bool stored) {
    return {name, data, static_cast<mode_t>(0100000 | permissions), 0, stored};
}

ZipEntrySpec folderEntry(const std::string& name, mode_t permissions) {
    return {name, "", static_cast<mode_t>(040000 | permissions), 0, true};
}

ZipEntrySpec linkEntry(const std::string& name, const std::string& target) {
    return {name, target, static_cast<mode_t>(0120777), 0, true};
}

namespace {

void addEntry(zip_t* archive, const ZipEntrySpec& entry) {
    zip_int64_t index = -1;
    if (S_ISDIR(entry.mode)) {
        index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8);
    } else {
        zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
        index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
        }
    }
    if (index < 0) {
        throw std::runtime_error("libzip refused " + entry.name + ": " + zip_strerror(archive));
    }
    const auto at = static_cast<zip_uint64_t>(index);
    zip_set_file_compression(archive, at, entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                     static_cast<zip_uint32_t>(entry.mode) << 16);
    if (entry.modified != 0) {
        zip_file_set_mtime(archive, at, entry.modified, 0);
    }
}

} // namespace

void writeZip(const fs::path& archivePath, const std::vector<ZipEntrySpec>& entries) {
    int error = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        throw std::runtime_error("cannot create " + archivePath.string());
    }
    try {
        for (const ZipEntrySpec& entry : entries) {
            addEntry(archive, entry);
        }
    } catch (...) {
        zip_discard(archive);
        throw;
    }
    if (zip_close(archive) != 0) {
        const std::string text = zip_strerror(archive);
        zip_discard(archive);
        throw std::runtime_error("cannot write " + archivePath.string() + ": " + text);
    }
}

std::string zipBytes(const TempFolder& scratch, const std::vector<ZipEntrySpec>& entries) {
    const fs::path path = scratch / "built.zip";
    writeZip(path, entries);
    std::string bytes = readFile(path);
    fs::remove(path);
    return bytes;
}

ZipEntrySpec gameExecutableEntry(const std::string& name, const fs::path& pidFile,
                                 mode_t permissions) {
    const std::string script = "#!/bin/sh\necho $$ > '" + pidFile.string() + ".tmp'\nmv '" +
                               pidFile.string() + ".tmp' '" + pidFile.string() +
                               "'\nexec sleep 120 >/dev/null 2>&1\n";
    return fileEntry(name + ".app/Contents/MacOS/" + name, script, permissions);
}

std::vector<std::string> listTree(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it);
         it.increment(error)) {
        names.push_back(fs::relative(it->path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int waitForPid(const fs::path& pidFile, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        std::ifstream file(pidFile);
        int pid = 0;
        if (file >> pid && pid > 0) {
            return pid;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

GameReaper::~GameReaper() {
    std::ifstream file(pidFile);
    int pid = 0;
    if (file >> pid) {
        killAndForget(pid);
    }
}

ContentServer::ContentServer(std::string archive, std::map<std::string, std::string> files) {
    state->archive = std::move(archive);
    state->files = std::move(files);
    auto& server = http.server();
    server.Get("/game.zip",
               [s = state](const httplib::Request& request, httplib::Response& response) {
                   ++s->archiveRequests;
                   const std::lock_guard lock(s->mutex);
                   s->userAgent = request.get_header_value("User-Agent");
                   response.set_content(s->archive, "application/zip");
               });
    server.Get("/nolength.zip", [s = state](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/zip",
                                              [s](std::size_t, httplib::DataSink& sink) {
                                                  sink.write(s->archive.data(), s->archive.size());
                                                  sink.done();
                                                  return true;
                                              });
    });
    server.Get("/redirect", [this](const httplib::Request&, httplib::Response& response) {
        response.set_redirect(url("/game.zip"));
        response.set_content("<html>moved</html>", "text/html");
    });
    server.Get("/missing", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content("<html>Not Found</html>", "text/html");
    });
    server.Get("/drop", [s = state](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            s->archive.size(), "application/zip",
            [s](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset > 0) {
                    return false; // hang up after half the body
                }
                sink.write(s->archive.data(), s->archive.size() / 2);
                return true;
            });
    });
    server.Get("/stall", [s = state](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            1000, "application/zip", [s](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset == 0) {
                    sink.write("PK", 2);
                    return true;
                }
                while (!s->release) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                return false;
            });
    });
    for (const auto& [path, body] : state->files) {
        server.Get(path,
                   [s = state, path = path](const httplib::Request&, httplib::Response& response) {
                       response.set_content(s->files.at(path), "application/octet-stream");
                   });
    }
    http.start();
}

// Lets a stalled answer end, so that the server can stop.
ContentServer::~ContentServer() {
    state->release = true;
}

std::string ContentServer::userAgent() const {
    const std::lock_guard lock(state->mutex);
    return state->userAgent;
}

void LoggedTest::SetUp() {
    setupLogFile(logFolder.str());
    downloadProgressPercent.store(0);
    unzipProgressPercent.store(0);
}

std::string LoggedTest::log() const {
    return readFile(logFolder / "out.log");
}

bool LoggedTest::logged(const std::string& message) const {
    return log().find(":" + message + "\n") != std::string::npos;
}
