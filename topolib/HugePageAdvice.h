#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <system_error>
#include <thread>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace topolib {

#if defined(__linux__)
// Gives madvise the whole pages of `page` bytes inside [data, data + bytes)
// with advice; nothing when there is no whole page.
inline void adviseWholePages(void* data, std::size_t bytes, std::uintptr_t page, int advice) {
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
    if (data != nullptr && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, advice);
}
#endif

// Large blocks are left on the system's small pages: on the machines measured,
// asking for huge pages (MADV_HUGEPAGE) made a first touch of fresh memory one
// and a half to two times slower, and at times far slower again while the
// system gathered free huge pages.

// Gives the whole big pages inside [data, data + bytes) back to the system:
// memory whose contents are no longer wanted, while the block stays allocated
// (its pages read as zero if touched again). Lowers the peak of a pass that
// builds new records while it reads old ones for the last time.
inline void releasePages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_DONTNEED)
    adviseWholePages(data, bytes, std::uintptr_t(2) << 20, MADV_DONTNEED);
#else
    (void)data;
    (void)bytes;
#endif
}

// For a pass that reads data[0, n) in order, at element i: asks for the
// element eight kilobytes on. The processor's own fetching ahead stops at the
// end of each small page, so that a pass over a big array otherwise waits
// for memory at every page it enters.
template <typename T>
inline void readAhead(const T* data, std::size_t i, std::size_t n) {
    constexpr std::size_t kAhead = std::size_t(8192) / sizeof(T);
    if (i + kAhead < n)
        __builtin_prefetch(data + i + kAhead);
}

// For records written one after another from `at` on: asks for the line
// eight kilobytes on, for writing (a hint only: nothing happens where no page
// is mapped there).
inline void writeAhead(const void* at) {
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(at) + 8192), 1);
}

// Makes the pages of large, freshly allocated blocks present ahead of their
// first use, on a helper thread. The system clears every new page when it is
// first written; for a million-facet import that is several hundred megabytes,
// a good part of the import's time when done by the thread that fills the
// arrays. The helper only asks the system to map the pages (it never reads or
// writes them), so the contents and every result stay the same whether it runs,
// lags behind or is not supported. Blocks below a few megabytes are left alone.
//
// The blocks must stay allocated until stop() (or the destructor) returns.
class PagePopulator {
public:
    struct Range {
        void* data;
        std::size_t bytes;
    };

    PagePopulator() = default;
    PagePopulator(const PagePopulator&) = delete;
    PagePopulator& operator=(const PagePopulator&) = delete;
    ~PagePopulator() { stop(); }

    // Starts mapping the ranges (after stopping earlier work). Up to four ranges
    // are worked side by side, the same fraction of each at a time, from their
    // starts: arrays that are filled together from the front stay ahead of the
    // filling together.
    void start(std::initializer_list<Range> ranges) {
        stop();
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
        m_count = 0;
        for (const Range& r : ranges)
            if (m_count < kMaxRanges && r.data != nullptr && r.bytes >= kMinBytes)
                m_ranges[m_count++] = r;
        if (m_count == 0)
            return;
        m_stop.store(false, std::memory_order_relaxed);
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread: the filling thread maps the pages as before.
        }
#else
        (void)ranges;
#endif
    }

    // Stops after the piece in progress and waits for the helper.
    void stop() {
        m_stop.store(true, std::memory_order_relaxed);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    static constexpr int kMaxRanges = 4;
    static constexpr std::size_t kMinBytes = std::size_t(4) << 20;
    static constexpr std::size_t kPiece = std::size_t(2) << 20; // one huge page

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    void run() {
        constexpr std::uintptr_t kPage = 4096;
        std::uintptr_t begin[kMaxRanges];
        std::uintptr_t end[kMaxRanges];
        std::size_t pieces[kMaxRanges];
        std::size_t steps = 0;
        for (int i = 0; i < m_count; ++i) {
            const auto data = reinterpret_cast<std::uintptr_t>(m_ranges[i].data);
            begin[i] = (data + kPage - 1) & ~(kPage - 1);
            end[i] = (data + m_ranges[i].bytes) & ~(kPage - 1);
            pieces[i] = end[i] > begin[i] ? (end[i] - begin[i] + kPiece - 1) / kPiece : 0;
            steps = pieces[i] > steps ? pieces[i] : steps;
        }
        for (std::size_t s = 0; s < steps; ++s) {
            for (int i = 0; i < m_count; ++i) {
                // Pieces of range i that belong to step s.
                const std::size_t first = s * pieces[i] / steps;
                const std::size_t last = (s + 1) * pieces[i] / steps;
                for (std::size_t p = first; p < last; ++p) {
                    if (m_stop.load(std::memory_order_relaxed))
                        return;
                    const std::uintptr_t a = begin[i] + p * kPiece;
                    const std::uintptr_t b = a + kPiece < end[i] ? a + kPiece : end[i];
                    if (madvise(reinterpret_cast<void*>(a), b - a, MADV_POPULATE_WRITE) != 0)
                        return; // not supported, or the memory is gone: leave it to the filler
                }
            }
        }
    }
#endif

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    Range m_ranges[kMaxRanges] = {};
    int m_count = 0;
};

} // namespace topolib
