#pragma once

#include "topolib/RecordArena.h"
#include "topolib/Vector3D.h"

#include <cmath>
#include <cstdint>

namespace topolib {

class StlTriangle;
class StlEdge;
class StlShell;

// One distinct point of a mesh with the list of triangles that use it.
//
// The incident list either lives in a block the owning mesh hands out when it
// welds (no allocation per vertex) or, once it has to grow past that block, in a
// heap block the vertex owns. Capacities follow 5, 8, 11, ... up to 32765, which
// is the most triangles a vertex can hold; further triangles are refused.
class StlVertex {
public:
    static constexpr uint32_t kMaxTriangles = 32765;
    // A vertex listing more triangles than this is a hub (of a fan: a finely
    // divided cone or cylinder cap): steps that would read its whole list once
    // per side there read the list of the side's other end instead.
    static constexpr uint32_t kHubTriangles = 64;
    // Whether a step looking for the triangles or the edge of side a-b reads
    // b's list instead of a's: a is a hub and b lists fewer triangles.
    static bool readsFarEnd(const StlVertex& a, const StlVertex& b) {
        return a.triangleCount() > kHubTriangles && b.triangleCount() < a.triangleCount();
    }
    static constexpr uint32_t kMarkMask = 0x3; // flag bits 0-1: the two-bit mark

    // A vertex that comes to own its list marks itself (arena::markOwner): a
    // pool of millions of vertices is destroyed without looking at the others.
    static constexpr bool kMarksOwnedMemory = true;

    StlVertex() = default;
    explicit StlVertex(const double p[3]) : pos(p) {}
    StlVertex(double x, double y, double z) : pos(x, y, z) {}
    ~StlVertex() {
        if (m_ownsList)
            freeList();
        arena::recordDestroyed(this);
    }
    StlVertex(const StlVertex&) = delete;
    static void* operator new(std::size_t bytes) { return arena::allocateRecord(bytes); }
    static void operator delete(void* p, std::size_t bytes) { arena::freeRecord(p, bytes); }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}
    StlVertex& operator=(const StlVertex&) = delete;

    Vector3D pos;                         // the position
    int32_t index = -1;                   // position in the mesh's vertex vector; -1 while unplaced
    uint32_t flags = 0;                   // bits 0-1: the two-bit mark; other bits unused

    double x() const { return pos.x; }
    double y() const { return pos.y; }
    double z() const { return pos.z; }

    uint32_t mark() const { return flags & kMarkMask; }
    void setMark(uint32_t m) { flags = (flags & ~kMarkMask) | (m & kMarkMask); }

    // Incident triangles, in list order.
    uint32_t triangleCount() const { return m_count; }
    uint32_t triangleCapacity() const { return m_capacity; }
    bool hasTriangleList() const { return m_list != nullptr; }
    StlTriangle* triangle(uint32_t i) const { return m_list[i]; }
    const Ref<StlTriangle>* triangles() const { return m_list; }
    const Ref<StlTriangle>* begin() const { return m_list; }
    const Ref<StlTriangle>* end() const { return m_list + m_count; }

    // Appends t unless it is already listed. Returns 1 when appended, 0 when t was
    // already there or the list holds kMaxTriangles (the caller cannot tell which).
    int addTriangle(StlTriangle* t);
    // Appends t, which the caller knows is not listed yet, when the list has a
    // free slot; false (nothing changed) when it is full. The welding fast path.
    bool appendUnlisted(StlTriangle* t) {
        if (m_list == nullptr || m_count >= m_capacity)
            return false;
        m_list[m_count++] = t;
        return true;
    }
    // Removes the first entry equal to t by moving the last entry into its place
    // (order is not kept, the capacity stays). Returns whether t was listed.
    bool removeTriangle(const StlTriangle* t);

    // Replaces the position by M · (x, y, z, 1), M column-major (Matrix4D layout),
    // without perspective division.
    void transform(const double m[16]);

    // Sum of the normals of the live incident triangles, normalised with
    // Vector3D::normalize; the zero vector without live triangles.
    void computeNormal(double out[3]) const;

    // The first live edge (class not 5) between a and b found through a's live
    // incident triangles, in list order, edges 0, 1, 2 of each; null when none.
    static StlEdge* findEdgeTo(const StlVertex* a, const StlVertex* b);

    // ---- Neighbourhood walks (NeighbourhoodWalks.cpp) ----------------------------
    // One step along a chain of lowest, almost horizontal edges: the far end of the
    // first unvisited edge of a live incident triangle that passes
    // StlEdge::isLowestHorizontalEdge, adding its length to *length; null when
    // none. Every edge examined gets visit mark bit 0 (the caller clears them).
    StlVertex* nextLowestEdgeVertex(double* length);
    // One step along an open rim: the boundary edge at this vertex not yet taken
    // (edge flag bit 1 clear) that ends here (reverse false) or starts here
    // (reverse true) in its triangle's order; where several qualify, the tightest
    // clockwise turn from the incoming edge *edge. Sets *edge to the edge taken and
    // returns its far end; null, *edge unchanged, when none qualifies.
    StlVertex* nextRimVertex(StlEdge** edge, bool reverse) const;
    // The same along the rim of one shell: also non-manifold edges with exactly one
    // triangle of that shell qualify; reverse turns the other way.
    StlVertex* nextShellRimVertex(StlEdge** edge, const StlShell* shell, bool reverse) const;

    // Gives the vertex an empty incident list of `capacity` slots in storage it
    // does not own (the mesh's welding block). Any previous list is dropped
    // (freed when owned); the count becomes 0.
    void useExternalList(Ref<StlTriangle>* slots, uint32_t capacity);

private:
    bool grow();
    void freeList();

    Ref<StlTriangle>* m_list = nullptr;
    uint16_t m_count = 0;
    uint16_t m_capacity = 0;
    bool m_ownsList = false;
};

// A big mesh holds millions of vertices, so their record is kept at 48 bytes on
// 64-bit builds: the position, index and flags, the list pointer and its counts.
// Algorithms that need more per vertex keep it in tables of their own.
static_assert(sizeof(void*) != 8 || sizeof(StlVertex) == 48, "StlVertex grew past 48 bytes");

// True when all three components are finite (neither infinite nor NaN).
bool isFiniteVector(const double v[3]);

// Float points within the import tolerance: the component differences are formed
// in single precision; each must be within 1e-6 and the sum of their squares
// (single precision) at most 1e-12.
bool floatPointsEqual(const float a[3], const float b[3]);
// As floatPointsEqual with the tolerance scaled by `scale` (0 < scale <= 1):
// each difference within 1e-6 * scale, the squares' sum within 1e-12 * scale².
bool floatPointsNear(const float a[3], const float b[3], double scale);
// The test of floatPointsNear with its limits given (for callers that test
// many points against one scale): each single-precision difference within
// `tolerance`, their single-precision squares' sum within `squareLimit`.
inline bool floatPointsWithin(const float a[3], const float b[3], double tolerance, double squareLimit) {
    const float dx = a[0] - b[0];
    const float dy = a[1] - b[1];
    const float dz = a[2] - b[2];
    if (std::fabs(static_cast<double>(dx)) > tolerance || std::fabs(static_cast<double>(dy)) > tolerance ||
        std::fabs(static_cast<double>(dz)) > tolerance)
        return false;
    const float sq = dx * dx + dy * dy + dz * dz;
    return static_cast<double>(sq) <= squareLimit;
}
// Exactly the same three floats.
inline bool floatPointsSame(const float a[3], const float b[3]) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

} // namespace topolib
