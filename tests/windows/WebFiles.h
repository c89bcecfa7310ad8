// The files the web peers of the Windows tests serve, made the same way on
// both sides: web_peers_for_wine writes them for nginx, the Windows test
// program compares what arrives with them.
#pragma once

#include <random>
#include <string>

namespace webfiles {

inline constexpr const char* kBinaryName = "verze.bin";
inline constexpr const char* kTextName = "ver.txt";
inline constexpr const char* kEmptyName = "empty.txt";
inline constexpr const char* kTextContent = "02.15\r\nNová verze\r\n";
// What the resetting server sends before it resets the connection.
inline constexpr const char* kResetResponseStart = "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc";

// One MiB of bytes from a fixed seed (std::mt19937's sequence is the same on
// every platform).
inline std::string BinaryContent() {
    std::mt19937 rng(12345);
    std::string bytes(1 << 20, '\0');
    for (auto& c : bytes)
        c = static_cast<char>(rng());
    return bytes;
}

} // namespace webfiles
