#pragma once
#include "tests/support/http_test_server.h"

#include <memory>
#include <string>
#include <vector>

// A real HTTP server on loopback for the launcher to check against, listening from its
// construction on: /LatestVersion.ini hands out the manifests given to serve(), one per request
// and the last one again after that (404 before any), and /game.zip the archive given to
// serveArchive(). It counts the requests of both. The manifest's answers can be held back until
// the test lets them go: a check that takes as long as the test needs, however fast the machine.
class ManifestServer {
  public:
    ManifestServer();
    // Lets held answers go, so that the server can stop.
    ~ManifestServer();
    ManifestServer(const ManifestServer&) = delete;
    ManifestServer& operator=(const ManifestServer&) = delete;

    std::string url(const std::string& path) const { return http.url(path); }
    std::string manifestUrl() const { return url("/LatestVersion.ini"); }

    void serve(std::vector<std::string> manifests);
    void serve(const std::string& manifest) { serve(std::vector<std::string>{manifest}); }
    void serveArchive(std::string bytes);

    // From now on the manifest's answers wait (the request is counted at once) until release().
    void hold();
    void release();

    int manifestRequests() const;
    int archiveRequests() const;

  private:
    struct State;
    std::shared_ptr<State> state;
    // Last, so that the server stops before anything its handlers use is gone.
    HttpTestServer http;
};
