// Shared inside the component only.
#pragma once

#include "cport/cport.h"

namespace cport_internal {

// The one place a platform failure becomes an exception: a non-zero result
// of a device operation raises EComPort with the operation's code and the
// platform error number.
inline void Check(int result, int code)
{
    if (result != 0)
        throw EComPort(code, result);
}

// Window message that carries one event to the notification window.
constexpr uint32_t kComEventMessage = 1025;

// Held across a call into code of others (a handler, a link, a derived
// Do... operation): tells afterwards whether that code destroyed the port,
// in which case nothing of the port may be touched any more.
class PortLife {
public:
    explicit PortLife(std::shared_ptr<const std::atomic<bool>> alive) : alive_(std::move(alive)) {}
    bool Gone() const { return !alive_->load(); }

private:
    std::shared_ptr<const std::atomic<bool>> alive_;
};

// Whether the calling thread is the event thread of some port.
bool OnEventThread();

} // namespace cport_internal
