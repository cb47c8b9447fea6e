// The tty calls every POSIX system of ours has in the same form (Linux,
// macOS, the BSDs): modem lines, break, queue counts and the exclusive
// claim, made once here for all of them (tty_posix.cpp). What differs
// between systems is asked of their hooks (os_hooks.h).
//
// Each returns 0 or an errno; ENOTTY means "this device has no such thing"
// (a pseudo-terminal has no modem lines and no break), which the device
// layer reads as "off", not a failure.
#pragma once

#include <cstdint>

namespace tarnby::os {

// ioctl, asked again when a signal cuts it short. The core makes only the
// requests of the calls below; a system's hooks use it for their own.
int Ioctl(int fd, unsigned long request, void* arg);

// ---- modem lines ---------------------------------------------------------------------

enum class ModemLine { kDtr, kRts };
int SetModemLine(int fd, ModemLine line, bool on);
// The inputs as the MS_ bits of comm.h.
int GetModemLines(int fd, uint32_t& ms_bits);
int SetBreak(int fd, bool on);

// ---- queues --------------------------------------------------------------------------

// Bytes the system holds: received and not yet read, written and not yet sent.
int InputQueued(int fd, int& bytes);
int OutputQueued(int fd, int& bytes);
// Blocks until the system has sent what it holds (tcdrain).
int DrainOutputQueue(int fd);

// ---- opening -------------------------------------------------------------------------

// Keeps other openers out as far as the system allows (not root);
// undone by ReleaseExclusive before the descriptor is closed.
void ClaimExclusive(int fd);
void ReleaseExclusive(int fd);

} // namespace tarnby::os
