#pragma once
// The library worker of a windowed program: the one thread that makes every call into the
// touch API library. The library blocks (its waits are sleeps: a report mode takes up to
// ~450 ms, a linearity table 19 exchanges) and is not for two threads at once, so no window
// calls it: a window hands the worker a request and gets the answer back on its own thread.
//
//   - request(receiver, work, answer): `work` runs on the worker after the requests before
//     it; `answer(result)` then runs on the receiver's thread through a queued call.
//   - call(work): the same, waited for. The calling (GUI) thread processes its events while
//     it waits, so the windows paint and take input; a procedure of the program keeps its
//     sequential shape, and a handler that runs meanwhile queues its own requests behind.
//   - A message box that a call raises on the worker is shown by the GUI thread; the worker
//     waits for the answer.
//   - close() (and the destructor): requests not started are dropped, the one in flight
//     finishes (a message box it raises then gets its default answer), the thread is joined.
//     Requests made afterwards are dropped at once. A dropped call() returns a
//     value-initialised result.
//
// Work never throws across the thread: an exception is logged and the request counts as
// dropped. Only values and objects the caller keeps alive until the answer may be captured.

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace kvr::gui {

class LibraryWorker {
public:
    // Starts the thread. The first worker of the process becomes current().
    LibraryWorker();
    ~LibraryWorker();
    LibraryWorker(const LibraryWorker&) = delete;
    LibraryWorker& operator=(const LibraryWorker&) = delete;

    // The program's worker; null where no program made one (console tools, some tests).
    static LibraryWorker* current();
    // The worker whose thread is calling; null on any other thread.
    static LibraryWorker* ofThisThread();

    template <class Work, class Answer> void request(QObject* receiver, Work work, Answer answer);

    template <class Work> std::invoke_result_t<Work&> call(Work work);

    void close();
    [[nodiscard]] bool closed() const;
    [[nodiscard]] bool isWorkerThread() const;
    // Requests queued and not started.
    [[nodiscard]] std::size_t pending() const;

    // A message box asked for on the worker thread: shown by the GUI thread, the ID* answer.
    int handOffMessageBox(std::string text, std::string caption, std::uint32_t type);

private:
    struct Job {
        std::function<void()> run;
        std::function<void()> dropped; // the job will never run
    };
    struct BoxHandOff;

    // Queues a job; false (and `dropped` run at once) when the worker is closed.
    bool enqueue(Job job);
    // Runs `job` on the worker and waits for it as call() does; false when it was dropped.
    bool runAndWait(std::function<void()> job);
    void loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> queue_;
    std::deque<std::shared_ptr<BoxHandOff>> boxes_;
    bool closing_ = false;
    std::thread thread_;
};

// Runs `work` through the program's worker when there is one; else at once on this thread.
template <class Work> std::invoke_result_t<Work&> libraryCall(Work work) {
    if (LibraryWorker* worker = LibraryWorker::current()) return worker->call(std::move(work));
    return work();
}

// ---- waits of the GUI thread -----------------------------------------------------------------

// True while the GUI thread processes events from inside a wait (a library call waited for,
// a WaitMilliseconds): a handler running now interrupts a procedure that will go on after it.
bool insideWait();

// Runs `action` once no procedure is interrupted: at once outside a wait, else when the event
// loop turns outside every wait (the interrupted procedures have ended). Dropped when
// `context` is destroyed first.
void afterWaits(QObject* context, std::function<void()> action);

// Processes the GUI thread's pending events as one step of a wait (what WaitMilliseconds'
// event pump and call() run); nothing on any other thread.
void pumpEvents(bool blockUntilEvent);

// ---- templates -------------------------------------------------------------------------------

namespace detail {
// Runs `action` on the GUI thread through a queued call (nothing without an application).
void toGuiThread(std::function<void()> action);
} // namespace detail

template <class Work, class Answer>
void LibraryWorker::request(QObject* receiver, Work work, Answer answer) {
    using Result = std::invoke_result_t<Work&>;
    // Shared, so that work and answer may hold values that only move.
    auto todo = std::make_shared<Work>(std::move(work));
    auto reply = std::make_shared<Answer>(std::move(answer));
    QPointer<QObject> target(receiver); // made here, checked on the GUI thread
    enqueue({[target, todo, reply] {
                 if constexpr (std::is_void_v<Result>) {
                     (*todo)();
                     detail::toGuiThread([target, reply] {
                         if (target) (*reply)();
                     });
                 } else {
                     auto result = std::make_shared<Result>((*todo)());
                     detail::toGuiThread([target, reply, result] {
                         if (target) (*reply)(*result);
                     });
                 }
             },
             {}});
}

template <class Work> std::invoke_result_t<Work&> LibraryWorker::call(Work work) {
    using Result = std::invoke_result_t<Work&>;
    if (isWorkerThread()) return work();
    if constexpr (std::is_void_v<Result>) {
        runAndWait([&work] { work(); });
    } else {
        std::optional<Result> result;
        runAndWait([&work, &result] { result.emplace(work()); });
        if (!result) return Result{};
        return std::move(*result);
    }
}

} // namespace kvr::gui
