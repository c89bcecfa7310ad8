// The stand-in for builds without TLS: every "https" address fails before
// anything is sent.
#include "http/TlsSession.h"

#include "http/IdExceptions.h"

struct TTlsSession::Impl {};

bool TTlsSession::Available() { return false; }
void TTlsSession::Prepare() {}
void TTlsSession::ForgetSessions() {}

void TTlsSession::ForgetTrustStore() {}

struct TTlsSession::Resumption {};

TTlsSession::TTlsSession(platform::net::TcpSocket&, const std::string&, int, const std::shared_ptr<Resumption>&) {
    throw EIdTlsError(0, std::string(kTlsErrorPrefix) + "this build of the program has no TLS support.");
}

TTlsSession::~TTlsSession() = default;
TTlsStatus TTlsSession::Handshake() { return TTlsStatus::Failed; }
TTlsStatus TTlsSession::Read(uint8_t*, std::size_t, std::size_t& received) {
    received = 0;
    return TTlsStatus::Failed;
}
TTlsStatus TTlsSession::Write(const uint8_t*, std::size_t, std::size_t& sent) {
    sent = 0;
    return TTlsStatus::Failed;
}
void TTlsSession::Shutdown() {}
bool TTlsSession::Resumed() const { return false; }

std::shared_ptr<TTlsSession::Resumption> TTlsSession::ResumableSession() const { return nullptr; }
int TTlsSession::SocketError() const { return 0; }
EIdTlsError TTlsSession::Failure() const {
    return EIdTlsError(0, std::string(kTlsErrorPrefix) + "this build of the program has no TLS support.");
}
