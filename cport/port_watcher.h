// Tells a program when a serial port appears (an adapter plugged in) or
// goes (pulled out), on the thread that made the watcher, from that thread's
// Qt event loop. It waits on the system's notice of device files coming and
// going; it never polls.
#pragma once

#include "tarnby/cport/platform/classes.h"
#include "tarnby/cport/port_info.h"

#include <functional>
#include <memory>
#include <vector>

namespace tarnby {

// Sender is always the watcher.
using TComPortInfoEvent = std::function<void(TObject* sender, const TComPortInfo& port)>;

class TARNBY_CPORT_EXPORT TComPortWatcher : public TComponent {
public:
    explicit TComPortWatcher(TComponent* owner = nullptr);
    ~TComPortWatcher() override;
    std::string ClassName() const override { return "TComPortWatcher"; }

    // Watching starts with the ports present then (Ports(); no event for
    // them) and needs a Qt event loop on this thread: without one, setting
    // Active raises EComPort saying so. A device folder that cannot be
    // watched raises EComPort errEnumPorts with the system's reason.
    bool Active() const { return active_; }
    void SetActive(bool value);
    // Where the device information lives; changed only while not active
    // (errWhileConnected otherwise).
    const TComPortRoots& Roots() const { return roots_; }
    void SetRoots(const TComPortRoots& roots);
    // The ports as last seen, in ListComPorts' order.
    const std::vector<TComPortInfo>& Ports() const { return ports_; }

    // A handler may set Active false, or destroy the watcher; the events of
    // that look that are still to come are then dropped.
    TComPortInfoEvent OnAdded;
    TComPortInfoEvent OnRemoved;
    // A port that stays whose information changed: its stable links are
    // made a moment after the device file, so they come with this event.
    TComPortInfoEvent OnChanged;

protected:
    virtual void DoAdded(const TComPortInfo& port);
    virtual void DoRemoved(const TComPortInfo& port);
    virtual void DoChanged(const TComPortInfo& port);

private:
    struct Watch;
    void Look();

    bool active_ = false;
    TComPortRoots roots_;
    std::vector<TComPortInfo> ports_;
    std::unique_ptr<Watch> watch_;
    // Set to false when the watcher stops or goes, so that a look in
    // progress knows.
    std::shared_ptr<bool> alive_;
};

} // namespace tarnby
