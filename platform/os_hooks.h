// What a system supplies for the serial device layer and the class library.
//
// The device layer is a POSIX core (comm_posix.cpp: the input queue, the
// pending transfers and their time-outs, the worker thread, the event wait;
// comm.cpp: completion objects, stop events, the wait-loop thread, the
// opener; tty_posix.cpp: the tty calls every system has alike, that is
// modem lines, break, queue counts and the exclusive claim) and one file of
// hooks per system, chosen by CMAKE_SYSTEM_NAME in CMakeLists.txt. Linux's
// is os_linux.cpp. The core includes only standard C++ and POSIX headers and
// makes no tty request but those of tty_posix.cpp; the build checks that
// (portable_core_check.cmake).
//
// A new system supplies, in one file (23 hooks):
//  - wake-ups:       MakeWake, SignalWake, DrainWake, CloseWake
//  - the tty wait:   WaitTty (tty_wait_poll.cpp where poll works on
//                    devices, as on Linux and the BSDs; macOS needs select)
//  - owner's input:  MakeInputHub, HubWatch, HubForget, HubTake (or ENOSYS:
//                    input then reaches the owner through the event thread
//                    alone),
//                    MakeAlarm, SetAlarm (or ENOSYS: the event thread then
//                    watches the input also while the owner does)
//  - threads:        NameThisThread, ThisThreadId, SetThreadPriority,
//                    DeviceMutexType
//  - finding ports:  DevicePath, EnumSerialDevices (the two of comm.h),
//                    CheckSerialDevice
//  - opening:        PrepareOpenedDevice
//  - line settings:  ApplyLineSettings, SetRtsToggle
//  - line events:    ReadLineCounters, WaitLineChange (ENOTTY where the
//                    system counts no line events: then only received data,
//                    hang-ups and the output running dry are reported)
// Each returns 0 or an errno unless it says otherwise; ENOTTY means "this
// device has no such thing", which the core reads as "off", not a failure.
#pragma once

#include <cstdint>
#include <poll.h>
#include <string>
#include <sys/types.h>

namespace tarnby::comm {
struct DCB;
}

namespace tarnby::os {

// ---- wake-ups ------------------------------------------------------------------

// Something one thread sets and another polls for: readable (POLLIN) on
// poll_fd once signalled, until drained. One descriptor or two.
struct Wake {
    int poll_fd = -1;
    int signal_fd = -1;
};
int MakeWake(Wake& wake);
void SignalWake(const Wake& wake);
void DrainWake(const Wake& wake);
// Closes what MakeWake made and leaves the record empty; safe on an empty one.
void CloseWake(Wake& wake);

// ---- the tty wait --------------------------------------------------------------------

// Waits, as poll does, until one of fds is ready or timeout_ms (-1: no
// limit, 0: only look) has passed. fds holds wake-ups (a Wake's poll_fd, a
// stop event's descriptor), asked for POLLIN, and at most one tty, asked for
// POLLIN, POLLOUT or both. Fills each revents with POLLIN, POLLOUT, POLLHUP,
// POLLERR or POLLNVAL as poll does and returns the number of entries with
// any, 0 at the time-out, or -1 with errno set (EINTR: a signal came; the
// caller asks again).
int WaitTty(pollfd* fds, nfds_t count, int timeout_ms);

// ---- the owner's view of received input -------------------------------------------

// One descriptor the owning thread's event loop watches for all its ports:
// readable while a descriptor it watches reports; HubTake takes the keys of
// those that do (an edge-triggered one is then reported again only at its
// next arrival). ENOSYS where the system has none: input then reaches the
// owner through the event thread alone.
int MakeInputHub(int& fd);
int HubWatch(int hub, int fd, uint64_t key, bool edge);
void HubForget(int hub, int fd);
// Up to max keys, without waiting; the number taken.
int HubTake(int hub, uint64_t* keys, int max);
// A one-shot alarm on a descriptor that is readable (POLLIN) once it has
// rung and until it is set or cleared again; what tells the device's waits
// that the owner has been away from its event loop too long. ENOSYS where
// the system has none: the waits then always watch the input themselves.
int MakeAlarm(int& fd);
// Rings after the given microseconds; 0 clears it (no longer readable).
void SetAlarm(int fd, int microseconds);

// ---- threads -------------------------------------------------------------------------

void NameThisThread(const char* name);
// An id by which SetThreadPriority finds the calling thread later.
int ThisThreadId();
// The seven levels, idle (0) to time-critical (6), normal being 3. Raising
// above normal may need a privilege; without it the thread stays as it is.
void SetThreadPriority(int thread_id, int level);
// The pthread mutex type for a device's lock: held for a system call at
// most, and wanted by two threads at once when input arrives.
int DeviceMutexType();

// ---- finding and opening devices ------------------------------------------------------

// Whether a character device is a serial port or a pseudo-terminal's slave,
// asked before it is opened (opening some devices acts: a watchdog arms).
// 0 if it is, ENOTTY if not, ENOENT if the system cannot tell (the terminal
// check after opening decides).
int CheckSerialDevice(dev_t device);
// What an opened tty needs besides raw mode (a USB adapter's low latency).
void PrepareOpenedDevice(int fd);

// ---- line settings -------------------------------------------------------------------

// What the device-control record asks of a POSIX tty, decoded by the core.
struct LineSettings {
    uint32_t speed = 0; // bits per second, any value
    int data_bits = 8;  // 5..8
    enum Parity { kNone, kOdd, kEven, kMark, kSpace } parity = kNone;
    bool two_stop_bits = false;
    bool check_parity = false;
    bool xon_xoff_out = false;
    bool xon_xoff_in = false;
    bool rts_cts = false; // hardware flow control, both ways
    char xon_char = 17;
    char xoff_char = 19;
};
// Raw mode with these settings; EINVAL when the device cannot make the speed
// within 3 percent (or any other setting).
int ApplyLineSettings(int fd, const LineSettings& settings);
// The driver raises RTS while sending (RS-485) where it can; true if it
// does now. Off is always "done" for a driver that has no such mode.
bool SetRtsToggle(int fd, bool on);

// ---- line events ---------------------------------------------------------------------

// Running counts the driver keeps; a change between two readings is an event.
struct LineCounters {
    uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;
    uint32_t frame = 0, parity = 0, overrun = 0, buf_overrun = 0, brk = 0;
};
int ReadLineCounters(int fd, LineCounters& counters);
// Blocks until a modem input changes. Called on a thread of its own that is
// cancelled to stop it (see WaitLoopThread): it must hold nothing.
int WaitLineChange(int fd);

} // namespace tarnby::os

// ---- port information and hot-plug (tarnby/cport/port_info.h) ----------------------------
//
// A new system also supplies, in a file of its own:
//  - ListPortInfo:      every serial port under the roots, described (in any
//                       order; pseudo-terminals left out)
//  - MakeDeviceWatch:   a descriptor that turns readable when a device file
//                       appears in or goes from the device folder, or one of
//                       its stable links does; TakeDeviceChanges consumes
//                       that (and follows link folders that came meanwhile);
//                       CloseDeviceWatch
#include <vector>

namespace tarnby {
struct TComPortInfo;
struct TComPortRoots;
} // namespace tarnby

namespace tarnby::os {

int ListPortInfo(const TComPortRoots& roots, std::vector<TComPortInfo>& ports);
int MakeDeviceWatch(const TComPortRoots& roots, int& fd);
void TakeDeviceChanges(const TComPortRoots& roots, int fd);
void CloseDeviceWatch(int fd);

} // namespace tarnby::os
