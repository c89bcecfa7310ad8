// TLS over the HTTP client's own socket, behind a narrow interface: the
// client drives it step by step and does all waiting itself, in its idle
// slices, exactly as it does for plain TCP. OpenSSL on Linux, SChannel on
// Windows; a build without TLS links a stand-in whose Available() is false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform::net {
class TcpSocket;
}

class EIdTlsError;

enum class TTlsStatus {
    Done,      // the step is complete (bytes moved, handshake finished)
    WantRead,  // wait until the socket is readable, then repeat the step
    WantWrite, // wait until the socket is writable, then repeat the step
    Closed,    // the server ended the TLS session properly (close notify)
    Failed,    // see SocketError() and Failure()
};

class TTlsSession {
public:
    // Whether this build can speak TLS at all.
    static bool Available();

    // Starts getting ready for secure connections (with OpenSSL: reading
    // the trust store) on another thread, so that a connection made soon
    // after does not wait for it. Optional; harmless to call more than
    // once or without connecting afterwards.
    static void Prepare();
    // Forgets the sessions kept for resumption: every later connection
    // makes a full handshake (a test's fresh start).
    static void ForgetSessions();
    // Forgets the sessions and the trust store taken from the environment:
    // the next connection reads SSL_CERT_FILE and SSL_CERT_DIR anew (a
    // test's fresh start with another authority). Not while a connection
    // is being made.
    static void ForgetTrustStore();

    // A client session over a connected socket (not owned). host is the
    // name or address the server's certificate must be issued for; the
    // chain is checked against the system's trust store: with OpenSSL its
    // conventions (SSL_CERT_FILE, SSL_CERT_DIR), taken once per process by
    // the first session or by Prepare (TrustStore.h); on Windows the Windows certificate
    // store. A session that ended cleanly (Shutdown) is resumed by the
    // next one to the same host and port. Throws EIdTlsError when no
    // session can be set up.
    //
    // A session of this connection's server that one more connection to it
    // may resume while this one is still open (a connection made ahead of
    // its request, TIdHTTP::ExpectNext): null while there is none, e.g.
    // before the first data of TLS 1.3, whose server sends it after the
    // handshake, or in a build that resumes nothing.
    struct Resumption;
    std::shared_ptr<Resumption> ResumableSession() const;
    // resume, when set, is offered instead of a session kept for the server.
    TTlsSession(platform::net::TcpSocket& socket, const std::string& host, int port,
        const std::shared_ptr<Resumption>& resume = nullptr);
    ~TTlsSession();
    TTlsSession(const TTlsSession&) = delete;
    TTlsSession& operator=(const TTlsSession&) = delete;

    TTlsStatus Handshake();
    // Decrypted bytes that are there now, up to capacity.
    TTlsStatus Read(uint8_t* buffer, std::size_t capacity, std::size_t& received);
    TTlsStatus Write(const uint8_t* data, std::size_t length, std::size_t& sent);
    // Sends the close notification if the socket takes it now; errors are
    // ignored, the socket is closed next anyway.
    void Shutdown();

    // Whether the handshake resumed an earlier session.
    bool Resumed() const;

    // After Failed: the socket operation's error (Windows Sockets
    // numbering), or 0 when TLS itself failed.
    int SocketError() const;
    // After Failed with SocketError() 0: what went wrong, ready to throw.
    EIdTlsError Failure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
