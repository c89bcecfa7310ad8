#include "platform/threads/HelperThread.h"

#include "platform/threads/HelperThreadImpl.h"

#include <utility>

namespace platform::threads {

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
    impl_->Wait();
    impl_.reset();
}

} // namespace platform::threads
