#include "topolib/RecordArena.h"

#include "app/MemoryCheck.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <unordered_map>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELAR_ARENA_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELAR_ARENA_LSAN 1
#endif
#ifdef VELAR_ARENA_LSAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define ARENA_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define ARENA_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define ARENA_POISON(p, n) ((void)(p), (void)(n))
#define ARENA_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace topolib {
namespace arena {

namespace {

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

constexpr std::size_t kPage = 4096;
constexpr std::size_t kBigPage = std::size_t(2) << 20;
// The window is made readable and writable in steps of this size as it fills.
constexpr std::size_t kOpenStep = std::size_t(64) << 20;
constexpr std::size_t kMaxWindow = kMaxWindowBytes;
constexpr std::size_t kMinWindow = std::size_t(256) << 20;
constexpr uint32_t kMaxOutside = 1u << 20;
// Freed blocks of this size and more give their commitment back (they no
// longer count as the process's data); smaller ones only their pages.
constexpr std::size_t kGiveBackBytes = std::size_t(1) << 20;
constexpr std::size_t kRecordChunk = std::size_t(64) << 10;
constexpr std::size_t kMaxRecordBytes = 256;
// Blocks up to this size share pages (in sizes of powers of two from
// kMinSmallBlock on): the pools of a small mesh would otherwise take a page
// each, most of it empty, which for a scene of many small objects was most
// of their memory.
constexpr std::size_t kMaxSmallBlock = 2048;
constexpr std::size_t kMinSmallBlock = 64;

struct Window {
    char* base = nullptr;
    std::size_t size = 0;
};

// Reserves the largest window the process may have (an address-space limit can
// refuse the full size), aligned to a big page; an empty window when none can
// be had. The window starts inaccessible: only its used front is opened, so
// that a scan of readable memory (the leak checker's) stays small.
Window reserveWindow() {
    // Under an address-space limit the window takes at most half of it.
    std::size_t most = kMaxWindow;
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        while (most > kMinWindow && most > limit.rlim_cur / 2)
            most /= 2;
    for (std::size_t size = most; size >= kMinWindow; size /= 2) {
        void* p = mmap(nullptr, size + kBigPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED)
            continue;
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(p);
        const std::uintptr_t aligned = (start + kBigPage - 1) & ~(std::uintptr_t(kBigPage) - 1);
        if (aligned > start)
            munmap(p, aligned - start);
        const std::uintptr_t end = start + size + kBigPage;
        if (end > aligned + size)
            munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
#ifdef VELAR_ARENA_LSAN
        __lsan_register_root_region(reinterpret_cast<void*>(aligned), size);
#endif
        return {reinterpret_cast<char*>(aligned), size};
    }
    return {};
}

struct State {
    std::mutex mutex;
    Window window; // empty until the first allocation reserves it
    // The first eight bytes stay unused: offset 0 is the null reference.
    std::size_t top = kPage;
    std::size_t open = 0;
    std::size_t inUse = 0;
    std::map<std::size_t, std::size_t> freeRanges; // offset -> length
    // Single records by size in steps of eight bytes: a list of freed ones
    // (linked through their first word) and the rest of the chunk in use.
    struct RecordClass {
        void* freed = nullptr;
        char* next = nullptr;
        char* end = nullptr;
    };
    RecordClass records[kMaxRecordBytes / 8 + 1];
    // Small blocks by the power of two of their size (see kMaxSmallBlock).
    RecordClass smallBlocks[12];

    std::mutex outsideMutex;
    std::unordered_map<const void*, uint32_t> outsideIndex;
    std::vector<uint32_t> outsideFree; // forgotten slots, reused first
    uint32_t outsideCount = 0;
};

State& state() {
    static State* s = new State; // never destroyed: records may go at exit
    return *s;
}

// The window, reserved on first use (with s.mutex held). Throws std::bad_alloc
// when it cannot be reserved; a later call tries again.
const Window& window(State& s) {
    if (s.window.base == nullptr) {
        s.window = reserveWindow();
        if (s.window.base == nullptr)
            throw std::bad_alloc();
        g_base.store(s.window.base, std::memory_order_release);
    }
    return s.window;
}

const void* g_outside[kMaxOutside];

// One bit per granule of the largest window (see markOwner).
constexpr std::size_t kGranules = kMaxWindow / kOwnerGranule;
std::atomic<uint64_t> g_ownerMarks[kGranules / 64];

bool granuleMarked(std::size_t g) {
    return (g_ownerMarks[g / 64].load(std::memory_order_relaxed) >> (g % 64)) & 1u;
}

// Clears the marks of the granules that lie wholly in [at, at + bytes) (window
// offsets): a granule the range shares with a neighbour keeps a mark that one
// may have set.
void clearOwnerMarks(std::size_t at, std::size_t bytes) {
    for (std::size_t g = roundUp(at, kOwnerGranule) / kOwnerGranule; (g + 1) * kOwnerGranule <= at + bytes; ++g)
        g_ownerMarks[g / 64].fetch_and(~(uint64_t(1) << (g % 64)), std::memory_order_relaxed);
}

void takeFromRange(State& s, std::map<std::size_t, std::size_t>::iterator it, std::size_t at, std::size_t bytes) {
    const std::size_t begin = it->first;
    const std::size_t end = it->first + it->second;
    s.freeRanges.erase(it);
    if (at > begin)
        s.freeRanges.emplace(begin, at - begin);
    if (at + bytes < end)
        s.freeRanges.emplace(at + bytes, end - (at + bytes));
}

std::size_t placeBlock(State& s, std::size_t bytes, std::size_t align) {
    for (auto it = s.freeRanges.begin(); it != s.freeRanges.end(); ++it) {
        const std::size_t at = roundUp(it->first, align);
        if (at + bytes <= it->first + it->second) {
            takeFromRange(s, it, at, bytes);
            return at;
        }
    }
    const Window& w = window(s);
    const std::size_t at = roundUp(s.top, align);
    if (at + bytes > w.size || at + bytes < at)
        throw std::bad_alloc();
    if (at > s.top)
        s.freeRanges.emplace(s.top, at - s.top);
    s.top = at + bytes;
    if (s.top > s.open) {
        const std::size_t open = std::min(roundUp(s.top, kOpenStep), w.size);
        if (mprotect(w.base + s.open, open - s.open, PROT_READ | PROT_WRITE) != 0)
            throw std::bad_alloc();
        s.open = open;
    }
    return at;
}

// Makes a placed range usable: it may lie in a big block that was given back
// when it was freed.
void openRange(State& s, std::size_t at, std::size_t bytes) {
    if (mprotect(s.window.base + at, bytes, PROT_READ | PROT_WRITE) != 0)
        throw std::bad_alloc();
    ARENA_UNPOISON(s.window.base + at, bytes);
}

} // namespace

std::atomic<char*> g_base{reinterpret_cast<char*>(std::uintptr_t(0) - kMaxWindowBytes)};

namespace {

// The memory check learns how much room the window has left, so that it
// never promises a mesh more than its records can get.
const bool g_roomProvided = [] {
    setRecordRoomProvider([]() -> uint64_t { return bytesFree(); });
    return true;
}();

} // namespace

namespace {

// The size a small block is given and the list it comes from.
std::size_t smallBlockSize(std::size_t bytes, int* classIndex) {
    std::size_t size = kMinSmallBlock;
    int k = 6;
    while (size < bytes) {
        size *= 2;
        ++k;
    }
    *classIndex = k;
    return size;
}

// A record of `size` bytes from class c: a freed one, else the next of the
// class's chunk (a new chunk when it is used up). s.mutex is held.
void* takeFromClass(State& s, State::RecordClass& c, std::size_t size) {
    void* p = c.freed;
    if (p != nullptr) {
        ARENA_UNPOISON(p, size);
        c.freed = *static_cast<void**>(p);
        // A reused record reads as zero, as a new one does.
        *static_cast<void**>(p) = nullptr;
    } else {
        if (c.next == nullptr || c.next + size > c.end) {
            const std::size_t at = placeBlock(s, kRecordChunk, kPage);
            openRange(s, at, kRecordChunk);
            c.next = s.window.base + at;
            c.end = c.next + kRecordChunk;
            // The chunk's records are handed out one by one; the rest stays
            // poisoned so that an overrun of a record is reported.
            ARENA_POISON(c.next, kRecordChunk);
        }
        p = c.next;
        c.next += size;
        ARENA_UNPOISON(p, size);
    }
    s.inUse += size;
    return p;
}

void giveToClass(State& s, State::RecordClass& c, void* record, std::size_t size) {
    *static_cast<void**>(record) = c.freed;
    c.freed = record;
    s.inUse -= size;
    ARENA_POISON(record, size);
}

} // namespace

void* allocateBlock(std::size_t bytes) {
    State& s = state();
    if (bytes <= kMaxSmallBlock) {
        int k = 0;
        const std::size_t size = smallBlockSize(bytes, &k);
        std::lock_guard<std::mutex> lock(s.mutex);
        void* p = takeFromClass(s, s.smallBlocks[k], size);
        // A block reads as zero; a reused one held records before.
        std::memset(p, 0, size);
        return p;
    }
    const std::size_t size = roundUp(bytes, kPage);
    std::lock_guard<std::mutex> lock(s.mutex);
    const std::size_t at = placeBlock(s, size, size >= kBigPage ? kBigPage : kPage);
    try {
        openRange(s, at, size);
    } catch (const std::bad_alloc&) {
        s.freeRanges.emplace(at, size);
        throw;
    }
    s.inUse += size;
    return s.window.base + at;
}

// Never throws: it runs from destructors. Should the list of free ranges
// itself fail to grow, the range stays unused (its pages are given back all
// the same).
void freeBlock(void* block, std::size_t bytes) {
    if (block == nullptr)
        return;
    State& s = state();
    if (bytes <= kMaxSmallBlock) {
        int k = 0;
        const std::size_t size = smallBlockSize(bytes, &k);
        std::lock_guard<std::mutex> lock(s.mutex);
        giveToClass(s, s.smallBlocks[k], block, size);
        return;
    }
    const std::size_t size = roundUp(bytes, kPage);
    char* const p = static_cast<char*>(block);
    // A big block gives its commitment back too: otherwise the data size
    // (what a limit on it counts) only ever grows.
    madvise(p, size, MADV_DONTNEED);
    if (size >= kGiveBackBytes)
        mprotect(p, size, PROT_NONE);
    ARENA_POISON(p, size);
    std::lock_guard<std::mutex> lock(s.mutex);
    s.inUse -= size;
    clearOwnerMarks(static_cast<std::size_t>(p - s.window.base), size);
    std::size_t begin = static_cast<std::size_t>(p - s.window.base);
    std::size_t end = begin + size;
    auto next = s.freeRanges.lower_bound(begin);
    if (next != s.freeRanges.end() && next->first == end) {
        end += next->second;
        next = s.freeRanges.erase(next);
    }
    if (next != s.freeRanges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == begin) {
            begin = prev->first;
            s.freeRanges.erase(prev);
        }
    }
    if (end == s.top) {
        s.top = begin;
        return;
    }
    try {
        s.freeRanges.emplace(begin, end - begin);
    } catch (const std::bad_alloc&) {
    }
}

void* allocateRecord(std::size_t bytes) {
    const std::size_t size = roundUp(bytes == 0 ? 1 : bytes, 8);
    if (size > kMaxRecordBytes)
        return allocateBlock(size);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return takeFromClass(s, s.records[size / 8], size);
}

void freeRecord(void* record, std::size_t bytes) {
    if (record == nullptr)
        return;
    const std::size_t size = roundUp(bytes == 0 ? 1 : bytes, 8);
    if (size > kMaxRecordBytes) {
        freeBlock(record, size);
        return;
    }
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    giveToClass(s, s.records[size / 8], record, size);
}

void markOwner(const void* record) {
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(record) - reinterpret_cast<std::uintptr_t>(base());
    if (offset >= kMaxWindowBytes)
        return;
    const std::size_t g = offset / kOwnerGranule;
    g_ownerMarks[g / 64].fetch_or(uint64_t(1) << (g % 64), std::memory_order_relaxed);
}

std::size_t nextMarkedRun(const void* begin, std::size_t bytes, std::size_t from, std::size_t* runEnd) {
    *runEnd = bytes;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(begin) - reinterpret_cast<std::uintptr_t>(base());
    if (start >= kMaxWindowBytes || from >= bytes)
        return bytes;
    const std::size_t last = (start + bytes - 1) / kOwnerGranule;
    std::size_t g = (start + from) / kOwnerGranule;
    while (g <= last && !granuleMarked(g))
        ++g;
    if (g > last)
        return bytes;
    // The block may begin inside its first granule.
    const std::size_t runBegin = g * kOwnerGranule > start ? std::max(from, g * kOwnerGranule - start) : from;
    while (g <= last && granuleMarked(g))
        ++g;
    *runEnd = std::min(bytes, g * kOwnerGranule - start);
    return runBegin;
}

std::size_t bytesInUse() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.inUse;
}

std::size_t bytesFree() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    try {
        window(s);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return s.window.size - std::min(s.window.size, s.inUse + kPage);
}

uint32_t outsideReference(const void* p) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.outsideMutex);
    auto found = s.outsideIndex.find(p);
    if (found != s.outsideIndex.end())
        return found->second;
    uint32_t index = 0;
    if (!s.outsideFree.empty()) {
        index = s.outsideFree.back();
        s.outsideFree.pop_back();
    } else {
        if (s.outsideCount + 1 >= kMaxOutside) {
            // A million records alive outside the window at once: nothing the
            // program makes comes near it (records it makes live in the window).
            std::fputs("Too many mesh records outside the record window.\n", stderr);
            std::abort();
        }
        index = ++s.outsideCount;
    }
    g_outside[index] = p;
    const uint32_t reference = kOutsideBit | index;
    s.outsideIndex.emplace(p, reference);
    return reference;
}

const void* outsideAddress(uint32_t reference) { return g_outside[reference & ~kOutsideBit]; }

void forgetOutside(const void* p) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.outsideMutex);
    auto found = s.outsideIndex.find(p);
    if (found == s.outsideIndex.end())
        return;
    const uint32_t index = found->second & ~kOutsideBit;
    s.outsideIndex.erase(found);
    g_outside[index] = nullptr;
    try {
        s.outsideFree.push_back(index);
    } catch (const std::bad_alloc&) {
        // The slot stays unused.
    }
}

std::size_t outsideCount() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.outsideMutex);
    return s.outsideIndex.size();
}

} // namespace arena
} // namespace topolib
