#include "pty_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace emulator {

namespace {

constexpr size_t MAX_BACKLOG = 2048;

[[noreturn]] void fail(const char* what)
{
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

PtyLine::PtyLine()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        fail("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        fail("grantpt/unlockpt");
    }
    const char* name = ptsname(master_);
    if (!name) {
        ::close(master_);
        fail("ptsname");
    }
    slave_path_ = name;

    // A raw line from the start: no echo of our own frames back to us, no
    // line editing, no translation of carriage returns. The settings stay
    // with the pseudo-terminal while the master is open. Opening and closing
    // the slave once also puts the master into its "no peer" state.
    const int slave = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            cfmakeraw(&t);
            cfsetispeed(&t, B19200);
            cfsetospeed(&t, B19200);
            tcsetattr(slave, TCSANOW, &t);
        }
        ::close(slave);
    }
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

PtyLine::~PtyLine()
{
    if (master_ >= 0)
        ::close(master_);
}

bool PtyLine::peer_present() const
{
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR)) == 0;
}

bool PtyLine::queue(const Bytes& bytes)
{
    if (output_.size() + bytes.size() > MAX_BACKLOG)
        return false;
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    return true;
}

void PtyLine::flush()
{
    while (!output_.empty()) {
        const ssize_t n = ::write(master_, output_.data(), output_.size());
        if (n > 0) {
            bytes_written_ += static_cast<unsigned long long>(n);
            output_.erase(output_.begin(), output_.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;  // full (EAGAIN) or the peer went away: try again later
    }
}

bool PtyLine::read_available(Bytes& into)
{
    uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            into.insert(into.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        return false;  // EIO: the slave side was closed
    }
}

} // namespace emulator
