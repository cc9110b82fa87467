#include "tests/support/manifest_server.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

// Shared with the server's handler threads, which may outlive a request's test code.
struct ManifestServer::State {
    std::mutex mutex;
    std::condition_variable released;
    bool held = false;
    bool ending = false;
    std::vector<std::string> manifests;
    std::string archive;
    std::atomic<int> manifestRequests{0};
    std::atomic<int> archiveRequests{0};
};

ManifestServer::ManifestServer() : state(std::make_shared<State>()) {
    http.server().Get("/LatestVersion.ini", [s = state](const httplib::Request&,
                                                        httplib::Response& response) {
        const auto index = static_cast<std::size_t>(s->manifestRequests++);
        std::unique_lock lock(s->mutex);
        s->released.wait(lock, [&] { return !s->held || s->ending; });
        if (s->manifests.empty()) {
            response.status = 404;
            return;
        }
        response.set_content(
            index < s->manifests.size() ? s->manifests[index] : s->manifests.back(), "text/plain");
    });
    http.server().Get("/game.zip",
                      [s = state](const httplib::Request&, httplib::Response& response) {
                          ++s->archiveRequests;
                          const std::lock_guard lock(s->mutex);
                          response.set_content(s->archive, "application/zip");
                      });
    http.start();
}

ManifestServer::~ManifestServer() {
    {
        const std::lock_guard lock(state->mutex);
        state->ending = true;
    }
    state->released.notify_all();
}

void ManifestServer::serve(std::vector<std::string> manifests) {
    const std::lock_guard lock(state->mutex);
    state->manifests = std::move(manifests);
}

void ManifestServer::serveArchive(std::string bytes) {
    const std::lock_guard lock(state->mutex);
    state->archive = std::move(bytes);
}

void ManifestServer::hold() {
    const std::lock_guard lock(state->mutex);
    state->held = true;
}

void ManifestServer::release() {
    {
        const std::lock_guard lock(state->mutex);
        state->held = false;
    }
    state->released.notify_all();
}

int ManifestServer::manifestRequests() const {
    return state->manifestRequests;
}

int ManifestServer::archiveRequests() const {
    return state->archiveRequests;
}
