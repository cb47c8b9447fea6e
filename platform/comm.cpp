#include "platform/comm.h"

#include <cerrno>
#include <cstdlib>
#include <sys/eventfd.h>
#include <unistd.h>

namespace comm {

// ---- ComOverlapped ---------------------------------------------------------

ComOverlapped::~ComOverlapped()
{
    // A transfer still running would write into a dead object: withdraw it.
    if (ComDevice* device = pending_on_.load())
        device->Cancel(*this);
}

int ComOverlapped::Result(bool wait, int32_t& bytes)
{
    std::unique_lock lock(mutex_);
    if (!done_) {
        if (!wait)
            return kIoIncomplete;
        done_cv_.wait(lock, [this] { return done_; });
    }
    bytes = bytes_;
    return error_;
}

bool ComOverlapped::Completed()
{
    std::lock_guard lock(mutex_);
    return done_;
}

void ComOverlapped::Begin(ComDevice* device)
{
    std::lock_guard lock(mutex_);
    done_ = false;
    bytes_ = 0;
    error_ = 0;
    pending_on_ = device;
}

void ComOverlapped::Complete(int32_t bytes, int error)
{
    std::lock_guard lock(mutex_);
    bytes_ = bytes;
    error_ = error;
    done_ = true;
    pending_on_ = nullptr;
    done_cv_.notify_all();
}

// ---- ComStopEvent ------------------------------------------------------------

ComStopEvent::ComStopEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ComStopEvent::~ComStopEvent()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void ComStopEvent::Set()
{
    set_ = true;
    uint64_t one = 1;
    // A full counter is as set as it gets; nothing to do about EAGAIN.
    [[maybe_unused]] ssize_t r = ::write(fd_, &one, sizeof one);
}

void ComStopEvent::Reset()
{
    set_ = false;
    uint64_t value;
    [[maybe_unused]] ssize_t r = ::read(fd_, &value, sizeof value);
}

bool ComStopEvent::IsSet() const { return set_; }

// ---- opening -----------------------------------------------------------------

namespace {
std::mutex g_opener_mutex;
ComDeviceOpener g_opener;
}

std::unique_ptr<ComDevice> OpenLinuxComDevice(const std::string& path, int& error);

void SetComDeviceOpener(ComDeviceOpener opener)
{
    std::lock_guard lock(g_opener_mutex);
    g_opener = std::move(opener);
}

std::string DevicePath(const std::string& port)
{
    if (!port.empty() && port[0] == '/')
        return port;
    // "COMn" (any letter case, n from 1) is the n-th standard serial port.
    if (port.size() > 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' && (port[2] | 0x20) == 'm') {
        bool digits = true;
        for (size_t i = 3; i < port.size(); ++i)
            digits = digits && port[i] >= '0' && port[i] <= '9';
        if (digits && port.size() < 10) {
            long n = std::strtol(port.c_str() + 3, nullptr, 10);
            if (n >= 1)
                return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    return "/dev/" + port;
}

std::unique_ptr<ComDevice> OpenComDevice(const std::string& port, int& error)
{
    ComDeviceOpener opener;
    {
        std::lock_guard lock(g_opener_mutex);
        opener = g_opener;
    }
    error = 0;
    if (opener)
        return opener(port, error);
    if (port.empty()) {
        error = ENOENT;
        return nullptr;
    }
    return OpenLinuxComDevice(DevicePath(port), error);
}

} // namespace comm
