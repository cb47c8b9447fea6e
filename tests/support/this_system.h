// What the tests ask of the system that each system answers its own way:
// this process's figures (resident memory, open descriptors, threads), the
// path of the running test program, and a pipe whose ends a started program
// does not inherit. The rest of the test support is plain POSIX and calls
// these instead. Where a system has no answer, the figures are -1 and the
// path is empty; tests that need them say so.
#pragma once

#include <string>

namespace this_system {

// Resident memory of this process, in KiB.
long rss_kib();
// Descriptors this process has open.
int open_descriptors();
// Threads of this process.
int thread_count();
// The executable of this process.
std::string executable_path();
// A pipe, fds[0] to read and fds[1] to write, both closed in any program
// this process starts; false (and errno) if there is none.
bool close_on_exec_pipe(int fds[2]);

}  // namespace this_system
