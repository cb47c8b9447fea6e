// The serial device layer on Linux, on a tty file descriptor.
//
// Input: the driver's queue is the kernel's tty buffer plus a queue of our
// own (sized by SetupComm). Whoever waits for device events moves arriving
// bytes into our queue, and while that waiter is away (dispatching, perhaps
// blocked until a busy owner takes its events) the worker does: the kernel's
// buffer is small and a hang-up discards it. That is also what lets a
// received-character event mean "new bytes came" (a level-triggered poll
// would report the same unread bytes for ever), and lets the event
// character, NUL discarding and the 80 percent mark work. Reads take from
// our queue first, then the kernel's.
//
// Events Linux can deliver: EV_RXCHAR, EV_RXFLAG, EV_RX80FULL and EV_TXEMPTY
// on every tty; EV_ERR on every tty for a hang-up or a removed device (as
// CE_IOE); on drivers with the interrupt counters (TIOCGICOUNT: real UARTs
// and most USB adapters) also EV_BREAK and EV_ERR for frame, parity and
// overrun errors, and, where TIOCMIWAIT works, EV_CTS, EV_DSR, EV_RLSD and
// EV_RING, waited for by a line watcher thread without polling.
//
// A pseudo-terminal has no modem lines and no break: they read as off and
// their controls do nothing.
//
// Transfers that cannot complete at once (a read that must wait for bytes,
// a write the kernel cannot take yet) are finished by a worker thread that
// is started the first time one is needed and sleeps in poll otherwise.
//
// Lifetime: every use of the tty descriptor happens under the device's lock
// or in a wait that Close wakes and waits out (the worker and the line
// watcher end first), so Close can release the tty at once, with the object
// living on, failing every call, for whoever still holds it.
//
// Settings Linux lacks: DSR output flow, DSR sensitivity and DTR handshake
// are not available (DTR handshake holds DTR high); RTS handshake and CTS
// output flow are one kernel switch (CRTSCTS), so either turns on both; RTS
// toggle uses the driver's RS-485 mode where it has one, else RTS stays low;
// 1.5 stop bits is the two-stop-bit setting, which UARTs send as 1.5 with
// five data bits; the XON/XOFF limits are the kernel's own.
#include "platform/comm_internal.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <system_error>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <condition_variable>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace tarnby::comm {
namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();
// Our queue holds at least this much whatever size is asked for, so that one
// wake-up can take a good batch; the 80 percent mark follows the size asked.
constexpr size_t kMinInputQueue = 64 * 1024;
constexpr size_t kMaxInputQueue = 1 << 24;

// Errors of a modem-line or break ioctl that only mean "this device has no
// such thing" (a pseudo-terminal); anything else is a real failure.
// The kernel's "no such ioctl" (ENOIOCTLCMD), which can leak out of some drivers.
constexpr int kNoIoctlCommand = 515;
bool NotSupported(int error) { return error == ENOTTY || error == EINVAL || error == kNoIoctlCommand; }

int Ioctl(int fd, unsigned long request, void* arg)
{
    for (;;) {
        if (::ioctl(fd, request, arg) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

void WakeFd(int fd)
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(fd, &one, sizeof one);
}

void DrainFd(int fd)
{
    uint64_t value;
    [[maybe_unused]] ssize_t r = ::read(fd, &value, sizeof value);
}

void CloseFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

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

// Whether the calling thread is inside WaitCommEvent, and whether that is a
// look (a wait with time-out 0, which takes every kind of event).
thread_local bool t_in_wait = false;
thread_local bool t_looking = false;

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

// The device's lock. It is held for a system call at most, and received
// input is taken by two threads at once (the owner's look and the event
// thread): one that finds it taken spins a little before it sleeps.
class DeviceMutex {
public:
    DeviceMutex()
    {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ADAPTIVE_NP);
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
struct WakeFds {
    int waiter = -1; // ends a WaitCommEvent's poll
    int worker = -1; // ends the worker's poll
    int look = -1;   // tells the input watcher that input events wait for its look
    int input_notify = -1;

    int Make()
    {
        waiter = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (waiter < 0)
            return errno;
        worker = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (worker < 0)
            return errno;
        look = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (look < 0)
            return errno;
        input_notify = ::epoll_create1(EPOLL_CLOEXEC);
        if (input_notify < 0)
            return errno;
        epoll_event watch{};
        watch.events = EPOLLIN; // readable until a look drains it
        watch.data.fd = look;
        if (::epoll_ctl(input_notify, EPOLL_CTL_ADD, look, &watch) != 0)
            return errno;
        return 0;
    }
    void CloseAll()
    {
        CloseFd(waiter);
        CloseFd(worker);
        CloseFd(look);
        CloseFd(input_notify);
        *this = WakeFds{};
    }
};

class LinuxComDevice : public ComDevice {
public:
    // Takes the tty descriptor and the wake-up descriptors.
    LinuxComDevice(int fd, const WakeFds& wake, bool has_counters);
    ~LinuxComDevice() override;

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
    int ClearCommError(uint32_t& errors, COMSTAT& stat) override;
    int GetCommModemStatus(uint32_t& status) override;
    int EscapeCommFunction(uint32_t function) override;
    int TransmitCommChar(char c) override;
    void Cancel(ComOverlapped& overlapped) override;
    int InputNotifyFd() const override { return input_notify_; }
    void SetInputByNotify(bool on) override;

private:
    // All *Locked members run with mutex_ held.
    void IngestLocked();
    void FeedReadsLocked();
    void ProgressWritesLocked();
    void WritesChangedLocked();
    void ExpireLocked(Clock::time_point now);
    void CheckCountersLocked();
    void RecordLocked(uint32_t events);
    void WakeLookLocked();
    void MarkGoneLocked(int error);
    void CompleteAllLocked(bool reads, bool writes, int error);
    void CheckTxEmptyLocked();
    int TxCheckIntervalLocked();
    Clock::time_point NextDeadlineLocked() const;
    int StartWorkerLocked();
    void InputUnwatchedLocked();
    void WorkerLoop();
    int SetCommStateLocked(const DCB& dcb);
    // Takes n bytes from the head of our queue (a ring).
    void PopLocked(uint8_t* out, size_t n);
    // Bytes read straight into a caller's buffer get what queued bytes get:
    // NULs dropped if asked, the event character noted. Returns bytes kept.
    int32_t FilterDirect(uint8_t* data, size_t n);

    const int fd_;
    const int waiter_wake_;
    const int worker_wake_;
    const int look_wake_;
    // An epoll set holding the tty, edge-triggered (readable once per
    // arrival of input or hang-up however many bytes stay unread), and the
    // look wake-up (readable while input events wait for a look).
    const int input_notify_;
    DeviceMutex mutex_;

    // Our input queue: a ring.
    std::vector<uint8_t> rx_;
    size_t rx_head_ = 0;
    size_t rx_len_ = 0;
    bool rx_was_80_full_ = false;
    size_t rx_nominal_ = 1024; // the queue size asked for

    uint32_t mask_ = 0;
    bool input_by_notify_ = false;
    bool look_woken_ = false; // look_wake_ written and not yet drained
    uint32_t mask_generation_ = 0;
    uint32_t events_ = 0;
    uint32_t errors_ = 0;
    bool gone_ = false;
    // Set by every write: EV_TXEMPTY is due once all of it has left.
    bool tx_check_ = false;
    // False once the kernel's output queue was seen empty with nothing
    // written since: then it need not be asked again.
    bool output_maybe_queued_ = false;
    bool closing_ = false; // no new work; every call fails
    int pollers_ = 0;      // threads in a WaitCommEvent poll, unlocked
    int blocking_waiters_ = 0;
    std::condition_variable_any pollers_done_;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};

    std::deque<PendingRead> reads_;
    std::deque<PendingWrite> writes_;
    std::thread worker_;

    const bool has_counters_;
    serial_icounter_struct counters_{};
    std::unique_ptr<WaitLoopThread> watcher_;
};

LinuxComDevice::LinuxComDevice(int fd, const WakeFds& wake, bool has_counters)
    : fd_(fd), waiter_wake_(wake.waiter), worker_wake_(wake.worker), look_wake_(wake.look),
      input_notify_(wake.input_notify), rx_(kMinInputQueue), has_counters_(has_counters)
{
    if (has_counters_)
        Ioctl(fd_, TIOCGICOUNT, &counters_);
}

LinuxComDevice::~LinuxComDevice()
{
    Close();
    CloseFd(waiter_wake_);
    CloseFd(worker_wake_);
    CloseFd(look_wake_);
    CloseFd(input_notify_);
}

void LinuxComDevice::Close()
{
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return;
        closing_ = true;
        CompleteAllLocked(true, true, ECANCELED);
    }
    WakeFd(waiter_wake_);
    WakeFd(worker_wake_);
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
    ::ioctl(fd_, TIOCNXCL);
    // Closing the descriptor also drops the advisory lock.
    ::close(fd_);
}

// ---- settings ------------------------------------------------------------------

int LinuxComDevice::SetupComm(int32_t input_size, int32_t output_size)
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
    WakeFd(waiter_wake_); // room may have appeared for input
    return 0;
}

int LinuxComDevice::SetCommState(const DCB& dcb)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2)
        return EINVAL;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    return SetCommStateLocked(dcb);
}

int LinuxComDevice::SetCommStateLocked(const DCB& dcb)
{
    termios2 tio{};
    if (int e = Ioctl(fd_, TCGETS2, &tio))
        return e;

    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    if (dcb.Flags & DCB_PARITY)
        tio.c_iflag |= INPCK;
    if (dcb.Flags & DCB_OUTX)
        tio.c_iflag |= IXON;
    if (dcb.Flags & DCB_INX)
        tio.c_iflag |= IXOFF;
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);

    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CBAUD | CIBAUD);
    tio.c_cflag |= CLOCAL | CREAD | HUPCL | BOTHER | (BOTHER << IBSHIFT);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[dcb.ByteSize - 5];
    switch (dcb.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.StopBits != 0)
        tio.c_cflag |= CSTOPB;
    if ((dcb.Flags & DCB_OUTX_CTS_FLOW) || dcb.RtsControl() == RTS_CONTROL_HANDSHAKE)
        tio.c_cflag |= CRTSCTS;
    tio.c_ispeed = tio.c_ospeed = dcb.BaudRate;
    // One byte minimum: a non-blocking read with nothing there then says
    // EAGAIN, and 0 is left to mean hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    if (int e = Ioctl(fd_, TCSETS2, &tio))
        return e;

    // A driver that cannot make the speed rounds it; more than 3 percent off
    // is not the speed that was asked for.
    termios2 check{};
    if (Ioctl(fd_, TCGETS2, &check) == 0 && check.c_ospeed != 0) {
        uint64_t want = dcb.BaudRate, got = check.c_ospeed;
        uint64_t diff = want > got ? want - got : got - want;
        if (diff * 100 > want * 3)
            return EINVAL;
    }

    // Output lines: DTR and RTS held low or high, unless the kernel drives RTS.
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    int e = Ioctl(fd_, dcb.DtrControl() == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
    if (e != 0 && !NotSupported(e))
        return e;
    serial_rs485 rs485{};
    bool toggle = dcb.RtsControl() == RTS_CONTROL_TOGGLE;
    if (toggle || Ioctl(fd_, TIOCGRS485, &rs485) == 0) {
        // Only touch RS-485 mode where the driver has it.
        if (toggle)
            rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        else
            rs485.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
        if (Ioctl(fd_, TIOCSRS485, &rs485) != 0)
            toggle = false;
    }
    if (dcb.RtsControl() != RTS_CONTROL_HANDSHAKE && !toggle) {
        e = Ioctl(fd_, dcb.RtsControl() == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, &rts);
        if (e != 0 && !NotSupported(e))
            return e;
    }
    dcb_ = dcb;
    return 0;
}

int LinuxComDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    timeouts_ = timeouts;
    return 0;
}

int LinuxComDevice::SetCommMask(uint32_t mask)
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
            WakeFd(worker_wake_);
    }
    WakeFd(waiter_wake_);
    return 0;
}

// ---- events ----------------------------------------------------------------------

void LinuxComDevice::RecordLocked(uint32_t events)
{
    uint32_t fresh = events & mask_ & ~events_;
    events_ |= events & mask_;
    if (fresh == 0)
        return;
    // Input events may be left to the input watcher's look; the rest are
    // for a blocking waiter. A thread inside WaitCommEvent looks at the
    // events it may take before it sleeps again or returns: only others
    // have to be woken.
    const uint32_t for_look = input_by_notify_ ? fresh & kInputEvents : 0;
    if (for_look != 0 && !t_looking)
        WakeLookLocked();
    if ((fresh & ~for_look) != 0 && !t_in_wait)
        WakeFd(waiter_wake_);
}

void LinuxComDevice::WakeLookLocked()
{
    if (look_woken_)
        return;
    look_woken_ = true;
    WakeFd(look_wake_);
}

void LinuxComDevice::MarkGoneLocked(int error)
{
    if (gone_)
        return;
    gone_ = true;
    errors_ |= CE_IOE;
    RecordLocked(EV_ERR);
    CompleteAllLocked(true, true, error != 0 ? error : EIO);
}

void LinuxComDevice::CheckCountersLocked()
{
    if (!has_counters_ || gone_ || closing_)
        return;
    serial_icounter_struct now{};
    if (Ioctl(fd_, TIOCGICOUNT, &now) != 0)
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
    RecordLocked(events);
}

void LinuxComDevice::PopLocked(uint8_t* out, size_t n)
{
    size_t first = std::min(n, rx_.size() - rx_head_);
    std::memcpy(out, rx_.data() + rx_head_, first);
    std::memcpy(out + first, rx_.data(), n - first);
    rx_head_ = (rx_head_ + n) % rx_.size();
    rx_len_ -= n;
}

int32_t LinuxComDevice::FilterDirect(uint8_t* data, size_t n)
{
    if ((mask_ & EV_RXFLAG) && std::memchr(data, static_cast<uint8_t>(dcb_.EvtChar), n) != nullptr)
        RecordLocked(EV_RXFLAG);
    if (!(dcb_.Flags & DCB_NULL))
        return static_cast<int32_t>(n);
    uint8_t* end = std::remove(data, data + n, uint8_t{0});
    return static_cast<int32_t>(end - data);
}

void LinuxComDevice::IngestLocked()
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
        ssize_t n = ::read(fd_, rx_.data() + tail, stretch);
        if (n > 0) {
            size_t kept = static_cast<size_t>(FilterDirect(rx_.data() + tail, static_cast<size_t>(n)));
            rx_len_ += kept;
            if (kept > 0)
                RecordLocked(EV_RXCHAR);
            // A short read took all there was. Whatever comes after it, more
            // bytes or a hang-up, wakes the tty's readers again: the
            // level-triggered waits see it, and it is a new edge for the
            // input watcher.
            if (static_cast<size_t>(n) < stretch)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        // End of file on a tty in raw mode is a hang-up: the other end of a
        // pseudo-terminal closed, or the device is no more.
        MarkGoneLocked(n == 0 ? EIO : errno);
        break;
    }
    FeedReadsLocked();
    CheckCountersLocked();
    bool full80 = rx_len_ * 5 >= std::min(rx_nominal_, rx_.size()) * 4;
    if (full80 && !rx_was_80_full_)
        RecordLocked(EV_RX80FULL);
    rx_was_80_full_ = full80;
}

void LinuxComDevice::CheckTxEmptyLocked()
{
    // Due once every byte written has left: none waits here any more (the
    // worker wakes the waiter when the last one goes) and the kernel's
    // output queue is empty.
    if (!tx_check_ || !(mask_ & EV_TXEMPTY) || !writes_.empty())
        return;
    int queued = 0;
    if (gone_ || Ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
        tx_check_ = false;
        RecordLocked(EV_TXEMPTY);
    }
}

int LinuxComDevice::TxCheckIntervalLocked()
{
    if (!tx_check_ || !(mask_ & EV_TXEMPTY) || !writes_.empty() || gone_)
        return -1;
    // The kernel does not say when its output queue runs dry; look again
    // after about the time the bytes take on the line.
    int queued = 0;
    Ioctl(fd_, TIOCOUTQ, &queued);
    uint64_t ms = 1 + static_cast<uint64_t>(std::max(queued, 0)) * 10000 / std::max<uint32_t>(dcb_.BaudRate, 1);
    return static_cast<int>(std::min<uint64_t>(ms, 1000));
}

int LinuxComDevice::WaitCommEvent(uint32_t& mask, const ComStopEvent* stop, int timeout_ms)
{
    mask = 0;
    const Clock::time_point deadline = timeout_ms <= 0 ? kNever : After(static_cast<uint64_t>(timeout_ms));
    const bool look = timeout_ms == 0;
    std::unique_lock lock(mutex_);
    if (closing_)
        return EBADF;
    const uint32_t generation = mask_generation_;
    t_in_wait = true;
    t_looking = look;
    if (!look)
        ++blocking_waiters_;
    struct Leave {
        LinuxComDevice& device;
        bool look;
        ~Leave()
        {
            t_in_wait = t_looking = false;
            if (!look && --device.blocking_waiters_ == 0)
                device.InputUnwatchedLocked();
        }
    } leave{*this, look};
    if (look) {
        // The notification is taken: the edge of new input and the wake-up
        // for input events. What the edge announced is read before anything
        // can return, or it would wait for the next edge.
        epoll_event edges[2];
        ::epoll_wait(input_notify_, edges, 2, 0);
        if (look_woken_) {
            DrainFd(look_wake_);
            look_woken_ = false;
        }
        // Bytes the event thread took in already are reported now; any that
        // came after them bring an edge of their own.
        if (!gone_ && rx_len_ < rx_.size() && !(events_ & EV_RXCHAR))
            IngestLocked();
    }
    for (;;) {
        if (closing_)
            return EBADF;
        if (mask_generation_ != generation)
            return 0;
        CheckTxEmptyLocked();
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
        fds[n++] = {waiter_wake_, POLLIN, 0};
        if (stop != nullptr)
            fds[n++] = {stop->Fd(), POLLIN, 0};
        // Received bytes are taken into our queue at once, whoever dispatches
        // their events: the tty's buffer is small, and a hang-up discards it.
        const bool watch_input = !gone_ && rx_len_ < rx_.size();
        if (watch_input)
            fds[n++] = {fd_, POLLIN, 0};
        // A wake-up written before a change seen above only costs one more
        // turn; it is drained when poll reports it.
        ++pollers_;
        lock.unlock();
        int r = ::poll(fds, n, wait_ms);
        int poll_error = r < 0 ? errno : 0;
        lock.lock();
        if (--pollers_ == 0 && closing_)
            pollers_done_.notify_all();
        if (closing_)
            return EBADF;
        if (r < 0 && poll_error != EINTR)
            return poll_error;
        if (r > 0 && (fds[0].revents & POLLIN))
            DrainFd(waiter_wake_);
        if (watch_input && r > 0 && fds[n - 1].revents != 0)
            IngestLocked();
    }
}

void LinuxComDevice::InputUnwatchedLocked()
{
    // The waiter is away, dispatching, maybe blocked until a busy owner
    // takes its events: the worker takes received bytes in meanwhile.
    if (mask_ != 0 && !closing_ && StartWorkerLocked() == 0)
        WakeFd(worker_wake_);
}

void LinuxComDevice::SetInputByNotify(bool on)
{
    std::lock_guard lock(mutex_);
    if (closing_ || input_by_notify_ == on)
        return;
    input_by_notify_ = on;
    // Input events already waiting change hands.
    if (events_ & kInputEvents) {
        if (on)
            WakeLookLocked();
        else
            WakeFd(waiter_wake_);
    }
}

// ---- transfers --------------------------------------------------------------------

void LinuxComDevice::FeedReadsLocked()
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

int LinuxComDevice::ReadFile(void* buffer, int32_t count, ComOverlapped& overlapped)
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
        // Oldest bytes first: our queue, then what the kernel holds.
        size_t take = std::min<size_t>(rx_len_, static_cast<size_t>(count));
        PopLocked(op.buffer, take);
        op.got = static_cast<int32_t>(take);
        while (op.got < count && !gone_) {
            ssize_t n = ::read(fd_, op.buffer + op.got, static_cast<size_t>(count - op.got));
            if (n > 0) {
                op.got += FilterDirect(op.buffer + op.got, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                break;
            if (op.got > 0)
                break; // report the bytes now; the hang-up shows on the next call
            int error = n == 0 ? 0 : errno;
            MarkGoneLocked(error == 0 ? EIO : error);
            if (error != 0)
                return error;
            break;
        }
        if (was_full)
            WakeFd(waiter_wake_); // input may flow into our queue again
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
    WakeFd(worker_wake_);
    return kIoPending;
}

void LinuxComDevice::WritesChangedLocked()
{
    // The last pending write gone: the waiter may now find the output empty.
    if (writes_.empty() && tx_check_ && (mask_ & EV_TXEMPTY))
        WakeFd(waiter_wake_);
}

void LinuxComDevice::ProgressWritesLocked()
{
    while (!writes_.empty() && !gone_) {
        PendingWrite& op = writes_.front();
        ssize_t n = ::write(fd_, op.buffer + op.done, static_cast<size_t>(op.count - op.done));
        if (n >= 0) {
            op.done += static_cast<int32_t>(n);
            output_maybe_queued_ = output_maybe_queued_ || n > 0;
            if (op.done < op.count)
                return;
            op.overlapped->Complete(op.done, 0);
            writes_.pop_front();
            WritesChangedLocked();
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return;
        MarkGoneLocked(errno);
    }
}

int LinuxComDevice::WriteFile(const void* buffer, int32_t count, ComOverlapped& overlapped)
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
        while (op.done < count) {
            ssize_t n = ::write(fd_, op.buffer + op.done, static_cast<size_t>(count - op.done));
            if (n > 0) {
                op.done += static_cast<int32_t>(n);
                continue;
            }
            if (n == 0)
                break; // nothing taken now: the rest waits like a full queue
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                break;
            int error = errno;
            if (error == EIO || error == ENXIO || error == ENODEV)
                MarkGoneLocked(error);
            return error;
        }
    }
    if (count > 0) {
        output_maybe_queued_ = true;
        // The waiter hears of writes only when it has an EV_TXEMPTY to find,
        // and only at the first write since the last one it reported.
        if (!tx_check_ && (mask_ & EV_TXEMPTY))
            WakeFd(waiter_wake_);
        tx_check_ = true;
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
    WakeFd(worker_wake_);
    return kIoPending;
}

void LinuxComDevice::ExpireLocked(Clock::time_point now)
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

Clock::time_point LinuxComDevice::NextDeadlineLocked() const
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

void LinuxComDevice::CompleteAllLocked(bool reads, bool writes, int error)
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

void LinuxComDevice::Cancel(ComOverlapped& overlapped)
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

int LinuxComDevice::StartWorkerLocked()
{
    if (worker_.joinable())
        return 0;
    try {
        worker_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "cport-io");
            WorkerLoop();
        });
    } catch (const std::system_error& e) {
        return e.code().value() != 0 ? e.code().value() : EAGAIN;
    }
    return 0;
}

void LinuxComDevice::WorkerLoop()
{
    std::unique_lock lock(mutex_);
    while (!closing_) {
        ExpireLocked(Clock::now());
        pollfd fds[2];
        nfds_t n = 0;
        fds[n++] = {worker_wake_, POLLIN, 0};
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
        int r = ::poll(fds, n, wait_ms);
        lock.lock();
        if (r > 0 && (fds[0].revents & POLLIN))
            DrainFd(worker_wake_);
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

int LinuxComDevice::PurgeComm(uint32_t flags)
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
            ::ioctl(fd_, TCFLSH, TCIFLUSH);
        WakeFd(waiter_wake_);
    }
    if ((flags & PURGE_TXCLEAR) && !gone_)
        ::ioctl(fd_, TCFLSH, TCOFLUSH);
    return 0;
}

int LinuxComDevice::ClearCommError(uint32_t& errors, COMSTAT& stat)
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
    int kernel_in = 0, kernel_out = 0;
    if (!gone_) {
        // While events are waited for, received bytes are taken into our
        // queue as they come, and the kernel's are only on their way there.
        int e = mask_ != 0 ? 0 : Ioctl(fd_, FIONREAD, &kernel_in);
        if (e == 0)
            e = output_maybe_queued_ ? Ioctl(fd_, TIOCOUTQ, &kernel_out) : 0;
        if (e == 0 && kernel_out == 0)
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
        kernel_in = kernel_out = 0;
    stat.cbInQue = static_cast<uint32_t>(rx_len_) + static_cast<uint32_t>(std::max(kernel_in, 0));
    stat.cbOutQue = static_cast<uint32_t>(std::max(kernel_out, 0));
    for (const PendingWrite& op : writes_)
        stat.cbOutQue += static_cast<uint32_t>(op.count - op.done);
    if (!gone_ && (dcb_.Flags & DCB_OUTX_CTS_FLOW) && stat.cbOutQue > 0) {
        int lines = 0;
        if (Ioctl(fd_, TIOCMGET, &lines) == 0 && !(lines & TIOCM_CTS))
            stat.Flags |= 0x1; // waiting for CTS
    }
    return 0;
}

int LinuxComDevice::GetCommModemStatus(uint32_t& status)
{
    status = 0;
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    if (gone_)
        return EIO;
    int lines = 0;
    int e = Ioctl(fd_, TIOCMGET, &lines);
    if (e != 0)
        return NotSupported(e) ? 0 : e;
    if (lines & TIOCM_CTS)
        status |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        status |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        status |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        status |= MS_RLSD_ON;
    return 0;
}

int LinuxComDevice::EscapeCommFunction(uint32_t function)
{
    int line = 0;
    unsigned long request = 0;
    switch (function) {
    case SETXOFF: request = TCXONC; line = TCOOFF; break;
    case SETXON: request = TCXONC; line = TCOON; break;
    case SETRTS: request = TIOCMBIS; line = TIOCM_RTS; break;
    case CLRRTS: request = TIOCMBIC; line = TIOCM_RTS; break;
    case SETDTR: request = TIOCMBIS; line = TIOCM_DTR; break;
    case CLRDTR: request = TIOCMBIC; line = TIOCM_DTR; break;
    case SETBREAK: request = TIOCSBRK; break;
    case CLRBREAK: request = TIOCCBRK; break;
    default: return EINVAL;
    }
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    if (request == TCXONC)
        return Ioctl(fd_, request, reinterpret_cast<void*>(static_cast<intptr_t>(line)));
    int e = request == TIOCSBRK || request == TIOCCBRK ? Ioctl(fd_, request, nullptr) : Ioctl(fd_, request, &line);
    return NotSupported(e) ? 0 : e;
}

int LinuxComDevice::TransmitCommChar(char c)
{
    std::lock_guard lock(mutex_);
    if (closing_)
        return EBADF;
    if (gone_)
        return EIO;
    // Ahead of every write still waiting here; the kernel's own queue cannot
    // be jumped.
    for (;;) {
        ssize_t n = ::write(fd_, &c, 1);
        if (n == 1) {
            output_maybe_queued_ = true;
            if (!tx_check_ && (mask_ & EV_TXEMPTY))
                WakeFd(waiter_wake_);
            tx_check_ = true;
            return 0;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? errno : EAGAIN;
    }
}

// ---- line watcher ----------------------------------------------------------------------

int LinuxComDevice::StartLineWatcher()
{
    if (!has_counters_)
        return 0;
    const int fd = fd_;
    watcher_ = std::make_unique<WaitLoopThread>(
        // Straight to the kernel: nothing between us and the wait may hold
        // anything when the watcher is stopped there.
        [fd] {
            long r = ::syscall(SYS_ioctl, fd, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS);
            return r == 0 ? 0 : errno;
        },
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

// ---- opening and enumeration ---------------------------------------------------------

namespace {
// Whether a character device is a serial port or the slave side of a
// pseudo-terminal, by the kernel's list of tty drivers: opening any other
// device may do something (a watchdog arms itself when opened). 0 if it is,
// ENOTTY if it is not, ENOENT if the system has no such list, or the errno
// of reading it.
int CheckTtyDriver(dev_t device)
{
    FILE* f = std::fopen("/proc/tty/drivers", "re");
    if (f == nullptr)
        return errno;
    int result = ENOTTY;
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char name[128], path[128], minors[64], type[64];
        unsigned major_number = 0;
        if (std::sscanf(line, "%127s %127s %u %63s %63s", name, path, &major_number, minors, type) != 5)
            continue;
        unsigned low = 0, high = 0;
        int bounds = std::sscanf(minors, "%u-%u", &low, &high);
        if (bounds == 1)
            high = low;
        else if (bounds != 2)
            continue;
        if (major_number != major(device) || minor(device) < low || minor(device) > high)
            continue;
        result = std::strcmp(type, "serial") == 0 || std::strcmp(type, "pty:slave") == 0 ? 0 : ENOTTY;
        break;
    }
    std::fclose(f);
    return result;
}
} // namespace

std::unique_ptr<ComDevice> OpenLinuxComDevice(const std::string& path, int& error)
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
    error = CheckTtyDriver(info.st_rdev);
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
    termios2 tio{};
    // The same device the checks were made on, and a terminal.
    if (::fstat(fd, &opened) != 0 || opened.st_rdev != info.st_rdev || ::ioctl(fd, TCGETS2, &tio) != 0)
        return fail(ENOTTY);
    epoll_event edge{};
    edge.events = EPOLLIN | EPOLLET;
    edge.data.fd = fd;
    if (::epoll_ctl(wake.input_notify, EPOLL_CTL_ADD, fd, &edge) != 0)
        return fail(errno);
    // Exclusive use: TIOCEXCL keeps other users out, but not root, so an
    // advisory lock is taken as well, which every instance of this layer
    // honours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    ::ioctl(fd, TIOCEXCL);
    // Raw from the start; the line settings follow at once.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::ioctl(fd, TCSETS2, &tio);
    // USB adapters hand bytes on at once instead of in timed batches.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    serial_icounter_struct counters{};
    bool has_counters = ::ioctl(fd, TIOCGICOUNT, &counters) == 0;
    auto device = std::make_unique<LinuxComDevice>(fd, wake, has_counters);
    // From here the device owns the descriptors and gives them up itself.
    error = device->StartLineWatcher();
    if (error != 0)
        return nullptr;
    return device;
}

int EnumSerialDevices(std::vector<std::string>& paths)
{
    paths.clear();
    DIR* dir = ::opendir("/sys/class/tty");
    if (dir == nullptr)
        return errno;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // A tty with a hardware device behind it; virtual consoles and
        // pseudo-terminals have none.
        std::string base = "/sys/class/tty/" + name;
        struct stat info {};
        if (::stat((base + "/device").c_str(), &info) != 0)
            continue;
        std::string path = "/dev/" + name;
        // Serial-core drivers (the 8250 above all) pre-create ports whether
        // or not a UART is there; "type" 0 says there is none.
        if (FILE* f = std::fopen((base + "/type").c_str(), "r")) {
            int type = -1;
            bool read = std::fscanf(f, "%d", &type) == 1;
            std::fclose(f);
            if (read && type == PORT_UNKNOWN)
                continue;
        }
        if (::access(path.c_str(), F_OK) == 0)
            paths.push_back(path);
    }
    ::closedir(dir);
    return 0;
}

} // namespace tarnby::comm
