// The serial device layer: the handful of operations the port component needs
// of a serial device, with the records and bit values it speaks in. One POSIX
// implementation (comm_posix.cpp, with a file of hooks per system:
// os_hooks.h) and, in the tests, one scriptable fake.
//
// Every operation returns 0 on success or the platform error number (errno);
// asynchronous transfers may also return kIoPending. The component turns a
// non-zero result into its exception at one place.
#pragma once

#include "tarnby/cport/export.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnby::comm {

// Not an errno: the transfer has started and completes later.
constexpr int kIoPending = -997;
// Not an errno: the transfer has not completed yet.
constexpr int kIoIncomplete = -996;

// Device events, one bit each.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_RX80FULL = 0x0400;

// PurgeComm actions.
constexpr uint32_t PURGE_TXABORT = 0x1;
constexpr uint32_t PURGE_RXABORT = 0x2;
constexpr uint32_t PURGE_TXCLEAR = 0x4;
constexpr uint32_t PURGE_RXCLEAR = 0x8;

// Line and driver errors reported (and reset) by ClearCommError.
constexpr uint32_t CE_RXOVER = 0x1;
constexpr uint32_t CE_OVERRUN = 0x2;
constexpr uint32_t CE_RXPARITY = 0x4;
constexpr uint32_t CE_FRAME = 0x8;
constexpr uint32_t CE_BREAK = 0x10;
constexpr uint32_t CE_TXFULL = 0x100;
constexpr uint32_t CE_IOE = 0x400;
constexpr uint32_t CE_MODE = 0x8000;

// Modem-line inputs from GetCommModemStatus.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// EscapeCommFunction actions.
constexpr uint32_t SETXOFF = 1;
constexpr uint32_t SETXON = 2;
constexpr uint32_t SETRTS = 3;
constexpr uint32_t CLRRTS = 4;
constexpr uint32_t SETDTR = 5;
constexpr uint32_t CLRDTR = 6;
constexpr uint32_t SETBREAK = 8;
constexpr uint32_t CLRBREAK = 9;

// Flag bits of the device-control record.
constexpr uint32_t DCB_BINARY = 0x1;
constexpr uint32_t DCB_PARITY = 0x2;
constexpr uint32_t DCB_OUTX_CTS_FLOW = 0x4;
constexpr uint32_t DCB_OUTX_DSR_FLOW = 0x8;
constexpr uint32_t DCB_DTR_CONTROL_SHIFT = 4; // two bits: disable, enable, handshake
constexpr uint32_t DCB_DSR_SENSITIVITY = 0x40;
constexpr uint32_t DCB_TX_CONTINUE_ON_XOFF = 0x80;
constexpr uint32_t DCB_OUTX = 0x100;
constexpr uint32_t DCB_INX = 0x200;
constexpr uint32_t DCB_ERROR_CHAR = 0x400;
constexpr uint32_t DCB_NULL = 0x800;
constexpr uint32_t DCB_RTS_CONTROL_SHIFT = 12; // two bits: disable, enable, handshake, toggle
constexpr uint32_t DCB_ABORT_ON_ERROR = 0x4000;

constexpr uint32_t DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr uint32_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                   RTS_CONTROL_TOGGLE = 3;

// The device-control record: 28 bytes, laid out as the port settings expect.
struct DCB {
    uint32_t DCBlength = sizeof(DCB);
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    uint32_t DtrControl() const { return (Flags >> DCB_DTR_CONTROL_SHIFT) & 3; }
    uint32_t RtsControl() const { return (Flags >> DCB_RTS_CONTROL_SHIFT) & 3; }
};
static_assert(sizeof(DCB) == 28);

// Time-outs in milliseconds; all ones (0xFFFFFFFF) is the special "MAXDWORD".
//  - interval all ones, both read totals 0: a read returns at once with what
//    is queued;
//  - interval all ones, read multiplier all ones, 0 < read constant < all
//    ones: a read returns as soon as one byte is there, or empty after the
//    constant;
//  - otherwise a read waits for all bytes, ending early when the total
//    (multiplier x bytes + constant, if non-zero) runs out or, once a byte
//    came, when no byte follows within the interval (if non-zero);
//  - a write ends early when multiplier x bytes + constant (if non-zero) runs
//    out.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};
constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// Driver state: the seven hold/sent flags in bits 0..6, and queue lengths.
struct COMSTAT {
    uint32_t Flags = 0;
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

class ComDevice;

// Whether the thread that takes received input by notification (see
// ComDevice::SetInputByNotify) waits in its event loop now, ready to take
// the next bytes itself. While it does, nobody else need watch the input;
// once it has been away from that wait for longer than a moment (busy, or
// its loop gone), AwayFd is readable and Away true, and the device's own
// waits watch the input again, so that a busy owner loses nothing.
class TARNBY_CPORT_EXPORT OwnerPresence {
public:
    virtual ~OwnerPresence() = default;
    virtual bool Away() const = 0;
    virtual int AwayFd() const = 0;
};

// The completion object of one asynchronous transfer. It starts out
// completed (signalled) with no bytes, so waiting on an object on which
// nothing was started returns at once.
class TARNBY_CPORT_EXPORT ComOverlapped {
public:
    ComOverlapped() = default;
    ~ComOverlapped();
    ComOverlapped(const ComOverlapped&) = delete;
    ComOverlapped& operator=(const ComOverlapped&) = delete;

    // Bytes moved and the error of a completed transfer: returns 0 or the
    // transfer's errno with bytes set, or kIoIncomplete when it has not
    // completed and wait is false; with wait true it blocks until it has.
    int Result(bool wait, int32_t& bytes);
    bool Completed();

    // Used by devices.
    void Begin(ComDevice* device);
    void Complete(int32_t bytes, int error);

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = true;
    int32_t bytes_ = 0;
    int error_ = 0;
    std::atomic<ComDevice*> pending_on_{nullptr};
};

// A stop request that a device wait can be cut short by (a manual-reset
// event on a wake-up descriptor of the system's; the device layer polls it).
class TARNBY_CPORT_EXPORT ComStopEvent {
public:
    ComStopEvent();
    ~ComStopEvent();
    ComStopEvent(const ComStopEvent&) = delete;
    ComStopEvent& operator=(const ComStopEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    int Fd() const { return fd_; }
    // False when no descriptor could be made for it (Error says why): a
    // wait on it could then never be cut short.
    bool Valid() const { return fd_ >= 0; }
    int Error() const { return error_; }

private:
    int fd_;
    int signal_fd_ = -1; // where a system's wake-up takes two descriptors
    int error_ = 0;
    std::atomic<bool> set_{false}; // spares a system call per look
};

// Events that tell of received input. While input goes to an owner that
// watches InputEdgeFd, blocking waits leave these to that owner's looks.
constexpr uint32_t kInputEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_ERR;

// A device is shared by the port and each operation in flight on it; Close
// ends its use at once while the object lives on for whoever still holds it.
class TARNBY_CPORT_EXPORT ComDevice {
public:
    virtual ~ComDevice() = default;

    // Releases the device: pending transfers complete (cancelled), waits
    // return, and every later operation fails with EBADF. May be called
    // from any thread, more than once.
    virtual void Close() {}

    // Recommended queue sizes in bytes.
    virtual int SetupComm(int32_t input_size, int32_t output_size) = 0;
    virtual int SetCommState(const DCB& dcb) = 0;
    virtual int SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    // The events WaitCommEvent waits for; changing it ends a wait in
    // progress, which then reports no events.
    virtual int SetCommMask(uint32_t mask) = 0;
    // Waits until an event of the mask occurs and reports the ones that did
    // (mask). Ends with mask 0 when the mask is changed, when stop (if given)
    // is set, or after timeout_ms (negative: no limit; 0: only a look at
    // what is there now). Two threads may wait at once; each event goes to
    // one of them.
    virtual int WaitCommEvent(uint32_t& mask, const ComStopEvent* stop, int timeout_ms) = 0;
    // Start a transfer: 0 when it completed at once (overlapped holds the
    // result), kIoPending when it completes later, or an errno. The buffer
    // must stay valid until the transfer has completed.
    virtual int ReadFile(void* buffer, int32_t count, ComOverlapped& overlapped) = 0;
    virtual int WriteFile(const void* buffer, int32_t count, ComOverlapped& overlapped) = 0;
    virtual int PurgeComm(uint32_t flags) = 0;
    // Waits until what was written has left: the transfers pending here
    // done, the system's output queue empty and the transmitter idle. Gives
    // up after the time the bytes queued at the start take at the line's
    // speed plus margin_ms (ETIMEDOUT), and at once when flow control holds
    // the line off (EAGAIN) or the device is gone (EIO). 0 once drained.
    virtual int DrainOutput(int margin_ms) = 0;
    // Reports and resets the accumulated errors (CE_ bits) and the state.
    virtual int ClearCommError(uint32_t& errors, COMSTAT& stat) = 0;
    virtual int GetCommModemStatus(uint32_t& status) = 0;
    virtual int EscapeCommFunction(uint32_t function) = 0;
    virtual int TransmitCommChar(char c) = 0;

    // A completion object that is being destroyed withdraws its transfer.
    virtual void Cancel(ComOverlapped& overlapped) = 0;

    // A descriptor to watch edge-triggered for new input (or a hang-up): an
    // arrival reports once however many bytes stay unread. -1 if the device
    // has none. A look (WaitCommEvent with time-out 0) takes what came and
    // whatever events are there.
    virtual int InputEdgeFd() const { return -1; }
    // Called (from any thread, with the device's lock held: it must only
    // take note) when input events wait for the owner's look while input
    // goes by notification; once until the next look.
    virtual void SetInputNotice(std::function<void()>) {}
    // On: blocking waits still take received bytes into the device's own
    // queue at once, but leave the input events (kInputEvents) to the looks
    // of whoever watches InputEdgeFd and hears the notice, so that they are
    // dispatched there.
    virtual void SetInputByNotify(bool) {}
    // Where the owner that takes input by notification is: blocking waits
    // leave the input alone while it is present. None: they always watch it.
    virtual void SetOwnerPresence(std::shared_ptr<const OwnerPresence>) {}
};

// Opens a serial device by port name for exclusive use: a path starting with
// "/" as it is, "COMn" as /dev/ttyS(n-1), any other name under /dev. On
// failure returns null with error set.
TARNBY_CPORT_EXPORT std::unique_ptr<ComDevice> OpenComDevice(const std::string& port, int& error);

// Replaces the opener (tests install a fake); an empty function restores
// the real devices.
using ComDeviceOpener = std::function<std::unique_ptr<ComDevice>(const std::string& port, int& error)>;
TARNBY_CPORT_EXPORT void SetComDeviceOpener(ComDeviceOpener opener);

// The device file a port name stands for.
TARNBY_CPORT_EXPORT std::string DevicePath(const std::string& port);

// Paths of the serial ports this machine really has; 0 or an errno.
TARNBY_CPORT_EXPORT int EnumSerialDevices(std::vector<std::string>& paths);

} // namespace tarnby::comm
