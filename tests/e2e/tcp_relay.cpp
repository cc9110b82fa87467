#include "tests/e2e/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Polling stops this often to look whether the relay was cut.
constexpr int pollMilliseconds = 20;

} // namespace

TcpRelay::TcpRelay(int target) : targetPort(target) {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen for the relay");
    }
    listenPort = ntohs(address.sin_port);
    acceptor = std::thread([this] { acceptLoop(); });
}

TcpRelay::~TcpRelay() {
    cut();
}

void TcpRelay::cut() {
    cutOff = true;
    if (acceptor.joinable()) {
        acceptor.join();
    }
    std::lock_guard<std::mutex> guard(lock);
    for (std::thread& pump : pumps) {
        pump.join();
    }
    pumps.clear();
}

std::string TcpRelay::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(listenPort) + path;
}

void TcpRelay::hold() {
    held = true;
}

void TcpRelay::release() {
    held = false;
    released = true;
}

void TcpRelay::acceptLoop() {
    while (!cutOff) {
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, pollMilliseconds) <= 0) {
            continue;
        }
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const int target = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(targetPort);
        if (target < 0 ||
            connect(target, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(client);
            if (target >= 0) {
                close(target);
            }
            continue;
        }
        std::lock_guard<std::mutex> guard(lock);
        ++passed;
        pumps.emplace_back([this, client, target] { pass(client, target); });
    }
    close(listener); // from now on the port refuses
}

bool TcpRelay::holdsClients() const {
    return holdAfter > 0 && requestsPassed >= holdAfter && !released;
}

void TcpRelay::countRequests(const char* data, long size, std::string& headerTail) {
    headerTail.append(data, static_cast<std::size_t>(size));
    for (auto end = headerTail.find("\r\n\r\n"); end != std::string::npos;
         end = headerTail.find("\r\n\r\n")) {
        ++requestsPassed;
        headerTail.erase(0, end + 4);
    }
    if (headerTail.size() > 3) {
        headerTail.erase(0, headerTail.size() - 3);
    }
}

void TcpRelay::pass(int client, int target) {
    char chunk[16 * 1024];
    std::string headerTail;
    pollfd ends[2] = {{client, POLLIN, 0}, {target, POLLIN, 0}};
    while (!cutOff) {
        // While held, what the target sends waits in its socket (and a hang-up with it).
        ends[1].fd = held ? -target - 1 : target;
        if (poll(ends, 2, pollMilliseconds) <= 0) {
            continue;
        }
        bool closed = false;
        for (int i = 0; i < 2; ++i) {
            if (ends[i].fd < 0 || (ends[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            if (i == 0 && holdsClients()) {
                heldBack = true;
                usleep(pollMilliseconds * 1000);
                continue;
            }
            const ssize_t got = read(ends[i].fd, chunk, sizeof chunk);
            const int to = i == 0 ? target : client;
            if (got <= 0 || write(to, chunk, static_cast<std::size_t>(got)) != got) {
                closed = true;
                break;
            }
            if (i == 0) {
                countRequests(chunk, got, headerTail);
            } else {
                back += got;
            }
        }
        if (closed) {
            break;
        }
    }
    close(client);
    close(target);
}
