#include "transfer/core/ByteCount.h"

#include <cmath>

namespace transfer {

namespace {

constexpr int64_t kUnitLimit = 10240;

// Division by 1024 rounded to nearest, an exact half going to the even
// neighbour. Done explicitly so that no caller's floating-point rounding
// mode can change the printed figure.
int64_t DivideBy1024RoundHalfEven(int64_t n) {
    const double q = static_cast<double>(n) / 1024.0;
    const double lower = std::floor(q);
    const double frac = q - lower;
    double r = lower;
    if (frac > 0.5) {
        r = lower + 1.0;
    } else if (frac == 0.5) {
        r = (std::fmod(lower, 2.0) == 0.0) ? lower : lower + 1.0;
    }
    return static_cast<int64_t>(r);
}

} // namespace

std::string FormatByteCount(int64_t count) {
    int64_t n = count;
    const char* unit = " B";
    if (n > kUnitLimit) {
        n = DivideBy1024RoundHalfEven(n);
        unit = " kB";
        if (n > kUnitLimit) {
            n = DivideBy1024RoundHalfEven(n);
            unit = " MB";
        }
    }
    return std::to_string(n) + unit;
}

} // namespace transfer
