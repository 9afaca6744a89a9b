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
// isRequestAffordable(bytes, availableMemory()); never throws.
bool hasEnoughMemory(const uint64_t& bytes) noexcept;
