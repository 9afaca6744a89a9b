#pragma once
// A minimal parallel loop for the Z-map steps: tasks 0 .. count-1 are taken in
// turn by `threads` workers (the calling thread is one of them). Each task must
// write only data that no other task touches, so the result never depends on
// the number of threads or the schedule. The first exception thrown by a task is
// rethrown on the calling thread once every worker has stopped; tasks not yet
// started are then skipped.

#include "app/Platform.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace lcm {

// The worker count for a request: 0 means every core.
inline unsigned workerCount(unsigned requested) {
    if (requested != 0)
        return requested;
    return platform::usableProcessorCount();
}

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

// Splits 0 .. count-1 into chunks of `chunkSize` items, runs work(begin, end,
// part) for the chunks on `threads` workers (a round of chunks at a time, each
// into its own Part) and hands the parts to merge(part) on the calling thread
// in chunk order. A part that keeps its items' values for merge to add up gives
// the sums a plain loop over the items would give, bit for bit, whatever the
// thread count. Parts are reused from round to round (work resets them).
template <typename Part, typename Work, typename Merge>
void forChunksInOrder(std::size_t count, std::size_t chunkSize, unsigned threads, Work&& work, Merge&& merge) {
    if (count == 0)
        return;
    chunkSize = std::max<std::size_t>(1, chunkSize);
    const std::size_t chunks = (count + chunkSize - 1) / chunkSize;
    const std::size_t perRound = std::min<std::size_t>(chunks, std::max(1u, threads) * 2u);
    std::vector<Part> parts(perRound);
    for (std::size_t first = 0; first < chunks; first += perRound) {
        const std::size_t n = std::min(perRound, chunks - first);
        parallelFor(n, threads, [&](std::size_t k) {
            const std::size_t b = (first + k) * chunkSize;
            work(b, std::min(count, b + chunkSize), parts[k]);
        });
        for (std::size_t k = 0; k < n; ++k)
            merge(parts[k]);
    }
}

} // namespace lcm
