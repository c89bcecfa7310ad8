// Host names to addresses: the literal forms are answered here, the same on
// every platform; other names go to the system's lookup (or a test's).
#include "platform/net/SocketErrors.h"
#include "platform/net/SystemResolve.h"
#include "platform/net/TcpSocket.h"

#include <cstring>
#include <mutex>

namespace platform::net {

namespace {

std::mutex g_resolverMutex;
Resolver g_resolver;

bool EqualsIgnoreCase(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != b[i])
            return false;
    }
    return true;
}

// The address a.b.c.d as it lies in memory in network byte order, whatever
// the byte order of this machine.
uint32_t NetworkOrder(const uint8_t (&parts)[4]) {
    uint32_t out = 0;
    std::memcpy(&out, parts, sizeof out);
    return out;
}

} // namespace

bool ParseDottedQuad(const std::string& host, uint32_t& out) {
    uint8_t parts[4];
    std::size_t i = 0;
    for (int p = 0; p < 4; ++p) {
        if (p > 0) {
            if (i >= host.size() || host[i] != '.')
                return false;
            ++i;
        }
        std::size_t start = i;
        uint32_t value = 0;
        while (i < host.size() && host[i] >= '0' && host[i] <= '9' && i - start < 3) {
            value = value * 10 + static_cast<uint32_t>(host[i] - '0');
            ++i;
        }
        if (i == start || value > 255)
            return false;
        parts[p] = static_cast<uint8_t>(value);
    }
    if (i != host.size())
        return false;
    out = NetworkOrder(parts);
    return true;
}

int ResolveHost(const std::string& host, uint32_t& addressOut) {
    if (EqualsIgnoreCase(host, "LOCALHOST")) {
        addressOut = NetworkOrder({127, 0, 0, 1});
        return 0;
    }
    if (ParseDottedQuad(host, addressOut))
        return 0;
    if (host.empty() || host.find('\0') != std::string::npos)
        return kWsaHOST_NOT_FOUND;
    Resolver resolver;
    {
        std::lock_guard<std::mutex> lock(g_resolverMutex);
        resolver = g_resolver;
    }
    if (resolver)
        return resolver(host, addressOut);
    return SystemResolve(host, addressOut);
}

void SetResolverForTesting(Resolver resolver) {
    std::lock_guard<std::mutex> lock(g_resolverMutex);
    g_resolver = std::move(resolver);
}

} // namespace platform::net
