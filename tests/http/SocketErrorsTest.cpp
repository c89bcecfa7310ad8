#include "platform/net/SocketErrors.h"
#include "platform/net/TcpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>

namespace {

struct ErrnoCase {
    int err;
    int code;
    const char* text;
};

TEST(SocketErrorCodes, ErrnoMapsToWindowsSocketsNumbering) {
    const ErrnoCase cases[] = {
        {ECONNREFUSED, 10061, "Connection refused."},
        {ECONNRESET, 10054, "Connection reset by peer."},
        {ETIMEDOUT, 10060, "Connection timed out."},
        {ENETUNREACH, 10051, "Network is unreachable."},
        {EHOSTUNREACH, 10065, "No route to host."},
        {ENETDOWN, 10050, "Network is down."},
        {ECONNABORTED, 10053, "Software caused connection abort."},
        {EADDRINUSE, 10048, "Address already in use."},
        {EWOULDBLOCK, 10035, "Operation would block. "},
        {ENOTEMPTY, 10066, "Directory not empty"},
        {EPIPE, 10058, "Cannot send or receive after socket is closed."},
        {ESHUTDOWN, 10058, "Cannot send or receive after socket is closed."},
        {EINTR, 10004, "Interrupted system call."},
        {EMFILE, 10024, "Too many open files."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        EXPECT_EQ(platform::net::WsaCodeFromErrno(c.err), c.code);
        EXPECT_EQ(platform::net::WsaErrorText(c.code), c.text);
    }
}

TEST(SocketErrorCodes, UnknownErrnoKeepsItsNumberAndHasNoText) {
    EXPECT_EQ(platform::net::WsaCodeFromErrno(ENOMEM), ENOMEM);
    EXPECT_EQ(platform::net::WsaErrorText(ENOMEM), "");
    EXPECT_EQ(platform::net::WsaErrorText(11001), "");
    EXPECT_EQ(platform::net::WsaErrorText(10067), "");
}

TEST(SocketErrorCodes, EveryTableCodeHasText) {
    for (int code = 10004; code <= 10066; ++code) {
        bool inTable = code == 10004 || code == 10009 || code == 10013 || code == 10014 || code == 10022 ||
                       code == 10024 || code >= 10035;
        EXPECT_EQ(!platform::net::WsaErrorText(code).empty(), inTable) << code;
    }
}

TEST(SocketErrorCodes, LookupFailuresMapToHostNotFound) {
    EXPECT_EQ(platform::net::WsaCodeFromLookup(0, 0), 0);
    EXPECT_EQ(platform::net::WsaCodeFromLookup(EAI_NONAME, 0), 11001);
#ifdef EAI_NODATA
    EXPECT_EQ(platform::net::WsaCodeFromLookup(EAI_NODATA, 0), 11001);
#endif
    EXPECT_EQ(platform::net::WsaCodeFromLookup(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(platform::net::WsaCodeFromLookup(EAI_FAIL, 0), 11003);
    EXPECT_EQ(platform::net::WsaCodeFromLookup(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(HostResolution, LiteralFormsNeedNoLookup) {
    int lookups = 0;
    platform::net::SetResolverForTesting([&](const std::string&, uint32_t&) {
        ++lookups;
        return 11001;
    });
    struct Case {
        const char* host;
        const char* address;
    } ok[] = {{"localhost", "127.0.0.1"}, {"LocalHost", "127.0.0.1"}, {"127.0.0.1", "127.0.0.1"},
        {"10.0.0.255", "10.0.0.255"}, {"0.0.0.0", "0.0.0.0"}};
    for (const auto& c : ok) {
        uint32_t a = 0;
        EXPECT_EQ(platform::net::ResolveHost(c.host, a), 0) << c.host;
        char buf[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &a, buf, sizeof buf);
        EXPECT_STREQ(buf, c.address);
    }
    EXPECT_EQ(lookups, 0);
    // Not dotted quads: handed to the name lookup.
    for (const char* name : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1..2.3", "01234.1.1.1", "host.example"}) {
        uint32_t a = 0;
        EXPECT_EQ(platform::net::ResolveHost(name, a), 11001) << name;
    }
    EXPECT_EQ(lookups, 6);
    uint32_t a = 0;
    EXPECT_EQ(platform::net::ResolveHost("", a), 11001);
    platform::net::SetResolverForTesting({});
}

} // namespace
