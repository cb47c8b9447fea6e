// The real device layer on pseudo-terminals: the port opens the slave side
// by path, the test plays the far end on the master side.
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class Pty : public testing::Test {
protected:
    FarEnd far;
    EventLog log;
    TComPort port{nullptr};
    void SetUp() override
    {
        port.SetPort(far.Path());
        port.SetBaudRate(br19200);
    }
};

TEST_F(Pty, OpensByPathExclusively)
{
    port.Open();
    EXPECT_TRUE(port.Connected());
    TComPort second(nullptr);
    second.SetPort(far.Path());
    try {
        second.Open();
        FAIL() << "a second open of the same device must fail, also for root";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.WinCode(), EBUSY);
        EXPECT_EQ(e.Device(), far.Path());
        EXPECT_EQ(e.SystemMessage(), "Device or resource busy");
    }
    EXPECT_FALSE(second.Connected());
    port.Close();
    second.Open(); // free again
    EXPECT_TRUE(second.Connected());
}

TEST_F(Pty, MissingDeviceRaisesFileNotFound)
{
    port.SetPort("/dev/tarnby-no-such-port");
    try {
        port.Open();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.WinCode(), 2);
        EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
        EXPECT_EQ(e.Device(), "/dev/tarnby-no-such-port");
        EXPECT_EQ(e.SystemMessage(), "No such file or directory");
    }
    EXPECT_FALSE(port.Connected());

    port.SetPort("COM250"); // named the Windows way: the device it stands for
    try {
        port.Open();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), errOpen);
        EXPECT_EQ(e.Device(), "/dev/ttyS249");
        EXPECT_EQ(e.Device(), port.DevicePath());
    }

    port.SetPort("/dev/null"); // a device, but no serial port
    try {
        port.Open();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.WinCode(), ENOTTY);
        EXPECT_EQ(e.Device(), "/dev/null");
        EXPECT_EQ(e.SystemMessage(), "Inappropriate ioctl for device");
    }
}

// A thread without a Qt event loop would never see the events of a port
// that hands them to it: such a port does not open. smNone, whose handlers
// run on the event thread, and a port without events work there.
TEST_F(Pty, WithoutAnEventLoopOnlySmNoneDelivers)
{
    std::thread owner([&] {
        TComPort alone(nullptr);
        alone.SetPort(far.Path());
        bool before_open = false;
        alone.OnBeforeOpen = [&](TObject*) { before_open = true; };
        for (TSyncMethod method : {smThreadSync, smWindowSync}) {
            alone.SetSyncMethod(method);
            before_open = false;
            try {
                alone.Open();
                ADD_FAILURE() << "opened without an event loop, mode " << int(method);
            } catch (const EComPort& e) {
                EXPECT_EQ(e.Code(), errOther);
                EXPECT_NE(std::string(e.what()).find("QCoreApplication"), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find("smNone"), std::string::npos) << e.what();
            }
            EXPECT_FALSE(alone.Connected());
            EXPECT_FALSE(before_open) << "refused before anything happened";
        }

        alone.SetSyncMethod(smThreadSync);
        alone.SetEvents({});
        alone.Open();
        EXPECT_TRUE(alone.Connected());
        alone.Close();

        alone.SetEvents(kAllComEvents);
        alone.SetSyncMethod(smNone);
        std::mutex mutex;
        std::string got;
        alone.OnRxChar = [&](TObject*, int32_t count) {
            std::string bytes;
            alone.ReadStr(bytes, count);
            std::lock_guard lock(mutex);
            got += bytes;
        };
        alone.Open();
        far.Send("hello");
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (got == "hello" || Clock::now() > deadline)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        alone.Close(); // before what its handler uses goes
        EXPECT_EQ(got, "hello");
    });
    owner.join();
}

TEST_F(Pty, EveryByteReachesOnRxCharOnTheMainThread)
{
    const std::string sent = Pattern(300000);
    std::string received;
    int calls = 0;
    bool on_main = true;
    const auto main_id = std::this_thread::get_id();
    port.OnRxChar = [&](TObject*, int32_t count) {
        ++calls;
        on_main = on_main && std::this_thread::get_id() == main_id;
        std::string chunk(static_cast<size_t>(count), '\0');
        int32_t n = port.Read(chunk.data(), count);
        EXPECT_EQ(n, count) << "Count is what waits";
        received.append(chunk.data(), static_cast<size_t>(n));
    };
    port.Open();
    std::thread writer([&] {
        for (size_t at = 0; at < sent.size(); at += 1000 + at % 3000)
            far.Send(sent.substr(at, 1000 + at % 3000));
    });
    bool all = PumpUntil([&] { return received.size() >= sent.size(); }, 30000);
    writer.join();
    ASSERT_TRUE(all) << received.size() << " of " << sent.size();
    EXPECT_EQ(received, sent);
    EXPECT_TRUE(on_main);
    EXPECT_GT(calls, 0);
    port.Close();
}

TEST_F(Pty, BytesGoToOnRxBufWhenNotTriggeringOnRxChar)
{
    std::string received;
    int rx_char_calls = 0;
    port.SetTriggersOnRxChar(false);
    port.OnRxChar = [&](TObject*, int32_t) { ++rx_char_calls; };
    port.OnRxBuf = [&](TObject*, const void* buf, int32_t n) {
        received.append(static_cast<const char*>(buf), static_cast<size_t>(n));
    };
    port.Open();
    far.Send("0123456789");
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 10; }));
    EXPECT_EQ(received, "0123456789");
    EXPECT_EQ(rx_char_calls, 0);
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Pty, WritesArriveAtTheFarEnd)
{
    int tx_empty = 0;
    port.OnTxEmpty = [&](TObject*) { ++tx_empty; };
    port.Open();
    const std::string data = Pattern(5000);
    EXPECT_EQ(port.Write(data.data(), static_cast<int32_t>(data.size())), 5000);
    EXPECT_EQ(port.WriteStr("tail"), 4);
    port.TransmitChar('!');
    EXPECT_EQ(far.Receive(5005), data + "tail!");
    EXPECT_TRUE(PumpUntil([&] { return tx_empty > 0; }));
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Pty, EventCharacterAndNullDiscard)
{
    int flags = 0;
    std::string received;
    port.SetEventChar('\n');
    port.SetDiscardNull(true);
    port.OnRxFlag = [&](TObject*) { ++flags; };
    port.OnRxChar = [&](TObject*, int32_t n) {
        std::string s;
        port.ReadStr(s, n);
        received += s;
    };
    port.Open();
    far.Send(std::string("ab\0c\n", 5));
    ASSERT_TRUE(PumpUntil([&] { return flags > 0 && received.size() >= 4; }));
    EXPECT_EQ(received, "abc\n");
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Pty, ReadsWithoutEventThread)
{
    port.SetEvents({});
    port.Open();
    char buf[100];
    EXPECT_EQ(port.Read(buf, 100), 0) << "nothing queued: at once, empty";
    far.Send("1234567");
    ASSERT_TRUE(PumpUntil([&] { return port.InputCount() == 7; }));
    EXPECT_EQ(port.Read(buf, 100), 7);
    EXPECT_EQ(std::string(buf, 7), "1234567");

    far.Send("abcd");
    ASSERT_TRUE(PumpUntil([&] { return port.InputCount() == 4; }));
    std::string s;
    EXPECT_EQ(port.ReadStr(s, 10), 4);
    EXPECT_EQ(s, "abcd");

    far.Send("zap");
    ASSERT_TRUE(PumpUntil([&] { return port.InputCount() == 3; }));
    port.ClearBuffer(true, false);
    EXPECT_EQ(port.InputCount(), 0);
}

TEST_F(Pty, ReadTimeoutsWaitForBytesOrTime)
{
    port.SetEvents({});
    port.Timeouts()->SetReadInterval(0);
    port.Timeouts()->SetReadTotalConstant(150);
    port.Open();
    char buf[10];
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buf, 10), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));

    // All bytes that arrive in time are collected.
    port.Timeouts()->SetReadTotalConstant(10000);
    std::thread sender([&] { far.Send("0123456789"); });
    EXPECT_EQ(port.Read(buf, 10), 10);
    sender.join();

    // Return as soon as one byte is there.
    port.Timeouts()->SetReadInterval(-1);
    port.Timeouts()->SetReadTotalMultiplier(-1);
    port.Timeouts()->SetReadTotalConstant(10000);
    PAsync async = nullptr;
    InitAsync(async);
    EXPECT_EQ(port.ReadAsync(buf, 10, async), 0);
    EXPECT_FALSE(port.IsAsyncCompleted(async));
    far.Send("x");
    EXPECT_EQ(port.WaitForAsync(async), 1);
    DoneAsync(async);
}

TEST_F(Pty, WriteTimeoutReturnsWhatWentOut)
{
    port.SetEvents({});
    port.Timeouts()->SetWriteTotalMultiplier(0);
    port.Timeouts()->SetWriteTotalConstant(200);
    port.Open();
    // Nobody reads the far end: the kernel takes a few kilobytes, then no more.
    const std::string big = Pattern(1 << 20);
    auto start = Clock::now();
    int32_t n = port.Write(big.data(), static_cast<int32_t>(big.size()));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int32_t>(big.size()));
}

TEST_F(Pty, AbortEndsAPendingRead)
{
    port.SetEvents({});
    port.Timeouts()->SetReadInterval(0);
    port.Timeouts()->SetReadTotalConstant(0);
    port.Open();
    char buf[4];
    PAsync async = nullptr;
    InitAsync(async);
    EXPECT_EQ(port.ReadAsync(buf, 4, async), 0);
    far.Send("ab");
    port.AbortAllAsync();
    int32_t n = port.WaitForAsync(async);
    EXPECT_LE(n, 2);
    DoneAsync(async);
}

TEST_F(Pty, WaitForEventTimesOutEmpty)
{
    port.SetEvents({});
    port.Open();
    TComEvents events{evRxChar, evBreak};
    auto start = Clock::now();
    port.WaitForEvent(events, nullptr, 100);
    EXPECT_TRUE(events.Empty());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(95));

    std::thread sender([&] { far.Send("q"); });
    events = {evRxChar};
    port.WaitForEvent(events, nullptr, 10000);
    sender.join();
    EXPECT_EQ(events, TComEvents{evRxChar});
}

TEST_F(Pty, LinesAndBreakOfAPseudoTerminalReadOff)
{
    port.FlowControl()->SetControlDTR(dtrEnable);
    port.FlowControl()->SetControlRTS(rtsToggle);
    port.Open();
    EXPECT_TRUE(port.Signals().Empty());
    port.SetDTR(true);
    port.SetRTS(false);
    port.SetBreak(true);
    port.SetBreak(false);
    port.SetXonXoff(false);
    port.SetXonXoff(true);
    EXPECT_TRUE(port.StateFlags().Empty());
    // Every speed of the list and a custom one are accepted.
    for (int b = br110; b <= br256000; ++b)
        port.SetBaudRate(static_cast<TBaudRate>(b));
    port.SetCustomBaudRate(31250);
    port.SetBaudRate(brCustom);
    for (int p = prNone; p <= prSpace; ++p)
        port.Parity()->SetBits(static_cast<TParityBits>(p));
    for (int d = dbFive; d <= dbEight; ++d)
        port.SetDataBits(static_cast<TDataBits>(d));
    port.SetStopBits(sbOne5StopBits);
    port.FlowControl()->SetFlowControl(fcHardware);
    port.FlowControl()->SetFlowControl(fcSoftware);
    EXPECT_TRUE(port.Connected());

    port.SetBaudRate(br9600);
    port.SetCustomBaudRate(0); // not in use: nothing applied
    try {
        port.SetBaudRate(brCustom);
        FAIL() << "a speed of no bits per second is refused";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 7);
        EXPECT_EQ(e.WinCode(), EINVAL);
    }
}

TEST_F(Pty, CloseWhileDataFlows)
{
    std::atomic<bool> stop{false};
    size_t received = 0;
    port.OnRxChar = [&](TObject*, int32_t n) {
        char buf[8192];
        while (n > 0) {
            int32_t got = port.Read(buf, std::min<int32_t>(n, sizeof buf));
            if (got <= 0)
                break;
            received += static_cast<size_t>(got);
            n -= got;
        }
    };
    port.Open();
    ::fcntl(far.Fd(), F_SETFL, O_NONBLOCK);
    std::thread writer([&] {
        const std::string chunk = Pattern(4096);
        while (!stop) {
            pollfd p{far.Fd(), POLLOUT, 0};
            if (::poll(&p, 1, 20) > 0)
                [[maybe_unused]] ssize_t r = ::write(far.Fd(), chunk.data(), chunk.size());
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return received > 100000; }));
    port.Close();
    EXPECT_FALSE(port.Connected());
    stop = true;
    writer.join();
    port.Open(); // and again, with bytes still arriving from the old session
    port.Close();
}

TEST_F(Pty, FarEndHangUpIsReportedOnceAndNothingSpins)
{
    std::vector<TComErrors> errors;
    port.OnError = [&](TObject*, TComErrors e) { errors.push_back(e); };
    port.OnRxChar = [&](TObject*, int32_t n) {
        std::string s;
        port.ReadStr(s, n);
    };
    port.Open();
    far.Send("bye");
    far.HangUp();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0], TComErrors{ceIO});

    PumpFor(20);
    double before = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    double used = CpuSeconds() - before;
    PumpFor(20);
    EXPECT_LT(used, 0.05) << "a hung-up device must not keep any thread busy";
    EXPECT_EQ(errors.size(), 1u);
    char buf[4];
    EXPECT_EQ(port.Read(buf, 4), 0);
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(Pty, HandlerExceptionIsShownAndEndsDelivery)
{
    CaughtExceptions caught;
    int calls = 0;
    port.OnRxChar = [&](TObject*, int32_t) {
        ++calls;
        throw std::runtime_error("receive handler failed");
    };
    port.Open();
    far.Send("a");
    ASSERT_TRUE(PumpUntil([&] { return caught.Messages().size() == 1; }));
    EXPECT_EQ(caught.Messages()[0], "receive handler failed");
    far.Send("b");
    PumpFor(50);
    EXPECT_EQ(calls, 1) << "no events after a handler's exception until the port reopens";
    EXPECT_EQ(port.Write("x", 1), 1);
    port.Close();
    port.Open();
    far.Send("c");
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Pty, HandlerMayReopenThePort)
{
    std::string received;
    int reopened = 0;
    port.OnRxChar = [&](TObject*, int32_t n) {
        std::string s;
        port.ReadStr(s, n);
        received += s;
        if (s.find('!') != std::string::npos) {
            // Closed and opened again from inside its own dispatch: the
            // device must be free again at once.
            port.Close();
            port.Open();
            ++reopened;
        }
    };
    port.Open();
    far.Send("go!");
    ASSERT_TRUE(PumpUntil([&] { return reopened == 1; }));
    EXPECT_TRUE(port.Connected());
    far.Send("more");
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 7; }));
    EXPECT_EQ(received, "go!more");
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Pty, UnreadBytesDoNotKeepTheEventThreadBusy)
{
    int calls = 0, full = 0;
    port.OnRxChar = [&](TObject*, int32_t) { ++calls; }; // reads nothing
    port.OnRx80Full = [&](TObject*) { ++full; };
    port.Open();
    far.Send(Pattern(4000));
    ASSERT_TRUE(PumpUntil([&] { return calls > 0 && full > 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let the burst settle
    PumpFor(20);
    int settled = calls;
    double before = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    double used = CpuSeconds() - before;
    PumpFor(20);
    EXPECT_LT(used, 0.05);
    EXPECT_EQ(calls, settled) << "no new bytes, no new events";
    EXPECT_EQ(port.InputCount(), 4000);
    port.Close(); // before the handlers' captured locals go
}

} // namespace
