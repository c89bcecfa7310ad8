// What the HTTPS peers of the TLS tests serve and how their ports reach a
// test program in another process (the Windows one under wine), made the
// same way on both sides. Header-only and without POSIX calls, so the
// Windows test program shares it.
#pragma once

#include <cstdlib>
#include <random>
#include <string>

namespace tests::support::tls_peers {

inline constexpr const char* kBigName = "big.bin";
inline constexpr const char* kTextName = "ver.txt";
inline constexpr const char* kTextContent = "5.30\r\n";
inline constexpr const char* kEmptyName = "empty.txt";

// Three MiB of bytes from a fixed seed (std::mt19937's sequence is the same
// on every platform).
inline std::string BigContent() {
    std::mt19937 rng(77);
    std::string bytes(3 << 20, '\0');
    for (auto& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

// Every peer, each on a port of its own.
struct Ports {
    int Good = 0;          // nginx, a certificate of the test CA for localhost and 127.0.0.1
    int OtherHost = 0;     // nginx, a certificate of the test CA for another name and address
    int SelfSigned = 0;    // nginx, a self-signed certificate for localhost and 127.0.0.1
    int Expired = 0;       // nginx, an expired certificate of the test CA
    int Slow = 0;          // nginx as Good, 256 KiB/s
    int Proxy = 0;         // tinyproxy
    int Silent = 0;        // accepts and never answers
    int Plain = 0;         // answers the greeting as a plain HTTP server does
    int RefusingProxy = 0; // answers every CONNECT with 403
    int Closed = 0;        // nothing listens there
};

// The environment variable of each port, in the order of Ports.
inline constexpr const char* kPortVariables[] = {"HALVORNE_TEST_TLS_GOOD_PORT", "HALVORNE_TEST_TLS_OTHER_HOST_PORT",
    "HALVORNE_TEST_TLS_SELF_SIGNED_PORT", "HALVORNE_TEST_TLS_EXPIRED_PORT", "HALVORNE_TEST_TLS_SLOW_PORT",
    "HALVORNE_TEST_TLS_PROXY_PORT", "HALVORNE_TEST_TLS_SILENT_PORT", "HALVORNE_TEST_TLS_PLAIN_PORT",
    "HALVORNE_TEST_TLS_REFUSING_PROXY_PORT", "HALVORNE_TEST_TLS_CLOSED_PORT"};

inline int* PortFields(Ports& p, std::size_t index) {
    int* fields[] = {&p.Good, &p.OtherHost, &p.SelfSigned, &p.Expired, &p.Slow, &p.Proxy, &p.Silent, &p.Plain,
        &p.RefusingProxy, &p.Closed};
    return fields[index];
}

inline constexpr std::size_t kPortCount = sizeof kPortVariables / sizeof kPortVariables[0];

// The ports a peer runner handed over; 0 for a variable that is not set.
inline Ports PortsFromEnvironment() {
    Ports ports;
    for (std::size_t i = 0; i < kPortCount; ++i) {
        const char* value = std::getenv(kPortVariables[i]);
        *PortFields(ports, i) = value ? std::atoi(value) : 0;
    }
    return ports;
}

} // namespace tests::support::tls_peers
