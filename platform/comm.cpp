#include "platform/comm_internal.h"
#include "platform/os_hooks.h"

#include <cerrno>
#include <csignal>

namespace tarnby::comm {

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

ComStopEvent::ComStopEvent() : fd_(-1)
{
    os::Wake wake;
    error_ = os::MakeWake(wake);
    fd_ = wake.poll_fd;
    signal_fd_ = wake.signal_fd;
}

ComStopEvent::~ComStopEvent()
{
    os::Wake wake{fd_, signal_fd_};
    os::CloseWake(wake);
}

void ComStopEvent::Set()
{
    set_ = true;
    os::SignalWake(os::Wake{fd_, signal_fd_});
}

void ComStopEvent::Reset()
{
    set_ = false;
    os::DrainWake(os::Wake{fd_, signal_fd_});
}

bool ComStopEvent::IsSet() const { return set_; }

// ---- WaitLoopThread ----------------------------------------------------------

WaitLoopThread::WaitLoopThread(std::function<int()> wait, std::function<bool(int)> after)
    : wait_(std::move(wait)), after_(std::move(after))
{
}

WaitLoopThread::~WaitLoopThread() { Stop(); }

int WaitLoopThread::Start(const char* name)
{
    if (started_)
        return 0;
    name_ = name;
    // The thread takes no signals meant for the application's own threads.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    int error = pthread_create(&thread_, nullptr, &WaitLoopThread::Main, this);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    started_ = error == 0;
    return error;
}

void WaitLoopThread::Stop()
{
    if (!started_)
        return;
    started_ = false;
    // Acted on at once inside the wait, or as soon as the thread enters it
    // again; never while it is in after().
    pthread_cancel(thread_);
    pthread_join(thread_, nullptr);
}

void* WaitLoopThread::Main(void* arg)
{
    auto* self = static_cast<WaitLoopThread*>(arg);
    os::NameThisThread(self->name_);
    // Cancellation is enabled only around the wait, and then acts at once:
    // the wait holds nothing that could be left behind.
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
    for (;;) {
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
        int result = self->wait_();
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        if (!self->after_(result))
            break;
    }
    return nullptr;
}

// ---- opening -----------------------------------------------------------------

namespace {
std::mutex g_opener_mutex;
ComDeviceOpener g_opener;
}

void SetComDeviceOpener(ComDeviceOpener opener)
{
    std::lock_guard lock(g_opener_mutex);
    g_opener = std::move(opener);
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
    return OpenPosixComDevice(DevicePath(port), error);
}

} // namespace tarnby::comm
