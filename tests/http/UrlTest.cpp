#include "http/HttpUrl.h"

#include <gtest/gtest.h>

namespace {

struct UrlCase {
    const char* url;
    const char* protocol;
    const char* host;
    const char* port;
    const char* path;
    const char* document;
    bool hasHost;
    int portNumber;
};

void PrintTo(const UrlCase& c, std::ostream* os) { *os << '"' << c.url << '"'; }

class UrlParsing : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlParsing, SplitsIntoParts) {
    const UrlCase& c = GetParam();
    THttpUrl u = ParseHttpUrl(c.url);
    EXPECT_EQ(u.Protocol, c.protocol);
    EXPECT_EQ(u.Host, c.host);
    EXPECT_EQ(u.Port, c.port);
    EXPECT_EQ(u.Path, c.path);
    EXPECT_EQ(u.Document, c.document);
    EXPECT_EQ(u.HasHost, c.hasHost);
    EXPECT_EQ(u.PortNumber(), c.portNumber);
}

INSTANTIATE_TEST_SUITE_P(Table, UrlParsing,
    ::testing::Values(
        UrlCase{"http://www.example.cz/dir/file.txt", "http", "www.example.cz", "", "/dir/", "file.txt", true, 80},
        UrlCase{"http://host:8080/a/b/c.zip", "http", "host", "8080", "/a/b/", "c.zip", true, 8080},
        UrlCase{"http://host", "http", "host", "", "/", "", true, 80},
        UrlCase{"http://host/", "http", "host", "", "/", "", true, 80},
        UrlCase{"http://host/doc.html#part", "http", "host", "", "/", "doc.html", true, 80},
        UrlCase{"http://host/q.php?a=1&b=/x", "http", "host", "", "/q.php?a=1&b=/", "x", true, 80},
        UrlCase{"http://host/get?x=1#frag", "http", "host", "", "/", "get?x=1", true, 80},
        UrlCase{"http:\\\\host\\dir\\file.bin", "http", "host", "", "/dir/", "file.bin", true, 80},
        UrlCase{"HTTPS://Host:443/x", "HTTPS", "Host", "443", "/", "x", true, 443},
        UrlCase{"http://host:abc/x", "http", "host", "abc", "/", "x", true, 80},
        UrlCase{"http://host:/x", "http", "host", "", "/", "x", true, 80},
        UrlCase{"http://host:0/x", "http", "host", "0", "/", "x", true, 80},
        UrlCase{"http://host:70000/x", "http", "host", "70000", "/", "x", true, 80},
        UrlCase{"http://host:80/x", "http", "host", "80", "/", "x", true, 80},
        UrlCase{"http://user:pw@host/x", "http", "user", "pw@host", "/", "x", true, 80},
        UrlCase{"/dir/file.txt", "", "", "", "/dir/", "file.txt", false, 80},
        UrlCase{"dir/file.txt", "", "", "", "/dir/", "file.txt", false, 80},
        UrlCase{"file.txt", "", "", "", "/", "file.txt", false, 80}, UrlCase{"", "", "", "", "/", "", false, 80}));

} // namespace
