// The shell search of the mesh object: connected components with their two
// orientation classes and the negligible-shell test.
#include "app/ProgressReport.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace topolib {

namespace {

// How u is wound against t across t's side k: +1 alike (u runs the side the
// other way), -1 against (u runs it the same way), 0 when u does not have the side.
// *uSide receives the side of u that matched.
int relativeWinding(const StlTriangle* t, int k, const StlTriangle* u, int* uSide) {
    const StlVertex* a = t->vertices[k];
    const StlVertex* b = t->vertices[(k + 1) % 3];
    for (int j = 0; j < 3; ++j) {
        const StlVertex* uj = u->vertices[j];
        const StlVertex* uj1 = u->vertices[(j + 1) % 3];
        if (a == uj1 && b == uj) {
            *uSide = j;
            return 1;
        }
        if (a == uj && b == uj1) {
            *uSide = j;
            return -1;
        }
    }
    return 0;
}

StlTriangle* otherTriangle(const StlEdge* e, const StlTriangle* t) {
    for (StlTriangle* u : *e)
        if (u != t)
            return u;
    return nullptr;
}

// The triangle the shell search reaches from t across e, or null when the
// search stops there. Smooth and sharp edges lead to their other triangle. An
// edge of class 3 with exactly two live triangles (an edge along a drain-hole
// cut keeps that class) is crossed too, so that a drilled solid stays one
// shell; an edge with three or more live triangles is not.
StlTriangle* triangleAcross(const StlEdge* e, const StlTriangle* t) {
    if (e->edgeClass <= kEdgeSharp)
        return otherTriangle(e, t);
    if (e->edgeClass != kEdgeNonManifold)
        return nullptr;
    StlTriangle* other = nullptr;
    int live = 0;
    bool hasT = false;
    for (StlTriangle* u : *e) {
        if (u->isDeleted())
            continue;
        ++live;
        if (u == t)
            hasT = true;
        else
            other = u;
    }
    return live == 2 && hasT ? other : nullptr;
}

// What lies across each side of every triangle, packed into a few bits per side,
// so that the shell search walks one dense table instead of chasing triangle ->
// edge -> triangle through records scattered over the whole mesh. Filled before
// the search from the triangles, edges and their classes, which the search does
// not change.
//
// Rows are indexed by record slot (see ShellWalk). A row holds three side fields
// of `bits + 1` bits: the neighbour's slot in the low `bits` bits and, above it,
// whether the neighbour is wound alike (+1 in relativeWinding). The slot value
// `none` marks a side the walk never crosses; with the upper bit set it is a
// boundary side, which makes the shell open. The value `spilled` (none - 1,
// above every slot) names the top of the walk's spill stack (see walkTable).
//
// Once a triangle has been taken from the work list its row is not read again;
// the walk then keeps a frame of its work list there: up to two reached
// triangles still to be taken (`bits` bits each, `none` when absent) and the
// frame below (`bits` bits). The work list thus needs no memory of its own.
class NeighbourTable {
public:
    __extension__ typedef unsigned __int128 Row;

    void init(std::size_t slots) {
        m_slots = slots;
        // Room for every slot and the two values above them.
        m_bits = 1;
        while ((std::size_t(1) << m_bits) < slots + 2)
            ++m_bits;
        m_none = (uint64_t(1) << m_bits) - 1;
        m_width = 3 * (m_bits + 1);
        m_rowMask = (Row(1) << m_width) - 1;
        m_fieldMask = (uint64_t(1) << (m_bits + 1)) - 1;
        // 16 bytes of tail room: a row is read and written through a 16-byte
        // window. The bytes are cleared by clearBytes before rows go there
        // (on the threads that fill them, for a big table).
        m_bytes = (slots * m_width + 7) / 8 + 16;
        m_data.reset(new unsigned char[m_bytes]);
        m_filled.assign((slots + 63) / 64, 0);
    }
    void release() {
        m_data.reset();
        m_bytes = 0;
        m_filled = std::vector<uint64_t>();
    }

    std::size_t slots() const { return m_slots; }
    unsigned bits() const { return m_bits; }
    uint64_t none() const { return m_none; }
    uint64_t spilled() const { return m_none - 1; }

    Row row(std::size_t slot) const {
        const std::size_t bit = slot * m_width;
        Row v;
        std::memcpy(&v, m_data.get() + bit / 8, sizeof v);
        return (v >> (bit & 7)) & m_rowMask;
    }
    void setRow(std::size_t slot, Row value) {
        const std::size_t bit = slot * m_width;
        unsigned char* p = m_data.get() + bit / 8;
        Row v;
        std::memcpy(&v, p, sizeof v);
        v &= ~(m_rowMask << (bit & 7));
        v |= (value & m_rowMask) << (bit & 7);
        std::memcpy(p, &v, sizeof v);
    }
    void prefetchRow(std::size_t slot) const { __builtin_prefetch(m_data.get() + slot * m_width / 8); }

    // Clears the bytes from the one holding row `begin`'s first bit up to the
    // one holding row `end`'s first bit (the whole rest for end == slots()).
    void clearBytes(std::size_t begin, std::size_t end) {
        const std::size_t from = begin * m_width / 8;
        const std::size_t to = end >= m_slots ? m_bytes : end * m_width / 8;
        if (to > from)
            std::memset(m_data.get() + from, 0, to - from);
    }

    // Side field k of a row, and its parts.
    uint64_t field(Row r, int k) const { return static_cast<uint64_t>(r >> (k * (m_bits + 1))) & m_fieldMask; }
    uint64_t fieldSlot(uint64_t f) const { return f & m_none; }
    bool fieldFlag(uint64_t f) const { return (f >> m_bits) != 0; }
    Row makeField(int k, uint64_t slot, bool flag) const {
        return Row(slot | (uint64_t(flag) << m_bits)) << (k * (m_bits + 1));
    }

    // Frame fields (see the class comment).
    uint64_t frameField(Row r, int i) const { return static_cast<uint64_t>(r >> (i * m_bits)) & m_none; }
    Row makeFrame(uint64_t first, uint64_t second, uint64_t below) const {
        return Row(first) | (Row(second) << m_bits) | (Row(below) << (2 * m_bits));
    }

    bool filled(std::size_t slot) const { return (m_filled[slot >> 6] >> (slot & 63)) & 1u; }
    void setFilled(std::size_t slot) { m_filled[slot >> 6] |= uint64_t(1) << (slot & 63); }

private:
    std::size_t m_slots = 0;
    unsigned m_bits = 0;
    unsigned m_width = 0;
    uint64_t m_none = 0;
    uint64_t m_fieldMask = 0;
    Row m_rowMask = 0;
    std::unique_ptr<unsigned char[]> m_data;
    std::size_t m_bytes = 0;
    std::vector<uint64_t> m_filled;
};

// Work arrays of a shell walk, see growShell.
struct ShellWalk {
    std::vector<StlTriangle*> stack;
    std::vector<StlTriangle*> queue;
    // Reached triangles of the whole search, one bit per record slot counted from
    // `base` (the records of an imported mesh lie in one block). A reached
    // neighbour is then recognised without loading its record; the triangles'
    // own walk marks are not needed, since the search ends with them cleared.
    const char* base = nullptr;
    std::vector<uint64_t> reached;

    std::size_t slot(const StlTriangle* t) const {
        return static_cast<std::size_t>(reinterpret_cast<const char*>(t) - base) / sizeof(StlTriangle);
    }
    bool isReached(const StlTriangle* t) const {
        const std::size_t i = slot(t);
        return (reached[i >> 6] >> (i & 63)) & 1u;
    }
    void setReached(const StlTriangle* t) { setReachedSlot(slot(t)); }
    bool isReachedSlot(std::size_t i) const { return (reached[i >> 6] >> (i & 63)) & 1u; }
    void setReachedSlot(std::size_t i) { reached[i >> 6] |= uint64_t(1) << (i & 63); }

    // The table's rows lie in record slot order, or, for a big mesh whose
    // records lie in no particular order (a file of shuffled facets), in an
    // order that keeps neighbours near each other: then indexOfSlot and
    // slotOfIndex map between the two and the walk keeps its reached bits by
    // row (reachedRow) besides those by slot. The walk is the same either way;
    // only its memory accesses differ.
    bool relabelled = false;
    std::vector<uint32_t> indexOfSlot;
    std::vector<uint32_t> slotOfIndex;
    std::vector<uint64_t> reachedRow;
    std::size_t indexOf(std::size_t slot) const { return relabelled ? indexOfSlot[slot] : slot; }
    std::size_t slotAt(std::size_t index) const { return relabelled ? slotOfIndex[index] : index; }
    bool isReachedRow(std::size_t i) const {
        return relabelled ? (reachedRow[i >> 6] >> (i & 63)) & 1u : isReachedSlot(i);
    }
    void setReachedRow(std::size_t i) {
        if (relabelled) {
            reachedRow[i >> 6] |= uint64_t(1) << (i & 63);
            setReachedSlot(slotOfIndex[i]);
        } else {
            setReachedSlot(i);
        }
    }
    StlTriangle* triangleAt(std::size_t i) const {
        return reinterpret_cast<StlTriangle*>(const_cast<char*>(base) + i * sizeof(StlTriangle));
    }

    // The neighbour table, when the search walks it (table.slots() != 0).
    NeighbourTable table;
    // Spill stack of the table walk: frames of one triangle still to be taken
    // and the frame below.
    struct Spill {
        uint64_t waiting;
        uint64_t below;
    };
    std::vector<Spill> spill;
    std::vector<uint32_t> slotQueue;
    // Triangles reached by the table walk whose records are not yet written, in
    // the order they were reached: the neighbour, the triangle it was reached
    // from, and the side (bits 0-1) and class (bit 2, reversed) in `how`. An
    // entry with u == kShellBegins starts the entries of a shell: `from` and
    // `how` hold the low and high half of its state's address (the writer
    // does not look into `shells`, which the walk extends meanwhile).
    struct Reached {
        uint32_t u;
        uint32_t from;
        uint32_t how;
    };
    static constexpr uint32_t kShellBegins = 0xFFFFFFFFu;
    // Reached entries are handed to the writer in batches of this many.
    static constexpr std::size_t kLogBatch = 8192;
    std::vector<Reached> log;

    // What the record writer keeps of a shell: its box and the far corners
    // that widen it once their loads have arrived.
    static constexpr unsigned kPending = 16;
    struct ShellState {
        StlShell* shell = nullptr;
        Vector3D boxMin, boxMax;
        const StlVertex* pending[kPending] = {};
        unsigned pendingNext = 0;
    };
    std::deque<ShellState> shells; // stable addresses: the writer holds one

    // The records are written from the log in batches, in log order: here, or
    // on a writer thread while the walk goes on (see findShells). Whoever
    // writes holds `writing`, so the batches are written one at a time and in
    // the order they were handed over.
    std::mutex writerMutex;
    std::condition_variable writerWake;
    std::condition_variable writerIdle;
    std::deque<std::vector<Reached>> handed;
    std::vector<std::vector<Reached>> spareLogs;
    bool writing = false;
    bool closed = false;
    bool threaded = false;    // a writer thread takes the batches
    ShellState* current = nullptr; // the shell being written (held with `writing`)

    // Starts the entries of a new shell whose box holds `seedCorners`.
    void beginShell(StlShell* shell, const Ref<StlVertex>* seedCorners) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        shells.emplace_back();
        ShellState& st = shells.back();
        st.shell = shell;
        st.boxMin = Vector3D(inf, inf, inf);
        st.boxMax = Vector3D(-inf, -inf, -inf);
        for (int k = 0; k < 3; ++k)
            extendBox(st, seedCorners[k]->pos);
        const auto address = reinterpret_cast<std::uintptr_t>(&st);
        log.push_back({kShellBegins, static_cast<uint32_t>(address), static_cast<uint32_t>(uint64_t(address) >> 32)});
    }

    static void extendBox(ShellState& st, const Vector3D& p) { StlShell::widenBox(st.boxMin, st.boxMax, p); }

    // The last far corners widen the shell's box, which the shell then takes.
    void finishShell(ShellState& st) {
        for (const StlVertex* v : st.pending)
            if (v)
                extendBox(st, v->pos);
        st.shell->boxMin = st.boxMin;
        st.shell->boxMax = st.boxMax;
    }

    // Writes the records of the logged triangles, in the order they were
    // reached: class and shell, list entry, and the far corner that widens the
    // box some steps later, when its load has arrived (the same points in the
    // same order as the pointer walk). The entries do not depend on each
    // other, so the records are asked for well ahead.
    void writeEntries(const std::vector<Reached>& entries) {
        constexpr std::size_t kAhead = 12;
        const std::size_t total = entries.size();
        const Reached* e = entries.data();
        for (std::size_t i = 0; i < total && i < kAhead; ++i)
            if (e[i].u != kShellBegins)
                __builtin_prefetch(triangleAt(e[i].u), 1);
        for (std::size_t i = 0; i < total; ++i) {
            if (i + kAhead < total && e[i + kAhead].u != kShellBegins) {
                const StlTriangle* next = triangleAt(e[i + kAhead].u);
                __builtin_prefetch(next, 1);
                __builtin_prefetch(reinterpret_cast<const char*>(next) + 64, 1);
                __builtin_prefetch(triangleAt(e[i + kAhead].from));
            }
            const Reached& r = e[i];
            if (r.u == kShellBegins) {
                if (current)
                    finishShell(*current);
                current = reinterpret_cast<ShellState*>(static_cast<std::uintptr_t>(uint64_t(r.how) << 32 | r.from));
                continue;
            }
            StlTriangle* u = triangleAt(r.u);
            const StlTriangle* t = triangleAt(r.from);
            StlShell* shell = current->shell;
            if (r.how & 4u) {
                u->setReversed(true);
                shell->reversedTriangles.push_back(u);
            } else {
                u->setReversed(false);
                shell->primaryTriangles.push_back(u);
            }
            int uSide = 0;
            relativeWinding(t, static_cast<int>(r.how & 3u), u, &uSide);
            const StlVertex* far = u->vertices[(uSide + 2) % 3];
            __builtin_prefetch(far);
            u->shell = shell;
            const StlVertex*& slot = current->pending[current->pendingNext++ & (kPending - 1)];
            if (slot)
                extendBox(*current, slot->pos);
            slot = far;
        }
    }

    // Hands the log over to be written (written here without a writer
    // thread) and starts an empty one.
    void submitLog() {
        if (log.empty())
            return;
        if (!threaded) {
            writeEntries(log);
            log.clear();
            return;
        }
        std::vector<Reached> next;
        {
            std::lock_guard<std::mutex> lock(writerMutex);
            handed.push_back(std::move(log));
            if (!spareLogs.empty()) {
                next = std::move(spareLogs.back());
                spareLogs.pop_back();
            }
        }
        writerWake.notify_one();
        next.clear();
        // A new log is sized for a whole batch at once (no regrowth by copies).
        if (next.capacity() < kLogBatch)
            next.reserve(kLogBatch);
        log = std::move(next);
    }

    // Writes handed batches while any is waiting and no one else writes; the
    // lock is held on entry and on return.
    void writeHanded(std::unique_lock<std::mutex>& lock) {
        while (!handed.empty() && !writing) {
            std::vector<Reached> batch = std::move(handed.front());
            handed.pop_front();
            writing = true;
            lock.unlock();
            writeEntries(batch);
            lock.lock();
            writing = false;
            batch.clear();
            spareLogs.push_back(std::move(batch));
        }
        if (handed.empty() && !writing)
            writerIdle.notify_all();
    }

    // The writer thread: writes batches until the walk is over.
    void writerLoop() {
        std::unique_lock<std::mutex> lock(writerMutex);
        for (;;) {
            writeHanded(lock);
            if (closed && handed.empty())
                return;
            writerWake.wait(lock, [this] { return closed || (!handed.empty() && !writing); });
        }
    }

    // Every record logged so far is written when this returns (this thread
    // writes what the writer has not taken yet).
    void drain() {
        submitLog();
        if (!threaded)
            return;
        std::unique_lock<std::mutex> lock(writerMutex);
        for (;;) {
            writeHanded(lock);
            if (handed.empty() && !writing)
                return;
            writerIdle.wait(lock, [this] { return !writing; });
        }
    }

    void close() {
        {
            std::lock_guard<std::mutex> lock(writerMutex);
            closed = true;
        }
        writerWake.notify_all();
    }

    // The slot of a neighbour record, or false when it is not a record slot of
    // the table's range.
    bool slotOf(const StlTriangle* u, std::size_t* out) const {
        const char* p = reinterpret_cast<const char*>(u);
        if (p < base)
            return false;
        const std::size_t offset = static_cast<std::size_t>(p - base);
        if (offset % sizeof(StlTriangle) != 0 || offset / sizeof(StlTriangle) >= table.slots())
            return false;
        *out = offset / sizeof(StlTriangle);
        return true;
    }

    // Fills t's row from its edges, the edge classes and its neighbours: what
    // growShell's pointer walk decides for each side, except whether the
    // neighbour is reached. A neighbour outside the range gives false when
    // `strict`, else a side that is not crossed.
    bool fillRow(const StlTriangle* t, std::size_t tRow, bool strict) {
        NeighbourTable::Row r = 0;
        for (int k = 0; k < 3; ++k) {
            const StlEdge* e = t->edges[k];
            uint64_t target = table.none();
            bool flag = false;
            if (!e || e->marks() != 0) {
                // never crossed
            } else if (e->edgeClass == kEdgeBoundary) {
                flag = true; // open
            } else if (const StlTriangle* u = triangleAcross(e, t)) {
                int uSide = 0;
                const int winding = u && !u->isDeleted() ? relativeWinding(t, k, u, &uSide) : 0;
                if (winding != 0) {
                    std::size_t uSlot = 0;
                    if (slotOf(u, &uSlot)) {
                        target = indexOf(uSlot);
                        flag = winding > 0;
                    } else if (strict) {
                        return false;
                    }
                }
            }
            r |= table.makeField(k, target, flag);
        }
        table.setRow(tRow, r);
        table.setFilled(tRow);
        return true;
    }

    // Fills the rows of triangles[begin, end) (strict) and clears their walk
    // marks, or with `marked` only tells whether one is set (a thread that
    // writes a triangle's flags while another reads them is not allowed). Ask
    // for the edges of the triangles far ahead, and for the neighbours across
    // the edges of those nearer ahead (their edges have arrived by then), so
    // that meshes stored in no particular order cost little more. False at the
    // first neighbour outside the table's range.
    // Relabelled, [begin, end) are rows, each filled from its triangle.
    bool fillRows(const RefArray<StlTriangle>& triangles, std::size_t begin, std::size_t end,
                  bool* marked = nullptr) {
        constexpr std::size_t kEdgesAhead = 16;
        constexpr std::size_t kNeighboursAhead = 8;
        auto at = [&](std::size_t i) { return relabelled ? triangleAt(slotOfIndex[i]) : triangles[i].get(); };
        for (std::size_t i = begin; i < end; ++i) {
            if (relabelled && i + 2 * kEdgesAhead < end)
                __builtin_prefetch(at(i + 2 * kEdgesAhead));
            if (i + kEdgesAhead < end)
                if (const StlTriangle* a = at(i + kEdgesAhead))
                    for (const StlEdge* e : a->edges)
                        if (e)
                            __builtin_prefetch(e);
            if (i + kNeighboursAhead < end)
                if (const StlTriangle* b = at(i + kNeighboursAhead))
                    for (const StlEdge* e : b->edges)
                        if (e)
                            for (const StlTriangle* u : *e)
                                if (u != b) {
                                    __builtin_prefetch(u);
                                    __builtin_prefetch(reinterpret_cast<const char*>(u) + 64);
                                    std::size_t uSlot = 0;
                                    if (relabelled && slotOf(u, &uSlot))
                                        __builtin_prefetch(&indexOfSlot[uSlot]);
                                }
            StlTriangle* t = at(i);
            if (!t)
                continue;
            if (!marked)
                t->setWalkMark(0); // see findShells
            else if (t->walkMark() != 0)
                *marked = true;
            if (t->isDeleted())
                continue;
            if (!fillRow(t, relabelled ? i : slot(t), true))
                return false;
        }
        return true;
    }

    // Fills the whole table from the mesh's triangle array. Where triangle i
    // lies in record slot i (an imported mesh) and the mesh is big, parts of
    // 64-slot multiples go to several threads: their rows and filled bits lie
    // in bytes of their own, except the rows whose 16-byte window reaches into
    // the next part, which are filled after the threads. The rows are the same
    // in any order. False when a neighbour lies outside the table's range.
    bool fillTable(const RefArray<StlTriangle>& triangles) {
        const std::size_t total = triangles.size();
        unsigned threads = importThreads(total);
        if (threads > 1 && (total != table.slots() || slot(triangles.front()) != 0 ||
                            triangles.back() != triangleAt(total - 1)))
            threads = 1;
        if (threads > 1)
            for (std::size_t i = 0; i < total && threads > 1; ++i)
                if (triangles[i] != triangleAt(i))
                    threads = 1;
        if (threads == 1) {
            table.clearBytes(0, table.slots());
            return fillRows(triangles, 0, total);
        }
        if (scattered(triangles))
            relabel(threads);
        const std::size_t width = 3 * (table.bits() + 1);
        std::vector<std::size_t> begin(threads + 1), safeEnd(threads);
        for (unsigned t = 0; t <= threads; ++t)
            begin[t] = t == threads ? total : partBegin(total / 64, t, threads) * 64;
        for (unsigned t = 0; t < threads; ++t) {
            // Rows whose window stays inside the part's bytes.
            const std::size_t endByte = begin[t + 1] * width / 8;
            std::size_t e = begin[t + 1];
            while (e > begin[t] && (e - 1) * width / 8 + 16 > endByte && t + 1 < threads)
                --e;
            safeEnd[t] = e;
        }
        std::atomic<bool> ok{true}, anyMarked{false};
        runOnThreads(threads, [&](unsigned t) {
            // Each part's own bytes: the rows below safeEnd stay inside them.
            table.clearBytes(begin[t], t + 1 == threads ? table.slots() : begin[t + 1]);
            bool marked = false;
            if (!fillRows(triangles, begin[t], safeEnd[t], &marked))
                ok.store(false, std::memory_order_relaxed);
            if (marked)
                anyMarked.store(true, std::memory_order_relaxed);
        });
        if (anyMarked.load())
            runOnThreads(threads, [&](unsigned t) {
                for (std::size_t i = begin[t]; i < begin[t + 1]; ++i)
                    triangles[i]->setWalkMark(0);
            });
        if (!ok.load())
            return false;
        for (unsigned t = 0; t + 1 < threads; ++t)
            if (!fillRows(triangles, safeEnd[t], begin[t + 1]))
                return false;
        return true;
    }

    // Whether most triangles' neighbours lie far away in the record block, as
    // in a file whose facets come in no particular order (judged on a sample).
    bool scattered(const RefArray<StlTriangle>& triangles) const {
        constexpr std::size_t kSamples = 4096;
        const std::size_t total = triangles.size();
        const std::size_t window = std::min<std::size_t>(std::max<std::size_t>(total / 64, 64), 65536);
        std::size_t near = 0, far = 0;
        for (std::size_t i = 0; i < total; i += std::max<std::size_t>(1, total / kSamples)) {
            const StlTriangle* t = triangles[i];
            if (!t || t->isDeleted())
                continue;
            for (const StlEdge* e : t->edges)
                if (e)
                    for (const StlTriangle* u : *e)
                        if (u != t) {
                            const std::size_t j = slot(u);
                            (j + window > i && j < i + window ? near : far) += 1;
                        }
        }
        return far > 2 * near;
    }

    // Rows in breadth-first order over the triangles' edges, so that the rows
    // of a triangle's neighbours lie near its own, as in a mesh stored strip
    // by strip. Each thread grows patches from the slots of its part not yet
    // taken, breadth first, and takes what no other thread has taken; the
    // threads' rows follow one another. (Which thread takes a triangle at the
    // seams may vary from run to run; the walk does not depend on the rows'
    // order.)
    void relabel(unsigned threads) {
        const std::size_t total = table.slots();
        indexOfSlot.assign(total, 0);
        slotOfIndex.assign(total, 0);
        std::unique_ptr<std::atomic<uint64_t>[]> taken(new std::atomic<uint64_t>[(total + 63) / 64]);
        for (std::size_t w = 0; w < (total + 63) / 64; ++w)
            taken[w].store(0, std::memory_order_relaxed);
        auto take = [&](std::size_t i) {
            const uint64_t bit = uint64_t(1) << (i & 63);
            return (taken[i >> 6].load(std::memory_order_relaxed) & bit) == 0 &&
                   (taken[i >> 6].fetch_or(bit, std::memory_order_relaxed) & bit) == 0;
        };
        std::vector<std::vector<uint32_t>> order(threads);
        runOnThreads(threads, [&](unsigned t) {
            std::vector<uint32_t>& rows = order[t];
            rows.reserve(total / threads + 1024);
            std::size_t head = 0;
            const std::size_t end = partBegin(total, t + 1, threads);
            for (std::size_t seed = partBegin(total, t, threads); seed < end; ++seed) {
                if (!take(seed))
                    continue;
                rows.push_back(static_cast<uint32_t>(seed));
                for (; head < rows.size(); ++head) {
                    if (head + 4 < rows.size())
                        for (const StlEdge* e : triangleAt(rows[head + 4])->edges)
                            __builtin_prefetch(e);
                    const StlTriangle* tri = triangleAt(rows[head]);
                    for (const StlEdge* e : tri->edges)
                        if (e)
                            for (const StlTriangle* u : *e) {
                                std::size_t j = 0;
                                if (u != tri && slotOf(u, &j) && take(j))
                                    rows.push_back(static_cast<uint32_t>(j));
                            }
                }
            }
        });
        std::size_t placed = 0;
        for (const std::vector<uint32_t>& rows : order) {
            std::copy(rows.begin(), rows.end(), slotOfIndex.begin() + static_cast<std::ptrdiff_t>(placed));
            placed += rows.size();
        }
        forRanges(total, threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end; ++r)
                indexOfSlot[slotOfIndex[r]] = static_cast<uint32_t>(r);
        });
        reachedRow.assign((total + 63) / 64, 0);
        relabelled = true;
    }
};

// The work arrays of the shell search running on this thread, shared by the
// shells it grows; null outside a search.
thread_local ShellWalk* t_walk = nullptr;

// growShell's walk from a seed that is already filed, over the neighbour table:
// the same triangles in the same order into the same lists, the same
// orientation classes, the same open flag and the same sequence of box points
// as the pointer walk. The walk reads only the table; the triangles it reaches
// go to the log, whose records are written later in the same order (see
// ShellWalk::writeEntries). Returns the number of triangles filed.
uint32_t walkTable(ShellWalk& walk, StlTriangle* seed, StlShell* shell) {
    using Row = NeighbourTable::Row;
    NeighbourTable& table = walk.table;
    const uint64_t none = table.none();
    const std::size_t slots = table.slots();
    walk.spill.clear();
    walk.slotQueue.clear();
    std::size_t queueHead = 0;

    // Table rows, which are record slots unless the table is relabelled.
    const std::size_t seedSlot = walk.indexOf(walk.slot(seed));
    walk.setReachedRow(seedSlot);
    seed->setReversed(false);
    seed->shell = shell;
    walk.beginShell(shell, seed->vertices);
    // The work list: primary triangles in frames (taken last in, first out), the
    // reversed ones in a queue taken when no frame holds any.
    walk.spill.push_back({seedSlot, none});
    const uint64_t spilled = table.spilled();
    uint64_t top = spilled; // the seed's spill frame
    uint32_t count = 1;

    for (;;) {
        std::size_t ts = 0;
        bool tReversed = false;
        if (top != none) {
            if (top == spilled) {
                const ShellWalk::Spill f = walk.spill.back();
                walk.spill.pop_back();
                ts = f.waiting;
                top = f.below;
            } else {
                const Row frame = table.row(top);
                const uint64_t first = table.frameField(frame, 0);
                const uint64_t second = table.frameField(frame, 1);
                const uint64_t below = table.frameField(frame, 2);
                if (second != none) {
                    ts = second;
                    if (first == none)
                        top = below;
                    else
                        table.setRow(top, table.makeFrame(first, none, below));
                } else {
                    ts = first;
                    top = below;
                }
            }
        } else if (queueHead < walk.slotQueue.size()) {
            ts = walk.slotQueue[queueHead++];
            tReversed = true;
        } else {
            break;
        }

        // A triangle outside the mesh's array (linked by an edge only) gets its
        // row when it is reached.
        if (!table.filled(ts)) {
            walk.drain(); // the row reads records the writer may be writing
            walk.fillRow(walk.triangleAt(walk.slotAt(ts)), ts, false);
        }
        const Row r = table.row(ts);
        // The neighbours' rows are wanted soon (the last primary one next).
        for (int k = 0; k < 3; ++k) {
            const uint64_t us = table.fieldSlot(table.field(r, k));
            if (us != none)
                table.prefetchRow(us);
        }
        uint64_t children[3];
        int childCount = 0;
        for (int k = 0; k < 3; ++k) {
            const uint64_t f = table.field(r, k);
            const uint64_t us = table.fieldSlot(f);
            if (us == none) {
                if (table.fieldFlag(f))
                    shell->open = 1;
                continue;
            }
            if (walk.isReachedRow(us))
                continue;
            const bool uPrimary = tReversed != table.fieldFlag(f);
            walk.setReachedRow(us);
            if (uPrimary)
                children[childCount++] = us;
            else
                walk.slotQueue.push_back(static_cast<uint32_t>(us));
            walk.log.push_back({static_cast<uint32_t>(walk.slotAt(us)), static_cast<uint32_t>(walk.slotAt(ts)),
                                static_cast<uint32_t>(k) | (uPrimary ? 0u : 4u)});
            ++count;
        }
        // t's row is not read again: it keeps t's frame. A third primary
        // neighbour (only a seed or a triangle reached across a side it does not
        // link has one) goes to a spill frame below.
        if (childCount == 3) {
            walk.spill.push_back({children[0], top});
            top = spilled;
            children[0] = children[1];
            children[1] = children[2];
            childCount = 2;
        }
        if (childCount > 0) {
            table.setRow(ts, table.makeFrame(children[0], childCount == 2 ? children[1] : none, top));
            top = ts;
        } else if (top < slots) {
            // The next triangle comes from an older frame.
            table.prefetchRow(top);
        }
        if (walk.log.size() >= ShellWalk::kLogBatch)
            walk.submitLog();
    }
    return count;
}

} // namespace

int StlObject::findShells(bool report, int progressBase, const ProgressSink* progress) {
    const ProgressSink& sink = ProgressSink::orGlobal(progress);
    clearLiveEdgeMarks();
    releaseShells();
    // The range of the records' addresses (on threads for a big mesh).
    const unsigned scanThreads = importThreads(m_records.triangles.size());
    std::vector<std::pair<const char*, const char*>> ranges(scanThreads, {nullptr, nullptr});
    runOnThreads(scanThreads, [&](unsigned part) {
        const char* low = nullptr;
        const char* high = nullptr;
        const std::size_t end = partBegin(m_records.triangles.size(), part + 1, scanThreads);
        for (std::size_t i = partBegin(m_records.triangles.size(), part, scanThreads); i < end; ++i) {
            const char* p = reinterpret_cast<const char*>(m_records.triangles[i].get());
            if (!p)
                continue;
            if (!low || p < low)
                low = p;
            if (!high || p > high)
                high = p;
        }
        ranges[part] = {low, high};
    });
    const char* lowest = nullptr;
    const char* highest = nullptr;
    for (const auto& r : ranges) {
        if (r.first && (!lowest || r.first < lowest))
            lowest = r.first;
        if (r.second && (!highest || r.second > highest))
            highest = r.second;
    }

    const uint32_t n = triangleCount();
    const uint32_t reportEvery = n / 15;
    uint32_t counter = 0;
    // One set of work arrays serves every shell of this search. Reached
    // triangles are kept in a bit array when the records lie close together
    // (always after an import); otherwise the walk marks serve.
    ShellWalk walk;
    bool marksCleared = false;
    if (lowest) {
        const std::size_t slots = static_cast<std::size_t>(highest - lowest) / sizeof(StlTriangle) + 1;
        if (slots <= 4 * static_cast<std::size_t>(n) + 4096) {
            walk.base = lowest;
            walk.reached.assign((slots + 63) / 64, 0);
        }
        // The neighbour table when the records lie in one run of slots (always
        // after an import): a few bytes per triangle, given back at the end.
        if (walk.base && slots <= static_cast<std::size_t>(n) + n / 8 + 64) {
            walk.table.init(slots);
            marksCleared = true;
            // The rows do not depend on each other; big meshes whose records
            // lie in array order fill them on several threads.
            if (!walk.fillTable(m_records.triangles)) {
                walk.table.release();
                walk.table = NeighbourTable();
                marksCleared = false;
            }
        }
    }
    // A walk mark left behind by an interrupted walk would keep its triangle out
    // of every shell, and the geometry writer stores only filed triangles.
    if (!marksCleared)
        for (StlTriangle* t : m_records.triangles)
            if (t)
                t->setWalkMark(0);
    auto search = [&] {
        t_walk = &walk;
        for (uint32_t i = 0; i < n; ++i) {
            if (report && ++counter > reportEvery) {
                counter = 0;
                sink.setPercent(progressBase + static_cast<int>((15ull * i) / n));
            }
            // The reached bit first: it spares loading the records of the
            // triangles already filed (after an import, nearly all of them).
            // A triangle not yet reached is not in the log, so the writer
            // does not touch its record.
            StlTriangle* t = m_records.triangles[i];
            if (t && (walk.base ? !walk.isReached(t) : t->walkMark() == 0) && !t->isDeleted())
                growShell(t, true);
        }
        t_walk = nullptr;
    };
    // The table walk of a big mesh hands the writing of the records it
    // reaches to a second thread and goes on walking: both take about as
    // long, and the records are written in the same order either way.
    if (walk.table.slots() != 0 && importThreads(n) > 1) {
        walk.threaded = true;
        runOnThreads(2, [&](unsigned part) {
            if (part == 0) {
                search();
                walk.submitLog();
                walk.close();
            } else {
                walk.writerLoop();
            }
        });
        walk.threaded = false;
    } else {
        search();
    }
    walk.drain();
    if (walk.current)
        walk.finishShell(*walk.current);
    walk.table.release();

    if (!walk.base)
        for (StlTriangle* t : m_records.triangles)
            if (t)
                t->setWalkMark(0);
    m_render.vertexStale = true;
    m_render.triangleStale = true;
    // The walks set no edge marks: the live edges are still clear.
    return 0;
}

StlShell* StlObject::growShell(StlTriangle* seed, bool addToObject) {
    ShellWalk local;
    ShellWalk& walk = t_walk ? *t_walk : local;
    auto* shell = new StlShell(this);
    constexpr double inf = std::numeric_limits<double>::infinity();
    Vector3D boxMin(inf, inf, inf);
    Vector3D boxMax(-inf, -inf, -inf);
    auto extend = [&](const Vector3D& p) { StlShell::widenBox(boxMin, boxMax, p); };

    shell->primaryTriangles.push_back(seed);
    if (walk.table.slots() != 0) {
        // The box is the writer's (see ShellWalk::writeEntries).
        shell->triangleCount = walkTable(walk, seed, shell);
        // The count is set before the shell is judged: the negligible test reads it.
        if (addToObject) {
            if (isNegligibleShell(shell))
                m_records.shells.push_back(shell);
            else
                m_records.shells.push_front(shell);
        }
        return shell;
    }
    for (const StlVertex* v : seed->vertices)
        extend(v->pos);
    const bool bits = walk.base != nullptr;
    if (bits)
        walk.setReached(seed);
    else
        seed->setWalkMark(1);
    seed->setReversed(false);
    seed->shell = shell;

    // The work list takes primary triangles at its front and reversed ones at its
    // back and is worked from the front, so that a consistently wound region is
    // swept before its misfits. Front insertions are always taken before anything
    // inserted at the back, so the list is a stack (front part) followed by a
    // queue (back part): two flat arrays reused from shell to shell.
    std::vector<StlTriangle*>& stack = walk.stack;
    std::vector<StlTriangle*>& queue = walk.queue;
    stack.clear();
    queue.clear();
    std::size_t queueHead = 0;
    stack.push_back(seed);
    uint32_t primaryCount = 1, reversedCount = 0;
    constexpr unsigned kPending = 16;
    const StlVertex* pending[kPending] = {};
    unsigned pendingNext = 0;
    for (;;) {
        StlTriangle* t;
        if (!stack.empty()) {
            t = stack.back();
            stack.pop_back();
        } else if (queueHead < queue.size()) {
            t = queue[queueHead++];
        } else {
            break;
        }
        // Unless t reaches new triangles, the next one comes from deep in the
        // stack and has long left the cache.
        if (!stack.empty())
            __builtin_prefetch(stack.back());
        const bool tReversed = t->isReversed();
        StlTriangle* found[3];
        const StlVertex* farCorner[3];
        int foundCount = 0;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (!e || e->marks() != 0)
                continue;
            if (e->edgeClass == kEdgeBoundary) {
                shell->open = 1;
                continue;
            }
            StlTriangle* u = triangleAcross(e, t);
            if (!u || (bits ? walk.isReached(u) : u->walkMark() != 0) || u->isDeleted())
                continue;
            int uSide = 0;
            const int winding = relativeWinding(t, k, u, &uSide);
            if (winding == 0)
                continue;
            const bool uPrimary = tReversed ? winding < 0 : winding > 0;
            if (bits)
                walk.setReached(u);
            if (uPrimary) {
                if (!bits)
                    u->setWalkMark(1);
                u->setReversed(false);
                shell->primaryTriangles.push_back(u);
                stack.push_back(u);
                ++primaryCount;
            } else {
                if (!bits)
                    u->setWalkMark(2);
                u->setReversed(true);
                shell->reversedTriangles.push_back(u);
                queue.push_back(u);
                ++reversedCount;
            }
            // The shared side's ends are in the box already (they are t's).
            const StlVertex* far = u->vertices[(uSide + 2) % 3];
            __builtin_prefetch(far);
            farCorner[foundCount] = far;
            found[foundCount++] = u;
            u->shell = shell;
        }
        // The triangles just reached are taken soon (the last one next): ask for
        // their edges now. Their far corners widen the box some steps later,
        // when the loads asked for above have arrived (min and max do not
        // depend on the order).
        for (int f = 0; f < foundCount; ++f) {
            for (const StlEdge* e : found[f]->edges)
                if (e)
                    __builtin_prefetch(e);
            const StlVertex*& slot = pending[pendingNext++ & (kPending - 1)];
            if (slot)
                extend(slot->pos);
            slot = farCorner[f];
        }
    }
    for (const StlVertex* v : pending)
        if (v)
            extend(v->pos);
    shell->boxMin = boxMin;
    shell->boxMax = boxMax;

    // The count is set before the shell is judged: the negligible test reads it.
    shell->triangleCount = primaryCount + reversedCount;
    if (addToObject) {
        if (isNegligibleShell(shell))
            m_records.shells.push_back(shell);
        else
            m_records.shells.push_front(shell);
    }
    return shell;
}

bool StlObject::isNegligibleShell(const StlShell* shell) const {
    const double a = shell->area;
    const double v = shell->volume;
    const uint32_t c = shell->triangleCount;
    if (c < 4)
        return true;
    const bool small = m_measures.area * 0.001 > std::fabs(a) && m_measures.volume * 0.001 > std::fabs(v) &&
                       static_cast<double>(m_measures.facetCount) * 0.001 > static_cast<double>(c);
    if (!small)
        return false;
    if (shell->open)
        return true;
    // Flat and thin: less than a fifteenth of the volume of a cube with the same surface.
    const double face = a / 6.0;
    return std::sqrt(face) * face / 15.0 > v;
}

void StlObject::clearLiveEdgeMarks() {
    forRanges(m_records.edges.size(), importThreads(m_records.edges.size()),
              [this](std::size_t begin, std::size_t end) {
                  for (std::size_t i = begin; i < end; ++i)
                      if (StlEdge* e = m_records.edges[i])
                          if (e->edgeClass != kEdgeDetached)
                              e->clearMarks();
              });
}

} // namespace topolib
