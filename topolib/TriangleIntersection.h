#pragma once

#include "topolib/TriangleCutter.h"

#include <cstdint>
#include <deque>

namespace topolib {

class StlTriangle;
class StlVertex;

// Small kernels on one triangle, in doubles on the stored vertex positions and the
// stored unit normal. The dominant axis of a vector is x when |x| >= |y| and
// |x| >= |z|, else y when |y| >= |z|, else z.

// Position codes of classifyPointInTriangle.
enum TrianglePosition : int {
    kOutsideTriangle = -1,
    kInsideTriangle = 0,
    kAtVertex0 = 1, // 1 to 3: at vertex 0 to 2
    kOnEdge0 = 4,   // 4 to 6: on edge 0 to 2 (edge k joins vertex k and k + 1)
};

// Where p, expected in the triangle's plane (project first), lies: -1 outside,
// 0 inside, 1 to 3 at vertex 0 to 2 (Vector3D equality, tested first), 4 to 6 on
// edge 0 to 2 (within 1e-6 of the edge and strictly between its ends).
int classifyPointInTriangle(const StlTriangle* t, const double p[3]);

// Inclusive inside test: false only when p lies outside one edge by more than
// 1e-12 of n · ((p - a) × (p - b)).
bool pointInTriangle(const StlTriangle* t, const double p[3]);

// Whether the ray from origin along dir hits the triangle. A ray starting within
// 1e-6 of the triangle's plane, lying in it or heading away from it never hits; a
// ray through a vertex or along an edge does. A zero direction or a triangle with a
// zero normal gives false. lengthScale: the tolerance scale of the triangle's
// mesh (StlObject::toleranceScale); lengths are judged against it, areas
// against its square.
bool rayHitsTriangle(const StlTriangle* t, const double origin[3], const double dir[3],
                     double lengthScale = 1.0);

// Two triangles in one plane (|n_a · n_b| > normalTol, b's vertices within planeTol
// of a's plane) whose projections overlap (coplanarOverlap2D).
bool trianglesCoplanarOverlap(const StlTriangle* a, const StlTriangle* b, double normalTol, double planeTol);
// Neither triangle has an edge that separates the other, in the plane that drops
// the dominant axis of a's normal.
bool coplanarOverlap2D(const StlTriangle* a, const StlTriangle* b);
// No edge of x separates y in the plane that drops droppedAxis. A y lying on x's
// side of an edge's line by less than 1e-6 counts as separated.
bool noSeparatingEdge2D(const StlTriangle* x, const StlTriangle* y, int droppedAxis);

// A vertex found close to another triangle by the pair prefilter.
struct SnapRecord {
    enum Kind : uint32_t { kVertex = 0, kEdge = 1, kFace = 2 };
    StlVertex* vertex = nullptr;
    void* target = nullptr; // the StlVertex, StlEdge or StlTriangle by kind
    uint32_t kind = kVertex;
};

// The at most six snap candidates of one triangle pair (three vertices each way),
// kept on the stack while the pair is being tested.
struct SnapCandidates {
    SnapRecord items[6];
    int count = 0;
    void push(StlVertex* v, void* target, uint32_t kind) {
        if (count < 6)
            items[count++] = SnapRecord{v, target, kind};
    }
};

// The drain-hole cutter's coarse pair test and snap candidates are members of
// TriangleCutter (TriangleCutter.h), defined in TriangleIntersection.cpp.

// True when both p and q lie within 1e-6 of the interior of one edge of t (edges
// tested in order 0, 1, 2).
bool segmentOnTriangleEdge(const StlTriangle* t, const double p[3], const double q[3]);

// The edge whose interior lies nearest to p (pointSegmentInteriorDistSq); the lower
// index on equal values, 0 when no edge has an interior foot point.
int nearestTriangleEdge(const StlTriangle* t, const double p[3]);

// Grows the box [min, max] by the triangle's vertices; the box may start empty
// (+infinity, -infinity).
void growBoxByTriangle(const StlTriangle* t, double min[3], double max[3]);

} // namespace topolib
