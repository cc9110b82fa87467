#include "tests/support/silent_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

SilentServer::SilentServer() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    boundPort = ntohs(address.sin_port);
    worker = std::thread([this] {
        while (!stopping) {
            pollfd waiting{listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const std::lock_guard lock(mutex);
                clients.push_back(client);
                ++accepted;
            }
        }
    });
}

void SilentServer::stop() {
    stopping = true;
    if (worker.joinable()) {
        worker.join();
    }
    const std::lock_guard lock(mutex);
    for (const int client : clients) {
        ::close(client);
    }
    clients.clear();
    if (listener >= 0) {
        ::close(listener);
        listener = -1;
    }
}

SilentServer::~SilentServer() {
    stop();
}
