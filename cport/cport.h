// Cport: a serial port component. TComPort holds the line settings, opens
// and closes the device, pushes every changed setting to an open device at
// once, runs an event thread that hands device events to handlers, and reads
// and writes. Every platform failure is raised as EComPort.
//
// The lifetime of a port, its event thread and its device (who owns what,
// who may free it, which thread may call what, and why a handler may close
// or destroy the port) is written down at the head of cport/com_port.cpp.
#pragma once

#include "tarnby/cport/platform/classes.h"
#include "tarnby/cport/platform/comm.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnby {

// A set over the ordinals of an enumeration: bit n stands for ordinal n.
template <typename E, typename Bits>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items)
    {
        for (E e : items)
            bits_ = static_cast<Bits>(bits_ | Bit(e));
    }
    static constexpr TSet FromBits(Bits bits)
    {
        TSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr Bits ToBits() const { return bits_; }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(E e) { bits_ = static_cast<Bits>(bits_ | Bit(e)); }
    constexpr void Exclude(E e) { bits_ = static_cast<Bits>(bits_ & ~Bit(e)); }
    constexpr TSet operator+(TSet o) const { return FromBits(static_cast<Bits>(bits_ | o.bits_)); }
    constexpr TSet operator-(TSet o) const { return FromBits(static_cast<Bits>(bits_ & ~o.bits_)); }
    constexpr TSet operator*(TSet o) const { return FromBits(static_cast<Bits>(bits_ & o.bits_)); }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(e)); }
    Bits bits_ = 0;
};

enum TBaudRate : uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
    br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : uint8_t {
    evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
using TComEvents = TSet<TComEvent, uint16_t>;
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TStoredProp : uint8_t { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
using TStoredProps = TSet<TStoredProp, uint8_t>;
enum TStoreType : uint8_t { stRegistry, stIniFile };
enum TComSignal : uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = TSet<TComSignal, uint8_t>;
enum TComError : uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = TSet<TComError, uint8_t>;
enum TComStateFlag : uint8_t { sfCTSHold, sfDSRHold, sfRLSDHold, sfXoffHold, sfXoffSent, sfEof, sfTxim };
using TComStateFlags = TSet<TComStateFlag, uint8_t>;
enum TComLinkEvent : uint8_t { leConn, leCTS, leDSR, leRLSD, leRing, leRx, leTx, leTxEmpty, leRxFlag };
enum TOperationKind : uint8_t { okWrite, okRead };

inline constexpr TComEvents kAllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing,  evBreak,
                                          evCTS,    evDSR,     evError,  evRLSD,  evRx80Full};

// Handler types; Sender is always the port.
using TNotifyEvent = std::function<void(TObject* sender)>;
using TRxCharEvent = std::function<void(TObject* sender, int32_t count)>;
using TRxBufEvent = std::function<void(TObject* sender, const void* buffer, int32_t count)>;
using TComSignalEvent = std::function<void(TObject* sender, bool on_off)>;
using TComErrorEvent = std::function<void(TObject* sender, TComErrors errors)>;

// The codes of EComPort, in the order of their texts (ComErrorText). Their
// values are fixed: callers compare them.
enum TComErrorCode : int {
    errOther = 0,             // none of the numbered failures: the message says what
    errOpen = 1,              // "Unable to open com port"
    errWrite = 2,             // "WriteFile function failed"
    errRead = 3,              // "ReadFile function failed"
    errInvalidAsync = 4,      // "Invalid Async parameter"
    errPurge = 5,             // "PurgeComm function failed"
    errAsyncStatus = 6,       // "Unable to get async status"
    errSetCommState = 7,      // "SetCommState function failed"
    errSetCommTimeouts = 8,   // "SetCommTimeouts failed"
    errSetupComm = 9,         // "SetupComm function failed"
    errClearCommError = 10,   // "ClearCommError function failed"
    errModemStatus = 11,      // "GetCommModemStatus function failed"
    errEscapeComm = 12,       // "EscapeCommFunction function failed"
    errTransmitChar = 13,     // "TransmitCommChar function failed"
    errWhileConnected = 14,   // "Cannot set property while connected"
    errEnumPorts = 15,        // "EnumPorts function failed"
    errStoreSettings = 16,    // "Failed to store settings"
    errLoadSettings = 17,     // "Failed to load settings"
    errLinkRegistration = 18, // "Link (un)registration failed"
    errLedState = 19,         // "Cannot change led state if ComPort is selected"
    errEventThreadExists = 20, // "Cannot wait for event if event thread is created"
    errWaitForEvent = 21,     // "WaitForEvent method failed"
    errRxBufLinked = 22,      // "A component is linked to OnRxBuf event"
    errRegistry = 23,         // "Registry error"
};

// The one exception of the component: a code (TComErrorCode) and the
// platform error number (errno on this platform; -1 when the failure is not
// the platform's). what() is the code's text, followed by
// " (win error code: N)" when there is a platform error number, exactly as
// callers have always compared it; Device() and SystemMessage() say the rest
// in the words a Linux user knows.
class TARNBY_CPORT_EXPORT EComPort : public Exception {
public:
    // A platform failure; device is the device file it concerns, if any.
    EComPort(int code, int win_code, std::string device = {});
    // A failure of the component itself (WinCode() is -1).
    explicit EComPort(int code);
    // A failure that none of the numbered codes describes: Code() is
    // errOther, WinCode() -1, and the message is the text given.
    explicit EComPort(const std::string& message);
    int Code() const { return code_; }
    int WinCode() const { return win_code_; }
    // The device file ("/dev/ttyS2" for port "COM3"); empty when none.
    const std::string& Device() const { return device_; }
    // The system's text for WinCode() ("No such file or directory"); empty
    // when the failure is not the platform's.
    std::string SystemMessage() const;

private:
    int code_;
    int win_code_;
    std::string device_;
};

// The text of an error code (1..23); empty for any other number.
TARNBY_CPORT_EXPORT std::string ComErrorText(int code);

class TCustomComPort;

namespace detail {
struct PortShared;
}

// ---- settings objects --------------------------------------------------------

class TARNBY_CPORT_EXPORT TComParity : public TPersistent {
public:
    std::string ClassName() const override { return "TComParity"; }
    void SetComPort(TCustomComPort* port) { port_ = port; }
    TCustomComPort* ComPort() const { return port_; }

    TParityBits Bits() const { return bits_; }
    void SetBits(TParityBits value);
    bool Check() const { return check_; }
    void SetCheck(bool value);
    bool Replace() const { return replace_; }
    void SetReplace(bool value);
    char ReplaceChar() const { return replace_char_; }
    void SetReplaceChar(char value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Changed();
    TCustomComPort* port_ = nullptr;
    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    char replace_char_ = 0;
};

class TARNBY_CPORT_EXPORT TComFlowControl : public TPersistent {
public:
    std::string ClassName() const override { return "TComFlowControl"; }
    void SetComPort(TCustomComPort* port) { port_ = port; }
    TCustomComPort* ComPort() const { return port_; }

    bool OutCTSFlow() const { return out_cts_flow_; }
    void SetOutCTSFlow(bool value);
    bool OutDSRFlow() const { return out_dsr_flow_; }
    void SetOutDSRFlow(bool value);
    TDTRFlowControl ControlDTR() const { return control_dtr_; }
    void SetControlDTR(TDTRFlowControl value);
    TRTSFlowControl ControlRTS() const { return control_rts_; }
    void SetControlRTS(TRTSFlowControl value);
    bool XonXoffOut() const { return xon_xoff_out_; }
    void SetXonXoffOut(bool value);
    bool XonXoffIn() const { return xon_xoff_in_; }
    void SetXonXoffIn(bool value);
    bool DSRSensitivity() const { return dsr_sensitivity_; }
    void SetDSRSensitivity(bool value);
    bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }
    void SetTxContinueOnXoff(bool value);
    char XonChar() const { return xon_char_; }
    void SetXonChar(char value);
    char XoffChar() const { return xoff_char_; }
    void SetXoffChar(char value);
    // The preset the four flow fields amount to; setting a preset other than
    // fcCustom rewrites those four fields.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Changed();
    TCustomComPort* port_ = nullptr;
    bool out_cts_flow_ = false;
    bool out_dsr_flow_ = false;
    TDTRFlowControl control_dtr_ = dtrDisable;
    TRTSFlowControl control_rts_ = rtsDisable;
    bool xon_xoff_out_ = false;
    bool xon_xoff_in_ = false;
    bool dsr_sensitivity_ = false;
    bool tx_continue_on_xoff_ = false;
    char xon_char_ = 17;
    char xoff_char_ = 19;
};

class TARNBY_CPORT_EXPORT TComTimeouts : public TPersistent {
public:
    std::string ClassName() const override { return "TComTimeouts"; }
    void SetComPort(TCustomComPort* port) { port_ = port; }
    TCustomComPort* ComPort() const { return port_; }

    int32_t ReadInterval() const { return read_interval_; }
    void SetReadInterval(int32_t value);
    int32_t ReadTotalMultiplier() const { return read_total_multiplier_; }
    void SetReadTotalMultiplier(int32_t value);
    int32_t ReadTotalConstant() const { return read_total_constant_; }
    void SetReadTotalConstant(int32_t value);
    int32_t WriteTotalMultiplier() const { return write_total_multiplier_; }
    void SetWriteTotalMultiplier(int32_t value);
    int32_t WriteTotalConstant() const { return write_total_constant_; }
    void SetWriteTotalConstant(int32_t value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Changed();
    void Store(int32_t& field, int32_t value);
    TCustomComPort* port_ = nullptr;
    int32_t read_interval_ = -1;
    int32_t read_total_multiplier_ = 0;
    int32_t read_total_constant_ = 0;
    int32_t write_total_multiplier_ = 100;
    int32_t write_total_constant_ = 1000;
};

class TARNBY_CPORT_EXPORT TComBuffer : public TPersistent {
public:
    std::string ClassName() const override { return "TComBuffer"; }
    void SetComPort(TCustomComPort* port) { port_ = port; }
    TCustomComPort* ComPort() const { return port_; }

    int32_t InputSize() const { return input_size_; }
    void SetInputSize(int32_t value);
    int32_t OutputSize() const { return output_size_; }
    void SetOutputSize(int32_t value);

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    void Store(int32_t& field, int32_t value);
    TCustomComPort* port_ = nullptr;
    int32_t input_size_ = 1024;
    int32_t output_size_ = 1024;
};

// ---- links -------------------------------------------------------------------

// Callbacks through which another component follows a port without taking
// its handlers. Set OnRxBuf before registering: the port checks it then.
class TARNBY_CPORT_EXPORT TComLink : public TObject {
public:
    std::string ClassName() const override { return "TComLink"; }
    TComSignalEvent OnConn;
    TRxBufEvent OnRxBuf;
    TRxBufEvent OnTxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnRxFlag;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TNotifyEvent OnRing;
    TComSignalEvent OnTx;
    TComSignalEvent OnRx;
};

// ---- asynchronous transfers --------------------------------------------------

struct TAsync {
    comm::ComOverlapped Overlapped;
    TOperationKind Kind = okRead;
    uint8_t* Data = nullptr; // copy of the latest write's bytes, for the links
    int32_t Size = 0;
};
using PAsync = TAsync*;

TARNBY_CPORT_EXPORT void InitAsync(PAsync& async);
TARNBY_CPORT_EXPORT void DoneAsync(PAsync& async);

// ---- the event thread --------------------------------------------------------

// One per opening of a port with events to wait for. Who holds it, who may
// free it and why a handler may close or destroy the port at any depth: see
// the notes at the head of cport/com_thread.cpp.
class TARNBY_CPORT_EXPORT TComThread : public TThread, public std::enable_shared_from_this<TComThread> {
public:
    // Made suspended, with the device's event mask set; Start runs it. Both
    // raise EComPort (code 1 with the platform error) when the stop event or
    // the thread cannot be made.
    explicit TComThread(TCustomComPort* port);
    ~TComThread() override;
    std::string ClassName() const override { return "TComThread"; }

    void Stop();
    TComEvents PendingEvents() const { return events_; }

protected:
    void Execute() override;

private:
    friend class TCustomComPort;
    // Runs the thread; called once it is held by a shared pointer, which its
    // dispatches take their references from.
    void Start();
    void DispatchComMsg();
    void DoEvents(TComEvents events);
    void SendEvents();
    // A wake-up's events dispatched on the owning thread
    // (thread-synchronised mode), counted while they run.
    void DispatchOnOwner(TComEvents events);
    // Thread-synchronised mode: the owning thread's event loop watches the
    // device's input (one descriptor for all ports of that thread) and
    // dispatches it there at once, without a hop through this thread. While
    // the owner waits in its loop it takes the bytes itself; once it has
    // been away too long, this thread takes every received byte into the
    // port's input queue as it comes, so none waits for a busy owner.
    void WatchInputOnOwner();
    void LookForInput();
    // A handler's exception: nothing more is delivered until the port is
    // opened again. Received bytes still reach the input queue.
    void EndDelivery();
    // The port lets go of this thread: nothing is dispatched to it any more.
    void Release();
    bool Released() const { return delivery_ == Delivery::kReleased; }
    // Whether the calling thread may wait for this thread's end: only the
    // owning thread, and only while none of this thread's dispatches, which
    // may keep it blocked, runs further down its stack.
    bool MayWaitForEndHere() const { return OwnerIsCurrentThread() && owner_dispatch_ == nullptr; }
    bool Delivering() const;
    // On the way out: no more event waits, queues discarded (the output
    // queue only when the port could not drain it).
    void LeaveDevice();

    // Whether this thread's events still go to the port's handlers.
    enum class Delivery : uint8_t {
        kOn,       // dispatching each wake-up
        kEnded,    // a handler's exception ended it; the waits go on
        kReleased, // the port let go of this thread: for good
    };
    // A dispatch of this thread's events running on the owning thread.
    struct OwnerDispatch;

    TCustomComPort* port_; // only while the port is alive and holds this thread
    std::shared_ptr<detail::PortShared> port_shared_;
    TSyncMethod sync_method_;
    comm::ComStopEvent stop_event_;
    TComEvents events_;
    std::shared_ptr<comm::ComDevice> device_;
    std::shared_ptr<TNotifyWindow> window_;
    std::unique_ptr<TInputWatch> input_watch_; // owning thread only
    std::atomic<Delivery> delivery_{Delivery::kOn};
    std::atomic<bool> discard_output_{true}; // set by Close before it stops the thread
    // The innermost dispatch of this thread's events on the owning thread's
    // stack, if any: this thread may be blocked until it returns, so a Close
    // there must not wait for the thread. Owning thread only.
    const OwnerDispatch* owner_dispatch_ = nullptr;
};

// ---- the port ------------------------------------------------------------------

class TARNBY_CPORT_EXPORT TCustomComPort : public TComponent {
public:
    explicit TCustomComPort(TComponent* owner);
    ~TCustomComPort() override;
    std::string ClassName() const override { return "TCustomComPort"; }

    // Settings.
    bool Connected() const { return phase_ != Phase::kClosed; }
    void SetConnected(bool value);
    TBaudRate BaudRate() const { return baud_rate_; }
    void SetBaudRate(TBaudRate value);
    int32_t CustomBaudRate() const { return custom_baud_rate_; }
    void SetCustomBaudRate(int32_t value);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& value);
    // The device file Port names ("/dev/ttyS2" for "COM3"); any thread.
    std::string DevicePath() const;
    TComParity* Parity() const { return parity_; }
    void SetParity(const TComParity& value);
    TStopBits StopBits() const { return stop_bits_; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return data_bits_; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return discard_null_; }
    void SetDiscardNull(bool value);
    char EventChar() const { return event_char_; }
    void SetEventChar(char value);
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents value) { events_ = value; }
    TComBuffer* Buffer() const { return buffer_; }
    void SetBuffer(const TComBuffer& value);
    TComFlowControl* FlowControl() const { return flow_control_; }
    void SetFlowControl(const TComFlowControl& value);
    TComTimeouts* Timeouts() const { return timeouts_; }
    void SetTimeouts(const TComTimeouts& value);
    TSyncMethod SyncMethod() const { return sync_method_; }
    void SetSyncMethod(TSyncMethod value);
    TStoredProps StoredProps() const { return stored_props_; }
    void SetStoredProps(TStoredProps value) { stored_props_ = value; }
    bool TriggersOnRxChar() const { return triggers_on_rx_char_ && !has_link_; }
    void SetTriggersOnRxChar(bool value);
    TThreadPriority EventThreadPriority() const { return event_thread_priority_; }
    void SetEventThreadPriority(TThreadPriority value);
    // What Close waits, in milliseconds, beyond the time the bytes still
    // queued take at the line's speed, for them to leave before it discards
    // what is left. 0: discards at once.
    int32_t CloseDrainTime() const { return close_drain_time_; }
    void SetCloseDrainTime(int32_t value) { close_drain_time_ = std::max<int32_t>(value, 0); }

    void BeginUpdate();
    void EndUpdate();
    // Raise EComPort on failure. With a non-empty Events set in
    // smThreadSync or smWindowSync mode, Open needs a Qt event loop on the
    // calling thread to deliver the events (see EventLoopAvailable): without
    // one it raises errOther before anything is opened. Use smNone there.
    void Open();
    void Close();

    // Settings persistence, part of the extras (tarnby_cport_extras): the
    // groups of StoredProps to or from a section of a settings file
    // (stIniFile, its path) or a key of the registry stand-in (stRegistry,
    // HKEY_CURRENT_USER\Software\App), named after the port's Name.
    // Raise EComPort errStoreSettings and errLoadSettings.
    void StoreSettings(TStoreType store_type, const std::string& store_to);
    void LoadSettings(TStoreType store_type, const std::string& load_from);
    // The modal setup dialog on this port; true when the user confirmed it
    // (the settings then reach an open port at once). The dialog comes with
    // the widgets extras (tarnby_cport_extras_widgets): linking them is
    // enough. Without a dialog (see SetComPortSetupDialog) it raises
    // EComPort errOther.
    bool ShowSetupDialog();

    // Reading and writing.
    int32_t WriteAsync(const void* buffer, int32_t count, PAsync& async);
    int32_t Write(const void* buffer, int32_t count);
    int32_t WriteStrAsync(const std::string& str, PAsync& async);
    int32_t WriteStr(const std::string& str);
    int32_t ReadAsync(void* buffer, int32_t count, PAsync& async);
    int32_t Read(void* buffer, int32_t count);
    int32_t ReadStrAsync(std::string& str, int32_t count, PAsync& async);
    int32_t ReadStr(std::string& str, int32_t count);
    int32_t WaitForAsync(PAsync& async);
    bool IsAsyncCompleted(PAsync async);
    void AbortAllAsync();
    // stop may be null; timeout in milliseconds, -1 (all ones) for none.
    void WaitForEvent(TComEvents& events, const comm::ComStopEvent* stop, int32_t timeout);
    void TransmitChar(char ch);
    int32_t InputCount();
    int32_t OutputCount();
    // Waits until everything written has left the device (sent, not only
    // queued), for at most the time the bytes queued now take at the line's
    // speed plus margin_ms. False when that time ran out or flow control
    // holds the line off; raises errWrite when the device fails or is gone.
    bool DrainOutput(int32_t margin_ms);
    TComSignals Signals();
    TComStateFlags StateFlags();
    TComErrors LastErrors();
    void SetBreak(bool on_off);
    void SetDTR(bool on_off);
    void SetRTS(bool on_off);
    void SetXonXoff(bool on_off);
    void ClearBuffer(bool input, bool output);

    // Links.
    void RegisterLink(TComLink* link);
    void UnRegisterLink(TComLink* link);
    bool HasLink() const { return has_link_; }

    // Handlers; called only through the Do... operations.
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TComErrorEvent OnError;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TNotifyEvent OnBeforeOpen;
    TNotifyEvent OnBeforeClose;
    TNotifyEvent OnRx80Full;

    // Applying the settings to an open device.
    virtual void ApplyDCB();
    virtual void ApplyTimeouts();
    virtual void ApplyBuffer();
    virtual void SetupComPort();

    // The device-control record and time-out record the settings stand for.
    comm::DCB BuildDCB() const;
    comm::COMMTIMEOUTS BuildTimeouts() const;

protected:
    void Loaded() override;
    virtual void CreateHandle();
    virtual void DestroyHandle();

    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int32_t count);
    virtual void DoRxBuf(const void* buffer, int32_t count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool on_off);
    virtual void DoDSRChange(bool on_off);
    virtual void DoError(TComErrors errors);
    virtual void DoRLSDChange(bool on_off);
    virtual void DoRx80Full();

public:
    // Event dispatch (called by the event thread's DoEvents and WindowMethod).
    void CallRxChar();
    void CallTxEmpty();
    void CallRxFlag();
    void CallRing();
    void CallBreak();
    void CallError();
    void CallCTSChange();
    void CallDSRChange();
    void CallRLSDChange();
    void CallRx80Full();
    void CallBeforeOpen();
    void CallAfterOpen();
    void CallBeforeClose();
    void CallAfterClose();
    void CheckSignals(bool open);
    // The notification window's message handler: message 1025 carries an
    // event's platform bit in wparam.
    intptr_t WindowMethod(uint32_t message, uintptr_t wparam, intptr_t lparam);

    void SendSignalToLink(TComLinkEvent event, bool on_off);
    void NotifyLink(TComLinkEvent event);
    void TxNotifyLink(const void* buffer, int32_t count);

    // The open device, or a stand-in that fails every call when closed. The
    // reference is good until the port closes; DeviceRef shares the device,
    // which then stays usable (failing every call once the port has closed)
    // for as long as it is held, from any thread.
    comm::ComDevice& Device() const;
    std::shared_ptr<comm::ComDevice> DeviceRef() const;

private:
    friend class TComThread;
    class Sequence; // internal.h
    bool ApplyAllowed() const;
    void StartEventThread();
    // Stops the event thread and lets go of it: waits for its end where that
    // cannot deadlock (dispatches in flight complete meanwhile), else leaves
    // the wait to a thread of its own. False if the port was destroyed by a
    // handler during the wait.
    bool ReleaseEventThread(bool may_wait);
    void UpdateHasLink();
    // Calls call for each registered link over a snapshot, skipping links
    // unregistered meanwhile, and ends early once a callback has destroyed,
    // closed or opened the port.
    void WalkLinks(const std::function<void(TComLink*)>& call);

    // Where the port stands; see the notes at the head of cport/com_port.cpp.
    enum class Phase : uint8_t {
        kClosed,  // no device; while loading or designing, the stored Connected false
        kOpen,    // the device open; while loading or designing, the stored Connected true
        kClosing, // a Close under way: the before-close notifications have gone out
    };

    // The event thread of this opening, if Events asked for one.
    std::shared_ptr<TComThread> event_thread_;
    mutable std::mutex device_mutex_; // device_ and device_path_ are read by any thread
    std::shared_ptr<comm::ComDevice> device_;
    std::string device_path_;
    std::shared_ptr<TNotifyWindow> window_;
    int32_t update_count_ = 0;
    std::vector<TComLink*> links_;
    bool triggers_on_rx_char_ = true;
    TThreadPriority event_thread_priority_ = tpNormal;
    int32_t close_drain_time_ = 2000;
    bool has_link_ = false;
    std::atomic<Phase> phase_{Phase::kClosed};
    TBaudRate baud_rate_ = br9600;
    int32_t custom_baud_rate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stop_bits_ = sbOneStopBit;
    TDataBits data_bits_ = dbEight;
    bool discard_null_ = false;
    char event_char_ = 0;
    TComEvents events_ = kAllComEvents;
    TComBuffer* buffer_ = nullptr;
    TComParity* parity_ = nullptr;
    TComTimeouts* timeouts_ = nullptr;
    TComFlowControl* flow_control_ = nullptr;
    TSyncMethod sync_method_ = smThreadSync;
    TStoredProps stored_props_{spBasic};
    // Counts openings: what was meant for an earlier one goes nowhere.
    std::atomic<uint64_t> generation_{0};
    // The thread the event thread synchronises with.
    std::shared_ptr<SyncQueue> owner_queue_;
    // Held by everything that may outlive the port.
    std::shared_ptr<detail::PortShared> shared_;
};

// What ShowSetupDialog runs: true when the user confirmed. The widgets
// extras put their dialog here as soon as they are linked into a program; a
// program may put its own in its place, or none with an empty function.
using TComPortSetupDialog = std::function<bool(TCustomComPort& port)>;
TARNBY_CPORT_EXPORT void SetComPortSetupDialog(TComPortSetupDialog dialog);

// The port as a form places it; all behaviour is TCustomComPort's.
class TARNBY_CPORT_EXPORT TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    std::string ClassName() const override { return "TComPort"; }
};

// A port seen through the stream interface; the port is not owned.
class TARNBY_CPORT_EXPORT TComStream : public TStream {
public:
    explicit TComStream(TCustomComPort* port) : port_(port) {}
    std::string ClassName() const override { return "TComStream"; }
    int32_t Read(void* buffer, int32_t count) override { return port_->Read(buffer, count); }
    int32_t Write(const void* buffer, int32_t count) override { return port_->Write(buffer, count); }
    int64_t Seek(int64_t, int) override { return 0; }

private:
    TCustomComPort* port_;
};

// ---- event mask ------------------------------------------------------------------

TARNBY_CPORT_EXPORT uint32_t ComEventsToMask(TComEvents events);
TARNBY_CPORT_EXPORT TComEvents MaskToComEvents(uint32_t mask);

// ---- names of settings -----------------------------------------------------------

TARNBY_CPORT_EXPORT std::string BaudRateToStr(TBaudRate value);
TARNBY_CPORT_EXPORT std::string StopBitsToStr(TStopBits value);
TARNBY_CPORT_EXPORT std::string DataBitsToStr(TDataBits value);
TARNBY_CPORT_EXPORT std::string ParityToStr(TParityBits value);
TARNBY_CPORT_EXPORT std::string FlowControlToStr(TFlowControl value);
TARNBY_CPORT_EXPORT TBaudRate StrToBaudRate(const std::string& text);
TARNBY_CPORT_EXPORT TStopBits StrToStopBits(const std::string& text);
TARNBY_CPORT_EXPORT TDataBits StrToDataBits(const std::string& text);
TARNBY_CPORT_EXPORT TParityBits StrToParity(const std::string& text);
TARNBY_CPORT_EXPORT TFlowControl StrToFlowControl(const std::string& text);

// Replaces the list's contents with the serial ports this machine has, sorted.
TARNBY_CPORT_EXPORT void EnumComPorts(TStrings& ports);

// The speed in bits per second a TBaudRate names (0 for brCustom).
TARNBY_CPORT_EXPORT int32_t BaudRateValue(TBaudRate value);

} // namespace tarnby
