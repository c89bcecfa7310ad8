#include "platform/net/TcpSocket.h"

#include "platform/net/SocketErrors.h"
#include "platform/net/SystemResolve.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::net {

int SystemResolve(const std::string& host, uint32_t& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    errno = 0;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    int saved = errno;
    if (rc != 0)
        return WsaCodeFromLookup(rc, saved);
    int code = kWsaHOST_NOT_FOUND;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            out = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            code = 0;
            break;
        }
    }
    freeaddrinfo(result);
    return code;
}

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Open() {
    if (fd_ >= 0)
        return 10056;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return WsaCodeFromErrno(errno);
    // A request goes out as a few small writes (a TLS session's last
    // handshake message, then the request). Nagle's algorithm would hold
    // the second until the server acknowledges the first, which a server
    // with nothing to say yet delays by 40 ms. Best effort: without it the
    // connection still works, only slower.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    fd_ = fd;
    return 0;
}

int TcpSocket::BindAny() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return WsaCodeFromErrno(errno);
    return 0;
}

int TcpSocket::StartConnect(uint32_t address, uint16_t port, bool& inProgress) {
    inProgress = false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(port);
    for (;;) {
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EINPROGRESS) {
            inProgress = true;
            return 0;
        }
        return WsaCodeFromErrno(errno);
    }
}

int TcpSocket::FinishConnect() {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return WsaCodeFromErrno(errno);
    return err == 0 ? 0 : WsaCodeFromErrno(err);
}

int TcpSocket::WaitReady(bool forWrite, int timeoutMs, bool& ready) {
    ready = false;
    pollfd p{};
    p.fd = fd_;
    p.events = forWrite ? POLLOUT : POLLIN;
    int rc = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (rc < 0) {
        if (errno == EINTR)
            return 0; // a slice cut short; the caller waits again
        return WsaCodeFromErrno(errno);
    }
    ready = rc > 0;
    return 0;
}

int TcpSocket::Send(const uint8_t* data, std::size_t length, std::size_t& sent) {
    sent = 0;
    for (;;) {
        ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL);
        if (n >= 0) {
            sent = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return WsaCodeFromErrno(errno);
    }
}

int TcpSocket::Receive(uint8_t* buffer, std::size_t capacity, std::size_t& received, bool& wouldBlock) {
    received = 0;
    wouldBlock = false;
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, capacity, 0);
        if (n >= 0) {
            received = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wouldBlock = true;
            return 0;
        }
        return WsaCodeFromErrno(errno);
    }
}

void TcpSocket::ShutdownSend() {
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_WR);
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

} // namespace platform::net
