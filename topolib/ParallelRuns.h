#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace topolib {

namespace detail {
inline std::atomic<unsigned> g_forcedImportThreads{0};
} // namespace detail

// Tests: every import pass runs on `threads` threads whatever the mesh size
// and the machine (0 returns to the rule below).
inline void forceImportThreads(unsigned threads) { detail::g_forcedImportThreads.store(threads); }

// Threads for one pass of an import step over `n` items: one for small meshes
// (starting threads costs more than it saves), otherwise one per core up to
// eight, and no more than one per 64k items.
inline unsigned importThreads(std::size_t n) {
    if (const unsigned forced = detail::g_forcedImportThreads.load(std::memory_order_relaxed))
        return forced;
    if (n < (std::size_t(1) << 18))
        return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    const std::size_t byWork = n >> 16;
    return static_cast<unsigned>(std::min<std::size_t>({cores == 0 ? 1 : cores, 8, byWork}));
}

// Runs body(0) .. body(threads - 1), body(0) on the calling thread. Where a
// thread cannot be started its part runs on the calling thread after body(0),
// so every part runs exactly once whatever the system allows.
template <typename Body>
void runOnThreads(unsigned threads, const Body& body) {
    std::vector<std::thread> helpers;
    helpers.reserve(threads > 0 ? threads - 1 : 0);
    unsigned started = 1;
    try {
        for (; started < threads; ++started)
            helpers.emplace_back([&body, started] { body(started); });
    } catch (const std::system_error&) {
    }
    body(0);
    for (unsigned t = started; t < threads; ++t)
        body(t);
    for (std::thread& h : helpers)
        h.join();
}

// Start of part t of `n` items split into `parts` nearly equal parts.
inline std::size_t partBegin(std::size_t n, unsigned t, unsigned parts) {
    return n / parts * t + n % parts * t / parts;
}

} // namespace topolib
