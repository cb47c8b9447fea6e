// The small class library the serial port component is written against:
// components with an owner and a loading state, assignable settings objects,
// a thread that can run routines on the thread that owns it, string lists,
// streams and the common exception base. Only what the component needs.
#pragma once

#include "tarnby/cport/export.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class QObject;
class QSocketNotifier;
class QThread;

namespace tarnby::comm {
class OwnerPresence;
}

namespace tarnby {

// Base of every exception the component raises; what() is the message.
class TARNBY_CPORT_EXPORT Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

// Raised by TPersistent::AssignTo when the target is of a foreign class.
class TARNBY_CPORT_EXPORT EConvertError : public Exception {
public:
    using Exception::Exception;
};

class TARNBY_CPORT_EXPORT TObject {
public:
    virtual ~TObject() = default;
    // The class name as a user reads it in messages ("TComParity").
    virtual std::string ClassName() const { return "TObject"; }
};

class TARNBY_CPORT_EXPORT TPersistent : public TObject {
public:
    std::string ClassName() const override { return "TPersistent"; }
    // Copies Source into this object by asking Source to assign itself here.
    virtual void Assign(const TPersistent& source);

protected:
    // Copies this object into Dest; the base refuses every target.
    virtual void AssignTo(TPersistent& dest) const;
};

enum TComponentStateFlag : uint8_t { csLoading = 0x1, csDesigning = 0x2 };
enum TOperation : uint8_t { opInsert, opRemove };

// A component with an owner that destroys it, a name, and the loading and
// design-mode state of a component being built from a stored description.
class TARNBY_CPORT_EXPORT TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    std::string ClassName() const override { return "TComponent"; }
    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    uint8_t ComponentState() const { return state_; }
    bool Loading() const { return (state_ & csLoading) != 0; }
    bool Designing() const { return (state_ & csDesigning) != 0; }

    // The loader brackets reading a stored description with these: while
    // loading, setters only store; EndLoading then calls Loaded once.
    void BeginLoading() { state_ |= csLoading; }
    void EndLoading();
    void SetDesigning(bool designing);

    // Asks to be told (Notification with opRemove) when component goes away.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(index); }

protected:
    virtual void Loaded() { state_ &= static_cast<uint8_t>(~csLoading); }
    virtual void Notification(TComponent* component, TOperation operation);
    // Tells everyone who asked that this component goes away. The base
    // destructor does it; a derived destructor may do it earlier, while its
    // own members can still be used by those who are told.
    void SendFreeNotifications();

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    TComponent* owner_;
    std::string name_;
    uint8_t state_ = 0;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> free_notifies_;
};

// Where an exception goes that reaches the application's message loop. The
// window installs a handler that shows a message box; without one the
// message goes to standard error.
using TExceptionHandler = std::function<void(const std::exception& e)>;
TARNBY_CPORT_EXPORT void SetApplicationExceptionHandler(TExceptionHandler handler);
// Hands the exception in flight (call inside a catch block) to the handler.
TARNBY_CPORT_EXPORT void ApplicationHandleException();

// A list of strings; Sort orders case-insensitively the way the desktop's
// lists do, so "COM10" comes before "COM2".
class TARNBY_CPORT_EXPORT TStrings : public TPersistent {
public:
    std::string ClassName() const override { return "TStrings"; }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Strings(int index) const { return items_.at(index); }
    int Add(const std::string& s);
    void Clear() { items_.clear(); }
    int IndexOf(const std::string& s) const;
    void Sort();
    void Assign(const TPersistent& source) override;

protected:
    void AssignTo(TPersistent& dest) const override;

private:
    std::vector<std::string> items_;
};
using TStringList = TStrings;

// The byte-stream interface; Read and Write return the bytes moved.
class TARNBY_CPORT_EXPORT TStream : public TObject {
public:
    std::string ClassName() const override { return "TStream"; }
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0;
};

enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Requests that another thread hands to the thread that owns it: routines to
// run there (Synchronize) and sent window messages. They are served by the
// owner's Qt event loop (a posted event wakes it), by CheckSynchronize, and
// by TThread::WaitFor while the owner waits for a thread to end.
class SyncQueue;
// Whether requests sent to the calling thread are served by a Qt event loop:
// a QCoreApplication exists and this thread has Qt's event dispatcher (the
// application's own thread, or a QThread). Its loop still has to run (exec,
// or processEvents while it waits); CheckSynchronize and TThread::WaitFor
// serve the requests too.
TARNBY_CPORT_EXPORT bool EventLoopAvailable();
// Runs the requests waiting for the calling thread; true if any ran.
TARNBY_CPORT_EXPORT bool CheckSynchronize();
// How many requests wait for the calling thread.
TARNBY_CPORT_EXPORT int PendingSynchronize();
// The calling thread's request queue, to send it routines from elsewhere.
TARNBY_CPORT_EXPORT std::shared_ptr<SyncQueue> CurrentSyncQueue();
// Runs routine on the queue's thread and blocks until it has been received
// there: until it returns or calls ReplyMessage. On that thread itself it
// runs at once. An exception it raises goes to the application's handler.
TARNBY_CPORT_EXPORT void SendSynchronous(const std::shared_ptr<SyncQueue>& queue, std::function<void()> routine);

// The request being served on this thread, so a routine can release its
// sender before it has finished (InSendMessage / ReplyMessage).
TARNBY_CPORT_EXPORT bool InSendMessage();
TARNBY_CPORT_EXPORT void ReplyMessage();

// A thread with Execute, a terminate flag, synchronisation with the thread
// that created it and a wait for its end that keeps serving that thread's
// synchronisation requests. Created suspended or running; the destructor
// terminates, resumes if need be and waits.
class TARNBY_CPORT_EXPORT TThread : public TObject {
public:
    explicit TThread(bool create_suspended);
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    std::string ClassName() const override { return "TThread"; }
    // Starts a thread created suspended; raises std::system_error when no
    // thread can be made (the object then stays unstarted).
    void Resume();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Finished() const;
    // Waits for the end, serving synchronisation requests sent to the
    // calling (owning) thread meanwhile; no-op for a thread never started.
    void WaitFor();
    TThreadPriority Priority() const { return priority_; }
    // Takes effect when the thread starts, or at once if it runs already.
    void SetPriority(TThreadPriority priority);
    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const { return fatal_; }
    // Whether the calling thread is the one this thread synchronises with.
    bool OwnerIsCurrentThread() const;

protected:
    // A thread that synchronises with the thread of the given request queue
    // instead of the one that creates it.
    TThread(bool create_suspended, std::shared_ptr<SyncQueue> owner);
    virtual void Execute() = 0;
    // Runs method on the owning thread and blocks until it has run there;
    // an exception it raises is raised again here.
    void Synchronize(const std::function<void()>& method);
    // The request queue of the thread that created this one.
    const std::shared_ptr<SyncQueue>& owner_queue() const { return owner_queue_; }
private:
    void Run();
    void ApplyPriority();

    std::shared_ptr<SyncQueue> owner_queue_;
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    bool started_ = false;
    TThreadPriority priority_ = tpNormal;
    std::atomic<int> tid_{0};
    bool finished_ = false; // guarded by the owner queue's mutex
    std::exception_ptr fatal_;
};

// The stand-in for a hidden window that receives messages sent from other
// threads: its method runs on the thread that allocated it, during that
// thread's event loop or while it waits for a TThread.
class TARNBY_CPORT_EXPORT TNotifyWindow : public std::enable_shared_from_this<TNotifyWindow> {
public:
    using Method = std::function<intptr_t(uint32_t message, uintptr_t wparam, intptr_t lparam)>;
    explicit TNotifyWindow(Method method);
    void SendMessage(uint32_t message, uintptr_t wparam, intptr_t lparam);

private:
    Method method_;
    std::shared_ptr<SyncQueue> queue_;
};
TARNBY_CPORT_EXPORT std::shared_ptr<TNotifyWindow> AllocateHWnd(TNotifyWindow::Method method);
// What a window does with a message it does not handle itself.
TARNBY_CPORT_EXPORT intptr_t DefWindowProc(uint32_t message, uintptr_t wparam, intptr_t lparam);

// Runs a routine on the thread that created the watch whenever a descriptor
// is readable, from that thread's Qt event loop. On a thread without one the
// watch is inactive. It may be destroyed from inside its own routine, and
// from another thread (the routine then runs no more; the watch itself goes
// at that thread's next turn of its loop).
class TARNBY_CPORT_EXPORT TDescriptorWatch {
public:
    TDescriptorWatch(int fd, std::function<void()> routine);
    ~TDescriptorWatch();
    TDescriptorWatch(const TDescriptorWatch&) = delete;
    TDescriptorWatch& operator=(const TDescriptorWatch&) = delete;
    bool Active() const { return notifier_ != nullptr; }
    void SetEnabled(bool enabled);
    // What the thread's loop sends its activation to.
    QObject* Notifier() const;

private:
    QSocketNotifier* notifier_ = nullptr;
};

// Where the ports of one thread hear of received input: one descriptor for
// the thread's Qt event loop to watch, whatever the number of ports, so one
// wake-up of the loop serves every port that has input. Shared by whoever
// registers on the thread while someone holds it; none on a thread without
// an event loop or where the system has no such descriptor.
class TARNBY_CPORT_EXPORT TInputHub {
public:
    static std::shared_ptr<TInputHub> OfThisThread();
    ~TInputHub();
    TInputHub(const TInputHub&) = delete;
    TInputHub& operator=(const TInputHub&) = delete;

    // The routine runs on the hub's thread, from its event loop, after each
    // arrival of input on fd (watched edge-triggered) and after each Notice
    // with the key returned; 0 when fd cannot be watched. Remove (from any
    // thread) stops it; a run already begun finishes.
    uint64_t Add(int fd, std::function<void()> routine);
    void Remove(uint64_t key);
    // From any thread: the key's routine runs at the loop's next turn.
    void Notice(uint64_t key);

private:
    struct Entry {
        int fd;
        std::shared_ptr<std::function<void()>> routine;
    };
    TInputHub(int fd, int notice_fd, int notice_signal_fd);
    void Serve();

    QThread* thread_ = nullptr;
    const int fd_;
    const int notice_fd_, notice_signal_fd_;
    std::unique_ptr<TDescriptorWatch> watch_;
    std::mutex mutex_;
    uint64_t next_key_ = 1;
    std::map<uint64_t, Entry> entries_;
    std::vector<uint64_t> noticed_;
};

// A routine registered with a hub for one descriptor, until this goes (from
// any thread).
class TARNBY_CPORT_EXPORT TInputWatch {
public:
    TInputWatch(std::shared_ptr<TInputHub> hub, uint64_t key) : hub_(std::move(hub)), key_(key) {}
    ~TInputWatch() { hub_->Remove(key_); }
    TInputWatch(const TInputWatch&) = delete;
    TInputWatch& operator=(const TInputWatch&) = delete;

private:
    std::shared_ptr<TInputHub> hub_;
    uint64_t key_;
};

// Whether the calling thread waits in its Qt event loop now: one for the
// thread, shared by whoever asks there while someone holds it. Away once the
// thread has been out of that wait for longer than a moment (busy, or in no
// loop), and for good once its loop has gone; every event the loop hands out
// counts as leaving it, but the activation of the thread's input hub (see
// LoopBusyFromHere). Only on the application's thread: on another, the
// loop's own signal does not come before the timers and descriptor watches a
// pass runs, so the time away cannot be told, and there is none. None either
// where the system has no alarm to tell the time away.
TARNBY_CPORT_EXPORT std::shared_ptr<const comm::OwnerPresence> LoopPresenceOfThisThread();

// For the routines of the thread's input hub, which the presence does not
// count as leaving the wait until they say so: called before anything but
// their own reading runs. The first system call after the loop wakes is the
// dearest, and the alarm's setting need not be it; the read they do first
// is bounded and is the very thing the alarm stands guard for.
TARNBY_CPORT_EXPORT void LoopBusyFromHere();

} // namespace tarnby
