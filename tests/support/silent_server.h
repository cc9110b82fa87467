#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP listener on 127.0.0.1 that accepts connections and never sends a byte: a server that
// hangs in the TLS handshake, or before its first answer. Closes every connection when stopped.
class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    int port() const { return boundPort; }
    int connections() const { return accepted; }
    // Hangs up on every client and stops listening, so that a waiting transfer ends now.
    void stop();

  private:
    int listener = -1;
    int boundPort = 0;
    std::atomic<int> accepted{0};
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<int> clients;
    std::thread worker;
};
