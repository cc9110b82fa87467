#include "tests/support/http_test_server.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>

HttpTestServer::HttpTestServer() : instance(std::make_unique<httplib::Server>()) {}

HttpTestServer::HttpTestServer(const std::string& certificateFile, const std::string& keyFile)
    : instance(std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str())),
      secure(true) {}

HttpTestServer::~HttpTestServer() {
    instance->stop();
    if (worker.joinable()) {
        worker.join();
    }
}

void HttpTestServer::start() {
    boundPort = instance->bind_to_any_port("127.0.0.1");
    if (boundPort <= 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    worker = std::thread([this] { instance->listen_after_bind(); });
    // Debian's cpp-httplib (0.11) has no wait_until_ready(); poll until the loop runs.
    while (!instance->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string HttpTestServer::url(const std::string& path) const {
    return std::string(secure ? "https" : "http") + "://127.0.0.1:" + std::to_string(boundPort) +
           path;
}

bool makeSelfSignedCertificate(const std::string& folder, std::string& certificate,
                               std::string& key) {
    certificate = folder + "/server.crt";
    key = folder + "/server.key";
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout '" + key +
        "' -out '" + certificate + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}
