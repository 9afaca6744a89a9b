// The shell search of the mesh object: connected components with their two
// orientation classes and the negligible-shell test.
#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "topolib/ImportSession.h"
#include "topolib/NeighbourEntries.h"
#include "topolib/ParallelRuns.h"
#include "topolib/RecordIndex.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace topolib {

namespace {

// How u is wound against t across t's side k: +1 alike (u runs the side the
// other way), -1 against (u runs it the same way), 0 when u does not have the side.
// *uSide receives the side of u that matched.
// A record has one reference, so the corners compare by their references.
int relativeWinding(const StlTriangle* t, int k, const StlTriangle* u, int* uSide) {
    static constexpr int kNext[3] = {1, 2, 0};
    const uint32_t a = t->vertices[k].raw();
    const uint32_t b = t->vertices[kNext[k]].raw();
    const uint32_t corners[3] = {u->vertices[0].raw(), u->vertices[1].raw(), u->vertices[2].raw()};
    for (int j = 0; j < 3; ++j) {
        const uint32_t uj = corners[j];
        const uint32_t uj1 = corners[kNext[j]];
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

// Files a grown shell into the object's shells: a negligible one at the back,
// any other at the front. The shell is the object's once filed.
void fileShell(std::deque<StlShell*>& shells, std::unique_ptr<StlShell> shell, bool negligible) {
    if (negligible)
        shells.push_back(shell.get());
    else
        shells.push_front(shell.get());
    shell.release();
}

// The room for the shells of one search, asked of the memory check a batch
// at a time once there are many. The memory a mesh file's reader asks for is
// counted per facet for meshes of a few shells; a mesh that falls apart into
// loose facets has a shell for each, which costs about as much again.
class ShellBudget {
public:
    // Before each shell is made: at every kBatch-th one asks for the next
    // batch, and throws std::bad_alloc when the check refuses.
    void beforeShell() {
        if (++m_made % kBatch == 0 && MemoryCheckCallback && !MemoryCheckCallback(kBatch * kShellBytes))
            throw std::bad_alloc();
    }

private:
    static constexpr uint64_t kBatch = uint64_t(1) << 16;
    // The record with the allocator's overhead, and its place in the object's list.
    static constexpr uint64_t kShellBytes = sizeof(StlShell) + 16 + sizeof(StlShell*);
    uint64_t m_made = 0;
};

// Work arrays of the shell search, reused by every shell it grows.
//
// The reached triangles are kept in a bit array, one bit per record slot
// counted from `base`, when the records lie close together (always after an
// import): a reached neighbour is then recognised without loading its record,
// and the triangles' walk marks are not needed. Otherwise (base null), and for
// a triangle outside the slots (one that only an edge links), the walk marks
// serve.
//
// The work list takes primary triangles at its front and reversed ones at its
// back and is worked from the front, so that a consistently wound region is
// swept before its misfits. Front insertions are always taken before anything
// inserted at the back, so the list is a stack (front part) followed by a
// queue (back part): two flat arrays of 32-bit references.
struct ShellWalk {
    const char* base = nullptr;
    std::size_t slots = 0;
    std::vector<uint64_t> reached;
    // Triangles outside the slots that a search with the bit array marked.
    std::vector<StlTriangle*> marked;
    std::vector<Ref<StlTriangle>> stack;
    std::vector<Ref<StlTriangle>> queue;

    bool usesBits() const { return base != nullptr; }
    // Uses the records [lowest, lowest + count slots) for the bit array.
    void useBits(const char* lowest, std::size_t count) {
        base = lowest;
        slots = count;
        reached.assign((count + 63) / 64, 0);
    }
    // t's slot in the bit array, or false when it has none.
    bool slotOf(const StlTriangle* t, std::size_t* slot) const {
        const auto p = reinterpret_cast<std::uintptr_t>(t);
        const auto b = reinterpret_cast<std::uintptr_t>(base);
        if (p < b || (p - b) % sizeof(StlTriangle) != 0)
            return false;
        *slot = (p - b) / sizeof(StlTriangle);
        return *slot < slots;
    }
    bool isReached(const StlTriangle* t) const {
        std::size_t i = 0;
        if (usesBits() && slotOf(t, &i))
            return (reached[i >> 6] >> (i & 63)) & 1u;
        return t->walkMark() != 0;
    }
    // Marks t reached and files its orientation class. A bit marks it when it
    // has one (its walk mark is cleared on the way: findShells leaves none
    // behind); otherwise the walk mark is 1 (primary) or 2 (reversed).
    void reach(StlTriangle* t, bool reversed) {
        uint32_t flags = t->flags & ~(StlTriangle::kWalkMarkMask | StlTriangle::kReversed);
        if (reversed)
            flags |= StlTriangle::kReversed;
        std::size_t i = 0;
        if (usesBits() && slotOf(t, &i)) {
            reached[i >> 6] |= uint64_t(1) << (i & 63);
        } else {
            flags |= (reversed ? 2u : 1u) << StlTriangle::kWalkMarkShift;
            if (usesBits())
                marked.push_back(t);
        }
        t->flags = flags;
    }

    // Asks for what the walk reads of the triangles it takes some steps from
    // now: their records first, their edges once the records have arrived. A
    // triangle taken from deep in the stack has long left the cache, and the
    // walk would otherwise wait for its record and then for its edges.
    template <typename Entries>
    static void prefetchAhead(const Entries& list, std::size_t recordAt, std::size_t edgesAt) {
        // A record is one cache line (the record pools hand out 64-byte
        // records from page-aligned chunks).
        __builtin_prefetch(list[recordAt]);
        for (const StlEdge* e : list[edgesAt]->edges)
            if (e)
                __builtin_prefetch(e);
    }
};

// Guesses which records and edges the walk takes next from those it has
// taken. A walk along a strip of facets that are stored strip by strip (as
// tessellators write them) meets records, and their edges, at a fixed distance
// from one another every second step (the two triangles of a quad alternate).
// The walk itself learns its next triangle only when the record and edges of
// the current one have arrived, and distances of many pages are beyond the
// processor's own prefetching; so the walk asks one and two such distances
// ahead. A wrong guess costs a few prefetches of lines that are not used.
class StrideGuess {
public:
    void take(const StlTriangle* t) {
        const std::uintptr_t record = reinterpret_cast<std::uintptr_t>(t);
        if (m_records[1] != 0) {
            const std::uintptr_t step = record - m_records[1];
            prefetch(record + step);
            prefetch(record + 2 * step);
        }
        m_records[1] = m_records[0];
        m_records[0] = record;
        for (int k = 0; k < 3; ++k) {
            const std::uintptr_t edge = reinterpret_cast<std::uintptr_t>(t->edges[k].get());
            if (edge != 0 && m_edges[1][k] != 0)
                prefetch(edge + (edge - m_edges[1][k]));
            m_edges[1][k] = m_edges[0][k];
            m_edges[0][k] = edge;
        }
    }

private:
    static void prefetch(std::uintptr_t address) { __builtin_prefetch(reinterpret_cast<const void*>(address)); }

    // The records and edges taken one and two steps back (0 for none).
    std::uintptr_t m_records[2] = {0, 0};
    std::uintptr_t m_edges[2][3] = {{0, 0, 0}, {0, 0, 0}};
};

// How far ahead of the walk ShellWalk::prefetchAhead asks for records and edges.
constexpr std::size_t kRecordsAhead = 16;
constexpr std::size_t kEdgesAhead = 8;

// Clears the walk marks of the edges [begin, end) of `edges` that are not
// detached, writing only where one is set: after an import none is, and the
// pass then only reads.
void clearMarksOfLiveEdges(const std::vector<Ref<StlEdge>>& edges, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i)
        if (StlEdge* e = edges[i])
            if (e->edgeClass != kEdgeDetached && e->marks() != 0)
                e->clearMarks();
}

// The records of a triangle array that stands in a few runs of records one
// after the other: a mesh read from a file is one run, a hollowed model two
// (its inner surface is made in a block of its own) and three once drain
// holes have added their walls. A position gives its record, and a record
// its position, by arithmetic.
class TriangleRuns {
public:
    static constexpr unsigned kMaxRuns = 4;

    // One run: record i at first + i, for i < n.
    void single(StlTriangle* first, uint32_t n) {
        m_run[0] = Run{0, n, first};
        std::fill(std::begin(m_laterBegin), std::end(m_laterBegin), UINT32_MAX);
        m_count = first ? 1 : 0;
    }
    // The runs that index found; none when two of them overlap in memory.
    void fromIndex(const RecordIndex<StlTriangle>& index) {
        m_count = 0;
        const unsigned count = index.runCount();
        if (count == 0 || count > kMaxRuns)
            return;
        Run runs[kMaxRuns];
        for (unsigned k = 0; k < count; ++k)
            runs[k] = Run{static_cast<uint32_t>(index.runBegin(k)), static_cast<uint32_t>(index.runLength(k)),
                          index.runRecord(k)};
        for (unsigned a = 0; a < count; ++a)
            for (unsigned b = 0; b < count; ++b) {
                const auto lo = reinterpret_cast<std::uintptr_t>(runs[a].first);
                const auto hi = lo + std::uintptr_t(runs[a].count) * sizeof(StlTriangle);
                const auto other = reinterpret_cast<std::uintptr_t>(runs[b].first);
                if (a != b && other >= lo && other < hi)
                    return;
            }
        std::copy(runs, runs + count, m_run);
        for (unsigned k = 1; k < count; ++k)
            m_laterBegin[k - 1] = runs[k].begin;
        m_count = count;
    }
    unsigned count() const { return m_count; }
    StlTriangle* at(uint32_t i) const {
        // Without branches: a walk goes back and forth between the runs.
        const unsigned k = unsigned(i >= m_laterBegin[0]) + unsigned(i >= m_laterBegin[1]) +
                           unsigned(i >= m_laterBegin[2]);
        return m_run[k].first + (i - m_run[k].begin);
    }
    // The position of u, or false when it lies in no run.
    bool indexOf(const StlTriangle* u, uint32_t* index) const {
        for (unsigned k = 0; k < m_count; ++k) {
            const std::uintptr_t offset =
                reinterpret_cast<std::uintptr_t>(u) - reinterpret_cast<std::uintptr_t>(m_run[k].first);
            if (offset % sizeof(StlTriangle) == 0 && offset / sizeof(StlTriangle) < m_run[k].count) {
                *index = m_run[k].begin + static_cast<uint32_t>(offset / sizeof(StlTriangle));
                return true;
            }
        }
        return false;
    }

private:
    struct Run {
        uint32_t begin = 0;
        uint32_t count = 0;
        StlTriangle* first = nullptr;
    };
    Run m_run[kMaxRuns];
    // Where the runs after the first begin (past the array's end when there
    // is no such run).
    uint32_t m_laterBegin[kMaxRuns - 1] = {UINT32_MAX, UINT32_MAX, UINT32_MAX};
    unsigned m_count = 0;
};

// The records of an array in one run, as TriangleRuns gives them; passed by
// value to the walk, which then keeps the first record's address at hand.
struct OneRun {
    StlTriangle* first;
    StlTriangle* at(uint32_t i) const { return first + i; }
};

// Where the table of neighbours (NeighbourSearch) lives.
enum class TablePlace {
    // An array of its own, twelve bytes a triangle: a step of the walk reads a
    // fifth of a cache line, and threads fill the array side by side.
    OwnArray,
    // The live triangles' own records, in their id and shell fields (twelve
    // bytes), which the walk sets as it takes each triangle: no memory beyond
    // the mesh's, which on one thread is the import's peak. A step reads the
    // triangle's record, which the walk writes anyway.
    Records,
};

TablePlace tablePlaceFor(unsigned threads) {
    return threads > 1 ? TablePlace::OwnArray : TablePlace::Records;
}

// The shell search over a table of neighbours, for records that lie in array
// order (as an import leaves them). The search proper only needs the order in
// which the triangles are reached; what it reads of the records (edges, their
// classes and triangles, the neighbours' vertices) does not change while it
// runs. So one pass in array order, on the import's threads, writes for every
// triangle what lies across each of its sides; the search then walks that
// table with a bit per triangle (about one cache line a step instead of the
// records, edges and neighbours of the direct walk, which wait on one another)
// and files each triangle.
//
// In an array of its own (on threads), the walk leaves in each triangle's
// first entry its shell and class. Most meshes are one shell, and the table
// pass already points every live triangle at the first shell and notes the
// vertices they use, which the other threads box while the search runs: then
// only the reversed triangles are left to mark. Otherwise a last pass in array
// order, on threads again, files the triangles into their shells and widens
// the shells' boxes. Memory: twelve bytes a triangle for the table, beside the
// work list and the shells' lists that the direct walk has too.
//
// In the records (on one thread), the walk reads a triangle's entries when it
// takes it and then files it there: sets its id back, its shell and its
// class. The table pass notes the vertices the live triangles use, as above;
// one shell is boxed from them, several by a last pass in array order. Right
// after an import's edge build (on one thread, or on several for facets that
// come in order) the table is in the records already, with the vertices
// noted (ShellTableHandover): the build has joined each side to the triangle
// across while both were at hand, and the table pass, which would look each
// of them up again across the whole mesh, is skipped; the walk then runs on
// one thread, and the other threads only box the vertices before it.
class NeighbourSearch {
public:
    // The entries (NeighbourEntries.h).
    static constexpr uint32_t kAgainst = neighbour::kAgainst;
    static constexpr uint32_t kIndexMask = neighbour::kIndexMask;
    static constexpr uint32_t kBoundary = neighbour::kBoundary;
    static constexpr uint32_t kNone = neighbour::kNone;
    static constexpr uint32_t kMaxTriangles = neighbour::kMaxTriangles;

    // The triangles of the mesh's array, n of them, in the records of runs;
    // the vertex records are expected at vertices[0 .. vertexSlots) (any
    // order). firstShell is to be the first shell grown.
    // edges is the mesh's edge array, whose marks the search clears beside
    // the walk (the table reads them as if they were clear already).
    NeighbourSearch(const TriangleRuns& runs, uint32_t n, const StlVertex* vertices, std::size_t vertexSlots,
                    const std::vector<Ref<StlEdge>>& edges, unsigned threads, TablePlace place,
                    StlShell* firstShell)
        : m_runs(runs), m_n(n), m_vertices(vertices), m_vertexSlots(vertexSlots), m_edges(edges),
          m_threads(threads), m_place(place), m_firstShell(firstShell) {}

    // Whether the walk files every triangle it takes (the table lies in the
    // records): then besideSearch is not needed (the caller clears the
    // edges' marks), and fileTriangles only sets the boxes.
    bool filesAsItGoes() const { return m_place == TablePlace::Records; }
    // Fills the table. In an array of its own, expecting one shell (as most
    // meshes are), it also points every live triangle at the first shell and
    // notes which vertex records they use. False when a triangle across some
    // side lies outside the array (then only the direct walk can reach it),
    // or, for the table in the records, when a live triangle's id is not its
    // index; the records are then as before but for their shell fields.
    bool buildTable();
    // Instead of buildTable, for the table in the records: takes the one the
    // edge build has left there, with the bits of the vertex records the live
    // triangles use (ShellTableHandover).
    void takeHandedTable(std::vector<uint64_t> usedVertices);
    // Part `part` of `parts` of the work that may run beside the search: the
    // box of the vertices that live triangles use (to be joined in any order;
    // no points when some vertex lies outside the expected records), and the
    // clearing of the edges' walk marks.
    void besideSearch(unsigned part, unsigned parts);
    // The box part of besideSearch.
    void boxUsedVertices(unsigned part, unsigned parts);
    // Whether triangle i has been reached.
    bool isReached(uint32_t i) const { return (m_reached[i >> 6] >> (i & 63)) & 1u; }
    // Grows the shell of seed i (not reached, live) into shell: its lists, count
    // and open flag, and with the table in the records the triangles'
    // filing; otherwise fileTriangles files them.
    void grow(uint32_t seed, StlShell* shell) {
        const bool oneRun = m_runs.count() == 1;
        const OneRun one{oneRun ? m_runs.at(0) : nullptr};
        if (m_place == TablePlace::Records) {
            if (oneRun)
                growShell<TablePlace::Records>(seed, shell, one);
            else
                growShell<TablePlace::Records>(seed, shell, m_runs);
        } else {
            if (oneRun)
                growShell<TablePlace::OwnArray>(seed, shell, one);
            else
                growShell<TablePlace::OwnArray>(seed, shell, m_runs);
        }
    }
    // Points every reached triangle at its shell, sets its orientation bit
    // (clearing its walk mark), unless the walk has, and sets the shells'
    // boxes. False, the boxes not set, when a box depends on the order of the
    // search (see dependsOnOrder): only the direct walk has that order.
    bool fileTriangles();

private:
    // A box with the zeros met on each axis: bit 2a for +0, 2a + 1 for -0.
    struct Box {
        Vector3D lo;
        Vector3D hi;
        unsigned zeros;
    };
    static Box emptyBox() {
        constexpr double inf = std::numeric_limits<double>::infinity();
        return Box{Vector3D(inf, inf, inf), Vector3D(-inf, -inf, -inf), 0};
    }
    static void widen(Box& box, const Vector3D& p) {
        StlShell::widenBox(box.lo, box.hi, p);
        const double c[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a)
            if (c[a] == 0.0)
                box.zeros |= 1u << (2 * a + (std::signbit(c[a]) ? 1 : 0));
    }
    static void join(Box& box, const Box& part) {
        box.zeros |= part.zeros;
        box.lo.x = part.lo.x < box.lo.x ? part.lo.x : box.lo.x;
        box.lo.y = part.lo.y < box.lo.y ? part.lo.y : box.lo.y;
        box.lo.z = part.lo.z < box.lo.z ? part.lo.z : box.lo.z;
        box.hi.x = part.hi.x > box.hi.x ? part.hi.x : box.hi.x;
        box.hi.y = part.hi.y > box.hi.y ? part.hi.y : box.hi.y;
        box.hi.z = part.hi.z > box.hi.z ? part.hi.z : box.hi.z;
    }
    // The direct walk widens a shell's box by the seed's corners and then the
    // far corner of each triangle it reaches, in that order, keeping the first
    // of equal coordinates. Only the two zeros are equal with different bits,
    // so the box of the same points in any order is the same unless a bound
    // is zero and the shell has both zeros on that axis: then the order of
    // the search decides.
    static bool dependsOnOrder(const Box& box) {
        const double lo[3] = {box.lo.x, box.lo.y, box.lo.z};
        const double hi[3] = {box.hi.x, box.hi.y, box.hi.z};
        for (int a = 0; a < 3; ++a)
            if (((box.zeros >> (2 * a)) & 3u) == 3u && (lo[a] == 0.0 || hi[a] == 0.0))
                return true;
        return false;
    }

    void reach(uint32_t i) { m_reached[i >> 6] |= uint64_t(1) << (i & 63); }
    // Index of u in the array, or false when it lies outside.
    bool indexOf(const StlTriangle* u, uint32_t* index) const { return m_runs.indexOf(u, index); }
    StlTriangle* at(uint32_t i) const { return m_runs.at(i); }
    // The result of one part of buildTable: the used vertices (a bit per
    // record), whether every vertex lay among the expected records, and
    // whether no live triangle had a walk mark or its orientation bit set.
    struct TablePart {
        std::vector<uint64_t> used;
        bool verticesKnown = true;
        bool flagsClear = true;
        bool complete = false;
        Box box = emptyBox(); // set by boxUsedVertices
    };
    // Writes the entries of triangles [begin, end) and does the rest of
    // buildTable's work for them. False as buildTable.
    bool fillEntries(uint32_t begin, uint32_t end, TablePart* part);
    // Writes the entries of every live triangle into its record. False as
    // buildTable, the ids set back.
    bool fillRecords();
    uint32_t entryAcross(const StlTriangle* t, int k, bool* outside) const;
    // Sets the bits of t's corners in used, or clears part->verticesKnown.
    void noteCorners(const StlTriangle* t, uint64_t* used, TablePart* part) const;
    // Asks for the entries of triangle i (records as runs gives them).
    template <TablePlace place, typename Runs>
    void prefetchEntries(uint32_t i, const Runs& runs) const {
        if (place == TablePlace::Records)
            __builtin_prefetch(runs.at(i));
        else
            __builtin_prefetch(m_entries.get() + std::size_t(3) * i);
    }
    // The records as runs gives them, a copy of m_runs or OneRun: the walk
    // writes the records, and what it reads to find them must not be
    // fetched again after every write.
    template <TablePlace place, typename Runs>
    void growShell(uint32_t seed, StlShell* shell, const Runs runs);

    const TriangleRuns m_runs;
    uint32_t m_n;
    const StlVertex* m_vertices;
    std::size_t m_vertexSlots;
    const std::vector<Ref<StlEdge>>& m_edges;
    unsigned m_threads;
    TablePlace m_place;
    StlShell* m_firstShell;
    std::vector<TablePart> m_parts;
    bool m_verticesKnown = true; // every used vertex has its bit
    bool m_flagsClear = true;    // no live triangle had a walk mark or its orientation bit
    // Three per triangle, when in an array of their own; once the search has
    // taken a triangle, its first entry holds its shell's number, with
    // kAgainst when it is reversed.
    std::unique_ptr<uint32_t[]> m_entries;
    std::vector<uint64_t> m_reached;
    std::vector<StlShell*> m_shells; // in the order they were grown
    std::vector<uint32_t> m_stack;
    std::vector<uint32_t> m_queue;
};

uint32_t NeighbourSearch::entryAcross(const StlTriangle* t, int k, bool* outside) const {
    const StlEdge* e = t->edges[k];
    if (!e)
        return kNone;
    // The search stops at a marked edge, and the marks of the array's live
    // edges are cleared before it runs (besideSearch).
    if (e->marks() != 0 &&
        !(e->edgeClass != kEdgeDetached && e->index < m_edges.size() && m_edges[e->index].get() == e))
        return kNone;
    if (e->edgeClass == kEdgeBoundary)
        return kBoundary;
    const StlTriangle* u = triangleAcross(e, t);
    if (!u)
        return kNone;
    uint32_t index = 0;
    if (!indexOf(u, &index)) {
        *outside = true;
        return kNone;
    }
    if (u->isDeleted())
        return kNone;
    int uSide = 0;
    const int winding = relativeWinding(t, k, u, &uSide);
    if (winding == 0)
        return kNone;
    return winding > 0 ? index : index | kAgainst;
}

// The table is filled in array order: the records come in order (the
// processor fetches them ahead); their edges and the triangles across are
// asked for some records ahead, the triangles once the edges have had time to
// arrive. Asks for what the entries of triangle i of [.., end) will need.
void prefetchForEntries(const TriangleRuns& runs, uint32_t i, uint32_t end) {
    constexpr uint32_t kEdgesAhead = 16;
    constexpr uint32_t kAcrossAhead = 8;
    if (i + kEdgesAhead < end)
        for (const StlEdge* e : runs.at(i + kEdgesAhead)->edges)
            __builtin_prefetch(e);
    if (i + kAcrossAhead < end) {
        for (const StlEdge* e : runs.at(i + kAcrossAhead)->edges)
            if (e)
                for (const StlTriangle* u : *e)
                    __builtin_prefetch(u);
    }
}

bool NeighbourSearch::fillEntries(uint32_t begin, uint32_t end, TablePart* part) {
    part->used.assign((m_vertexSlots + 63) / 64, 0);
    uint64_t* used = part->used.data();
    bool outside = false;
    uint32_t* entry = m_entries.get() + std::size_t(3) * begin;
    for (uint32_t i = begin; i < end; ++i, entry += 3) {
        prefetchForEntries(m_runs, i, end);
        StlTriangle* t = at(i);
        if (t->isDeleted()) {
            entry[0] = entry[1] = entry[2] = kNone;
            continue;
        }
        for (int k = 0; k < 3; ++k)
            entry[k] = entryAcross(t, k, &outside);
        // Other threads read this record's corners and flags (as a neighbour
        // of theirs), never its shell.
        t->shell = m_firstShell;
        if (t->flags & (StlTriangle::kWalkMarkMask | StlTriangle::kReversed))
            part->flagsClear = false;
        noteCorners(t, used, part);
    }
    return !outside;
}

void NeighbourSearch::noteCorners(const StlTriangle* t, uint64_t* used, TablePart* part) const {
    for (const StlVertex* v : t->vertices) {
        const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(v) - reinterpret_cast<std::uintptr_t>(m_vertices);
        const std::size_t slot = offset / sizeof(StlVertex);
        if (offset % sizeof(StlVertex) == 0 && slot < m_vertexSlots)
            used[slot >> 6] |= uint64_t(1) << (slot & 63);
        else
            part->verticesKnown = false;
    }
}

bool NeighbourSearch::fillRecords() {
    m_parts.resize(1);
    TablePart& part = m_parts[0];
    part.used.assign((m_vertexSlots + 63) / 64, 0);
    uint64_t* used = part.used.data();
    bool outside = false;
    uint32_t i = 0;
    for (; i < m_n; ++i) {
        prefetchForEntries(m_runs, i, m_n);
        StlTriangle* t = at(i);
        if (t->isDeleted())
            continue;
        if (t->id != static_cast<int32_t>(i))
            break;
        uint32_t entries[3];
        for (int k = 0; k < 3; ++k)
            entries[k] = entryAcross(t, k, &outside);
        if (outside)
            break;
        neighbour::storeInRecord(t, entries);
        noteCorners(t, used, &part);
    }
    if (i == m_n)
        return true;
    for (uint32_t j = 0; j < i; ++j)
        if (!at(j)->isDeleted())
            at(j)->id = static_cast<int32_t>(j);
    return false;
}

bool NeighbourSearch::buildTable() {
    if (m_place == TablePlace::Records) {
        m_reached.assign((std::size_t(m_n) + 63) / 64, 0);
        if (!fillRecords())
            return false;
        // The box of the used vertices now, so that their bits are gone
        // before the walk fills the shells' lists.
        m_verticesKnown = m_parts[0].verticesKnown;
        boxUsedVertices(0, 1);
        m_parts[0].used = std::vector<uint64_t>();
        return true;
    }
    m_entries.reset(new uint32_t[std::size_t(3) * m_n]);
    m_parts.resize(m_threads);
    runOnThreads(m_threads, [&](unsigned part) {
        TablePart& p = m_parts[part];
        p.complete = fillEntries(static_cast<uint32_t>(partBegin(m_n, part, m_threads)),
                                 static_cast<uint32_t>(partBegin(m_n, part + 1, m_threads)), &p);
    });
    for (const TablePart& p : m_parts) {
        if (!p.complete)
            return false;
        m_verticesKnown = m_verticesKnown && p.verticesKnown;
        m_flagsClear = m_flagsClear && p.flagsClear;
    }
    m_reached.assign((std::size_t(m_n) + 63) / 64, 0);
    return true;
}

void NeighbourSearch::takeHandedTable(std::vector<uint64_t> usedVertices) {
    assert(m_place == TablePlace::Records && usedVertices.size() == (m_vertexSlots + 63) / 64);
    m_reached.assign((std::size_t(m_n) + 63) / 64, 0);
    // Boxed in parts, as beside a search in an array of its own (the parts
    // but the first hold no bits of their own).
    m_parts.resize(std::max(1u, m_threads));
    m_parts[0].used = std::move(usedVertices);
    runOnThreads(static_cast<unsigned>(m_parts.size()),
                 [&](unsigned part) { boxUsedVertices(part, static_cast<unsigned>(m_parts.size())); });
    m_parts[0].used = std::vector<uint64_t>();
}

void NeighbourSearch::besideSearch(unsigned part, unsigned parts) {
    clearMarksOfLiveEdges(m_edges, partBegin(m_edges.size(), part, parts),
                          partBegin(m_edges.size(), part + 1, parts));
    boxUsedVertices(part, parts);
}

void NeighbourSearch::boxUsedVertices(unsigned part, unsigned parts) {
    Box& box = m_parts[part].box;
    box = emptyBox();
    if (!m_verticesKnown)
        return;
    const std::size_t words = (m_vertexSlots + 63) / 64;
    const std::size_t end = partBegin(words, part + 1, parts);
    for (std::size_t w = partBegin(words, part, parts); w < end; ++w) {
        uint64_t bits = 0;
        for (const TablePart& p : m_parts)
            if (!p.used.empty())
                bits |= p.used[w];
        for (; bits != 0; bits &= bits - 1)
            widen(box, m_vertices[w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits))].pos);
    }
}

template <TablePlace place, typename Runs>
void NeighbourSearch::growShell(uint32_t seed, StlShell* shell, const Runs runs) {
    constexpr bool inRecords = place == TablePlace::Records;
    // The work list as in the direct walk: primary triangles on a stack that
    // is worked first, reversed ones in a queue.
    constexpr std::size_t kAhead = 8;
    uint32_t* entries = m_entries.get();
    const uint32_t number = static_cast<uint32_t>(m_shells.size());
    m_shells.push_back(shell);
    m_stack.clear();
    m_queue.clear();
    std::size_t queueHead = 0;
    reach(seed);
    shell->primaryTriangles.push_back(runs.at(seed));
    m_stack.push_back(seed);
    uint32_t count = 1;
    uint32_t last[2] = {seed, seed};
    constexpr uint32_t kStridesAhead = 8;
    for (;;) {
        uint32_t t;
        bool tReversed;
        if (!m_stack.empty()) {
            t = m_stack.back();
            m_stack.pop_back();
            tReversed = false;
            if (m_stack.size() >= kAhead)
                prefetchEntries<place>(m_stack[m_stack.size() - kAhead], runs);
            if (!m_stack.empty())
                prefetchEntries<place>(m_stack.back(), runs);
        } else if (queueHead < m_queue.size()) {
            t = m_queue[queueHead++];
            tReversed = true;
            if (queueHead + kAhead < m_queue.size())
                prefetchEntries<place>(m_queue[queueHead + kAhead], runs);
        } else {
            break;
        }
        // A walk along a strip of facets stored strip by strip moves by a
        // fixed step every second step (the two triangles of a quad
        // alternate); the entries some such steps on are asked for.
        const uint32_t step = t - last[1];
        last[1] = last[0];
        last[0] = t;
        prefetchEntries<place>(t + kStridesAhead * step, runs);
        uint32_t found[3];
        if (inRecords) {
            StlTriangle* record = runs.at(t);
            neighbour::loadFromRecord(record, found);
            record->id = static_cast<int32_t>(t);
            record->shell = shell;
            uint32_t flags = record->flags & ~(StlTriangle::kWalkMarkMask | StlTriangle::kReversed);
            record->flags = tReversed ? flags | StlTriangle::kReversed : flags;
        } else {
            uint32_t* across = entries + std::size_t(3) * t;
            for (int k = 0; k < 3; ++k)
                found[k] = across[k];
            across[0] = tReversed ? number | kAgainst : number;
        }
        for (uint32_t a : found) {
            if (a >= kBoundary) {
                if (a == kBoundary)
                    shell->open = 1;
                continue;
            }
            const uint32_t u = a & kIndexMask;
            if (isReached(u))
                continue;
            reach(u);
            ++count;
            StlTriangle* record = runs.at(u);
            if (inRecords)
                __builtin_prefetch(record);
            // Alike to a primary triangle, or against a reversed one.
            if (((a & kAgainst) != 0) == tReversed) {
                shell->primaryTriangles.push_back(record);
                m_stack.push_back(u);
            } else {
                shell->reversedTriangles.push_back(record);
                m_queue.push_back(u);
            }
        }
    }
    shell->triangleCount = count;
}

bool NeighbourSearch::fileTriangles() {
    // With the table in the records the walk has filed every triangle: only
    // the boxes are left.
    const bool filed = m_place == TablePlace::Records;
    // One shell holds every live triangle, whose vertices buildTable (in the
    // records) or besideSearch (in an array of its own) has boxed. In an
    // array of its own buildTable has pointed them at the shell: only its
    // reversed triangles are left to mark.
    if (m_shells.size() == 1 && m_verticesKnown &&
        (filed || (m_flagsClear && m_shells[0]->reversedTriangles.size() <= m_n / 16))) {
        Box live = emptyBox();
        for (const TablePart& p : m_parts)
            join(live, p.box);
        if (dependsOnOrder(live))
            return false;
        StlShell* shell = m_shells[0];
        if (!filed)
            for (StlTriangle* t : shell->reversedTriangles)
                t->flags |= StlTriangle::kReversed;
        shell->boxMin = live.lo;
        shell->boxMax = live.hi;
        return true;
    }
    // The shells' numbers by their addresses, for triangles the walk has filed.
    using Numbered = std::pair<const StlShell*, uint32_t>;
    const auto byAddress = [](const Numbered& a, const Numbered& b) {
        return std::less<const StlShell*>()(a.first, b.first);
    };
    std::vector<Numbered> numbers;
    if (filed) {
        for (uint32_t s = 0; s < m_shells.size(); ++s)
            numbers.emplace_back(m_shells[s], s);
        std::sort(numbers.begin(), numbers.end(), byAddress);
    }
    // Each part keeps a box per shell; with many shells, fewer parts.
    constexpr std::size_t kMaxBoxes = std::size_t(1) << 16;
    unsigned threads = m_n >= m_threads ? m_threads : 1;
    if (m_shells.size() * threads > kMaxBoxes)
        threads = static_cast<unsigned>(std::max<std::size_t>(1, kMaxBoxes / m_shells.size()));
    std::vector<std::vector<Box>> parts(threads);
    const uint32_t* entries = m_entries.get();
    runOnThreads(threads, [&](unsigned part) {
        const uint32_t begin = static_cast<uint32_t>(partBegin(m_n, part, threads));
        const uint32_t end = static_cast<uint32_t>(partBegin(m_n, part + 1, threads));
        std::vector<Box>& boxes = parts[part];
        boxes.assign(m_shells.size(), emptyBox());
        constexpr uint32_t kAhead = 8;
        Numbered last(nullptr, 0);
        for (uint32_t i = begin; i < end; ++i) {
            if (i + kAhead < end)
                for (const StlVertex* v : at(i + kAhead)->vertices)
                    __builtin_prefetch(v);
            if (!isReached(i))
                continue;
            StlTriangle* t = at(i);
            uint32_t number = 0;
            if (filed) {
                // Neighbours in the array mostly share a shell.
                if (t->shell != last.first)
                    last = *std::lower_bound(numbers.begin(), numbers.end(), Numbered(t->shell, 0), byAddress);
                number = last.second;
            } else {
                const uint32_t entry = entries[std::size_t(3) * i];
                number = entry & kIndexMask;
                uint32_t flags = t->flags & ~(StlTriangle::kWalkMarkMask | StlTriangle::kReversed);
                if (entry & kAgainst)
                    flags |= StlTriangle::kReversed;
                t->flags = flags;
                t->shell = m_shells[number];
            }
            for (const StlVertex* v : t->vertices)
                widen(boxes[number], v->pos);
        }
    });
    std::vector<Box>& boxes = parts[0];
    for (unsigned part = 1; part < threads; ++part)
        for (std::size_t s = 0; s < boxes.size(); ++s)
            join(boxes[s], parts[part][s]);
    for (const Box& box : boxes)
        if (dependsOnOrder(box))
            return false;
    for (std::size_t s = 0; s < m_shells.size(); ++s) {
        m_shells[s]->boxMin = boxes[s].lo;
        m_shells[s]->boxMax = boxes[s].hi;
    }
    return true;
}

// The range of the records' addresses in a triangle array, and whether they
// all lie a whole number of records apart (on threads for a big mesh).
struct RecordSpan {
    const char* low = nullptr;
    const char* high = nullptr;
    bool misaligned = false;
    bool outOfOrder = false; // a record not at its place after the array's first
};

RecordSpan spanOfRecords(const std::vector<Ref<StlTriangle>>& triangles) {
    const unsigned scanThreads = importThreads(triangles.size());
    std::vector<RecordSpan> spans(scanThreads);
    const StlTriangle* first = triangles.empty() ? nullptr : triangles[0].get();
    runOnThreads(scanThreads, [&](unsigned part) {
        RecordSpan span;
        const std::size_t end = partBegin(triangles.size(), part + 1, scanThreads);
        for (std::size_t i = partBegin(triangles.size(), part, scanThreads); i < end; ++i) {
            const char* p = reinterpret_cast<const char*>(triangles[i].get());
            if (first && p != reinterpret_cast<const char*>(first + i))
                span.outOfOrder = true;
            if (!p)
                continue;
            if (span.low && (p - span.low) % static_cast<std::ptrdiff_t>(sizeof(StlTriangle)) != 0)
                span.misaligned = true;
            if (!span.low || p < span.low)
                span.low = p;
            if (!span.high || p > span.high)
                span.high = p;
        }
        spans[part] = span;
    });
    RecordSpan all;
    for (const RecordSpan& span : spans) {
        if (!span.low)
            continue;
        if (all.low && (span.low - all.low) % static_cast<std::ptrdiff_t>(sizeof(StlTriangle)) != 0)
            all.misaligned = true;
        all.misaligned = all.misaligned || span.misaligned;
        all.outOfOrder = all.outOfOrder || span.outOfOrder;
        if (!all.low || span.low < all.low)
            all.low = span.low;
        if (!all.high || span.high > all.high)
            all.high = span.high;
    }
    return all;
}

// growShell's flood with the work arrays of `walk`, which a search over the
// whole mesh shares between its shells. The shell is not filed.
std::unique_ptr<StlShell> floodShell(StlObject& mesh, StlTriangle* seed, ShellWalk& walk) {
    auto owned = std::make_unique<StlShell>(&mesh);
    StlShell* shell = owned.get();
    constexpr double inf = std::numeric_limits<double>::infinity();
    Vector3D boxMin(inf, inf, inf);
    Vector3D boxMax(-inf, -inf, -inf);
    auto extend = [&](const Vector3D& p) { StlShell::widenBox(boxMin, boxMax, p); };

    shell->primaryTriangles.push_back(seed);
    for (const StlVertex* v : seed->vertices)
        extend(v->pos);
    walk.reach(seed, false);
    seed->shell = shell;

    std::vector<Ref<StlTriangle>>& stack = walk.stack;
    std::vector<Ref<StlTriangle>>& queue = walk.queue;
    stack.clear();
    queue.clear();
    std::size_t queueHead = 0;
    stack.push_back(seed);
    uint32_t count = 1;
    StrideGuess guess;
    // Far corners whose loads are on their way (see below).
    constexpr unsigned kPending = 16;
    const StlVertex* pending[kPending] = {};
    unsigned pendingNext = 0;
    for (;;) {
        StlTriangle* t;
        if (!stack.empty()) {
            t = stack.back();
            stack.pop_back();
            if (stack.size() >= kRecordsAhead)
                ShellWalk::prefetchAhead(stack, stack.size() - kRecordsAhead, stack.size() - kEdgesAhead);
            // Unless t reaches new triangles, the next one comes from deep in
            // the stack.
            if (!stack.empty())
                __builtin_prefetch(stack.back());
        } else if (queueHead < queue.size()) {
            t = queue[queueHead++];
            if (queueHead + kRecordsAhead < queue.size())
                ShellWalk::prefetchAhead(queue, queueHead + kRecordsAhead, queueHead + kEdgesAhead);
        } else {
            break;
        }
        guess.take(t);
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
            if (!u || walk.isReached(u) || u->isDeleted())
                continue;
            int uSide = 0;
            const int winding = relativeWinding(t, k, u, &uSide);
            if (winding == 0)
                continue;
            const bool uPrimary = tReversed ? winding < 0 : winding > 0;
            walk.reach(u, !uPrimary);
            if (uPrimary) {
                shell->primaryTriangles.push_back(u);
                stack.push_back(u);
            } else {
                shell->reversedTriangles.push_back(u);
                queue.push_back(u);
            }
            ++count;
            // The shared side's ends are in the box already (they are t's).
            const StlVertex* far = u->vertices[(uSide + 2) % 3];
            __builtin_prefetch(far);
            farCorner[foundCount] = far;
            found[foundCount++] = u;
            u->shell = shell;
        }
        // The triangles just reached are taken soon (the last one next): ask for
        // their edges now. Their far corners widen the box some steps later,
        // when the loads asked for above have arrived (the points come in the
        // same order either way).
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
    shell->triangleCount = count;
    return owned;
}

} // namespace

int StlObject::findShells(bool report, int progressBase, const ProgressMonitor* progress,
                          ImportSession* session) {
    const ImportLoadReading load;
    const ProgressMonitor& sink = monitorOrDialog(progress);
    releaseShells();
    const uint32_t n = triangleCount();
    StlTriangle* first = m_records.triangles.empty() ? nullptr : m_records.triangles[0].get();
    // The table the edge build may have left in the records (their order
    // checked there); the records are as the build left them.
    ShellTableHandover handed = session ? session->takeShellTable() : ShellTableHandover();
    assert(!handed.holdsTable() || handed.triangles == n);
    const bool tableHanded = handed.holdsTable() && handed.triangles == n;
    RecordSpan all;
    if (!tableHanded)
        all = spanOfRecords(m_records.triangles);

    const unsigned threads = importThreads(n);
    // The table serves records in array order, and on threads those in a few
    // runs (a hollowed and drilled model; on one thread the direct walk is
    // sooner there than a pass that fills the table and a walk of it).
    TriangleRuns runs;
    if (tableHanded || !all.outOfOrder)
        runs.single(first, n);
    else if (tablePlaceFor(threads) == TablePlace::OwnArray)
        runs.fromIndex(RecordIndex<StlTriangle>(m_records.triangles, threads));
    const bool byTable = first && runs.count() > 0 && (tableHanded || n <= NeighbourSearch::kMaxTriangles);
    ShellBudget budget;
    if (byTable) {
        auto firstShell = std::make_unique<StlShell>(this);
        const StlVertex* vertices = m_records.vertices.empty() ? nullptr : m_records.vertices[0].get();
        NeighbourSearch table(runs, n, vertices, vertices ? m_records.vertices.size() : 0, m_records.edges,
                              threads, tableHanded ? TablePlace::Records : tablePlaceFor(threads),
                              firstShell.get());
        bool built = true;
        if (tableHanded) {
            // The edges are fresh from the build: no marks to clear.
            table.takeHandedTable(std::move(handed.usedVertices));
        } else {
            // The table reads the live edges' marks as clear; on threads they
            // are cleared beside the search, on one thread first.
            if (table.filesAsItGoes())
                clearLiveEdgeMarks();
            built = table.buildTable();
        }
        if (!built) {
            firstShell.reset();
            if (!table.filesAsItGoes())
                clearLiveEdgeMarks();
        } else {
            // The search on this thread; on threads the others meanwhile clear
            // the edges' marks and box the vertices for the case that it finds
            // one shell.
            auto search = [&] {
                const uint32_t reportEvery = n / 15;
                uint32_t counter = 0;
                for (uint32_t i = 0; i < n; ++i) {
                    if (report && ++counter > reportEvery) {
                        counter = 0;
                        sink.report((progressBase + static_cast<int>((15ull * i) / n)) / 100.0);
                    }
                    if (table.isReached(i))
                        continue;
                    StlTriangle* t = runs.at(i);
                    t->setWalkMark(0);
                    if (t->isDeleted()) {
                        t->shell = nullptr; // its shell was released above
                        continue;
                    }
                    budget.beforeShell();
                    std::unique_ptr<StlShell> shell =
                        firstShell ? std::move(firstShell) : std::make_unique<StlShell>(this);
                    table.grow(i, shell.get());
                    const bool negligible = isNegligibleShell(shell.get());
                    fileShell(m_records.shells, std::move(shell), negligible);
                }
            };
            if (table.filesAsItGoes()) {
                search();
            } else {
                runOnThreads(threads, [&](unsigned part) {
                    if (part == 0)
                        search();
                    else
                        table.besideSearch(part - 1, threads - 1);
                });
            }
            firstShell.reset(); // no live triangle
            if (table.fileTriangles()) {
                m_derived.vertexRenderStale = true;
                m_derived.triangleRenderStale = true;
                return 0;
            }
            // The direct walk below replaces the shells and files every
            // triangle again.
            releaseShells();
        }
    } else {
        clearLiveEdgeMarks();
    }
    // One set of work arrays serves every shell of this search. The bit array
    // needs a slot for every triangle of the array.
    if (tableHanded)
        all = spanOfRecords(m_records.triangles);
    ShellWalk walk;
    if (all.low && !all.misaligned) {
        const std::size_t slots = static_cast<std::size_t>(all.high - all.low) / sizeof(StlTriangle) + 1;
        if (slots <= 4 * static_cast<std::size_t>(n) + 4096)
            walk.useBits(all.low, slots);
    }
    // A walk mark left behind by an interrupted walk would keep its triangle
    // out of every shell, and the geometry writer stores only filed
    // triangles. With the bit array the walk clears the marks of the triangles
    // it reaches, and the loop below those of the others.
    auto clearWalkMarks = [this] {
        for (StlTriangle* t : m_records.triangles)
            if (t)
                t->setWalkMark(0);
    };
    if (!walk.usesBits())
        clearWalkMarks();

    const uint32_t reportEvery = n / 15;
    uint32_t counter = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (report && ++counter > reportEvery) {
            counter = 0;
            sink.report((progressBase + static_cast<int>((15ull * i) / n)) / 100.0);
        }
        // The reached bit first: it spares loading the records of the
        // triangles already filed (after an import, nearly all of them).
        StlTriangle* t = m_records.triangles[i];
        if (!t || walk.isReached(t))
            continue;
        if (walk.usesBits())
            t->setWalkMark(0);
        if (t->isDeleted()) {
            t->shell = nullptr; // its shell was released above
        } else {
            budget.beforeShell();
            std::unique_ptr<StlShell> shell = floodShell(*this, t, walk);
            const bool negligible = isNegligibleShell(shell.get());
            fileShell(m_records.shells, std::move(shell), negligible);
        }
    }
    if (!walk.usesBits())
        clearWalkMarks();
    for (StlTriangle* t : walk.marked)
        t->setWalkMark(0);
    m_derived.vertexRenderStale = true;
    m_derived.triangleRenderStale = true;
    // The walks set no edge marks: the live edges are still clear.
    return 0;
}


StlShell* StlObject::growShell(StlTriangle* seed, bool addToObject) {
    ShellWalk walk;
    std::unique_ptr<StlShell> shell = floodShell(*this, seed, walk);
    StlShell* grown = shell.get();
    if (addToObject) {
        const bool negligible = isNegligibleShell(grown);
        fileShell(m_records.shells, std::move(shell), negligible);
    } else {
        shell.release(); // the caller files it
    }
    return grown;
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
    forRanges(
        m_records.edges.size(), importThreads(m_records.edges.size()),
        [this](std::size_t begin, std::size_t end) { clearMarksOfLiveEdges(m_records.edges, begin, end); });
}

} // namespace topolib
