// The client against a scriptable server on loopback: request bytes, body
// forms, error texts, event order, connection state and the idle callback.
#include "http/FileStream.h"
#include "http/HttpResponse.h"
#include "http/IdHTTP.h"
#include "http/TlsSession.h"
#include "platform/net/TcpSocket.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using tests::support::ScriptedServer;
using tests::support::ScriptStep;

namespace {

using Clock = std::chrono::steady_clock;

const char* const kDirectRequestTail = "Accept: text/html, */*\r\n"
                                       "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                                       "Content-Type: application\r\n"
                                       "\r\n";

// A client set up the way the download operations set it up, with every
// event recorded in order.
struct Harness {
    TIdHTTP http;
    TIdAntiFreeze freeze;
    TMemoryStream stream;
    std::vector<std::string> events;
    std::string errorType;
    int errorCode = 0;

    Harness() {
        http.ProtocolVersion = "1.0";
        http.Request.ContentType = "application";
        http.Request.ProxyServer = "";
        http.Request.ProxyPort = 80;
        http.AntiFreeze = &freeze;
        http.OnConnected = [this](TIdHTTP* s) { Record(s, "connected"); };
        http.OnDisconnected = [this](TIdHTTP* s) { Record(s, "disconnected"); };
        http.OnWorkBegin = [this](TIdHTTP* s, TWorkMode m, int64_t n) {
            Record(s, "begin " + std::to_string(m) + " " + std::to_string(n));
        };
        http.OnWork = [this](TIdHTTP* s, TWorkMode m, int64_t n) {
            Record(s, "work " + std::to_string(m) + " " + std::to_string(n));
        };
        http.OnWorkEnd = [this](TIdHTTP* s, TWorkMode m) { Record(s, "end " + std::to_string(m)); };
    }

    void Record(TIdHTTP* sender, const std::string& what) {
        EXPECT_EQ(sender, &http) << what;
        events.push_back(what);
    }

    // "" on success, else the error's message (type in errorType).
    std::string Get(const std::string& url) {
        errorType.clear();
        errorCode = 0;
        try {
            http.Get(url, stream);
            return "";
        } catch (const EIdSocketError& e) {
            errorType = "socket";
            errorCode = e.Code;
            return e.Message();
        } catch (const EIdConnClosedGracefully& e) {
            errorType = "closed";
            return e.Message();
        } catch (const EIdProtocolReplyError& e) {
            errorType = "reply";
            errorCode = e.ReplyErrorCode;
            return e.Message();
        } catch (const EConvertError& e) {
            errorType = "convert";
            return e.Message();
        } catch (const EIdException& e) {
            errorType = "other";
            return e.Message();
        }
    }

    std::string Body() const { return std::string(stream.Data.begin(), stream.Data.end()); }
};

std::string UrlOf(const ScriptedServer& s, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(s.Port()) + path;
}

std::vector<std::string> Ev(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

// ---- request bytes ----------------------------------------------------

TEST(ClientRequest, DirectRequestIsExactlyFiveLines) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/dir/sub/file.txt?x=1#frag")), "");
    EXPECT_EQ(server.FirstRequest(), std::string("GET /dir/sub/file.txt?x=1 HTTP/1.0\r\n"
                                                 "Host: 127.0.0.1\r\n") +
                                         kDirectRequestTail);
}

TEST(ClientRequest, BackslashesAndNoPath) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    Harness h;
    EXPECT_EQ(h.Get("http:\\\\127.0.0.1:" + std::to_string(server.Port())), "");
    EXPECT_EQ(server.FirstRequest(), std::string("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n") + kDirectRequestTail);
}

TEST(ClientRequest, ThroughProxyTargetAndHostKeepAPortOtherThan80) {
    struct Case {
        const char* url;
        const char* requestHead;
    } cases[] = {
        {"http://update.example.test/verze/ver.txt",
            "GET http://update.example.test/verze/ver.txt HTTP/1.0\r\nHost: update.example.test\r\n"},
        {"http://update.example.test:8080/verze/ver.txt",
            "GET http://update.example.test:8080/verze/ver.txt HTTP/1.0\r\nHost: update.example.test:8080\r\n"},
        {"http://update.example.test:80/a.txt",
            "GET http://update.example.test/a.txt HTTP/1.0\r\nHost: update.example.test\r\n"},
        {"HTTPS://secure.example.test/a.txt",
            "GET HTTPS://secure.example.test/a.txt HTTP/1.0\r\nHost: secure.example.test\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        // With TLS an "https" address goes through a tunnel instead
        // (TlsTest.cpp); without it, it is handed on as it is.
        if (TTlsSession::Available() && std::string(c.url).rfind("HTTPS", 0) == 0)
            continue;
        ScriptedServer proxy({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
        Harness h;
        h.http.Request.ProxyServer = "127.0.0.1";
        h.http.Request.ProxyPort = proxy.Port();
        EXPECT_EQ(h.Get(c.url), "");
        EXPECT_EQ(h.Body(), "ok");
        EXPECT_EQ(proxy.FirstRequest(), std::string(c.requestHead) + kDirectRequestTail);
    }
}

// ---- body forms and event order -----------------------------------------

TEST(ClientBody, CountedBodyInHeaderPacket) {
    ScriptedServer server({ScriptStep::Read(),
        ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"), ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), "0123456789");
    EXPECT_EQ(h.events, Ev({"connected", "begin 0 10", "work 0 10", "end 0", "disconnected"}));
    EXPECT_FALSE(h.http.Connected());
    EXPECT_EQ(h.http.ResponseCode, 200);
    EXPECT_EQ(h.http.ResponseText, "200 OK");
}

TEST(ClientBody, CountedBodyInPiecesAddsUp) {
    std::string body(100000, 'b');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n"),
        ScriptStep::Slow(body, 30000, 5), ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), body);
    ASSERT_GE(h.events.size(), 5u);
    EXPECT_EQ(h.events.front(), "connected");
    EXPECT_EQ(h.events[1], "begin 0 100000");
    EXPECT_EQ(h.events[h.events.size() - 3], "work 0 100000");
    EXPECT_EQ(h.events[h.events.size() - 2], "end 0");
    EXPECT_EQ(h.events.back(), "disconnected");
    long long last = 0;
    for (std::size_t i = 2; i + 2 < h.events.size(); ++i) {
        ASSERT_EQ(h.events[i].rfind("work 0 ", 0), 0u) << h.events[i];
        long long n = std::stoll(h.events[i].substr(7));
        EXPECT_GT(n, last);
        last = n;
    }
}

TEST(ClientBody, CloseAfterHalfACountedBody) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n01234"),
        ScriptStep::CloseNow()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "Connection Closed Gracefully.");
    EXPECT_EQ(h.errorType, "closed");
    EXPECT_EQ(h.Body(), "01234");
    EXPECT_EQ(h.events, Ev({"connected", "begin 0 10", "work 0 5", "disconnected", "end 0"}));
    EXPECT_FALSE(h.http.Connected());
    h.http.Disconnect(); // nothing left to close: no second event
    EXPECT_EQ(h.events.size(), 5u);
}

TEST(ClientBody, ZeroContentLengthReadsUntilClose) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"),
        ScriptStep::Pause(20), ScriptStep::Out("hello"), ScriptStep::CloseNow()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), "hello");
    EXPECT_EQ(h.events, Ev({"connected", "begin 0 0", "work 0 5", "disconnected", "end 0"}));
}

TEST(ClientBody, ChunkedWithExtensions) {
    ScriptedServer server({ScriptStep::Read(),
        ScriptStep::Out("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=\"a b\"\r\nhello\r\n"),
        ScriptStep::Pause(20), ScriptStep::Out("6\r\n world\r\n0\r\n\r\n"), ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), "hello world");
    EXPECT_EQ(h.events,
        Ev({"connected", "begin 0 5", "work 0 5", "end 0", "begin 0 6", "work 0 6", "end 0", "disconnected"}));
}

TEST(ClientBody, ChunkedBadSizeIsABrokenResponse) {
    ScriptedServer server({ScriptStep::Read(),
        ScriptStep::Out("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nxyz\r\n\r\n"),
        ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), kChunkSizeNotANumber);
    EXPECT_EQ(h.Body(), "ab");
}

TEST(ClientBody, FoldedHeaderCarriesTheLength) {
    ScriptedServer server({ScriptStep::Read(),
        ScriptStep::Out("HTTP/1.0 200 OK\r\nServer: a\r\n  b\r\nContent-Length:\r\n\t4\r\n\r\nabcdXX"),
        ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), "abcd");
}

// ---- error statuses ---------------------------------------------------------

TEST(ClientStatus, ErrorStatusesReadTheBodyAndLeaveTheConnectionOpen) {
    struct Case {
        const char* response;
        const char* message;
        int code;
        const char* body;
    } cases[] = {
        {"HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!", "404 Not Found", 404, "not here!"},
        {"HTTP/1.0 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 5\r\n\r\nmoved", "302 Found", 302,
            "moved"},
        {"HTTP/1.0 200 OK\r\nLocation: http://elsewhere/\r\nContent-Length: 2\r\n\r\nok", "200 OK", 200, "ok"},
        {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 1\r\n\r\nx", "500 Internal Server Error", 500, "x"},
        {"HTTP/1.0 304 Not Modified\r\nContent-Length: 1\r\n\r\ny", "304 Not Modified", 304, "y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        ScriptedServer server({ScriptStep::Read(), ScriptStep::Out(c.response), ScriptStep::HoldOpen()});
        Harness h;
        EXPECT_EQ(h.Get(UrlOf(server, "/f")), c.message);
        EXPECT_EQ(h.errorType, "reply");
        EXPECT_EQ(h.errorCode, c.code);
        EXPECT_EQ(h.Body(), c.body);
        EXPECT_EQ(h.http.ResponseCode, c.code);
        EXPECT_TRUE(h.http.Connected());
        EXPECT_EQ(h.events.back(), "end 0");
        h.http.Disconnect();
        EXPECT_FALSE(h.http.Connected());
        EXPECT_EQ(h.events.back(), "disconnected");
        h.http.Disconnect();
        EXPECT_EQ(std::count(h.events.begin(), h.events.end(), "disconnected"), 1);
    }
}

TEST(ClientStatus, StatusCodeNotANumber) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 OK 200\r\nContent-Length: 2\r\n\r\nok"),
        ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "'OK' is not a valid integer value");
    EXPECT_EQ(h.errorType, "convert");
    EXPECT_EQ(h.http.ResponseText, "OK 200");
    EXPECT_TRUE(h.http.Connected());
    EXPECT_EQ(h.events, Ev({"connected"}));
}

TEST(ClientStatus, TooManyHeaderLinesIsAClearError) {
    std::string head = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 1200; ++i)
        head += "X-Filler: " + std::to_string(i) + "\r\n";
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out(head + "\r\n"), ScriptStep::HoldOpen()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "More than 1000 HTTP header lines.");
}

// ---- connection state ----------------------------------------------------

TEST(ClientConnection, OpenConnectionToAnotherServerIsClosedFirst) {
    ScriptedServer second({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc")});
    Harness h;
    ScriptedServer holding({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 404 Not Found\r\nContent-Length: 1\r\n\r\nz"),
        ScriptStep::HoldOpen()});
    EXPECT_EQ(h.Get(UrlOf(holding, "/a")), "404 Not Found");
    EXPECT_TRUE(h.http.Connected());
    h.events.clear();
    h.stream.Clear();
    EXPECT_EQ(h.Get(UrlOf(second, "/b")), "");
    EXPECT_EQ(h.Body(), "abc");
    EXPECT_EQ(h.events, Ev({"disconnected", "connected", "begin 0 3", "work 0 3", "end 0", "disconnected"}));
}

TEST(ClientConnection, DisconnectWithoutConnectionDoesNothing) {
    Harness h;
    h.http.Disconnect();
    EXPECT_FALSE(h.http.Connected());
    EXPECT_TRUE(h.events.empty());
}

// ---- socket errors ----------------------------------------------------------

TEST(ClientSocketErrors, RefusedPort) {
    int port = tests::support::FreeLoopbackPort();
    ASSERT_GT(port, 0);
    Harness h;
    EXPECT_EQ(h.Get("http://127.0.0.1:" + std::to_string(port) + "/x"), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(h.errorType, "socket");
    EXPECT_EQ(h.errorCode, 10061);
    EXPECT_EQ(h.events, Ev({"disconnected"}));
    EXPECT_FALSE(h.http.Connected());
}

TEST(ClientSocketErrors, RefusedProxyPort) {
    int port = tests::support::FreeLoopbackPort();
    Harness h;
    h.http.Request.ProxyServer = "localhost";
    h.http.Request.ProxyPort = port;
    EXPECT_EQ(h.Get("http://www.example.test/x"), "Socket Error # 10061\r\nConnection refused.");
}

TEST(ClientSocketErrors, UnresolvableHost) {
    // Never ask a real name server from a test: the lookup is replaced.
    std::vector<std::string> asked;
    platform::net::SetResolverForTesting([&](const std::string& host, uint32_t&) {
        asked.push_back(host);
        return 11001;
    });
    Harness h;
    EXPECT_EQ(h.Get("http://no-such-host.invalid/verze/ver.txt"), "Socket Error # 11001\r\n");
    EXPECT_EQ(h.errorCode, 11001);
    EXPECT_EQ(asked, std::vector<std::string>{"no-such-host.invalid"});
    EXPECT_EQ(h.events, Ev({"disconnected"}));
    platform::net::SetResolverForTesting({});
}

TEST(ClientSocketErrors, ResetDuringBody) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc"),
        ScriptStep::Pause(50), ScriptStep::ResetNow()});
    Harness h;
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_EQ(h.Body(), "abc");
    EXPECT_EQ(h.events, Ev({"connected", "begin 0 100", "work 0 3", "disconnected", "end 0"}));
    EXPECT_FALSE(h.http.Connected());
}

TEST(ClientSocketErrors, HttpsWithoutProxyIsRefusedAtOnce) {
    if (TTlsSession::Available())
        GTEST_SKIP() << "this build speaks TLS; http_client_without_tls_tests runs this case";
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\n\r\n")});
    Harness h;
    for (const char* scheme : {"https", "HTTPS", "HttpS"}) {
        EXPECT_EQ(h.Get(std::string(scheme) + "://127.0.0.1:" + std::to_string(server.Port()) + "/x"),
            "Intercept value is not valid");
        EXPECT_EQ(h.errorType, "other");
    }
    EXPECT_TRUE(h.events.empty());
    EXPECT_EQ(server.Connections(), 0);
}

TEST(ClientSocketErrors, UrlWithLineBreaksIsRefused) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\n\r\n")});
    Harness h;
    for (std::string tail : {std::string("/a\r\nX-Evil: 1"), std::string("/a\nb"), std::string("/a\0b", 4)}) {
        EXPECT_EQ(h.Get(UrlOf(server, tail)), "The URL contains a line break or a NUL character.");
        EXPECT_EQ(h.errorType, "other");
    }
    EXPECT_TRUE(h.events.empty());
    EXPECT_EQ(server.Connections(), 0);
}

TEST(ClientSocketErrors, BadProxyPortIsASocketError) {
    Harness h;
    h.http.Request.ProxyServer = "127.0.0.1";
    h.http.Request.ProxyPort = 0;
    EXPECT_EQ(h.Get("http://www.example.test/x"), "Socket Error # 10049\r\nCannot assign requested address.");
}

// ---- the idle callback ------------------------------------------------------

struct IdleWatch {
    std::vector<Clock::time_point> calls;
    long long MaxGapMs(Clock::time_point from) const {
        long long worst = 0;
        Clock::time_point prev = from;
        for (auto t : calls) {
            worst = std::max<long long>(worst, std::chrono::duration_cast<std::chrono::milliseconds>(t - prev).count());
            prev = t;
        }
        return worst;
    }
};

TEST(ClientIdle, ServerThatNeverAnswersKeepsTheIdleCallbackRunning) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::HoldOpen()});
    Harness h;
    IdleWatch watch;
    h.freeze.OnIdle = [&] {
        watch.calls.push_back(Clock::now());
        if (watch.calls.size() == 4)
            h.http.Disconnect(); // the user pressed "Storno"
    };
    auto start = Clock::now();
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "Socket Error # 10053\r\nSoftware caused connection abort.");
    EXPECT_EQ(h.errorCode, 10053);
    EXPECT_EQ(watch.calls.size(), 4u);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 700);
    EXPECT_EQ(h.events, Ev({"connected", "disconnected"}));
    EXPECT_FALSE(h.http.Connected());
}

TEST(ClientIdle, SteadyDownloadStillServesTheIdleCallback) {
    // Data keeps arriving every 20 ms, so no wait ever lasts a whole slice.
    std::string body(60 * 100, 'd');
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 6000\r\n\r\n"),
        ScriptStep::Slow(body, 100, 20), ScriptStep::HoldOpen()});
    Harness h;
    IdleWatch watch;
    h.freeze.OnIdle = [&] { watch.calls.push_back(Clock::now()); };
    auto start = Clock::now();
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), body);
    EXPECT_GE(watch.calls.size(), 3u);
    EXPECT_LT(watch.MaxGapMs(start), 1000);
}

TEST(ClientIdle, StornoDuringSteadyDownload) {
    std::string body(100 * 100, 'd');
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 10000\r\n\r\n"),
        ScriptStep::Slow(body, 100, 20), ScriptStep::HoldOpen()});
    Harness h;
    int idle = 0;
    h.freeze.OnIdle = [&] {
        if (++idle == 2)
            h.http.Disconnect();
    };
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "Socket Error # 10053\r\nSoftware caused connection abort.");
    ASSERT_GE(h.events.size(), 4u);
    EXPECT_EQ(h.events[h.events.size() - 2], "disconnected");
    EXPECT_EQ(h.events.back(), "end 0");
    EXPECT_EQ(std::count(h.events.begin(), h.events.end(), "end 0"), 1);
    EXPECT_GT(h.stream.Size(), 0u);
    EXPECT_LT(h.stream.Size(), body.size());
}

TEST(ClientIdle, DisconnectFromAWorkHandlerEndsTheGet) {
    std::string body(20000, 'w');
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n"),
        ScriptStep::Slow(body, 1000, 5), ScriptStep::HoldOpen()});
    Harness h;
    h.http.OnWork = [&](TIdHTTP*, TWorkMode, int64_t n) {
        h.events.push_back("work");
        if (n >= 3000)
            h.http.Disconnect();
    };
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "Socket Error # 10053\r\nSoftware caused connection abort.");
    EXPECT_EQ(h.events.back(), "end 0");
}

TEST(ClientIdle, CallbackCancelsAConnectThatHangs) {
    // A listener whose backlog is full leaves further connects pending.
    int port = 0;
    std::vector<int> fillers;
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    for (int i = 0; i < 8; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(fd);
    }
    Harness h;
    int idle = 0;
    h.freeze.OnIdle = [&] {
        if (++idle == 2)
            h.http.Disconnect();
    };
    std::string result = h.Get("http://127.0.0.1:" + std::to_string(port) + "/x");
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
    EXPECT_EQ(result, "Socket Error # 10053\r\nSoftware caused connection abort.");
    EXPECT_EQ(idle, 2);
    // The connect never completed: the wait for it was served in slices.
    EXPECT_EQ(h.events, Ev({"disconnected"}));
}

TEST(ClientIdle, GetFromTheIdleCallbackIsRefused) {
    ScriptedServer server({ScriptStep::Read(), ScriptStep::Pause(400),
        ScriptStep::Out("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"), ScriptStep::HoldOpen()});
    Harness h;
    std::string inner;
    h.freeze.OnIdle = [&] {
        if (!inner.empty())
            return;
        TMemoryStream other;
        try {
            h.http.Get(UrlOf(server, "/again"), other);
            inner = "returned";
        } catch (const EIdException& e) {
            inner = e.Message();
        }
    };
    EXPECT_EQ(h.Get(UrlOf(server, "/f")), "");
    EXPECT_EQ(h.Body(), "ok");
    EXPECT_EQ(inner, "A request is already in progress on this connection.");
}

// ---- streams ------------------------------------------------------------

// A memory stream with a small bound of its own, as a stand-in for the
// 2048 MiB one.
struct SmallMemoryStream : TMemoryStream {
    uint64_t MaxSize() const override { return 100; }
};

// The body bound comes from the stream: memory has one, a file has none
// but its disk. Every body form, both sides of the bound.
TEST(ClientStream, TheStreamBoundsTheBody) {
    const std::string body(150, 'b');
    const std::string forms[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: 150\r\n\r\n" + body,
        "HTTP/1.0 200 OK\r\n\r\n" + body,
        "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n96\r\n" + body + "\r\n0\r\n\r\n",
    };
    tests::support::TempDir dir;
    for (const auto& form : forms) {
        SCOPED_TRACE(form.substr(0, 40));
        {
            ScriptedServer server({ScriptStep::Read(), ScriptStep::Out(form), ScriptStep::CloseNow()});
            Harness h;
            SmallMemoryStream small;
            std::string error;
            try {
                h.http.Get(UrlOf(server, "/f"), small);
            } catch (const EIdException& e) {
                error = e.Message();
            }
            EXPECT_EQ(error, kBodyTooLarge);
            EXPECT_EQ(small.Size(), 100u);
        }
        {
            ScriptedServer server({ScriptStep::Read(), ScriptStep::Out(form), ScriptStep::CloseNow()});
            Harness h;
            TFileStream file(dir.prefix());
            ASSERT_TRUE(file.IsOpen()) << file.OpenError();
            h.http.Get(UrlOf(server, "/f"), file);
            ASSERT_EQ(file.Size(), body.size());
            std::string back(body.size(), '\0');
            file.Position = 0;
            EXPECT_EQ(file.Read(reinterpret_cast<uint8_t*>(back.data()), back.size()), body.size());
            EXPECT_EQ(back, body);
        }
    }
    EXPECT_EQ(tests::support::ListTree(dir.path()), std::set<std::string>{}) << "an uncommitted file has no name";
}

// A stream that cannot keep the body (here: its file could not be
// created) ends a 2xx Get with its own error, which is no network error;
// an error status stays the error, and an empty body needs no stream.
TEST(ClientStream, AStreamThatCannotKeepTheBody) {
    tests::support::TempDir dir;
    struct Case {
        const char* response;
        const char* error; // "stream" for EStreamError
        bool connected;    // the connection is left open
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n", "stream", true},
        {"HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!", "404 Not Found", true},
        {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        std::string response = c.response;
        if (std::string(c.error) == "stream")
            response += std::string(1000, 'x');
        ScriptedServer server({ScriptStep::Read(), ScriptStep::Out(response),
            c.connected ? ScriptStep::HoldOpen() : ScriptStep::CloseNow()});
        Harness h;
        TFileStream file(dir.prefix() + "missing/");
        ASSERT_FALSE(file.IsOpen());
        EXPECT_FALSE(file.OpenError().empty());
        std::string error;
        try {
            h.http.Get(UrlOf(server, "/f"), file);
        } catch (const EStreamError& e) {
            error = "stream";
            EXPECT_EQ(std::string(e.what()), file.OpenError());
        } catch (const EIdException& e) {
            error = e.Message();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(h.http.Connected(), c.connected);
        EXPECT_EQ(std::count(h.events.begin(), h.events.end(), "end 0"), 1) << "the work unit is closed";
        h.http.Disconnect();
    }
}

} // namespace
