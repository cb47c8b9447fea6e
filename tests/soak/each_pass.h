// Runs a check at every message pump of the firmware loop, that is once a
// pass, right after the pass has painted the display and before any
// message (a received byte, a tick) can change the readings it drew from.
#pragma once

#include <functional>
#include <utility>

#include "forwarding_host.h"

class EachPass : public ForwardingHost {
public:
    EachPass(Host& inner, std::function<void()> each) : ForwardingHost(inner), each_(std::move(each)) {}
    void pump_messages() override
    {
        each_();
        ForwardingHost::pump_messages();
    }

private:
    std::function<void()> each_;
};
