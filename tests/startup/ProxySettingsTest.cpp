// Reading the proxy settings into the run parameters, and the INI object
// that reports failed writes.
#include "startup/core/IniFile.h"
#include "startup/core/ProxySettings.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace tests::support;

namespace {

TRunParameters WithIni(const std::string& file) {
    TRunParameters p;
    p.IniFileName = file;
    return p;
}

TEST(LoadProxySettings, FirstStartCreatesTheThreeKeysInOrder) {
    TempDir dir;
    TRunParameters p = WithIni(dir.file("Halvorne.INI"));
    p.ProxyPort = 5; // replaced by what the new file holds
    std::string error = "stale";
    ASSERT_TRUE(startup::LoadProxySettings(p, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(ReadFile(p.IniFileName), "[Proxy Server]\nUseProxy=0\nProxyName=\nProxyPort=0\n");
    EXPECT_FALSE(p.UseProxy);
    EXPECT_EQ(p.ProxyName, "");
    EXPECT_EQ(p.ProxyPort, 0);
}

TEST(LoadProxySettings, ReadsWhatTheFileHoldsWithoutChecking) {
    struct Case {
        const char* content;
        bool useProxy;
        const char* name;
        int port;
    };
    const Case cases[] = {
        {"[Proxy Server]\nUseProxy=1\nProxyName=proxy.firma.cz\nProxyPort=8080\n", true, "proxy.firma.cz", 8080},
        {"[Proxy Server]\r\nUseProxy=1\r\nProxyName=\r\nProxyPort=3128\r\n", true, "", 3128},
        {"[Proxy Server]\nUseProxy=0\nProxyName=h\nProxyPort=70000\n", false, "h", 70000},
        {"[Proxy Server]\nUseProxy=ano\nProxyName=h\nProxyPort=port\n", false, "h", 0},
        {"[Proxy Server]\nUseProxy=0x1\nProxyPort=0x1F90\n", true, "", 8080},
        {"[proxy server]\nuseproxy=-1\nproxyname=10.0.0.1\nproxyport=-3\n", true, "10.0.0.1", -3},
        {"[Other]\nUseProxy=1\n", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        TempDir dir;
        TRunParameters p = WithIni(dir.file("Halvorne.INI"));
        WriteFile(p.IniFileName, c.content);
        std::string error;
        ASSERT_TRUE(startup::LoadProxySettings(p, error)) << c.content;
        EXPECT_EQ(p.UseProxy, c.useProxy) << c.content;
        EXPECT_EQ(p.ProxyName, c.name) << c.content;
        EXPECT_EQ(p.ProxyPort, c.port) << c.content;
        // An existing file is only read, even when it lacks the keys.
        EXPECT_EQ(ReadFile(p.IniFileName), c.content);
    }
}

TEST(LoadProxySettings, UnwritableFileReportsAndKeepsTheValues) {
    TempDir dir;
    TRunParameters p = WithIni(dir.file("no/such/dir/Halvorne.INI"));
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

TEST(LoadProxySettings, NoFileNameReadsNothing) {
    TRunParameters p;
    p.ProxyPort = 9;
    std::string error;
    EXPECT_TRUE(startup::LoadProxySettings(p, error));
    EXPECT_EQ(p.ProxyPort, 9);
}

TEST(TIniFile, WritesReadBackAndFailuresThrowWithTheFileName) {
    TempDir dir;
    TIniFile ini(dir.file("x.INI"));
    ini.WriteBool("Proxy Server", "UseProxy", true);
    ini.WriteString("Proxy Server", "ProxyName", "h");
    ini.WriteInteger("Proxy Server", "ProxyPort", 65535);
    EXPECT_EQ(ReadFile(ini.FileName), "[Proxy Server]\nUseProxy=1\nProxyName=h\nProxyPort=65535\n");
    EXPECT_TRUE(ini.ReadBool("proxy server", "useproxy", false));
    EXPECT_EQ(ini.ReadString("Proxy Server", "ProxyName", ""), "h");
    EXPECT_EQ(ini.ReadInteger("Proxy Server", "ProxyPort", 0), 65535);
    EXPECT_TRUE(ini.ReadBool("Proxy Server", "Missing", true));
    EXPECT_FALSE(ini.ReadBool("Proxy Server", "Missing", false));
    ini.WriteBool("Proxy Server", "UseProxy", false);
    EXPECT_FALSE(ini.ReadBool("Proxy Server", "UseProxy", true));

    TIniFile bad(dir.file("missing/x.INI"));
    try {
        bad.WriteInteger("S", "k", 1);
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + bad.FileName);
    }
    EXPECT_THROW(bad.WriteBool("S", "k", true), EIniFileException);
    EXPECT_THROW(bad.WriteString("S", "k", "v"), EIniFileException);
}

} // namespace
