#pragma once
// The panel's use of the touch API library. The library keeps per-process tables and no
// lock, and the panel's waits let other handlers run in between, so every call takes one
// lock. The settings calls that talk to the controller wait inside the library (50 ms and
// more, up to four attempts); those run on a helper thread while the window goes on
// processing its events (`aside`), so a page read never freezes the window.
//
// Only plain values cross to the helper thread: the call it runs must not touch widgets, the
// program's command frame or anything else of the window.

#include "protocol/wait.h"

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace kvr::panel::lib {

std::mutex& libraryLock();

// Runs a quick library call (a request to the driver, a registry value) under the lock.
template <class F> auto call(F&& f) -> std::invoke_result_t<F&> {
    std::lock_guard<std::mutex> lock(libraryLock());
    return f();
}

// Runs a library call that waits for the controller on a helper thread, under the lock,
// and keeps the window's events running until it is done.
template <class F> auto aside(F&& f) -> std::invoke_result_t<F&> {
    using Result = std::invoke_result_t<F&>;
    std::packaged_task<Result()> task([&f]() -> Result {
        std::lock_guard<std::mutex> lock(libraryLock());
        return f();
    });
    std::future<Result> done = task.get_future();
    std::thread helper(std::move(task));
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        protocol::WaitMilliseconds(1); // one run of the event pump, then a short sleep
    helper.join();
    return done.get();
}

} // namespace kvr::panel::lib
