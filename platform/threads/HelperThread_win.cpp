#include "platform/threads/HelperThread.h"

#include "platform/threads/HelperThreadImpl.h"

#include <thread>
#include <utility>

namespace platform::threads {

namespace {

// Windows spreads new threads over the processors itself.
struct StdThread : HelperThread::Impl {
    explicit StdThread(std::function<void()> work) : thread(std::move(work)) {}
    std::thread thread;
    void Wait() override { thread.join(); }
};

} // namespace

HelperThread::HelperThread(std::function<void()> work) : impl_(std::make_unique<StdThread>(std::move(work))) {}

} // namespace platform::threads
