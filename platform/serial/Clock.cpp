#include "platform/serial/Clock.h"

#include <cerrno>
#include <ctime>

namespace platform::serial {

std::int64_t MonotonicClock::NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void MonotonicClock::SleepMs(std::int64_t ms) {
    if (ms <= 0)
        return;
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
    // Resume after a signal so the pause keeps its length.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace platform::serial
