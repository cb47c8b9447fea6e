// The device layer's wait-loop thread, as the line watcher of a real UART
// uses it: stopped while in a wait only a signal ends, without taking any of
// the application's signals, whatever the thread that started it blocks.
#include "platform/comm_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <functional>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarnby;

namespace {

bool WaitBusy(const std::function<bool()>& done, int deadline_ms = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(LineWatcher, StopsWithoutASignalOfTheApplicationsWhateverTheStarterBlocks)
{
    std::vector<struct sigaction> before(NSIG);
    for (int s = 1; s < NSIG; ++s)
        ::sigaction(s, nullptr, &before[static_cast<size_t>(s)]);
    std::atomic<int> waits{0};
    // Like the kernel's wait for line changes: only a signal ends it.
    comm::WaitLoopThread watcher(
        [&] {
            ++waits;
            return ::syscall(SYS_ppoll, nullptr, 0, nullptr, nullptr, 8) == 0 ? 0 : errno;
        },
        [](int) { return true; });
    std::thread starter([&] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        EXPECT_EQ(watcher.Start("test-lines"), 0);
    });
    starter.join();
    ASSERT_TRUE(WaitBusy([&] { return waits > 0; }));
    watcher.Stop(); // a hang here is the failure
    EXPECT_EQ(waits.load(), 1) << "the wait was left, not retried";
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction now {};
        ::sigaction(s, nullptr, &now);
        EXPECT_EQ(reinterpret_cast<void*>(now.sa_handler),
                  reinterpret_cast<void*>(before[static_cast<size_t>(s)].sa_handler))
            << "signal " << s << " was taken";
    }

    // A loop that ends by itself is waited for as well.
    std::atomic<int> rounds{0};
    comm::WaitLoopThread brief([] { return 0; }, [&](int) { return ++rounds < 3; });
    ASSERT_EQ(brief.Start("test-brief"), 0);
    ASSERT_TRUE(WaitBusy([&] { return rounds == 3; }));
    brief.Stop();
    EXPECT_EQ(rounds.load(), 3);
}

} // namespace
