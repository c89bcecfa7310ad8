#include "HostileServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace hostile {

using Clock = std::chrono::steady_clock;

std::string Response(const std::string& body, const std::string& status) {
    return "HTTP/1.0 " + status + "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Connection::ReadRequest() {
    std::string head;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 64 * 1024 && !Stopping() &&
           Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    std::string line = head.substr(0, head.find("\r\n"));
    if (onRequest_)
        onRequest_(line);
    return line;
}

bool Connection::Send(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        if (Stopping())
            return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0)
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

bool Connection::SendSlowly(const std::string& data, int intervalMs) {
    for (char c : data) {
        if (!Send(std::string(1, c)))
            return false;
        for (int waited = 0; waited < intervalMs && !Stopping(); waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

void Connection::WaitForClose(int maxMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(maxMs);
    while (!Stopping() && Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[4096];
        if (::recv(fd_, buf, sizeof buf, 0) <= 0)
            return;
    }
}

void Connection::Close() {
    if (fd_ >= 0)
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

Server::Server(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 8) != 0)
        throw std::runtime_error("hostile server: cannot listen on 127.0.0.1");
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

Server::~Server() { Stop(); }

void Server::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

bool Server::Finished(int index) const { return finished_.load() > index; }

std::vector<std::string> Server::RequestLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void Server::Run() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int index = connections_++;
        {
            Connection c(fd, stop_, [this](const std::string& line) {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(line);
            });
            try {
                handler_(c, index);
            } catch (...) {
            }
        } // closed here unless the handler closed or reset it
        ++finished_;
    }
}

} // namespace hostile
