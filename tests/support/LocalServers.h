// Servers on loopback for tests: nginx serving a folder, tinyproxy as an
// HTTP proxy, and a scriptable raw TCP server. Each picks a free port on
// 127.0.0.1, runs from a private temporary folder and stops itself in its
// destructor. No Qt.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsrv {

// A port on 127.0.0.1 that was free a moment ago (bound to port 0 and
// released); callers retry when it was taken in between.
int PickFreePort();

// Makes a fresh private folder; removed by RemoveTree.
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);
// Writes bytes to dir/name, world-readable (nginx workers run as nobody).
void WriteFile(const std::string& path, const std::string& bytes);

// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForPort(int port, int timeoutMs);

// What an nginx serves besides plain HTTP.
struct NginxOptions {
    // Both set: HTTPS with this certificate and key (PEM) instead of HTTP.
    std::string CertFile;
    std::string KeyFile;
    // nginx's limit_rate for every response ("64k"); empty: no limit.
    std::string Rate;
};

// nginx serving rootDir (made world-readable) at http://127.0.0.1:Port()/
// (https:// with a certificate in the options).
class NginxServer {
public:
    explicit NginxServer(const std::string& rootDir, const NginxOptions& options = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;
    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    const std::string& Error() const { return error_; }

private:
    std::string prefix_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string error_;
};

// tinyproxy on 127.0.0.1:Port(), allowing 127.0.0.1 only.
class TinyProxyServer {
public:
    TinyProxyServer();
    ~TinyProxyServer();
    TinyProxyServer(const TinyProxyServer&) = delete;
    TinyProxyServer& operator=(const TinyProxyServer&) = delete;
    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    const std::string& Error() const { return error_; }

private:
    std::string prefix_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string error_;
};

// A TCP server on 127.0.0.1 that accepts connections one after another
// and plays the same script on each.
struct ScriptStep {
    enum Kind {
        ReadRequest, // read until the empty line that ends a request head
        Send,        // send Data
        SendSlowly,  // send Data in pieces of Count bytes, Millis apart
        Sleep,       // pause Millis
        Hold,        // keep the connection open until the client closes it or Stop()
        Close,       // close (orderly)
        Reset,       // close with a reset (RST)
    };
    Kind kind;
    std::string Data;
    int Millis = 0;
    std::size_t Count = 0;

    static ScriptStep Read() { return {ReadRequest, {}, 0, 0}; }
    static ScriptStep Out(std::string bytes) { return {Send, std::move(bytes), 0, 0}; }
    static ScriptStep Slow(std::string bytes, std::size_t piece, int ms) { return {SendSlowly, std::move(bytes), ms, piece}; }
    static ScriptStep Pause(int ms) { return {Sleep, {}, ms, 0}; }
    static ScriptStep HoldOpen() { return {Hold, {}, 0, 0}; }
    static ScriptStep CloseNow() { return {Close, {}, 0, 0}; }
    static ScriptStep ResetNow() { return {Reset, {}, 0, 0}; }
};

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<ScriptStep> script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    // Bytes received on each connection so far, in accept order.
    std::vector<std::string> Requests() const;
    std::string FirstRequest() const;
    int Connections() const { return connections_.load(); }
    void Stop();

private:
    void Run();
    void Serve(int fd);
    bool StopRequested() const { return stop_.load(); }

    std::vector<ScriptStep> script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace testsrv
