// The class-library stand-ins the port is built on: the thread's
// synchronisation with its owner, the wait for its end, messages sent to the
// notification window, and thread priorities.
#include "test_support.h"
#include "this_system.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class ScriptedThread : public TThread {
public:
    explicit ScriptedThread(std::function<void(ScriptedThread&)> body) : TThread(true), body_(std::move(body)) {}
    ~ScriptedThread() override
    {
        Terminate();
        WaitFor();
    }
    void Sync(const std::function<void()>& f) { Synchronize(f); }

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(ScriptedThread&)> body_;
};

TEST(ClassLibrary, SynchronizeRunsOnOwnerAndCarriesExceptionsBack)
{
    const auto main_id = std::this_thread::get_id();
    std::atomic<bool> ran_on_main{false};
    std::atomic<bool> caught{false};
    std::atomic<bool> done{false};
    ScriptedThread thread([&](ScriptedThread& self) {
        self.Sync([&] { ran_on_main = std::this_thread::get_id() == main_id; });
        try {
            self.Sync([] { throw Exception("raised on the owner"); });
        } catch (const Exception& e) {
            caught = std::string(e.what()) == "raised on the owner";
        }
        done = true;
    });
    thread.Resume();
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    EXPECT_TRUE(ran_on_main);
    EXPECT_TRUE(caught);
}

TEST(ClassLibrary, WaitForServesRequestsWithoutAnEventLoop)
{
    int served = 0;
    auto thread = std::make_unique<ScriptedThread>([&](ScriptedThread& self) {
        for (int i = 0; i < 5; ++i)
            self.Sync([&] { ++served; });
    });
    thread->Resume();
    thread.reset(); // the destructor's wait serves all five
    EXPECT_EQ(served, 5);
    EXPECT_FALSE(CheckSynchronize()) << "nothing left over";
}

TEST(ClassLibrary, FatalExceptionEndsTheThread)
{
    ScriptedThread thread([](ScriptedThread&) { throw Exception("execute failed"); });
    thread.Resume();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    ASSERT_TRUE(thread.FatalException() != nullptr);
}

TEST(ClassLibrary, SentMessageReleasesSenderAtReply)
{
    std::atomic<int> stage{0};
    std::atomic<bool> sender_back_before_end{false};
    auto window = AllocateHWnd([&](uint32_t message, uintptr_t wparam, intptr_t) -> intptr_t {
        EXPECT_EQ(message, 1025u);
        EXPECT_EQ(wparam, 7u);
        EXPECT_TRUE(InSendMessage());
        ReplyMessage();
        EXPECT_FALSE(InSendMessage());
        // The sender goes on while this routine is still running.
        sender_back_before_end = PumpUntil([&] { return stage.load() == 2; });
        return 0;
    });
    std::thread sender([&] {
        stage = 1;
        window->SendMessage(1025, 7, 0);
        stage = 2;
    });
    ASSERT_TRUE(PumpUntil([&] { return stage.load() == 2; }));
    sender.join();
    EXPECT_TRUE(sender_back_before_end);
    EXPECT_EQ(DefWindowProc(12, 0, 0), 0);
}

TEST(ClassLibrary, PriorityLevelsMapToNiceness)
{
    if (this_system::thread_id() < 0)
        GTEST_SKIP() << "no thread of its own to the scheduler here";
    std::atomic<int> nice{-100};
    ScriptedThread thread([&](ScriptedThread&) {
        nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(this_system::thread_id()));
    });
    thread.SetPriority(tpLowest);
    thread.Resume();
    thread.WaitFor();
    EXPECT_EQ(nice.load(), 10);
}

TEST(ClassLibrary, StringListAndAssignment)
{
    TStringList a, b;
    a.Add("b");
    a.Add("A");
    a.Sort();
    EXPECT_EQ(a.Strings(0), "A");
    b.Assign(a);
    EXPECT_EQ(b.Count(), 2);
    EXPECT_EQ(b.IndexOf("b"), 1);
    TComParity parity;
    EXPECT_THROW(b.Assign(parity), EConvertError);
    EXPECT_EQ(b.Count(), 2) << "a refused assignment changes nothing";
}

} // namespace
