// The hot-plug watch: the system's device-folder notice, read on the owner's
// thread from its event loop, and a fresh listing compared with the last.
#include "tarnby/cport/port_watcher.h"
#include "tarnby/cport/cport.h"
#include "platform/os_hooks.h"

#include <algorithm>

namespace tarnby {

struct TComPortWatcher::Watch {
    int fd = -1;
    std::unique_ptr<TDescriptorWatch> readable;
    ~Watch()
    {
        readable.reset();
        os::CloseDeviceWatch(fd);
    }
};

TComPortWatcher::TComPortWatcher(TComponent* owner) : TComponent(owner) {}

TComPortWatcher::~TComPortWatcher()
{
    SetActive(false);
}

void TComPortWatcher::SetRoots(const TComPortRoots& roots)
{
    if (active_ && roots != roots_)
        throw EComPort(errWhileConnected);
    roots_ = roots;
}

void TComPortWatcher::SetActive(bool value)
{
    if (value == active_)
        return;
    if (!value) {
        *alive_ = false;
        watch_.reset();
        active_ = false;
        return;
    }
    if (!EventLoopAvailable())
        throw EComPort("No event loop to deliver the port watcher's events: create a QCoreApplication (or "
                       "QApplication) and run its event loop on the thread that starts the watcher");
    auto watch = std::make_unique<Watch>();
    if (int error = os::MakeDeviceWatch(roots_, watch->fd))
        throw EComPort(errEnumPorts, error, roots_.Dev);
    // The listing after the watch is set up, so that nothing plugged in
    // between the two goes unnoticed.
    std::vector<TComPortInfo> ports = ListComPorts(roots_);
    watch->readable = std::make_unique<TDescriptorWatch>(watch->fd, [this] { Look(); });
    ports_ = std::move(ports);
    watch_ = std::move(watch);
    alive_ = std::make_shared<bool>(true);
    active_ = true;
}

void TComPortWatcher::Look()
{
    os::TakeDeviceChanges(roots_, watch_->fd);
    std::vector<TComPortInfo> now;
    try {
        now = ListComPorts(roots_);
    } catch (...) {
        // The tree went unreadable for a moment: the next notice looks again.
        ApplicationHandleException();
        return;
    }
    auto find = [](const std::vector<TComPortInfo>& ports, const std::string& port) {
        return std::find_if(ports.begin(), ports.end(), [&](const TComPortInfo& p) { return p.Port == port; });
    };
    std::vector<TComPortInfo> removed, added, changed;
    for (const TComPortInfo& before : ports_)
        if (find(now, before.Port) == now.end())
            removed.push_back(before);
    for (const TComPortInfo& port : now) {
        auto before = find(ports_, port.Port);
        if (before == ports_.end())
            added.push_back(port);
        else if (!(*before == port))
            changed.push_back(port);
    }
    ports_ = std::move(now);

    // A handler may stop or destroy the watcher: nothing of it is touched
    // after that.
    std::shared_ptr<bool> alive = alive_;
    for (const TComPortInfo& port : removed) {
        if (!*alive)
            return;
        DoRemoved(port);
    }
    for (const TComPortInfo& port : added) {
        if (!*alive)
            return;
        DoAdded(port);
    }
    for (const TComPortInfo& port : changed) {
        if (!*alive)
            return;
        DoChanged(port);
    }
}

void TComPortWatcher::DoAdded(const TComPortInfo& port)
{
    if (OnAdded)
        OnAdded(this, port);
}

void TComPortWatcher::DoRemoved(const TComPortInfo& port)
{
    if (OnRemoved)
        OnRemoved(this, port);
}

void TComPortWatcher::DoChanged(const TComPortInfo& port)
{
    if (OnChanged)
        OnChanged(this, port);
}

} // namespace tarnby
