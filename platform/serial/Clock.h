#pragma once
#include <cstdint>

namespace platform::serial {

// Time source of the transfer. Waits are measured on a monotonic clock, so a
// change of the wall-clock time (midnight, a time-zone or NTP step) never
// shortens or stretches a wait.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary fixed point; never goes backwards.
    virtual std::int64_t NowMs() = 0;
    // Blocks the thread (no spinning) for about ms milliseconds.
    virtual void SleepMs(std::int64_t ms) = 0;
};

class MonotonicClock final : public Clock {
public:
    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
};

} // namespace platform::serial
