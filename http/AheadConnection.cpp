#include "http/AheadConnection.h"

namespace http {

namespace {

// How often a wait looks whether it is to stop: a Storno or a request for
// another address waits at most this long for the thread.
constexpr int kStopCheckMs = 20;

} // namespace

AheadConnection::AheadConnection(std::string host, int port, uint32_t address,
    std::shared_ptr<TTlsSession::Resumption> resume, std::chrono::milliseconds limit)
    : host_(std::move(host)), port_(port), address_(address), resume_(std::move(resume)),
      deadline_(std::chrono::steady_clock::now() + limit), thread_([this] { Run(); }) {}

AheadConnection::~AheadConnection() {
    stop_ = true;
    thread_.Join();
    // result_ closes here, on the caller's thread: a session's destruction
    // only frees it, and the server sees the connection end unused.
}

bool AheadConnection::WaitEnded(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return done_; });
}

AheadConnection::Taken AheadConnection::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!done_)
        return {};
    return std::move(result_);
}

bool AheadConnection::WaitFor(bool forWrite) {
    for (;;) {
        if (stop_ || std::chrono::steady_clock::now() >= deadline_)
            return false;
        bool ready = false;
        if (result_.Socket->WaitReady(forWrite, kStopCheckMs, ready) != 0)
            return false;
        if (ready)
            return true;
    }
}

void AheadConnection::Run() {
    // result_ is this thread's alone until done_ is set under the lock.
    bool connected = false;
    try {
        result_.Socket = std::make_unique<platform::net::TcpSocket>();
        platform::net::TcpSocket& socket = *result_.Socket;
        bool inProgress = false;
        if (socket.Open() == 0 && socket.BindAny() == 0 &&
            socket.StartConnect(address_, static_cast<uint16_t>(port_), inProgress) == 0 &&
            (!inProgress || (WaitFor(true) && socket.FinishConnect() == 0))) {
            result_.Tls = std::make_unique<TTlsSession>(socket, host_, port_, resume_);
            for (;;) {
                if (stop_)
                    break;
                const TTlsStatus status = result_.Tls->Handshake();
                if (status == TTlsStatus::Done) {
                    connected = true;
                    break;
                }
                if (status != TTlsStatus::WantRead && status != TTlsStatus::WantWrite)
                    break;
                if (!WaitFor(status == TTlsStatus::WantWrite))
                    break;
            }
        }
    } catch (...) {
        // No session could be set up (EIdTlsError), or no memory: the
        // request connects itself, and meets the problem there if it lasts.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected) {
        result_.Tls.reset();
        result_.Socket.reset();
    }
    done_ = true;
    ended_.notify_all();
}

} // namespace http
