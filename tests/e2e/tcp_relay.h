#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Passes TCP connections from a free port on 127.0.0.1 to another port there, counting the bytes
// sent back, until cut: then every connection is dropped and the port refuses, as when a network
// goes away in the middle of a transfer. What comes back can be held back for a while, so that
// a transfer lasts as long as a test needs, however fast the machine.
class TcpRelay {
  public:
    explicit TcpRelay(int targetPort);
    ~TcpRelay();
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    int port() const { return listenPort; }
    // http://127.0.0.1:port + path (path starts with "/").
    std::string url(const std::string& path) const;
    // Bytes passed from the target to the clients so far (headers included).
    long long bytesBack() const { return back.load(); }
    // Connections passed on so far.
    int connections() const { return passed.load(); }
    void cut();
    // Passes nothing more from the target to the clients until release().
    void hold();
    void release();

    // Once this many HTTP requests (counted by the blank line that ends their headers) have
    // gone through, whatever a client sends next is held back until release(), so that a test
    // can change what the server will answer between two requests.
    void holdAfterRequests(int requests) { holdAfter = requests; }
    // Whether a client is waiting with bytes held back.
    bool holding() const { return heldBack.load(); }

  private:
    void acceptLoop();
    void pass(int client, int target);
    bool holdsClients() const;
    void countRequests(const char* data, long size, std::string& headerTail);

    int listener = -1;
    int listenPort = 0;
    int targetPort = 0;
    std::atomic<bool> cutOff{false};
    std::atomic<bool> held{false};
    std::atomic<long long> back{0};
    std::atomic<int> passed{0};
    std::atomic<int> holdAfter{0};
    std::atomic<int> requestsPassed{0};
    std::atomic<bool> heldBack{false};
    std::atomic<bool> released{false};
    std::mutex lock;
    std::vector<std::thread> pumps;
    std::thread acceptor;
};
