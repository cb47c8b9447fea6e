#include "pty_line.h"

#include <cerrno>
#include <unistd.h>

namespace emulator {

namespace {

constexpr size_t MAX_BACKLOG = 2048;

} // namespace

// A raw line from the start: no echo of our own frames back to us, no line
// editing, no translation of carriage returns. The master is non-blocking.
PtyLine::PtyLine() : terminal_({.raw = true, .speed = 19200, .hold_slave = false, .nonblocking = true}) {}

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
        const ssize_t n = ::write(terminal_.master_fd(), output_.data(), output_.size());
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

} // namespace emulator
