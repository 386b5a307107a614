#pragma once
// The panel's use of the touch API library. The library keeps per-process tables and no
// lock, and the panel's waits let other handlers run in between, so every call takes one
// lock. The settings calls that talk to the controller wait inside the library (50 ms and
// more, up to four attempts); those run on a helper thread while the window goes on
// processing its events (`aside`), so a page read never freezes the window.
//
// A helper runs only while the window's thread waits for it in aside(); what the window runs
// meanwhile (a click handled during the wait) reaches the library through call(), which
// waits for the helper's call to end, processing events, and then takes the lock. So the
// library is never entered by two threads at once. A message box the library shows from a
// helper is shown by the window's thread (routeMessageBoxes).
//
// Only plain values cross to a helper: the call it runs must not touch widgets, the
// program's command frame or anything else of the window.

#include "protocol/wait.h"

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace kvr::panel::lib {

// Recursive: a message box the library shows runs the window's events, and a handler run
// there may call the library again on the same thread.
std::recursive_mutex& libraryLock();

// Takes the lock; while a helper holds it, the window's events keep running.
std::unique_lock<std::recursive_mutex> acquire();

// Runs a quick library call (a request to the driver, a registry value) under the lock.
template <class F> auto call(F&& f) -> std::invoke_result_t<F&> {
    const auto lock = acquire();
    return f();
}

// Runs `f` on a helper thread and keeps the window's events running until it is done (work
// that may block: a file flushed to the disk).
template <class F> auto beside(F&& f) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    std::packaged_task<Result()> task([&f]() -> Result { return f(); });
    std::future<Result> done = task.get_future();
    std::thread helper(std::move(task));
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        protocol::WaitMilliseconds(1); // one run of the event pump, then a short sleep
    helper.join();
    return done.get();
}

// Runs a library call that waits for the controller beside the window's thread, under the
// lock.
template <class F> auto aside(F&& f) -> std::invoke_result_t<F&> {
    return beside([&f]() -> std::invoke_result_t<F&> {
        std::lock_guard<std::recursive_mutex> lock(libraryLock());
        return f();
    });
}

// Makes message boxes asked for on any other thread show on the window's thread (which is
// then waiting in aside() or acquire(), processing events). Call once the application exists.
void routeMessageBoxes();

} // namespace kvr::panel::lib
