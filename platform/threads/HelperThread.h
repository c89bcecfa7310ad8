// A joinable thread for work that its starter will wait for soon, such as
// the TLS set-up that a short run's first connection needs.
//
// Linux queues a new thread on its starter's processor. A starter that is
// busy meanwhile (Qt coming up) can keep it waiting there until the load
// balancer moves it: on two cores, 14 of 20 starts waited 1.3 to 2.2 ms,
// against 0.1 ms when it starts on the other processor. So it is started on
// another processor that the process may use, where there is one, and once
// running it may use all of them again. On Windows it is a plain thread.
#pragma once

#include <functional>
#include <memory>

namespace platform::threads {

class HelperThread {
public:
    HelperThread();
    // Starts work at once; throws std::system_error when no thread can be
    // made. An exception that leaves work ends the process, as with
    // std::thread.
    explicit HelperThread(std::function<void()> work);
    // Joins.
    ~HelperThread();
    HelperThread(HelperThread&& other) noexcept;
    // Joins this thread first.
    HelperThread& operator=(HelperThread&& other) noexcept;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    bool Joinable() const { return impl_ != nullptr; }
    // Waits for the work to end; nothing when not joinable.
    void Join();

    // The system's thread (HelperThreadImpl.h).
    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace platform::threads
