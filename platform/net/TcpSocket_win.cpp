// TCP sockets on Windows Sockets. Every error number is the system's own,
// from WSAGetLastError, so nothing is translated here.
#include "platform/net/TcpSocket.h"

#include "platform/net/SocketErrors.h"
#include "platform/net/SystemResolve.h"

#include <climits>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform::net {

namespace {

// The socket layer is started once, by the first socket of the process, and
// stays up until the process ends, as the client that uses it does.
int StartSocketLayer() {
    static const int result = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

SOCKET AsSocket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

// send() and recv() count in int.
int ClampedLength(std::size_t n) { return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

} // namespace

int SystemResolve(const std::string& host, uint32_t& out) {
    if (const int rc = StartSocketLayer(); rc != 0)
        return rc;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    // Windows returns a Windows Sockets code here (11001 for an unknown name).
    if (const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result); rc != 0)
        return rc;
    int code = kWsaHOST_NOT_FOUND;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            out = reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            code = 0;
            break;
        }
    }
    ::freeaddrinfo(result);
    return code;
}

TcpSocket::~TcpSocket() { Close(); }

int TcpSocket::Open() {
    if (fd_ >= 0)
        return 10056;
    if (const int rc = StartSocketLayer(); rc != 0)
        return rc;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return ::WSAGetLastError();
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        const int code = ::WSAGetLastError();
        ::closesocket(s);
        return code;
    }
    // As on POSIX: the small writes of a handshake and a request must not
    // wait for the server's delayed acknowledgement (200 ms here).
    const BOOL noDelay = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    fd_ = static_cast<std::intptr_t>(s);
    return 0;
}

int TcpSocket::BindAny() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(AsSocket(fd_), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return ::WSAGetLastError();
    return 0;
}

int TcpSocket::StartConnect(uint32_t address, uint16_t port, bool& inProgress) {
    inProgress = false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    peer.sin_port = htons(port);
    if (::connect(AsSocket(fd_), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0)
        return 0;
    const int code = ::WSAGetLastError();
    // A non-blocking connect reports "would block" where POSIX says "in
    // progress".
    if (code == WSAEWOULDBLOCK || code == WSAEINPROGRESS) {
        inProgress = true;
        return 0;
    }
    return code;
}

int TcpSocket::FinishConnect() {
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(AsSocket(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return ::WSAGetLastError();
    return err;
}

int TcpSocket::WaitReady(bool forWrite, int timeoutMs, bool& ready) {
    ready = false;
    const SOCKET s = AsSocket(fd_);
    fd_set wanted;
    fd_set failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(s, &wanted);
    // A connect that fails shows in the exception set, never as writable.
    FD_SET(s, &failed);
    if (timeoutMs < 0)
        timeoutMs = 0;
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int rc = ::select(0, forWrite ? nullptr : &wanted, forWrite ? &wanted : nullptr, &failed, &limit);
    if (rc == SOCKET_ERROR) {
        const int code = ::WSAGetLastError();
        return code == WSAEINTR ? 0 : code;
    }
    ready = rc > 0;
    return 0;
}

int TcpSocket::Send(const uint8_t* data, std::size_t length, std::size_t& sent) {
    sent = 0;
    const int n = ::send(AsSocket(fd_), reinterpret_cast<const char*>(data), ClampedLength(length), 0);
    if (n != SOCKET_ERROR) {
        sent = static_cast<std::size_t>(n);
        return 0;
    }
    const int code = ::WSAGetLastError();
    return code == WSAEWOULDBLOCK ? 0 : code;
}

int TcpSocket::Receive(uint8_t* buffer, std::size_t capacity, std::size_t& received, bool& wouldBlock) {
    received = 0;
    wouldBlock = false;
    const int n = ::recv(AsSocket(fd_), reinterpret_cast<char*>(buffer), ClampedLength(capacity), 0);
    if (n != SOCKET_ERROR) {
        received = static_cast<std::size_t>(n);
        return 0;
    }
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
        wouldBlock = true;
        return 0;
    }
    return code;
}

void TcpSocket::ShutdownSend() {
    if (fd_ >= 0)
        ::shutdown(AsSocket(fd_), SD_SEND);
}

void TcpSocket::Close() {
    if (fd_ >= 0) {
        ::closesocket(AsSocket(fd_));
        fd_ = -1;
    }
}

} // namespace platform::net
