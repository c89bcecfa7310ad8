// A secure connection made on a thread of its own while the client still
// reads the answer to the request before it: the next request finds it
// ready and sends at once. A run's signed version file is followed by its
// signature from the same server, and the second connection, resumed from
// the first one's session, then costs no wait of its own.
//
// It is made to one address and port, resuming one session, within a
// bounded time, and never sends a request. Whatever goes wrong on the way
// is not reported: the request that would have used it makes its own
// connection instead and reports that one's failure as usual.
#pragma once

#include "http/TlsSession.h"
#include "platform/net/TcpSocket.h"
#include "platform/threads/HelperThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace http {

class AheadConnection {
public:
    // address in network byte order; host is what the certificate is
    // checked against. Starts at once; throws std::system_error when no
    // thread can be made.
    AheadConnection(std::string host, int port, uint32_t address, std::shared_ptr<TTlsSession::Resumption> resume,
        std::chrono::milliseconds limit);
    // Stops the attempt (within one wait slice) and closes the connection.
    ~AheadConnection();
    AheadConnection(const AheadConnection&) = delete;
    AheadConnection& operator=(const AheadConnection&) = delete;

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }

    // Waits up to timeout for the attempt to end; whether it has.
    bool WaitEnded(std::chrono::milliseconds timeout);
    // After the attempt ended with a connection: the socket and its TLS
    // session, handshake done, for the caller to keep; both null when the
    // attempt failed or was taken already.
    struct Taken {
        std::unique_ptr<platform::net::TcpSocket> Socket;
        std::unique_ptr<TTlsSession> Tls;
    };
    Taken Take();

private:
    void Run();
    // Waits for the socket in short slices, to notice a stop; false when
    // stopped, out of time, or the socket failed.
    bool WaitFor(bool forWrite);

    const std::string host_;
    const int port_;
    const uint32_t address_;
    const std::shared_ptr<TTlsSession::Resumption> resume_;
    const std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> stop_{false};

    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false; // guarded by mutex_
    Taken result_;      // written by the thread before done_, read after

    platform::threads::HelperThread thread_; // last: starts once the rest is set
};

} // namespace http
