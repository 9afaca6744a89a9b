#pragma once

#include "topolib/ParallelRuns.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace topolib {

// Writes a zero byte at the start of every page that begins inside
// [data, data + bytes), so that the calling thread takes the block's fresh
// pages before it fills them: the system clears each page on the core that
// first writes it, and threads that touch their own parts clear the block on
// every core. Only for memory whose contents are written next (the bytes
// touched are overwritten); bytes before data or from data + bytes on are
// never written, so threads can touch adjacent parts at once.
inline void touchPages(void* data, std::size_t bytes) {
    constexpr std::uintptr_t kPage = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    volatile unsigned char* p = static_cast<unsigned char*>(data);
    for (std::size_t i = ((start + kPage - 1) & ~(kPage - 1)) - start; i < bytes; i += kPage)
        p[i] = 0;
}

// Runs work(i, thread) for every i in [0, count) on up to `threads` threads
// (runOnThreads' parts; thread is the part's number), each thread taking the
// next index in turn: pieces of uneven cost, or threads that the machine
// runs unevenly, still end together. work must not throw.
template <typename Work>
void forEachPiece(unsigned threads, std::size_t count, const Work& work) {
    std::atomic<std::size_t> next{0};
    runOnThreads(static_cast<unsigned>(std::min<std::size_t>(threads, count)), [&](unsigned part) {
        for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
            work(i, part);
    });
}

} // namespace topolib
