// The HTTP client on Windows Sockets: the error numbers and texts come from
// the system (WSAGetLastError), the events and bodies are those of the
// Linux build. Two kinds of peer on loopback: a small scripted server in
// this program, and nginx and tinyproxy, which web_peers_for_wine (native
// build) starts on the Linux side before it runs this program.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "WebFiles.h"
#include "WindowsHelpers.h"

#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A client set up as the download operations set it up, every event recorded.
struct Harness {
    TIdHTTP http;
    TIdAntiFreeze freeze;
    TMemoryStream stream;
    std::vector<std::string> events;
    int errorCode = 0;

    Harness() {
        http.ProtocolVersion = "1.0";
        http.Request.ContentType = "application";
        http.Request.ProxyPort = 80;
        http.AntiFreeze = &freeze;
        http.OnConnected = [this](TIdHTTP*) { events.push_back("connected"); };
        http.OnDisconnected = [this](TIdHTTP*) { events.push_back("disconnected"); };
        http.OnWorkBegin = [this](TIdHTTP*, TWorkMode, int64_t n) { events.push_back("begin " + std::to_string(n)); };
        http.OnWork = [this](TIdHTTP*, TWorkMode, int64_t n) { lastWork = n; };
        http.OnWorkEnd = [this](TIdHTTP*, TWorkMode) { events.push_back("end " + std::to_string(lastWork)); };
    }

    // "" on success, else the error's message.
    std::string Get(const std::string& url) {
        errorCode = 0;
        try {
            http.Get(url, stream);
            return "";
        } catch (const EIdSocketError& e) {
            errorCode = e.Code;
            return e.Message();
        } catch (const EIdException& e) {
            return e.Message();
        }
    }
    std::string Body() const { return std::string(stream.Data.begin(), stream.Data.end()); }

    int64_t lastWork = 0;
};

std::vector<std::string> Ev(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

// One listening socket on 127.0.0.1; each accepted connection gets its
// request head read and is then handed to the script.
class ScriptedServer {
public:
    using Script = std::function<void(SOCKET)>;
    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        int len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        ::closesocket(listener_);
        thread_.join();
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    const std::string& Request() const { return request_; }

    static void Send(SOCKET s, const std::string& bytes) { ::send(s, bytes.data(), static_cast<int>(bytes.size()), 0); }
    // Closes with a reset instead of an orderly close.
    static void Reset(SOCKET s) {
        linger hard{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
        ::closesocket(s);
    }
    // Waits until the client closes its end (or half a minute).
    static void HoldUntilClientCloses(SOCKET s) {
        char c;
        DWORD limit = 30000;
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
        while (::recv(s, &c, 1, 0) > 0) {
        }
        ::closesocket(s);
    }

private:
    void Run() {
        while (!stop_) {
            SOCKET s = ::accept(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const int n = ::recv(s, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                head.append(buffer, static_cast<std::size_t>(n));
            }
            request_ = head;
            script_(s);
        }
    }

    Script script_;
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::string request_;
    std::thread thread_;
    bool stop_ = false;
};

// A loopback port with nothing listening: bound, then released.
int ClosedPort() {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::closesocket(s);
    return ntohs(a.sin_port);
}

// ---- the system's own error numbers ------------------------------------------

TEST(WinSockets, RefusedPortIs10061) {
    Harness h;
    EXPECT_EQ(h.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x"),
        "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(h.errorCode, WSAECONNREFUSED);
    EXPECT_EQ(h.events, Ev({"disconnected"}));
    EXPECT_FALSE(h.http.Connected());
}

TEST(WinSockets, RefusedProxyIs10061) {
    Harness h;
    h.http.Request.ProxyServer = "localhost";
    h.http.Request.ProxyPort = ClosedPort();
    EXPECT_EQ(h.Get("http://www.example.test/x"), "Socket Error # 10061\r\nConnection refused.");
}

TEST(WinSockets, CloseAfterHalfACountedBody) {
    ScriptedServer server([](SOCKET s) {
        ScriptedServer::Send(s, "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n12345");
        ::shutdown(s, SD_SEND);
        ::Sleep(100);
        ::closesocket(s);
    });
    Harness h;
    EXPECT_EQ(h.Get(server.Url("/f")), "Connection Closed Gracefully.");
    EXPECT_EQ(h.Body(), "12345");
    EXPECT_FALSE(h.http.Connected());
}

TEST(WinSockets, RequestIsExactlyFiveLines) {
    ScriptedServer server([](SOCKET s) {
        ScriptedServer::Send(s, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
        ::closesocket(s);
    });
    Harness h;
    EXPECT_EQ(h.Get(server.Url("/verze/ver.txt")), "");
    EXPECT_EQ(h.Body(), "ok");
    EXPECT_EQ(server.Request(), "GET /verze/ver.txt HTTP/1.0\r\n"
                                "Host: 127.0.0.1\r\n"
                                "Accept: text/html, */*\r\n"
                                "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                                "Content-Type: application\r\n"
                                "\r\n");
    EXPECT_EQ(h.events, Ev({"connected", "begin 2", "end 2", "disconnected"}));
}

TEST(WinSockets, StornoWhileTheServerNeverAnswers) {
    ScriptedServer server([](SOCKET s) { ScriptedServer::HoldUntilClientCloses(s); });
    Harness h;
    std::vector<Clock::time_point> idle;
    h.freeze.OnIdle = [&] {
        idle.push_back(Clock::now());
        if (idle.size() == 4)
            h.http.Disconnect(); // the user pressed "Storno"
    };
    const auto start = Clock::now();
    EXPECT_EQ(h.Get(server.Url("/f")), "Socket Error # 10053\r\nSoftware caused connection abort.");
    EXPECT_EQ(idle.size(), 4u);
    // Four idle slices of 250 ms.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 700);
    EXPECT_EQ(h.events, Ev({"connected", "disconnected"}));
}

// ---- nginx and tinyproxy on the Linux side -----------------------------------

int PeerPort(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? std::atoi(value) : 0;
}

class RealPeers : public ::testing::Test {
protected:
    void SetUp() override {
        nginx_ = PeerPort("HALVORNE_TEST_NGINX_PORT");
        proxy_ = PeerPort("HALVORNE_TEST_PROXY_PORT");
        ASSERT_GT(nginx_, 0) << "run this program through web_peers_for_wine, which starts nginx and tinyproxy";
        ASSERT_GT(proxy_, 0);
    }
    std::string Url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(nginx_) + "/" + name; }
    void UseProxy() {
        h_.http.Request.ProxyServer = "127.0.0.1";
        h_.http.Request.ProxyPort = proxy_;
    }

    Harness h_;
    int nginx_ = 0;
    int proxy_ = 0;
};

TEST_F(RealPeers, DirectFetchOfABinaryFile) {
    EXPECT_EQ(h_.Get(Url(webfiles::kBinaryName)), "");
    EXPECT_TRUE(h_.Body() == webfiles::BinaryContent());
    EXPECT_EQ(h_.http.ResponseCode, 200);
    EXPECT_EQ(h_.events, Ev({"connected", "begin 1048576", "end 1048576", "disconnected"}));
}

TEST_F(RealPeers, DirectFetchOfATextAndAnEmptyFile) {
    EXPECT_EQ(h_.Get(Url(webfiles::kTextName)), "");
    EXPECT_EQ(h_.Body(), webfiles::kTextContent);
    h_.stream.Clear();
    h_.events.clear();
    h_.lastWork = 0;
    EXPECT_EQ(h_.Get(Url(webfiles::kEmptyName)), "");
    EXPECT_EQ(h_.Body(), "");
    // No length: read until nginx closes.
    EXPECT_EQ(h_.events, Ev({"connected", "begin 0", "disconnected", "end 0"}));
}

TEST_F(RealPeers, MissingFileIs404AndStaysOpenUntilDisconnect) {
    EXPECT_EQ(h_.Get(Url("chybi.bin")), "404 Not Found");
    EXPECT_EQ(h_.http.ResponseCode, 404);
    EXPECT_TRUE(h_.http.Connected());
    h_.http.Disconnect();
    EXPECT_FALSE(h_.http.Connected());
}

TEST_F(RealPeers, ThroughTheProxy) {
    UseProxy();
    EXPECT_EQ(h_.Get(Url(webfiles::kBinaryName)), "");
    EXPECT_TRUE(h_.Body() == webfiles::BinaryContent());
    h_.stream.Clear();
    EXPECT_EQ(h_.Get(Url("chybi.bin")), "404 Not Found");
    h_.http.Disconnect();
}

TEST_F(RealPeers, ResetDuringTheBodyEndsTheGet) {
    const int port = PeerPort("HALVORNE_TEST_RESET_PORT");
    ASSERT_GT(port, 0);
    const std::string message = h_.Get("http://127.0.0.1:" + std::to_string(port) + "/f");
    // wine reports a reset as an orderly close after a select()
    // (WineQuirkResetAfterSelectReadsAsAnOrderlyClose);
    // Windows reports it as 10054.
    if (!wintest::RunningUnderWine()) {
        EXPECT_EQ(message, "Socket Error # 10054\r\nConnection reset by peer.");
        EXPECT_EQ(h_.errorCode, WSAECONNRESET);
    } else {
        EXPECT_EQ(message, "Connection Closed Gracefully.");
    }
    EXPECT_EQ(h_.Body(), "abc");
    EXPECT_EQ(h_.events, Ev({"connected", "begin 100", "disconnected", "end 3"}));
    EXPECT_FALSE(h_.http.Connected());
}

// Reads what the resetting peer sends until a receive ends it; returns that
// receive's result (0 for an orderly close) and its error code. With
// waitFirst, each receive follows a select() that reports the socket
// readable, as the client's waits do.
struct ResetRead {
    std::string got;
    int result = 0;
    int error = 0;
};
ResetRead ReadFromResettingPeer(int port, bool waitFirst) {
    ResetRead r;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<u_short>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        r.error = ::WSAGetLastError();
        ::closesocket(s);
        return r;
    }
    const std::string request = "GET /f HTTP/1.0\r\n\r\n";
    ::send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[256];
    for (int rounds = 0; rounds < 100; ++rounds) {
        if (waitFirst) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval limit{5, 0};
            ::select(0, &readable, nullptr, nullptr, &limit);
        }
        r.result = ::recv(s, buffer, sizeof buffer, 0);
        if (r.result <= 0)
            break;
        r.got.append(buffer, static_cast<std::size_t>(r.result));
    }
    r.error = r.result < 0 ? ::WSAGetLastError() : 0;
    ::closesocket(s);
    return r;
}

// On Windows a receive on a connection the peer has reset fails with
// WSAECONNRESET, whether or not a select() came first. Under wine it does
// so only without the select(): after a select() that reports the reset as
// "readable", the receive returns 0, an orderly close, and the client can
// only report "Connection Closed Gracefully." (see ResetDuringTheBodyEndsTheGet).
// The peer is a Linux socket closed with a zero linger time. When this test
// fails, wine has learnt it and the check there can be made on wine too.
TEST_F(RealPeers, WineQuirkResetAfterSelectReadsAsAnOrderlyClose) {
    if (!wintest::RunningUnderWine())
        GTEST_SKIP() << "only wine does this";
    const int port = PeerPort("HALVORNE_TEST_RESET_PORT");
    ASSERT_GT(port, 0);
    const ResetRead plain = ReadFromResettingPeer(port, false);
    EXPECT_EQ(plain.got, webfiles::kResetResponseStart);
    EXPECT_EQ(plain.result, SOCKET_ERROR);
    EXPECT_EQ(plain.error, WSAECONNRESET);
    const ResetRead waited = ReadFromResettingPeer(port, true);
    EXPECT_EQ(waited.got, webfiles::kResetResponseStart);
    EXPECT_EQ(waited.result, 0) << "error " << waited.error;
}

TEST_F(RealPeers, ThroughTheProxyToAClosedPortIsAnErrorStatus) {
    UseProxy();
    const std::string message = h_.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x.bin");
    EXPECT_EQ(message.rfind("500", 0), 0u) << message;
    h_.http.Disconnect();
}

} // namespace
