// TLS with OpenSSL. The session reads and writes through a BIO of our own
// that calls the client's socket layer, so every socket failure keeps its
// Windows Sockets code and message, and nothing here ever blocks.
#include "http/TlsSession.h"

#include "http/IdExceptions.h"
#include "platform/net/TcpSocket.h"

#include "http/OpenSslLibrary.h"
#include "http/TrustStore.h"
#include "platform/threads/HelperThread.h"

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

using http::openssl::Fn;

namespace {

// Older protocol versions have known weaknesses; servers that offer
// nothing newer are refused.
constexpr int kMinimumVersion = TLS1_2_VERSION;
// Reading ahead in big pieces saves system calls on large downloads.
constexpr std::size_t kReadBufferSize = 64 * 1024;

struct SocketLink {
    platform::net::TcpSocket* socket = nullptr;
    int error = 0; // the last socket failure, Windows Sockets numbering
};

SocketLink* LinkOf(BIO* bio) { return static_cast<SocketLink*>(Fn().BIO_get_data(bio)); }

int LinkRead(BIO* bio, char* out, std::size_t size, std::size_t* readBytes) {
    Fn().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    SocketLink* link = LinkOf(bio);
    std::size_t got = 0;
    bool wouldBlock = false;
    const int rc = link->socket->Receive(reinterpret_cast<uint8_t*>(out), size, got, wouldBlock);
    if (rc != 0) {
        link->error = rc;
        return 0;
    }
    if (wouldBlock) {
        Fn().BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
        return 0;
    }
    if (got == 0)
        return 0; // the peer closed; OpenSSL tells a clean end from a cut one
    *readBytes = got;
    return 1;
}

int LinkWrite(BIO* bio, const char* data, std::size_t size, std::size_t* written) {
    Fn().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    SocketLink* link = LinkOf(bio);
    std::size_t sent = 0;
    const int rc = link->socket->Send(reinterpret_cast<const uint8_t*>(data), size, sent);
    if (rc != 0) {
        link->error = rc;
        return 0;
    }
    if (sent == 0) {
        Fn().BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
        return 0;
    }
    *written = sent;
    return 1;
}

long LinkControl(BIO*, int command, long, void*) {
    // Bytes go straight to the socket: there is nothing to flush.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* LinkMethods() {
    static BIO_METHOD* methods = [] {
        BIO_METHOD* m = Fn().BIO_meth_new(Fn().BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "halvorne socket");
        Fn().BIO_meth_set_read_ex(m, LinkRead);
        Fn().BIO_meth_set_write_ex(m, LinkWrite);
        Fn().BIO_meth_set_ctrl(m, LinkControl);
        return m;
    }();
    return methods;
}

std::string ReasonOf(unsigned long error) {
    const char* reason = Fn().ERR_reason_error_string(error);
    return reason ? reason : "unknown error " + std::to_string(ERR_GET_REASON(error));
}

EIdTlsError SetupFailure(const char* what) {
    const unsigned long error = Fn().ERR_get_error();
    Fn().ERR_clear_error();
    return EIdTlsError(0, std::string(kTlsErrorPrefix) + what + (error ? ": " + ReasonOf(error) : std::string()));
}

// The certificates to trust (TrustStore.h): the system's hashed folder,
// looked up when a chain is checked, where it has one; otherwise OpenSSL's
// defaults, its bundle file read whole.
bool LoadTrustStore(SSL_CTX* context) {
    const http::TrustStorePlan plan = http::PlanTrustStore(std::getenv(Fn().X509_get_default_cert_file_env()),
        std::getenv(Fn().X509_get_default_cert_dir_env()), Fn().X509_get_default_cert_dir(),
        http::FolderHasHashedCertificates);
    if (!plan.HashedFolders.empty() && Fn().SSL_CTX_load_verify_dir(context, plan.HashedFolders.c_str()) == 1)
        return true;
    return Fn().SSL_CTX_set_default_verify_paths(context) == 1;
}

// Builds the process's one client context. The failure is returned as
// text: the builder may run on another thread, whose error queue the
// caller cannot see.
SSL_CTX* BuildContext(std::string& failure) {
    auto fail = [&failure](const char* what) -> SSL_CTX* {
        const unsigned long error = Fn().ERR_get_error();
        Fn().ERR_clear_error();
        failure = what + (error ? ": " + ReasonOf(error) : std::string());
        return nullptr;
    };
    if (!http::openssl::Load(failure))
        return nullptr;
    // No clean-up at exit: the context lives as long as the process, and a
    // clean-up running while a builder thread is still at work would pull
    // the library out from under it.
    //
    // No table of cipher names either: libssl fetches its ciphers from the
    // providers, and the table, which the providers' name map would then
    // copy, only serves look-ups of a cipher by name, which nothing here
    // makes. Filling both cost about half a millisecond of every start.
    // Digests keep theirs: a certificate's signature names its digest by
    // number, which is looked up in that table.
    if (Fn().OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_NO_ADD_ALL_CIPHERS, nullptr) != 1)
        return fail("no TLS library");
    SSL_CTX* context = Fn().SSL_CTX_new(Fn().TLS_client_method());
    if (!context)
        return fail("no TLS context");
    Fn().SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, kMinimumVersion, nullptr);
    Fn().SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    if (!LoadTrustStore(context)) {
        Fn().SSL_CTX_free(context);
        return fail("the trust store could not be read");
    }
    Fn().SSL_CTX_ctrl(
        context, SSL_CTRL_MODE, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
    Fn().SSL_CTX_ctrl(context, SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
    Fn().SSL_CTX_set_default_read_buffer_len(context, kReadBufferSize);
    return context;
}

// One context for the whole process: making one and reading the trust
// store into it costs more than a handshake, and a run makes several
// connections. It is built once (SSL_CERT_FILE and SSL_CERT_DIR as they are
// then), either by the first secure connection or ahead of it on a thread
// of its own (TTlsSession::Prepare), while the window is being drawn.
class SharedContext {
public:
    static SharedContext& Instance() {
        static SharedContext shared;
        return shared;
    }

    ~SharedContext() { builder_.Join(); }

    void Prepare() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (context_ || building_)
            return;
        builder_.Join(); // a failed earlier attempt
        building_ = true;
        try {
            builder_ = platform::threads::HelperThread([this] {
                std::string failure;
                SSL_CTX* context = BuildContext(failure);
                std::lock_guard<std::mutex> done(mutex_);
                Settle(context, failure);
            });
        } catch (const std::system_error&) {
            // No thread to be had: the first connection builds the context
            // itself instead of waiting for a build that never started.
            building_ = false;
        }
    }

    // The context, waiting for a build under way; throws when it cannot be
    // had (a later call tries again).
    SSL_CTX* Get() {
        std::unique_lock<std::mutex> lock(mutex_);
        built_.wait(lock, [this] { return !building_; });
        if (!context_ && failure_.empty()) {
            std::string failure;
            Settle(BuildContext(failure), failure);
        }
        if (!context_) {
            const std::string failure = std::move(failure_);
            failure_.clear();
            throw EIdTlsError(0, std::string(kTlsErrorPrefix) + failure);
        }
        return context_;
    }

    // Drops the context (sessions keep theirs until they end); the next
    // Get builds one again.
    void Forget() {
        std::unique_lock<std::mutex> lock(mutex_);
        built_.wait(lock, [this] { return !building_; });
        builder_.Join();
        if (context_)
            Fn().SSL_CTX_free(context_);
        context_ = nullptr;
        failure_.clear();
    }

private:
    SharedContext() = default;

    void Settle(SSL_CTX* context, const std::string& failure) {
        context_ = context;
        failure_ = context ? std::string() : failure;
        building_ = false;
        built_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable built_;
    platform::threads::HelperThread builder_;
    bool building_ = false;
    SSL_CTX* context_ = nullptr;
    std::string failure_;
};

// Sessions that ended cleanly, by server ("host:port"). The second request
// of a run (a signature after its file) resumes the first one's session:
// the server's certificate was checked then, and the resumed handshake
// skips sending and checking the chain again. A session is only ever
// offered to the server it came from; a server that does not know it any
// more answers with a full handshake, checked as usual.
class SessionCache {
public:
    static SessionCache& Instance() {
        static SessionCache cache;
        return cache;
    }

    // The library stays loaded to the end (no clean-up at exit), so the
    // sessions can still be given back when the process ends normally.
    ~SessionCache() { ForgetAll(); }

    // A reference the caller frees, or null.
    SSL_SESSION* Find(const std::string& server) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = sessions_.find(server);
        if (it == sessions_.end())
            return nullptr;
        Fn().SSL_SESSION_up_ref(it->second);
        return it->second;
    }

    void ForgetAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& kept : sessions_)
            Fn().SSL_SESSION_free(kept.second);
        sessions_.clear();
    }

    // Takes the reference.
    void Keep(const std::string& server, SSL_SESSION* session) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = sessions_.find(server);
        if (it != sessions_.end()) {
            Fn().SSL_SESSION_free(it->second);
            sessions_.erase(it);
        }
        // A run talks to one or two servers; the bound only keeps a
        // long-lived process from collecting them.
        if (sessions_.size() >= kMaxServers) {
            Fn().SSL_SESSION_free(sessions_.begin()->second);
            sessions_.erase(sessions_.begin());
        }
        sessions_.emplace(server, session);
    }

private:
    static constexpr std::size_t kMaxServers = 8;
    SessionCache() = default;
    std::mutex mutex_;
    std::map<std::string, SSL_SESSION*> sessions_;
};

} // namespace

struct TTlsSession::Impl {
    SocketLink link;
    SSL* ssl = nullptr;
    std::string server; // "host:port", the key of its resumable session
    bool handshakeDone = false;
    int certificateError = 0;
    std::string failure;

    ~Impl() {
        if (ssl)
            Fn().SSL_free(ssl);
    }

    // Maps the result of one SSL call to a status, keeping what failed.
    TTlsStatus StatusOf(int result) {
        const int code = Fn().SSL_get_error(ssl, result);
        switch (code) {
        case SSL_ERROR_WANT_READ: return TTlsStatus::WantRead;
        case SSL_ERROR_WANT_WRITE: return TTlsStatus::WantWrite;
        case SSL_ERROR_ZERO_RETURN: return TTlsStatus::Closed;
        default: break;
        }
        if (link.error != 0)
            return TTlsStatus::Failed;
        const unsigned long error = Fn().ERR_peek_last_error();
        if (!handshakeDone) {
            const long verify = Fn().SSL_get_verify_result(ssl);
            if (verify != X509_V_OK) {
                certificateError = static_cast<int>(verify);
                failure = Fn().X509_verify_cert_error_string(verify);
                return TTlsStatus::Failed;
            }
        }
        const bool cutOff =
            error == 0 ? code == SSL_ERROR_SYSCALL : ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
        if (cutOff)
            // Without the close notification a shortened body would look
            // complete: a cut is an error, never an end.
            failure = handshakeDone ? "the connection was cut off without a TLS close notification"
                                    : "the server closed the connection during the TLS handshake";
        else if (error != 0)
            failure = ReasonOf(error);
        else
            failure = "TLS failure " + std::to_string(code);
        return TTlsStatus::Failed;
    }
};

bool TTlsSession::Available() { return true; }

void TTlsSession::Prepare() { SharedContext::Instance().Prepare(); }

void TTlsSession::ForgetSessions() { SessionCache::Instance().ForgetAll(); }

void TTlsSession::ForgetTrustStore() {
    ForgetSessions();
    SharedContext::Instance().Forget();
}

struct TTlsSession::Resumption {
    explicit Resumption(SSL_SESSION* kept) : session(kept) {}
    ~Resumption() { Fn().SSL_SESSION_free(session); }
    Resumption(const Resumption&) = delete;
    Resumption& operator=(const Resumption&) = delete;
    SSL_SESSION* session;
};

TTlsSession::TTlsSession(
    platform::net::TcpSocket& socket, const std::string& host, int port, const std::shared_ptr<Resumption>& resume)
    : impl_(std::make_unique<Impl>()) {
    // First the context: it makes the library ready on its first use.
    SSL_CTX* context = SharedContext::Instance().Get();
    Fn().ERR_clear_error();
    impl_->link.socket = &socket;
    impl_->server = host + ':' + std::to_string(port);
    impl_->ssl = Fn().SSL_new(context);
    if (!impl_->ssl)
        throw SetupFailure("no TLS session");
    // An address is checked against the certificate's IP entries and is
    // never sent as a server name; a name is both.
    ASN1_OCTET_STRING* ip = Fn().a2i_IPADDRESS(host.c_str());
    if (ip) {
        Fn().ASN1_OCTET_STRING_free(ip);
        if (Fn().X509_VERIFY_PARAM_set1_ip_asc(Fn().SSL_get0_param(impl_->ssl), host.c_str()) != 1)
            throw SetupFailure("the server address cannot be checked");
    } else {
        Fn().SSL_set_hostflags(impl_->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (Fn().SSL_set1_host(impl_->ssl, host.c_str()) != 1 ||
            Fn().SSL_ctrl(impl_->ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                const_cast<char*>(host.c_str())) != 1)
            throw SetupFailure("the server name cannot be checked");
    }
    BIO* bio = Fn().BIO_new(LinkMethods());
    if (!bio)
        throw SetupFailure("no link to the socket");
    Fn().BIO_set_data(bio, &impl_->link);
    Fn().BIO_set_init(bio, 1);
    Fn().SSL_set_bio(impl_->ssl, bio, bio);
    Fn().SSL_set_connect_state(impl_->ssl);
    if (resume) {
        Fn().SSL_set_session(impl_->ssl, resume->session);
    } else if (SSL_SESSION* earlier = SessionCache::Instance().Find(impl_->server)) {
        Fn().SSL_set_session(impl_->ssl, earlier);
        Fn().SSL_SESSION_free(earlier);
    }
}

TTlsSession::~TTlsSession() = default;

TTlsStatus TTlsSession::Handshake() {
    Fn().ERR_clear_error();
    const int rc = Fn().SSL_do_handshake(impl_->ssl);
    if (rc == 1) {
        impl_->handshakeDone = true;
        return TTlsStatus::Done;
    }
    return impl_->StatusOf(rc);
}

TTlsStatus TTlsSession::Read(uint8_t* buffer, std::size_t capacity, std::size_t& received) {
    received = 0;
    // Takes every record that is already here, without waiting for more.
    while (received < capacity) {
        Fn().ERR_clear_error();
        std::size_t got = 0;
        if (Fn().SSL_read_ex(impl_->ssl, buffer + received, capacity - received, &got) != 1) {
            if (received > 0)
                return TTlsStatus::Done; // the rest is reported by the next call
            return impl_->StatusOf(0);
        }
        received += got;
    }
    return TTlsStatus::Done;
}

TTlsStatus TTlsSession::Write(const uint8_t* data, std::size_t length, std::size_t& sent) {
    sent = 0;
    Fn().ERR_clear_error();
    if (Fn().SSL_write_ex(impl_->ssl, data, length, &sent) == 1)
        return TTlsStatus::Done;
    return impl_->StatusOf(0);
}

void TTlsSession::Shutdown() {
    Fn().ERR_clear_error();
    if (impl_->handshakeDone) {
        Fn().SSL_shutdown(impl_->ssl);
        // Only a session that ended cleanly is offered again; by now the
        // server's tickets, sent after the handshake, have been read.
        SSL_SESSION* session = Fn().SSL_get1_session(impl_->ssl);
        if (session && Fn().SSL_SESSION_is_resumable(session))
            SessionCache::Instance().Keep(impl_->server, session);
        else
            Fn().SSL_SESSION_free(session);
    }
    Fn().ERR_clear_error();
}

std::shared_ptr<TTlsSession::Resumption> TTlsSession::ResumableSession() const {
    if (!impl_->handshakeDone)
        return nullptr;
    SSL_SESSION* session = Fn().SSL_get1_session(impl_->ssl);
    if (!session)
        return nullptr;
    if (Fn().SSL_SESSION_is_resumable(session) != 1) {
        Fn().SSL_SESSION_free(session);
        return nullptr;
    }
    return std::make_shared<Resumption>(session);
}

bool TTlsSession::Resumed() const { return impl_->handshakeDone && Fn().SSL_session_reused(impl_->ssl) == 1; }

int TTlsSession::SocketError() const { return impl_->link.error; }

EIdTlsError TTlsSession::Failure() const { return EIdTlsError::From(impl_->certificateError, impl_->failure); }
