#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace tests::support {

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr int kPollMs = 20;
} // namespace

std::string Response(const std::string& body, const std::string& status) {
    return "HTTP/1.0 " + status +
           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

// ---- Connection ----

std::string Connection::ReadHead() {
    std::string head;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (fd_ >= 0 && head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead && !Stopping() &&
           Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        head.append(buf, static_cast<std::size_t>(n));
        onReceived_(buf, static_cast<std::size_t>(n));
    }
    onRequestLine_(head.substr(0, head.find("\r\n")));
    return head;
}

std::string Connection::ReadRequest() {
    const std::string head = ReadHead();
    return head.substr(0, head.find("\r\n"));
}

bool Connection::Send(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        if (fd_ < 0 || Stopping())
            return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool Connection::SendSlowly(const std::string& data, std::size_t pieceSize, int pauseMs) {
    pieceSize = std::max<std::size_t>(pieceSize, 1);
    for (std::size_t at = 0; at < data.size(); at += pieceSize) {
        if (!Send(data.substr(at, pieceSize)))
            return false;
        Pause(pauseMs);
    }
    return !Stopping();
}

std::size_t Connection::SendStream(const std::function<std::string()>& next, std::size_t maxBytes, int maxSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(maxSeconds);
    std::size_t sent = 0;
    while (sent < maxBytes && Clock::now() < deadline) {
        const std::string piece = next();
        if (piece.empty() || !Send(piece))
            break;
        sent += piece.size();
    }
    return sent;
}

void Connection::Pause(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!Stopping() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 5)));
}

void Connection::WaitForClose(int maxMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs < 0 ? 0 : maxMs);
    while (fd_ >= 0 && !Stopping() && (maxMs < 0 || Clock::now() < deadline)) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        onReceived_(buf, static_cast<std::size_t>(n));
    }
}

void Connection::Close() {
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

void Connection::Reset() {
    if (fd_ < 0)
        return;
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd_);
    fd_ = -1;
}

// ---- LoopbackServer ----

LoopbackServer::LoopbackServer(ConnectionHandler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (listenFd_ >= 0)
            ::close(listenFd_);
        throw std::runtime_error("loopback server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() { Stop(); }

void LoopbackServer::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

std::vector<std::string> LoopbackServer::RequestLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requestLines_;
}

std::vector<std::string> LoopbackServer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void LoopbackServer::Run() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::size_t slot = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.emplace_back();
            slot = received_.size() - 1;
        }
        const int index = connections_++;
        {
            Connection c(
                fd, stop_,
                [this, slot](const char* data, std::size_t n) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_[slot].append(data, n);
                },
                [this](const std::string& line) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requestLines_.push_back(line);
                });
            try {
                handler_(c, index);
            } catch (...) {
                // A handler that gives up closes its connection like any other.
            }
        } // closed here unless the handler closed or reset it
        ++finished_;
    }
}

// ---- ScriptedServer ----

ScriptedServer::ScriptedServer(std::vector<ScriptStep> script)
    : script_(std::move(script)), server_([this](Connection& c, int) {
          for (const ScriptStep& step : script_) {
              if (c.Stopping())
                  return;
              switch (step.kind) {
              case ScriptStep::ReadRequest: c.ReadHead(); break;
              case ScriptStep::Send: c.Send(step.Data); break;
              case ScriptStep::SendSlowly: c.SendSlowly(step.Data, step.Count, step.Millis); break;
              case ScriptStep::Sleep: c.Pause(step.Millis); break;
              case ScriptStep::Hold: c.WaitForClose(); break;
              case ScriptStep::Close: c.Close(); return;
              case ScriptStep::Reset: c.Reset(); return;
              }
          }
      }) {}

std::string ScriptedServer::FirstRequest() const {
    const auto all = Requests();
    return all.empty() ? std::string() : all.front();
}

// ---- ScriptedHttpServer ----

ScriptedHttpServer::ScriptedHttpServer() : server_([this](Connection& c, int) { Serve(c); }) {}

std::string ScriptedHttpServer::Address(const std::string& dir) const {
    std::string a = "http://127.0.0.1:" + std::to_string(Port()) + "/";
    if (!dir.empty())
        a += dir + "/";
    return a;
}

void ScriptedHttpServer::Set(const std::string& path, ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[path] = std::move(reply);
}

bool ScriptedHttpServer::Answered(const std::string& what) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(answered_.begin(), answered_.end(),
        [&](const std::string& line) { return line.find(what) != std::string::npos; });
}

void ScriptedHttpServer::Serve(Connection& c) {
    const std::string line = c.ReadRequest();
    std::string target;
    const std::size_t a = line.find(' ');
    const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b != std::string::npos)
        target = line.substr(a + 1, b - a - 1);
    // Absolute form through a proxy: keep only the path.
    if (target.rfind("http://", 0) == 0) {
        const std::size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    ScriptedReply reply{404, "Not Found", "<html>not found</html>", 0, 0};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = replies_.find(target);
        if (it != replies_.end())
            reply = it->second;
    }
    const std::string head =
        "HTTP/1.0 " + std::to_string(reply.Status) + " " + reply.Reason +
        "\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(reply.Body.size()) +
        "\r\n\r\n";
    const bool sent = c.Send(head) && (reply.PieceSize == 0 ? c.Send(reply.Body)
                                                            : c.SendSlowly(reply.Body, reply.PieceSize, reply.PauseMs));
    c.Close();
    if (sent) {
        std::lock_guard<std::mutex> lock(mutex_);
        answered_.push_back(line);
    }
}

} // namespace tests::support
