// The event thread and dispatch, on the fake device.
#include "fake_device.h"
#include "test_support.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

class Dispatch : public testing::Test {
protected:
    FakeDeviceScope fake;
    FakeLine& line = *fake.line;
    EventLog log; // outlives the port, whose Close still reports
    TComPort port{nullptr};

    void OpenAndSettle()
    {
        log.Attach(port);
        port.Open();
        log.Clear();
    }
    bool WaitForLines(size_t n) { return PumpUntil([&] { return log.Size() >= n; }); }
};

TEST_F(Dispatch, EventMaskAndConversions)
{
    EXPECT_EQ(ComEventsToMask(kAllComEvents), 0x05FFu);
    EXPECT_EQ(ComEventsToMask({evRxChar, evRxFlag, evRx80Full}), 0x0403u);
    EXPECT_EQ(MaskToComEvents(0x0200 | 0x0004 | 0x0100), (TComEvents{evTxEmpty, evRing}))
        << "bits without an event are ignored";
    for (uint32_t bit = 1; bit < 0x10000; bit <<= 1)
        EXPECT_EQ(ComEventsToMask(MaskToComEvents(bit)), bit == 0x200 || bit > 0x400 ? 0u : bit);
    port.SetEvents({evRxChar, evBreak});
    port.Open();
    EXPECT_EQ(line.mask, comm::EV_RXCHAR | comm::EV_BREAK);
}

TEST_F(Dispatch, OneWakeUpIsDispatchedInFixedOrderOnTheMainThread)
{
    OpenAndSettle();
    std::atomic<bool> on_main{true};
    port.OnRxChar = [&](TObject* sender, int32_t n) {
        on_main = on_main && QThread::currentThread() == QCoreApplication::instance()->thread() && sender == &port;
        log.Add("RxChar " + std::to_string(n));
        char buf[16];
        port.Read(buf, n);
    };
    {
        std::lock_guard lock(line.mutex);
        line.input = {'a', 'b', 'c'};
        line.errors = comm::CE_FRAME | comm::CE_OVERRUN;
        line.modem_status = comm::MS_DSR_ON;
    }
    line.Raise(comm::EV_RX80FULL | comm::EV_RLSD | comm::EV_RXFLAG | comm::EV_DSR | comm::EV_CTS | comm::EV_RING |
               comm::EV_BREAK | comm::EV_TXEMPTY | comm::EV_RXCHAR | comm::EV_ERR);
    ASSERT_TRUE(WaitForLines(10));
    Lines expected{"Error " + std::to_string(TComErrors{ceFrame, ceOverrun}.ToBits()),
                   "RxChar 3", "TxEmpty", "Break", "Ring", "CTS 0", "DSR 1", "RxFlag", "RLSD 0", "Rx80Full"};
    EXPECT_EQ(log.Lines(), expected);
    EXPECT_TRUE(on_main);
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Dispatch, OnlyEventsOfTheMaskAreDelivered)
{
    port.SetEvents({evRxChar});
    OpenAndSettle();
    line.Raise(comm::EV_BREAK | comm::EV_RING);
    line.Receive("xy");
    ASSERT_TRUE(WaitForLines(1));
    PumpFor(30);
    EXPECT_EQ(log.Lines(), (Lines{"RxChar 2"}));
}

TEST_F(Dispatch, ErrorEventWithNothingPendingCallsNoHandler)
{
    OpenAndSettle();
    line.Raise(comm::EV_ERR);
    line.Raise(comm::EV_RING);
    ASSERT_TRUE(WaitForLines(1));
    EXPECT_EQ(log.Lines(), (Lines{"Ring"}));
}

TEST_F(Dispatch, ParityErrorReportedOnlyWhenChecked)
{
    OpenAndSettle();
    line.errors = comm::CE_RXPARITY | comm::CE_BREAK;
    EXPECT_EQ(port.LastErrors(), TComErrors{ceBreak});
    port.Parity()->SetCheck(true);
    line.errors = comm::CE_RXPARITY;
    EXPECT_EQ(port.LastErrors(), TComErrors{ceRxParity});
    EXPECT_TRUE(port.LastErrors().Empty()) << "errors reset when read";
    line.errors = comm::CE_RXPARITY;
    port.InputCount();
    EXPECT_TRUE(port.LastErrors().Empty()) << "any state query reads and resets them";
}

TEST_F(Dispatch, ReceivedBytesGoToOnRxBufWhenNotTriggeringOnRxChar)
{
    port.SetTriggersOnRxChar(false);
    OpenAndSettle();
    std::string got;
    port.OnRxBuf = [&](TObject*, const void* buf, int32_t n) {
        got.assign(static_cast<const char*>(buf), static_cast<size_t>(n));
        log.Add("RxBuf " + std::to_string(n));
    };
    line.Receive("0123456789");
    ASSERT_TRUE(WaitForLines(1));
    EXPECT_EQ(log.Lines(), (Lines{"RxBuf 10"}));
    EXPECT_EQ(got, "0123456789");
    EXPECT_TRUE(line.input.empty());
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Dispatch, LinkWithRxBufReadsForEveryoneAndLocksTheTrigger)
{
    OpenAndSettle();
    TComLink link;
    std::string link_got;
    link.OnRxBuf = [&](TObject*, const void* buf, int32_t n) {
        link_got.assign(static_cast<const char*>(buf), static_cast<size_t>(n));
        log.Add("link RxBuf " + std::to_string(n));
    };
    link.OnRx = [&](TObject*, bool on) { log.Add(std::string("link Rx ") + (on ? "1" : "0")); };
    port.RegisterLink(&link);
    EXPECT_TRUE(port.HasLink());
    EXPECT_FALSE(port.TriggersOnRxChar());
    port.OnRxBuf = [&](TObject*, const void*, int32_t n) { log.Add("RxBuf " + std::to_string(n)); };
    line.Receive("hello");
    ASSERT_TRUE(WaitForLines(4));
    EXPECT_EQ(log.Lines(), (Lines{"link Rx 1", "link Rx 0", "RxBuf 5", "link RxBuf 5"}));
    EXPECT_EQ(link_got, "hello");
    try {
        port.SetTriggersOnRxChar(true);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 22);
        EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");
    }
    port.UnRegisterLink(&link);
    EXPECT_FALSE(port.HasLink());
    EXPECT_TRUE(port.TriggersOnRxChar());
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Dispatch, LinkRegistrationErrors)
{
    TComLink link;
    port.RegisterLink(&link);
    EXPECT_FALSE(port.HasLink()) << "no OnRxBuf";
    try {
        port.RegisterLink(&link);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 18);
        EXPECT_STREQ(e.what(), "Link (un)registration failed");
    }
    port.UnRegisterLink(&link);
    EXPECT_THROW(port.UnRegisterLink(&link), EComPort);
    EXPECT_THROW(port.RegisterLink(nullptr), EComPort);
}

TEST_F(Dispatch, LinksFollowTransmitAndLines)
{
    OpenAndSettle();
    TComLink link;
    Lines seen;
    link.OnTx = [&](TObject*, bool on) { seen.push_back(std::string("Tx ") + (on ? "1" : "0")); };
    link.OnTxBuf = [&](TObject*, const void* b, int32_t n) {
        seen.push_back("TxBuf " + std::string(static_cast<const char*>(b), static_cast<size_t>(n)));
    };
    link.OnTxEmpty = [&](TObject*) { seen.push_back("TxEmpty"); };
    link.OnRing = [&](TObject*) { seen.push_back("Ring"); };
    link.OnRxFlag = [&](TObject*) { seen.push_back("RxFlag"); };
    link.OnRLSDChange = [&](TObject*, bool on) { seen.push_back(std::string("RLSD ") + (on ? "1" : "0")); };
    port.RegisterLink(&link);
    EXPECT_EQ(port.WriteStr("ok"), 2);
    line.modem_status = comm::MS_RLSD_ON;
    line.Raise(comm::EV_TXEMPTY | comm::EV_RING | comm::EV_RXFLAG | comm::EV_RLSD);
    ASSERT_TRUE(WaitForLines(4));
    EXPECT_EQ(seen, (Lines{"Tx 1", "TxBuf ok", "Tx 0", "TxEmpty", "Ring", "RxFlag", "RLSD 1"}));
    port.UnRegisterLink(&link);
}

TEST_F(Dispatch, WindowModeDeliversEachEventOnItsOwn)
{
    port.SetSyncMethod(smWindowSync);
    OpenAndSettle();
    line.modem_status = comm::MS_RLSD_ON;
    line.Raise(comm::EV_RLSD);
    ASSERT_TRUE(WaitForLines(1));
    line.Raise(comm::EV_RING);
    ASSERT_TRUE(WaitForLines(2));
    PumpFor(20);
    EXPECT_EQ(log.Lines(), (Lines{"RLSD 1", "Ring"}));
}

TEST_F(Dispatch, WindowModeHandlerMayCloseThePort)
{
    port.SetSyncMethod(smWindowSync);
    OpenAndSettle();
    port.OnRing = [&](TObject*) {
        log.Add("Ring");
        port.Close();
    };
    line.Raise(comm::EV_RING);
    ASSERT_TRUE(PumpUntil([&] { return !port.Connected(); }));
    EXPECT_EQ(line.live_devices, 0);
}

TEST_F(Dispatch, WindowModeHandlerExceptionIsShownAndDispatchGoesOn)
{
    CaughtExceptions caught;
    port.SetSyncMethod(smWindowSync);
    OpenAndSettle();
    port.OnRing = [&](TObject*) { throw std::runtime_error("ring handler failed"); };
    line.Raise(comm::EV_RING);
    ASSERT_TRUE(PumpUntil([&] { return caught.Messages().size() == 1; }));
    EXPECT_EQ(caught.Messages()[0], "ring handler failed");
    line.Raise(comm::EV_BREAK);
    ASSERT_TRUE(WaitForLines(1));
    EXPECT_EQ(log.Lines(), (Lines{"Break"}));
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Dispatch, ThreadModeHandlerExceptionEndsDeliveryButNotThePort)
{
    CaughtExceptions caught;
    OpenAndSettle();
    port.OnRing = [&](TObject*) { throw std::runtime_error("ring handler failed"); };
    line.Raise(comm::EV_RING);
    ASSERT_TRUE(PumpUntil([&] { return caught.Messages().size() == 1; }));
    EXPECT_EQ(caught.Messages()[0], "ring handler failed");
    line.Raise(comm::EV_BREAK);
    PumpFor(50);
    EXPECT_EQ(log.Size(), 0u) << "the event thread has ended";
    EXPECT_EQ(port.WriteStr("still"), 5);
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(Dispatch, ThreadModeHandlerMayCloseThePortWithoutDeadlock)
{
    OpenAndSettle();
    port.OnRxChar = [&](TObject*, int32_t) {
        log.Add("RxChar");
        port.Close();
    };
    line.Receive("z");
    ASSERT_TRUE(PumpUntil([&] { return !port.Connected(); }));
    // The released thread finishes on its own and lets go of the device.
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(line.mutex);
        return line.live_devices == 0;
    }));
    EXPECT_EQ(log.Lines(), (Lines{"RxChar", "CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose"}));
    port.Open(); // and it opens again
    EXPECT_TRUE(port.Connected());
}

TEST_F(Dispatch, NoSyncModeRunsHandlersOnTheEventThread)
{
    port.SetSyncMethod(smNone);
    OpenAndSettle();
    std::atomic<bool> off_main{false};
    std::atomic<int> rings{0};
    const std::thread::id main_id = std::this_thread::get_id();
    port.OnRing = [&](TObject*) {
        off_main = std::this_thread::get_id() != main_id;
        ++rings;
    };
    line.Raise(comm::EV_RING);
    // No event loop needed: wait on the flag alone.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rings == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_EQ(rings.load(), 1);
    EXPECT_TRUE(off_main);
    port.Close(); // before the handlers' captured locals go
}

TEST_F(Dispatch, CloseWhileADispatchWaitsForTheMainThread)
{
    // A handler of that dispatch may close the port as well: its Close
    // finishes the job, and nobody is told anything twice.
    for (bool handler_closes : {false, true}) {
        SCOPED_TRACE(handler_closes ? "the handler closes too" : "the handler only logs");
        OpenAndSettle();
        if (handler_closes) {
            port.OnRing = [&](TObject*) {
                log.Add("Ring");
                port.Close();
            };
        }
        // The event is raised but the main thread does not pump; Close must
        // serve the waiting dispatch while it waits for the thread.
        line.Raise(comm::EV_RING);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (PendingSynchronize() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_EQ(PendingSynchronize(), 1);
        port.Close();
        EXPECT_FALSE(port.Connected());
        // The dispatch in flight completes while Close waits for the thread.
        EXPECT_EQ(log.Lines(), (Lines{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "Ring", "AfterClose"}));
    }
}

TEST_F(Dispatch, WaitForEventOnlyWithoutEventThread)
{
    port.Open();
    TComEvents events{evRxChar};
    try {
        port.WaitForEvent(events, nullptr, 10);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 20);
        EXPECT_STREQ(e.what(), "Cannot wait for event if event thread is created");
    }
    port.Close();
    port.SetEvents({});
    port.Open();
    comm::ComStopEvent stop;
    stop.Set();
    events = {evRxChar, evRing};
    port.WaitForEvent(events, &stop, -1);
    EXPECT_TRUE(events.Empty()) << "the stop event ends the wait";

    std::thread raiser([&] {
        // Raised once the wait has set its mask.
        for (;;) {
            {
                std::lock_guard lock(line.mutex);
                if (line.mask != 0)
                    break;
            }
            std::this_thread::yield();
        }
        line.Raise(comm::EV_RING);
    });
    events = {evRing};
    port.WaitForEvent(events, nullptr, -1);
    raiser.join();
    EXPECT_EQ(events, TComEvents{evRing});

    line.SetFailing("WaitCommEvent", 9);
    try {
        port.WaitForEvent(events, nullptr, 10);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 21);
        EXPECT_STREQ(e.what(), "WaitForEvent method failed (win error code: 9)");
    }
}

} // namespace
