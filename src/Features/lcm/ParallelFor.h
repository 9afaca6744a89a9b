#pragma once
// A minimal parallel loop for the Z-map steps: tasks 0 .. count-1 are taken in
// turn by `threads` workers (the calling thread is one of them). Each task must
// write only data that no other task touches, so the result never depends on
// the number of threads or the schedule. The first exception thrown by a task is
// rethrown on the calling thread once every worker has stopped; tasks not yet
// started are then skipped.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace lcm {

// Runs task(i) for every i < count. onCallerProgress(done) is called on the
// calling thread only, after each task it ran, with the number of finished
// tasks (for progress reports, which must not come from the workers).
template <typename Task, typename Progress>
void parallelFor(std::size_t count, unsigned threads, Task&& task, Progress&& onCallerProgress) {
    if (count == 0)
        return;
    threads = static_cast<unsigned>(std::min<std::size_t>(std::max(1u, threads), count));
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorMutex;
    auto work = [&](bool caller) {
        for (;;) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count || failed.load(std::memory_order_relaxed))
                return;
            try {
                task(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error)
                    error = std::current_exception();
                failed.store(true);
                return;
            }
            const std::size_t d = done.fetch_add(1, std::memory_order_relaxed) + 1;
            if (caller)
                onCallerProgress(d);
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    try {
        for (unsigned t = 1; t < threads; ++t)
            workers.emplace_back(work, false);
    } catch (...) {
        // Fewer workers than asked (no thread available): the others carry on.
    }
    work(true);
    for (std::thread& w : workers)
        w.join();
    if (error)
        std::rethrow_exception(error);
}

template <typename Task>
void parallelFor(std::size_t count, unsigned threads, Task&& task) {
    parallelFor(count, threads, std::forward<Task>(task), [](std::size_t) {});
}

} // namespace lcm
