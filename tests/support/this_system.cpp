#include "this_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#ifdef __linux__
#include <dirent.h>
#endif

namespace this_system {

#ifdef __linux__

namespace {

int count_entries(const char* folder)
{
    DIR* dir = ::opendir(folder);
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.')
            ++n;
    }
    ::closedir(dir);
    return n;
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

int open_descriptors()
{
    // Less the one opendir holds while it counts.
    const int entries = count_entries("/proc/self/fd");
    return entries < 0 ? -1 : entries - 1;
}

int thread_count()
{
    return count_entries("/proc/self/task");
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

#else

long rss_kib()
{
    return -1;
}

int open_descriptors()
{
    return -1;
}

int thread_count()
{
    return -1;
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

#endif

}  // namespace this_system
