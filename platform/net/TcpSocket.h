// A non-blocking IPv4 TCP socket behind a narrow interface. Every call
// returns 0 or a Windows Sockets error code (see SocketErrors.h); waiting
// is done by the caller in slices with WaitReady, so a GUI can be served
// between slices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform::net {

// Resolves host to an IPv4 address in network byte order. "LOCALHOST" (any
// case) and dotted quads are answered without a lookup. Returns 0 or a
// Windows Sockets code (11001 for a name that does not exist).
int ResolveHost(const std::string& host, uint32_t& addressOut);

// Whether host is an IPv4 address written as four dot-separated decimal
// numbers of 0 to 255 (nothing else); addressOut in network byte order.
bool ParseDottedQuad(const std::string& host, uint32_t& addressOut);

// Replaces the name lookup behind ResolveHost (not the literal forms) so
// that tests never send a query to a real name server; an empty function
// restores the system resolver.
using Resolver = std::function<int(const std::string& host, uint32_t& addressOut)>;
void SetResolverForTesting(Resolver resolver);

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The descriptor (POSIX) or SOCKET (Windows); -1 when not open.
    std::intptr_t Handle() const { return fd_; }

    // Creates the socket in non-blocking mode.
    int Open();
    // Binds to any local address, port 0.
    int BindAny();
    // Starts connecting; inProgress tells that WaitReady(forWrite) and
    // FinishConnect must follow.
    int StartConnect(uint32_t address, uint16_t port, bool& inProgress);
    // The result of a connect that was in progress.
    int FinishConnect();
    // Waits up to timeoutMs for readability (or writability); ready tells
    // whether the socket became ready (also on hang-up or error, which the
    // next operation then reports).
    int WaitReady(bool forWrite, int timeoutMs, bool& ready);
    // Sends what the socket takes now; sent may be 0 when it would block.
    int Send(const uint8_t* data, std::size_t length, std::size_t& sent);
    // Receives what is waiting. received 0 with wouldBlock false means the
    // peer closed the connection.
    int Receive(uint8_t* buffer, std::size_t capacity, std::size_t& received, bool& wouldBlock);
    // Shuts the sending side down (errors ignored: the socket is closed next).
    void ShutdownSend();
    void Close();

private:
    std::intptr_t fd_ = -1;
};

} // namespace platform::net
