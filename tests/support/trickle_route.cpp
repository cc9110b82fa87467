#include "tests/support/trickle_route.h"

#include <thread>

void serveTrickle(httplib::Server& server, const std::string& path, const std::string& contentType,
                  int count, std::chrono::milliseconds interval) {
    server.Get(
        path, [contentType, count, interval](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                contentType, [count, interval](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= static_cast<std::size_t>(count)) {
                        sink.done();
                        return true;
                    }
                    std::this_thread::sleep_for(interval);
                    return sink.write("#", 1);
                });
        });
}
