// The helper thread that a short run's TLS set-up runs on: it runs its work
// once, is waited for, and is never left bound to the processor it was
// started on.
#include "platform/threads/HelperThread.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#include <sched.h>
#endif

namespace {

using platform::threads::HelperThread;

TEST(HelperThread, RunsOnceAndIsWaitedForByJoinMoveAndDestruction) {
    std::atomic<int> runs{0};
    auto slowWork = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++runs;
    };
    {
        HelperThread t(slowWork);
        EXPECT_TRUE(t.Joinable());
        t.Join();
        EXPECT_EQ(runs, 1);
        EXPECT_FALSE(t.Joinable());
        t.Join(); // nothing left to wait for
    }
    { HelperThread t(slowWork); }
    EXPECT_EQ(runs, 2) << "the destructor waits";

    std::atomic<int> replacedRuns{0};
    HelperThread a([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        ++replacedRuns;
    });
    HelperThread b(std::move(a));
    EXPECT_FALSE(a.Joinable());
    EXPECT_TRUE(b.Joinable());
    b = HelperThread(slowWork); // waits for the one it replaces
    EXPECT_EQ(replacedRuns, 1);
    b.Join();
    EXPECT_EQ(runs, 3);
    EXPECT_FALSE(HelperThread().Joinable());
}

#ifndef _WIN32
cpu_set_t Allowed() {
    cpu_set_t set;
    CPU_ZERO(&set);
    EXPECT_EQ(::pthread_getaffinity_np(::pthread_self(), sizeof set, &set), 0);
    return set;
}

// Started on another processor or not, the work may use every processor
// its starter may: it is never left pinned, here and with a starter that
// may use one processor only.
TEST(HelperThread, TheWorkMayUseEveryProcessorItsStarterMay) {
    const cpu_set_t starters = Allowed();
    for (int i = 0; i < 50; ++i) {
        cpu_set_t seen;
        HelperThread([&] { seen = Allowed(); }).Join();
        ASSERT_TRUE(CPU_EQUAL(&seen, &starters)) << "start " << i;
    }

    std::thread pinnedStarter([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(::sched_getcpu(), &one);
        ASSERT_EQ(::pthread_setaffinity_np(::pthread_self(), sizeof one, &one), 0);
        cpu_set_t seen;
        int cpu = -1;
        HelperThread([&] {
            seen = Allowed();
            cpu = ::sched_getcpu();
        }).Join();
        EXPECT_TRUE(CPU_EQUAL(&seen, &one));
        EXPECT_TRUE(CPU_ISSET(cpu, &one));
    });
    pinnedStarter.join();
}
#endif

} // namespace
