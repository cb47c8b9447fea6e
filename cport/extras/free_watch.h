// A component that stands in for an object which is not a component itself
// (a widget, say) in the class library's free notifications: it watches
// components and tells its owner when one of them goes away.
#pragma once

#include "tarnby/cport/cport.h"
#include "tarnby/cport/platform/classes.h"

#include <algorithm>
#include <functional>

namespace tarnby {

class TARNBY_CPORT_EXPORT TFreeWatch : public TComponent {
public:
    TFreeWatch() : TComponent(nullptr) {}
    std::string ClassName() const override { return "TFreeWatch"; }

    // Called with a watched component that is being destroyed; by then only
    // its component part is left, so the owner may only forget it.
    std::function<void(TComponent*)> OnRemove;

    void Watch(TComponent* component)
    {
        if (component != nullptr)
            component->FreeNotification(this);
    }
    void Unwatch(TComponent* component)
    {
        if (component != nullptr)
            component->RemoveFreeNotification(this);
    }

protected:
    void Notification(TComponent* component, TOperation operation) override
    {
        TComponent::Notification(component, operation);
        if (operation == opRemove && OnRemove)
            OnRemove(component);
    }
};

// A link that follows one port at a time, for the components that watch a
// port without taking its handlers (the status lamp, the terminal): Follow
// unregisters the link from the port followed so far and registers it with
// the new one; a port that is destroyed is let go of. Declared after the link
// it registers, so it lets go of the port before the link goes.
class TPortFollower {
public:
    explicit TPortFollower(TComLink& link) : link_(link)
    {
        watch_.OnRemove = [this](TComponent* gone) {
            if (gone == port_)
                port_ = nullptr;
        };
    }
    ~TPortFollower() { Follow(nullptr); }
    TPortFollower(const TPortFollower&) = delete;
    TPortFollower& operator=(const TPortFollower&) = delete;

    TCustomComPort* Port() const { return port_; }
    // A port that refuses the link is not followed.
    void Follow(TCustomComPort* port)
    {
        if (port == port_)
            return;
        if (port_ != nullptr) {
            TCustomComPort* old = port_;
            port_ = nullptr;
            watch_.Unwatch(old);
            old->UnRegisterLink(&link_);
        }
        if (port != nullptr) {
            watch_.Watch(port);
            try {
                port->RegisterLink(&link_);
            } catch (...) {
                watch_.Unwatch(port);
                throw;
            }
            port_ = port;
        }
    }

private:
    TComLink& link_;
    TCustomComPort* port_ = nullptr;
    TFreeWatch watch_;
};

// A stream over a string held in memory, for saving and loading screens.
class TARNBY_CPORT_EXPORT TStringStream : public TStream {
public:
    explicit TStringStream(std::string data = {}) : data_(std::move(data)) {}
    std::string ClassName() const override { return "TStringStream"; }
    int32_t Read(void* buffer, int32_t count) override
    {
        if (count <= 0 || position_ >= data_.size())
            return 0;
        size_t n = std::min(static_cast<size_t>(count), data_.size() - position_);
        data_.copy(static_cast<char*>(buffer), n, position_);
        position_ += n;
        return static_cast<int32_t>(n);
    }
    int32_t Write(const void* buffer, int32_t count) override
    {
        if (count <= 0)
            return 0;
        data_.replace(position_, std::min(data_.size() - position_, static_cast<size_t>(count)),
                      static_cast<const char*>(buffer), static_cast<size_t>(count));
        position_ += static_cast<size_t>(count);
        return count;
    }
    // origin 0 from the start, 1 from the present position, 2 from the end.
    int64_t Seek(int64_t offset, int origin) override
    {
        int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(position_) : static_cast<int64_t>(data_.size());
        int64_t target = std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(data_.size()));
        position_ = static_cast<size_t>(target);
        return target;
    }
    const std::string& DataString() const { return data_; }

private:
    std::string data_;
    size_t position_ = 0;
};

} // namespace tarnby
