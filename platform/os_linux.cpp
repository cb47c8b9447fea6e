// Linux's hooks (os_hooks.h): termios2 for any speed, mark and space parity
// (CMSPAR), RS-485 for RTS toggle, the interrupt counters (TIOCGICOUNT) and
// the wait for modem-line changes (TIOCMIWAIT), eventfd and epoll wake-ups,
// timerfd alarms, the kernel's lists of tty drivers and of serial ports, and
// thread ids and niceness.
#include "tarnby/cport/platform/comm.h"
#include "platform/os_hooks.h"
#include "platform/tty_posix.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/timerfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

namespace tarnby::os {

// ---- wake-ups ------------------------------------------------------------------

int MakeWake(Wake& wake)
{
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return errno;
    wake.poll_fd = wake.signal_fd = fd;
    return 0;
}

void SignalWake(const Wake& wake)
{
    if (wake.signal_fd < 0)
        return;
    uint64_t one = 1;
    // A full counter is as set as it gets; nothing to do about EAGAIN.
    [[maybe_unused]] ssize_t r = ::write(wake.signal_fd, &one, sizeof one);
}

void DrainWake(const Wake& wake)
{
    if (wake.poll_fd < 0)
        return;
    uint64_t value;
    [[maybe_unused]] ssize_t r = ::read(wake.poll_fd, &value, sizeof value);
}

void CloseWake(Wake& wake)
{
    if (wake.poll_fd >= 0)
        ::close(wake.poll_fd);
    if (wake.signal_fd >= 0 && wake.signal_fd != wake.poll_fd)
        ::close(wake.signal_fd);
    wake = Wake{};
}

// ---- the owner's view of received input -------------------------------------------

int MakeInputHub(int& fd)
{
    fd = ::epoll_create1(EPOLL_CLOEXEC);
    return fd < 0 ? errno : 0;
}

int HubWatch(int hub, int fd, uint64_t key, bool edge)
{
    // Edge-triggered: one report per arrival of input or hang-up however
    // many bytes stay unread.
    epoll_event watch{};
    watch.events = EPOLLIN | (edge ? EPOLLET : 0u);
    watch.data.u64 = key;
    return ::epoll_ctl(hub, EPOLL_CTL_ADD, fd, &watch) == 0 ? 0 : errno;
}

void HubForget(int hub, int fd)
{
    epoll_event none{};
    ::epoll_ctl(hub, EPOLL_CTL_DEL, fd, &none);
}

int HubTake(int hub, uint64_t* keys, int max)
{
    epoll_event ready[64];
    int n = ::epoll_wait(hub, ready, std::min(max, 64), 0);
    for (int i = 0; i < n; ++i)
        keys[i] = ready[i].data.u64;
    return std::max(n, 0);
}

int MakeAlarm(int& fd)
{
    fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    return fd < 0 ? errno : 0;
}

void SetAlarm(int fd, int microseconds)
{
    // Setting it, also to nothing, forgets that it rang.
    itimerspec when{};
    when.it_value.tv_sec = microseconds / 1000000;
    when.it_value.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000;
    ::timerfd_settime(fd, 0, &when, nullptr);
}

// ---- threads -------------------------------------------------------------------------

void NameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

int ThisThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

void SetThreadPriority(int thread_id, int level)
{
    // Niceness for the seven levels, idle to time-critical: lower is more
    // urgent. On Linux it is the thread's own.
    static const int kNice[] = {19, 10, 5, 0, -5, -10, -20};
    if (level < 0 || level > 6)
        return;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNice[level]);
}

// Received input is taken by two threads at once (the owner's look and the
// event thread): one that finds the lock taken spins a little before it
// sleeps.
int DeviceMutexType() { return PTHREAD_MUTEX_ADAPTIVE_NP; }

// ---- finding and opening devices ------------------------------------------------------

// By the kernel's list of tty drivers.
int CheckSerialDevice(dev_t device)
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

void PrepareOpenedDevice(int fd)
{
    // USB adapters hand bytes on at once instead of in timed batches.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
}

// ---- line settings -------------------------------------------------------------------

int ApplyLineSettings(int fd, const LineSettings& line)
{
    termios2 tio{};
    if (int e = Ioctl(fd, TCGETS2, &tio))
        return e;

    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    if (line.check_parity)
        tio.c_iflag |= INPCK;
    if (line.xon_xoff_out)
        tio.c_iflag |= IXON;
    if (line.xon_xoff_in)
        tio.c_iflag |= IXOFF;
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);

    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CBAUD | CIBAUD);
    tio.c_cflag |= CLOCAL | CREAD | HUPCL | BOTHER | (BOTHER << IBSHIFT);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[line.data_bits - 5];
    switch (line.parity) {
    case LineSettings::kOdd: tio.c_cflag |= PARENB | PARODD; break;
    case LineSettings::kEven: tio.c_cflag |= PARENB; break;
    case LineSettings::kMark: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case LineSettings::kSpace: tio.c_cflag |= PARENB | CMSPAR; break;
    case LineSettings::kNone: break;
    }
    if (line.two_stop_bits)
        tio.c_cflag |= CSTOPB;
    if (line.rts_cts)
        tio.c_cflag |= CRTSCTS;
    tio.c_ispeed = tio.c_ospeed = line.speed;
    // One byte minimum: a non-blocking read with nothing there then says
    // EAGAIN, and 0 is left to mean hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = static_cast<cc_t>(line.xon_char);
    tio.c_cc[VSTOP] = static_cast<cc_t>(line.xoff_char);
    if (int e = Ioctl(fd, TCSETS2, &tio))
        return e;

    // A driver that cannot make the speed rounds it; more than 3 percent off
    // is not the speed that was asked for.
    termios2 check{};
    if (Ioctl(fd, TCGETS2, &check) == 0 && check.c_ospeed != 0) {
        uint64_t want = line.speed, got = check.c_ospeed;
        uint64_t diff = want > got ? want - got : got - want;
        if (diff * 100 > want * 3)
            return EINVAL;
    }
    return 0;
}

bool SetRtsToggle(int fd, bool on)
{
    // Only touch RS-485 mode where the driver has it.
    serial_rs485 rs485{};
    if (!on && Ioctl(fd, TIOCGRS485, &rs485) != 0)
        return false;
    if (on)
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    else
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
    return Ioctl(fd, TIOCSRS485, &rs485) == 0 && on;
}

// ---- line events ---------------------------------------------------------------------

int ReadLineCounters(int fd, LineCounters& counters)
{
    serial_icounter_struct now{};
    if (int e = Ioctl(fd, TIOCGICOUNT, &now))
        return e;
    counters.cts = static_cast<uint32_t>(now.cts);
    counters.dsr = static_cast<uint32_t>(now.dsr);
    counters.rng = static_cast<uint32_t>(now.rng);
    counters.dcd = static_cast<uint32_t>(now.dcd);
    counters.frame = static_cast<uint32_t>(now.frame);
    counters.parity = static_cast<uint32_t>(now.parity);
    counters.overrun = static_cast<uint32_t>(now.overrun);
    counters.buf_overrun = static_cast<uint32_t>(now.buf_overrun);
    counters.brk = static_cast<uint32_t>(now.brk);
    return 0;
}

int WaitLineChange(int fd)
{
    // Straight to the kernel: no library code between the cancellation and
    // the wait.
    long r = ::syscall(SYS_ioctl, fd, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS);
    return r == 0 ? 0 : errno;
}

} // namespace tarnby::os

// ---- port names and enumeration (comm.h) -------------------------------------------------

namespace tarnby::comm {

std::string DevicePath(const std::string& port)
{
    if (!port.empty() && port[0] == '/')
        return port;
    // "COMn" (any letter case, n from 1) is the n-th standard serial port.
    if (port.size() > 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' && (port[2] | 0x20) == 'm') {
        bool digits = true;
        for (size_t i = 3; i < port.size(); ++i)
            digits = digits && port[i] >= '0' && port[i] <= '9';
        if (digits && port.size() < 10) {
            long n = std::strtol(port.c_str() + 3, nullptr, 10);
            if (n >= 1)
                return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + port;
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
