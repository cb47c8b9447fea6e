// Shared inside the component only.
#pragma once

#include "tarnby/cport/cport.h"

#include <thread>

namespace tarnby {

namespace detail {

// Conversions for stored settings, used by the settings persistence.
TARNBY_CPORT_EXPORT std::string DtrControlToText(TDTRFlowControl value);
TARNBY_CPORT_EXPORT TDTRFlowControl TextToDtrControl(const std::string& text);
TARNBY_CPORT_EXPORT std::string RtsControlToText(TRTSFlowControl value);
TARNBY_CPORT_EXPORT TRTSFlowControl TextToRtsControl(const std::string& text);
TARNBY_CPORT_EXPORT std::string BoolToText(bool value);
TARNBY_CPORT_EXPORT bool TextToBool(const std::string& text);
TARNBY_CPORT_EXPORT std::string CharToText(char value);
TARNBY_CPORT_EXPORT char TextToChar(const std::string& text);

// The one place a platform failure becomes an exception: a non-zero result
// of a device operation raises EComPort with the operation's code, the
// platform error number and the port's device file.
inline void Check(int result, int code, const TCustomComPort& port)
{
    if (result != 0)
        throw EComPort(code, result, port.DevicePath());
}

// Window message that carries one event to the notification window.
constexpr uint32_t kComEventMessage = 1025;

// The guards below, and who holds what, are explained at the head of
// com_port.cpp.

// What a port shares with everything that may outlive it: its event
// threads and the calls into code of others now running.
struct PortShared {
    std::atomic<bool> alive{true};
    // Event threads dispatch one at a time (smNone mode), also when a
    // handler reopened the port and the new thread is already running.
    std::mutex event_dispatch;
    // The thread that holds event_dispatch, written by the dispatch holding
    // it (EventThreadDispatch): a handler of that dispatch that destroys the
    // port must not wait for it.
    std::atomic<std::thread::id> event_dispatcher{};
    bool DispatchingHere() const { return event_dispatcher.load() == std::this_thread::get_id(); }
};

// Held across a call into code of others (a handler, a link, a derived
// Do... operation): tells afterwards whether that code destroyed the port,
// in which case nothing of the port may be touched any more.
class PortLife {
public:
    explicit PortLife(std::shared_ptr<const PortShared> shared) : shared_(std::move(shared)) {}
    bool Gone() const { return !shared_->alive.load(); }

private:
    std::shared_ptr<const PortShared> shared_;
};

// Whether the calling thread is the event thread of some port: what the
// thread is, not where it is now (com_thread.cpp says why this one is kept).
bool OnEventThread();

} // namespace detail

// Taken at the start of a sequence of calls into code of others (handlers,
// links, derived Do... operations). Any of them may destroy the port, or
// close or open it; the rest of the sequence then has nobody left to go to.
class TCustomComPort::Sequence {
public:
    explicit Sequence(const TCustomComPort& port)
        : port_(port), shared_(port.shared_), connected_(port.Connected()), generation_(port.generation_)
    {
    }
    bool Gone() const { return !shared_->alive.load(); }
    bool Over() const { return Gone() || port_.Connected() != connected_ || port_.generation_ != generation_; }

private:
    const TCustomComPort& port_;
    std::shared_ptr<const detail::PortShared> shared_;
    const bool connected_;
    const uint64_t generation_;
};

} // namespace tarnby
