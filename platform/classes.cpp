#include "tarnby/cport/platform/classes.h"
#include "platform/os_hooks.h"

#include <QCoreApplication>
#include <QEvent>
#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <cstdio>

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

void TDescriptorWatch::SetEnabled(bool enabled)
{
    if (notifier_ != nullptr)
        notifier_->setEnabled(enabled);
}

} // namespace tarnby
