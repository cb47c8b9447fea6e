// The tty calls common to the POSIX systems (tty_posix.h). The requests made
// here are the only ones the portability check lets the core make.
#include "platform/tty_posix.h"
#include "tarnby/cport/platform/comm.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>

namespace tarnby::os {
namespace {

// Linux's kernel may let its internal "no such ioctl" (ENOIOCTLCMD) out of
// some drivers; no other system uses the number.
constexpr int kNoIoctlCommand = 515;

// Errors of a modem-line or break request that only mean "this device has
// no such thing" (a pseudo-terminal) become ENOTTY; anything else is a real
// failure.
int LineIoctl(int fd, unsigned long request, void* arg)
{
    int e = Ioctl(fd, request, arg);
    return e == EINVAL || e == kNoIoctlCommand ? ENOTTY : e;
}

} // namespace

int Ioctl(int fd, unsigned long request, void* arg)
{
    for (;;) {
        if (::ioctl(fd, request, arg) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// ---- modem lines ---------------------------------------------------------------------

int SetModemLine(int fd, ModemLine line, bool on)
{
    int bits = line == ModemLine::kDtr ? TIOCM_DTR : TIOCM_RTS;
    return LineIoctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

int GetModemLines(int fd, uint32_t& ms_bits)
{
    ms_bits = 0;
    int lines = 0;
    if (int e = LineIoctl(fd, TIOCMGET, &lines))
        return e;
    if (lines & TIOCM_CTS)
        ms_bits |= comm::MS_CTS_ON;
    if (lines & TIOCM_DSR)
        ms_bits |= comm::MS_DSR_ON;
    if (lines & TIOCM_RNG)
        ms_bits |= comm::MS_RING_ON;
    if (lines & TIOCM_CAR)
        ms_bits |= comm::MS_RLSD_ON;
    return 0;
}

int SetBreak(int fd, bool on) { return LineIoctl(fd, on ? TIOCSBRK : TIOCCBRK, nullptr); }

// ---- queues --------------------------------------------------------------------------

int InputQueued(int fd, int& bytes) { return Ioctl(fd, FIONREAD, &bytes); }

int OutputQueued(int fd, int& bytes) { return Ioctl(fd, TIOCOUTQ, &bytes); }

int DrainOutputQueue(int fd)
{
    for (;;) {
        if (::tcdrain(fd) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// ---- opening -------------------------------------------------------------------------

void ClaimExclusive(int fd) { Ioctl(fd, TIOCEXCL, nullptr); }

void ReleaseExclusive(int fd) { Ioctl(fd, TIOCNXCL, nullptr); }

} // namespace tarnby::os
