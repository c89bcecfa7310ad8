// The parts of the private-profile semantics that are this program's own
// rather than the file format's, shared by the POSIX and the Windows files so
// both read and refuse exactly the same: the integer rule and the names and
// values a write may carry.
#pragma once

#include <string_view>

namespace platform::ini {

// Blanks around names and values do not count.
std::string_view Trim(std::string_view s);

// A whole integer: decimal with an optional sign, or "0x"/"0X" and up to
// eight hex digits (the 32-bit pattern, so 0xFFFFFFFF is -1). Anything else,
// a trailing word included, is not an integer.
bool ParseInteger(std::string_view s, int& out);

// Whether a write of key=value into section of fileName keeps the file's
// structure: a line break, a ']' in the section or a '=' in the key would
// make the file read back differently, and an empty name (after trimming)
// or a key that starts like a section or a comment would be lost.
bool IsWritableEntry(std::string_view section, std::string_view key, std::string_view value, std::string_view fileName);

} // namespace platform::ini
