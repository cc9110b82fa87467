#pragma once
#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

// A real HTTP (or HTTPS, self-signed) server on 127.0.0.1 and a free port, running on its own
// thread for the life of the object. Routes are added on server() before start().
class HttpTestServer {
  public:
    HttpTestServer();
    // HTTPS with the given certificate and key files.
    HttpTestServer(const std::string& certificateFile, const std::string& keyFile);
    ~HttpTestServer();

    httplib::Server& server() { return *instance; }
    void start();
    int port() const { return boundPort; }
    std::string url(const std::string& path) const;

  private:
    std::unique_ptr<httplib::Server> instance;
    std::thread worker;
    int boundPort = 0;
    bool secure = false;
};

// Writes a self-signed certificate and key for 127.0.0.1 into folder (openssl req).
bool makeSelfSignedCertificate(const std::string& folder, std::string& certificate,
                               std::string& key);
