#pragma once

#include "topolib/RecordArena.h"

#include <cstdint>

namespace topolib {

class StlVertex;
class StlTriangle;

// Classes of a mesh edge.
enum EdgeClass : uint32_t {
    kEdgeSmooth = 0,      // two triangles, not a crease
    kEdgeSharp = 1,       // two triangles meeting at a crease
    kEdgeBoundary = 2,    // one triangle
    kEdgeNonManifold = 3, // three or more triangles, or an edge along a drain-hole cut
    kEdgeDetached = 5,    // no triangle left; every lookup and count skips it
};

// A side shared by the triangles that join the same two vertices.
//
// Entries 0 and 1 of the vertex list are the end points in the order of the
// triangle side that created the edge; the triangle cutter may add further
// vertices lying on it (at most 30). The triangle list holds at most 126
// triangles. Both lists keep their first two entries inside the record, so the
// common edge (two ends, two triangles) needs no allocation of its own.
class StlEdge {
public:
    static constexpr uint32_t kMaxTriangles = 126;
    static constexpr uint32_t kMaxVertices = 30;
    static constexpr uint32_t kMarkMask = 0xF; // flag bits 0-3: visit marks of walks

    // An edge whose list moves to the heap marks itself (arena::markOwner): a
    // pool of millions of edges is destroyed without looking at the others.
    static constexpr bool kMarksOwnedMemory = true;

    StlEdge() = default;
    StlEdge(StlVertex* a, StlVertex* b) { init(a, b); }
    ~StlEdge() {
        if ((m_vertexWord | m_triangleWord) & kOnHeap)
            releaseLists();
        arena::recordDestroyed(this);
    }
    StlEdge(const StlEdge&) = delete;
    static void* operator new(std::size_t bytes) { return arena::allocateRecord(bytes); }
    static void operator delete(void* p, std::size_t bytes) { arena::freeRecord(p, bytes); }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}
    StlEdge& operator=(const StlEdge&) = delete;

    // The header is packed into eight bytes (a million-facet mesh has one and a
    // half million edges): index, flags, class, and the two list words below.
    uint32_t index = 0;             // position in the mesh's edge array
    uint8_t flags = 0;              // bits 0-3: walk marks; the other bits carry nothing
    uint8_t edgeClass = kEdgeSmooth; // an EdgeClass value

    // Resets the record to the edge a-b: marks cleared, class 0, vertex list {a, b},
    // empty triangle list of capacity 2. Overflow lists are released.
    StlEdge* init(StlVertex* a, StlVertex* b);

    uint32_t marks() const { return flags & kMarkMask; }
    void clearMarks() { flags &= ~kMarkMask; }

    uint32_t vertexCount() const { return m_vertexWord & kCountMask; }
    uint32_t vertexCapacity() const { return listCapacity(m_vertexWord, m_v.heap); }
    StlVertex* vertex(uint32_t i) const { return vertexData()[i]; }
    const Ref<StlVertex>* vertices() const { return vertexData(); }
    // Exchanges entries 0 and 1 of the vertex list: the edge then runs the way
    // its creating triangle runs it after that triangle's winding was reversed.
    void swapEnds() {
        Ref<StlVertex>* list = vertexData();
        const Ref<StlVertex> first = list[0];
        list[0] = list[1];
        list[1] = first;
    }

    uint32_t triangleCount() const { return m_triangleWord & kCountMask; }
    uint32_t triangleCapacity() const { return listCapacity(m_triangleWord, m_t.heap); }
    // Slot i of the triangle list (i < capacity); slots past the count are null.
    StlTriangle* triangle(uint32_t i) const { return triangleData()[i]; }
    const Ref<StlTriangle>* triangles() const { return triangleData(); }
    const Ref<StlTriangle>* begin() const { return triangleData(); }
    const Ref<StlTriangle>* end() const { return triangleData() + triangleCount(); }

    // Appends t (no duplicate test) and sets the class from the new count:
    // 1 boundary, 2 smooth, more non-manifold. Refuses with 0, changing nothing,
    // when the edge already holds 126 triangles. Returns the new count.
    uint32_t addTriangle(StlTriangle* t);
    // Removes the first entry equal to t (last entry moved into its place) and sets
    // the class from the remaining count (also when t was not listed): 0 detached, 1 boundary, 2 smooth, more
    // non-manifold. Returns whether t was listed.
    bool removeTriangle(const StlTriangle* t);

    // Appends v unless it is listed already. Returns 1 when appended, 0 when
    // already present or when the edge holds 30 vertices.
    int addVertex(StlVertex* v);

    // Lowest-edge support test: true when a live, ungrouped incident triangle that
    // contains the edge has its opposite vertex below the edge's line.
    bool hasLowerOppositeVertex() const;
    // The full lowest-edge test of the support search: a crease or non-manifold
    // edge under a downward-facing triangle, within 5 degrees of horizontal, whose
    // triangles all rise from it and none lies within 1 degree of horizontal.
    bool isLowestHorizontalEdge() const;

    // Which side (0, 1, 2) of t this edge is, or -1 when t does not link it.
    int sideIn(const StlTriangle* t) const;

    // Makes this edge (fresh, or with inline lists only) a copy of src for
    // another mesh: index, marks, class, and both lists in order, each entry
    // replaced by mapVertex / mapTriangle of it (each takes and returns a
    // reference). A list that src keeps on the heap gets a heap block of the
    // same capacity. False, the lists left empty, when a block cannot be had.
    template <typename MapVertex, typename MapTriangle>
    bool copyFrom(const StlEdge& src, const MapVertex& mapVertex, const MapTriangle& mapTriangle) {
        index = src.index;
        flags = src.flags;
        edgeClass = src.edgeClass;
        if (!prepareLists((src.m_vertexWord & kOnHeap) ? src.vertexCapacity() : 0,
                          (src.m_triangleWord & kOnHeap) ? src.triangleCapacity() : 0))
            return false;
        const uint32_t nv = src.vertexCount();
        const uint32_t nt = src.triangleCount();
        const Ref<StlVertex>* sv = src.vertexData();
        const Ref<StlTriangle>* st = src.triangleData();
        Ref<StlVertex>* dv = vertexData();
        Ref<StlTriangle>* dt = triangleData();
        for (uint32_t i = 0; i < nv; ++i)
            dv[i] = mapVertex(sv[i]);
        for (uint32_t i = 0; i < nt; ++i)
            dt[i] = mapTriangle(st[i]);
        m_vertexWord = static_cast<uint8_t>((m_vertexWord & kOnHeap) | nv);
        m_triangleWord = static_cast<uint8_t>((m_triangleWord & kOnHeap) | nt);
        return true;
    }

private:
    // A list word holds the count (bits 0-6) and, in bit 7, whether the list has
    // moved from the record to a heap block; a heap block keeps its capacity in
    // the slot before its first entry. The inline lists have capacity 2.
    static constexpr uint8_t kCountMask = 0x7F;
    static constexpr uint8_t kOnHeap = 0x80;
    template <typename R>
    static uint32_t listCapacity(uint8_t word, const R* heap) {
        return (word & kOnHeap) ? heap[-1].raw() : 2u;
    }

    Ref<StlVertex>* vertexData() { return (m_vertexWord & kOnHeap) ? m_v.heap : m_v.inl; }
    const Ref<StlVertex>* vertexData() const { return (m_vertexWord & kOnHeap) ? m_v.heap : m_v.inl; }
    Ref<StlTriangle>* triangleData() { return (m_triangleWord & kOnHeap) ? m_t.heap : m_t.inl; }
    const Ref<StlTriangle>* triangleData() const { return (m_triangleWord & kOnHeap) ? m_t.heap : m_t.inl; }
    void releaseLists();
    // Empty lists: inline, or a null-filled heap block of the given capacity
    // where it is above 2. False, both lists empty and inline, on failure.
    bool prepareLists(uint32_t vertexCapacity, uint32_t triangleCapacity);

    uint8_t m_vertexWord = 0;
    uint8_t m_triangleWord = 0;
    // Two references inline, or the heap block's entries (a heap block's first
    // slot holds its capacity).
    union {
        Ref<StlVertex> inl[2];
        Ref<StlVertex>* heap;
    } m_v{{nullptr, nullptr}};
    union {
        Ref<StlTriangle> inl[2];
        Ref<StlTriangle>* heap;
    } m_t{{nullptr, nullptr}};
};

static_assert(sizeof(void*) != 8 || sizeof(StlEdge) == 24, "edge header packed into eight bytes");

} // namespace topolib
