// A handler may close the port, destroy it, close and reopen it, or point it
// at another device, from any handler, in every dispatch mode, also from a
// handler that runs nested inside another one that serves the event loop.
// Every case must end without a deadlock, with nothing of the port touched
// after it is gone, and with no event thread or device left behind.
#include "fake_device.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

enum class Handler { RxChar, RxBuf, TxEmpty, Error, Link };
enum class Action { Close, Destroy, CloseOpenClose, SetPort };

const char* Name(Handler h)
{
    static const char* const kNames[] = {"OnRxChar", "OnRxBuf", "OnTxEmpty", "OnError", "link OnRx"};
    return kNames[static_cast<int>(h)];
}
const char* Name(Action a)
{
    static const char* const kNames[] = {"Close", "delete", "Close+Open+Close", "SetPort"};
    return kNames[static_cast<int>(a)];
}
const char* Name(TSyncMethod m)
{
    static const char* const kNames[] = {"smThreadSync", "smWindowSync", "smNone"};
    return kNames[m];
}

// Where the port's events come from: the scriptable fake or pseudo-terminals.
class Rig {
public:
    virtual ~Rig() = default;
    virtual std::string Port() = 0;
    virtual std::string OtherPort() = 0;
    // Makes the port's device raise the event that calls handler.
    virtual void Trigger(Handler handler, TCustomComPort& port) = 0;
    // Devices still open, or -1 where the rig cannot tell.
    virtual int OpenDevices() { return -1; }
};

class FakeRig : public Rig {
public:
    FakeRig() { fake_.line->notify_input = true; }
    std::string Port() override { return "COM1"; }
    std::string OtherPort() override { return "COM9"; }
    void Trigger(Handler handler, TCustomComPort&) override
    {
        FakeLine& line = *fake_.line;
        switch (handler) {
        case Handler::RxChar:
        case Handler::RxBuf:
        case Handler::Link: line.Receive("r"); break;
        case Handler::TxEmpty: line.Raise(comm::EV_TXEMPTY); break;
        case Handler::Error:
            {
                std::lock_guard lock(line.mutex);
                line.errors = comm::CE_FRAME;
            }
            line.Raise(comm::EV_ERR);
            break;
        }
    }
    int OpenDevices() override
    {
        std::lock_guard lock(fake_.line->mutex);
        return fake_.line->live_devices;
    }

private:
    FakeDeviceScope fake_;
};

class PtyRig : public Rig {
public:
    std::string Port() override { return far_.Path(); }
    std::string OtherPort() override { return other_.Path(); }
    void Trigger(Handler handler, TCustomComPort& port) override
    {
        if (handler == Handler::TxEmpty)
            port.WriteStr("t");
        else
            far_.Send("r");
    }

private:
    FarEnd far_;
    FarEnd other_;
};

struct Case {
    Handler handler;
    TSyncMethod mode;
    Action action;
    bool nested;
};

std::vector<Case> Cases(std::initializer_list<Handler> handlers)
{
    std::vector<Case> cases;
    for (Handler handler : handlers)
        for (TSyncMethod mode : {smThreadSync, smWindowSync, smNone})
            for (Action action : {Action::Close, Action::Destroy, Action::CloseOpenClose, Action::SetPort})
                for (bool nested : {false, true})
                    // A handler on the event thread has no event loop to nest in.
                    if (!(nested && mode == smNone))
                        cases.push_back({handler, mode, action, nested});
    return cases;
}

void RunCase(Rig& rig, const Case& c)
{
    SCOPED_TRACE(std::string(Name(c.action)) + " from " + Name(c.handler) + " in " + Name(c.mode) +
                 (c.nested ? ", nested" : ""));
    TComLink link; // outlives the port
    std::atomic<TCustomComPort*> port{new TComPort(nullptr)};
    std::atomic<bool> acted{false};
    std::atomic<bool> triggered{false};
    std::atomic<int> calls{0};
    port.load()->SetPort(rig.Port());
    port.load()->SetSyncMethod(c.mode);
    if (c.handler == Handler::RxBuf)
        port.load()->SetTriggersOnRxChar(false);

    // Nothing of a handler's own closure may be touched after the action:
    // destroying the port frees it.
    auto act = [&] {
        ++calls;
        if (acted)
            return;
        // On an event thread (smNone) the handler runs alongside the test,
        // which must be done with the port first.
        while (!triggered)
            std::this_thread::yield();
        TCustomComPort* p = port;
        switch (c.action) {
        case Action::Close: p->Close(); break;
        case Action::Destroy:
            port = nullptr;
            delete p;
            break;
        case Action::CloseOpenClose:
            p->Close();
            p->Open();
            p->Close();
            break;
        case Action::SetPort: p->SetPort(rig.OtherPort()); break;
        }
        acted = true;
    };
    TCustomComPort& p = *port.load();
    switch (c.handler) {
    case Handler::RxChar: p.OnRxChar = [&act](TObject*, int32_t) { act(); }; break;
    case Handler::RxBuf: p.OnRxBuf = [&act](TObject*, const void*, int32_t) { act(); }; break;
    case Handler::TxEmpty: p.OnTxEmpty = [&act](TObject*) { act(); }; break;
    case Handler::Error: p.OnError = [&act](TObject*, TComErrors) { act(); }; break;
    case Handler::Link:
        link.OnRx = [&act](TObject*, bool on) {
            if (on)
                act();
        };
        p.RegisterLink(&link);
        break;
    }
    if (c.nested) {
        // The outer handler serves the event loop until the inner one has
        // acted: on the owning thread it is another dispatch of the same
        // port further down the stack. It takes no reference of its own
        // after that.
        const Handler outer = c.handler == Handler::TxEmpty ? Handler::RxChar : Handler::TxEmpty;
        auto outer_handler = [&rig, &c, &port, &acted, &triggered, entered = std::make_shared<bool>(false)] {
            if (*entered)
                return;
            *entered = true;
            rig.Trigger(c.handler, *port.load());
            triggered = true;
            PumpUntil([&acted] { return acted.load(); });
        };
        if (outer == Handler::RxChar)
            p.OnRxChar = [outer_handler](TObject*, int32_t) { outer_handler(); };
        else
            p.OnTxEmpty = [outer_handler](TObject*) { outer_handler(); };
        p.Open();
        rig.Trigger(outer, p);
    } else {
        p.Open();
        rig.Trigger(c.handler, p);
        triggered = true;
    }
    ASSERT_TRUE(PumpUntil([&] { return acted.load(); })) << "the handler never ran";

    const bool reopened = c.action == Action::SetPort;
    TCustomComPort* left = port;
    if (c.action == Action::Destroy) {
        EXPECT_EQ(left, nullptr);
    } else {
        EXPECT_EQ(left->Connected(), reopened);
    }
    if (reopened) {
        EXPECT_EQ(left->Port(), rig.OtherPort());
    }
    // Threads let go of from inside a dispatch end once it is over.
    EXPECT_TRUE(PumpUntil([&] { return EventThreadCount() == (reopened ? 1 : 0); })) << EventThreadCount();
    if (rig.OpenDevices() >= 0) {
        EXPECT_TRUE(PumpUntil([&] { return rig.OpenDevices() == (reopened ? 1 : 0); })) << rig.OpenDevices();
    }
    delete left;
    EXPECT_TRUE(PumpUntil([&] { return EventThreadCount() == 0; }));
    EXPECT_GE(calls.load(), 1);
}

TEST(Reentry, EveryActionFromEveryHandlerInEveryModeOnTheFakeDevice)
{
    for (const Case& c : Cases({Handler::RxChar, Handler::RxBuf, Handler::TxEmpty, Handler::Error, Handler::Link})) {
        FakeRig rig;
        RunCase(rig, c);
        if (HasFatalFailure())
            return;
    }
}

TEST(Reentry, EveryActionFromEveryHandlerInEveryModeOnAPseudoTerminal)
{
    for (const Case& c : Cases({Handler::RxChar, Handler::RxBuf, Handler::TxEmpty, Handler::Link})) {
        PtyRig rig;
        RunCase(rig, c);
        if (HasFatalFailure())
            return;
    }
}

} // namespace
