// How Windows compares the names of files, sections and keys, for the POSIX
// files of platform/ that follow its rules: ASCII letters without regard to
// case, every other byte as it is. Header-only; any platform.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform::wintext {

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

} // namespace platform::wintext
