// Stored texts are kept in the binary only in scrambled form; the plain
// bytes exist solely as constant-evaluation input, so `strings` on the
// program does not reveal the update server's addresses.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace startup {

// A stored text is at most 255 characters long.
inline constexpr std::size_t kMaxStoredTextLength = 255;

// Key byte for position i. Depends on the position so that repeated
// characters (".", "/") do not show up as repeated bytes. The high bit is
// always set: every ASCII character becomes a byte of 0x80 or above, so no
// run of an address can ever look like printable text in the binary.
constexpr unsigned char ScrambleKey(std::size_t i) {
    return static_cast<unsigned char>(0x80u | ((i * 37u + 11u) & 0x7Fu));
}

template <std::size_t N>
consteval std::array<unsigned char, N> ScrambleText(std::array<unsigned char, N> plain) {
    static_assert(N <= kMaxStoredTextLength, "a stored text is at most 255 characters long");
    std::array<unsigned char, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = static_cast<unsigned char>(plain[i] ^ ScrambleKey(i));
    return out;
}

// Character-by-character inverse of ScrambleText; keeps the length.
template <std::size_t N>
std::string UnscrambleText(const std::array<unsigned char, N>& stored) {
    // Read through volatile so the optimiser cannot fold the result back
    // into a plain literal in the binary.
    const volatile unsigned char* src = stored.data();
    std::string plain(N, '\0');
    for (std::size_t i = 0; i < N; ++i)
        plain[i] = static_cast<char>(src[i] ^ ScrambleKey(i));
    return plain;
}

// The same for stored bytes handed over as a view (the stored-text library
// of a program returns its texts this way).
inline std::string UnscrambleText(std::string_view stored) {
    const volatile char* src = stored.data();
    std::string plain(stored.size(), '\0');
    for (std::size_t i = 0; i < stored.size(); ++i)
        plain[i] = static_cast<char>(static_cast<unsigned char>(src[i]) ^ ScrambleKey(i));
    return plain;
}

} // namespace startup
