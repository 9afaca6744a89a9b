#pragma once

#include "topolib/ParallelRuns.h"
#include "topolib/RecordArena.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace topolib {

// The position of a record in one of a mesh's arrays (vertices, triangles or
// edges), found from the record's reference or address.
//
// A mesh read from a file makes its records in array order in one pool block,
// so record i stands i records after record 0; when the array is laid out so,
// a position is found by arithmetic, without reading the record (which, for the
// entries of an incident list or an octree leaf, would be a read from anywhere
// in memory). Otherwise the record's own index field is read and checked
// against the array. Either way a record that is not in the array has no
// position (npos). The array must not change while the index is used.
template <typename T>
class RecordIndex {
public:
    static constexpr std::size_t npos = ~std::size_t(0);

    // The array is checked for array order on `threads` threads.
    explicit RecordIndex(const RefArray<T>& array, unsigned threads = 1) : m_array(array), m_count(array.size()) {
        if (m_count == 0)
            return;
        m_first = array[0].raw();
        std::atomic<bool> inOrder{(m_first & arena::kOutsideBit) == 0 &&
                                  std::uint64_t(m_first) + std::uint64_t(m_count) * kUnits < arena::kOutsideBit};
        if (inOrder) {
            forRanges(m_count, threads, [&](std::size_t begin, std::size_t end) {
                bool ok = true;
                for (std::size_t i = begin; i < end && ok; ++i)
                    ok = array[i].raw() == m_first + static_cast<std::uint32_t>(i * kUnits);
                if (!ok)
                    inOrder.store(false, std::memory_order_relaxed);
            });
        }
        m_inOrder = inOrder;
        if (inOrder)
            m_firstAddress = reinterpret_cast<const char*>(array[0].get());
    }

    // Whether the records stand in array order (positions by arithmetic).
    bool inOrder() const { return m_inOrder; }
    // Record 0 when the records stand in array order; null otherwise.
    const T* firstInOrder() const { return reinterpret_cast<const T*>(m_firstAddress); }
    std::size_t size() const { return m_count; }

    std::size_t of(Ref<T> r) const {
        if (m_inOrder) {
            const std::uint32_t d = r.raw() - m_first;
            if (d < m_count * kUnits && d % kUnits == 0)
                return d / kUnits;
        }
        return checked(r.get());
    }

    std::size_t of(const T* p) const {
        if (m_inOrder && p != nullptr) {
            const std::size_t d = static_cast<std::size_t>(reinterpret_cast<const char*>(p) - m_firstAddress);
            if (d < m_count * sizeof(T) && d % sizeof(T) == 0)
                return d / sizeof(T);
        }
        return checked(p);
    }

private:
    static_assert(sizeof(T) % 8 == 0, "references count in units of eight bytes");
    static constexpr std::uint32_t kUnits = sizeof(T) / 8;

    static std::int64_t ownIndex(const StlVertex* v) { return v->index; }
    static std::int64_t ownIndex(const StlTriangle* t) { return t->id; }
    static std::int64_t ownIndex(const StlEdge* e) { return e->index; }

    std::size_t checked(const T* p) const {
        if (p == nullptr)
            return npos;
        const std::int64_t i = ownIndex(p);
        if (i < 0 || static_cast<std::uint64_t>(i) >= m_count || m_array[static_cast<std::size_t>(i)].get() != p)
            return npos;
        return static_cast<std::size_t>(i);
    }

    const RefArray<T>& m_array;
    std::size_t m_count;
    std::uint32_t m_first = 0;
    const char* m_firstAddress = nullptr;
    bool m_inOrder = false;
};

} // namespace topolib
