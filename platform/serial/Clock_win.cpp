#include "platform/serial/Clock.h"

#include <windows.h>

namespace platform::serial {

namespace {

std::int64_t CounterFrequency() {
    LARGE_INTEGER f{};
    ::QueryPerformanceFrequency(&f); // never fails since Windows XP
    return f.QuadPart;
}

} // namespace

std::int64_t MonotonicClock::NowMs() {
    static const std::int64_t frequency = CounterFrequency();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart, so the product cannot overflow.
    return now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency;
}

void MonotonicClock::SleepMs(std::int64_t ms) {
    // Sleep() rounds to the system's timer tick and may wake a little early
    // or late; it is repeated for what is left, so a pause is never shorter
    // than asked.
    const std::int64_t end = NowMs() + ms;
    for (std::int64_t left = ms; left > 0; left = end - NowMs())
        ::Sleep(static_cast<DWORD>(left));
}

} // namespace platform::serial
