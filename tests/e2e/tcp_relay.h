#pragma once
#include <atomic>
#include <mutex>
#include <string>
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

    // Once this many HTTP requests (counted by the blank line that ends their headers) have
    // gone through, whatever a client sends next is held back until release(), so that a test
    // can change what the server will answer between two requests.
    void holdAfterRequests(int requests) { holdAfter = requests; }
    // Whether a client is waiting with bytes held back.
    bool holding() const { return heldBack.load(); }
    void release() { released = true; }

  private:
    void acceptLoop();
    void pass(int client, int target);
    bool holdsClients() const;
    void countRequests(const char* data, long size, std::string& headerTail);

    int listener = -1;
    int listenPort = 0;
    int targetPort = 0;
    std::atomic<bool> cutOff{false};
    std::atomic<long long> back{0};
    std::atomic<int> holdAfter{0};
    std::atomic<int> requestsPassed{0};
    std::atomic<bool> heldBack{false};
    std::atomic<bool> released{false};
    std::mutex lock;
    std::vector<std::thread> pumps;
    std::thread acceptor;
};
