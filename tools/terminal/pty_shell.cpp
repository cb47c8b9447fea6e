// pty_shell: a shell on a pseudo-terminal, reachable through a second
// pseudo-terminal that a serial terminal program opens like a serial port.
// It prints that device's path, relays bytes both ways unchanged, and ends
// with the shell's exit status when the shell ends.
#include "command_line.h"
#include "pseudo_terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const char SUMMARY[] = R"(Runs a shell on a pseudo-terminal and offers a second pseudo-terminal to
talk to it, the way a serial line would: the first line printed on standard
output is the device to open (for example /dev/pts/7). Bytes pass both ways
unchanged. It ends with the shell's exit status when the shell ends, or on
Ctrl-C or SIGTERM.)";

volatile sig_atomic_t quit_signal = 0;
void OnSignal(int) { quit_signal = 1; }

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    command_line::ToolCommandLine cli(QStringLiteral("pty_shell"), QString::fromUtf8(SUMMARY));
    QCommandLineParser& p = cli.parser();
    p.addOption(QCommandLineOption(QStringLiteral("shell"), QStringLiteral("The shell to run (default /bin/sh)."),
                                   QStringLiteral("PROGRAM")));
    p.addOption(QCommandLineOption(QStringLiteral("term"),
                                   QStringLiteral("TERM for the shell (default vt100)."), QStringLiteral("NAME")));
    p.addOption(QCommandLineOption(QStringLiteral("size"),
                                   QStringLiteral("Screen size the shell is told (default 80x24)."),
                                   QStringLiteral("COLSxROWS")));
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("A program to run instead, with its arguments."),
                            QStringLiteral("[-- command [arguments...]]"));
    cli.parse(argc, argv, true);
    const QStringList command = p.positionalArguments();
    const std::string shell = p.isSet(QStringLiteral("shell")) ? p.value(QStringLiteral("shell")).toStdString()
                                                                : std::string("/bin/sh");
    const std::string term =
        p.isSet(QStringLiteral("term")) ? p.value(QStringLiteral("term")).toStdString() : std::string("vt100");
    winsize size{24, 80, 0, 0};
    if (p.isSet(QStringLiteral("size"))) {
        int cols = 0, rows = 0;
        char tail = 0;
        if (std::sscanf(p.value(QStringLiteral("size")).toLatin1().constData(), "%dx%d%c", &cols, &rows, &tail) != 2 ||
            cols < 2 || cols > 1000 || rows < 2 || rows > 1000)
            cli.reject(QStringLiteral("--size: \"%1\" is not COLSxROWS").arg(p.value(QStringLiteral("size"))));
        size.ws_col = static_cast<unsigned short>(cols);
        size.ws_row = static_cast<unsigned short>(rows);
    }
    if (shell.empty() || term.empty())
        cli.reject(QStringLiteral("--shell and --term need a value"));

    // The side the terminal program opens: raw, so nothing is changed on the
    // way. Our own hold on its slave keeps the line up between the terminal
    // program's openings.
    std::unique_ptr<pty::PseudoTerminal> outer;
    try {
        outer = std::make_unique<pty::PseudoTerminal>(pty::PseudoTerminal::Options{.raw = true, .hold_slave = true});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pty_shell: %s\n", e.what());
        return 1;
    }
    const int outer_master = outer->master_fd();

    // The shell's own terminal, not raw: it edits lines and turns Ctrl-C
    // into SIGINT like any terminal.
    std::unique_ptr<pty::PseudoTerminal> inner;
    try {
        inner = std::make_unique<pty::PseudoTerminal>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pty_shell: %s\n", e.what());
        return 1;
    }
    ::ioctl(inner->master_fd(), TIOCSWINSZ, &size);
    const int shell_master = inner->master_fd();
    pid_t child = ::fork();
    if (child < 0) {
        std::fprintf(stderr, "pty_shell: cannot start the shell: %s\n", std::strerror(errno));
        return 1;
    }
    if (child == 0) {
        // Whatever we were started with (a script's "&" ignores SIGINT and
        // SIGQUIT, a caller may block signals), the shell gets the default
        // handling, so that Ctrl-C on the line stops what runs there.
        for (int s = 1; s < NSIG; ++s)
            ::signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // A session of its own with this terminal as the controlling one.
        ::setsid();
        const int tty = ::open(inner->slave_path().c_str(), O_RDWR);
        if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0) {
            std::fprintf(stderr, "pty_shell: cannot open %s: %s\n", inner->slave_path().c_str(), std::strerror(errno));
            ::_exit(127);
        }
        ::dup2(tty, 0);
        ::dup2(tty, 1);
        ::dup2(tty, 2);
        if (tty > 2)
            ::close(tty);
        outer->hang_up();
        inner->hang_up();
        ::setenv("TERM", term.c_str(), 1);
        std::vector<std::string> words;
        if (command.isEmpty())
            words.push_back(shell);
        for (const QString& word : command)
            words.push_back(word.toStdString());
        std::vector<char*> argv_child;
        for (std::string& word : words)
            argv_child.push_back(word.data());
        argv_child.push_back(nullptr);
        ::execvp(argv_child[0], argv_child.data());
        std::fprintf(stderr, "pty_shell: cannot run %s: %s\n", argv_child[0], std::strerror(errno));
        ::_exit(127);
    }

    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", outer->slave_path().c_str());
    std::fflush(stdout);

    char buffer[4096];
    int status = 0;
    bool running = true;
    while (running && !quit_signal) {
        pollfd fds[2] = {{shell_master, POLLIN, 0}, {outer_master, POLLIN, 0}};
        if (::poll(fds, 2, 200) < 0 && errno != EINTR)
            break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = ::read(shell_master, buffer, sizeof buffer);
            if (n > 0)
                WriteAll(outer_master, buffer, static_cast<size_t>(n));
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                running = false; // the shell has gone
            else if (n == 0)
                running = false;
        }
        if (fds[1].revents & POLLIN) {
            ssize_t n = ::read(outer_master, buffer, sizeof buffer);
            if (n > 0 && !WriteAll(shell_master, buffer, static_cast<size_t>(n)))
                running = false;
        }
    }
    if (quit_signal)
        ::kill(child, SIGHUP);
    inner->hang_up();
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // Closing our side discards what the far end has not read yet (the
    // kernel flushes its input at the hang-up), and nothing tells us when it
    // has: give its reader a moment for the shell's last words.
    if (!quit_signal && outer->peer_present())
        ::poll(nullptr, 0, 300);
    outer->hang_up();
    if (quit_signal)
        return 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
