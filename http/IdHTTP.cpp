#include "http/IdHTTP.h"

#include "http/HttpResponse.h"
#include "http/HttpUrl.h"
#include "platform/net/SocketErrors.h"
#include "platform/net/TcpSocket.h"

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultIdleMs = 250;

std::string SocketErrorMessage(int code) {
    return "Socket Error # " + std::to_string(code) + "\r\n" + net::WsaErrorText(code);
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

} // namespace

struct TIdHTTP::Impl : THttpByteSource, THttpWorkEvents {
    explicit Impl(TIdHTTP& owner) : self(owner) {}

    TIdHTTP& self;
    std::unique_ptr<net::TcpSocket> socket; // null when not connected
    std::string peerHost;
    int peerPort = 0;
    THttpInputBuffer input;
    bool peerClosed = false;   // the server's close was seen (socket already closed)
    bool shutdownSeen = false; // a receive met 10058
    bool inGet = false;
    bool aborted = false; // Disconnect() ran while Get was in progress
    std::string lastHost;
    Clock::time_point lastIdle;
    int workLevel = 0;

    int IdleMs() const {
        int ms = self.AntiFreeze ? self.AntiFreeze->IdleTimeOut : kDefaultIdleMs;
        return ms > 0 ? ms : kDefaultIdleMs;
    }

    [[noreturn]] static void ThrowAborted() { throw MakeSocketError(net::kWsaECONNABORTED); }

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

    void Connect(const std::string& host, int port) {
        peerHost = host;
        peerPort = port;
        peerClosed = false;
        shutdownSeen = false;
        input.Clear();
        if (port < 1 || port > 65535)
            throw MakeSocketError(10049);
        auto fresh = std::make_unique<net::TcpSocket>();
        int rc = fresh->Open();
        if (rc != 0)
            throw MakeSocketError(rc);
        socket = std::move(fresh);
        uint32_t address = 0;
        rc = net::ResolveHost(host, address);
        if (rc != 0)
            RaiseSocketError(rc);
        rc = socket->BindAny();
        if (rc == net::kWsaEADDRINUSE) {
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
        if (self.OnConnected)
            self.OnConnected(&self);
    }

    void SendAll(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            CheckNotAborted();
            std::size_t sent = 0;
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
                    throw MakeSocketError(net::kWsaESHUTDOWN);
                if (peerClosed || shutdownSeen)
                    return 0;
                ThrowAborted();
            }
            ServeIdleIfDue();
            std::size_t got = 0;
            bool wouldBlock = false;
            int rc = socket->Receive(buffer, capacity, got, wouldBlock);
            if (rc == net::kWsaESHUTDOWN) {
                // Taken as a close by the peer; the error only matters
                // when nothing received is left to read.
                shutdownSeen = true;
                CloseSocket(false);
                if (buffered == 0)
                    throw MakeSocketError(net::kWsaESHUTDOWN);
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

    std::string BuildRequest(const THttpUrl& url, bool viaProxy) const {
        const TIdHTTPRequest& r = self.Request;
        std::string portSuffix = url.HasNonDefaultPort() ? ":" + std::to_string(url.PortNumber()) : std::string();
        std::string target;
        std::string host = url.Host;
        if (viaProxy) {
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
    impl_->socket.reset();
}

void TIdHTTP::Get(const std::string& urlText, TStream& stream) {
    Impl& d = *impl_;
    if (d.inGet)
        throw EIdException("A request is already in progress on this connection.");
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
    // A line break would end the request line early and smuggle in
    // header lines of its own.
    if (urlText.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        throw EIdException("The URL contains a line break or a NUL character.");
    THttpUrl url = ParseHttpUrl(urlText);
    if (!url.HasHost)
        url.Host = d.lastHost;
    const bool viaProxy = !Request.ProxyServer.empty();
    if (IsHttps(url.Protocol) && !viaProxy)
        throw EIdException("Intercept value is not valid");
    d.lastHost = url.Host;

    const std::string connectHost = viaProxy ? Request.ProxyServer : url.Host;
    const int connectPort = viaProxy ? Request.ProxyPort : url.PortNumber();
    if (d.socket && (connectHost != d.peerHost || connectPort != d.peerPort))
        d.CloseSocket(true);
    if (!d.socket)
        d.Connect(connectHost, connectPort);

    d.SendAll(d.BuildRequest(url, viaProxy));

    THttpLimits limits;
    limits.MaxBodySize = stream.MaxSize();
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
    if (!impl_->socket)
        return;
    if (impl_->inGet)
        impl_->aborted = true;
    impl_->CloseSocket(true);
}

bool TIdHTTP::Connected() { return impl_->socket != nullptr; }
