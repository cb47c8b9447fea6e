// The event thread, event dispatch, and links.
#include "cport/internal.h"

#include <algorithm>

using namespace cport_internal;

namespace {
struct EventBit {
    TComEvent event;
    uint32_t bit;
};
const EventBit kEventBits[] = {
    {evRxChar, comm::EV_RXCHAR}, {evTxEmpty, comm::EV_TXEMPTY}, {evRxFlag, comm::EV_RXFLAG},
    {evRing, comm::EV_RING},     {evBreak, comm::EV_BREAK},     {evCTS, comm::EV_CTS},
    {evDSR, comm::EV_DSR},       {evError, comm::EV_ERR},       {evRLSD, comm::EV_RLSD},
    {evRx80Full, comm::EV_RX80FULL},
};

// Errors reach the handlers before the data of the same wake-up: reading the
// queue length would reset the device's error state.
const TComEvent kDispatchOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                    evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

uint32_t BitOf(TComEvent event)
{
    for (const EventBit& e : kEventBits)
        if (e.event == event)
            return e.bit;
    return 0;
}

// Counts the owning thread's thread-synchronised dispatches of a port.
struct DispatchDepth {
    explicit DispatchDepth(int& depth) : depth_(depth) { ++depth_; }
    ~DispatchDepth() { --depth_; }
    int& depth_;
};
}

uint32_t ComEventsToMask(TComEvents events)
{
    uint32_t mask = 0;
    for (const EventBit& e : kEventBits)
        if (events.Contains(e.event))
            mask |= e.bit;
    return mask;
}

TComEvents MaskToComEvents(uint32_t mask)
{
    TComEvents events;
    for (const EventBit& e : kEventBits)
        if (mask & e.bit)
            events.Include(e.event);
    return events;
}

// ---- TComThread ------------------------------------------------------------------

TComThread::TComThread(TCustomComPort* port) : TThread(true), port_(port), device_(port->device_)
{
    SetPriority(port->EventThreadPriority());
    device_->SetCommMask(ComEventsToMask(port->Events()));
    // Received bytes go straight to the owning thread where its event loop
    // can wait on the device itself: a hop through this thread would only
    // add a wake-up to every byte's way.
    const TComEvents input_events{evRxChar, evRxFlag, evRx80Full, evError};
    if (port->SyncMethod() == smThreadSync && !(port->Events() * input_events).Empty()) {
        input_watch_ = std::make_unique<TDescriptorWatch>(device_->InputNotifyFd(), [this] { DispatchOnOwner(); });
        if (input_watch_->Active())
            device_->SetInputByNotify(true);
        else
            input_watch_.reset();
    }
    Resume();
}

TComThread::~TComThread()
{
    input_watch_.reset();
    Stop();
    Terminate();
    // Waited for here, not in the base: Execute uses this object's members.
    WaitFor();
}

void TComThread::Stop()
{
    stop_event_.Set();
    std::this_thread::yield();
}

void TComThread::Execute()
{
    try {
        for (;;) {
            // Checked first: a thread released from inside its own dispatch
            // has already given up its device.
            if (stop_event_.IsSet())
                break;
            uint32_t mask = 0;
            int result = device_->WaitCommEvent(mask, &stop_event_, -1);
            if (stop_event_.IsSet() || result != 0)
                break;
            if (mask == 0)
                continue;
            events_ = MaskToComEvents(mask);
            DispatchComMsg();
        }
    } catch (...) {
        // A handler's exception ends the thread; the owner learns of it
        // through the application's exception handler, not by silence.
        delivery_ended_ = true;
        std::exception_ptr error = std::current_exception();
        LeaveDevice();
        SendSynchronous(owner_queue(), [error] { std::rethrow_exception(error); });
        throw;
    }
    LeaveDevice();
}

void TComThread::LeaveDevice()
{
    if (!device_)
        return;
    device_->SetCommMask(0);
    device_->SetInputByNotify(false);
    device_->PurgeComm(comm::PURGE_TXCLEAR | comm::PURGE_RXCLEAR);
}

void TComThread::DispatchComMsg()
{
    switch (port_->SyncMethod()) {
    case smThreadSync:
        Synchronize([this] {
            if (delivery_ended_)
                return;
            DispatchDepth depth(port_->sync_dispatch_depth_);
            DoEvents(events_);
        });
        break;
    case smWindowSync:
        SendEvents();
        break;
    case smNone:
        DoEvents(events_);
        break;
    }
}

void TComThread::DispatchOnOwner()
{
    if (delivery_ended_) {
        // Nothing is delivered any more; the watch need not wake us.
        input_watch_->SetEnabled(false);
        return;
    }
    uint32_t mask = 0;
    // Only a look: what the event thread has not taken yet.
    if (device_->WaitCommEvent(mask, &stop_event_, 0) != 0 || mask == 0)
        return;
    dispatching_on_owner_ = true;
    try {
        DispatchDepth depth(port_->sync_dispatch_depth_);
        DoEvents(MaskToComEvents(mask));
    } catch (...) {
        // As on the event thread: the exception ends delivery until the
        // port is opened again, and is shown.
        EndDelivery();
        ApplicationHandleException();
    }
    dispatching_on_owner_ = false;
    // A handler closed the port: this thread object was left to go here,
    // once nothing of it is running any more.
    if (delete_when_done_)
        delete this;
}

void TComThread::EndDelivery()
{
    delivery_ended_ = true;
    if (input_watch_)
        input_watch_->SetEnabled(false);
    Stop();
}

void TComThread::DoEvents(TComEvents events)
{
    for (TComEvent event : kDispatchOrder) {
        // A handler may have closed the port; the rest of this wake-up has
        // nobody left to go to.
        if (!events.Contains(event) || !port_->Connected())
            continue;
        switch (event) {
        case evError: port_->CallError(); break;
        case evRxChar: port_->CallRxChar(); break;
        case evTxEmpty: port_->CallTxEmpty(); break;
        case evBreak: port_->CallBreak(); break;
        case evRing: port_->CallRing(); break;
        case evCTS: port_->CallCTSChange(); break;
        case evDSR: port_->CallDSRChange(); break;
        case evRxFlag: port_->CallRxFlag(); break;
        case evRLSD: port_->CallRLSDChange(); break;
        case evRx80Full: port_->CallRx80Full(); break;
        }
    }
}

void TComThread::SendEvents()
{
    std::shared_ptr<TNotifyWindow> window = port_->window_;
    if (!window)
        return;
    for (TComEvent event : kDispatchOrder)
        if (events_.Contains(event))
            window->SendMessage(kComEventMessage, BitOf(event), 0);
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
            switch (wparam) {
            case comm::EV_RXCHAR: CallRxChar(); break;
            case comm::EV_RXFLAG: CallRxFlag(); break;
            case comm::EV_TXEMPTY: CallTxEmpty(); break;
            case comm::EV_CTS: CallCTSChange(); break;
            case comm::EV_DSR: CallDSRChange(); break;
            case comm::EV_RLSD: CallRLSDChange(); break;
            case comm::EV_BREAK: CallBreak(); break;
            case comm::EV_ERR: CallError(); break;
            case comm::EV_RING: CallRing(); break;
            case comm::EV_RX80FULL: CallRx80Full(); break;
            default: break;
            }
        }
    } catch (...) {
        ApplicationHandleException();
    }
    return 0;
}

// ---- Call... operations ----------------------------------------------------------

void TCustomComPort::CallRxChar()
{
    int32_t count = InputCount();
    if (count > 0)
        SendSignalToLink(leRx, true);
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
        // A callback may register or unregister links: walk a snapshot.
        std::vector<TComLink*> links = links_;
        for (TComLink* link : links) {
            if (!link->OnRxBuf)
                continue;
            if (!fetched)
                fetch();
            link->OnRxBuf(this, bytes.data(), static_cast<int32_t>(bytes.size()));
        }
        if (!fetched && !triggers_on_rx_char_)
            fetch();
        if (fetched)
            count = 0;
    }
    if (count > 0)
        DoRxChar(count);
}

void TCustomComPort::CallTxEmpty()
{
    SendSignalToLink(leTx, false);
    NotifyLink(leTxEmpty);
    DoTxEmpty();
}

void TCustomComPort::CallRxFlag()
{
    NotifyLink(leRxFlag);
    DoRxFlag();
}

void TCustomComPort::CallRing()
{
    NotifyLink(leRing);
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
    bool on = Signals().Contains(csCTS);
    SendSignalToLink(leCTS, on);
    DoCTSChange(on);
}

void TCustomComPort::CallDSRChange()
{
    bool on = Signals().Contains(csDSR);
    SendSignalToLink(leDSR, on);
    DoDSRChange(on);
}

void TCustomComPort::CallRLSDChange()
{
    bool on = Signals().Contains(csRLSD);
    SendSignalToLink(leRLSD, on);
    DoRLSDChange(on);
}

void TCustomComPort::CallBeforeOpen() { DoBeforeOpen(); }

void TCustomComPort::CallAfterOpen()
{
    SendSignalToLink(leConn, true);
    DoAfterOpen();
    CheckSignals(true);
}

void TCustomComPort::CallBeforeClose()
{
    CheckSignals(false);
    DoBeforeClose();
}

void TCustomComPort::CallAfterClose()
{
    SendSignalToLink(leConn, false);
    DoAfterClose();
}

void TCustomComPort::CheckSignals(bool open)
{
    if (open) {
        CallCTSChange();
        CallDSRChange();
        CallRLSDChange();
        return;
    }
    SendSignalToLink(leCTS, false);
    SendSignalToLink(leDSR, false);
    SendSignalToLink(leRLSD, false);
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
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
        throw EComPort(18);
    links_.push_back(link);
    UpdateHasLink();
}

void TCustomComPort::UnRegisterLink(TComLink* link)
{
    auto it = std::find(links_.begin(), links_.end(), link);
    if (it == links_.end())
        throw EComPort(18);
    links_.erase(it);
    UpdateHasLink();
}

void TCustomComPort::UpdateHasLink()
{
    has_link_ = std::any_of(links_.begin(), links_.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
}

void TCustomComPort::SendSignalToLink(TComLinkEvent event, bool on_off)
{
    if (links_.empty())
        return;
    std::vector<TComLink*> links = links_;
    for (TComLink* link : links) {
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
    }
}

void TCustomComPort::NotifyLink(TComLinkEvent event)
{
    if (links_.empty())
        return;
    std::vector<TComLink*> links = links_;
    for (TComLink* link : links) {
        TNotifyEvent* callback = nullptr;
        switch (event) {
        case leRing: callback = &link->OnRing; break;
        case leTxEmpty: callback = &link->OnTxEmpty; break;
        case leRxFlag: callback = &link->OnRxFlag; break;
        default: break;
        }
        if (callback != nullptr && *callback)
            (*callback)(this);
    }
}

void TCustomComPort::TxNotifyLink(const void* buffer, int32_t count)
{
    std::vector<TComLink*> links = links_;
    for (TComLink* link : links)
        if (link->OnTxBuf)
            link->OnTxBuf(this, buffer, count);
}
