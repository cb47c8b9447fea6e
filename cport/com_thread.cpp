// The event thread, event dispatch, and links; the event thread's side of
// the port's lifetime, whose whole is written down at the head of
// com_port.cpp.
//
// One TComThread per opening of a port with a non-empty Events set. Open
// makes it suspended, with its priority and the device's event mask set, and
// Start runs it. Execute waits on the device and on the stop event, and
// hands each wake-up's events on as the port's SyncMethod says:
// - smThreadSync: DoEvents is sent to the owning thread (Synchronize), and
//   this thread is blocked until it has run there. Received input takes a
//   shorter way where it can (below).
// - smWindowSync: each event goes to the notification window (SendEvents);
//   the owning thread lets this thread go on (ReplyMessage) before the
//   handlers run, so a handler may close the port.
// - smNone: DoEvents runs right here, holding the port's smNone gate.
//
// Which thread: Execute, SendEvents and an smNone DoEvents run on the event
// thread; Start on the thread that opens the port, Release on the one that
// closes or destroys it; DispatchOnOwner, LookForInput, EndDelivery and
// WindowMethod on the owning thread. The thread takes Events, the priority
// and SyncMethod from its port when it is made (none of them can change
// while it exists), and touches the port itself only in DoEvents, and there
// only while it delivers and the port is open.
//
// Who holds the thread object: the port, while its opening lasts; a dispatch
// on the owning thread while it runs (from a weak reference); and, when the
// port let go of it without waiting (a Close inside one of its dispatches,
// or on another thread; the port's end), the helper thread that waits for
// its end. The thread keeps only weak references to its own object, so it never
// frees itself, and whoever frees it does so only after its end.
//
// The thread's standing towards its port is one value, delivery_: kOn, then
// kEnded once a handler's exception ended delivery (the waits go on all the
// same: they are what takes received bytes into the input queue), and
// kReleased once the port let go of it, at Close or when the port goes, for
// good. Delivering() asks besides whether the port is still alive; DoEvents
// asks before every event whether the thread is still the port's and the
// port still open, since any handler may have closed, reopened or destroyed
// it.
//
// A dispatch records itself where the code it calls can find it, since that
// code is reached through the caller's own handlers and cannot be handed
// anything: a dispatch on the owning thread links itself into the thread
// object (owner_dispatch_), so a Close from one of its handlers does not wait
// for a thread that may be blocked until the dispatch returns; a dispatch on
// the event thread (smNone) writes its thread into the port's shared state
// while it holds the gate, so a handler that deletes the port does not wait
// for the gate its own dispatch holds.
//
// Received input in smThreadSync mode, when the owning thread runs a Qt
// event loop: that thread's loop watches the input of all its ports through
// one descriptor (TInputHub), and an arrival wakes it alone; it takes the
// bytes and dispatches them at once (LookForInput). While it waits in its
// loop the event thread leaves the line alone. Once it has been away from
// that wait for a few milliseconds (busy in a handler, a computation, a
// modal wait), an alarm (the loop's presence, LoopPresenceOfThisThread)
// sends every event thread of that owner back to its line, and received
// bytes go into the port's input queue as they come, so a busy owner loses
// none: only bytes that came within those milliseconds before a hang-up
// (which discards what the tty holds) are at risk, as they are for a
// reader that waits for its owner alone.
#include "cport/internal.h"
#include "platform/os_hooks.h"

#include <algorithm>

namespace tarnby {

using namespace tarnby::detail;

namespace {
// Each event once: its platform bit and the port's operation for it, in the
// order a wake-up's events are dispatched. Errors reach the handlers before
// the data of the same wake-up: reading the queue length would reset the
// device's error state.
struct EventRow {
    TComEvent event;
    uint32_t bit;
    void (TCustomComPort::*call)();
};
const EventRow kEvents[] = {
    {evError, comm::EV_ERR, &TCustomComPort::CallError},
    {evRxChar, comm::EV_RXCHAR, &TCustomComPort::CallRxChar},
    {evTxEmpty, comm::EV_TXEMPTY, &TCustomComPort::CallTxEmpty},
    {evBreak, comm::EV_BREAK, &TCustomComPort::CallBreak},
    {evRing, comm::EV_RING, &TCustomComPort::CallRing},
    {evCTS, comm::EV_CTS, &TCustomComPort::CallCTSChange},
    {evDSR, comm::EV_DSR, &TCustomComPort::CallDSRChange},
    {evRxFlag, comm::EV_RXFLAG, &TCustomComPort::CallRxFlag},
    {evRLSD, comm::EV_RLSD, &TCustomComPort::CallRLSDChange},
    {evRx80Full, comm::EV_RX80FULL, &TCustomComPort::CallRx80Full},
};

// The one thread-local of the component. Set once when an event thread
// starts and never cleared, it says what the calling thread is, not what
// runs on its stack. An event thread serves no requests, so it cannot be the
// thread a port's events are sent to: Open asks this to keep the owner a
// port had when a handler opens it here. Nothing can be handed down to Open,
// which is reached through the caller's own handler, and the port opened may
// be another than the one whose handler runs, so no port's state can tell.
thread_local bool t_on_event_thread = false;

// A wake-up's events dispatched on the event thread itself (smNone): one such
// dispatch of a port at a time, holding the port's gate and saying so.
class EventThreadDispatch {
public:
    explicit EventThreadDispatch(PortShared& shared) : shared_(shared), gate_(shared.event_dispatch)
    {
        shared_.event_dispatcher = std::this_thread::get_id();
    }
    ~EventThreadDispatch() { shared_.event_dispatcher = std::thread::id(); }
    EventThreadDispatch(const EventThreadDispatch&) = delete;
    EventThreadDispatch& operator=(const EventThreadDispatch&) = delete;

private:
    PortShared& shared_;
    std::lock_guard<std::mutex> gate_;
};
}

bool detail::OnEventThread() { return t_on_event_thread; }

// A dispatch of the thread's events on the owning thread, linked into the
// thread object for as long as it runs; these nest only on that one stack.
struct TComThread::OwnerDispatch {
    explicit OwnerDispatch(TComThread& thread) : thread(thread), outer(thread.owner_dispatch_)
    {
        thread.owner_dispatch_ = this;
    }
    ~OwnerDispatch() { thread.owner_dispatch_ = outer; }
    OwnerDispatch(const OwnerDispatch&) = delete;
    OwnerDispatch& operator=(const OwnerDispatch&) = delete;

    TComThread& thread;
    const OwnerDispatch* const outer;
};

uint32_t ComEventsToMask(TComEvents events)
{
    uint32_t mask = 0;
    for (const EventRow& row : kEvents)
        if (events.Contains(row.event))
            mask |= row.bit;
    return mask;
}

TComEvents MaskToComEvents(uint32_t mask)
{
    TComEvents events;
    for (const EventRow& row : kEvents)
        if (mask & row.bit)
            events.Include(row.event);
    return events;
}

// ---- TComThread ------------------------------------------------------------------

TComThread::TComThread(TCustomComPort* port)
    : TThread(true, port->owner_queue_ ? port->owner_queue_ : CurrentSyncQueue()), port_(port),
      port_shared_(port->shared_), sync_method_(port->SyncMethod()), device_(port->DeviceRef()),
      window_(port->window_)
{
    if (!stop_event_.Valid())
        throw EComPort(errOpen, stop_event_.Error(), port->DevicePath());
    SetPriority(port->EventThreadPriority());
    device_->SetCommMask(ComEventsToMask(port->Events()));
}

void TComThread::Start()
{
    try {
        Resume();
    } catch (const std::system_error& e) {
        throw EComPort(errOpen, e.code().value(), port_->DevicePath());
    }
    WatchInputOnOwner();
}

TComThread::~TComThread()
{
    input_watch_.reset();
    Stop();
    Terminate();
    // Waited for here, not in the base: Execute uses this object's members.
    // Whoever lets go of the thread last does so only after its end.
    WaitFor();
}

void TComThread::Stop()
{
    stop_event_.Set();
    std::this_thread::yield();
}

bool TComThread::Delivering() const { return delivery_ == Delivery::kOn && port_shared_->alive.load(); }

void TComThread::Execute()
{
    t_on_event_thread = true;
    os::NameThisThread("cport-event");
    for (;;) {
        if (stop_event_.IsSet())
            break;
        uint32_t mask = 0;
        int result = device_->WaitCommEvent(mask, &stop_event_, -1);
        if (stop_event_.IsSet() || result != 0)
            break;
        // Once delivery has ended the waits go on all the same: they are
        // what takes received bytes into the input queue.
        if (mask == 0 || !Delivering())
            continue;
        events_ = MaskToComEvents(mask);
        try {
            DispatchComMsg();
        } catch (...) {
            // A handler's exception ends delivery; the owner learns of it
            // through the application's exception handler, not by silence.
            Delivery on = Delivery::kOn;
            delivery_.compare_exchange_strong(on, Delivery::kEnded);
            device_->SetInputByNotify(false);
            std::exception_ptr error = std::current_exception();
            SendSynchronous(owner_queue(), [error] { std::rethrow_exception(error); });
        }
    }
    // A port that let go of this thread has closed its device already.
    if (!Released())
        LeaveDevice();
}

void TComThread::LeaveDevice()
{
    device_->SetCommMask(0);
    device_->SetInputByNotify(false);
    device_->PurgeComm(discard_output_ ? comm::PURGE_TXCLEAR | comm::PURGE_RXCLEAR : comm::PURGE_RXCLEAR);
}

void TComThread::Release()
{
    delivery_ = Delivery::kReleased;
    input_watch_.reset();
    Stop();
}

void TComThread::DispatchComMsg()
{
    switch (sync_method_) {
    case smThreadSync: {
        // Only a weak reference travels: this thread must never be the one
        // that lets go of its own object.
        std::weak_ptr<TComThread> weak = weak_from_this();
        const TComEvents events = events_;
        Synchronize([weak, events] {
            std::shared_ptr<TComThread> self = weak.lock();
            if (!self)
                return;
            try {
                self->DispatchOnOwner(events);
            } catch (...) {
                self->EndDelivery();
                ApplicationHandleException();
            }
        });
        break;
    }
    case smWindowSync:
        SendEvents();
        break;
    case smNone: {
        EventThreadDispatch dispatch(*port_shared_);
        DoEvents(events_);
        break;
    }
    }
}

void TComThread::DispatchOnOwner(TComEvents events)
{
    if (!Delivering())
        return;
    OwnerDispatch dispatch(*this);
    DoEvents(events);
}

void TComThread::WatchInputOnOwner()
{
    const TComEvents input_events = MaskToComEvents(comm::kInputEvents);
    if (sync_method_ != smThreadSync || (port_->Events() * input_events).Empty() || !OwnerIsCurrentThread())
        return;
    const int fd = device_->InputEdgeFd();
    std::shared_ptr<TInputHub> hub = fd >= 0 ? TInputHub::OfThisThread() : nullptr;
    if (hub == nullptr)
        return;
    std::weak_ptr<TComThread> weak = weak_from_this();
    const uint64_t key = hub->Add(fd, [weak] {
        if (std::shared_ptr<TComThread> self = weak.lock())
            self->LookForInput();
    });
    if (key == 0)
        return;
    input_watch_ = std::make_unique<TInputWatch>(hub, key);
    // The device only takes note, under its lock, from whichever thread; a
    // notice that comes after the watch has gone finds nobody.
    std::weak_ptr<TInputHub> weak_hub = hub;
    device_->SetInputNotice([weak_hub, key] {
        if (std::shared_ptr<TInputHub> h = weak_hub.lock())
            h->Notice(key);
    });
    device_->SetOwnerPresence(LoopPresenceOfThisThread());
    device_->SetInputByNotify(true);
}

void TComThread::LookForInput()
{
    if (!Delivering()) {
        input_watch_.reset();
        return;
    }
    uint32_t mask = 0;
    // A look takes what has come, and the events waiting for us.
    if (device_->WaitCommEvent(mask, nullptr, 0) != 0 || mask == 0)
        return;
    LoopBusyFromHere();
    try {
        DispatchOnOwner(MaskToComEvents(mask));
    } catch (...) {
        EndDelivery();
        ApplicationHandleException();
    }
}

void TComThread::EndDelivery()
{
    Delivery on = Delivery::kOn;
    delivery_.compare_exchange_strong(on, Delivery::kEnded);
    input_watch_.reset();
    device_->SetInputByNotify(false);
}

void TComThread::DoEvents(TComEvents events)
{
    for (const EventRow& row : kEvents) {
        if (!events.Contains(row.event))
            continue;
        // A handler may have closed the port, or destroyed it: the rest of
        // this wake-up has nobody left to go to.
        if (Released() || !port_shared_->alive.load() || !port_->Connected())
            return;
        (port_->*row.call)();
    }
}

void TComThread::SendEvents()
{
    if (!window_)
        return;
    for (const EventRow& row : kEvents) {
        if (!events_.Contains(row.event))
            continue;
        if (Released())
            return;
        window_->SendMessage(kComEventMessage, row.bit, 0);
    }
}

// ---- window dispatch -------------------------------------------------------------

intptr_t TCustomComPort::WindowMethod(uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    if (message != kComEventMessage)
        return DefWindowProc(message, wparam, lparam);
    try {
        // The event thread goes back to its work before the handlers run.
        if (InSendMessage())
            ReplyMessage();
        if (Connected()) {
            // Other values are ignored.
            for (const EventRow& row : kEvents) {
                if (row.bit == wparam) {
                    (this->*row.call)();
                    break;
                }
            }
        }
    } catch (...) {
        ApplicationHandleException();
    }
    return 0;
}

// ---- Call... operations ----------------------------------------------------------
//
// Every handler and link callback may close the port, reopen it or destroy
// it; after each, a Call... operation goes on only while the port is as it
// was.

void TCustomComPort::CallRxChar()
{
    Sequence sequence(*this);
    int32_t count = InputCount();
    if (count > 0) {
        SendSignalToLink(leRx, true);
        if (sequence.Over())
            return;
    }
    if (count > 0 && !TriggersOnRxChar()) {
        std::vector<uint8_t> bytes;
        bool fetched = false;
        auto fetch = [&] {
            bytes.resize(static_cast<size_t>(count));
            // Only what was really read is handed on.
            int32_t got = Read(bytes.data(), count);
            bytes.resize(static_cast<size_t>(std::max(got, 0)));
            fetched = true;
            DoRxBuf(bytes.data(), static_cast<int32_t>(bytes.size()));
        };
        WalkLinks([&](TComLink* link) {
            if (!link->OnRxBuf)
                return;
            if (!fetched) {
                fetch();
                if (sequence.Over())
                    return;
            }
            link->OnRxBuf(this, bytes.data(), static_cast<int32_t>(bytes.size()));
        });
        if (sequence.Over())
            return;
        if (!fetched && !triggers_on_rx_char_) {
            fetch();
            if (sequence.Over())
                return;
        }
        if (fetched)
            count = 0;
    }
    if (count > 0)
        DoRxChar(count);
}

void TCustomComPort::CallTxEmpty()
{
    Sequence sequence(*this);
    SendSignalToLink(leTx, false);
    if (sequence.Over())
        return;
    NotifyLink(leTxEmpty);
    if (sequence.Over())
        return;
    DoTxEmpty();
}

void TCustomComPort::CallRxFlag()
{
    Sequence sequence(*this);
    NotifyLink(leRxFlag);
    if (sequence.Over())
        return;
    DoRxFlag();
}

void TCustomComPort::CallRing()
{
    Sequence sequence(*this);
    NotifyLink(leRing);
    if (sequence.Over())
        return;
    DoRing();
}

void TCustomComPort::CallBreak() { DoBreak(); }

void TCustomComPort::CallRx80Full() { DoRx80Full(); }

void TCustomComPort::CallError()
{
    TComErrors errors = LastErrors();
    if (!errors.Empty())
        DoError(errors);
}

void TCustomComPort::CallCTSChange()
{
    Sequence sequence(*this);
    bool on = Signals().Contains(csCTS);
    SendSignalToLink(leCTS, on);
    if (sequence.Over())
        return;
    DoCTSChange(on);
}

void TCustomComPort::CallDSRChange()
{
    Sequence sequence(*this);
    bool on = Signals().Contains(csDSR);
    SendSignalToLink(leDSR, on);
    if (sequence.Over())
        return;
    DoDSRChange(on);
}

void TCustomComPort::CallRLSDChange()
{
    Sequence sequence(*this);
    bool on = Signals().Contains(csRLSD);
    SendSignalToLink(leRLSD, on);
    if (sequence.Over())
        return;
    DoRLSDChange(on);
}

void TCustomComPort::CallBeforeOpen() { DoBeforeOpen(); }

void TCustomComPort::CallAfterOpen()
{
    Sequence sequence(*this);
    SendSignalToLink(leConn, true);
    if (sequence.Over())
        return;
    DoAfterOpen();
    // A handler that closed the port again leaves no lines to read.
    if (sequence.Over())
        return;
    CheckSignals(true);
}

void TCustomComPort::CallBeforeClose()
{
    Sequence sequence(*this);
    CheckSignals(false);
    if (sequence.Over())
        return;
    DoBeforeClose();
}

void TCustomComPort::CallAfterClose()
{
    Sequence sequence(*this);
    SendSignalToLink(leConn, false);
    if (sequence.Over())
        return;
    DoAfterClose();
}

void TCustomComPort::CheckSignals(bool open)
{
    Sequence sequence(*this);
    if (open) {
        void (TCustomComPort::*const calls[])() = {&TCustomComPort::CallCTSChange, &TCustomComPort::CallDSRChange,
                                                   &TCustomComPort::CallRLSDChange};
        for (auto call : calls) {
            (this->*call)();
            if (sequence.Over())
                return;
        }
        return;
    }
    for (TComLinkEvent event : {leCTS, leDSR, leRLSD}) {
        SendSignalToLink(event, false);
        if (sequence.Over())
            return;
    }
    void (TCustomComPort::*const handlers[])(bool) = {&TCustomComPort::DoCTSChange, &TCustomComPort::DoDSRChange,
                                                      &TCustomComPort::DoRLSDChange};
    for (auto handler : handlers) {
        (this->*handler)(false);
        if (sequence.Over())
            return;
    }
}

// ---- Do... operations: the one place handlers are called --------------------------

void TCustomComPort::DoAfterClose()
{
    if (OnAfterClose)
        OnAfterClose(this);
}

void TCustomComPort::DoAfterOpen()
{
    if (OnAfterOpen)
        OnAfterOpen(this);
}

void TCustomComPort::DoBeforeClose()
{
    if (OnBeforeClose)
        OnBeforeClose(this);
}

void TCustomComPort::DoBeforeOpen()
{
    if (OnBeforeOpen)
        OnBeforeOpen(this);
}

void TCustomComPort::DoRxChar(int32_t count)
{
    if (OnRxChar)
        OnRxChar(this, count);
}

void TCustomComPort::DoRxBuf(const void* buffer, int32_t count)
{
    if (OnRxBuf)
        OnRxBuf(this, buffer, count);
}

void TCustomComPort::DoTxEmpty()
{
    if (OnTxEmpty)
        OnTxEmpty(this);
}

void TCustomComPort::DoBreak()
{
    if (OnBreak)
        OnBreak(this);
}

void TCustomComPort::DoRing()
{
    if (OnRing)
        OnRing(this);
}

void TCustomComPort::DoRxFlag()
{
    if (OnRxFlag)
        OnRxFlag(this);
}

void TCustomComPort::DoCTSChange(bool on_off)
{
    if (OnCTSChange)
        OnCTSChange(this, on_off);
}

void TCustomComPort::DoDSRChange(bool on_off)
{
    if (OnDSRChange)
        OnDSRChange(this, on_off);
}

void TCustomComPort::DoError(TComErrors errors)
{
    if (OnError)
        OnError(this, errors);
}

void TCustomComPort::DoRLSDChange(bool on_off)
{
    if (OnRLSDChange)
        OnRLSDChange(this, on_off);
}

void TCustomComPort::DoRx80Full()
{
    if (OnRx80Full)
        OnRx80Full(this);
}

// ---- links ---------------------------------------------------------------------------

void TCustomComPort::RegisterLink(TComLink* link)
{
    if (link == nullptr || std::find(links_.begin(), links_.end(), link) != links_.end())
        throw EComPort(errLinkRegistration);
    links_.push_back(link);
    UpdateHasLink();
}

void TCustomComPort::UnRegisterLink(TComLink* link)
{
    auto it = std::find(links_.begin(), links_.end(), link);
    if (it == links_.end())
        throw EComPort(errLinkRegistration);
    links_.erase(it);
    UpdateHasLink();
}

void TCustomComPort::UpdateHasLink()
{
    has_link_ = std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
}

void TCustomComPort::WalkLinks(const std::function<void(TComLink*)>& call)
{
    if (links_.empty())
        return;
    Sequence sequence(*this);
    const std::vector<TComLink*> links = links_;
    for (TComLink* link : links) {
        // Unregistered by an earlier callback: its owner may have freed it.
        if (std::find(links_.begin(), links_.end(), link) == links_.end())
            continue;
        call(link);
        if (sequence.Over())
            return;
    }
}

void TCustomComPort::SendSignalToLink(TComLinkEvent event, bool on_off)
{
    WalkLinks([&](TComLink* link) {
        TComSignalEvent* callback = nullptr;
        switch (event) {
        case leConn: callback = &link->OnConn; break;
        case leCTS: callback = &link->OnCTSChange; break;
        case leDSR: callback = &link->OnDSRChange; break;
        case leRLSD: callback = &link->OnRLSDChange; break;
        case leRx: callback = &link->OnRx; break;
        case leTx: callback = &link->OnTx; break;
        default: break;
        }
        if (callback != nullptr && *callback)
            (*callback)(this, on_off);
    });
}

void TCustomComPort::NotifyLink(TComLinkEvent event)
{
    WalkLinks([&](TComLink* link) {
        TNotifyEvent* callback = nullptr;
        switch (event) {
        case leRing: callback = &link->OnRing; break;
        case leTxEmpty: callback = &link->OnTxEmpty; break;
        case leRxFlag: callback = &link->OnRxFlag; break;
        default: break;
        }
        if (callback != nullptr && *callback)
            (*callback)(this);
    });
}

void TCustomComPort::TxNotifyLink(const void* buffer, int32_t count)
{
    WalkLinks([&](TComLink* link) {
        if (link->OnTxBuf)
            link->OnTxBuf(this, buffer, count);
    });
}

} // namespace tarnby
