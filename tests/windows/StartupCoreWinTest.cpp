// Halvorne's widget-free start-up on Windows: the configuration file beside
// the program through the system's profile functions, and the name of that
// file for a Windows program path.
#include "ScratchDir.h"

#include "startup/core/CommandLine.h"
#include "startup/core/ProxySettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TRunParameters WithIni(const std::string& file) {
    TRunParameters p;
    p.IniFileName = file;
    return p;
}

// The file's lines, line ends aside.
std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

TEST(StartupWin, FirstStartCreatesTheThreeKeysInOrder) {
    crosstest::ScratchDir dir;
    TRunParameters p = WithIni(dir.file("Halvorne.INI"));
    p.ProxyPort = 5;
    std::string error = "stale";
    ASSERT_TRUE(startup::LoadProxySettings(p, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(Lines(crosstest::ReadBytes(p.IniFileName)),
        (std::vector<std::string>{"[Proxy Server]", "UseProxy=0", "ProxyName=", "ProxyPort=0"}));
    EXPECT_FALSE(p.UseProxy);
    EXPECT_EQ(p.ProxyName, "");
    EXPECT_EQ(p.ProxyPort, 0);
}

TEST(StartupWin, ReadsWhatTheFileHoldsWithoutChecking) {
    const struct {
        const char* content;
        bool useProxy;
        const char* name;
        int port;
    } cases[] = {
        {"[Proxy Server]\r\nUseProxy=1\r\nProxyName=proxy.firma.cz\r\nProxyPort=8080\r\n", true, "proxy.firma.cz",
            8080},
        {"[Proxy Server]\r\nUseProxy=ano\r\nProxyName=h\r\nProxyPort=70000\r\n", false, "h", 70000},
        {"[proxy server]\r\nuseproxy=0x1\r\nproxyport=0x1F90\r\n", true, "", 8080},
    };
    for (const auto& c : cases) {
        crosstest::ScratchDir dir;
        TRunParameters p = WithIni(dir.file("Halvorne.INI"));
        crosstest::WriteBytes(p.IniFileName, c.content);
        std::string error;
        ASSERT_TRUE(startup::LoadProxySettings(p, error)) << c.content;
        EXPECT_EQ(p.UseProxy, c.useProxy) << c.content;
        EXPECT_EQ(p.ProxyName, c.name) << c.content;
        EXPECT_EQ(p.ProxyPort, c.port) << c.content;
        EXPECT_EQ(crosstest::ReadBytes(p.IniFileName), c.content);
    }
}

TEST(StartupWin, UnwritableFileReportsAndKeepsTheValues) {
    crosstest::ScratchDir dir;
    TRunParameters p = WithIni(dir.file("no\\such\\dir\\Halvorne.INI"));
    p.UseProxy = true;
    p.ProxyName = "kept";
    p.ProxyPort = 1234;
    std::string error;
    EXPECT_FALSE(startup::LoadProxySettings(p, error));
    EXPECT_EQ(error, "Unable to write to " + p.IniFileName);
    EXPECT_TRUE(p.UseProxy);
    EXPECT_EQ(p.ProxyName, "kept");
    EXPECT_EQ(p.ProxyPort, 1234);
}

TEST(StartupWin, TheConfigurationFileIsBesideTheProgram) {
    EXPECT_EQ(startup::IniFileNameFor("C:\\Program Files\\Evidence\\Halvorne.exe"),
        "C:\\Program Files\\Evidence\\Halvorne.INI");
    EXPECT_EQ(startup::IniFileNameFor("C:\\EV.2\\Halvorne.exe"), "C:\\EV.2\\Halvorne.INI");
}

} // namespace
