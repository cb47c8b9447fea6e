#include "pseudo_terminal.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace pty {

namespace {

[[noreturn]] void fail(const char* what, int error)
{
    throw std::runtime_error(std::string("no pseudo-terminal: ") + what + ": " + std::strerror(error));
}

speed_t speed_code(int speed)
{
    struct Speed {
        int bits_per_second;
        speed_t code;
    };
    static const Speed speeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
                                   {19200, B19200}, {38400, B38400}, {57600, B57600},   {115200, B115200},
                                   {230400, B230400}};
    for (const Speed& s : speeds)
        if (s.bits_per_second == speed)
            return s.code;
    throw std::invalid_argument("pseudo-terminal speed " + std::to_string(speed) + " is not a standard one");
}

} // namespace

PseudoTerminal::PseudoTerminal() : PseudoTerminal(Options{}) {}

PseudoTerminal::PseudoTerminal(const Options& options)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        fail("posix_openpt", errno);
    const char* name = nullptr;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || (name = ::ptsname(master_)) == nullptr) {
        const int error = errno;
        ::close(master_);
        fail("grantpt/unlockpt/ptsname", error);
    }
    slave_path_ = name;
    if (options.raw || options.hold_slave) {
        const int slave = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) {
            const int error = errno;
            ::close(master_);
            fail(slave_path_.c_str(), error);
        }
        termios t{};
        if (options.raw && ::tcgetattr(slave, &t) == 0) {
            ::cfmakeraw(&t);
            if (options.speed != 0) {
                ::cfsetispeed(&t, speed_code(options.speed));
                ::cfsetospeed(&t, speed_code(options.speed));
            }
            ::tcsetattr(slave, TCSANOW, &t);
        }
        // Opened and closed once, the slave leaves the master in its "no
        // peer" state until someone opens it again.
        if (options.hold_slave)
            slave_ = slave;
        else
            ::close(slave);
    }
    if (options.nonblocking)
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() { hang_up(); }

void PseudoTerminal::hang_up()
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

bool PseudoTerminal::peer_present() const
{
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

bool PseudoTerminal::write_all(const void* data, size_t n)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = ::write(master_, bytes, n);
        if (w > 0) {
            bytes += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}

bool PseudoTerminal::read_available(std::vector<uint8_t>& into)
{
    uint8_t buffer[4096];
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 0) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return true;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            into.insert(into.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        return false; // EIO: nobody holds the slave side any more
    }
}

std::string PseudoTerminal::receive(size_t n, int deadline_ms, const std::function<void()>& between, int poll_ms)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadline_ms);
    while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
        if (between)
            between();
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, poll_ms) <= 0)
            continue;
        char buffer[4096];
        const ssize_t r = ::read(master_, buffer, sizeof buffer);
        if (r > 0)
            got.append(buffer, static_cast<size_t>(r));
    }
    return got;
}

} // namespace pty
