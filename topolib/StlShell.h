#pragma once

#include "topolib/RecordArena.h"
#include "topolib/SegmentedList.h"
#include "topolib/Vector3D.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace topolib {

class StlObject;
class StlTriangle;
class StlEdge;
class FillPolygon;
class ZSlabIndex;

// An axis-aligned box that the pieces a split asks for lie in
// (StlShell::splitIntoPieces).
struct PieceBounds {
    Vector3D lo;
    Vector3D hi;
    // Whether every corner of t lies in the box.
    bool holds(const StlTriangle* t) const;
};

// One connected component of a mesh: the triangles that reach each other across
// smooth and crease edges (classes 0 and 1). The shell search sorts them into two
// orientation classes: the primary triangles are wound like the component's seed
// triangle, the reversed ones against it (their flag bit 1 is set). A consistently
// oriented component has no reversed triangle.
//
// Ownership: the mesh owns its shells (allocated with new, released with delete).
// A shell owns its z-slab index and its containers, never the triangles, pieces,
// rim polygons or edges those containers point to.
class StlShell {
public:
    // Edge flag bit 1: the rim through the edge has been traced.
    static constexpr uint32_t kRimTracedEdgeBit = 1u << 1;

    // No owner, everything empty, changed = 1.
    StlShell();
    // The same with the owner set.
    explicit StlShell(StlObject* owner);
    // The shell copy used by the mesh copy: takes over the open flag, the spare
    // byte, the number, the area and the volume; changed = 1. Owner, slab index,
    // box and containers start empty: the copier sets the owner and files the
    // copied triangles with addTriangle.
    StlShell(const StlShell& source);
    StlShell& operator=(const StlShell&) = delete;
    ~StlShell();

    // Releases the slab index and empties the five containers (the records they
    // point to are not freed). The shell stays usable.
    void destroy();

    uint8_t flags = 0;   // cleared by the hollow preview before it judges the shell
    uint8_t open = 0;    // 1 when the flood fill met a boundary edge
    uint8_t spare = 0;   // 1 on an inner shell made by hollowing (stored in geometry entries);
                         // a later hollowing replaces such shells
    uint8_t changed = 1; // set whenever a triangle is filed
    uint32_t number = 0; // position in the owner's shell sequence (set by the mesh copy)
    uint32_t triangleCount = 0;
    // Per-shell z-slab index; the deleter comes with the index, so this header
    // does not need its definition.
    std::shared_ptr<ZSlabIndex> slabIndex;
    StlObject* owner = nullptr;
    double area = 0.0;   // only set by the geometry reader and by copying
    double volume = 0.0; // as area
    Vector3D boxMin;     // over the vertices of the shell's triangles
    Vector3D boxMax;

    // 32-bit references: a shell lists every triangle of its component. A
    // shell of one or two triangles (every facet of a triangle soup is one)
    // holds them without an allocation.
    using TriangleList = SegmentedList<Ref<StlTriangle>>;
    TriangleList primaryTriangles;  // wound like the seed, flag bit 1 clear
    TriangleList reversedTriangles; // wound against the seed, flag bit 1 set
    // The lists below are empty in almost every shell; vectors cost nothing
    // until they are used (a deque allocates when it is made).
    std::vector<StlShell*> pieces;              // made by splitIntoPieces, not yet taken
    std::vector<FillPolygon*> rimPolygons;      // traced rims waiting to be covered
    std::vector<StlEdge*> nonManifoldRimEdges;  // class 3 edges met while tracing rims

    // Files t into this shell: into the reversed list when t's orientation bit
    // matches the reversed list's first triangle, or differs from the primary
    // list's first triangle; otherwise into the primary list. Points t at this
    // shell, counts it and sets changed. Returns 1.
    int addTriangle(StlTriangle* t);

    // Splits the shell into the pieces that still hang together across edges of
    // class 0 or 1 (after cut triangles were replaced); the pieces are kept in
    // `pieces` until takePieces. With `within`, only the pieces that lie wholly
    // in that box are made: the others are not walked beyond the box (in a
    // large model cut in one place, nearly every triangle is in a piece that
    // reaches far out of it). Walk marks of the shell's triangles are clear
    // afterwards. Returns 0.
    int splitIntoPieces(const PieceBounds* within = nullptr);
    // Floods one piece from seed (walk mark 1 on every triangle reached) over edges
    // of class 0 or 1 between triangles of the seed's shell, appends it to
    // `pieces` and returns it. The triangles keep their shell pointer and
    // orientation bit; the piece has no reversed list and no box. With `within`,
    // a flood that reaches a triangle not wholly in the box, or one marked 2,
    // stops: its triangles are marked 2 and no piece is made (null).
    StlShell* splitOffPiece(StlTriangle* seed, const PieceBounds* within = nullptr);
    // Appends the pieces in order to out and forgets them.
    void takePieces(std::vector<StlShell*>& out);

    // Covers every rim polygon with free-standing triangles (not in any mesh, not
    // registered with their vertices) appended to out; the caller deletes them.
    // The polygons are deleted and the list emptied. False when a rim could not be
    // covered (FillPolygonRims.cpp).
    bool triangulateRimPolygons(std::deque<StlTriangle*>& out);

    // Sets (on) or clears flag bit 1 of every non-manifold rim edge met so far, so
    // that a rim tracing treats them as traced.
    void setRimEdgeMarks(bool on);

    // Sets the deleted bit of every triangle of both lists.
    void markTrianglesDeleted();
    // Appends the primary, then the reversed triangles to out. Returns 0.
    int appendTrianglesTo(std::vector<StlTriangle*>& out) const;
    // First live triangle of the primary list, else of the reversed list; null when
    // every triangle is deleted.
    StlTriangle* firstLiveTriangle() const;

    // Triangles of each list that pass the owner's validity test (what the
    // geometry writer stores). 0 without an owner.
    int countValidPrimaryTriangles() const;
    int countValidReversedTriangles() const;

    // Writes the primary, then the reversed triangles into array from slot next on
    // (the caller sized it), sets each id to its slot and fills every empty edge
    // link with the existing edge between its two vertices or a new edge of the
    // owner that is given the triangle; advances next.
    void renumberTriangles(Ref<StlTriangle>* array, uint32_t& next);

    // Sets the box over the vertices of the live triangles of both lists
    // (mesh copies and the geometry reader leave it empty); a shell without a
    // live triangle keeps its box.
    void recomputeBox();
    // Widens the box by the three vertices of t, or by one point.
    void extendBox(const StlTriangle* t);
    void extendBox(const Vector3D& p) { widenBox(boxMin, boxMax, p); }
    // Widens the box [lo, hi] to p. A coordinate equal to a bound keeps the
    // bound (the first of equal values stays, signed zeros included), so the
    // box follows the order in which the points come.
    static void widenBox(Vector3D& lo, Vector3D& hi, const Vector3D& p) {
        lo.x = p.x < lo.x ? p.x : lo.x;
        lo.y = p.y < lo.y ? p.y : lo.y;
        lo.z = p.z < lo.z ? p.z : lo.z;
        hi.x = p.x > hi.x ? p.x : hi.x;
        hi.y = p.y > hi.y ? p.y : hi.y;
        hi.z = p.z > hi.z ? p.z : hi.z;
    }
};

} // namespace topolib
