// A loopback HTTP peer that misbehaves on purpose: each accepted connection
// is handed to a function that may send endless headers, stall, trickle
// bytes or reset the connection. Every loop here is bounded in bytes and
// time, and the server stops itself in its destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostile {

class Connection {
public:
    Connection(int fd, const std::atomic<bool>& stop, std::function<void(const std::string&)> onRequest)
        : fd_(fd), stop_(stop), onRequest_(std::move(onRequest)) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // Reads the request head (up to its empty line, or 5 s); returns its
    // first line.
    std::string ReadRequest();
    // Sends everything; false when the client has gone or the server stops.
    bool Send(const std::string& data);
    // Sends data one byte every intervalMs.
    bool SendSlowly(const std::string& data, int intervalMs);
    // Calls next() for more data and sends it until it returns "", the
    // client goes, maxBytes have gone out or maxSeconds have passed.
    // Returns the number of bytes sent.
    std::size_t SendStream(const std::function<std::string()>& next, std::size_t maxBytes, int maxSeconds);
    // Waits until the client closes (or maxMs passes).
    void WaitForClose(int maxMs);
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();
    // An orderly close (FIN); what the handler has not done itself.
    void Close();
    bool Stopping() const { return stop_.load(); }

private:
    int fd_;
    const std::atomic<bool>& stop_;
    std::function<void(const std::string&)> onRequest_;
};

// handler(connection, index): index counts the connections from 0.
using Handler = std::function<void(Connection&, int)>;

class Server {
public:
    explicit Server(Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Port() const { return port_; }
    int Connections() const { return connections_.load(); }
    // True once the handler of connection index has returned.
    bool Finished(int index) const;
    std::vector<std::string> RequestLines() const;
    void Stop();

private:
    void Run();

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> finished_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A plain response with a Content-Length.
std::string Response(const std::string& body, const std::string& status = "200 OK");

} // namespace hostile
