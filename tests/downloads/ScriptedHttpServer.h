// A small HTTP/1.0 server on a free loopback port for the download tests:
// each path has a scripted reply (status, body, pacing), requests are
// recorded. Requests in absolute form (through a proxy) are served too, so
// the same server can stand in for a proxy.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct ScriptedReply {
    int Status = 200;
    std::string Reason = "OK";
    std::string Body;
    // Sent in pieces of PieceSize bytes with PauseMs between them (0: at once).
    std::size_t PieceSize = 0;
    int PauseMs = 0;
};

class ScriptedHttpServer {
public:
    ScriptedHttpServer();  // listens on 127.0.0.1, a free port
    ~ScriptedHttpServer(); // stops and joins

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>/<dir>" with a trailing slash when dir is not empty.
    std::string Address(const std::string& dir = "") const;

    // Replies for a path ("/halvorne/verze.txt"); others get 404 Not Found.
    void Set(const std::string& path, ScriptedReply reply);
    void Set(const std::string& path, const std::string& body) { Set(path, ScriptedReply{200, "OK", body}); }

    // Request lines received so far ("GET /x HTTP/1.0").
    std::vector<std::string> RequestLines() const;

private:
    void Run();
    void Serve(int fd);

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    std::map<std::string, ScriptedReply> replies_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A loopback port with nothing listening on it (bound, then released).
int UnusedLoopbackPort();

} // namespace testsupport
