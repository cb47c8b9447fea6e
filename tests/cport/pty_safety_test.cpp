// The port under a demanding user on pseudo-terminals: other threads racing
// a Close, an owner thread too busy to serve events, a handler that throws,
// a process short of descriptors, devices that are no serial ports, writes
// that outrun the line. Nothing may be lost, leaked, left locked or touched
// after it is gone.
#include "platform/comm_internal.h"
#include "test_support.h"
#include "this_system.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

const TSyncMethod kModes[] = {smThreadSync, smWindowSync, smNone};

// Waits without serving the event loop, as an owner thread busy elsewhere.
bool WaitBusy(const std::function<bool()>& done, int deadline_ms = 10000)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(deadline_ms);
    while (!done()) {
        if (Clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Reads and discards what the port sends, until destroyed.
class Drain {
public:
    explicit Drain(int fd)
        : thread_([this, fd] {
              char buf[4096];
              while (!stop_) {
                  pollfd p{fd, POLLIN, 0};
                  if (::poll(&p, 1, 20) > 0 && ::read(fd, buf, sizeof buf) <= 0)
                      return;
              }
          })
    {
    }
    ~Drain()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Empty where the system does not tell.
std::set<int> OpenDescriptors()
{
    const auto fds = this_system::descriptors();
    return fds ? std::set<int>(fds->begin(), fds->end()) : std::set<int>();
}

// Context switches so far of every thread of this process but the ones
// named; -1 where the system does not count them.
long SwitchesOfOtherThreads(const std::set<long>& except)
{
    const auto switches = this_system::thread_switches();
    if (!switches)
        return -1;
    long sum = 0;
    for (const auto& [thread, count] : *switches)
        if (except.count(thread) == 0)
            sum += count;
    return sum;
}

TEST(PtySafety, ReadsAndWritesOnOtherThreadsRaceClose)
{
    for (int round = 0; round < 30; ++round) {
        FarEnd far;
        Drain drain(far.Fd());
        TComPort port(nullptr);
        port.SetPort(far.Path());
        port.Open();
        std::atomic<int> started{0};
        // Each transfer either completes or raises EComPort; a Close in the
        // middle of one must not pull the device from under it.
        auto transfers = [&](bool writing) {
            char buf[256] = {};
            for (bool counted = false;; counted = true) {
                try {
                    writing ? port.Write(buf, sizeof buf) : port.Read(buf, sizeof buf);
                } catch (const EComPort& e) {
                    EXPECT_TRUE(e.Code() == (writing ? 2 : 3) || e.Code() == 10) << e.what();
                    return;
                }
                if (!counted)
                    ++started;
            }
        };
        std::thread writer(transfers, true);
        std::thread reader(transfers, false);
        far.Send("input for the reader");
        ASSERT_TRUE(WaitBusy([&] { return started == 2; }));
        port.Close();
        writer.join();
        reader.join();
    }
}

// Busy away from any event loop, or in a routine its loop runs after it has
// taken input there, or in the receive handler that loop called (the port's
// event thread leaves the line to the loop as long as it is back soon), on
// the application's thread or on one of its own.
TEST(PtySafety, NoReceivedByteIsLostWhileTheOwnerIsBusy)
{
    enum class Busy { kAwayFromLoop, kInLoopRoutine, kInReceiveHandler };
    auto scenario = [](Busy where, TSyncMethod mode) {
        FarEnd far;
        // Another descriptor of the same tty, opened first: it shows how
        // much input the kernel still holds for the port.
        int kernel = ::open(far.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(kernel, 0);
        std::mutex mutex;
        std::string received;
        TComPort port(nullptr);
        const std::string sent = Pattern(5000);
        const size_t first = where == Busy::kAwayFromLoop ? 0 : 100;
        std::atomic<bool> went_busy{false}, back{false};
        // The far end is used by one thread at a time: in smNone the handler
        // may see the first bytes before their write has returned.
        std::atomic<bool> first_sent{first == 0};
        // From here the owner serves no events until the far end has hung
        // up, which discards whatever the kernel still holds.
        auto busy = [&] {
            went_busy = true;
            WaitBusy([&] { return first_sent.load(); });
            for (size_t at = first; at < sent.size(); at += 100)
                far.Send(sent.substr(at, 100));
            EXPECT_TRUE(WaitBusy([&] {
                int in_kernel = -1;
                if (::ioctl(kernel, FIONREAD, &in_kernel) != 0 || in_kernel != 0)
                    return false;
                int32_t queued = port.InputCount();
                std::lock_guard lock(mutex);
                return received.size() + static_cast<size_t>(queued) == sent.size();
            })) << "received bytes wait in the kernel for the owner";
            far.HangUp();
            back = true;
        };
        port.SetPort(far.Path());
        port.SetSyncMethod(mode);
        port.OnRxChar = [&](TObject*, int32_t n) {
            std::string s;
            port.ReadStr(s, n);
            bool due = false;
            {
                std::lock_guard lock(mutex);
                received += s;
                due = where == Busy::kInReceiveHandler && !went_busy && received.size() >= first;
            }
            if (due)
                busy();
        };
        port.Open();
        if (where == Busy::kInLoopRoutine) {
            QEventLoop loop;
            QTimer::singleShot(10, [&] {
                far.Send(sent.substr(0, first));
                first_sent = true;
            });
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, [&] {
                std::lock_guard lock(mutex);
                if (received.size() < first)
                    return;
                check.stop();
                QTimer::singleShot(0, [&] {
                    busy();
                    loop.quit();
                });
            });
            check.start(5);
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            loop.exec();
        } else if (where == Busy::kInReceiveHandler) {
            // A loop that waits, as an application's does (one made to look
            // and return tells of every pass it makes).
            QEventLoop loop;
            far.Send(sent.substr(0, first));
            first_sent = true;
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, [&] {
                // In smNone the handler is busy on the event thread.
                if (back)
                    loop.quit();
            });
            check.start(5);
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
            EXPECT_TRUE(back);
        } else {
            busy();
        }
        ::close(kernel);
        EXPECT_TRUE(PumpUntil([&] {
            std::lock_guard lock(mutex);
            return received.size() >= sent.size();
        }));
        port.Close();
        std::lock_guard lock(mutex);
        EXPECT_EQ(received.size(), sent.size());
        EXPECT_TRUE(received == sent);
    };
    const std::pair<Busy, const char*> kWhere[] = {
        {Busy::kAwayFromLoop, "away from any loop"},
        {Busy::kInLoopRoutine, "in a routine of its loop"},
        {Busy::kInReceiveHandler, "in the receive handler its loop called"},
    };
    for (const auto& [where, name] : kWhere)
        for (TSyncMethod mode : kModes) {
            SCOPED_TRACE(std::string(name) + ", mode " + std::to_string(mode));
            scenario(where, mode);
        }
    SCOPED_TRACE("in a routine of the loop of a thread of its own");
    std::unique_ptr<QThread> owner(QThread::create([&] { scenario(Busy::kInLoopRoutine, smThreadSync); }));
    owner->start();
    owner->wait();
}

TEST(PtySafety, AHandlerExceptionLosesNoByteAndStopsNoWrite)
{
    for (TSyncMethod mode : kModes) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        CaughtExceptions caught;
        FarEnd far;
        TComPort port(nullptr);
        port.SetPort(far.Path());
        port.SetSyncMethod(mode);
        std::atomic<int> calls{0};
        // Reads nothing: the bytes stay for whoever reads later.
        port.OnRxChar = [&](TObject*, int32_t) {
            if (calls++ == 0)
                throw std::runtime_error("receive handler failed");
        };
        port.Open();
        far.Send("abc");
        ASSERT_TRUE(PumpUntil([&] { return caught.Messages().size() == 1; }));
        EXPECT_EQ(caught.Messages()[0], "receive handler failed");
        far.Send("def");
        EXPECT_TRUE(PumpUntil([&] { return port.InputCount() == 6; })) << port.InputCount();
        std::string s;
        EXPECT_EQ(port.ReadStr(s, 10), 6);
        EXPECT_EQ(s, "abcdef");
        EXPECT_EQ(port.WriteStr("ok"), 2);
        EXPECT_EQ(far.Receive(2), "ok");
        port.Close();
    }
}

TEST(PtySafety, CloseGivesUpTheExclusiveClaim)
{
    FarEnd far;
    // Another holder of the tty keeps it from being reset by our close.
    int other = ::open(far.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    TComPort port(nullptr);
    port.SetPort(far.Path());
    port.Open();
    int exclusive = -1;
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "other users are kept out while the port is open";
    port.Close();
    ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "and let in again once it is closed";
    ::close(other);
}

TEST(PtySafety, ShortOfDescriptorsOpenFailsAndLeavesNothingOpen)
{
    if (!this_system::descriptors())
        GTEST_SKIP() << "this system does not list a process's descriptors";
    FarEnd far;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    bool refused = false, opened = false;
    {
        // Once through with descriptors to spare first: the undefined
        // behaviour checker needs a descriptor to look at an object's type
        // the first time it meets it.
        TComPort port(nullptr);
        port.SetPort(far.Path());
        port.Open();
        port.Close();
        port.SetPort("/dev/tarnby-no-such-port");
        try {
            port.Open();
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), 1);
        }
    }
    // One more free descriptor each round, until the port opens.
    for (int free = 0; free <= 16 && !opened; ++free) {
        SCOPED_TRACE("free descriptors: " + std::to_string(free));
        TComPort port(nullptr);
        port.SetPort(far.Path());
        int received = 0;
        port.OnRxChar = [&](TObject*, int32_t n) {
            char buf[16];
            received += port.Read(buf, std::min<int32_t>(n, sizeof buf));
        };
        const std::set<int> before = OpenDescriptors();
        rlimit low = saved;
        low.rlim_cur = 0;
        for (int unused = 0; unused < free || before.count(static_cast<int>(low.rlim_cur)) != 0; ++low.rlim_cur)
            if (before.count(static_cast<int>(low.rlim_cur)) == 0)
                ++unused;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        try {
            port.Open();
            opened = true;
        } catch (const EComPort& e) {
            refused = true;
            EXPECT_EQ(e.Code(), 1);
            EXPECT_EQ(e.WinCode(), EMFILE);
        }
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        EXPECT_EQ(port.Connected(), opened);
        if (opened) {
            // Opened means working: events arrive and Close returns.
            far.Send("x");
            EXPECT_TRUE(PumpUntil([&] { return received == 1; }));
            port.Close();
        }
        EXPECT_EQ(OpenDescriptors(), before);
    }
    EXPECT_TRUE(refused);
    EXPECT_TRUE(opened);
}

TEST(PtySafety, TxEmptyOnlyOnceEverythingWrittenHasLeft)
{
    FarEnd far;
    TComPort port(nullptr);
    port.SetPort(far.Path());
    std::vector<int32_t> waiting_at_tx_empty;
    port.OnTxEmpty = [&](TObject*) { waiting_at_tx_empty.push_back(port.OutputCount()); };
    port.Open();
    // Far more than the kernel takes while nobody reads: the rest waits in
    // the port.
    const std::string big = Pattern(1 << 20);
    PAsync async = nullptr;
    InitAsync(async);
    port.WriteAsync(big.data(), static_cast<int32_t>(big.size()), async);
    EXPECT_GT(port.OutputCount(), 0);
    PumpFor(100);
    std::string got;
    std::thread reader([&] { got = far.Receive(big.size(), 60000); });
    EXPECT_TRUE(PumpUntil([&] { return port.IsAsyncCompleted(async) && !waiting_at_tx_empty.empty(); }, 60000));
    reader.join();
    EXPECT_TRUE(got == big);
    EXPECT_EQ(port.WaitForAsync(async), static_cast<int32_t>(big.size()));
    DoneAsync(async);
    for (int32_t waiting : waiting_at_tx_empty)
        EXPECT_EQ(waiting, 0) << "OnTxEmpty with bytes still to send";
    port.Close();
}

// Writes wake none of the port's threads: not while the owner has never run
// its loop, and not once it has taken input there and then writes on away
// from it, long enough for the event thread to be sent back to the line in
// the middle of the writes.
TEST(PtySafety, WritesWakeNoThreadOfThePortUnlessTxEmptyIsWanted)
{
    if (SwitchesOfOtherThreads({}) < 0)
        GTEST_SKIP() << "this system does not count a thread's context switches";
    for (bool input_taken_in_loop : {false, true}) {
        SCOPED_TRACE(input_taken_in_loop ? "after input taken in the owner's loop" : "owner never in its loop");
        FarEnd far;
        std::atomic<long> drain_thread{0};
        std::atomic<bool> stop{false};
        std::thread drain([&] {
            drain_thread = this_system::thread_id();
            char buf[4096];
            while (!stop) {
                pollfd p{far.Fd(), POLLIN, 0};
                if (::poll(&p, 1, 20) > 0 && ::read(far.Fd(), buf, sizeof buf) <= 0)
                    return;
            }
        });
        TComPort port(nullptr);
        port.SetPort(far.Path());
        port.SetEvents(kAllComEvents - TComEvents{evTxEmpty});
        size_t received = 0;
        port.OnRxChar = [&](TObject*, int32_t n) {
            std::string s;
            received += static_cast<size_t>(port.ReadStr(s, n));
        };
        port.Open();
        ASSERT_TRUE(WaitBusy([&] { return drain_thread != 0; }));
        if (input_taken_in_loop) {
            QEventLoop loop;
            // Sent once the owner waits in its loop.
            QTimer::singleShot(10, [&] { far.Send("x"); });
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, [&] {
                if (received == 1)
                    loop.quit();
            });
            check.start(5);
            QTimer::singleShot(20000, &loop, &QEventLoop::quit);
            loop.exec();
            ASSERT_EQ(received, 1u);
        }
        // The port's own threads: the event thread, and the worker if any.
        const std::set<long> others{this_system::thread_id(), drain_thread};
        const long before = SwitchesOfOtherThreads(others);
        for (int i = 0; i < 5000; ++i)
            port.Write("w", 1);
        EXPECT_LT(SwitchesOfOtherThreads(others) - before, 100);
        port.Close();
        stop = true;
        drain.join();
    }
}

// While the owner waits in its event loop it takes received bytes itself:
// an arrival wakes it alone, not the port's own threads as well.
TEST(PtySafety, ArrivalsWakeOnlyAnOwnerThatWaitsInItsLoop)
{
    if (SwitchesOfOtherThreads({}) < 0)
        GTEST_SKIP() << "this system does not count a thread's context switches";
    constexpr int kChunks = 200;
    FarEnd far;
    size_t received = 0;
    TComPort port(nullptr);
    port.SetPort(far.Path());
    port.OnRxChar = [&](TObject*, int32_t n) {
        std::string s;
        received += static_cast<size_t>(port.ReadStr(s, n));
    };
    port.Open();
    std::atomic<long> writer_thread{0};
    std::atomic<bool> go{false};
    std::thread writer([&] {
        writer_thread = this_system::thread_id();
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < kChunks; ++i) {
            far.Send("12345678");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    while (writer_thread == 0)
        std::this_thread::yield();
    const std::set<long> others{this_system::thread_id(), writer_thread};
    const long before = SwitchesOfOtherThreads(others);
    go = true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (received == kChunks * 8u)
            loop.quit();
    });
    check.start(50);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    const long switches = SwitchesOfOtherThreads(others) - before;
    writer.join();
    port.Close();
    EXPECT_EQ(received, kChunks * 8u);
    // One per arrival before; a few remain for the moments the owner was
    // kept from its loop on a loaded machine.
    EXPECT_LT(switches, kChunks / 2);
}

TEST(PtySafety, OnlySerialPortsAndPseudoTerminalsAreOpened)
{
    TComPort port(nullptr);
    port.SetEvents({});
    // A terminal, but opening it makes a new pseudo-terminal; and devices
    // that are no terminal at all.
    for (const char* name : {"ptmx", "null", "/dev/zero"}) {
        SCOPED_TRACE(name);
        port.SetPort(name);
        try {
            port.Open();
            ADD_FAILURE() << "opened";
            port.Close();
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), 1);
            EXPECT_EQ(e.WinCode(), ENOTTY);
        }
    }
    // A device that acts when opened (a watchdog arms itself) is never
    // opened: here a null device under a name of its own, watched for opens.
    char dir[] = "/tmp/tarnby-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string node = std::string(dir) + "/watchdog";
    if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
        ::rmdir(dir);
        GTEST_SKIP() << "no device nodes can be made here";
    }
    int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(opens, node.c_str(), IN_OPEN), 0);
    port.SetPort(node);
    EXPECT_THROW(port.Open(), EComPort);
    char event[sizeof(inotify_event) + 256];
    EXPECT_LT(::read(opens, event, sizeof event), 0) << "the device was opened";
    ::close(opens);
    ::unlink(node.c_str());
    ::rmdir(dir);
}

} // namespace
