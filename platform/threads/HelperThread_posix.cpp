#include "platform/threads/HelperThread.h"

#include "platform/threads/HelperThreadImpl.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

namespace platform::threads {

namespace {

struct Start {
    std::function<void()> work;
    cpu_set_t allowed; // the process's processors, given back once running
    bool narrowed = false;
};

void* Run(void* arg) noexcept {
    std::unique_ptr<Start> start(static_cast<Start*>(arg));
    if (start->narrowed)
        ::pthread_setaffinity_np(::pthread_self(), sizeof start->allowed, &start->allowed);
    start->work();
    return nullptr;
}

// The starter's processors without the one it runs on now; false when
// that leaves none (one processor, or the starter pinned to one).
bool OtherProcessors(const cpu_set_t& allowed, cpu_set_t& others) {
    const int current = ::sched_getcpu();
    if (current < 0 || current >= CPU_SETSIZE)
        return false;
    others = allowed;
    CPU_CLR(current, &others);
    return CPU_COUNT(&others) > 0;
}

struct PosixThread : HelperThread::Impl {
    pthread_t thread{};
    void Wait() override { ::pthread_join(thread, nullptr); }
};

} // namespace

HelperThread::HelperThread(std::function<void()> work) {
    auto start = std::make_unique<Start>();
    start->work = std::move(work);
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0)
        throw std::system_error(ENOMEM, std::generic_category(), "pthread_attr_init");
    cpu_set_t others;
    if (::pthread_getaffinity_np(::pthread_self(), sizeof start->allowed, &start->allowed) == 0 &&
        OtherProcessors(start->allowed, others))
        start->narrowed = ::pthread_attr_setaffinity_np(&attr, sizeof others, &others) == 0;
    auto impl = std::make_unique<PosixThread>();
    int rc = ::pthread_create(&impl->thread, &attr, Run, start.get());
    if (rc != 0 && start->narrowed) {
        // A processor set the system refuses (a cgroup's, say): start it
        // where it would have started anyway.
        start->narrowed = false;
        ::pthread_attr_destroy(&attr);
        ::pthread_attr_init(&attr);
        rc = ::pthread_create(&impl->thread, &attr, Run, start.get());
    }
    ::pthread_attr_destroy(&attr);
    if (rc != 0)
        throw std::system_error(rc, std::generic_category(), "pthread_create");
    start.release(); // the thread owns it now
    impl_ = std::move(impl);
}

} // namespace platform::threads
