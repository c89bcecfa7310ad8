// Byte counts as the transfer window prints them: plain bytes up to 10240,
// then kilobytes, then megabytes, each step rounding half to even.
#pragma once

#include <cstdint>
#include <string>

namespace transfer {

// "<n> B", "<n> kB" or "<n> MB". The megabyte step divides the already
// rounded kilobyte value, so the two roundings compound on purpose: the
// figures match what users of earlier releases are used to reading.
std::string FormatByteCount(int64_t count);

} // namespace transfer
