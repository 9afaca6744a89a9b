#pragma once
// Makes one chosen allocation of the program fail, to check that running out
// of memory at that point ends the work cleanly. It replaces the global
// operator new and delete (on malloc and free), so it must be included in
// exactly one source file of a test program; the program's allocations are
// otherwise unchanged.

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace failingallocations {

struct State {
    std::atomic<bool> armed{false};
    std::atomic<long> counted{0};
    std::atomic<long> failAt{0};
    std::atomic<std::thread::id> spared{}; // with spare, this thread's allocations are not counted
    std::atomic<bool> spare{false};
};

inline State& state() {
    static State s;
    return s;
}

// Counts the allocations from now on and makes the n-th of them (from 1)
// throw std::bad_alloc; n = 0 fails none. With spareThisThread the calling
// thread's own allocations are neither counted nor failed (only its workers').
inline void arm(long n, bool spareThisThread = false) {
    State& s = state();
    s.counted.store(0);
    s.failAt.store(n);
    s.spared.store(std::this_thread::get_id());
    s.spare.store(spareThisThread);
    s.armed.store(true);
}

// Stops counting; returns the allocations counted since arm.
inline long disarm() {
    state().armed.store(false);
    return state().counted.load();
}

inline void* allocate(std::size_t bytes) {
    State& s = state();
    if (s.armed.load() && !(s.spare.load() && std::this_thread::get_id() == s.spared.load()) &&
        s.counted.fetch_add(1) + 1 == s.failAt.load())
        throw std::bad_alloc();
    if (void* p = std::malloc(bytes ? bytes : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace failingallocations

void* operator new(std::size_t bytes) {
    return failingallocations::allocate(bytes);
}
void* operator new[](std::size_t bytes) {
    return failingallocations::allocate(bytes);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    try {
        return failingallocations::allocate(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t bytes, const std::nothrow_t& tag) noexcept {
    return operator new(bytes, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
