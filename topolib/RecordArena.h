#pragma once

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
// The window is reserved once, unmapped in the system's sense until used, and
// handed out in blocks (the record pools of the meshes) and single records
// (made with new). A reference is the record's offset in the window in units
// of eight bytes; 0 is the null reference. A record outside the window (one
// made on the stack or inside another object) is named through a small table
// of such addresses instead.
namespace arena {

// Start of the window; set before main runs.
extern char* const g_base;
// References with this bit set are indices into the table of outside records.
constexpr uint32_t kOutsideBit = 0x80000000u;

// Takes `bytes` from the window, aligned to the page (or to the big page for a
// few megabytes and more). The memory reads as zero. Throws std::bad_alloc when
// the window is full.
void* allocateBlock(std::size_t bytes);
// Gives a block back; its pages go back to the system at once.
void freeBlock(void* block, std::size_t bytes);
// The same for one record of `bytes` bytes (kept in lists per size).
void* allocateRecord(std::size_t bytes);
void freeRecord(void* record, std::size_t bytes);

// Bytes of the window in use by blocks and records (for tests and figures).
std::size_t bytesInUse();

// The reference of an address outside the window (registered on first use).
uint32_t outsideReference(const void* p);
// The address behind an outside reference.
const void* outsideAddress(uint32_t reference);

// The reference of p (null gives 0).
inline uint32_t reference(const void* p) {
    if (p == nullptr)
        return 0;
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(g_base);
    if (offset < (std::uintptr_t(kOutsideBit) << 3) && (offset & 7) == 0)
        return static_cast<uint32_t>(offset >> 3);
    return outsideReference(p);
}

inline void* address(uint32_t reference) {
    if (reference & kOutsideBit)
        return const_cast<void*>(outsideAddress(reference));
    return reference != 0 ? g_base + (std::size_t(reference) << 3) : nullptr;
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
