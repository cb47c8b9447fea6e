// Inside the device layer only: helpers its implementations share.
#pragma once

#include "tarnby/cport/platform/comm.h"

#include <functional>
#include <pthread.h>

namespace tarnby::comm {

// A thread that repeats a wait which nothing but a signal could otherwise
// cut short (the kernel's wait for modem-line changes). Stop needs no signal
// handler of ours and works whatever signals the starting thread blocks: it
// cancels the thread, which the C library does with a signal of its own that
// no application can own or block, and only while the thread is inside the
// wait.
class TARNBY_CPORT_EXPORT WaitLoopThread {
public:
    // wait() blocks until something happened (0) or fails (an errno); it
    // must hold no resources, since it may be left at any point.
    // after(result) runs outside the wait and returns false to end the loop.
    WaitLoopThread(std::function<int()> wait, std::function<bool(int)> after);
    ~WaitLoopThread();
    WaitLoopThread(const WaitLoopThread&) = delete;
    WaitLoopThread& operator=(const WaitLoopThread&) = delete;

    // 0 or the errno of the thread's creation.
    int Start(const char* name);
    // Returns once the thread has ended; does nothing if it never started.
    void Stop();

private:
    static void* Main(void* self);
    std::function<int()> wait_;
    std::function<bool(int)> after_;
    const char* name_ = "";
    bool started_ = false;
    pthread_t thread_{};
};

// The device on a POSIX tty at path (comm_posix.cpp); null with error set
// when it cannot be opened.
std::unique_ptr<ComDevice> OpenPosixComDevice(const std::string& path, int& error);

} // namespace tarnby::comm
