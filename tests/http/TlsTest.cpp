// HTTPS in the client against real nginx with certificates of a test CA,
// directly and through tinyproxy's CONNECT tunnel: the bytes, the events,
// every certificate failure named, Storno and the idle callback as over
// plain HTTP.
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"
#include "tests/support/WebServers.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPki.h"
#include "http/HttpResponse.h"
#include "http/IdHTTP.h"

#include <openssl/x509_vfy.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using tests::support::ScriptedServer;
using tests::support::ScriptStep;
using Clock = std::chrono::steady_clock;

namespace {

struct Fetch {
    std::string error; // "" on success
    int certificateError = 0;
    std::string type;
};

// One nginx per certificate, all serving the same folder.
class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new tests::support::TempDir();
        const std::string dir = tmp_->path().string();
        root_ = dir + "/www";
        std::filesystem::create_directory(root_);
        std::mt19937 rng(77);
        binary_.resize(3 << 20);
        for (auto& c : binary_)
            c = static_cast<char>(rng());
        tests::support::WriteFile(root_ + "/big.bin", binary_);
        tests::support::WriteFile(root_ + "/ver.txt", "5.30\r\n");
        tests::support::WriteFile(root_ + "/empty.txt", "");
        pki_ = new tests::support::TestPki(dir);
        // Only the test's own CA is trusted, nothing of the system's.
        std::filesystem::create_directory(dir + "/no-certs");
        ::setenv("SSL_CERT_FILE", pki_->CaFile().c_str(), 1);
        ::setenv("SSL_CERT_DIR", (dir + "/no-certs").c_str(), 1);

        auto serve = [](const tests::support::CertificateFiles& f, const std::string& rate = "") {
            return new tests::support::NginxServer(
                root_, {.copyRoot = true, .certFile = f.CertFile, .keyFile = f.KeyFile, .rate = rate});
        };
        good_ = serve(pki_->Loopback());
        otherHost_ = serve(pki_->Issue({"other", {"update.example.test"}, {"192.0.2.7"}}));
        selfSigned_ = serve(pki_->SelfSigned({"selfsigned", {"localhost"}, {"127.0.0.1"}}));
        expired_ = serve(pki_->Issue({"expired", {"localhost"}, {"127.0.0.1"}, -30, -1}));
        slow_ = serve(pki_->Loopback(), "256k");
        proxy_ = new tests::support::TinyProxyServer();
    }
    static void TearDownTestSuite() {
        delete proxy_;
        for (auto* s : {good_, otherHost_, selfSigned_, expired_, slow_})
            delete s;
        delete pki_;
        delete tmp_;
        ::unsetenv("SSL_CERT_FILE");
        ::unsetenv("SSL_CERT_DIR");
    }

    void SetUp() override {
        for (auto* s : {good_, otherHost_, selfSigned_, expired_, slow_})
            ASSERT_TRUE(s->Running()) << s->Error();
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

    void UseProxy() {
        ASSERT_TRUE(proxy_->Running()) << proxy_->Error();
        http_.Request.ProxyServer = "127.0.0.1";
        http_.Request.ProxyPort = proxy_->Port();
    }

    static std::string Url(
        const tests::support::NginxServer* s, const std::string& name, const std::string& host = "127.0.0.1") {
        return "https://" + host + ":" + std::to_string(s->Port()) + "/" + name;
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

    static tests::support::TempDir* tmp_;
    static tests::support::TestPki* pki_;
    static std::string root_, binary_;
    static tests::support::NginxServer *good_, *otherHost_, *selfSigned_, *expired_, *slow_;
    static tests::support::TinyProxyServer* proxy_;

    TIdHTTP http_;
    TIdAntiFreeze freeze_;
    TMemoryStream stream_;
    std::vector<std::string> events_;
    int64_t lastWork_ = 0;
};

tests::support::TempDir* Tls::tmp_ = nullptr;
tests::support::TestPki* Tls::pki_ = nullptr;
std::string Tls::root_, Tls::binary_;
tests::support::NginxServer *Tls::good_, *Tls::otherHost_, *Tls::selfSigned_, *Tls::expired_, *Tls::slow_;
tests::support::TinyProxyServer* Tls::proxy_ = nullptr;

TEST_F(Tls, FetchesOverHttpsWithThePlainEvents) {
    for (const std::string host : {"127.0.0.1", "localhost", "LOCALHOST"}) {
        SCOPED_TRACE(host);
        stream_.Clear();
        events_.clear();
        EXPECT_EQ(Get(Url(good_, "big.bin", host)).error, "");
        EXPECT_TRUE(Body() == binary_) << "body differs";
        EXPECT_EQ(http_.ResponseCode, 200);
        EXPECT_EQ(events_, (std::vector<std::string>{"connected", "begin 3145728", "end 3145728", "disconnected"}));
        EXPECT_FALSE(http_.Connected());
    }
    // A body read until the server closes ends at its close notification.
    stream_.Clear();
    events_.clear();
    EXPECT_EQ(Get(Url(good_, "empty.txt")).error, "");
    EXPECT_EQ(Body(), "");
}

TEST_F(Tls, ThroughTinyproxysTunnel) {
    UseProxy();
    EXPECT_EQ(Get(Url(good_, "big.bin")).error, "");
    EXPECT_TRUE(Body() == binary_) << "body differs";
    EXPECT_EQ(events_, (std::vector<std::string>{"connected", "begin 3145728", "end 3145728", "disconnected"}));
    // Through the tunnel the server's certificate is checked all the same.
    stream_.Clear();
    events_.clear();
    const Fetch f = Get(Url(selfSigned_, "ver.txt"));
    EXPECT_EQ(f.type, "tls") << f.error;
    EXPECT_EQ(f.certificateError, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT);
    EXPECT_EQ(events_, (std::vector<std::string>{"disconnected"}));
}

TEST_F(Tls, TheTunnelRequestAndARefusal) {
    ScriptedServer proxy({ScriptStep::Read(),
        ScriptStep::Out("HTTP/1.0 403 Forbidden\r\nContent-Length: 4\r\n\r\nnope"), ScriptStep::HoldOpen()});
    http_.Request.ProxyServer = "127.0.0.1";
    http_.Request.ProxyPort = proxy.Port();
    const Fetch f = Get("https://update.example.test/verze/ver.txt");
    // The proxy's answer, never to be taken for the server's.
    EXPECT_EQ(f.type, "proxy");
    EXPECT_EQ(f.error, "403 Forbidden");
    EXPECT_EQ(http_.ResponseCode, 403);
    EXPECT_EQ(proxy.FirstRequest(), "CONNECT update.example.test:443 HTTP/1.0\r\n"
                                    "Host: update.example.test:443\r\n"
                                    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
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
        {"issued for another address", Url(otherHost_, "ver.txt"), X509_V_ERR_IP_ADDRESS_MISMATCH,
            "IP address mismatch"},
        {"issued for another name", Url(otherHost_, "ver.txt", "localhost"), X509_V_ERR_HOSTNAME_MISMATCH,
            "hostname mismatch"},
        {"self-signed, in no store", Url(selfSigned_, "ver.txt"), X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT,
            "self-signed certificate"},
        {"expired", Url(expired_, "ver.txt"), X509_V_ERR_CERT_HAS_EXPIRED, "certificate has expired"},
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
    EXPECT_EQ(Get(Url(good_, "chybi.bin")).error, "404 Not Found");
    EXPECT_TRUE(http_.Connected());
    http_.Disconnect();
    const Fetch refused = Get("https://127.0.0.1:" + std::to_string(tests::support::FreeLoopbackPort()) + "/x");
    EXPECT_EQ(refused.error, "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(refused.type, "socket");
}

TEST_F(Tls, AServerThatDoesNotSpeakTlsIsAClearFailure) {
    // It answers the greeting the way a plain HTTP server answers bytes
    // it cannot read.
    ScriptedServer plain(
        {ScriptStep::Pause(50), ScriptStep::Out("HTTP/1.0 400 Bad Request\r\n\r\n"), ScriptStep::HoldOpen()});
    const Fetch f = Get("https://127.0.0.1:" + std::to_string(plain.Port()) + "/x");
    EXPECT_EQ(f.type, "tls") << f.error;
    EXPECT_EQ(f.error.rfind(kTlsErrorPrefix, 0), 0u) << f.error;
    EXPECT_EQ(f.certificateError, 0);
    EXPECT_FALSE(http_.Connected());
}

TEST_F(Tls, StornoDuringTheHandshakeAndDuringTheBody) {
    // A server that accepts and never answers the greeting: the wait is
    // served in idle slices, and Storno ends it.
    ScriptedServer silent({ScriptStep::HoldOpen()});
    int idle = 0;
    freeze_.OnIdle = [&] {
        if (++idle == 3)
            http_.Disconnect();
    };
    Fetch f = Get("https://127.0.0.1:" + std::to_string(silent.Port()) + "/x");
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
    f = Get(Url(slow_, "big.bin"));
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
    const Fetch f = Get(Url(good_, "big.bin"));
    EXPECT_EQ(f.type, "other");
    EXPECT_EQ(f.error, kBodyTooLarge);
    EXPECT_EQ(stream_.Size(), 1000u);
    http_.Disconnect();
}

} // namespace
