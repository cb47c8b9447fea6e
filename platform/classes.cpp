#include "tarnby/cport/platform/classes.h"
#include "tarnby/cport/platform/comm.h"
#include "platform/os_hooks.h"

#include <QCoreApplication>
#include <QEvent>
#include <QAbstractEventDispatcher>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <poll.h>
#include <unistd.h>

namespace tarnby {

// ---- TPersistent, TComponent ----------------------------------------------

void TPersistent::Assign(const TPersistent& source) { source.AssignTo(*this); }

void TPersistent::AssignTo(TPersistent& dest) const
{
    throw EConvertError("Cannot assign a " + ClassName() + " to a " + dest.ClassName());
}

TComponent::TComponent(TComponent* owner) : owner_(owner)
{
    if (owner_ != nullptr) {
        owner_->InsertComponent(this);
        if (owner_->Designing())
            state_ |= csDesigning;
    }
}

TComponent::~TComponent()
{
    // Everyone who asked is told first (unless a derived destructor already
    // did), while this part of the object is still whole.
    SendFreeNotifications();
    // Owned components go before their owner; each removes itself from the list.
    while (!components_.empty())
        delete components_.back();
    if (owner_ != nullptr)
        owner_->RemoveComponent(this);
}

void TComponent::EndLoading()
{
    if (Loading())
        Loaded();
}

void TComponent::SetDesigning(bool designing)
{
    if (designing)
        state_ |= csDesigning;
    else
        state_ &= static_cast<uint8_t>(~csDesigning);
}

void TComponent::FreeNotification(TComponent* component)
{
    if (component == nullptr || component == this)
        return;
    if (std::find(free_notifies_.begin(), free_notifies_.end(), component) == free_notifies_.end())
        free_notifies_.push_back(component);
    if (std::find(component->free_notifies_.begin(), component->free_notifies_.end(), this) ==
        component->free_notifies_.end())
        component->free_notifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component)
{
    std::erase(free_notifies_, component);
    if (component != nullptr)
        std::erase(component->free_notifies_, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::SendFreeNotifications()
{
    auto notifies = free_notifies_;
    free_notifies_.clear();
    for (TComponent* c : notifies) {
        c->RemoveFreeNotification(this);
        c->Notification(this, opRemove);
    }
}

void TComponent::InsertComponent(TComponent* component) { components_.push_back(component); }

void TComponent::RemoveComponent(TComponent* component)
{
    std::erase(components_, component);
    Notification(component, opRemove);
}

// ---- the application's exception handler ------------------------------------

namespace {
std::mutex g_handler_mutex;
TExceptionHandler g_exception_handler;
}

void SetApplicationExceptionHandler(TExceptionHandler handler)
{
    std::lock_guard lock(g_handler_mutex);
    g_exception_handler = std::move(handler);
}

void ApplicationHandleException()
{
    TExceptionHandler handler;
    {
        std::lock_guard lock(g_handler_mutex);
        handler = g_exception_handler;
    }
    try {
        throw;
    } catch (const std::exception& e) {
        if (handler)
            handler(e);
        else
            std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        Exception unknown("Unknown exception");
        if (handler)
            handler(unknown);
        else
            std::fprintf(stderr, "%s\n", unknown.what());
    }
}

// ---- TStrings ----------------------------------------------------------------

int TStrings::Add(const std::string& s)
{
    items_.push_back(s);
    return Count() - 1;
}

int TStrings::IndexOf(const std::string& s) const
{
    auto it = std::find(items_.begin(), items_.end(), s);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TStrings::Sort()
{
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    std::stable_sort(items_.begin(), items_.end(), [&](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char x, char y) { return lower(x) < lower(y); });
    });
}

void TStrings::Assign(const TPersistent& source)
{
    if (auto* strings = dynamic_cast<const TStrings*>(&source)) {
        items_ = strings->items_;
        return;
    }
    TPersistent::Assign(source);
}

void TStrings::AssignTo(TPersistent& dest) const
{
    if (auto* strings = dynamic_cast<TStrings*>(&dest)) {
        strings->items_ = items_;
        return;
    }
    TPersistent::AssignTo(dest);
}

// ---- synchronisation with the owning thread --------------------------------

struct SyncRequest {
    std::function<void()> routine;
    std::exception_ptr error;
    bool carry_exception = false; // Synchronize: raise again in the sender
    bool released = false;        // the sender may go on
};

namespace {
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

class SyncQueue {
public:
    SyncQueue();
    ~SyncQueue();

    void Post(SyncRequest& request);
    // Serves what is waiting now; true if anything ran.
    bool ServeAll();
    // Serves requests until done() holds (checked under the lock).
    void ServeUntil(const std::function<bool()>& done);
    void Release(SyncRequest& request);
    int Pending()
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(pending_.size());
    }

    std::mutex mutex;
    std::condition_variable changed;
    // The request this queue's thread is serving now, until its sender is
    // released (InSendMessage, ReplyMessage); the thread's own, like the
    // queue: only that thread serves it.
    SyncRequest* serving = nullptr;

    // The one thread-local of the class library: a thread's requests are
    // its own data, found by the thread it belongs to.
    static const std::shared_ptr<SyncQueue>& ForCurrentThread();

private:
    class Waker : public QObject {
    public:
        explicit Waker(SyncQueue* queue) : queue_(queue) {}
        bool event(QEvent* e) override
        {
            {
                // Pairs with Post: the event was made under this lock, and
                // Qt's own hand-over is invisible to race checkers.
                std::lock_guard lock(queue_->mutex);
            }
            if (e->type() != kWakeEvent)
                return QObject::event(e);
            queue_->wake_posted_ = false;
            queue_->ServeAll();
            return true;
        }

    private:
        SyncQueue* queue_;
    };

    void Serve(SyncRequest* request);

    std::deque<SyncRequest*> pending_;
    Waker* waker_;
    std::thread::id owner_;
    std::atomic<bool> wake_posted_{false};
};

SyncQueue::SyncQueue() : waker_(new Waker(this)), owner_(std::this_thread::get_id()) {}

SyncQueue::~SyncQueue()
{
    if (std::this_thread::get_id() == owner_)
        delete waker_;
    else
        waker_->deleteLater();
}

const std::shared_ptr<SyncQueue>& SyncQueue::ForCurrentThread()
{
    thread_local std::shared_ptr<SyncQueue> queue = std::make_shared<SyncQueue>();
    return queue;
}

void SyncQueue::Post(SyncRequest& request)
{
    QEvent* wake = nullptr;
    {
        std::lock_guard lock(mutex);
        pending_.push_back(&request);
        // One wake-up event at a time is enough: it serves everything queued.
        if (QCoreApplication::instance() != nullptr && !wake_posted_.exchange(true))
            wake = new QEvent(kWakeEvent);
    }
    changed.notify_all();
    if (wake != nullptr)
        QCoreApplication::postEvent(waker_, wake, Qt::HighEventPriority);
}

void SyncQueue::Release(SyncRequest& request)
{
    {
        std::lock_guard lock(mutex);
        request.released = true;
    }
    changed.notify_all();
}

void SyncQueue::Serve(SyncRequest* request)
{
    // The routine is moved out first: once released, the sender's request
    // (on its stack) may be gone while the routine is still running.
    std::function<void()> routine;
    {
        std::lock_guard lock(mutex);
        routine = std::move(request->routine);
    }
    SyncRequest* outer = serving;
    serving = request;
    std::exception_ptr error;
    try {
        routine();
    } catch (...) {
        error = std::current_exception();
    }
    bool still_waiting = (serving == request);
    serving = outer;
    if (!still_waiting) {
        // Released early by ReplyMessage: nobody waits for an exception.
        if (error) {
            try {
                std::rethrow_exception(error);
            } catch (...) {
                ApplicationHandleException();
            }
        }
        return;
    }
    if (error && !request->carry_exception) {
        try {
            std::rethrow_exception(error);
        } catch (...) {
            ApplicationHandleException();
        }
        error = nullptr;
    }
    {
        std::lock_guard lock(mutex);
        // Moved, not copied: the sender alone then holds the exception, and
        // frees it after it has read it.
        request->error = std::move(error);
        request->released = true;
    }
    changed.notify_all();
}

bool SyncQueue::ServeAll()
{
    bool any = false;
    for (;;) {
        SyncRequest* request;
        {
            std::lock_guard lock(mutex);
            if (pending_.empty())
                return any;
            request = pending_.front();
            pending_.pop_front();
        }
        Serve(request);
        any = true;
    }
}

void SyncQueue::ServeUntil(const std::function<bool()>& done)
{
    for (;;) {
        SyncRequest* request;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return done() || !pending_.empty(); });
            // Once done, later requests wait for the thread's own loop.
            if (done() || pending_.empty())
                return;
            request = pending_.front();
            pending_.pop_front();
        }
        Serve(request);
    }
}

bool EventLoopAvailable()
{
    return QCoreApplication::instance() != nullptr && QAbstractEventDispatcher::instance(QThread::currentThread()) != nullptr;
}

bool CheckSynchronize() { return SyncQueue::ForCurrentThread()->ServeAll(); }

int PendingSynchronize() { return SyncQueue::ForCurrentThread()->Pending(); }

bool InSendMessage() { return SyncQueue::ForCurrentThread()->serving != nullptr; }

void ReplyMessage()
{
    SyncQueue& queue = *SyncQueue::ForCurrentThread();
    SyncRequest* request = queue.serving;
    if (request == nullptr)
        return;
    queue.serving = nullptr;
    queue.Release(*request);
}

// ---- TThread -------------------------------------------------------------------

TThread::TThread(bool create_suspended) : TThread(create_suspended, SyncQueue::ForCurrentThread()) {}

TThread::TThread(bool create_suspended, std::shared_ptr<SyncQueue> owner) : owner_queue_(std::move(owner))
{
    if (!create_suspended)
        Resume();
}

bool TThread::OwnerIsCurrentThread() const { return owner_queue_ == SyncQueue::ForCurrentThread(); }

TThread::~TThread()
{
    Terminate();
    if (started_) {
        WaitFor();
        if (thread_.joinable())
            thread_.join();
    }
}

void TThread::Resume()
{
    if (started_)
        return;
    thread_ = std::thread([this] { Run(); });
    started_ = true;
}

bool TThread::Finished() const
{
    std::lock_guard lock(owner_queue_->mutex);
    return finished_;
}

void TThread::Run()
{
    tid_ = os::ThisThreadId();
    ApplyPriority();
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    {
        std::lock_guard lock(owner_queue_->mutex);
        finished_ = true;
    }
    owner_queue_->changed.notify_all();
}

void TThread::WaitFor()
{
    if (!started_)
        return;
    if (owner_queue_ == SyncQueue::ForCurrentThread()) {
        owner_queue_->ServeUntil([this] { return finished_; });
    } else {
        std::unique_lock lock(owner_queue_->mutex);
        owner_queue_->changed.wait(lock, [this] { return finished_; });
    }
    if (thread_.joinable())
        thread_.join();
}

void TThread::SetPriority(TThreadPriority priority)
{
    priority_ = priority;
    if (tid_ != 0)
        ApplyPriority();
}

void TThread::ApplyPriority()
{
    // Raising above normal may need a privilege; without it the thread
    // simply keeps normal priority.
    os::SetThreadPriority(tid_.load(), priority_);
}

void TThread::Synchronize(const std::function<void()>& method)
{
    if (owner_queue_ == SyncQueue::ForCurrentThread()) {
        method();
        return;
    }
    SyncRequest request;
    request.routine = method;
    request.carry_exception = true;
    owner_queue_->Post(request);
    {
        std::unique_lock lock(owner_queue_->mutex);
        owner_queue_->changed.wait(lock, [&] { return request.released; });
    }
    if (request.error)
        std::rethrow_exception(request.error);
}

std::shared_ptr<SyncQueue> CurrentSyncQueue() { return SyncQueue::ForCurrentThread(); }

void SendSynchronous(const std::shared_ptr<SyncQueue>& queue, std::function<void()> routine)
{
    if (queue == SyncQueue::ForCurrentThread()) {
        try {
            routine();
        } catch (...) {
            ApplicationHandleException();
        }
        return;
    }
    SyncRequest request;
    request.routine = std::move(routine);
    queue->Post(request);
    std::unique_lock lock(queue->mutex);
    queue->changed.wait(lock, [&] { return request.released; });
}

// ---- the notification window ----------------------------------------------------

TNotifyWindow::TNotifyWindow(Method method) : method_(std::move(method)), queue_(SyncQueue::ForCurrentThread()) {}

void TNotifyWindow::SendMessage(uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    // The routine keeps the window alive: the method may free the window's
    // owner's reference to it while it runs.
    SendSynchronous(queue_, [self = shared_from_this(), message, wparam, lparam] {
        self->method_(message, wparam, lparam);
    });
}

std::shared_ptr<TNotifyWindow> AllocateHWnd(TNotifyWindow::Method method)
{
    return std::make_shared<TNotifyWindow>(std::move(method));
}

intptr_t DefWindowProc(uint32_t, uintptr_t, intptr_t) { return 0; }

// ---- descriptor watch ------------------------------------------------------------

TDescriptorWatch::TDescriptorWatch(int fd, std::function<void()> routine)
{
    if (fd < 0 || QAbstractEventDispatcher::instance() == nullptr)
        return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read);
    // Held by the connection, not by this object, so that the routine
    // survives the watch being destroyed while it runs.
    auto shared = std::make_shared<std::function<void()>>(std::move(routine));
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [shared] {
        std::shared_ptr<std::function<void()>> keep = shared;
        (*keep)();
    });
}

TDescriptorWatch::~TDescriptorWatch()
{
    if (notifier_ == nullptr)
        return;
    QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
    if (notifier_->thread() == QThread::currentThread()) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        return;
    }
    // A notifier is switched off only on its own thread.
    QSocketNotifier* notifier = notifier_;
    QMetaObject::invokeMethod(
        notifier,
        [notifier] {
            notifier->setEnabled(false);
            delete notifier;
        },
        Qt::QueuedConnection);
}

QObject* TDescriptorWatch::Notifier() const { return notifier_; }

void TDescriptorWatch::SetEnabled(bool enabled)
{
    if (notifier_ != nullptr)
        notifier_->setEnabled(enabled);
}

// ---- one input hub a thread -----------------------------------------------------

namespace {
// The hub's own key for its notice wake-up.
constexpr uint64_t kNoticeKey = 0;
// The notifier of this thread's hub, whose activation the loop's presence
// leaves to the hub's routines (LoopBusyFromHere); it clears itself when the
// notifier goes, so no later object can be taken for it.
thread_local QPointer<QObject> t_hub_notifier;
// Never destroyed: a thread's loop may go after the program's statics.
std::mutex& g_hub_mutex = *new std::mutex;
auto& g_hubs = *new std::map<const QAbstractEventDispatcher*, std::weak_ptr<TInputHub>>;
} // namespace

std::shared_ptr<TInputHub> TInputHub::OfThisThread()
{
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (loop == nullptr)
        return nullptr;
    std::lock_guard lock(g_hub_mutex);
    if (std::shared_ptr<TInputHub> known = g_hubs[loop].lock())
        return known;
    int fd = -1;
    if (os::MakeInputHub(fd) != 0)
        return nullptr;
    os::Wake notice;
    if (os::MakeWake(notice) != 0 || os::HubWatch(fd, notice.poll_fd, kNoticeKey, false) != 0) {
        os::CloseWake(notice);
        ::close(fd);
        return nullptr;
    }
    std::shared_ptr<TInputHub> hub(new TInputHub(fd, notice.poll_fd, notice.signal_fd));
    hub->thread_ = QThread::currentThread();
    std::weak_ptr<TInputHub> weak = hub;
    hub->watch_ = std::make_unique<TDescriptorWatch>(fd, [weak] {
        if (std::shared_ptr<TInputHub> self = weak.lock())
            self->Serve();
    });
    if (!hub->watch_->Active())
        return nullptr;
    t_hub_notifier = hub->watch_->Notifier();
    g_hubs[loop] = hub;
    return hub;
}

TInputHub::TInputHub(int fd, int notice_fd, int notice_signal_fd)
    : fd_(fd), notice_fd_(notice_fd), notice_signal_fd_(notice_signal_fd)
{
}

TInputHub::~TInputHub()
{
    watch_.reset();
    auto close_all = [fd = fd_, notice = os::Wake{notice_fd_, notice_signal_fd_}]() mutable {
        os::CloseWake(notice);
        ::close(fd);
    };
    // Let go of elsewhere: the thread's loop may still poll the descriptor
    // until its notifier has gone there (a number closed now could come
    // back as another file). Closed after it, on that thread.
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance(thread_);
    if (thread_ == QThread::currentThread() || loop == nullptr ||
        !QMetaObject::invokeMethod(loop, close_all, Qt::QueuedConnection))
        close_all();
}

uint64_t TInputHub::Add(int fd, std::function<void()> routine)
{
    std::lock_guard lock(mutex_);
    const uint64_t key = next_key_++;
    if (os::HubWatch(fd_, fd, key, true) != 0)
        return 0;
    entries_[key] = Entry{fd, std::make_shared<std::function<void()>>(std::move(routine))};
    return key;
}

void TInputHub::Remove(uint64_t key)
{
    std::lock_guard lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end())
        return;
    os::HubForget(fd_, it->second.fd);
    entries_.erase(it);
}

void TInputHub::Notice(uint64_t key)
{
    std::lock_guard lock(mutex_);
    // One wake-up of the loop for however many notices come before it turns.
    if (noticed_.empty())
        os::SignalWake(os::Wake{notice_fd_, notice_signal_fd_});
    noticed_.push_back(key);
}

void TInputHub::Serve()
{
    // Every port that reported, each once, in the order they did.
    std::vector<uint64_t> keys;
    uint64_t taken[64];
    for (;;) {
        int n = os::HubTake(fd_, taken, 64);
        keys.insert(keys.end(), taken, taken + n);
        if (n < 64)
            break;
    }
    std::vector<std::shared_ptr<std::function<void()>>> routines;
    {
        std::lock_guard lock(mutex_);
        if (std::find(keys.begin(), keys.end(), kNoticeKey) != keys.end()) {
            os::DrainWake(os::Wake{notice_fd_, notice_signal_fd_});
            keys.insert(keys.end(), noticed_.begin(), noticed_.end());
            noticed_.clear();
        }
        for (uint64_t key : keys) {
            auto it = entries_.find(key);
            if (key == kNoticeKey || it == entries_.end())
                continue;
            if (std::find(routines.begin(), routines.end(), it->second.routine) == routines.end())
                routines.push_back(it->second.routine);
        }
    }
    // Outside the lock: a routine may add, remove or notice.
    for (const auto& routine : routines)
        (*routine)();
}

// ---- the presence of a thread at its event loop ----------------------------------

namespace {

// How long the owner may be away from its loop before the device's waits
// watch the input again: longer than a loop's turn over many ports' input
// usually takes, short against what a tty holds. A hang-up discards what the
// tty still holds; bytes that came within this time before one, while the
// owner was busy, are the only ones at risk.
constexpr int kAwayMicros = 5000;

class LoopPresence;

// The loop's signal that it has woken is not given before everything it
// runs: the default loop on Linux (GLib's) gives it only for a pass that may
// not wait, and neither loop before the timers and descriptor watches of a
// pass that did wait. The application's own thread has a better witness:
// every event its loop hands out passes the application's event filters.
class LeavingLoopFilter : public QObject {
public:
    explicit LeavingLoopFilter(std::weak_ptr<LoopPresence> presence) : presence_(std::move(presence)) {}
    bool eventFilter(QObject* receiver, QEvent*) override;

private:
    std::weak_ptr<LoopPresence> presence_;
};

class LoopPresence : public comm::OwnerPresence {
public:
    explicit LoopPresence(int fd) : fd_(fd) {}
    ~LoopPresence() override
    {
        for (const QMetaObject::Connection& c : connections_)
            QObject::disconnect(c);
        // Goes on its own thread (the last holder may be another).
        if (filter_ != nullptr && filter_->thread() == QThread::currentThread())
            delete filter_;
        else if (filter_ != nullptr)
            filter_->deleteLater();
        ::close(fd_);
    }
    bool Away() const override
    {
        pollfd p{fd_, POLLIN, 0};
        return loop_gone_.load() || ::poll(&p, 1, 0) > 0;
    }
    int AwayFd() const override { return fd_; }

    // Called on the thread itself by its loop; the alarm is set once a pass,
    // and not at all in a pass that ran nobody's routine.
    void Waiting()
    {
        if (!set_)
            return;
        set_ = false;
        os::SetAlarm(fd_, 0);
    }
    void Awake()
    {
        if (set_)
            return;
        set_ = true;
        os::SetAlarm(fd_, kAwayMicros);
    }
    void LoopGone()
    {
        loop_gone_ = true;
        os::SetAlarm(fd_, 1);
    }

    std::vector<QMetaObject::Connection> connections_;
    QObject* filter_ = nullptr;

private:
    const int fd_;
    bool set_ = false; // the thread's own
    std::atomic<bool> loop_gone_{false};
};

bool LeavingLoopFilter::eventFilter(QObject* receiver, QEvent*)
{
    // Whatever reaches the hub's notifier comes from our own code: its
    // activation, and its own going. The event itself is not looked at: a
    // posted one was written on another thread, under a lock of Qt's that
    // the thread checker does not see.
    if (receiver == t_hub_notifier.data())
        return false;
    if (std::shared_ptr<LoopPresence> presence = presence_.lock())
        presence->Awake();
    return false;
}

// Never destroyed: a thread's loop may go after the program's statics.
std::mutex& g_presence_mutex = *new std::mutex;
auto& g_presences = *new std::map<const QAbstractEventDispatcher*, std::weak_ptr<LoopPresence>>;
thread_local std::weak_ptr<LoopPresence> t_presence;

} // namespace

void LoopBusyFromHere()
{
    if (std::shared_ptr<LoopPresence> presence = t_presence.lock())
        presence->Awake();
}

std::shared_ptr<const comm::OwnerPresence> LoopPresenceOfThisThread()
{
    // Only the application's thread has a witness of every routine its loop
    // runs (the event filter below). Elsewhere an owner busy in a timer or a
    // descriptor watch would count as waiting, its event threads would stay
    // off the line, and a hang-up would discard what the tty held meanwhile:
    // there the event threads watch the line always.
    QCoreApplication* application = QCoreApplication::instance();
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
    if (loop == nullptr || application == nullptr || application->thread() != QThread::currentThread())
        return nullptr;
    std::lock_guard lock(g_presence_mutex);
    if (std::shared_ptr<LoopPresence> known = g_presences[loop].lock())
        return known;
    int fd = -1;
    if (os::MakeAlarm(fd) != 0)
        return nullptr;
    auto presence = std::make_shared<LoopPresence>(fd);
    // Asked from a running routine: away until the loop next waits.
    presence->Awake();
    std::weak_ptr<LoopPresence> weak = presence;
    auto on = [weak](void (LoopPresence::*what)()) {
        return [weak, what] {
            if (std::shared_ptr<LoopPresence> p = weak.lock())
                ((*p).*what)();
        };
    };
    presence->connections_ = {
        QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, on(&LoopPresence::Waiting)),
        QObject::connect(loop, &QAbstractEventDispatcher::awake, on(&LoopPresence::Awake)),
        QObject::connect(loop, &QObject::destroyed,
                         [weak, loop] {
                             if (std::shared_ptr<LoopPresence> p = weak.lock())
                                 p->LoopGone();
                             std::lock_guard gone(g_presence_mutex);
                             g_presences.erase(loop);
                         }),
    };
    presence->filter_ = new LeavingLoopFilter(presence);
    application->installEventFilter(presence->filter_);
    g_presences[loop] = presence;
    t_presence = presence;
    return presence;
}

} // namespace tarnby
