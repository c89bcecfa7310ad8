// The running thread behind a HelperThread, as each system keeps it.
#pragma once

#include "platform/threads/HelperThread.h"

namespace platform::threads {

struct HelperThread::Impl {
    virtual ~Impl() = default;
    // Waits for the work to end; called once.
    virtual void Wait() = 0;
};

} // namespace platform::threads
