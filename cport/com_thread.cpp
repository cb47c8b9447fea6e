// The event thread, event dispatch, and links. (How a port and its event
// thread live and die is at the head of com_port.cpp.)
//
// The event thread waits on the device and has each wake-up's events
// dispatched as the port's SyncMethod says: on the owning thread, blocking
// until they have run there (smThreadSync), through the notification window
// (smWindowSync), or on itself (smNone, one dispatch of the port at a time).
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
//
// A dispatch on the owner holds the thread object through a weak reference
// locked for its run, and asks before every step whether the port is still
// there and still holds this thread (Delivering, DoEvents): a handler may
// close or destroy the port at any point.
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

thread_local bool t_on_event_thread = false;
thread_local const PortShared* t_dispatching_for = nullptr;
}

bool detail::OnEventThread() { return t_on_event_thread; }

bool detail::DispatchingFor(const PortShared* port) { return port != nullptr && t_dispatching_for == port; }

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

bool TComThread::Delivering() const { return !released_ && !delivery_ended_ && port_shared_->alive.load(); }

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
            delivery_ended_ = true;
            device_->SetInputByNotify(false);
            std::exception_ptr error = std::current_exception();
            SendSynchronous(owner_queue(), [error] { std::rethrow_exception(error); });
        }
    }
    // A port that let go of this thread has closed its device already.
    if (!released_)
        LeaveDevice();
}

void TComThread::LeaveDevice()
{
    device_->SetCommMask(0);
    device_->SetInputByNotify(false);
    device_->PurgeComm(comm::PURGE_TXCLEAR | comm::PURGE_RXCLEAR);
}

void TComThread::Release()
{
    released_ = true;
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
        std::lock_guard gate(port_shared_->event_dispatch);
        struct Dispatching {
            explicit Dispatching(const PortShared* port) : outer(t_dispatching_for) { t_dispatching_for = port; }
            ~Dispatching() { t_dispatching_for = outer; }
            const PortShared* outer;
        } dispatching(port_shared_.get());
        DoEvents(events_);
        break;
    }
    }
}

void TComThread::DispatchOnOwner(TComEvents events)
{
    if (!Delivering())
        return;
    struct Counted {
        explicit Counted(int& n) : n_(n) { ++n_; }
        ~Counted() { --n_; }
        int& n_;
    } counted(owner_dispatches_);
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
    try {
        DispatchOnOwner(MaskToComEvents(mask));
    } catch (...) {
        EndDelivery();
        ApplicationHandleException();
    }
}

void TComThread::EndDelivery()
{
    delivery_ended_ = true;
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
        if (released_ || !port_shared_->alive.load() || !port_->Connected())
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
        if (released_)
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
        if (connected_) {
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
