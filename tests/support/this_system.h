// What the tests ask of the system that each system answers its own way:
// this process's figures (resident memory, open descriptors, threads, their
// names and context switches), the id of the calling thread, the processes
// of a session, the path of the running test program, a pipe whose ends a
// started program does not inherit, and a child that ends with its parent. The rest of the test support is plain
// POSIX and calls these instead. Where a system has no answer, the figures
// are -1, the path is empty and the lists are nullopt; tests that need them
// say so (they skip).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace this_system {

// Resident memory of this process, in KiB.
long rss_kib();
// Descriptors this process has open: how many, and which.
int open_descriptors();
std::optional<std::vector<int>> descriptors();
// Threads of this process.
int thread_count();
// The names threads of this process gave themselves.
std::optional<std::vector<std::string>> thread_names();
// The system's id of the calling thread, as thread_switches() and the
// scheduler (per-thread niceness) know it; -1 where there is none.
long thread_id();
// Context switches so far of each thread of this process, by thread_id().
std::optional<std::map<long, long>> thread_switches();
// The processes of a session that are still running (ended ones a parent
// has not reaped yet are left out), each as "pid (command)".
std::optional<std::vector<std::string>> session_processes(long session);
// The executable of this process.
std::string executable_path();
// A pipe, fds[0] to read and fds[1] to write, both closed in any program
// this process starts; false (and errno) if there is none.
bool close_on_exec_pipe(int fds[2]);
// Has the system end this process (SIGTERM) once the process that started
// it ends; false where it cannot. Safe in a child between fork and exec.
bool end_with_parent();

// A descriptor a poll can wait on, readable from signal() until drain(); any
// number of signals before a drain count as one. Closed in programs this
// process starts. Throws std::runtime_error if the system has no pipe left.
class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;
    int fd() const { return fds_[0]; }
    void signal();
    void drain();

private:
    int fds_[2] = {-1, -1};
};

}  // namespace this_system
