#pragma once
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// Passes TCP connections from a free port on 127.0.0.1 to another port there, counting the bytes
// sent back, until cut: then every connection is dropped and the port refuses, as when a network
// goes away in the middle of a transfer.
class TcpRelay {
  public:
    explicit TcpRelay(int targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return listenPort; }
    // Bytes passed from the target to the clients so far (headers included).
    long long bytesBack() const { return back.load(); }
    void cut();

  private:
    void acceptLoop();
    void pass(int client, int target);

    int listener = -1;
    int listenPort = 0;
    int targetPort = 0;
    std::atomic<bool> cutOff{false};
    std::atomic<long long> back{0};
    std::mutex lock;
    std::vector<std::thread> pumps;
    std::thread acceptor;
};
