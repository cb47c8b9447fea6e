#include "this_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef __linux__
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <csignal>
#endif

namespace this_system {

#ifdef __linux__

namespace {

// The names in a folder of /proc, without "." and "..".
std::optional<std::vector<std::string>> entries(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.')
            names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    return names;
}

// A file of each thread of this process (comm, status), by the thread's id;
// a thread that ended since the listing is left out.
std::optional<std::map<long, std::string>> each_thread(const std::string& file)
{
    const auto tasks = entries("/proc/self/task");
    if (!tasks)
        return std::nullopt;
    std::map<long, std::string> texts;
    for (const std::string& task : *tasks) {
        std::ifstream in("/proc/self/task/" + task + "/" + file);
        std::ostringstream text;
        if (in && text << in.rdbuf())
            texts[std::stol(task)] = text.str();
    }
    return texts;
}

}  // namespace

long rss_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::optional<std::vector<int>> descriptors()
{
    // Read whole before looking: the listing holds a descriptor of its own
    // while it is open, which is gone once it is closed.
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return std::nullopt;
    const int own = ::dirfd(dir);
    std::vector<int> fds;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.' && std::atoi(e->d_name) != own)
            fds.push_back(std::atoi(e->d_name));
    }
    ::closedir(dir);
    return fds;
}

int thread_count()
{
    const auto tasks = entries("/proc/self/task");
    return tasks ? static_cast<int>(tasks->size()) : -1;
}

std::optional<std::vector<std::string>> thread_names()
{
    const auto comms = each_thread("comm");
    if (!comms)
        return std::nullopt;
    std::vector<std::string> names;
    for (const auto& [thread, comm] : *comms)
        names.push_back(comm.substr(0, comm.find('\n')));
    return names;
}

long thread_id()
{
    return static_cast<long>(::syscall(SYS_gettid));
}

std::optional<std::map<long, long>> thread_switches()
{
    const auto statuses = each_thread("status");
    if (!statuses)
        return std::nullopt;
    std::map<long, long> switches;
    for (const auto& [thread, status] : *statuses) {
        // Voluntary and involuntary alike.
        std::istringstream lines(status);
        long sum = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.find("ctxt_switches:") != std::string::npos)
                sum += std::stol(line.substr(line.find(':') + 1));
        }
        switches[thread] = sum;
    }
    return switches;
}

std::optional<std::vector<std::string>> session_processes(long session)
{
    auto processes = entries("/proc");
    if (!processes)
        return std::nullopt;
    std::vector<std::string> found;
    for (const std::string& pid : *processes) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string text;
        if (!std::getline(stat, text))
            continue;
        // pid (command) state ppid pgrp session ...; the command may hold
        // spaces and parentheses of its own.
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 1));
        std::string state;
        long ppid = 0, pgrp = 0, sid = 0;
        rest >> state >> ppid >> pgrp >> sid;
        if (sid == session && state != "Z")
            found.push_back(text.substr(0, close + 1));
    }
    return found;
}

std::string executable_path()
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
}

bool close_on_exec_pipe(int fds[2])
{
    // In one step: another thread may start a program at any moment.
    return ::pipe2(fds, O_CLOEXEC) == 0;
}

bool end_with_parent()
{
    return ::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0;
}

#else

long rss_kib()
{
    return -1;
}

std::optional<std::vector<int>> descriptors()
{
    return std::nullopt;
}

int thread_count()
{
    return -1;
}

std::optional<std::vector<std::string>> thread_names()
{
    return std::nullopt;
}

long thread_id()
{
    return -1;
}

std::optional<std::map<long, long>> thread_switches()
{
    return std::nullopt;
}

std::optional<std::vector<std::string>> session_processes(long)
{
    return std::nullopt;
}

std::string executable_path()
{
    return {};
}

bool close_on_exec_pipe(int fds[2])
{
    if (::pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i)
        ::fcntl(fds[i], F_SETFD, ::fcntl(fds[i], F_GETFD) | FD_CLOEXEC);
    return true;
}

bool end_with_parent()
{
    return false;
}

#endif

int open_descriptors()
{
    const auto fds = descriptors();
    return fds ? static_cast<int>(fds->size()) : -1;
}

// A pipe on every system: a signal is a byte, a drain reads them all.
WakeUp::WakeUp()
{
    if (!close_on_exec_pipe(fds_))
        throw std::runtime_error(std::string("no pipe for a wake-up: ") + std::strerror(errno));
    for (int fd : fds_)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

WakeUp::~WakeUp()
{
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void WakeUp::signal()
{
    const char one = 1;
    // A full pipe is as readable as it gets; nothing to do about EAGAIN.
    [[maybe_unused]] ssize_t r = ::write(fds_[1], &one, 1);
}

void WakeUp::drain()
{
    char bytes[256];
    while (::read(fds_[0], bytes, sizeof bytes) > 0) {
    }
}

}  // namespace this_system
