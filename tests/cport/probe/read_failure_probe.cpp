// Makes the tty's read() fail under a port's direct read: the port reads its
// pseudo-terminal from a background process group of the session that has
// the pseudo-terminal as its controlling terminal, with SIGTTIN ignored, so
// the kernel answers EIO. Separate processes, because the session and the
// process group are the whole process's. Prints what Read raised.
#include "tarnby/cport/cport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarnby;

namespace {

int ReadInBackground(const std::string& path)
{
    if (::setpgid(0, 0) != 0)
        return 10;
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGTTOU, SIG_IGN); // setting the line up is a change from the background too
    TComPort port(nullptr);
    port.SetPort(path);
    port.SetEvents({});
    port.SetSyncMethod(smNone);
    port.Open();
    char buffer[16];
    try {
        int got = port.Read(buffer, sizeof buffer);
        std::printf("no exception: Read gave %d\n", got);
    } catch (const EComPort& e) {
        std::printf("code=%d win=%d device=%s reason=%s\n", e.Code(), e.WinCode(),
                    e.Device() == path ? "the port's" : e.Device().c_str(), e.SystemMessage().c_str());
    }
    std::fflush(stdout);
    return 0;
}

int Status(pid_t child)
{
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 20;
    return WEXITSTATUS(status);
}

} // namespace

int main()
{
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return 30;
    const std::string path = ::ptsname(master);
    std::fflush(stdout);
    pid_t leader = ::fork();
    if (leader == 0) {
        // A session whose controlling terminal is the pseudo-terminal.
        if (::setsid() < 0 || ::open(path.c_str(), O_RDWR) < 0)
            ::_exit(40);
        pid_t reader = ::fork();
        if (reader == 0)
            ::_exit(ReadInBackground(path));
        ::_exit(Status(reader));
    }
    int status = Status(leader);
    ::close(master);
    return status;
}
