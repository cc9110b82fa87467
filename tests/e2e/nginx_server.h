#pragma once
#include "tests/support/temp_folder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

// nginx serving a folder on 127.0.0.1 and a free port, for the life of the object.
//
// It runs as one foreground process (no master/worker split): started as root, nginx would hand
// its workers to "nobody", who cannot read a test's private temporary folders; a single process
// keeps the invoking user and is also the only process there is to stop.
class NginxServer {
  public:
    struct Options {
        bool https = false;          // TLS with a self-signed certificate made by openssl req
        std::string extraDirectives; // added to the server block as they stand
    };

    NginxServer(const std::filesystem::path& servedFolder, const Options& options);
    explicit NginxServer(const std::filesystem::path& servedFolder)
        : NginxServer(servedFolder, Options{}) {}
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // scheme://127.0.0.1:port + path (path starts with "/").
    std::string url(const std::string& path) const;
    int port() const { return listenPort; }
    // One line per request served so far: method, path, status, user agent in quotes, body bytes.
    std::vector<std::string> requests() const;
    // The body bytes sent so far for path, over all its requests (aborted ones included).
    long long bytesSent(const std::string& path) const;
    // The first byte of each range request for path so far ("bytes=a-b"; suffix ranges left
    // out), in the order they were answered.
    std::vector<std::uint64_t> rangeStarts(const std::string& path) const;
    // The range requests for path so far: the connection that carried each, and when it started
    // and ended (seconds).
    struct RangeRequest {
        long connection = 0;
        double started = 0;
        double ended = 0;
    };
    std::vector<RangeRequest> rangeRequests(const std::string& path) const;
    // Stops the server now (the destructor does it otherwise); the port then refuses.
    void stop();

  private:
    bool startOn(int port, const std::filesystem::path& servedFolder, const Options& options);
    void makeCertificate() const;

    TempFolder work;
    pid_t pid = -1;
    int listenPort = 0;
    bool secure = false;
};
