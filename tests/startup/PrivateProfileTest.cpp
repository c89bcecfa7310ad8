// The POSIX private-profile layer: reading rules, preserving edits, safe
// writes.
#include "platform/ini/PrivateProfile.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::ini::GetPrivateProfileInt;
using platform::ini::GetPrivateProfileString;
using platform::ini::WritePrivateProfileString;

using namespace tests::support;

namespace {

class PrivateProfileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string ini = dir.file("Halvorne.INI");
};

TEST_F(PrivateProfileTest, MissingFileGivesDefaults) {
    EXPECT_EQ(GetPrivateProfileString("Proxy Server", "ProxyName", "dflt", ini), "dflt");
    EXPECT_EQ(GetPrivateProfileInt("Proxy Server", "ProxyPort", 17, ini), 17);
    EXPECT_FALSE(platform::ini::FileExists(ini));
}

TEST_F(PrivateProfileTest, NamesMatchWithoutRegardToCase) {
    WriteFile(ini, "[proxy SERVER]\nproxyname = host.example\nPROXYPORT=8080\n");
    EXPECT_EQ(GetPrivateProfileString("Proxy Server", "ProxyName", "", ini), "host.example");
    EXPECT_EQ(GetPrivateProfileInt("PROXY server", "ProxyPort", 0, ini), 8080);
}

TEST_F(PrivateProfileTest, LookupStaysInsideItsSection) {
    WriteFile(ini, "ProxyPort=1\n[Other]\nProxyPort=2\n[Proxy Server]\nProxyName=x\n[Later]\nProxyPort=3\n");
    EXPECT_EQ(GetPrivateProfileInt("Proxy Server", "ProxyPort", -1, ini), -1);
    EXPECT_EQ(GetPrivateProfileInt("Other", "ProxyPort", -1, ini), 2);
    EXPECT_EQ(GetPrivateProfileInt("Later", "ProxyPort", -1, ini), 3);
}

TEST_F(PrivateProfileTest, FirstOfDuplicateSectionsAndKeysCounts) {
    WriteFile(ini, "[S]\nk=first\nk=second\n[S]\nk=third\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", ini), "first");
}

TEST_F(PrivateProfileTest, CrLfAndLfLineEndsBothRead) {
    for (const char* content :
        {"[S]\r\nName=a b\r\nPort=0x1F\r\n", "[S]\nName=a b\nPort=0x1F", "\n\n[S]\r\nName=a b\nPort=0x1F\r\n"}) {
        WriteFile(ini, content);
        EXPECT_EQ(GetPrivateProfileString("S", "Name", "", ini), "a b") << content;
        EXPECT_EQ(GetPrivateProfileInt("S", "Port", 0, ini), 31) << content;
    }
}

TEST_F(PrivateProfileTest, ValuesAreTrimmedAndLoseOnePairOfQuotes) {
    WriteFile(ini, "[S]\n  a  =  x y  \t\nb=\" padded \"\nc='q'\nd=\"unbalanced\ne=\nf\n; g=comment\n");
    EXPECT_EQ(GetPrivateProfileString("S", "a", "-", ini), "x y");
    EXPECT_EQ(GetPrivateProfileString("S", "b", "-", ini), " padded ");
    EXPECT_EQ(GetPrivateProfileString("S", "c", "-", ini), "q");
    EXPECT_EQ(GetPrivateProfileString("S", "d", "-", ini), "\"unbalanced");
    EXPECT_EQ(GetPrivateProfileString("S", "e", "-", ini), "");
    EXPECT_EQ(GetPrivateProfileString("S", "f", "-", ini), "-");
    EXPECT_EQ(GetPrivateProfileString("S", "; g", "-", ini), "-");
}

TEST_F(PrivateProfileTest, IntegersReadDecimalOrHexElseTheDefault) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"8080", 8080},
        {"70000", 70000},
        {"-5", -5},
        {"+7", 7},
        {"0x1F", 31},
        {"0X1f", 31},
        {"0x7FFFFFFF", INT_MAX},
        {"0xFFFFFFFF", -1},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        // not integers: the default
        {"", -99},
        {"yes", -99},
        {"12abc", -99},
        {"1 2", -99},
        {"0x", -99},
        {"0x1G", -99},
        {"-0x10", -99},
        {"2147483648", -99},
        {"-2147483649", -99},
        {"0x100000000", -99},
        {"99999999999999999999999", -99},
        {"1.5", -99},
    };
    for (const Case& c : cases) {
        WriteFile(ini, std::string("[S]\nv=") + c.text + "\n");
        EXPECT_EQ(GetPrivateProfileInt("S", "v", -99, ini), c.expected) << "value '" << c.text << "'";
    }
}

TEST_F(PrivateProfileTest, TextValuesAreCutAt2047Characters) {
    WriteFile(
        ini, "[S]\nascii=" + std::string(3000, 'a') + "\nczech=" +
                 [] {
                     std::string s;
                     for (int i = 0; i < 3000; ++i)
                         s += "č";
                     return s;
                 }() +
                 "\nshort=" + std::string(2047, 'b') + "\n");
    EXPECT_EQ(GetPrivateProfileString("S", "ascii", "", ini), std::string(2047, 'a'));
    const std::string czech = GetPrivateProfileString("S", "czech", "", ini);
    EXPECT_EQ(czech.size(), 2047u * 2u); // 2047 characters of two bytes, none split
    EXPECT_EQ(czech.substr(czech.size() - 2), "č");
    EXPECT_EQ(GetPrivateProfileString("S", "short", "", ini), std::string(2047, 'b'));
    EXPECT_EQ(GetPrivateProfileString("S", "missing", std::string(2100, 'd'), ini), std::string(2047, 'd'));
}

TEST_F(PrivateProfileTest, FirstWriteCreatesTheFileWithSectionAndKey) {
    ASSERT_TRUE(WritePrivateProfileString("Proxy Server", "UseProxy", "0", ini));
    ASSERT_TRUE(WritePrivateProfileString("Proxy Server", "ProxyName", "", ini));
    ASSERT_TRUE(WritePrivateProfileString("Proxy Server", "ProxyPort", "0", ini));
    EXPECT_EQ(ReadFile(ini), "[Proxy Server]\nUseProxy=0\nProxyName=\nProxyPort=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(PrivateProfileTest, WritesKeepEverythingElse) {
    const std::string before = "; settings of the asset register\r\n"
                               "[General]\r\n"
                               "Language=cs\r\n"
                               "\r\n"
                               "[proxy server]\r\n"
                               "USEPROXY=0\r\n"
                               "; note\r\n"
                               "ProxyName=old\r\n"
                               "\r\n"
                               "[Last]\r\n"
                               "x=1\r\n";
    WriteFile(ini, before);
    ASSERT_TRUE(WritePrivateProfileString("Proxy Server", "UseProxy", "1", ini));
    ASSERT_TRUE(WritePrivateProfileString("PROXY SERVER", "ProxyPort", "3128", ini));
    ASSERT_TRUE(WritePrivateProfileString("New", "Key", "v", ini));
    EXPECT_EQ(ReadFile(ini),
        "; settings of the asset register\r\n"
        "[General]\r\n"
        "Language=cs\r\n"
        "\r\n"
        "[proxy server]\r\n"
        "USEPROXY=1\r\n" // the key keeps the file's spelling
        "; note\r\n"
        "ProxyName=old\r\n"
        "ProxyPort=3128\r\n"
        "\r\n"
        "[Last]\r\n"
        "x=1\r\n"
        "\r\n"
        "[New]\r\n"
        "Key=v\r\n");
}

TEST_F(PrivateProfileTest, FileWithoutFinalLineEndStaysReadable) {
    WriteFile(ini, "[S]\na=1");
    ASSERT_TRUE(WritePrivateProfileString("S", "b", "2", ini));
    EXPECT_EQ(GetPrivateProfileInt("S", "a", 0, ini), 1);
    EXPECT_EQ(GetPrivateProfileInt("S", "b", 0, ini), 2);
    ASSERT_TRUE(WritePrivateProfileString("T", "c", "3", ini));
    EXPECT_EQ(GetPrivateProfileInt("T", "c", 0, ini), 3);
    EXPECT_EQ(GetPrivateProfileInt("S", "b", 0, ini), 2);
}

TEST_F(PrivateProfileTest, WrittenValueReadsBack) {
    const std::string values[] = {"", "proxy.example.cz", "a=b", "x;y", "ěščřžýáíé", std::string(2047, 'z')};
    for (const std::string& v : values) {
        ASSERT_TRUE(WritePrivateProfileString("S", "k", v, ini));
        EXPECT_EQ(GetPrivateProfileString("S", "k", "-", ini), v);
    }
}

TEST_F(PrivateProfileTest, FailedWritesReturnFalseAndChangeNothing) {
    // The directory of the file does not exist.
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir.file("missing/Halvorne.INI")));
    // The name is a directory.
    ASSERT_EQ(::mkdir(dir.file("adir").c_str(), 0755), 0);
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir.file("adir")));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", ""));

    // Texts that would break the file's structure are refused.
    const std::string before = "[S]\nk=old\n";
    WriteFile(ini, before);
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "two\nlines", ini));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "cr\r", ini));
    EXPECT_FALSE(WritePrivateProfileString("S", "a=b", "v", ini));
    EXPECT_FALSE(WritePrivateProfileString("S", "", "v", ini));
    EXPECT_FALSE(WritePrivateProfileString("S]", "k", "v", ini));
    EXPECT_FALSE(WritePrivateProfileString("", "k", "v", ini));
    EXPECT_FALSE(WritePrivateProfileString("S", ";k", "v", ini));
    EXPECT_EQ(ReadFile(ini), before);
}

TEST_F(PrivateProfileTest, WriteKeepsPermissionsAndLeavesNoTemporaryFile) {
    WriteFile(ini, "[S]\nk=1\n");
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", ini));
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(PrivateProfileTest, WriteThroughSymbolicLinkUpdatesItsTarget) {
    const std::string real = dir.file("real.ini");
    WriteFile(real, "[S]\nk=1\n");
    ASSERT_EQ(::symlink(real.c_str(), ini.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", ini));
    struct stat st {};
    ASSERT_EQ(::lstat(ini.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(real), "[S]\nk=2\n");
}

TEST_F(PrivateProfileTest, OversizedFileIsNeitherReadNorRewritten) {
    int fd = ::open(ini.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string head = "[S]\nk=1\n";
    ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::ftruncate(fd, 17 * 1024 * 1024), 0); // sparse, cheap
    ::close(fd);
    EXPECT_EQ(GetPrivateProfileInt("S", "k", -1, ini), -1);
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", ini));
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 17 * 1024 * 1024);
}

TEST_F(PrivateProfileTest, FileExistsOnlyForRegularFiles) {
    EXPECT_FALSE(platform::ini::FileExists(ini));
    EXPECT_FALSE(platform::ini::FileExists(dir.path().string()));
    EXPECT_FALSE(platform::ini::FileExists(""));
    WriteFile(ini, "");
    EXPECT_TRUE(platform::ini::FileExists(ini));
}

} // namespace
