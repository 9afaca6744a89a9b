#pragma once

#include "topolib/ParallelRuns.h"
#include "topolib/RecordArena.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace topolib {

// The position of a record in one of a mesh's arrays (vertices, triangles or
// edges), found from the record's reference or address.
//
// A mesh read from a file makes its records in array order in one pool block,
// so record i stands i records after record 0; when the array is laid out so,
// a position is found by arithmetic, without reading the record (which, for the
// entries of an incident list or an octree leaf, would be a read from anywhere
// in memory). A mesh that gained records later (a hollowed model's inner
// surface, made in a block of its own) stands in a few such runs, each found
// by arithmetic too. Otherwise the record's own index field is read and
// checked against the array. Either way a record that is not in the array has
// no position (npos). The array must not change while the index is used.
template <typename T>
class RecordIndex {
public:
    static constexpr std::size_t npos = ~std::size_t(0);

    // The array's runs are found on `threads` threads.
    explicit RecordIndex(const RefArray<T>& array, unsigned threads = 1) : m_array(array), m_count(array.size()) {
        if (m_count == 0)
            return;
        threads = std::max(1u, threads);
        // Where each part of the array starts a new run, at most kMaxRuns.
        struct Starts {
            std::size_t at[kMaxRuns] = {};
            unsigned count = 0;
            bool tooMany = false;
        };
        std::vector<Starts> parts(threads);
        runOnThreads(threads, [&](unsigned t) {
            Starts starts;
            const std::size_t begin = std::max<std::size_t>(1, partBegin(m_count, t, threads));
            const std::size_t end = partBegin(m_count, t + 1, threads);
            std::uint32_t before = begin < end ? array[begin - 1].raw() : 0;
            for (std::size_t i = begin; i < end; ++i) {
                const std::uint32_t raw = array[i].raw();
                if (raw != before + kUnits) {
                    if (starts.count == kMaxRuns) {
                        starts.tooMany = true;
                        break;
                    }
                    starts.at[starts.count++] = i;
                }
                before = raw;
            }
            parts[t] = starts;
        });
        std::size_t begins[kMaxRuns + 1] = {0};
        unsigned count = 1;
        for (const Starts& starts : parts) {
            if (starts.tooMany || count + starts.count > kMaxRuns)
                return;
            for (unsigned k = 0; k < starts.count; ++k)
                begins[count++] = starts.at[k];
        }
        begins[count] = m_count;
        Run runs[kMaxRuns];
        for (unsigned r = 0; r < count; ++r) {
            Run& run = runs[r];
            run.begin = begins[r];
            run.count = begins[r + 1] - begins[r];
            run.first = array[run.begin].raw();
            // (A run from a null entry would give null a position.)
            if (run.first == 0 || (run.first & arena::kOutsideBit) != 0 ||
                std::uint64_t(run.first) + std::uint64_t(run.count) * kUnits >= arena::kOutsideBit)
                return;
            run.firstAddress = reinterpret_cast<const char*>(array[run.begin].get());
        }
        std::copy(runs, runs + count, m_runs);
        m_runCount = count;
    }

    // Whether the records stand in array order (positions by arithmetic).
    bool inOrder() const { return m_runCount == 1; }
    // Record 0 when the records stand in array order; null otherwise.
    const T* firstInOrder() const { return inOrder() ? reinterpret_cast<const T*>(m_runs[0].firstAddress) : nullptr; }
    std::size_t size() const { return m_count; }
    // The runs found (none when the array does not stand in a few): run k
    // holds positions from runBegin(k) on, runLength(k) of them, whose
    // records stand one after the other from runRecord(k).
    unsigned runCount() const { return m_runCount; }
    std::size_t runBegin(unsigned k) const { return m_runs[k].begin; }
    std::size_t runLength(unsigned k) const { return m_runs[k].count; }
    T* runRecord(unsigned k) const { return m_array[m_runs[k].begin].get(); }

    std::size_t of(Ref<T> r) const {
        // The first run starts at record 0 (and is empty when there are no runs).
        const std::uint32_t d = r.raw() - m_runs[0].first;
        if (d < m_runs[0].count * kUnits && d % kUnits == 0)
            return d / kUnits;
        for (unsigned k = 1; k < m_runCount; ++k) {
            const Run& run = m_runs[k];
            const std::uint32_t e = r.raw() - run.first;
            if (e < run.count * kUnits && e % kUnits == 0)
                return run.begin + e / kUnits;
        }
        return checked(r.get());
    }

    std::size_t of(const T* p) const {
        if (p == nullptr)
            return npos;
        for (unsigned k = 0; k < m_runCount; ++k) {
            const Run& run = m_runs[k];
            const std::size_t d = static_cast<std::size_t>(reinterpret_cast<const char*>(p) - run.firstAddress);
            if (d < run.count * sizeof(T) && d % sizeof(T) == 0)
                return run.begin + d / sizeof(T);
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

    // Records i from `begin` on, `count` of them, stand one after the other
    // from the reference `first` (the address `firstAddress`).
    struct Run {
        std::size_t begin = 0;
        std::size_t count = 0;
        std::uint32_t first = 0;
        const char* firstAddress = nullptr;
    };
    static constexpr unsigned kMaxRuns = 4;

    const RefArray<T>& m_array;
    std::size_t m_count;
    Run m_runs[kMaxRuns];
    unsigned m_runCount = 0; // 0 when the array is not in a few runs
};

} // namespace topolib
