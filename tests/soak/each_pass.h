// Runs a check at every message pump of the firmware loop, that is once a
// pass (and once a splash frame), right after the pass has painted the
// display and before any message (a received byte, a tick) can change the
// readings it drew from. Never inside itself: a command sent from the check
// pumps messages too.
#pragma once

#include <functional>
#include <utility>

#include "forwarding_host.h"

class EachPass : public ForwardingHost {
public:
    EachPass(Host& inner, std::function<void()> each) : ForwardingHost(inner), each_(std::move(each)) {}
    void pump_messages() override
    {
        if (!inside_) {
            inside_ = true;
            each_();
            inside_ = false;
        }
        ForwardingHost::pump_messages();
    }

private:
    std::function<void()> each_;
    bool inside_ = false;
};
