// Servers on 127.0.0.1 that a test scripts, each on a port of its own. One
// core (LoopbackServer: accept connections one after another and hand each
// to a handler) and two ways to script it: a list of raw steps played on
// every connection (ScriptedServer), or an HTTP/1.0 reply per path
// (ScriptedHttpServer). Every loop is bounded in bytes and time, and each
// server stops itself in its destructor. No Qt.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tests::support {

// One accepted connection, as a handler sees it.
class Connection {
public:
    Connection(int fd, const std::atomic<bool>& stop, std::function<void(const char*, std::size_t)> onReceived,
        std::function<void(const std::string&)> onRequestLine)
        : fd_(fd), stop_(stop), onReceived_(std::move(onReceived)), onRequestLine_(std::move(onRequestLine)) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Reads the request head up to its empty line (64 KiB and 10 s at most);
    // returns its first line. ReadHead returns all of it.
    std::string ReadRequest();
    std::string ReadHead();
    // Sends everything; false when the client has gone or the server stops.
    bool Send(const std::string& data);
    // Sends data in pieces of pieceSize bytes, pauseMs apart.
    bool SendSlowly(const std::string& data, std::size_t pieceSize, int pauseMs);
    // Calls next() for more data and sends it until it returns "", the
    // client goes, maxBytes have gone out or maxSeconds have passed.
    // Returns the number of bytes sent.
    std::size_t SendStream(const std::function<std::string()>& next, std::size_t maxBytes, int maxSeconds);
    // Pauses, cut short when the server stops.
    void Pause(int ms);
    // Reads (and records) until the client closes, the server stops or
    // maxMs passes (< 0: no limit but the server's stop).
    void WaitForClose(int maxMs = -1);
    // An orderly close (FIN), with the write side shut first.
    void Close();
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();
    bool Stopping() const { return stop_.load(); }

private:
    int fd_;
    const std::atomic<bool>& stop_;
    std::function<void(const char*, std::size_t)> onReceived_;
    std::function<void(const std::string&)> onRequestLine_;
};

// handler(connection, index): index counts the connections from 0.
using ConnectionHandler = std::function<void(Connection&, int)>;

class LoopbackServer {
public:
    explicit LoopbackServer(ConnectionHandler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    int Connections() const { return connections_.load(); }
    // True once the handler of connection index has returned.
    bool Finished(int index) const { return finished_.load() > index; }
    // First lines of the requests read so far ("GET /x HTTP/1.0").
    std::vector<std::string> RequestLines() const;
    // Every byte received on each connection so far, in accept order.
    std::vector<std::string> Received() const;
    void Stop();

private:
    void Run();

    ConnectionHandler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> finished_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> requestLines_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A plain HTTP/1.0 response with a Content-Length.
std::string Response(const std::string& body, const std::string& status = "200 OK");

// One step of a raw script.
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
    static ScriptStep Slow(std::string bytes, std::size_t piece, int ms) {
        return {SendSlowly, std::move(bytes), ms, piece};
    }
    static ScriptStep Pause(int ms) { return {Sleep, {}, ms, 0}; }
    static ScriptStep HoldOpen() { return {Hold, {}, 0, 0}; }
    static ScriptStep CloseNow() { return {Close, {}, 0, 0}; }
    static ScriptStep ResetNow() { return {Reset, {}, 0, 0}; }
};

// Plays the same raw script on every connection.
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<ScriptStep> script);
    int Port() const { return server_.Port(); }
    // Bytes received on each connection so far, in accept order.
    std::vector<std::string> Requests() const { return server_.Received(); }
    std::string FirstRequest() const;
    int Connections() const { return server_.Connections(); }
    void Stop() { server_.Stop(); }

private:
    std::vector<ScriptStep> script_;
    LoopbackServer server_;
};

struct ScriptedReply {
    int Status = 200;
    std::string Reason = "OK";
    std::string Body;
    // Sent in pieces of PieceSize bytes with PauseMs between them (0: at once).
    std::size_t PieceSize = 0;
    int PauseMs = 0;
};

// An HTTP/1.0 server with a scripted reply per path; other paths get 404.
// Requests in absolute form (through a proxy) are served too, so it can
// stand in for a proxy.
class ScriptedHttpServer {
public:
    ScriptedHttpServer();

    int Port() const { return server_.Port(); }
    // "http://127.0.0.1:<port>/<dir>/" ("…/" alone when dir is empty).
    std::string Address(const std::string& dir = "") const;

    // The reply for a path ("/halvorne/verze.txt").
    void Set(const std::string& path, ScriptedReply reply);
    void Set(const std::string& path, const std::string& body) { Set(path, ScriptedReply{200, "OK", body, 0, 0}); }

    // Request lines received so far ("GET /x HTTP/1.0").
    std::vector<std::string> RequestLines() const { return server_.RequestLines(); }
    // True once a request line containing `what` has been answered.
    bool Answered(const std::string& what) const;

private:
    void Serve(Connection& c);

    mutable std::mutex mutex_;
    std::map<std::string, ScriptedReply> replies_;
    std::vector<std::string> answered_;
    LoopbackServer server_;
};

} // namespace tests::support
