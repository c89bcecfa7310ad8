#include "platform/ini/ProfileRules.h"

#include <cstdint>

namespace platform::ini {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

} // namespace

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool ParseInteger(std::string_view s, int& out) {
    if (s.empty())
        return false;
    bool negative = false;
    if (s.front() == '+' || s.front() == '-') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    unsigned base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return false;
    std::uint64_t acc = 0;
    for (char c : s) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        acc = acc * base + d;
        if (acc > 0xFFFFFFFFull)
            return false;
    }
    if (base == 16) {
        // Eight hex digits cover the whole 32-bit pattern, as 0xFFFFFFFF = -1.
        if (negative)
            return false;
        out = static_cast<int>(static_cast<std::uint32_t>(acc));
        return true;
    }
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (acc > limit)
        return false;
    out = negative ? static_cast<int>(-static_cast<std::int64_t>(acc)) : static_cast<int>(acc);
    return true;
}

bool IsWritableEntry(
    std::string_view section, std::string_view key, std::string_view value, std::string_view fileName) {
    const std::string_view sec = Trim(section);
    const std::string_view k = Trim(key);
    return !fileName.empty() && !sec.empty() && !k.empty() && !HasLineBreak(sec) && !HasLineBreak(k) &&
           !HasLineBreak(value) && sec.find(']') == std::string_view::npos && k.find('=') == std::string_view::npos &&
           k.front() != '[' && k.front() != ';';
}

} // namespace platform::ini
