// The serial device layer on a POSIX tty file descriptor; what only a
// particular system has is asked of its hooks (os_hooks.h).
//
// Input: the driver's queue is the system's tty buffer plus a queue of our
// own (sized by SetupComm). Whoever waits for device events moves arriving
// bytes into our queue, and while that waiter is away (dispatching, perhaps
// blocked until a busy owner takes its events) the worker does: the system's
// buffer is small and a hang-up discards it. That is also what lets a
// received-character event mean "new bytes came" (a level-triggered poll
// would report the same unread bytes for ever), and lets the event
// character, NUL discarding and the 80 percent mark work. Reads take from
// our queue first, then the system's.
//
// Events every tty delivers: EV_RXCHAR, EV_RXFLAG, EV_RX80FULL and
// EV_TXEMPTY; EV_ERR for a hang-up or a removed device (as CE_IOE). Where the
// driver counts line events (ReadLineCounters) also EV_BREAK and EV_ERR for
// frame, parity and overrun errors, and, where a wait for modem-line changes
// works (WaitLineChange), EV_CTS, EV_DSR, EV_RLSD and EV_RING, waited for by
// a line watcher thread without polling.
//
// A pseudo-terminal has no modem lines and no break: they read as off and
// their controls do nothing.
//
// Transfers that cannot complete at once (a read that must wait for bytes,
// a write the system cannot take yet) are finished by a worker thread that
// is started the first time one is needed and sleeps in poll otherwise.
//
// Lifetime: every use of the tty descriptor happens under the device's lock
// or in a wait that Close wakes and waits out (the worker and the line
// watcher end first), so Close can release the tty at once, with the object
// living on, failing every call, for whoever still holds it.
//
// Settings a POSIX tty lacks: DSR output flow, DSR sensitivity and DTR
// handshake are not available (DTR handshake holds DTR high); RTS handshake
// and CTS output flow are one switch, so either turns on both; RTS toggle
// uses the driver's RS-485 mode where it has one, else RTS stays low; 1.5
// stop bits is the two-stop-bit setting, which UARTs send as 1.5 with five
// data bits; the XON/XOFF limits are the system's own.
#include "platform/comm_internal.h"
#include "platform/os_hooks.h"
#include "platform/tty_posix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tarnby::comm {
namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();
// Our queue holds at least this much whatever size is asked for, so that one
// wake-up can take a good batch; the 80 percent mark follows the size asked.
constexpr size_t kMinInputQueue = 64 * 1024;
constexpr size_t kMaxInputQueue = 1 << 24;

Clock::time_point After(uint64_t ms)
{
    if (ms >= (uint64_t{1} << 40))
        return kNever;
    return Clock::now() + std::chrono::milliseconds(ms);
}

int MillisUntil(Clock::time_point t)
{
    if (t == kNever)
        return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, 1 << 30));
}

// A WaitCommEvent in progress, handed to what it calls with the lock held:
// events it records itself it looks at before it sleeps again or returns,
// so nobody has to be woken for them. Calls made by anyone else (a read, a
// write, the worker, the line watcher, a query) hand down none.
struct EventWait {
    bool look; // time-out 0: takes every kind of event, input events too
};

struct PendingRead {
    ComOverlapped* overlapped;
    uint8_t* buffer;
    int32_t count;
    int32_t got = 0;
    bool return_on_first = false;
    Clock::time_point total_deadline = kNever;
    uint32_t interval_ms = 0;
    Clock::time_point last_byte{};
};

struct PendingWrite {
    ComOverlapped* overlapped;
    const uint8_t* buffer;
    int32_t count;
    int32_t done = 0;
    Clock::time_point deadline = kNever;
};

// The device's lock, of the kind the system finds best for a lock held for a
// system call at most and wanted by two threads when input arrives.
//
// Handed over at unlock to a thread that waits for it where the system does
// that (Linux does for a priority-inheriting lock): an owner writing a burst
// takes the lock at every write, and on a loaded machine a waiter that is
// merely woken, as with a plain lock, often finds it taken again by the time
// it runs and sleeps again, once a write, until it happens to win.
class DeviceMutex {
public:
    DeviceMutex()
    {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_settype(&attributes, os::DeviceMutexType());
#if defined(_POSIX_THREAD_PRIO_INHERIT) && _POSIX_THREAD_PRIO_INHERIT > 0
        if (pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT) == 0 &&
            pthread_mutex_init(&mutex_, &attributes) == 0) {
            pthread_mutexattr_destroy(&attributes);
            return;
        }
        pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_NONE);
#endif
        pthread_mutex_init(&mutex_, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    ~DeviceMutex() { pthread_mutex_destroy(&mutex_); }
    DeviceMutex(const DeviceMutex&) = delete;
    DeviceMutex& operator=(const DeviceMutex&) = delete;
    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }
    bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }

private:
    pthread_mutex_t mutex_;
};

// The descriptors a device needs besides the tty, made before the tty is
// opened so that a shortage of descriptors touches no device.
// (The worker's is made when the worker first starts: most ports never
// need one.)
struct WakeFds {
    os::Wake waiter; // ends a WaitCommEvent's poll

    int Make() { return os::MakeWake(waiter); }
    void CloseAll() { os::CloseWake(waiter); }
};

// How one pass over the tty ended.
struct TtyPass {
    size_t moved = 0;     // bytes read (kept, after filtering) or written
    bool stalled = false; // nothing more now: no input, or no room for output
    bool ended = false;   // end of file: hung up
    int error = 0;        // the errno of a failed call
    // What ends the tty's use, as the error pending transfers get.
    int GoneError() const { return ended ? EIO : error; }
    bool Over() const { return ended || error != 0; }
};

class PosixComDevice : public ComDevice {
public:
    // Takes the tty descriptor and the wake-up descriptors.
    PosixComDevice(int fd, const WakeFds& wake, bool has_counters);
    ~PosixComDevice() override;

    // Starts the line watcher where the driver counts line changes; errno.
    int StartLineWatcher();

    void Close() override;
    int SetupComm(int32_t input_size, int32_t output_size) override;
    int SetCommState(const DCB& dcb) override;
    int SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    int SetCommMask(uint32_t mask) override;
    int WaitCommEvent(uint32_t& mask, const ComStopEvent* stop, int timeout_ms) override;
    int ReadFile(void* buffer, int32_t count, ComOverlapped& overlapped) override;
    int WriteFile(const void* buffer, int32_t count, ComOverlapped& overlapped) override;
    int PurgeComm(uint32_t flags) override;
    int DrainOutput(int margin_ms) override;
    int ClearCommError(uint32_t& errors, COMSTAT& stat) override;
    int GetCommModemStatus(uint32_t& status) override;
    int EscapeCommFunction(uint32_t function) override;
    int TransmitCommChar(char c) override;
    void Cancel(ComOverlapped& overlapped) override;
    int InputEdgeFd() const override { return fd_; }
    void SetInputNotice(std::function<void()> notice) override;
    void SetInputByNotify(bool on) override;
    void SetOwnerPresence(std::shared_ptr<const OwnerPresence> presence) override;

private:
    // All *Locked members run with mutex_ held.
    // The one read loop and the one write loop over the tty: until there is
    // nothing more to read (or no room to write) now, n bytes are moved, or
    // the tty fails; early at a short transfer when asked to, since that
    // took all there was (or all there was room for).
    TtyPass ReadTtyLocked(uint8_t* into, size_t n, bool stop_at_short_read, const EventWait* wait = nullptr);
    TtyPass WriteTtyLocked(const uint8_t* from, size_t n, bool stop_at_short_write);
    void IngestLocked(const EventWait* wait = nullptr);
    void FeedReadsLocked();
    void ProgressWritesLocked();
    void WritesChangedLocked();
    void ExpireLocked(Clock::time_point now);
    void CheckCountersLocked(const EventWait* wait = nullptr);
    void RecordLocked(uint32_t events, const EventWait* wait = nullptr);
    void WakeLookLocked();
    void RoomAgainLocked();
    void MarkGoneLocked(int error, const EventWait* wait = nullptr);
    void CompleteAllLocked(bool reads, bool writes, int error);
    void NoteWrittenLocked();
    void CheckTxEmptyLocked(const EventWait& wait);
    int TxCheckIntervalLocked();
    // Bytes written and not yet sent: those waiting here and the system's.
    uint64_t OutputLeftLocked();
    // How long one character takes on the line, as the settings make it.
    std::chrono::microseconds CharTimeLocked() const;
    Clock::time_point NextDeadlineLocked() const;
    int StartWorkerLocked();
    void InputUnwatchedLocked();
    void WorkerLoop();
    int SetCommStateLocked(const DCB& dcb);
    // Takes n bytes from the head of our queue (a ring).
    void PopLocked(uint8_t* out, size_t n);
    // Received bytes get this on their way in: NULs dropped if asked, the
    // event character noted. Returns bytes kept.
    size_t FilterLocked(uint8_t* data, size_t n, const EventWait* wait);

    const int fd_;
    const os::Wake waiter_wake_;
    os::Wake worker_wake_; // made with the worker
    DeviceMutex mutex_;

    // Our input queue: a ring.
    std::vector<uint8_t> rx_;
    size_t rx_head_ = 0;
    size_t rx_len_ = 0;
    bool rx_was_80_full_ = false;
    size_t rx_nominal_ = 1024; // the queue size asked for

    uint32_t mask_ = 0;
    bool input_by_notify_ = false;
    // While the owner taking input by notification is present, blocking
    // waits leave the input to it (one wake-up per arrival, not two).
    std::shared_ptr<const OwnerPresence> owner_presence_;
    bool look_woken_ = false; // input_notice_ called and no look since
    std::function<void()> input_notice_;
    uint32_t mask_generation_ = 0;
    uint32_t events_ = 0;
    uint32_t errors_ = 0;
    bool gone_ = false;
    // Set by every write: EV_TXEMPTY is due once all of it has left.
    bool tx_check_ = false;
    // False once the system's output queue was seen empty with nothing
    // written since: then it need not be asked again.
    bool output_maybe_queued_ = false;
    bool closing_ = false; // no new work; every call fails
    int pollers_ = 0;      // threads in a WaitCommEvent poll or a drain, unlocked
    int blocking_waiters_ = 0;
    std::condition_variable_any pollers_done_;
    // A pending write finished, or the device closed or went: a drain looks
    // again at once rather than at its next turn.
    std::condition_variable_any output_changed_;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};

    std::deque<PendingRead> reads_;
    std::deque<PendingWrite> writes_;
    std::thread worker_;

    const bool has_counters_;
    os::LineCounters counters_{};
    std::unique_ptr<WaitLoopThread> watcher_;
};

PosixComDevice::PosixComDevice(int fd, const WakeFds& wake, bool has_counters)
    : fd_(fd), waiter_wake_(wake.waiter), rx_(kMinInputQueue), has_counters_(has_counters)
{
    if (has_counters_)
        os::ReadLineCounters(fd_, counters_);
}

PosixComDevice::~PosixComDevice()
{
    Close();
    WakeFds wake{waiter_wake_};
    wake.CloseAll();
    os::CloseWake(worker_wake_);
}

void PosixComDevice::Close()
{
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return;
        closing_ = true;
        CompleteAllLocked(true, true, ECANCELED);
        output_changed_.notify_all();
    }
    os::SignalWake(waiter_wake_);
    os::SignalWake(worker_wake_);
    // Both wait on the tty outside the lock; neither calls out of the device,
    // so neither can be the thread closing it.
    if (watcher_)
        watcher_->Stop();
    if (worker_.joinable())
        worker_.join();
    std::unique_lock lock(mutex_);
    pollers_done_.wait(lock, [this] { return pollers_ == 0; });
    // The exclusive claim stays with the tty while another process holds it
    // open: it has to be given up explicitly.
    os::ReleaseExclusive(fd_);
    // Closing the descriptor also drops the advisory lock.
    ::close(fd_);
}

// ---- settings ------------------------------------------------------------------

int PosixComDevice::SetupComm(int32_t input_size, int32_t output_size)
{
    if (input_size < 0 || output_size < 0)
        return EINVAL;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    rx_nominal_ = input_size > 0 ? static_cast<size_t>(input_size) : kMinInputQueue;
    size_t size = std::clamp<size_t>(static_cast<size_t>(input_size), kMinInputQueue, kMaxInputQueue);
    if (size == rx_.size())
        return 0;
    std::vector<uint8_t> fresh(std::max(size, rx_len_));
    size_t queued = rx_len_;
    PopLocked(fresh.data(), queued);
    rx_ = std::move(fresh);
    rx_head_ = 0;
    rx_len_ = queued;
    os::SignalWake(waiter_wake_); // room may have appeared for input
    return 0;
}

int PosixComDevice::SetCommState(const DCB& dcb)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2)
        return EINVAL;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    return SetCommStateLocked(dcb);
}

int PosixComDevice::SetCommStateLocked(const DCB& dcb)
{
    os::LineSettings line;
    line.speed = dcb.BaudRate;
    line.data_bits = dcb.ByteSize;
    line.parity = static_cast<os::LineSettings::Parity>(dcb.Parity);
    line.two_stop_bits = dcb.StopBits != 0;
    line.check_parity = (dcb.Flags & DCB_PARITY) != 0;
    line.xon_xoff_out = (dcb.Flags & DCB_OUTX) != 0;
    line.xon_xoff_in = (dcb.Flags & DCB_INX) != 0;
    line.rts_cts = (dcb.Flags & DCB_OUTX_CTS_FLOW) || dcb.RtsControl() == RTS_CONTROL_HANDSHAKE;
    line.xon_char = dcb.XonChar;
    line.xoff_char = dcb.XoffChar;
    if (int e = os::ApplyLineSettings(fd_, line))
        return e;

    // Output lines: DTR and RTS held low or high, unless the driver drives RTS.
    int e = os::SetModemLine(fd_, os::ModemLine::kDtr, dcb.DtrControl() != DTR_CONTROL_DISABLE);
    if (e != 0 && e != ENOTTY)
        return e;
    const bool toggle = os::SetRtsToggle(fd_, dcb.RtsControl() == RTS_CONTROL_TOGGLE);
    if (dcb.RtsControl() != RTS_CONTROL_HANDSHAKE && !toggle) {
        e = os::SetModemLine(fd_, os::ModemLine::kRts, dcb.RtsControl() == RTS_CONTROL_ENABLE);
        if (e != 0 && e != ENOTTY)
            return e;
    }
    dcb_ = dcb;
    return 0;
}

int PosixComDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    timeouts_ = timeouts;
    return 0;
}

int PosixComDevice::SetCommMask(uint32_t mask)
{
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return EBADF;
        mask_ = mask;
        ++mask_generation_;
        events_ = 0;
        // The worker watches input for an absent waiter only under a mask.
        if (worker_.joinable())
            os::SignalWake(worker_wake_);
    }
    os::SignalWake(waiter_wake_);
    return 0;
}

// ---- events ----------------------------------------------------------------------

void PosixComDevice::RecordLocked(uint32_t events, const EventWait* wait)
{
    uint32_t fresh = events & mask_ & ~events_;
    events_ |= events & mask_;
    if (fresh == 0)
        return;
    // Input events may be left to the input watcher's look; the rest are
    // for a blocking waiter. A wait that records events itself takes what
    // it may before it sleeps again or returns: only others are woken.
    const uint32_t for_look = input_by_notify_ ? fresh & kInputEvents : 0;
    if (for_look != 0 && !(wait != nullptr && wait->look))
        WakeLookLocked();
    if ((fresh & ~for_look) != 0 && wait == nullptr)
        os::SignalWake(waiter_wake_);
}

void PosixComDevice::WakeLookLocked()
{
    if (look_woken_)
        return;
    look_woken_ = true;
    if (input_notice_)
        input_notice_();
}

void PosixComDevice::RoomAgainLocked()
{
    // Whoever watches the input takes in what waits in the tty; an owner
    // that watches it is asked to look, since what waits there will bring
    // no edge of its own.
    os::SignalWake(waiter_wake_);
    if (input_by_notify_)
        WakeLookLocked();
}

void PosixComDevice::MarkGoneLocked(int error, const EventWait* wait)
{
    if (gone_)
        return;
    gone_ = true;
    errors_ |= CE_IOE;
    output_changed_.notify_all();
    RecordLocked(EV_ERR, wait);
    CompleteAllLocked(true, true, error != 0 ? error : EIO);
}

void PosixComDevice::CheckCountersLocked(const EventWait* wait)
{
    if (!has_counters_ || gone_ || closing_)
        return;
    os::LineCounters now{};
    if (os::ReadLineCounters(fd_, now) != 0)
        return;
    uint32_t errors = 0, events = 0;
    if (now.frame != counters_.frame)
        errors |= CE_FRAME;
    if (now.parity != counters_.parity && (dcb_.Flags & DCB_PARITY))
        errors |= CE_RXPARITY;
    if (now.overrun != counters_.overrun)
        errors |= CE_OVERRUN;
    if (now.buf_overrun != counters_.buf_overrun)
        errors |= CE_RXOVER;
    if (now.brk != counters_.brk) {
        errors |= CE_BREAK;
        events |= EV_BREAK;
    }
    if (now.cts != counters_.cts)
        events |= EV_CTS;
    if (now.dsr != counters_.dsr)
        events |= EV_DSR;
    if (now.dcd != counters_.dcd)
        events |= EV_RLSD;
    if (now.rng != counters_.rng)
        events |= EV_RING;
    counters_ = now;
    if (errors & (CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER))
        events |= EV_ERR;
    errors_ |= errors;
    RecordLocked(events, wait);
}

// ---- the tty ------------------------------------------------------------------------

size_t PosixComDevice::FilterLocked(uint8_t* data, size_t n, const EventWait* wait)
{
    if ((mask_ & EV_RXFLAG) && std::memchr(data, static_cast<uint8_t>(dcb_.EvtChar), n) != nullptr)
        RecordLocked(EV_RXFLAG, wait);
    if (!(dcb_.Flags & DCB_NULL))
        return n;
    uint8_t* end = std::remove(data, data + n, uint8_t{0});
    return static_cast<size_t>(end - data);
}

TtyPass PosixComDevice::ReadTtyLocked(uint8_t* into, size_t n, bool stop_at_short_read, const EventWait* wait)
{
    TtyPass pass;
    while (pass.moved < n) {
        const size_t want = n - pass.moved;
        ssize_t r = ::read(fd_, into + pass.moved, want);
        if (r > 0) {
            pass.moved += FilterLocked(into + pass.moved, static_cast<size_t>(r), wait);
            // A short read took all there was. Whatever comes after it, more
            // bytes or a hang-up, wakes the tty's readers again.
            if (stop_at_short_read && static_cast<size_t>(r) < want) {
                pass.stalled = true;
                break;
            }
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno == EAGAIN) {
            pass.stalled = true;
            break;
        }
        // End of file on a tty in raw mode is a hang-up: the other end of a
        // pseudo-terminal closed, or the device is no more.
        pass.ended = r == 0;
        pass.error = r == 0 ? 0 : errno;
        break;
    }
    return pass;
}

TtyPass PosixComDevice::WriteTtyLocked(const uint8_t* from, size_t n, bool stop_at_short_write)
{
    TtyPass pass;
    while (pass.moved < n) {
        const size_t want = n - pass.moved;
        ssize_t w = ::write(fd_, from + pass.moved, want);
        if (w > 0) {
            pass.moved += static_cast<size_t>(w);
            if (stop_at_short_write && static_cast<size_t>(w) < want) {
                pass.stalled = true;
                break;
            }
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        // Nothing taken now: the rest waits like a full queue.
        if (w == 0 || errno == EAGAIN) {
            pass.stalled = true;
            break;
        }
        pass.error = errno;
        break;
    }
    if (pass.moved > 0)
        output_maybe_queued_ = true;
    return pass;
}

void PosixComDevice::PopLocked(uint8_t* out, size_t n)
{
    size_t first = std::min(n, rx_.size() - rx_head_);
    std::memcpy(out, rx_.data() + rx_head_, first);
    std::memcpy(out + first, rx_.data(), n - first);
    rx_head_ = (rx_head_ + n) % rx_.size();
    rx_len_ -= n;
}

void PosixComDevice::IngestLocked(const EventWait* wait)
{
    while (!gone_ && !closing_) {
        // Waiting reads are served first, so they take the oldest bytes.
        FeedReadsLocked();
        size_t room = rx_.size() - rx_len_;
        if (room == 0)
            break;
        // Straight into the free stretch at the ring's tail.
        size_t tail = (rx_head_ + rx_len_) % rx_.size();
        size_t stretch = std::min(room, rx_.size() - tail);
        TtyPass pass = ReadTtyLocked(rx_.data() + tail, stretch, true, wait);
        rx_len_ += pass.moved;
        if (pass.moved > 0)
            RecordLocked(EV_RXCHAR, wait);
        if (pass.Over())
            MarkGoneLocked(pass.GoneError(), wait);
        if (pass.stalled || pass.Over())
            break;
    }
    FeedReadsLocked();
    CheckCountersLocked(wait);
    bool full80 = rx_len_ * 5 >= std::min(rx_nominal_, rx_.size()) * 4;
    if (full80 && !rx_was_80_full_)
        RecordLocked(EV_RX80FULL, wait);
    rx_was_80_full_ = full80;
}

void PosixComDevice::NoteWrittenLocked()
{
    // The waiter hears of writes only when it has an EV_TXEMPTY to find, and
    // only at the first write since the last one it reported.
    if (!tx_check_ && (mask_ & EV_TXEMPTY))
        os::SignalWake(waiter_wake_);
    tx_check_ = true;
}

void PosixComDevice::CheckTxEmptyLocked(const EventWait& wait)
{
    // Due once every byte written has left: none waits here any more (the
    // worker wakes the waiter when the last one goes) and the system's
    // output queue is empty.
    if (!tx_check_ || !(mask_ & EV_TXEMPTY) || !writes_.empty())
        return;
    int queued = 0;
    if (gone_ || os::OutputQueued(fd_, queued) != 0 || queued == 0) {
        tx_check_ = false;
        RecordLocked(EV_TXEMPTY, &wait);
    }
}

int PosixComDevice::TxCheckIntervalLocked()
{
    if (!tx_check_ || !(mask_ & EV_TXEMPTY) || !writes_.empty() || gone_)
        return -1;
    // The system does not say when its output queue runs dry; look again
    // after about the time the bytes take on the line.
    int queued = 0;
    os::OutputQueued(fd_, queued);
    uint64_t ms = 1 + static_cast<uint64_t>(std::max(queued, 0)) * 10000 / std::max<uint32_t>(dcb_.BaudRate, 1);
    return static_cast<int>(std::min<uint64_t>(ms, 1000));
}

int PosixComDevice::WaitCommEvent(uint32_t& mask, const ComStopEvent* stop, int timeout_ms)
{
    mask = 0;
    const Clock::time_point deadline = timeout_ms <= 0 ? kNever : After(static_cast<uint64_t>(timeout_ms));
    const bool look = timeout_ms == 0;
    std::unique_lock lock(mutex_);
    if (closing_)
        return EBADF;
    const uint32_t generation = mask_generation_;
    const EventWait wait{look};
    if (!look)
        ++blocking_waiters_;
    struct Leave {
        PosixComDevice& device;
        bool look;
        ~Leave()
        {
            if (!look && --device.blocking_waiters_ == 0)
                device.InputUnwatchedLocked();
        }
    } leave{*this, look};
    if (look) {
        // The notice is taken (the owner took the edge of new input). What
        // the edge announced is read before anything can return, or it would
        // wait for the next edge.
        look_woken_ = false;
        // Also after the event thread took bytes in: whatever came after
        // them announced itself by the edge the owner has just taken, and
        // no other will come for it.
        if (!gone_ && rx_len_ < rx_.size())
            IngestLocked(&wait);
    }
    for (;;) {
        if (closing_)
            return EBADF;
        if (mask_generation_ != generation)
            return 0;
        CheckTxEmptyLocked(wait);
        const uint32_t takeable = look || !input_by_notify_ ? mask_ : mask_ & ~kInputEvents;
        if (uint32_t ready = events_ & takeable) {
            events_ &= ~ready;
            mask = ready;
            return 0;
        }
        if (stop != nullptr && stop->IsSet())
            return 0;
        int wait_ms = look ? 0 : MillisUntil(deadline);
        if (wait_ms == 0)
            return 0;
        if (int check_ms = TxCheckIntervalLocked(); check_ms >= 0)
            wait_ms = wait_ms < 0 ? check_ms : std::min(wait_ms, check_ms);
        pollfd fds[3];
        nfds_t n = 0;
        fds[n++] = {waiter_wake_.poll_fd, POLLIN, 0};
        if (stop != nullptr)
            fds[n++] = {stop->Fd(), POLLIN, 0};
        // Received bytes are taken into our queue at once, whoever dispatches
        // their events: the tty's buffer is small, and a hang-up discards it.
        // An owner waiting in its loop takes them itself as they come; this
        // wait takes over once that owner has been away too long.
        const std::shared_ptr<const OwnerPresence> owner =
            input_by_notify_ && !look ? owner_presence_ : nullptr;
        const bool owner_present = owner != nullptr && !owner->Away();
        const bool room = !gone_ && rx_len_ < rx_.size();
        bool watch_input = room && !owner_present;
        if (watch_input)
            fds[n++] = {fd_, POLLIN, 0};
        else if (owner_present)
            fds[n++] = {owner->AwayFd(), POLLIN, 0};
        // A wake-up written before a change seen above only costs one more
        // turn; it is drained when poll reports it.
        ++pollers_;
        lock.unlock();
        int r = os::WaitTty(fds, n, wait_ms);
        if (r == 1 && owner_present && room && wait_ms < 0 && fds[n - 1].revents != 0) {
            // The owner has been away too long: back to the line, without the
            // lock. An owner away from its loop is often one writing a burst,
            // taking the lock at every write; on a loaded machine this thread
            // would be woken at each of them only to find it taken again.
            // Nothing seen above can have changed unannounced: every change
            // that matters signals the wake-up, which is still watched.
            fds[n - 1] = {fd_, POLLIN, 0};
            watch_input = true;
            r = os::WaitTty(fds, n, wait_ms);
        }
        int poll_error = r < 0 ? errno : 0;
        lock.lock();
        if (--pollers_ == 0 && closing_)
            pollers_done_.notify_all();
        if (closing_)
            return EBADF;
        if (r < 0 && poll_error != EINTR)
            return poll_error;
        if (r > 0 && (fds[0].revents & POLLIN))
            os::DrainWake(waiter_wake_);
        if (watch_input && r > 0 && fds[n - 1].revents != 0)
            IngestLocked(&wait);
    }
}

void PosixComDevice::InputUnwatchedLocked()
{
    // The waiter is away, dispatching, maybe blocked until a busy owner
    // takes its events: the worker takes received bytes in meanwhile.
    if (mask_ != 0 && !closing_ && StartWorkerLocked() == 0)
        os::SignalWake(worker_wake_);
}

void PosixComDevice::SetOwnerPresence(std::shared_ptr<const OwnerPresence> presence)
{
    std::lock_guard lock(mutex_);
    const bool had_one = owner_presence_ != nullptr;
    owner_presence_ = std::move(presence);
    // A wait in progress that watches the line keeps watching it until its
    // next turn, which loses nothing; not waking it keeps an open from
    // waking the event thread a second time, perhaps late, in the middle of
    // the owner's first writes. One that may watch an alarm of the presence
    // gone has to look again.
    if (had_one)
        os::SignalWake(waiter_wake_);
}

void PosixComDevice::SetInputNotice(std::function<void()> notice)
{
    std::lock_guard lock(mutex_);
    input_notice_ = std::move(notice);
    look_woken_ = false;
}

void PosixComDevice::SetInputByNotify(bool on)
{
    std::lock_guard lock(mutex_);
    if (closing_ || input_by_notify_ == on)
        return;
    input_by_notify_ = on;
    // Input events already waiting change hands. Taken back, the input is
    // the blocking waiter's again, also when it watches the owner's alarm
    // now: an owner that stays in its loop would never ring it.
    if (on && (events_ & kInputEvents))
        WakeLookLocked();
    else if (!on)
        os::SignalWake(waiter_wake_);
}

// ---- transfers --------------------------------------------------------------------

void PosixComDevice::FeedReadsLocked()
{
    while (!reads_.empty()) {
        PendingRead& op = reads_.front();
        size_t take = std::min<size_t>(rx_len_, static_cast<size_t>(op.count - op.got));
        if (take > 0) {
            PopLocked(op.buffer + op.got, take);
            op.got += static_cast<int32_t>(take);
            op.last_byte = Clock::now();
        }
        if (op.got == op.count || (op.return_on_first && op.got > 0)) {
            op.overlapped->Complete(op.got, 0);
            reads_.pop_front();
            continue;
        }
        break;
    }
}

int PosixComDevice::ReadFile(void* buffer, int32_t count, ComOverlapped& overlapped)
{
    if (count < 0 || (buffer == nullptr && count > 0))
        return EINVAL;
    std::unique_lock lock(mutex_);
    if (closing_)
        return EBADF;
    const bool was_full = rx_len_ == rx_.size();
    PendingRead op{&overlapped, static_cast<uint8_t*>(buffer), count};
    const COMMTIMEOUTS& t = timeouts_;
    const bool at_once = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
    op.return_on_first = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
    if (reads_.empty()) {
        // Oldest bytes first: our queue, then what the system holds.
        size_t take = std::min<size_t>(rx_len_, static_cast<size_t>(count));
        PopLocked(op.buffer, take);
        op.got = static_cast<int32_t>(take);
        if (op.got < count && !gone_) {
            TtyPass pass = ReadTtyLocked(op.buffer + op.got, static_cast<size_t>(count - op.got), false);
            op.got += static_cast<int32_t>(pass.moved);
            // With bytes to report, a hang-up shows on the next call. Else an
            // end of file is a read of nothing, and a failure fails the read.
            if (pass.Over() && op.got == 0) {
                MarkGoneLocked(pass.GoneError());
                if (pass.error != 0)
                    return pass.error;
            }
        }
        if (was_full)
            RoomAgainLocked(); // input may flow into our queue again
        if (op.got == count || at_once || gone_ || (op.return_on_first && op.got > 0)) {
            overlapped.Complete(op.got, 0);
            return 0;
        }
    } else if (gone_) {
        return EIO;
    }
    uint64_t total = uint64_t{t.ReadTotalTimeoutMultiplier == MAXDWORD ? 0 : t.ReadTotalTimeoutMultiplier} *
                         static_cast<uint64_t>(count) +
                     t.ReadTotalTimeoutConstant;
    if (op.return_on_first)
        total = t.ReadTotalTimeoutConstant;
    if (total != 0 && !(t.ReadTotalTimeoutConstant == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0))
        op.total_deadline = After(total);
    if (t.ReadIntervalTimeout != MAXDWORD)
        op.interval_ms = t.ReadIntervalTimeout;
    op.last_byte = Clock::now();
    if (int e = StartWorkerLocked()) {
        // What was taken already is the result, as after a time-out.
        overlapped.Complete(op.got, op.got > 0 ? 0 : e);
        return op.got > 0 ? 0 : e;
    }
    overlapped.Begin(this);
    // The partial bytes already moved count towards the result.
    reads_.push_back(op);
    os::SignalWake(worker_wake_);
    return kIoPending;
}

void PosixComDevice::WritesChangedLocked()
{
    output_changed_.notify_all();
    // The last pending write gone: the waiter may now find the output empty.
    if (writes_.empty() && tx_check_ && (mask_ & EV_TXEMPTY))
        os::SignalWake(waiter_wake_);
}

void PosixComDevice::ProgressWritesLocked()
{
    while (!writes_.empty() && !gone_) {
        PendingWrite& op = writes_.front();
        TtyPass pass = WriteTtyLocked(op.buffer + op.done, static_cast<size_t>(op.count - op.done), true);
        op.done += static_cast<int32_t>(pass.moved);
        if (pass.error != 0) {
            MarkGoneLocked(pass.error);
            return;
        }
        if (op.done < op.count)
            return;
        op.overlapped->Complete(op.done, 0);
        writes_.pop_front();
        WritesChangedLocked();
    }
}

int PosixComDevice::WriteFile(const void* buffer, int32_t count, ComOverlapped& overlapped)
{
    if (count < 0 || (buffer == nullptr && count > 0))
        return EINVAL;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    if (gone_)
        return EIO;
    PendingWrite op{&overlapped, static_cast<const uint8_t*>(buffer), count};
    if (writes_.empty()) {
        TtyPass pass = WriteTtyLocked(op.buffer, static_cast<size_t>(count), false);
        op.done = static_cast<int32_t>(pass.moved);
        if (pass.error != 0) {
            if (pass.error == EIO || pass.error == ENXIO || pass.error == ENODEV)
                MarkGoneLocked(pass.error);
            return pass.error;
        }
    }
    if (count > 0) {
        output_maybe_queued_ = true;
        NoteWrittenLocked();
    }
    if (op.done == count) {
        overlapped.Complete(count, 0);
        return 0;
    }
    const COMMTIMEOUTS& t = timeouts_;
    uint64_t total = uint64_t{t.WriteTotalTimeoutMultiplier} * static_cast<uint64_t>(count) +
                     t.WriteTotalTimeoutConstant;
    if (total != 0)
        op.deadline = After(total);
    if (int e = StartWorkerLocked()) {
        overlapped.Complete(op.done, op.done > 0 ? 0 : e);
        return op.done > 0 ? 0 : e;
    }
    overlapped.Begin(this);
    writes_.push_back(op);
    os::SignalWake(worker_wake_);
    return kIoPending;
}

void PosixComDevice::ExpireLocked(Clock::time_point now)
{
    while (!reads_.empty()) {
        PendingRead& op = reads_.front();
        bool expired = now >= op.total_deadline ||
                       (op.interval_ms != 0 && op.got > 0 &&
                        now >= op.last_byte + std::chrono::milliseconds(op.interval_ms));
        if (!expired)
            break;
        op.overlapped->Complete(op.got, 0);
        reads_.pop_front();
        FeedReadsLocked();
    }
    while (!writes_.empty() && now >= writes_.front().deadline) {
        // The time-out cut the write short: what went out is the result.
        writes_.front().overlapped->Complete(writes_.front().done, 0);
        writes_.pop_front();
        WritesChangedLocked();
        ProgressWritesLocked();
    }
}

Clock::time_point PosixComDevice::NextDeadlineLocked() const
{
    Clock::time_point next = kNever;
    if (!reads_.empty()) {
        const PendingRead& op = reads_.front();
        next = std::min(next, op.total_deadline);
        if (op.interval_ms != 0 && op.got > 0)
            next = std::min(next, op.last_byte + std::chrono::milliseconds(op.interval_ms));
    }
    if (!writes_.empty())
        next = std::min(next, writes_.front().deadline);
    return next;
}

void PosixComDevice::CompleteAllLocked(bool reads, bool writes, int error)
{
    if (reads) {
        for (PendingRead& op : reads_)
            op.overlapped->Complete(op.got, op.got > 0 ? 0 : error);
        reads_.clear();
    }
    if (writes && !writes_.empty()) {
        for (PendingWrite& op : writes_)
            op.overlapped->Complete(op.done, op.done > 0 ? 0 : error);
        writes_.clear();
        WritesChangedLocked();
    }
}

void PosixComDevice::Cancel(ComOverlapped& overlapped)
{
    std::lock_guard lock(mutex_);
    auto match_read = [&](const PendingRead& op) { return op.overlapped == &overlapped; };
    auto match_write = [&](const PendingWrite& op) { return op.overlapped == &overlapped; };
    for (auto& op : reads_)
        if (match_read(op))
            op.overlapped->Complete(op.got, ECANCELED);
    for (auto& op : writes_)
        if (match_write(op))
            op.overlapped->Complete(op.done, ECANCELED);
    std::erase_if(reads_, match_read);
    if (std::erase_if(writes_, match_write) > 0)
        WritesChangedLocked();
}

int PosixComDevice::StartWorkerLocked()
{
    if (worker_.joinable())
        return 0;
    if (worker_wake_.poll_fd < 0) {
        if (int e = os::MakeWake(worker_wake_))
            return e;
    }
    try {
        worker_ = std::thread([this] {
            os::NameThisThread("cport-io");
            WorkerLoop();
        });
    } catch (const std::system_error& e) {
        return e.code().value() != 0 ? e.code().value() : EAGAIN;
    }
    return 0;
}

void PosixComDevice::WorkerLoop()
{
    std::unique_lock lock(mutex_);
    while (!closing_) {
        ExpireLocked(Clock::now());
        pollfd fds[2];
        nfds_t n = 0;
        fds[n++] = {worker_wake_.poll_fd, POLLIN, 0};
        short want = 0;
        // Input is watched for waiting reads, and for the events of a waiter
        // that is away.
        auto input_wanted = [this] {
            return !gone_ && (!reads_.empty() || (blocking_waiters_ == 0 && mask_ != 0 && rx_len_ < rx_.size()));
        };
        if (input_wanted())
            want |= POLLIN;
        if (!gone_ && !writes_.empty())
            want |= POLLOUT;
        if (want != 0)
            fds[n++] = {fd_, want, 0};
        int wait_ms = MillisUntil(NextDeadlineLocked());
        lock.unlock();
        int r = os::WaitTty(fds, n, wait_ms);
        lock.lock();
        if (r > 0 && (fds[0].revents & POLLIN))
            os::DrainWake(worker_wake_);
        if (closing_)
            break;
        if (r > 0 && n == 2 && fds[1].revents != 0) {
            // Only while still wanted: bytes taken in with no events asked
            // for would come with no event.
            if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && input_wanted())
                IngestLocked();
            if (fds[1].revents & (POLLOUT | POLLHUP | POLLERR))
                ProgressWritesLocked();
        }
    }
}

// ---- queues, errors and lines -------------------------------------------------------

int PosixComDevice::PurgeComm(uint32_t flags)
{
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return EINVAL;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    CompleteAllLocked((flags & PURGE_RXABORT) != 0, (flags & PURGE_TXABORT) != 0, 0);
    if (flags & PURGE_RXCLEAR) {
        rx_head_ = rx_len_ = 0;
        rx_was_80_full_ = false;
        if (!gone_)
            ::tcflush(fd_, TCIFLUSH);
        RoomAgainLocked();
    }
    if ((flags & PURGE_TXCLEAR) && !gone_)
        ::tcflush(fd_, TCOFLUSH);
    return 0;
}

std::chrono::microseconds PosixComDevice::CharTimeLocked() const
{
    const uint32_t bits = 1 + std::clamp<uint32_t>(dcb_.ByteSize, 5, 8) + (dcb_.Parity != 0 ? 1 : 0) +
                          (dcb_.StopBits != 0 ? 2 : 1);
    return std::chrono::microseconds(uint64_t{bits} * 1000000 / std::max<uint32_t>(dcb_.BaudRate, 1));
}

uint64_t PosixComDevice::OutputLeftLocked()
{
    uint64_t left = 0;
    for (const PendingWrite& op : writes_)
        left += static_cast<uint64_t>(op.count - op.done);
    int system_out = 0;
    if (!gone_ && os::OutputQueued(fd_, system_out) == 0)
        left += static_cast<uint64_t>(std::max(system_out, 0));
    return left;
}

// The system tells when there is room for output, not when it has all gone:
// the wait looks again after about half the time the bytes left take, which
// wakes it a handful of times however long the queue.
int PosixComDevice::DrainOutput(int margin_ms)
{
    using std::chrono::microseconds;
    std::unique_lock lock(mutex_);
    if (closing_)
        return EBADF;
    const microseconds char_time = CharTimeLocked();
    const Clock::time_point start = Clock::now();
    Clock::time_point deadline = kNever;
    for (;;) {
        if (closing_)
            return EBADF;
        if (gone_)
            return EIO;
        const uint64_t left = OutputLeftLocked();
        if (left == 0)
            break;
        if (deadline == kNever)
            deadline = start + char_time * static_cast<int64_t>(std::min<uint64_t>(left, uint64_t{1} << 32)) +
                       std::chrono::milliseconds(std::max(margin_ms, 0));
        // Held off by the far end: nothing will move until it lets go, which
        // may be never. A device without modem lines holds nothing.
        uint32_t lines = 0;
        if ((dcb_.Flags & DCB_OUTX_CTS_FLOW) && os::GetModemLines(fd_, lines) == 0 && !(lines & MS_CTS_ON))
            return EAGAIN;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return ETIMEDOUT;
        const microseconds turn = std::clamp<microseconds>(char_time * static_cast<int64_t>(left / 2 + 1),
                                                          microseconds(1000), microseconds(100000));
        output_changed_.wait_until(lock, std::min<Clock::time_point>(now + turn, deadline));
    }
    // What the system still holds in the transmitter itself is at most a
    // FIFO's worth, and the system's own wait for it is bounded; it is made
    // outside the lock, counted like a poll so that Close waits it out.
    ++pollers_;
    lock.unlock();
    const int e = os::DrainOutputQueue(fd_);
    lock.lock();
    if (--pollers_ == 0)
        pollers_done_.notify_all();
    return e == ENOTTY || e == EINVAL ? 0 : e;
}

int PosixComDevice::ClearCommError(uint32_t& errors, COMSTAT& stat)
{
    errors = 0;
    stat = COMSTAT{};
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    CheckCountersLocked();
    // The errors up to now are reported and reset. A hang-up that this very
    // call runs into is left for the error event it raises, so that a mere
    // look at the queue cannot swallow it.
    errors = errors_;
    errors_ = 0;
    int system_in = 0, system_out = 0;
    if (!gone_) {
        // While events are waited for, received bytes are taken into our
        // queue as they come, and the system's are only on their way there.
        int e = mask_ != 0 ? 0 : os::InputQueued(fd_, system_in);
        if (e == 0)
            e = output_maybe_queued_ ? os::OutputQueued(fd_, system_out) : 0;
        if (e == 0 && system_out == 0)
            output_maybe_queued_ = false;
        if (e == EIO || e == ENXIO || e == ENODEV) {
            MarkGoneLocked(e);
        } else if (e != 0) {
            errors_ |= errors; // a failed call reports nothing and resets nothing
            errors = 0;
            return e;
        }
    }
    if (gone_)
        system_in = system_out = 0;
    stat.cbInQue = static_cast<uint32_t>(rx_len_) + static_cast<uint32_t>(std::max(system_in, 0));
    stat.cbOutQue = static_cast<uint32_t>(std::max(system_out, 0));
    for (const PendingWrite& op : writes_)
        stat.cbOutQue += static_cast<uint32_t>(op.count - op.done);
    if (!gone_ && (dcb_.Flags & DCB_OUTX_CTS_FLOW) && stat.cbOutQue > 0) {
        uint32_t lines = 0;
        if (os::GetModemLines(fd_, lines) == 0 && !(lines & MS_CTS_ON))
            stat.Flags |= 0x1; // waiting for CTS
    }
    return 0;
}

int PosixComDevice::GetCommModemStatus(uint32_t& status)
{
    status = 0;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    if (gone_)
        return EIO;
    int e = os::GetModemLines(fd_, status);
    if (e != 0)
        status = 0;
    return e == ENOTTY ? 0 : e;
}

int PosixComDevice::EscapeCommFunction(uint32_t function)
{
    switch (function) {
    case SETXOFF:
    case SETXON:
    case SETRTS:
    case CLRRTS:
    case SETDTR:
    case CLRDTR:
    case SETBREAK:
    case CLRBREAK: break;
    default: return EINVAL;
    }
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    int e = 0;
    switch (function) {
    case SETXOFF:
    case SETXON: return ::tcflow(fd_, function == SETXON ? TCOON : TCOOFF) == 0 ? 0 : errno;
    case SETRTS:
    case CLRRTS: e = os::SetModemLine(fd_, os::ModemLine::kRts, function == SETRTS); break;
    case SETDTR:
    case CLRDTR: e = os::SetModemLine(fd_, os::ModemLine::kDtr, function == SETDTR); break;
    default: e = os::SetBreak(fd_, function == SETBREAK); break;
    }
    return e == ENOTTY ? 0 : e;
}

int PosixComDevice::TransmitCommChar(char c)
{
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    if (gone_)
        return EIO;
    // Ahead of every write still waiting here; the system's own queue cannot
    // be jumped.
    const uint8_t byte = static_cast<uint8_t>(c);
    TtyPass pass = WriteTtyLocked(&byte, 1, false);
    if (pass.moved == 1) {
        NoteWrittenLocked();
        return 0;
    }
    return pass.error != 0 ? pass.error : EAGAIN;
}

// ---- line watcher ----------------------------------------------------------------------

int PosixComDevice::StartLineWatcher()
{
    if (!has_counters_)
        return 0;
    const int fd = fd_;
    watcher_ = std::make_unique<WaitLoopThread>(
        // Nothing between us and the wait may hold anything when the
        // watcher is stopped there.
        [fd] { return os::WaitLineChange(fd); },
        [this](int result) {
            std::lock_guard lock(mutex_);
            CheckCountersLocked();
            // No line waits on this driver (or the device is gone): this
            // watcher has nothing more to do; the counters are still read
            // with the input.
            return (result == 0 || result == EINTR) && !closing_;
        });
    return watcher_->Start("cport-lines");
}

} // namespace

// ---- opening ----------------------------------------------------------------------------

std::unique_ptr<ComDevice> OpenPosixComDevice(const std::string& path, int& error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return nullptr;
    }
    if (!S_ISCHR(info.st_mode)) {
        error = ENOTTY;
        return nullptr;
    }
    error = os::CheckSerialDevice(info.st_rdev);
    if (error == ENOENT)
        error = 0; // no list to ask: the terminal check after opening decides
    if (error != 0)
        return nullptr;
    WakeFds wake;
    if ((error = wake.Make()) != 0) {
        wake.CloseAll();
        return nullptr;
    }
    // Non-blocking, so that a port waiting for carrier cannot hold us, and
    // never as our controlling terminal.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        wake.CloseAll();
        return nullptr;
    }
    auto fail = [&](int e) -> std::unique_ptr<ComDevice> {
        error = e;
        ::close(fd);
        wake.CloseAll();
        return nullptr;
    };
    struct stat opened {};
    termios tio{};
    // The same device the checks were made on, and a terminal.
    if (::fstat(fd, &opened) != 0 || opened.st_rdev != info.st_rdev || ::tcgetattr(fd, &tio) != 0)
        return fail(ENOTTY);
    // Exclusive use: the system's claim keeps other users out, but perhaps
    // not all of them, so an advisory lock is taken as well, which every
    // instance of this layer honours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    os::ClaimExclusive(fd);
    // Raw from the start; the line settings follow at once.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    os::PrepareOpenedDevice(fd);
    os::LineCounters counters{};
    bool has_counters = os::ReadLineCounters(fd, counters) == 0;
    auto device = std::make_unique<PosixComDevice>(fd, wake, has_counters);
    // From here the device owns the descriptors and gives them up itself.
    error = device->StartLineWatcher();
    if (error != 0)
        return nullptr;
    return device;
}

} // namespace tarnby::comm
