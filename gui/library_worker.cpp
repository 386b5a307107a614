#include "gui/library_worker.h"

#include "gui/message_box.h"
#include "platform/common/log.h"
#include "platform/desktop/message_box.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <exception>
#include <vector>

namespace kvr::gui {
namespace {

std::atomic<LibraryWorker*> g_current{nullptr};
thread_local LibraryWorker* t_ownWorker = nullptr; // set on a worker's own thread

// Frames of GUI-thread event processing that belong to a wait (see insideWait).
int g_waitDepth = 0;

struct Deferred {
    QPointer<QObject> context;
    std::function<void()> action;
};
std::vector<Deferred> g_afterWaits;

bool onGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Wakes the GUI thread from a blocking wait for events: an empty queued call.
void wakeGuiThread() {
    detail::toGuiThread([] {});
}

// The waits ended: what was put off until then is queued for the next turn of the event loop
// (it runs there unless a new wait has begun, which puts it off again).
void releaseAfterWaits() {
    std::vector<Deferred> due;
    due.swap(g_afterWaits);
    for (Deferred& d : due) {
        if (!d.context) continue;
        QTimer::singleShot(0, d.context.data(),
                           [context = d.context, action = std::move(d.action)] {
                               afterWaits(context.data(), action);
                           });
    }
}

} // namespace

namespace detail {

void toGuiThread(std::function<void()> action) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(app, std::move(action), Qt::QueuedConnection);
}

} // namespace detail

// ---- waits of the GUI thread
// ---------------------------------------------------------------------

bool insideWait() {
    return onGuiThread() && g_waitDepth > 0;
}

void afterWaits(QObject* context, std::function<void()> action) {
    if (context == nullptr || !action) return;
    if (!insideWait()) {
        action();
        return;
    }
    g_afterWaits.push_back({QPointer<QObject>(context), std::move(action)});
}

void pumpEvents(bool blockUntilEvent) {
    if (!onGuiThread()) return;
    ++g_waitDepth;
    QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
    if (blockUntilEvent) flags |= QEventLoop::WaitForMoreEvents;
    QCoreApplication::processEvents(flags);
    if (--g_waitDepth == 0 && !g_afterWaits.empty()) releaseAfterWaits();
}

// ---- the worker
// ------------------------------------------------------------------------------------

struct LibraryWorker::BoxHandOff {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<int> answer;
    bool abandoned = false; // the worker closed: the box is no longer wanted
};

LibraryWorker::LibraryWorker() {
    thread_ = std::thread([this] { loop(); });
    LibraryWorker* none = nullptr;
    g_current.compare_exchange_strong(none, this);
}

LibraryWorker::~LibraryWorker() {
    close();
    LibraryWorker* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

LibraryWorker* LibraryWorker::current() {
    return g_current.load();
}

LibraryWorker* LibraryWorker::ofThisThread() {
    return t_ownWorker;
}

bool LibraryWorker::isWorkerThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

bool LibraryWorker::closed() const {
    std::lock_guard lock(mutex_);
    return closing_;
}

std::size_t LibraryWorker::pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

bool LibraryWorker::enqueue(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (!closing_) {
            queue_.push_back(std::move(job));
            wake_.notify_one();
            return true;
        }
    }
    if (job.dropped) job.dropped();
    return false;
}

void LibraryWorker::loop() {
    t_ownWorker = this;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return; // closing, nothing in flight
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            job.run();
        } catch (const std::exception& e) {
            KVR_LOG_ERROR("library worker: a request failed: %s", e.what());
            if (job.dropped) job.dropped();
        } catch (...) {
            KVR_LOG_ERROR("library worker: a request failed");
            if (job.dropped) job.dropped();
        }
    }
}

bool LibraryWorker::runAndWait(std::function<void()> job) {
    enum State : int { Pending, Ran, Dropped };
    struct Waiter {
        std::atomic<int> state{Pending};
        std::mutex mutex;
        std::condition_variable done;
        void finish(int how) {
            {
                std::lock_guard lock(mutex);
                state = how;
            }
            done.notify_all();
            wakeGuiThread();
        }
    };
    auto waiter = std::make_shared<Waiter>();
    const bool queued = enqueue({[waiter, job = std::move(job)] {
                                     // A failing job still ends the caller's wait.
                                     struct Finish {
                                         Waiter& w;
                                         int how = Dropped;
                                         ~Finish() { w.finish(how); }
                                     } finish{*waiter};
                                     job();
                                     finish.how = Ran;
                                 },
                                 [waiter] { waiter->finish(Dropped); }});
    if (!queued) return false;
    if (onGuiThread()) {
        // The windows live on while the worker runs: their events (and the handlers they
        // start) are processed until the answer's wake-up arrives.
        while (waiter->state == Pending)
            pumpEvents(true);
    } else {
        std::unique_lock lock(waiter->mutex);
        waiter->done.wait(lock, [&] { return waiter->state != Pending; });
    }
    return waiter->state == Ran;
}

void LibraryWorker::close() {
    std::deque<Job> dropped;
    std::deque<std::shared_ptr<BoxHandOff>> boxes;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        dropped.swap(queue_);
        boxes.swap(boxes_);
    }
    wake_.notify_all();
    for (const auto& box : boxes) {
        {
            std::lock_guard lock(box->mutex);
            box->abandoned = true;
        }
        box->answered.notify_all();
    }
    for (Job& job : dropped)
        if (job.dropped) job.dropped();
    if (thread_.joinable() && !isWorkerThread()) thread_.join();
}

int LibraryWorker::handOffMessageBox(std::string text, std::string caption, std::uint32_t type) {
    const int fallback = desktop::defaultButtonResult(type);
    auto box = std::make_shared<BoxHandOff>();
    {
        std::lock_guard lock(mutex_);
        if (closing_) return fallback;
        boxes_.push_back(box);
    }
    detail::toGuiThread([box, text = std::move(text), caption = std::move(caption), type] {
        {
            std::lock_guard lock(box->mutex);
            if (box->abandoned) return;
        }
        const int answer = showMessageBox(text, caption, type);
        {
            std::lock_guard lock(box->mutex);
            box->answer = answer;
        }
        box->answered.notify_all();
    });
    int answer = fallback;
    {
        std::unique_lock lock(box->mutex);
        box->answered.wait(lock, [&] { return box->answer.has_value() || box->abandoned; });
        if (box->answer) answer = *box->answer;
    }
    std::lock_guard lock(mutex_);
    std::erase(boxes_, box);
    return answer;
}

} // namespace kvr::gui
