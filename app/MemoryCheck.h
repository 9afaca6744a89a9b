#pragma once
// The memory check consulted before large allocations (the mesh readers ask
// it before they build a big mesh). The program allows itself at most 10 GiB
// of private memory, further limited by the free physical memory, by what
// the process's memory control group still allows, by an address-space limit
// and by the room left in the mesh record window (the records are about half
// of a mesh's memory), and keeps 200 MiB in reserve.
#include <cstdint>
#include <functional>

using MemoryCheckFunction = std::function<bool(const uint64_t& bytes)>;

// Empty until main installs hasEnoughMemory; callers invoke it with the bytes
// they are about to need and go on only when it returns true.
extern MemoryCheckFunction MemoryCheckCallback;

constexpr uint64_t PRIVATE_MEMORY_BUDGET = 10ull * 1024 * 1024 * 1024; // 10 GiB
constexpr uint64_t MEMORY_SAFETY_MARGIN = 200ull * 1024 * 1024;        // 200 MiB

// Moves check into MemoryCheckCallback; the previous callable is destroyed.
void installMemoryCheck(MemoryCheckFunction check);

// Bytes the program may still use given its private bytes and the free
// physical memory: 0 once the private bytes exceed the budget, otherwise the
// smaller of the free memory and the budget left.
uint64_t availableMemoryFrom(uint64_t privateBytes, uint64_t freePhysical);
// True when available exceeds bytes + the safety margin (strictly).
bool isRequestAffordable(uint64_t bytes, uint64_t available);

// The room left for mesh records (bytes), given by the mesh library when it is
// linked; null: no such limit.
using RecordRoomFunction = uint64_t (*)();
void setRecordRoomProvider(RecordRoomFunction provider);

// availableMemoryFrom with this process's figures, then limited by twice the
// record room and by the address-space limit (the limit less what is mapped,
// the record window's unused reservation counted as free). Keeps no state;
// safe from any thread. Never throws: when the figures cannot be read for
// lack of memory, 0.
uint64_t availableMemory() noexcept;
// isRequestAffordable(bytes, availableMemory()), or the judgement of the
// MemoryCheckRun open on the calling thread; never throws.
bool hasEnoughMemory(const uint64_t& bytes) noexcept;

// A run of many small requests on one thread (the objects of a project,
// thousands of a few kilobytes each), for which reading the figures at each
// request would cost more than the work asked for. While the run lives,
// hasEnoughMemory on the thread that opened it reads the figures at the first
// request and then judges each request against them less what the run
// granted since, as if every grant were already taken; the figures are read
// again once the grants since the last reading exceed kRefreshBytes, and
// before a request is refused, so the run refuses only what a check of its
// own would refuse. Runs nest; other threads check as before.
class MemoryCheckRun {
public:
    static constexpr uint64_t kRefreshBytes = 64ull * 1024 * 1024;
    using Figures = uint64_t (*)() noexcept;

    // figures gives the available memory (availableMemory; tests pass their own).
    explicit MemoryCheckRun(Figures figures = availableMemory);
    ~MemoryCheckRun();
    MemoryCheckRun(const MemoryCheckRun&) = delete;
    MemoryCheckRun& operator=(const MemoryCheckRun&) = delete;

    // The judgement of one request, which hasEnoughMemory hands over.
    bool allows(uint64_t bytes) noexcept;
    // How often the figures were read so far.
    unsigned readings() const { return m_readings; }

private:
    void read() noexcept;

    Figures m_figures;
    MemoryCheckRun* m_outer;
    bool m_read = false;
    unsigned m_readings = 0;
    uint64_t m_available = 0;
    uint64_t m_grantedSinceRead = 0;
};
