#pragma once

#include "app/Platform.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace topolib {

namespace detail {
inline std::atomic<unsigned> g_forcedImportThreads{0};
} // namespace detail

// Tests: every import pass runs on `threads` threads whatever the mesh size
// and the machine (0 returns to the rule below).
inline void forceImportThreads(unsigned threads) { detail::g_forcedImportThreads.store(threads); }

namespace detail {
// platform::passProcessorCount() as read inside the outermost
// ImportLoadReading of this thread, once a pass first asked for it; 0 before
// that and outside one.
inline thread_local unsigned t_passCores = 0;
inline thread_local unsigned t_readingDepth = 0;
} // namespace detail

// Holds one reading of the processors the machine's load leaves for the
// passes this thread starts while it lives: a step that asks importThreads more than
// once (the weld sizes its sort and its scratch room by the answer) gets the
// same answer each time, however the machine's load moves meanwhile. Nested
// readings keep the outermost one. The load is read when a pass big enough
// for threads first asks: the import of a small mesh reads nothing.
class ImportLoadReading {
public:
    ImportLoadReading() {
        if (detail::t_readingDepth++ == 0)
            detail::t_passCores = 0;
    }
    ~ImportLoadReading() {
        if (--detail::t_readingDepth == 0)
            detail::t_passCores = 0;
    }
    ImportLoadReading(const ImportLoadReading&) = delete;
    ImportLoadReading& operator=(const ImportLoadReading&) = delete;
};

// Threads for one pass of an import step over `n` items: one for small meshes
// (starting threads costs more than it saves), otherwise one per processor
// the machine's load leaves for passes (platform::passProcessorCount) up to eight,
// and no more than one per 64k items. Inside an ImportLoadReading the same n
// always gets the same count.
inline unsigned importThreads(std::size_t n) {
    if (const unsigned forced = detail::g_forcedImportThreads.load(std::memory_order_relaxed))
        return forced;
    if (n < (std::size_t(1) << 18))
        return 1;
    unsigned cores = detail::t_passCores;
    if (cores == 0) {
        cores = platform::passProcessorCount();
        if (detail::t_readingDepth > 0)
            detail::t_passCores = cores;
    }
    const std::size_t byWork = n >> 16;
    return static_cast<unsigned>(std::min<std::size_t>({cores, 8, byWork}));
}

// Threads for a pass whose threaded form only pays from four threads on: the
// binary read, whose one-thread form has a helper map its arrays' pages ahead
// and counts the corners for the weld's sort as it makes them. Where
// importThreads gives two or three (a machine of few cores, or a busy one) it
// runs on one, with less processor time, and on a busy machine sooner; a
// forced count is kept.
inline unsigned importThreadsFromFour(std::size_t n) {
    const unsigned threads = importThreads(n);
    return threads <= 3 && detail::g_forcedImportThreads.load(std::memory_order_relaxed) == 0 ? 1 : threads;
}

namespace detail {

// The first exception of a pass's parts, kept until every part has ended and
// then thrown on the caller's thread (a part that throws on a thread of its
// own would end the process; one that throws on the caller's thread would
// leave the others running on its stack).
class FirstFailure {
public:
    template <typename Body> void run(const Body& body, unsigned part) noexcept {
        try {
            body(part);
        } catch (...) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_error)
                m_error = std::current_exception();
        }
    }
    void rethrow() const {
        if (m_error)
            std::rethrow_exception(m_error);
    }

private:
    std::mutex m_mutex;
    std::exception_ptr m_error;
};

// Threads kept for the import's passes: an import runs a few dozen of them,
// and starting threads for each costs milliseconds on a busy machine (the
// system maps a stack while the import's other threads fault pages in). One
// caller at a time; the workers wait between passes and end with the program.
class ImportWorkers {
public:
    static ImportWorkers& instance() {
        static ImportWorkers workers;
        return workers;
    }

    ImportWorkers(const ImportWorkers&) = delete;
    ImportWorkers& operator=(const ImportWorkers&) = delete;
    ~ImportWorkers() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& w : m_threads)
            w.join();
    }

    // Runs body(1) .. body(threads - 1) on the workers and body(0) here, and
    // waits for all; the parts' exceptions go to failure. False, nothing run,
    // while another caller's pass runs or when the workers cannot be started.
    template <typename Body> bool run(unsigned threads, const Body& body, FirstFailure& failure) {
        if (callerHere()) // a pass started from inside a pass of this thread
            return false;
        std::unique_lock<std::mutex> single(m_caller, std::try_to_lock);
        if (!single.owns_lock())
            return false;
        try {
            while (m_threads.size() + 1 < threads)
                m_threads.emplace_back([this, index = static_cast<unsigned>(m_threads.size() + 1)] { work(index); });
        } catch (const std::exception&) { // no thread, or no memory for one
            if (m_threads.size() + 1 < threads)
                return false;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_part = [](const void* b, unsigned t, FirstFailure& f) {
                f.run(*static_cast<const Body*>(b), t);
            };
            m_body = &body;
            m_failure = &failure;
            m_parts = threads;
            m_left = threads - 1;
            ++m_round;
        }
        m_wake.notify_all();
        callerHere() = true;
        failure.run(body, 0);
        callerHere() = false;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return m_left == 0; });
        return true;
    }

private:
    ImportWorkers() = default;

    static bool& callerHere() {
        thread_local bool here = false;
        return here;
    }

    void work(unsigned index) {
        unsigned seen = 0;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stop || m_round != seen; });
            if (m_stop)
                return;
            seen = m_round;
            if (index >= m_parts)
                continue; // not needed this time
            void (*part)(const void*, unsigned, FirstFailure&) = m_part;
            const void* body = m_body;
            FirstFailure* failure = m_failure;
            lock.unlock();
            part(body, index, *failure);
            lock.lock();
            if (--m_left == 0)
                m_done.notify_one();
        }
    }

    std::mutex m_caller; // held by the caller whose pass runs
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<std::thread> m_threads; // worker i + 1 runs part i + 1
    void (*m_part)(const void*, unsigned, FirstFailure&) = nullptr;
    const void* m_body = nullptr;
    FirstFailure* m_failure = nullptr;
    unsigned m_parts = 0;
    unsigned m_left = 0;
    unsigned m_round = 0;
    bool m_stop = false;
};

} // namespace detail

// Runs body(0) .. body(threads - 1), body(0) on the calling thread, the others
// on the import's workers (or on threads of their own while the workers serve
// another caller). Where a thread cannot be started its part runs on the
// calling thread after body(0), so every part runs exactly once whatever the
// system allows. When parts throw (std::bad_alloc), every part still runs to
// its end, and then the first exception is thrown here.
template <typename Body>
void runOnThreads(unsigned threads, const Body& body) {
    if (threads <= 1) {
        body(0);
        return;
    }
    detail::FirstFailure failure;
    if (detail::ImportWorkers::instance().run(threads, body, failure)) {
        failure.rethrow();
        return;
    }
    std::vector<std::thread> helpers;
    unsigned started = 1;
    try {
        helpers.reserve(threads - 1);
        for (; started < threads; ++started)
            helpers.emplace_back([&body, &failure, started] { failure.run(body, started); });
    } catch (const std::exception&) {
        // No thread, or no memory for one: the caller runs the part.
    }
    failure.run(body, 0);
    for (unsigned t = started; t < threads; ++t)
        failure.run(body, t);
    for (std::thread& h : helpers)
        h.join();
    failure.rethrow();
}

// Start of part t of `n` items split into `parts` nearly equal parts.
inline std::size_t partBegin(std::size_t n, unsigned t, unsigned parts) {
    return n / parts * t + n % parts * t / parts;
}

// Runs body(begin, end) over [0, n) in `threads` nearly equal contiguous
// ranges through runOnThreads.
template <typename Body>
void forRanges(std::size_t n, unsigned threads, const Body& body) {
    runOnThreads(threads, [&](unsigned t) { body(partBegin(n, t, threads), partBegin(n, t + 1, threads)); });
}

} // namespace topolib
