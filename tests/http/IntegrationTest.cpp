// The client against real servers started on loopback: nginx directly and
// tinyproxy as the proxy in front of it.
#include "tests/support/TempDir.h"
#include "tests/support/Ports.h"
#include "tests/support/WebServers.h"
#include "http/IdHTTP.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

class RealServers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rootDir_ = new tests::support::TempDir("http-root-");
        root_ = rootDir_->path().string();
        std::mt19937 rng(12345);
        std::string binary(1 << 20, '\0');
        for (auto& c : binary)
            c = static_cast<char>(rng());
        binary_ = binary;
        tests::support::WriteFile(root_ + "/verze.bin", binary_);
        tests::support::WriteFile(root_ + "/ver.txt", "02.15\r\nNová verze\r\n");
        tests::support::WriteFile(root_ + "/empty.txt", "");
        nginx_ = new tests::support::NginxServer(root_);
        proxy_ = new tests::support::TinyProxyServer();
    }
    static void TearDownTestSuite() {
        delete proxy_;
        delete nginx_;
        delete rootDir_;
    }
    void SetUp() override {
        ASSERT_TRUE(nginx_->Running()) << nginx_->Error();
        http_.ProtocolVersion = "1.0";
        http_.Request.ContentType = "application";
        http_.Request.ProxyPort = 80;
        http_.OnConnected = [this](TIdHTTP*) { events_.push_back("connected"); };
        http_.OnDisconnected = [this](TIdHTTP*) { events_.push_back("disconnected"); };
        http_.OnWorkBegin = [this](TIdHTTP*, TWorkMode, int64_t n) { events_.push_back("begin " + std::to_string(n)); };
        http_.OnWork = [this](TIdHTTP*, TWorkMode, int64_t n) {
            lastWork_ = n;
            ++works_;
        };
        http_.OnWorkEnd = [this](TIdHTTP*, TWorkMode) { events_.push_back("end " + std::to_string(lastWork_)); };
    }
    void UseProxy() {
        ASSERT_TRUE(proxy_->Running()) << proxy_->Error();
        http_.Request.ProxyServer = "127.0.0.1";
        http_.Request.ProxyPort = proxy_->Port();
    }
    std::string Url(const std::string& name) const {
        return "http://127.0.0.1:" + std::to_string(nginx_->Port()) + "/" + name;
    }
    std::string Fetch(const std::string& url) {
        try {
            http_.Get(url, stream_);
            return "";
        } catch (const EIdException& e) {
            return e.Message();
        }
    }
    std::string Body() const { return std::string(stream_.Data.begin(), stream_.Data.end()); }

    static tests::support::TempDir* rootDir_;
    static std::string root_;
    static std::string binary_;
    static tests::support::NginxServer* nginx_;
    static tests::support::TinyProxyServer* proxy_;

    TIdHTTP http_;
    TMemoryStream stream_;
    std::vector<std::string> events_;
    int64_t lastWork_ = 0;
    int works_ = 0;
};

tests::support::TempDir* RealServers::rootDir_ = nullptr;
std::string RealServers::root_;
std::string RealServers::binary_;
tests::support::NginxServer* RealServers::nginx_ = nullptr;
tests::support::TinyProxyServer* RealServers::proxy_ = nullptr;

TEST_F(RealServers, DirectFetchOfABinaryFile) {
    EXPECT_EQ(Fetch(Url("verze.bin")), "");
    EXPECT_TRUE(Body() == binary_);
    EXPECT_EQ(http_.ResponseCode, 200);
    EXPECT_EQ(events_, (std::vector<std::string>{"connected", "begin 1048576", "end 1048576", "disconnected"}));
    EXPECT_GE(works_, 1);
    EXPECT_FALSE(http_.Connected());
    // counted bodies are reserved once, exactly
    EXPECT_EQ(stream_.Data.capacity(), binary_.size());
}

TEST_F(RealServers, DirectFetchOfASmallAndAnEmptyFile) {
    EXPECT_EQ(Fetch(Url("ver.txt")), "");
    EXPECT_EQ(Body(), "02.15\r\nNová verze\r\n");
    stream_.Clear();
    events_.clear();
    lastWork_ = 0;
    EXPECT_EQ(Fetch(Url("empty.txt")), "");
    EXPECT_EQ(Body(), "");
    // No length means reading until nginx closes.
    EXPECT_EQ(events_, (std::vector<std::string>{"connected", "begin 0", "disconnected", "end 0"}));
}

TEST_F(RealServers, DirectMissingFileIs404AndStaysOpen) {
    std::string message = Fetch(Url("chybi.bin"));
    EXPECT_EQ(message, "404 Not Found");
    EXPECT_NE(message.find("404"), std::string::npos);
    EXPECT_EQ(http_.ResponseCode, 404);
    EXPECT_TRUE(http_.Connected());
    http_.Disconnect();
    EXPECT_FALSE(http_.Connected());
    EXPECT_EQ(events_.back(), "disconnected");
}

TEST_F(RealServers, SequentialFetchesReconnectEachTime) {
    for (int i = 0; i < 3; ++i) {
        stream_.Clear();
        EXPECT_EQ(Fetch(Url("ver.txt")), "");
        EXPECT_EQ(Body(), "02.15\r\nNová verze\r\n");
    }
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "connected"), 3);
    EXPECT_EQ(std::count(events_.begin(), events_.end(), "disconnected"), 3);
}

TEST_F(RealServers, ThroughProxyToAPortOtherThan80) {
    UseProxy();
    EXPECT_EQ(Fetch(Url("verze.bin")), "");
    EXPECT_TRUE(Body() == binary_);
    EXPECT_EQ(events_.front(), "connected");
    EXPECT_EQ(events_.back(), "disconnected");
}

TEST_F(RealServers, ThroughProxyMissingFileIs404) {
    UseProxy();
    EXPECT_EQ(Fetch(Url("chybi.bin")), "404 Not Found");
    http_.Disconnect();
}

TEST_F(RealServers, ThroughProxyToAClosedPortIsAnErrorStatus) {
    UseProxy();
    int closedPort = tests::support::FreeLoopbackPort();
    std::string message = Fetch("http://127.0.0.1:" + std::to_string(closedPort) + "/x.bin");
    EXPECT_EQ(message.rfind("500", 0), 0u) << message;
    http_.Disconnect();
}

TEST_F(RealServers, HttpsThroughProxyIsNotRefusedLocally) {
    UseProxy();
    // The proxy gets the request; with no TLS origin it answers with an
    // error status, which shows the client did not refuse it itself.
    std::string message = Fetch("https://127.0.0.1:" + std::to_string(tests::support::FreeLoopbackPort()) + "/x");
    EXPECT_NE(message, "Intercept value is not valid");
    EXPECT_EQ(message.find("Socket Error"), std::string::npos) << message;
    http_.Disconnect();
}

} // namespace
