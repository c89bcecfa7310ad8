#include "ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {
namespace {

int BindLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

bool SendAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

} // namespace

int UnusedLoopbackPort() {
    int port = 0;
    int fd = BindLoopback(port);
    ::close(fd);
    return port;
}

ScriptedHttpServer::ScriptedHttpServer() {
    listenFd_ = BindLoopback(port_);
    if (::listen(listenFd_, 16) != 0)
        throw std::runtime_error("listen failed");
    thread_ = std::thread([this] { Run(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
}

std::string ScriptedHttpServer::Address(const std::string& dir) const {
    std::string a = "http://127.0.0.1:" + std::to_string(port_) + "/";
    if (!dir.empty())
        a += dir + "/";
    return a;
}

void ScriptedHttpServer::Set(const std::string& path, ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mu_);
    replies_[path] = std::move(reply);
}

std::vector<std::string> ScriptedHttpServer::RequestLines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

void ScriptedHttpServer::Run() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Serve(fd);
        ::close(fd);
    }
}

void ScriptedHttpServer::Serve(int fd) {
    // Read the request head (bounded; a test client sends a few lines).
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (stop_ || std::chrono::steady_clock::now() > deadline)
            return;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[4096];
        ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r <= 0)
            return;
        head.append(buf, static_cast<std::size_t>(r));
    }
    const std::string line = head.substr(0, head.find("\r\n"));
    std::string target;
    {
        std::size_t a = line.find(' ');
        std::size_t b = line.find(' ', a + 1);
        if (a != std::string::npos && b != std::string::npos)
            target = line.substr(a + 1, b - a - 1);
    }
    // Absolute form through a proxy: keep only the path.
    if (target.rfind("http://", 0) == 0) {
        std::size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    ScriptedReply reply{404, "Not Found", "<html>not found</html>"};
    {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(line);
        auto it = replies_.find(target);
        if (it != replies_.end())
            reply = it->second;
    }
    std::string out = "HTTP/1.0 " + std::to_string(reply.Status) + " " + reply.Reason + "\r\n"
                      "Content-Type: application/octet-stream\r\n"
                      "Content-Length: " + std::to_string(reply.Body.size()) + "\r\n\r\n";
    if (!SendAll(fd, out.data(), out.size()))
        return;
    if (reply.PieceSize == 0) {
        SendAll(fd, reply.Body.data(), reply.Body.size());
        return;
    }
    for (std::size_t off = 0; off < reply.Body.size() && !stop_; off += reply.PieceSize) {
        std::size_t n = std::min(reply.PieceSize, reply.Body.size() - off);
        if (!SendAll(fd, reply.Body.data() + off, n))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.PauseMs));
    }
}

} // namespace testsupport
