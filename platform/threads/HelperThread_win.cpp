#include "platform/threads/HelperThread.h"

#include <thread>
#include <utility>

namespace platform::threads {

// Windows spreads new threads over the processors itself.
struct HelperThread::Impl {
    std::thread thread;
};

HelperThread::HelperThread(std::function<void()> work)
    : impl_(std::make_unique<Impl>(Impl{std::thread(std::move(work))})) {}

HelperThread::HelperThread() = default;

HelperThread::~HelperThread() { Join(); }

HelperThread::HelperThread(HelperThread&& other) noexcept = default;

HelperThread& HelperThread::operator=(HelperThread&& other) noexcept {
    if (this != &other) {
        Join();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

void HelperThread::Join() {
    if (!impl_)
        return;
    impl_->thread.join();
    impl_.reset();
}

} // namespace platform::threads
