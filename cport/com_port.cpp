// Port settings, the settings objects, opening and closing; and the port's
// lifetime, written down here once. com_thread.cpp adds the event thread's
// side of it; com_io.cpp only relies on what is said here.
//
// ---- Who owns what ----------------------------------------------------------
// The port belongs to its owner component, or to whoever made it. It owns
// its four settings objects and its list of links, not the links: their
// owners register and unregister them. What one opening needs is shared,
// since it may have to outlive the opening or the port itself:
// - PortShared (internal.h): held by the port, its event threads, the
//   notification window's method and the guards below. `alive` turns false
//   once the destructor has passed the point after which nothing of the
//   port may be touched; the smNone gate lets one dispatch of the port run
//   on an event thread at a time.
// - The device: held by the port while it is open (device_, under
//   device_mutex_, since any thread may ask for it), by the event thread for
//   its whole life, and by each call in progress for the call. DestroyHandle
//   closes it at once for every holder: transfers in flight end with an
//   error, later calls fail, and the object goes with its last holder. A
//   closed port hands out a stand-in that fails every call.
// - A transfer's TAsync record: the caller's. A transfer still pending ends
//   when the device closes, and a record freed before its transfer ended
//   withdraws it, so neither side is left pointing at the other.
// - The event thread (TComThread): held by the port (event_thread_) for the
//   opening it belongs to; who else holds it is in com_thread.cpp.
// - The notification window (smWindowSync): held by the port, by its event
//   thread and by each message on its way; its method touches the port only
//   while the port is alive and the opening the same.
// - Dispatches on their way to the owning thread (a thread's request, a
//   window message, a look at the input) hold the window or a weak
//   reference to the thread object, and reach the port only once the thread
//   or the shared state says that it is still there.
//
// ---- Phases -----------------------------------------------------------------
// kClosed -> Open -> kOpen -> Close -> kClosing -> kClosed; Connected() is
// "not kClosed", from any thread. kClosing says that the before-close
// notifications of this opening have gone out: a Close from a handler while
// an earlier Close waits for the event thread finishes the job without
// telling the handlers twice. Every Open counts a generation (generation_),
// so that what was meant for an earlier opening, reaching a reopened port,
// goes nowhere. While loading or designing the phase is only the stored
// Connected value, and no device is open.
//
// ---- Which thread may call what ---------------------------------------------
// The owning thread (the one that made or last opened the port; owner_queue_,
// which the event thread synchronises with) may call everything. Reads,
// writes, queue counts, line control, DevicePath and DeviceRef may come from
// any thread: the device has a lock of its own. In smNone mode the handlers
// run on the event thread and may do what the owner may, Close, Open and
// delete included; keeping out of the owner's way is then the caller's duty.
// A port opened on an event thread keeps the owner it had.
//
// ---- Who frees what, and when -----------------------------------------------
// - Close lets go of the event thread (ReleaseEventThread): it sets the stop
//   event and waits for the thread's end, serving requests sent to the
//   owning thread meanwhile, so that dispatches on their way complete. It
//   waits only on the owning thread, and only when no dispatch of that
//   thread runs further down the stack: the thread may be blocked until that
//   dispatch returns. Otherwise a helper thread waits for the end and frees
//   the object (FreeWhenEnded). A released thread dispatches nothing more.
//   Then the device is closed.
// - The destructor closes, then lets go of whatever a failed or unfinished
//   Close (one further down the stack) left, without waiting: a handler run
//   during a wait would find the port half gone. It waits for an smNone
//   dispatch on another thread to leave the port (the gate), but not for its
//   own: a handler that deletes the port on its event thread holds the gate.
//   Then the port is marked gone, those who asked are told while the links
//   list is still there, and the settings objects are freed.
//
// ---- Why that is safe: the guards -------------------------------------------
// Any call into code of others (a handler, a link, a derived Do...
// operation) may close the port, reopen it or destroy it. So:
// - PortLife, held across one such call, tells afterwards whether the port
//   was destroyed; then nothing of `this` is touched any more.
// - Sequence, held across a run of such calls (a Call... operation, a walk
//   over the links), tells as well whether the port was closed or reopened
//   meanwhile (Connected, or the generation, changed): the rest of the run
//   then has nobody left to go to.
// - The generation lets the window's method, Close and Sequence tell one
//   opening from the next.
// - Delivering (com_thread.cpp): a thread that was released, whose delivery
//   a handler's exception ended, or whose port is gone dispatches nothing.
// - The smNone gate keeps the dispatches of one port, of its old and new
//   event thread alike after a reopen, one at a time, and the port in being
//   until a dispatch on another thread is out of it.
#include "cport/internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace tarnby {

using namespace tarnby::detail;

// ---- EComPort ----------------------------------------------------------------

namespace {
const char* const kErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string WithPlatformError(int code, int win_code)
{
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, " (win error code: %d)", win_code);
    return ComErrorText(code) + suffix;
}
}

std::string ComErrorText(int code)
{
    if (code < 1 || code > static_cast<int>(std::size(kErrorTexts)))
        return {};
    return kErrorTexts[code - 1];
}

EComPort::EComPort(int code, int win_code, std::string device)
    : Exception(WithPlatformError(code, win_code)), code_(code), win_code_(win_code), device_(std::move(device))
{
}

EComPort::EComPort(int code) : Exception(ComErrorText(code)), code_(code), win_code_(-1) {}

EComPort::EComPort(const std::string& message) : Exception(message), code_(errOther), win_code_(-1) {}

std::string EComPort::SystemMessage() const
{
    if (win_code_ <= 0)
        return {};
    // std::strerror may hand every caller one buffer (strerror_r differs
    // between C libraries): ours take their copy in turn.
    static std::mutex strerror_lock;
    std::lock_guard lock(strerror_lock);
    return std::strerror(win_code_);
}

namespace {
const char* const kNoEventLoopMessage =
    "No event loop to deliver the port's events: create a QCoreApplication (or QApplication) and run its "
    "event loop on the thread that opens the port, or set SyncMethod to smNone to have the handlers run "
    "on the port's event thread";
}

// ---- TComParity --------------------------------------------------------------

void TComParity::Changed()
{
    if (port_ != nullptr)
        port_->ApplyDCB();
}

void TComParity::SetBits(TParityBits value)
{
    if (value != bits_) {
        bits_ = value;
        Changed();
    }
}

void TComParity::SetCheck(bool value)
{
    if (value != check_) {
        check_ = value;
        Changed();
    }
}

void TComParity::SetReplace(bool value)
{
    if (value != replace_) {
        replace_ = value;
        Changed();
    }
}

void TComParity::SetReplaceChar(char value)
{
    if (value != replace_char_) {
        replace_char_ = value;
        Changed();
    }
}

void TComParity::AssignTo(TPersistent& dest) const
{
    if (auto* other = dynamic_cast<TComParity*>(&dest)) {
        other->bits_ = bits_;
        other->check_ = check_;
        other->replace_ = replace_;
        other->replace_char_ = replace_char_;
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- TComFlowControl ---------------------------------------------------------

void TComFlowControl::Changed()
{
    if (port_ != nullptr)
        port_->ApplyDCB();
}

namespace {
template <typename T>
bool StoreIfDifferent(T& field, T value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}
}

void TComFlowControl::SetOutCTSFlow(bool value)
{
    if (StoreIfDifferent(out_cts_flow_, value))
        Changed();
}

void TComFlowControl::SetOutDSRFlow(bool value)
{
    if (StoreIfDifferent(out_dsr_flow_, value))
        Changed();
}

void TComFlowControl::SetControlDTR(TDTRFlowControl value)
{
    if (StoreIfDifferent(control_dtr_, value))
        Changed();
}

void TComFlowControl::SetControlRTS(TRTSFlowControl value)
{
    if (StoreIfDifferent(control_rts_, value))
        Changed();
}

void TComFlowControl::SetXonXoffOut(bool value)
{
    if (StoreIfDifferent(xon_xoff_out_, value))
        Changed();
}

void TComFlowControl::SetXonXoffIn(bool value)
{
    if (StoreIfDifferent(xon_xoff_in_, value))
        Changed();
}

void TComFlowControl::SetDSRSensitivity(bool value)
{
    if (StoreIfDifferent(dsr_sensitivity_, value))
        Changed();
}

void TComFlowControl::SetTxContinueOnXoff(bool value)
{
    if (StoreIfDifferent(tx_continue_on_xoff_, value))
        Changed();
}

void TComFlowControl::SetXonChar(char value)
{
    if (StoreIfDifferent(xon_char_, value))
        Changed();
}

void TComFlowControl::SetXoffChar(char value)
{
    if (StoreIfDifferent(xoff_char_, value))
        Changed();
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (control_rts_ == rtsHandshake && out_cts_flow_ && !xon_xoff_in_ && !xon_xoff_out_)
        return fcHardware;
    if (control_rts_ == rtsDisable && !out_cts_flow_ && xon_xoff_in_ && xon_xoff_out_)
        return fcSoftware;
    if (control_rts_ == rtsDisable && !out_cts_flow_ && !xon_xoff_in_ && !xon_xoff_out_)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value)
{
    // Only the four fields a preset is made of are rewritten.
    if (value != fcCustom) {
        control_rts_ = rtsDisable;
        out_cts_flow_ = false;
        xon_xoff_in_ = false;
        xon_xoff_out_ = false;
        if (value == fcHardware) {
            control_rts_ = rtsHandshake;
            out_cts_flow_ = true;
        } else if (value == fcSoftware) {
            xon_xoff_in_ = true;
            xon_xoff_out_ = true;
        }
    }
    Changed();
}

void TComFlowControl::AssignTo(TPersistent& dest) const
{
    if (auto* other = dynamic_cast<TComFlowControl*>(&dest)) {
        other->out_cts_flow_ = out_cts_flow_;
        other->out_dsr_flow_ = out_dsr_flow_;
        other->control_dtr_ = control_dtr_;
        other->control_rts_ = control_rts_;
        other->xon_xoff_out_ = xon_xoff_out_;
        other->xon_xoff_in_ = xon_xoff_in_;
        other->dsr_sensitivity_ = dsr_sensitivity_;
        other->tx_continue_on_xoff_ = tx_continue_on_xoff_;
        other->xon_char_ = xon_char_;
        other->xoff_char_ = xoff_char_;
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- TComTimeouts --------------------------------------------------------------

void TComTimeouts::Store(int32_t& field, int32_t value)
{
    if (StoreIfDifferent(field, value) && port_ != nullptr)
        port_->ApplyTimeouts();
}

void TComTimeouts::SetReadInterval(int32_t value) { Store(read_interval_, value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t value) { Store(read_total_multiplier_, value); }
void TComTimeouts::SetReadTotalConstant(int32_t value) { Store(read_total_constant_, value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) { Store(write_total_multiplier_, value); }
void TComTimeouts::SetWriteTotalConstant(int32_t value) { Store(write_total_constant_, value); }

void TComTimeouts::AssignTo(TPersistent& dest) const
{
    if (auto* other = dynamic_cast<TComTimeouts*>(&dest)) {
        other->read_interval_ = read_interval_;
        other->read_total_multiplier_ = read_total_multiplier_;
        other->read_total_constant_ = read_total_constant_;
        other->write_total_multiplier_ = write_total_multiplier_;
        other->write_total_constant_ = write_total_constant_;
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- TComBuffer ------------------------------------------------------------------

void TComBuffer::Store(int32_t& field, int32_t value)
{
    // Queue sizes are kept even.
    if (value > 0 && value % 2 == 1)
        --value;
    if (StoreIfDifferent(field, value) && port_ != nullptr)
        port_->ApplyBuffer();
}

void TComBuffer::SetInputSize(int32_t value) { Store(input_size_, value); }
void TComBuffer::SetOutputSize(int32_t value) { Store(output_size_, value); }

void TComBuffer::AssignTo(TPersistent& dest) const
{
    if (auto* other = dynamic_cast<TComBuffer*>(&dest)) {
        other->input_size_ = input_size_;
        other->output_size_ = output_size_;
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- TCustomComPort: construction and settings -------------------------------------

namespace {
// A port that is not open: every device operation fails as on a closed handle.
class ClosedDevice : public comm::ComDevice {
public:
    int SetupComm(int32_t, int32_t) override { return EBADF; }
    int SetCommState(const comm::DCB&) override { return EBADF; }
    int SetCommTimeouts(const comm::COMMTIMEOUTS&) override { return EBADF; }
    int SetCommMask(uint32_t) override { return EBADF; }
    int WaitCommEvent(uint32_t& mask, const comm::ComStopEvent*, int) override
    {
        mask = 0;
        return EBADF;
    }
    int ReadFile(void*, int32_t, comm::ComOverlapped&) override { return EBADF; }
    int WriteFile(const void*, int32_t, comm::ComOverlapped&) override { return EBADF; }
    int PurgeComm(uint32_t) override { return EBADF; }
    int DrainOutput(int) override { return EBADF; }
    int ClearCommError(uint32_t& errors, comm::COMSTAT& stat) override
    {
        errors = 0;
        stat = {};
        return EBADF;
    }
    int GetCommModemStatus(uint32_t& status) override
    {
        status = 0;
        return EBADF;
    }
    int EscapeCommFunction(uint32_t) override { return EBADF; }
    int TransmitCommChar(char) override { return EBADF; }
    void Cancel(comm::ComOverlapped&) override {}
};


std::shared_ptr<comm::ComDevice> ClosedDeviceRef()
{
    static const std::shared_ptr<comm::ComDevice> closed = std::make_shared<ClosedDevice>();
    return closed;
}
}

TCustomComPort::TCustomComPort(TComponent* owner)
    : TComponent(owner), owner_queue_(CurrentSyncQueue()), shared_(std::make_shared<PortShared>())
{
    device_path_ = comm::DevicePath(port_);
    parity_ = new TComParity;
    parity_->SetComPort(this);
    flow_control_ = new TComFlowControl;
    flow_control_->SetComPort(this);
    timeouts_ = new TComTimeouts;
    timeouts_->SetComPort(this);
    buffer_ = new TComBuffer;
    buffer_->SetComPort(this);
}

// In the order the notes at the head of this file give.
TCustomComPort::~TCustomComPort()
{
    try {
        Close();
    } catch (...) {
        // A destructor cannot raise; what Close could not finish is done below.
    }
    // Left over when Close failed, or when a Close further down the stack
    // (a handler destroyed the port while it waited) has yet to come back.
    // Nothing here waits: a handler run meanwhile would find the port half
    // gone.
    ReleaseEventThread(false);
    window_.reset();
    TCustomComPort::DestroyHandle();
    phase_ = Phase::kClosed;
    {
        // A handler on an event thread (smNone) runs alongside: it has to be
        // out of the port before the port goes, and then finds it gone;
        // unless that handler is what destroys the port.
        std::unique_lock gate(shared_->event_dispatch, std::defer_lock);
        if (!shared_->DispatchingHere())
            gate.lock();
        shared_->alive.store(false);
    }
    // Told while the links list is still here, so that those who are told
    // can unregister their links.
    SendFreeNotifications();
    delete buffer_;
    delete flow_control_;
    delete timeouts_;
    delete parity_;
}

comm::ComDevice& TCustomComPort::Device() const
{
    std::lock_guard lock(device_mutex_);
    return device_ ? *device_ : *ClosedDeviceRef();
}

std::shared_ptr<comm::ComDevice> TCustomComPort::DeviceRef() const
{
    std::lock_guard lock(device_mutex_);
    return device_ ? device_ : ClosedDeviceRef();
}

void TCustomComPort::SetConnected(bool value)
{
    if (Loading() || Designing()) {
        phase_ = value ? Phase::kOpen : Phase::kClosed;
        return;
    }
    if (value)
        Open();
    else
        Close();
}

void TCustomComPort::SetBaudRate(TBaudRate value)
{
    if (StoreIfDifferent(baud_rate_, value))
        ApplyDCB();
}

void TCustomComPort::SetCustomBaudRate(int32_t value)
{
    if (StoreIfDifferent(custom_baud_rate_, value))
        ApplyDCB();
}

std::string TCustomComPort::DevicePath() const
{
    std::lock_guard lock(device_mutex_);
    return device_path_;
}

void TCustomComPort::SetPort(const std::string& value)
{
    if (value == port_)
        return;
    port_ = value;
    {
        std::lock_guard lock(device_mutex_);
        device_path_ = comm::DevicePath(port_);
    }
    if (Connected() && !Loading() && !Designing()) {
        PortLife life(shared_);
        Close();
        if (life.Gone())
            return;
        Open();
    }
}

void TCustomComPort::SetParity(const TComParity& value)
{
    parity_->Assign(value);
    ApplyDCB();
}

void TCustomComPort::SetStopBits(TStopBits value)
{
    if (StoreIfDifferent(stop_bits_, value))
        ApplyDCB();
}

void TCustomComPort::SetDataBits(TDataBits value)
{
    if (StoreIfDifferent(data_bits_, value))
        ApplyDCB();
}

void TCustomComPort::SetDiscardNull(bool value)
{
    if (StoreIfDifferent(discard_null_, value))
        ApplyDCB();
}

void TCustomComPort::SetEventChar(char value)
{
    if (StoreIfDifferent(event_char_, value))
        ApplyDCB();
}

void TCustomComPort::SetBuffer(const TComBuffer& value)
{
    buffer_->Assign(value);
    ApplyBuffer();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value)
{
    flow_control_->Assign(value);
    ApplyDCB();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value)
{
    timeouts_->Assign(value);
    ApplyTimeouts();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value)
{
    if (Connected() && !Loading() && !Designing())
        throw EComPort(errWhileConnected);
    sync_method_ = value;
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority value)
{
    if (Connected() && !Loading() && !Designing())
        throw EComPort(errWhileConnected);
    event_thread_priority_ = value;
}

void TCustomComPort::SetTriggersOnRxChar(bool value)
{
    if (has_link_)
        throw EComPort(errRxBufLinked);
    triggers_on_rx_char_ = value;
}

void TCustomComPort::BeginUpdate() { ++update_count_; }

void TCustomComPort::EndUpdate()
{
    if (update_count_ <= 0)
        return;
    if (--update_count_ == 0)
        SetupComPort();
}

// ---- applying settings ----------------------------------------------------------------

bool TCustomComPort::ApplyAllowed() const
{
    return Connected() && update_count_ == 0 && !Loading() && !Designing();
}

int32_t BaudRateValue(TBaudRate value)
{
    static const int32_t kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                     14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return value < std::size(kRates) ? kRates[value] : 0;
}

comm::DCB TCustomComPort::BuildDCB() const
{
    comm::DCB dcb;
    dcb.DCBlength = sizeof(comm::DCB);
    dcb.BaudRate = static_cast<uint32_t>(baud_rate_ == brCustom ? custom_baud_rate_ : BaudRateValue(baud_rate_));
    uint32_t flags = comm::DCB_BINARY;
    if (parity_->Check())
        flags |= comm::DCB_PARITY;
    if (flow_control_->OutCTSFlow())
        flags |= comm::DCB_OUTX_CTS_FLOW;
    if (flow_control_->OutDSRFlow())
        flags |= comm::DCB_OUTX_DSR_FLOW;
    flags |= static_cast<uint32_t>(flow_control_->ControlDTR()) << comm::DCB_DTR_CONTROL_SHIFT;
    if (flow_control_->DSRSensitivity())
        flags |= comm::DCB_DSR_SENSITIVITY;
    if (flow_control_->TxContinueOnXoff())
        flags |= comm::DCB_TX_CONTINUE_ON_XOFF;
    if (flow_control_->XonXoffOut())
        flags |= comm::DCB_OUTX;
    if (flow_control_->XonXoffIn())
        flags |= comm::DCB_INX;
    const bool error_char = parity_->Check() && parity_->Replace();
    if (error_char)
        flags |= comm::DCB_ERROR_CHAR;
    if (discard_null_)
        flags |= comm::DCB_NULL;
    flags |= static_cast<uint32_t>(flow_control_->ControlRTS()) << comm::DCB_RTS_CONTROL_SHIFT;
    dcb.Flags = flags;
    // The limits are 16-bit fields; a queue too large for them gets the most.
    int32_t limit = std::clamp<int32_t>(buffer_->InputSize() / 4, 0, 0xFFFF);
    dcb.XonLim = static_cast<uint16_t>(limit);
    dcb.XoffLim = static_cast<uint16_t>(limit);
    dcb.ByteSize = static_cast<uint8_t>(5 + data_bits_);
    dcb.Parity = static_cast<uint8_t>(parity_->Bits());
    dcb.StopBits = static_cast<uint8_t>(stop_bits_);
    dcb.XonChar = flow_control_->XonChar();
    dcb.XoffChar = flow_control_->XoffChar();
    dcb.ErrorChar = error_char ? parity_->ReplaceChar() : 0;
    dcb.EvtChar = event_char_;
    return dcb;
}

comm::COMMTIMEOUTS TCustomComPort::BuildTimeouts() const
{
    comm::COMMTIMEOUTS t;
    t.ReadIntervalTimeout = static_cast<uint32_t>(timeouts_->ReadInterval());
    t.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(timeouts_->ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = static_cast<uint32_t>(timeouts_->ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(timeouts_->WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = static_cast<uint32_t>(timeouts_->WriteTotalConstant());
    return t;
}

void TCustomComPort::ApplyDCB()
{
    if (ApplyAllowed())
        Check(DeviceRef()->SetCommState(BuildDCB()), errSetCommState, *this);
}

void TCustomComPort::ApplyTimeouts()
{
    if (ApplyAllowed())
        Check(DeviceRef()->SetCommTimeouts(BuildTimeouts()), errSetCommTimeouts, *this);
}

void TCustomComPort::ApplyBuffer()
{
    if (ApplyAllowed())
        Check(DeviceRef()->SetupComm(buffer_->InputSize(), buffer_->OutputSize()), errSetupComm, *this);
}

void TCustomComPort::SetupComPort()
{
    ApplyBuffer();
    ApplyDCB();
    ApplyTimeouts();
}

// ---- opening and closing ------------------------------------------------------------------

void TCustomComPort::CreateHandle()
{
    int error = 0;
    std::unique_ptr<comm::ComDevice> device = comm::OpenComDevice(port_, error);
    if (!device)
        throw EComPort(errOpen, error, DevicePath());
    std::shared_ptr<comm::ComDevice> shared = std::move(device);
    std::lock_guard lock(device_mutex_);
    device_ = std::move(shared);
}

void TCustomComPort::DestroyHandle()
{
    std::shared_ptr<comm::ComDevice> device;
    {
        std::lock_guard lock(device_mutex_);
        device = std::move(device_);
        device_.reset();
    }
    // Closed now, whoever still holds it: reads and writes in flight on
    // other threads end with an error, and the device is free to open again.
    if (device)
        device->Close();
}

void TCustomComPort::Open()
{
    if (Connected() || Designing())
        return;
    // Events handed to a thread that never serves them would pile up unseen:
    // better no port than a port that looks open and delivers nothing.
    if (!events_.Empty() && sync_method_ != smNone && !OnEventThread() && !EventLoopAvailable())
        throw EComPort(kNoEventLoopMessage);
    PortLife life(shared_);
    CallBeforeOpen();
    // A handler may have destroyed the port, or opened it itself.
    if (life.Gone() || Connected())
        return;
    // A port reopened from its own event thread (a handler in smNone mode)
    // keeps the thread it belongs to.
    if (!OnEventThread())
        owner_queue_ = CurrentSyncQueue();
    CreateHandle();
    ++generation_;
    phase_ = Phase::kOpen;
    try {
        SetupComPort();
        if (!events_.Empty())
            StartEventThread();
    } catch (...) {
        ReleaseEventThread(false);
        window_.reset();
        DestroyHandle();
        phase_ = Phase::kClosed;
        throw;
    }
    CallAfterOpen();
}

void TCustomComPort::StartEventThread()
{
    if (sync_method_ == smWindowSync) {
        // Messages still on their way when this opening is over, or the port
        // is gone, go nowhere.
        window_ = AllocateHWnd([this, shared = shared_, generation = generation_.load()](
                                   uint32_t message, uintptr_t wparam, intptr_t lparam) -> intptr_t {
            if (!shared->alive.load() || generation_ != generation)
                return DefWindowProc(message, wparam, lparam);
            return WindowMethod(message, wparam, lparam);
        });
    }
    auto thread = std::make_shared<TComThread>(this);
    thread->Start();
    event_thread_ = std::move(thread);
}

void TCustomComPort::Close()
{
    if (!Connected() || Designing())
        return;
    PortLife life(shared_);
    const uint64_t generation = generation_;
    // Handlers run on the way: each may close the port itself, reopen it or
    // destroy it, and then this Close has nothing more to do.
    auto same_opening = [&] { return !life.Gone() && Connected() && generation_ == generation; };
    // A Close from a handler while an earlier one waits for the event thread
    // finishes the job without telling the handlers twice.
    if (phase_ == Phase::kOpen) {
        phase_ = Phase::kClosing;
        CallBeforeClose();
        if (!same_opening())
            return;
    }
    // What was written before Close is sent first, as a POSIX close of a
    // tty does, for a bounded time; only what cannot be sent is discarded.
    // The drain needs no event thread, so it may run on one.
    const bool drained = close_drain_time_ > 0 && DeviceRef()->DrainOutput(close_drain_time_) == 0;
    try {
        AbortAllAsync();
    } catch (...) {
        // Still connected, and a Close again tells the handlers again.
        phase_ = Phase::kOpen;
        throw;
    }
    // The event thread discards the queues on its way out when it is waited
    // for; otherwise what could not be sent is discarded here.
    if (event_thread_)
        event_thread_->discard_output_ = !drained;
    if (!drained && !(event_thread_ && event_thread_->MayWaitForEndHere()))
        DeviceRef()->PurgeComm(comm::PURGE_TXCLEAR);
    if (event_thread_ && !ReleaseEventThread(true))
        return;
    if (!same_opening())
        return;
    DestroyHandle();
    phase_ = Phase::kClosed;
    CallAfterClose();
}

namespace {
// Waits for a released event thread's end and frees it, away from the stack
// that released it: that stack may be what the thread is waiting for.
void FreeWhenEnded(const std::shared_ptr<TComThread>& thread)
{
    try {
        std::thread([keep = thread]() mutable {
            keep->WaitFor();
            keep.reset();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to wait with: it ends on its own and is never freed.
        new std::shared_ptr<TComThread>(thread);
    }
}
}

bool TCustomComPort::ReleaseEventThread(bool may_wait)
{
    std::shared_ptr<TComThread> thread = std::move(event_thread_);
    event_thread_.reset();
    if (!thread)
        return true;
    thread->Stop();
    const bool wait = may_wait && thread->MayWaitForEndHere();
    bool alive = true;
    if (wait) {
        PortLife life(shared_);
        // Dispatches already on their way are served meanwhile.
        thread->WaitFor();
        alive = !life.Gone();
    }
    thread->Release();
    if (alive && window_ == thread->window_)
        window_.reset();
    if (!wait)
        FreeWhenEnded(thread);
    return alive;
}

void TCustomComPort::Loaded()
{
    TComponent::Loaded();
    if (Connected() && !Designing()) {
        phase_ = Phase::kClosed;
        try {
            Open();
        } catch (...) {
            ApplicationHandleException();
        }
    }
}

// ---- the setup dialog --------------------------------------------------------------

namespace {
struct SetupDialogSlot {
    std::mutex mutex;
    TComPortSetupDialog dialog;
};

// Filled while other libraries are being initialised: made on first use.
SetupDialogSlot& SetupDialog()
{
    static SetupDialogSlot slot;
    return slot;
}
}

void SetComPortSetupDialog(TComPortSetupDialog dialog)
{
    SetupDialogSlot& slot = SetupDialog();
    std::lock_guard lock(slot.mutex);
    slot.dialog = std::move(dialog);
}

bool TCustomComPort::ShowSetupDialog()
{
    TComPortSetupDialog dialog;
    {
        SetupDialogSlot& slot = SetupDialog();
        std::lock_guard lock(slot.mutex);
        dialog = slot.dialog;
    }
    if (!dialog)
        throw EComPort("No setup dialog: link the widgets extras (tarnby_cport_extras_widgets, the CMake target "
                       "Tarnby::cport_extras_widgets) or register a dialog with SetComPortSetupDialog");
    return dialog(*this);
}

} // namespace tarnby
