#include "http/IdHTTP.h"

#include "http/AheadConnection.h"
#include "http/HttpResponse.h"
#include "http/HttpUrl.h"
#include "http/TlsSession.h"
#include "platform/net/SocketErrors.h"
#include "platform/net/TcpSocket.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultIdleMs = 250;
constexpr int kHttpsPort = 443;
// A connection made ahead of its request gives up after this long; the
// request then connects itself.
constexpr std::chrono::seconds kAheadLimit{30};

std::string SocketErrorMessage(int code) {
    return "Socket Error # " + std::to_string(code) + "\r\n" + platform::net::WsaErrorText(code);
}

EIdSocketError MakeSocketError(int code) { return EIdSocketError(code, SocketErrorMessage(code)); }

bool IsHttps(const std::string& scheme) {
    if (scheme.size() != 5)
        return false;
    const char* want = "HTTPS";
    for (int i = 0; i < 5; ++i) {
        char c = scheme[static_cast<std::size_t>(i)];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != want[i])
            return false;
    }
    return true;
}

// The port of an "https" address: the one given, else 443.
int HttpsPort(const THttpUrl& url) { return url.PortNumberOr(kHttpsPort); }

} // namespace

struct TIdHTTP::Impl : THttpByteSource, THttpWorkEvents {
    explicit Impl(TIdHTTP& owner) : self(owner) {}

    TIdHTTP& self;
    std::unique_ptr<platform::net::TcpSocket> socket; // null when not connected
    std::unique_ptr<TTlsSession> tls;                 // set while the connection speaks TLS
    std::string peerHost;
    int peerPort = 0;
    uint32_t peerAddress = 0; // network byte order
    THttpInputBuffer input;
    bool peerClosed = false;   // the server's close was seen (socket already closed)
    bool shutdownSeen = false; // a receive met 10058
    bool inGet = false;
    bool aborted = false; // Disconnect() ran while Get was in progress
    std::string lastHost;
    Clock::time_point lastIdle;
    int workLevel = 0;
    std::string expectedNext;                     // ExpectNext's address, for the Get after the next
    std::unique_ptr<http::AheadConnection> ahead; // made for expectedNext, not yet used

    int IdleMs() const {
        int ms = self.AntiFreeze ? self.AntiFreeze->IdleTimeOut : kDefaultIdleMs;
        return ms > 0 ? ms : kDefaultIdleMs;
    }

    [[noreturn]] static void ThrowAborted() { throw MakeSocketError(platform::net::kWsaECONNABORTED); }

    void CheckNotAborted() {
        if (aborted || !socket)
            ThrowAborted();
    }

    // One idle slice: let the GUI run, then find out whether it cut the
    // connection from under us.
    void ServeIdle() {
        lastIdle = Clock::now();
        if (self.AntiFreeze)
            self.AntiFreeze->DoProcess();
        CheckNotAborted();
    }

    // Keeps the GUI served while data flows without pauses.
    void ServeIdleIfDue() {
        if (Clock::now() - lastIdle >= std::chrono::milliseconds(IdleMs()))
            ServeIdle();
    }

    void WaitReady(bool forWrite) {
        for (;;) {
            CheckNotAborted();
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastIdle).count();
            long long slice = IdleMs() - elapsed;
            bool ready = false;
            int rc = socket->WaitReady(forWrite, slice > 0 ? static_cast<int>(slice) : 0, ready);
            if (rc != 0)
                RaiseSocketError(rc);
            if (ready)
                return;
            ServeIdle();
        }
    }

    void CloseSocket(bool shutdownFirst) {
        if (!socket)
            return;
        if (tls && shutdownFirst)
            tls->Shutdown();
        tls.reset();
        if (shutdownFirst)
            socket->ShutdownSend();
        socket.reset();
        if (self.OnDisconnected)
            self.OnDisconnected(&self);
    }

    [[noreturn]] void RaiseSocketError(int code) {
        CloseSocket(false);
        throw MakeSocketError(code);
    }

    // fireConnected false: the caller fires OnConnected itself once the
    // connection is usable (after the TLS handshake).
    void Connect(const std::string& host, int port, bool fireConnected = true) {
        peerHost = host;
        peerPort = port;
        peerClosed = false;
        shutdownSeen = false;
        input.Clear();
        if (port < 1 || port > 65535)
            throw MakeSocketError(10049);
        auto fresh = std::make_unique<platform::net::TcpSocket>();
        int rc = fresh->Open();
        if (rc != 0)
            throw MakeSocketError(rc);
        socket = std::move(fresh);
        uint32_t address = 0;
        rc = platform::net::ResolveHost(host, address);
        if (rc != 0)
            RaiseSocketError(rc);
        peerAddress = address;
        rc = socket->BindAny();
        if (rc == platform::net::kWsaEADDRINUSE) {
            CloseSocket(false);
            throw EIdException("Could not bind socket. Address and port are already in use.");
        }
        if (rc != 0)
            RaiseSocketError(rc);
        bool inProgress = false;
        rc = socket->StartConnect(address, static_cast<uint16_t>(port), inProgress);
        if (rc != 0)
            RaiseSocketError(rc);
        if (inProgress) {
            WaitReady(true);
            rc = socket->FinishConnect();
            if (rc != 0)
                RaiseSocketError(rc);
        }
        if (fireConnected && self.OnConnected)
            self.OnConnected(&self);
    }

    // A TLS step failed: the socket's own error reads as over plain TCP,
    // anything else names the TLS problem. The connection is closed.
    [[noreturn]] void RaiseTlsFailure() {
        const int code = tls ? tls->SocketError() : 0;
        if (code != 0)
            RaiseSocketError(code);
        if (!tls)
            ThrowAborted();
        const EIdTlsError failure = tls->Failure();
        CloseSocket(false);
        throw failure;
    }

    // Waits for what a TLS step asked for, serving the GUI meanwhile.
    void WaitFor(TTlsStatus status) {
        if (status == TTlsStatus::WantRead)
            WaitReady(false);
        else if (status == TTlsStatus::WantWrite)
            WaitReady(true);
        else
            RaiseTlsFailure();
    }

    // Asks the proxy for a tunnel to host:port. Its refusal, whatever the
    // status, means no connection to the server: a failure of its own kind
    // (never the server's answer), and the connection stays open until
    // Disconnect.
    void OpenTunnel(const std::string& host, int port) {
        const std::string target = host + ":" + std::to_string(port);
        std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
        if (!self.Request.UserAgent.empty())
            request += "User-Agent: " + self.Request.UserAgent + "\r\n";
        request += "\r\n";
        SendAll(request);
        THttpResponseReader reader(*this, input, *this);
        THttpResponseInfo info;
        try {
            reader.ReadHead(info);
        } catch (const EConvertError&) {
            self.ResponseText = info.ResponseText;
            throw;
        }
        self.ResponseText = info.ResponseText;
        self.ResponseCode = info.ResponseCode;
        if (info.ResponseCode < 200 || info.ResponseCode > 299)
            throw EIdProxyRefused(info.ResponseCode, info.ResponseText);
        // The server speaks only after our greeting: bytes here did not
        // come from it.
        if (input.Available() != 0) {
            CloseSocket(false);
            throw EIdException("The proxy sent data before the secure connection was made.");
        }
    }

    // Connects, through a tunnel when a proxy is set, and makes the
    // connection secure for host; OnConnected fires once it is.
    void ConnectSecure(const std::string& host, int port, bool viaProxy) {
        if (viaProxy) {
            Connect(self.Request.ProxyServer, self.Request.ProxyPort, false);
            OpenTunnel(host, port);
        } else {
            Connect(host, port, false);
        }
        try {
            tls = std::make_unique<TTlsSession>(*socket, host, port);
        } catch (const EIdTlsError&) {
            CloseSocket(false);
            throw;
        }
        for (;;) {
            CheckNotAborted();
            const TTlsStatus status = tls->Handshake();
            if (status == TTlsStatus::Done)
                break;
            WaitFor(status);
        }
        self.SessionResumed = tls->Resumed();
        if (self.OnConnected)
            self.OnConnected(&self);
    }

    // After this request's own handshake (or once its answer began, when
    // the server's session comes with the first data): connects for the
    // address ExpectNext named, if it is on this very server. Clears next
    // once a connection is under way or the address does not qualify.
    void StartAheadFor(std::string& next) {
        if (next.empty() || ahead || !tls || !socket)
            return;
        const THttpUrl target = ParseHttpUrl(next);
        if (!IsHttps(target.Protocol) || target.Host != peerHost || HttpsPort(target) != peerPort) {
            next.clear();
            return;
        }
        std::shared_ptr<TTlsSession::Resumption> session = tls->ResumableSession();
        if (!session)
            return;
        next.clear();
        try {
            ahead = std::make_unique<http::AheadConnection>(peerHost, peerPort, peerAddress, std::move(session),
                std::chrono::duration_cast<std::chrono::milliseconds>(kAheadLimit));
        } catch (const std::system_error&) {
            // No thread: the request connects when it comes.
        }
    }

    // Uses the connection made ahead for host:port, waiting for it with the
    // GUI served; false when there is none to use (a connection ahead for
    // another server is closed unused).
    bool AdoptAhead(const std::string& host, int port, bool viaProxy) {
        if (!ahead)
            return false;
        if (viaProxy || ahead->Host() != host || ahead->Port() != port) {
            ahead.reset();
            return false;
        }
        while (!ahead->WaitEnded(std::chrono::milliseconds(IdleMs()))) {
            lastIdle = Clock::now();
            if (self.AntiFreeze)
                self.AntiFreeze->DoProcess();
            // Disconnect() from the idle callback drops the connection ahead.
            if (aborted || !ahead)
                ThrowAborted();
        }
        http::AheadConnection::Taken made = ahead->Take();
        ahead.reset();
        if (!made.Tls)
            return false;
        peerHost = host;
        peerPort = port;
        peerClosed = false;
        shutdownSeen = false;
        input.Clear();
        socket = std::move(made.Socket);
        tls = std::move(made.Tls);
        self.SessionResumed = tls->Resumed();
        if (self.OnConnected)
            self.OnConnected(&self);
        return true;
    }

    void SendAll(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            CheckNotAborted();
            std::size_t sent = 0;
            if (tls) {
                const TTlsStatus status =
                    tls->Write(reinterpret_cast<const uint8_t*>(data.data()) + done, data.size() - done, sent);
                if (status == TTlsStatus::Done) {
                    done += sent;
                    ServeIdleIfDue();
                } else if (status == TTlsStatus::Closed) {
                    RaiseSocketError(platform::net::kWsaESHUTDOWN);
                } else {
                    WaitFor(status);
                }
                continue;
            }
            int rc = socket->Send(reinterpret_cast<const uint8_t*>(data.data()) + done, data.size() - done, sent);
            if (rc != 0)
                RaiseSocketError(rc);
            done += sent;
            if (sent == 0)
                WaitReady(true);
            else
                ServeIdleIfDue();
        }
    }

    std::size_t Receive(uint8_t* buffer, std::size_t capacity, std::size_t buffered) override {
        for (;;) {
            if (aborted)
                ThrowAborted();
            if (!socket) {
                if (shutdownSeen && buffered == 0)
                    throw MakeSocketError(platform::net::kWsaESHUTDOWN);
                if (peerClosed || shutdownSeen)
                    return 0;
                ThrowAborted();
            }
            ServeIdleIfDue();
            std::size_t got = 0;
            if (tls) {
                const TTlsStatus status = tls->Read(buffer, capacity, got);
                if (status == TTlsStatus::Done)
                    return got;
                if (status == TTlsStatus::Closed) {
                    peerClosed = true;
                    CloseSocket(false);
                    return 0;
                }
                WaitFor(status);
                continue;
            }
            bool wouldBlock = false;
            int rc = socket->Receive(buffer, capacity, got, wouldBlock);
            if (rc == platform::net::kWsaESHUTDOWN) {
                // Taken as a close by the peer; the error only matters
                // when nothing received is left to read.
                shutdownSeen = true;
                CloseSocket(false);
                if (buffered == 0)
                    throw MakeSocketError(platform::net::kWsaESHUTDOWN);
                return 0;
            }
            if (rc != 0)
                RaiseSocketError(rc);
            if (wouldBlock) {
                WaitReady(false);
                continue;
            }
            if (got == 0) {
                peerClosed = true;
                CloseSocket(false);
                return 0;
            }
            return got;
        }
    }

    void WorkBegin(int64_t expected) override {
        if (workLevel++ == 0 && self.OnWorkBegin)
            self.OnWorkBegin(&self, wmRead, expected);
    }
    void Work(int64_t total) override {
        if (workLevel == 1 && self.OnWork)
            self.OnWork(&self, wmRead, total);
    }
    void WorkEnd() override {
        if (workLevel > 0 && --workLevel == 0 && self.OnWorkEnd)
            self.OnWorkEnd(&self, wmRead);
    }

    // secure: the request goes to the origin itself (directly or through
    // a tunnel), so its target is the path and its Host names the port
    // unless it is 443.
    std::string BuildRequest(const THttpUrl& url, bool viaProxy, bool secure) const {
        const TIdHTTPRequest& r = self.Request;
        // Appended piece by piece: GCC 12 at -O3 takes ":" + to_string(...)
        // for an overlapping copy (-Wrestrict) in the Windows build.
        std::string portSuffix;
        if (url.HasNonDefaultPort()) {
            portSuffix = ':';
            portSuffix += std::to_string(url.PortNumber());
        }
        std::string target;
        std::string host = url.Host;
        if (secure) {
            const int port = HttpsPort(url);
            target = url.Path + url.Document;
            if (port != kHttpsPort) {
                host += ':';
                host += std::to_string(port);
            }
        } else if (viaProxy) {
            // The proxy needs the origin's port, or it would fetch port 80.
            target = (url.Protocol.empty() ? std::string("http") : url.Protocol) + "://" + url.Host + portSuffix +
                     url.Path + url.Document;
            host += portSuffix;
        } else {
            target = url.Path + url.Document;
        }
        std::string req = "GET " + target + " HTTP/" + self.ProtocolVersion + "\r\n";
        req += "Host: " + host + "\r\n";
        if (!r.Accept.empty())
            req += "Accept: " + r.Accept + "\r\n";
        if (!r.UserAgent.empty())
            req += "User-Agent: " + r.UserAgent + "\r\n";
        if (!r.ContentType.empty())
            req += "Content-Type: " + r.ContentType + "\r\n";
        req += "\r\n";
        return req;
    }
};

TIdHTTP::TIdHTTP() : impl_(std::make_unique<Impl>(*this)) {}

TIdHTTP::~TIdHTTP() {
    // The owner is going away: close quietly, its handlers may be gone.
    impl_->tls.reset();
    impl_->socket.reset();
}

void TIdHTTP::PrepareFor(const std::string& urlText) {
    if (IsHttps(ParseHttpUrl(urlText).Protocol) && TTlsSession::Available())
        TTlsSession::Prepare();
}

void TIdHTTP::ExpectNext(const std::string& url) { impl_->expectedNext = url; }

void TIdHTTP::Get(const std::string& urlText, TStream& stream) {
    Impl& d = *impl_;
    if (d.inGet)
        throw EIdException("A request is already in progress on this connection.");
    // ExpectNext named the request after this one.
    std::string nextAddress = std::move(d.expectedNext);
    d.expectedNext.clear();
    struct InGet {
        Impl& d;
        explicit InGet(Impl& impl) : d(impl) {
            d.inGet = true;
            d.aborted = false;
            d.workLevel = 0;
            d.lastIdle = Clock::now();
        }
        ~InGet() { d.inGet = false; }
    } inGet(d);

    ResponseCode = 0;
    ResponseText.clear();
    SessionResumed = false;
    // A line break would end the request line early and smuggle in
    // header lines of its own.
    if (urlText.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EIdException("The URL contains a line break or a NUL character.");
    THttpUrl url = ParseHttpUrl(urlText);
    if (!url.HasHost)
        url.Host = d.lastHost;
    const bool viaProxy = !Request.ProxyServer.empty();
    // Without TLS in the build an "https" address is refused as the plain
    // client always refused it, or handed to the proxy as it is.
    const bool secure = IsHttps(url.Protocol) && TTlsSession::Available();
    if (IsHttps(url.Protocol) && !secure && !viaProxy)
        throw EIdException("Intercept value is not valid");
    d.lastHost = url.Host;

    if (secure) {
        // A secure connection is made for one request and never reused.
        d.CloseSocket(true);
        if (!d.AdoptAhead(url.Host, HttpsPort(url), viaProxy))
            d.ConnectSecure(url.Host, HttpsPort(url), viaProxy);
        if (!viaProxy)
            d.StartAheadFor(nextAddress);
    } else {
        d.ahead.reset();
        const std::string connectHost = viaProxy ? Request.ProxyServer : url.Host;
        const int connectPort = viaProxy ? Request.ProxyPort : url.PortNumber();
        if (d.socket && (d.tls || connectHost != d.peerHost || connectPort != d.peerPort))
            d.CloseSocket(true);
        if (!d.socket)
            d.Connect(connectHost, connectPort);
    }

    d.SendAll(d.BuildRequest(url, viaProxy, secure));

    THttpLimits limits;
    // The request's own bound and the stream's, whichever is smaller.
    limits.MaxBodySize = std::min<uint64_t>(MaxBodySize, stream.MaxSize());
    THttpResponseReader reader(d, d.input, d, limits);
    THttpResponseInfo info;
    try {
        reader.ReadHead(info);
    } catch (const EConvertError&) {
        ResponseText = info.ResponseText;
        throw;
    }
    ResponseText = info.ResponseText;
    ResponseCode = info.ResponseCode;
    if (secure && !viaProxy && IsSuccess(info))
        d.StartAheadFor(nextAddress);
    try {
        reader.ReadBody(info, stream);
    } catch (const EStreamError&) {
        // The body of a refusal is of no use to anyone: that the stream
        // could not keep it does not hide the status, which is the error.
        if (!IsSuccess(info))
            throw EIdProtocolReplyError(ResponseCode, ResponseText);
        throw;
    }

    if (IsSuccess(info)) {
        d.CloseSocket(true);
        return;
    }
    throw EIdProtocolReplyError(ResponseCode, ResponseText);
}

void TIdHTTP::Disconnect() {
    if (impl_->ahead) {
        impl_->ahead.reset();
        // A Get waiting for it (no socket of its own yet) ends aborted.
        if (impl_->inGet && !impl_->socket)
            impl_->aborted = true;
    }
    if (!impl_->socket)
        return;
    if (impl_->inGet)
        impl_->aborted = true;
    impl_->CloseSocket(true);
}

bool TIdHTTP::Connected() { return impl_->socket != nullptr; }
