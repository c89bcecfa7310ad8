// HTTPS in the client against real nginx with certificates of a test CA,
// directly and through tinyproxy's CONNECT tunnel: the bytes, the events,
// every certificate failure named, Storno and the idle callback as over
// plain HTTP. The same cases run in the Linux build (OpenSSL, the peers
// started here) and under wine (SChannel, the peers started on the Linux
// side by tls_peers_for_wine, the test CA put into the prefix's Root store
// by trust_test_ca.exe before this program starts).
#include "tests/support/TlsPeerFiles.h"
#include "http/HttpResponse.h"
#include "http/IdHTTP.h"
#include "http/TlsCertificateErrors.h"
#include "http/TlsSession.h"

#ifndef _WIN32
#include "http/AheadConnection.h"
#include "platform/net/TcpSocket.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TlsPeers.h"

#include <openssl/x509_vfy.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;
namespace peers = tests::support::tls_peers;

#ifndef _WIN32
// Both sessions name certificate problems in OpenSSL's numbering.
static_assert(kTlsCertExpired == X509_V_ERR_CERT_HAS_EXPIRED);
static_assert(kTlsCertNotYetValid == X509_V_ERR_CERT_NOT_YET_VALID);
static_assert(kTlsCertSelfSigned == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT);
static_assert(kTlsCertSelfSignedInChain == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN);
static_assert(kTlsCertUnknownIssuer == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY);
static_assert(kTlsCertRevoked == X509_V_ERR_CERT_REVOKED);
static_assert(kTlsCertSignatureFailure == X509_V_ERR_CERT_SIGNATURE_FAILURE);
static_assert(kTlsCertInvalidPurpose == X509_V_ERR_INVALID_PURPOSE);
static_assert(kTlsCertHostnameMismatch == X509_V_ERR_HOSTNAME_MISMATCH);
static_assert(kTlsCertAddressMismatch == X509_V_ERR_IP_ADDRESS_MISMATCH);
#endif

namespace {

const std::string kHost = "127.0.0.1";

struct Fetch {
    std::string error; // "" on success
    int certificateError = 0;
    std::string type;
};

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        binary_ = peers::BigContent();
#ifdef _WIN32
        ports_ = peers::PortsFromEnvironment();
#else
        tmp_ = new tests::support::TempDir();
        const std::string dir = tmp_->path().string();
        peers_ = new tests::support::TlsPeers(dir);
        ports_ = peers_->Ports();
        // Only the test's own CA is trusted, nothing of the system's.
        std::filesystem::create_directory(dir + "/no-certs");
        ::setenv("SSL_CERT_FILE", peers_->CaFile().c_str(), 1);
        ::setenv("SSL_CERT_DIR", (dir + "/no-certs").c_str(), 1);
        // A suite before this one in the same process trusted another CA.
        TTlsSession::ForgetTrustStore();
#endif
    }
    static void TearDownTestSuite() {
#ifndef _WIN32
        delete peers_;
        delete tmp_;
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("SSL_CERT_DIR");
#endif
    }

    void SetUp() override {
#ifdef _WIN32
        ASSERT_NE(ports_.Good, 0) << "run under tls_peers_for_wine";
#else
        ASSERT_TRUE(peers_->Running()) << peers_->Error();
#endif
        http_.ProtocolVersion = "1.0";
        http_.Request.ContentType = "application";
        http_.Request.ProxyPort = 80;
        http_.AntiFreeze = &freeze_;
        http_.OnConnected = [this](TIdHTTP*) { events_.push_back("connected"); };
        http_.OnDisconnected = [this](TIdHTTP*) { events_.push_back("disconnected"); };
        http_.OnWorkBegin = [this](TIdHTTP*, TWorkMode, int64_t n) { events_.push_back("begin " + std::to_string(n)); };
        http_.OnWork = [this](TIdHTTP*, TWorkMode, int64_t n) { lastWork_ = n; };
        http_.OnWorkEnd = [this](TIdHTTP*, TWorkMode) { events_.push_back("end " + std::to_string(lastWork_)); };
    }

    void UseProxy(int port) {
        http_.Request.ProxyServer = "127.0.0.1";
        http_.Request.ProxyPort = port;
    }

    static std::string Url(int port, const std::string& name, const std::string& host = kHost) {
        return "https://" + host + ":" + std::to_string(port) + "/" + name;
    }

    Fetch Get(const std::string& url) {
        Fetch f;
        try {
            http_.Get(url, stream_);
        } catch (const EIdTlsError& e) {
            f.error = e.Message();
            f.certificateError = e.CertificateError;
            f.type = "tls";
        } catch (const EIdSocketError& e) {
            f.error = e.Message();
            f.type = "socket";
        } catch (const EIdProxyRefused& e) {
            f.error = e.ResponseText;
            f.type = "proxy";
        } catch (const EIdException& e) {
            f.error = e.Message();
            f.type = "other";
        }
        return f;
    }
    std::string Body() const { return std::string(stream_.Data.begin(), stream_.Data.end()); }

#ifndef _WIN32
    static tests::support::TempDir* tmp_;
    static tests::support::TlsPeers* peers_;
#endif
    static peers::Ports ports_;
    static std::string binary_;

    TIdHTTP http_;
    TIdAntiFreeze freeze_;
    TMemoryStream stream_;
    std::vector<std::string> events_;
    int64_t lastWork_ = 0;
};

#ifndef _WIN32
tests::support::TempDir* Tls::tmp_ = nullptr;
tests::support::TlsPeers* Tls::peers_ = nullptr;
#endif
peers::Ports Tls::ports_;
std::string Tls::binary_;

TEST_F(Tls, FetchesOverHttpsWithThePlainEvents) {
    for (const std::string host : {"127.0.0.1", "localhost", "LOCALHOST"}) {
        SCOPED_TRACE(host);
        stream_.Clear();
        events_.clear();
        EXPECT_EQ(Get(Url(ports_.Good, peers::kBigName, host)).error, "");
        EXPECT_TRUE(Body() == binary_) << "body differs";
        EXPECT_EQ(http_.ResponseCode, 200);
        EXPECT_EQ(events_, (std::vector<std::string>{"connected", "begin 3145728", "end 3145728", "disconnected"}));
        EXPECT_FALSE(http_.Connected());
    }
    // A body read until the server closes ends at its close notification.
    stream_.Clear();
    events_.clear();
    EXPECT_EQ(Get(Url(ports_.Good, peers::kEmptyName)).error, "");
    EXPECT_EQ(Body(), "");
}

// A run fetches a file and then its signature: the second connection to
// the same server resumes the first one's session (OpenSSL; SChannel makes
// full handshakes). Resumption never stands in for a certificate check: a
// server whose certificate failed is never resumed, and a session is only
// offered to the host and port it came from.
TEST_F(Tls, ResumesOnlyACheckedSessionOfTheSameServer) {
#ifdef _WIN32
    const bool resumes = false;
#else
    const bool resumes = true;
#endif
    TTlsSession::ForgetSessions();
    const std::string good = Url(ports_.Good, peers::kTextName);
    struct Step {
        const char* name;
        std::string url;
        bool resumed;
        int certificateError;
    } steps[] = {
        {"first to the server", good, false, 0},
        {"second to the same server", good, resumes, 0},
        {"the same port under another name", Url(ports_.Good, peers::kTextName, "localhost"), false, 0},
        {"that name again", Url(ports_.Good, peers::kTextName, "localhost"), resumes, 0},
        {"another server after a good one", Url(ports_.OtherHost, peers::kTextName), false, kTlsCertAddressMismatch},
        {"a failed server again", Url(ports_.SelfSigned, peers::kTextName), false, kTlsCertSelfSigned},
        {"and once more", Url(ports_.SelfSigned, peers::kTextName), false, kTlsCertSelfSigned},
        {"the good server in between", good, resumes, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        stream_.Clear();
        const Fetch f = Get(step.url);
        EXPECT_EQ(f.certificateError, step.certificateError) << f.error;
        EXPECT_EQ(http_.SessionResumed, step.resumed);
        if (step.certificateError == 0) {
            EXPECT_EQ(f.error, "");
            EXPECT_EQ(http_.ResponseCode, 200);
            EXPECT_FALSE(Body().empty());
        } else {
            EXPECT_EQ(Body(), "");
        }
    }
    // Through the proxy's tunnel the same server's session is resumed too.
    UseProxy(ports_.Proxy);
    stream_.Clear();
    EXPECT_EQ(Get(good).error, "");
    EXPECT_EQ(http_.SessionResumed, resumes);
    // Forgotten sessions make full handshakes again.
    TTlsSession::ForgetSessions();
    stream_.Clear();
    EXPECT_EQ(Get(good).error, "");
    EXPECT_FALSE(http_.SessionResumed);
}

TEST_F(Tls, ThroughTinyproxysTunnel) {
    UseProxy(ports_.Proxy);
    EXPECT_EQ(Get(Url(ports_.Good, peers::kBigName)).error, "");
    EXPECT_TRUE(Body() == binary_) << "body differs";
    EXPECT_EQ(events_, (std::vector<std::string>{"connected", "begin 3145728", "end 3145728", "disconnected"}));
    // Through the tunnel the server's certificate is checked all the same.
    stream_.Clear();
    events_.clear();
    const Fetch f = Get(Url(ports_.SelfSigned, peers::kTextName));
    EXPECT_EQ(f.type, "tls") << f.error;
    EXPECT_EQ(f.certificateError, kTlsCertSelfSigned);
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnected"}));
}

TEST_F(Tls, TheTunnelRequestAndARefusal) {
    UseProxy(ports_.RefusingProxy);
    const Fetch f = Get("https://update.example.test/verze/ver.txt");
    // The proxy's answer, never to be taken for the server's.
    EXPECT_EQ(f.type, "proxy");
    EXPECT_EQ(f.error, "403 Forbidden");
    EXPECT_EQ(http_.ResponseCode, 403);
#ifndef _WIN32
    // What the proxy read is seen only where it runs in this process.
    EXPECT_EQ(peers_->RefusingProxyRequest(), "CONNECT update.example.test:443 HTTP/1.0\r\n"
                                              "Host: update.example.test:443\r\n"
                                              "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
#endif
    // The connection stays open until the caller disconnects, and no
    // secure connection was ever reported.
    EXPECT_TRUE(http_.Connected());
    http_.Disconnect();
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnected"}));
}

TEST_F(Tls, EveryCertificateProblemIsNamedAndNothingIsRead) {
    struct Case {
        const char* name;
        std::string url;
        int code;
        const char* text;
    } cases[] = {
        {"issued for another address", Url(ports_.OtherHost, peers::kTextName), kTlsCertAddressMismatch,
            "IP address mismatch"},
        {"issued for another name", Url(ports_.OtherHost, peers::kTextName, "localhost"), kTlsCertHostnameMismatch,
            "hostname mismatch"},
        {"self-signed, in no store", Url(ports_.SelfSigned, peers::kTextName), kTlsCertSelfSigned,
            "self-signed certificate"},
        {"expired", Url(ports_.Expired, peers::kTextName), kTlsCertExpired, "certificate has expired"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stream_.Clear();
        events_.clear();
        const Fetch f = Get(c.url);
        EXPECT_EQ(f.type, "tls");
        EXPECT_EQ(f.certificateError, c.code);
        EXPECT_EQ(f.error, std::string(kTlsCertificateErrorPrefix) + std::to_string(c.code) + "\r\n" + c.text);
        EXPECT_EQ(f.error.find("Socket Error"), std::string::npos);
        EXPECT_EQ(Body(), "");
        // A failed connection: it was never reported as made.
        EXPECT_EQ(events_, (std::vector<std::string>{"disconnected"}));
        EXPECT_FALSE(http_.Connected());
    }
}

TEST_F(Tls, ErrorStatusesAndSocketErrorsReadAsOverPlainHttp) {
    EXPECT_EQ(Get(Url(ports_.Good, "chybi.bin")).error, "404 Not Found");
    EXPECT_TRUE(http_.Connected());
    http_.Disconnect();
    const Fetch refused = Get(Url(ports_.Closed, "x"));
    EXPECT_EQ(refused.error, "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(refused.type, "socket");
}

TEST_F(Tls, AServerThatDoesNotSpeakTlsIsAClearFailure) {
    // It answers the greeting the way a plain HTTP server answers bytes
    // it cannot read.
    const Fetch f = Get(Url(ports_.Plain, "x"));
    EXPECT_EQ(f.type, "tls") << f.error;
    EXPECT_EQ(f.error.rfind(kTlsErrorPrefix, 0), 0u) << f.error;
    EXPECT_EQ(f.certificateError, 0);
    EXPECT_FALSE(http_.Connected());
}

TEST_F(Tls, StornoDuringTheHandshakeAndDuringTheBody) {
    // A server that accepts and never answers the greeting: the wait is
    // served in idle slices, and Storno ends it.
    int idle = 0;
    freeze_.OnIdle = [&] {
        if (++idle == 3)
            http_.Disconnect();
    };
    Fetch f = Get(Url(ports_.Silent, "x"));
    EXPECT_EQ(f.error, "Socket Error # 10053\r\nSoftware caused connection abort.");
    EXPECT_EQ(idle, 3);
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnected"}));

    // 3 MiB at 256 KiB/s: Storno after half a second, the callback served
    // all along.
    events_.clear();
    std::vector<Clock::time_point> calls;
    const auto start = Clock::now();
    freeze_.OnIdle = [&] {
        calls.push_back(Clock::now());
        if (Clock::now() - start > std::chrono::milliseconds(500))
            http_.Disconnect();
    };
    f = Get(Url(ports_.Slow, peers::kBigName));
    EXPECT_EQ(f.error, "Socket Error # 10053\r\nSoftware caused connection abort.");
    EXPECT_GT(stream_.Size(), 0u);
    EXPECT_LT(stream_.Size(), binary_.size());
    EXPECT_TRUE(Body() == binary_.substr(0, stream_.Size())) << "the bytes kept are the file's";
    ASSERT_GE(events_.size(), 4u);
    EXPECT_EQ(events_[events_.size() - 2], "disconnected");
    EXPECT_EQ(events_.back().rfind("end ", 0), 0u);
    EXPECT_FALSE(http_.Connected());
    long long worst = 0;
    Clock::time_point prev = start;
    for (auto t : calls) {
        worst = std::max<long long>(worst, std::chrono::duration_cast<std::chrono::milliseconds>(t - prev).count());
        prev = t;
    }
    EXPECT_LT(worst, 1000) << "the idle callback must keep coming during a TLS download";
}

TEST_F(Tls, BodySizeLimitHoldsOverTls) {
    http_.MaxBodySize = 1000;
    const Fetch f = Get(Url(ports_.Good, peers::kBigName));
    EXPECT_EQ(f.type, "other");
    EXPECT_EQ(f.error, kBodyTooLarge);
    EXPECT_EQ(stream_.Size(), 1000u);
    http_.Disconnect();
}

// What a caller sees of one Get.
struct Seen {
    std::string error; // "" on success
    int certificateError = 0;
    int code = 0;
    std::string body;
    std::vector<std::string> events;
    bool connectedAfter = false;

    bool operator==(const Seen& o) const {
        return error == o.error && certificateError == o.certificateError && code == o.code && body == o.body &&
               events == o.events && connectedAfter == o.connectedAfter;
    }
};

// A client as the flows set it up, recording its events.
class RecordingClient {
public:
    RecordingClient() {
        http.ProtocolVersion = "1.0";
        http.Request.ContentType = "application";
        http.OnConnected = [this](TIdHTTP*) { events_.push_back("connected"); };
        http.OnDisconnected = [this](TIdHTTP*) { events_.push_back("disconnected"); };
        http.OnWorkBegin = [this](TIdHTTP*, TWorkMode, int64_t n) { events_.push_back("begin " + std::to_string(n)); };
        http.OnWorkEnd = [this](TIdHTTP*, TWorkMode) { events_.push_back("end"); };
    }
    Seen Get(const std::string& url) {
        Seen seen;
        TMemoryStream stream;
        events_.clear();
        try {
            http.Get(url, stream);
        } catch (const EIdTlsError& e) {
            seen.error = e.Message();
            seen.certificateError = e.CertificateError;
        } catch (const EIdException& e) {
            seen.error = e.Message();
        }
        seen.code = http.ResponseCode;
        seen.body.assign(stream.Data.begin(), stream.Data.end());
        seen.events = events_;
        seen.connectedAfter = http.Connected();
        return seen;
    }
    TIdHTTP http;

private:
    std::vector<std::string> events_;
};

// A hint of the next request (ExpectNext) may make its connection early;
// whatever the hints and requests, a caller sees exactly what it sees
// without them: bodies, statuses, errors, events, open connections. The
// cases mix the same server under its two names, error statuses,
// certificate failures, refused connections, empty and big bodies, hints
// that come true and hints that do not, and Disconnect in between.
TEST_F(Tls, HintsOfTheNextRequestChangeNothingACallerSees) {
    const std::vector<std::string> pool = {
        Url(ports_.Good, peers::kTextName),
        Url(ports_.Good, peers::kTextName),
        Url(ports_.Good, peers::kBigName),
        Url(ports_.Good, peers::kEmptyName),
        Url(ports_.Good, "chybi.bin"),
        Url(ports_.Good, peers::kTextName, "localhost"),
        Url(ports_.Slow, peers::kTextName),
        Url(ports_.OtherHost, peers::kTextName),
        Url(ports_.SelfSigned, peers::kTextName),
        Url(ports_.Closed, "x"),
    };
    constexpr int kSeeds = 25;
    int steps = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed));
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
        RecordingClient hinted;
        RecordingClient plain;
        const std::size_t count = 2 + pick(4);
        for (std::size_t i = 0; i < count; ++i, ++steps) {
            const std::string url = pool[pick(pool.size())];
            const bool hint = pick(4) != 0;
            const std::string next = pool[pick(pool.size())];
            const bool disconnect = pick(5) == 0;
            SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(i) + ": " + url +
                         (hint ? ", hint " + next : std::string()) + (disconnect ? ", Disconnect first" : ""));
            if (disconnect) {
                hinted.http.Disconnect();
                plain.http.Disconnect();
            }
            if (hint)
                hinted.http.ExpectNext(next);
            const Seen withHint = hinted.Get(url);
            const Seen without = plain.Get(url);
            EXPECT_TRUE(withHint == without)
                << "with the hint: " << withHint.error << " " << withHint.code << " " << withHint.body.size()
                << " bytes, " << withHint.events.size() << " events; without: " << without.error << " " << without.code
                << " " << without.body.size() << " bytes, " << without.events.size() << " events";
        }
    }
    EXPECT_GE(steps, 2 * kSeeds);
}

// The connection made ahead holds the session of the request before it:
// a second request resumes it even though every kept session was
// forgotten in between, which a connection of its own could not. It is
// made only for the same server (host as written, and port), not through
// a proxy, and Disconnect drops it.
TEST_F(Tls, TheNextRequestsConnectionIsMadeAheadOnlyForTheSameServer) {
#ifdef _WIN32
    const bool resumes = false; // SChannel: no resumption, no connection ahead
#else
    const bool resumes = true;
#endif
    const std::string text = Url(ports_.Good, peers::kTextName);
    const std::string empty = Url(ports_.Good, peers::kEmptyName);
    struct Case {
        const char* name;
        std::string first;
        std::string hint;
        std::string second;
        bool proxy;
        bool disconnectBetween;
        bool ahead;
    } cases[] = {
        {"the same server", text, empty, empty, false, false, true},
        {"the same server, another file than the hint's", text, empty, Url(ports_.Good, peers::kBigName), false, false,
            true},
        {"after an error status", Url(ports_.Good, "chybi.bin"), text, text, false, false, true},
        {"the same port under another name", text, Url(ports_.Good, peers::kTextName, "localhost"),
            Url(ports_.Good, peers::kTextName, "localhost"), false, false, false},
        {"another server", text, Url(ports_.Slow, peers::kTextName), Url(ports_.Slow, peers::kTextName), false, false,
            false},
        {"a hint of plain HTTP", text, "http://127.0.0.1:" + std::to_string(ports_.Good) + "/x", text, false, false,
            false},
        {"no hint", text, "", text, false, false, false},
        {"Disconnect in between", text, empty, empty, false, true, false},
        {"through the proxy's tunnel", text, empty, empty, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingClient client;
        if (c.proxy) {
            client.http.Request.ProxyServer = "127.0.0.1";
            client.http.Request.ProxyPort = ports_.Proxy;
        }
        TTlsSession::ForgetSessions();
        if (!c.hint.empty())
            client.http.ExpectNext(c.hint);
        client.Get(c.first);
        TTlsSession::ForgetSessions();
        if (c.disconnectBetween)
            client.http.Disconnect();
        const Seen second = client.Get(c.second);
        EXPECT_EQ(second.error, "");
        EXPECT_EQ(second.code, 200);
        EXPECT_NE(std::find(second.events.begin(), second.events.end(), "connected"), second.events.end());
        EXPECT_EQ(client.http.SessionResumed, c.ahead && resumes);
    }
}

#ifndef _WIN32
// The connection on its own: made and handed over, given up when its time
// runs out, and stopped at once when dropped while it waits.
TEST_F(Tls, AConnectionAheadEndsWithinItsTimeAndStopsWhenDropped) {
    uint32_t loopback = 0;
    ASSERT_EQ(platform::net::ResolveHost("127.0.0.1", loopback), 0);
    {
        http::AheadConnection good("127.0.0.1", ports_.Good, loopback, nullptr, std::chrono::seconds(30));
        ASSERT_TRUE(good.WaitEnded(std::chrono::seconds(30)));
        http::AheadConnection::Taken made = good.Take();
        ASSERT_TRUE(made.Tls && made.Socket);
        EXPECT_FALSE(made.Tls->Resumed());
        EXPECT_FALSE(good.Take().Tls) << "handed over once";
        // The session works: a request on it is answered.
        const std::string request = "GET /" + std::string(peers::kTextName) + " HTTP/1.0\r\n\r\n";
        std::size_t sent = 0;
        ASSERT_EQ(
            made.Tls->Write(reinterpret_cast<const uint8_t*>(request.data()), request.size(), sent), TTlsStatus::Done);
        EXPECT_EQ(sent, request.size());
    }
    {
        // Accepted and never answered: out of time, nothing to take.
        const auto start = Clock::now();
        http::AheadConnection silent("127.0.0.1", ports_.Silent, loopback, nullptr, std::chrono::milliseconds(300));
        EXPECT_TRUE(silent.WaitEnded(std::chrono::seconds(10)));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
        EXPECT_FALSE(silent.Take().Tls);
    }
    {
        // Refused: ends at once.
        http::AheadConnection closed("127.0.0.1", ports_.Closed, loopback, nullptr, std::chrono::seconds(30));
        EXPECT_TRUE(closed.WaitEnded(std::chrono::seconds(10)));
        EXPECT_FALSE(closed.Take().Tls);
    }
    const auto start = Clock::now();
    {
        http::AheadConnection dropped("127.0.0.1", ports_.Silent, loopback, nullptr, std::chrono::seconds(30));
        EXPECT_FALSE(dropped.WaitEnded(std::chrono::milliseconds(100)));
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "dropping it stops its wait";
}

// The cipher suites a greeting (a TLS ClientHello) offers, in its order;
// empty when the bytes are no such greeting.
std::vector<unsigned> OfferedCipherSuites(const std::string& bytes) {
    const auto byte = [&bytes](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])); };
    // Record header (5), handshake header (4), version (2), random (32).
    std::size_t at = 5 + 4 + 2 + 32;
    if (bytes.size() < at + 1 || byte(0) != 0x16 || byte(5) != 0x01)
        return {};
    at += 1 + byte(at); // the session id
    if (bytes.size() < at + 2)
        return {};
    const std::size_t length = byte(at) << 8 | byte(at + 1);
    at += 2;
    if (length % 2 != 0 || bytes.size() < at + length)
        return {};
    std::vector<unsigned> suites;
    for (std::size_t i = at; i < at + length; i += 2)
        suites.push_back(byte(i) << 8 | byte(i + 1));
    return suites;
}

// The greeting a client sends to a server that reads it and closes.
template <typename Connect>
std::string GreetingOf(Connect connect) {
    tests::support::LoopbackServer listener([](tests::support::Connection& c, int) {
        c.WaitForClose(300);
        c.Close();
    });
    connect(listener.Port());
    const std::vector<std::string> received = listener.Received();
    return received.empty() ? std::string() : received.front();
}

// The library is set up without its table of cipher names, which costs
// every start: the greeting must still offer every suite, in the same
// order, that the system's own client offers under the system's settings.
TEST_F(Tls, TheGreetingOffersTheCipherSuitesOfTheSystemsOwnClient) {
    const std::vector<unsigned> ours = OfferedCipherSuites(
        GreetingOf([this](int port) { EXPECT_NE(Get(Url(port, "x")).error, "") << "the server never answers"; }));
    const std::vector<unsigned> system = OfferedCipherSuites(GreetingOf([](int port) {
        tests::support::Subprocess client(
            {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-ign_eof"});
        EXPECT_TRUE(client.WaitFor(std::chrono::seconds(20)));
    }));
    // TLS 1.3's suites and more than a few of TLS 1.2's.
    EXPECT_GE(ours.size(), 10u);
    EXPECT_EQ(ours, system);
}

// The trust store as a user's system has it: no bundle file named, the
// authorities in a hashed folder, looked up when a chain is checked.
class TlsTrustedByHashedFolder : public Tls {
protected:
    static void SetUpTestSuite() {
        Tls::SetUpTestSuite();
        const std::string folder = tmp_->path().string() + "/hashed";
        std::filesystem::create_directory(folder);
        peers_->Pki().AddCaToHashedFolder(folder);
        ::unsetenv("SSL_CERT_FILE");
        ::setenv("SSL_CERT_DIR", folder.c_str(), 1);
        TTlsSession::ForgetTrustStore();
    }
};

TEST_F(TlsTrustedByHashedFolder, TheAuthorityIsFoundByItsHashAndNothingElseIsTrusted) {
    EXPECT_EQ(Get(Url(ports_.Good, peers::kTextName)).error, "");
    EXPECT_EQ(http_.ResponseCode, 200);
    // Both chains below end at a trusted authority or at none; a session
    // resumed would skip the check.
    TTlsSession::ForgetSessions();
    const Fetch otherHost = Get(Url(ports_.OtherHost, peers::kTextName));
    EXPECT_EQ(otherHost.certificateError, kTlsCertAddressMismatch) << otherHost.error;
    const Fetch selfSigned = Get(Url(ports_.SelfSigned, peers::kTextName));
    EXPECT_EQ(selfSigned.certificateError, kTlsCertSelfSigned) << selfSigned.error;
}
#endif

} // namespace
