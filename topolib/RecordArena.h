#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace topolib {

// The mesh records (triangles, vertices, edges) live in one address window of
// the process, so that a record can name another with a 32-bit reference
// instead of a pointer: a triangle names three vertices and three edges, an
// edge two vertices and two triangles, a vertex lists every triangle round it.
// Halving those words takes about a quarter off a big mesh.
//
// The window is reserved on first use (up to 16 GiB of address space, none of
// it backed until used; under an address-space limit at most half the limit),
// and handed out in blocks (the record pools of the meshes) and single
// records (made with new). When no window can be reserved, allocations throw
// std::bad_alloc and the import fails as on any lack of memory. A reference
// is the record's offset in the window in units of eight bytes; 0 is the null
// reference. A record outside the window (one made on the stack or inside
// another object) is named through a table of such addresses instead, from
// which it is removed when it is destroyed.
//
// Freed records and blocks are poisoned for AddressSanitizer, so that a use
// after free of a mesh record is reported; freed blocks of a megabyte and
// more give their pages and their commitment back to the system.
namespace arena {

// Start of the window. Until the window is reserved it lies at the top of the
// address space, where no record can be, so that every address is outside.
extern std::atomic<char*> g_base;
// References with this bit set are indices into the table of outside records.
constexpr uint32_t kOutsideBit = 0x80000000u;
// The largest window.
constexpr std::size_t kMaxWindowBytes = std::size_t(kOutsideBit) << 3; // 16 GiB

inline char* base() { return g_base.load(std::memory_order_relaxed); }

// Takes `bytes` from the window, aligned to the page (or to the big page for a
// few megabytes and more). The memory reads as zero. Throws std::bad_alloc when
// the window is full or cannot be reserved.
void* allocateBlock(std::size_t bytes);
// Gives a block back; its pages go back to the system at once.
void freeBlock(void* block, std::size_t bytes);
// The same for one record of `bytes` bytes (kept in lists per size).
void* allocateRecord(std::size_t bytes);
void freeRecord(void* record, std::size_t bytes);

// Bytes of the window in use by blocks and records (for tests and figures).
std::size_t bytesInUse();
// Bytes the window can still hand out, reserving it first when that has not
// happened yet (0 when it cannot be reserved).
std::size_t bytesFree();

// The reference of an address outside the window (registered on first use).
uint32_t outsideReference(const void* p);
// The address behind an outside reference.
const void* outsideAddress(uint32_t reference);
// Removes p from the table of outside records (a record being destroyed).
void forgetOutside(const void* p);
// How many outside records the table holds (for tests).
std::size_t outsideCount();

inline bool isOutside(const void* p) {
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(base());
    return offset >= kMaxWindowBytes;
}

// The reference of p (null gives 0).
inline uint32_t reference(const void* p) {
    if (p == nullptr)
        return 0;
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(base());
    if (offset < kMaxWindowBytes && (offset & 7) == 0)
        return static_cast<uint32_t>(offset >> 3);
    return outsideReference(p);
}

inline void* address(uint32_t reference) {
    if (reference & kOutsideBit)
        return const_cast<void*>(outsideAddress(reference));
    return reference != 0 ? base() + (std::size_t(reference) << 3) : nullptr;
}

// Records that hold memory of their own (a list grown onto the heap) mark
// where they lie, so that a pool that goes as a whole destroys those records
// only, not every one (a mesh of millions of edges has a handful of such
// records). A mark covers a granule of the window and stays until a block
// that holds the whole granule is freed; an address outside the window is
// not marked.
constexpr std::size_t kOwnerGranule = std::size_t(64) << 10;
void markOwner(const void* record);
// The first run of marked granules that meets [begin + from, begin + bytes):
// its start offset from `begin` (at least `from`; `bytes` when there is none),
// with *runEnd set to its end offset (at most `bytes`).
std::size_t nextMarkedRun(const void* begin, std::size_t bytes, std::size_t from, std::size_t* runEnd);

// Called by a record's destructor: a record outside the window leaves the table.
inline void recordDestroyed(const void* p) {
    if (isOutside(p))
        forgetOutside(p);
}

} // namespace arena

// A 32-bit reference to a record of type T that reads like a pointer: it
// converts to and from T*, compares as one and has operator->.
template <typename T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    Ref(T* p) : m_ref(arena::reference(p)) {}
    Ref& operator=(T* p) {
        m_ref = arena::reference(p);
        return *this;
    }
    Ref& operator=(std::nullptr_t) {
        m_ref = 0;
        return *this;
    }
    operator T*() const { return static_cast<T*>(arena::address(m_ref)); }
    T* get() const { return static_cast<T*>(arena::address(m_ref)); }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }

    // The raw word, for code that stores a number in an unused reference slot.
    uint32_t raw() const { return m_ref; }
    static Ref fromRaw(uint32_t word) {
        Ref r;
        r.m_ref = word;
        return r;
    }

private:
    uint32_t m_ref = 0;
};

// An array of references: a mesh's vertex, triangle and edge arrays.
template <typename T>
using RefArray = std::vector<Ref<T>>;

} // namespace topolib
