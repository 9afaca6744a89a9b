#pragma once

#include "topolib/RecordArena.h"
#include "topolib/Vector3D.h"

#include <cstdint>

namespace topolib {

class StlVertex;
class StlEdge;
class StlShell;

// One facet of a mesh. Vertices are counter-clockwise seen from outside: the
// normal is (p1 - p0) × (p2 - p0), normalised. Edge k joins vertex k and vertex
// (k + 1) mod 3.
//
// Flag bits:
//   0      deleted: the triangle stays in the mesh's array, every live query skips it
//   1      orientation class from the shell search (wound against the shell's seed)
//   2      a cut context is filed for the triangle (see TriangleCutter)
//   3      unused, cleared by init
//   4-6    walk mark, scratch state of one walk at a time
//   7-26   signed 20-bit group id, -1 (all ones) for no group
class StlTriangle {
public:
    static constexpr uint32_t kDeleted = 1u << 0;
    static constexpr uint32_t kReversed = 1u << 1;
    // Set and cleared only by the TriangleCutter that files the context.
    static constexpr uint32_t kHasCutContext = 1u << 2;
    static constexpr uint32_t kWalkMarkShift = 4;
    static constexpr uint32_t kWalkMarkMask = 0x7u << kWalkMarkShift;
    static constexpr uint32_t kGroupShift = 7;
    static constexpr uint32_t kGroupMask = 0xFFFFFu << kGroupShift;
    // Bits 0-6 cleared (no cut context), group -1.
    static constexpr uint32_t kInitialFlags = kGroupMask;

    // Nothing to release for a triangle in the window: a pool of triangles is
    // destroyed without looking at them.
    static constexpr bool kMarksOwnedMemory = true;

    StlTriangle() = default;
    // A triangle outside the record window leaves the table of such records.
    ~StlTriangle() { arena::recordDestroyed(this); }
    StlTriangle(const StlTriangle&) = delete;
    // Records live in the record window (see RecordArena.h).
    static void* operator new(std::size_t bytes) { return arena::allocateRecord(bytes); }
    static void operator delete(void* p, std::size_t bytes) { arena::freeRecord(p, bytes); }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}
    StlTriangle& operator=(const StlTriangle&) = delete;

    uint32_t flags = kInitialFlags;
    int32_t id = 0;                       // position in the mesh's triangle array
    Vector3D normal;                      // unit normal, zero for a degenerate triangle
    Ref<StlEdge> edges[3];
    Ref<StlVertex> vertices[3];
    StlShell* shell = nullptr; // the component holding the triangle; null once deleted and the shells rebuilt

    bool isDeleted() const { return (flags & kDeleted) != 0; }
    void setDeleted(bool on) { flags = on ? (flags | kDeleted) : (flags & ~kDeleted); }
    bool isReversed() const { return (flags & kReversed) != 0; }
    void setReversed(bool on) { flags = on ? (flags | kReversed) : (flags & ~kReversed); }
    // Whether a drain-hole cut has filed a context for the triangle; the cut's
    // TriangleCutter::contextOf fetches it.
    bool hasCutContext() const { return (flags & kHasCutContext) != 0; }
    uint32_t walkMark() const { return (flags & kWalkMarkMask) >> kWalkMarkShift; }
    void setWalkMark(uint32_t m) { flags = (flags & ~kWalkMarkMask) | ((m << kWalkMarkShift) & kWalkMarkMask); }
    // The sign-extended 20-bit group id; -1 means no group.
    int32_t group() const { return static_cast<int32_t>(flags << 5) >> 12; }
    void setGroup(int32_t g) {
        flags = (flags & ~kGroupMask) | ((static_cast<uint32_t>(g) << kGroupShift) & kGroupMask);
    }

    StlVertex* vertex(int k) const { return vertices[k]; }
    StlEdge* edge(int k) const { return edges[k]; }
    const double* normalData() const { return normal.data(); }

    // Resets the record (flags to the initial state, id 0, no edges, shell or cut
    // context; a context is dropped, not freed), sets the vertices (a, b, c),
    // registers the triangle with a, b and c in that order and computes the
    // normal. Returns this.
    StlTriangle* init(StlVertex* a, StlVertex* b, StlVertex* c);
    // Resets to the freshly initialised state without vertices.
    void reset();

    // Removes the triangle from the incident lists of its vertices.
    void detachFromVertices();
    // Removes the triangle from its edges' triangle lists and reclassifies each by
    // its remaining count (0 detached, 1 boundary, 2 smooth, more non-manifold). The
    // triangle keeps its edge pointers.
    void detachFromEdges();

    // Sets the normal to the normalised (p1 - p0) × (p2 - p0) and returns the length
    // before normalisation (twice the area); 0 and the zero normal when the squared
    // length is below 1e-15.
    double computeNormal();
    void setNormal(const double n[3]) { normal = Vector3D(n); }

    // Point and line tests of the octree queries (defined with the octree kernels).
    // p projected on the plane lies inside the triangle (edges within 1e-10 count).
    bool containsProjectedPoint(const double p[3]) const;
    // 0 when p lies inside (no projection), else k + 1 for the first edge k it lies
    // outside of (tolerance 1e-6).
    int outsideEdge(const double p[3]) const;
    // The infinite line q + s d meets the triangle; hit receives the plane point.
    // False when |n . d| < 1e-6.
    bool lineHit(const double q[3], const double d[3], double hit[3]) const;
    // The line parallel to axis k through (uv[0], uv[1]) on axes k+1, k+2 counts as
    // hitting; *t receives the plane's coordinate on axis k.
    bool axisRayHit(int k, const double uv[2], double* t) const;
    // p's x/y projection lies inside the triangle's x/y projection.
    bool containsPointXY(const double p[3]) const;

    // Fills every empty edge slot k with the live edge between vertex k and k + 1
    // (taken as it is), or with a new edge of the shell owner's mesh that lists this
    // triangle. Slots stay empty when a new edge is needed but the triangle has no
    // shell.
    void ensureEdges();

    // The vertex opposite side k (side 0 -> vertex 2, 1 -> 0, 2 -> 1).
    StlVertex* oppositeVertex(int side) const { return vertices[(side + 2) % 3]; }
};

// A million-triangle mesh holds a million of these: the cut context, needed by
// a few hundred triangles during a cut, lives with the cut (TriangleCutter) so
// that every record stays this small.
static_assert(sizeof(void*) != 8 || sizeof(StlTriangle) == 64, "StlTriangle grew");

// Half the length of (p1 - p0) × (p2 - p0).
double triangleArea(const StlTriangle* t);

// A triangle's share of its mesh's area and volume: returns twice its area and
// sets *volumeTerm to six times the signed volume of the tetrahedron it forms
// with `reference`. Summed over the live triangles in record order, these give
// the mesh's measures (StlObject::computeAreaAndVolume).
double areaAndVolumeTerms(const StlTriangle* t, const Vector3D& reference, double* volumeTerm);

} // namespace topolib
