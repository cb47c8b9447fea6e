#include "fake_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

namespace {

class FakeDevice : public comm::ComDevice {
public:
    explicit FakeDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line))
    {
        std::lock_guard lock(line_->mutex);
        ++line_->live_devices;
    }
    ~FakeDevice() override { Close(); }

    void Close() override
    {
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return;
        closed_ = true;
        if (pending_ != nullptr) {
            pending_->Complete(0, ECANCELED);
            pending_ = nullptr;
        }
        line_->calls.push_back("Close");
        --line_->live_devices;
        line_->wake.signal();
    }
    // Its wake-up for looks stands for the tty: each write is an arrival.
    int InputEdgeFd() const override { return line_->notify_input ? line_->look.fd() : -1; }
    void SetInputByNotify(bool on) override
    {
        {
            std::lock_guard lock(line_->mutex);
            line_->by_notify = on;
        }
        Wake();
    }

    int SetupComm(int32_t in, int32_t out) override
    {
        return Record("SetupComm " + std::to_string(in) + " " + std::to_string(out), "SetupComm");
    }
    int SetCommState(const comm::DCB& dcb) override
    {
        if (int e = Record("SetCommState", "SetCommState"))
            return e;
        std::lock_guard lock(line_->mutex);
        line_->dcb = dcb;
        return 0;
    }
    int SetCommTimeouts(const comm::COMMTIMEOUTS& t) override
    {
        if (int e = Record("SetCommTimeouts", "SetCommTimeouts"))
            return e;
        std::lock_guard lock(line_->mutex);
        line_->timeouts = t;
        return 0;
    }
    int SetCommMask(uint32_t mask) override
    {
        if (int e = Record("SetCommMask " + std::to_string(mask), "SetCommMask"))
            return e;
        {
            std::lock_guard lock(line_->mutex);
            line_->mask = mask;
            line_->pending_events = 0;
            ++line_->mask_generation;
        }
        Wake();
        return 0;
    }
    int WaitCommEvent(uint32_t& mask, const comm::ComStopEvent* stop, int timeout_ms) override
    {
        mask = 0;
        if (int e = line_->Fail("WaitCommEvent"))
            return e;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        std::unique_lock lock(line_->mutex);
        if (closed_)
            return EBADF;
        const bool look = timeout_ms == 0;
        if (look)
            line_->look.drain();
        uint32_t generation = line_->mask_generation;
        for (;;) {
            if (closed_)
                return EBADF;
            if (line_->mask_generation != generation)
                return 0;
            const uint32_t takeable = look || !line_->by_notify ? line_->mask : line_->mask & ~comm::kInputEvents;
            if (uint32_t ready = line_->pending_events & takeable) {
                line_->pending_events &= ~ready;
                mask = ready;
                return 0;
            }
            if (stop != nullptr && stop->IsSet())
                return 0;
            int wait_ms = -1;
            if (timeout_ms >= 0) {
                auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0)
                    return 0;
                wait_ms = static_cast<int>(left.count());
            }
            pollfd fds[2] = {{line_->wake.fd(), POLLIN, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
            line_->wake.drain();
            lock.unlock();
            ::poll(fds, stop ? 2 : 1, wait_ms);
            lock.lock();
        }
    }
    int ReadFile(void* buffer, int32_t count, comm::ComOverlapped& overlapped) override
    {
        if (int e = line_->Fail("ReadFile"))
            return e;
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return EBADF;
        int32_t n = std::min<int32_t>(count, static_cast<int32_t>(line_->input.size()));
        std::copy_n(line_->input.begin(), n, static_cast<uint8_t*>(buffer));
        line_->input.erase(line_->input.begin(), line_->input.begin() + n);
        overlapped.Complete(n, line_->failing.count("ReadResult") ? line_->failing["ReadResult"] : 0);
        return 0;
    }
    int WriteFile(const void* buffer, int32_t count, comm::ComOverlapped& overlapped) override
    {
        if (int e = line_->Fail("WriteFile"))
            return e;
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return EBADF;
        if (line_->failing.count("WritePending")) {
            // Left running until the test aborts it.
            overlapped.Begin(this);
            pending_ = &overlapped;
            return comm::kIoPending;
        }
        auto* bytes = static_cast<const uint8_t*>(buffer);
        line_->written.insert(line_->written.end(), bytes, bytes + count);
        overlapped.Complete(count, line_->failing.count("WriteResult") ? line_->failing["WriteResult"] : 0);
        return 0;
    }
    int PurgeComm(uint32_t flags) override
    {
        if (int e = Record("PurgeComm " + std::to_string(flags), "PurgeComm"))
            return e;
        std::lock_guard lock(line_->mutex);
        if ((flags & comm::PURGE_TXABORT) && pending_ != nullptr) {
            pending_->Complete(0, 0);
            pending_ = nullptr;
        }
        if (flags & comm::PURGE_RXCLEAR)
            line_->input.clear();
        return 0;
    }
    int DrainOutput(int) override { return Record("DrainOutput", "DrainOutput"); }
    int ClearCommError(uint32_t& errors, comm::COMSTAT& stat) override
    {
        errors = 0;
        stat = {};
        if (int e = line_->Fail("ClearCommError"))
            return e;
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return EBADF;
        errors = line_->errors;
        line_->errors = 0;
        stat.cbInQue = static_cast<uint32_t>(line_->input.size());
        return 0;
    }
    int GetCommModemStatus(uint32_t& status) override
    {
        status = 0;
        if (int e = line_->Fail("GetCommModemStatus"))
            return e;
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return EBADF;
        status = line_->modem_status;
        return 0;
    }
    int EscapeCommFunction(uint32_t function) override
    {
        return Record("Escape " + std::to_string(function), "EscapeCommFunction");
    }
    int TransmitCommChar(char c) override
    {
        if (int e = line_->Fail("TransmitCommChar"))
            return e;
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return EBADF;
        line_->written.push_back(static_cast<uint8_t>(c));
        return 0;
    }
    void Cancel(comm::ComOverlapped& overlapped) override
    {
        std::lock_guard lock(line_->mutex);
        if (pending_ == &overlapped) {
            overlapped.Complete(0, ECANCELED);
            pending_ = nullptr;
        }
    }

private:
    int Record(const std::string& call, const std::string& op)
    {
        std::lock_guard lock(line_->mutex);
        if (closed_)
            return EBADF;
        line_->calls.push_back(call);
        auto it = line_->failing.find(op);
        return it == line_->failing.end() ? 0 : it->second;
    }
    void Wake() { line_->wake.signal(); }

    std::shared_ptr<FakeLine> line_;
    comm::ComOverlapped* pending_ = nullptr;
    bool closed_ = false; // guarded by the line's mutex
};

} // namespace

void FakeLine::Raise(uint32_t events)
{
    bool for_look;
    {
        std::lock_guard lock(mutex);
        pending_events |= events & mask;
        for_look = by_notify && (events & mask & comm::kInputEvents) != 0;
    }
    wake.signal();
    if (for_look)
        look.signal();
}

void FakeLine::Receive(const std::string& bytes)
{
    {
        std::lock_guard lock(mutex);
        input.insert(input.end(), bytes.begin(), bytes.end());
    }
    Raise(comm::EV_RXCHAR);
}

std::vector<std::string> FakeLine::Calls()
{
    std::lock_guard lock(mutex);
    return calls;
}

void FakeLine::ClearCalls()
{
    std::lock_guard lock(mutex);
    calls.clear();
}

int FakeLine::Fail(const std::string& op)
{
    std::lock_guard lock(mutex);
    auto it = failing.find(op);
    return it == failing.end() ? 0 : it->second;
}

FakeDeviceScope::FakeDeviceScope() : line(std::make_shared<FakeLine>())
{
    std::weak_ptr<FakeLine> weak = line;
    comm::SetComDeviceOpener([weak](const std::string& port, int& error) -> std::unique_ptr<comm::ComDevice> {
        auto l = weak.lock();
        if (!l) {
            error = ENODEV;
            return nullptr;
        }
        {
            std::lock_guard lock(l->mutex);
            if (l->open_error != 0) {
                error = l->open_error;
                return nullptr;
            }
            l->opened_port = port;
            ++l->open_count;
            l->calls.push_back("Open " + port);
        }
        return std::make_unique<FakeDevice>(l);
    });
}

FakeDeviceScope::~FakeDeviceScope()
{
    comm::SetComDeviceOpener({});
}
