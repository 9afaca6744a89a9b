#pragma once

#include <vector>

namespace Misc {
class VBTruncatedCone;
}

namespace topolib {

class StlTriangle;

// Minimum corner of child k = (ix * 2 + iy) * 2 + iz of the cube (origin, edge).
inline void childOrigin(const double origin[3], double edge, int k, double out[3]) {
    const double half = edge * 0.5;
    out[0] = origin[0] + ((k >> 2) & 1) * half;
    out[1] = origin[1] + ((k >> 1) & 1) * half;
    out[2] = origin[2] + (k & 1) * half;
}

// The exact per-triangle tests of the octree: insertion asks triangleOverlapsCube,
// the queries apply the others in their leaves. All work in doubles on the stored
// vertex positions and the stored unit normal (never recomputed here). The
// StlTriangle members containsProjectedPoint, outsideEdge, lineHit, axisRayHit and
// containsPointXY belong to the same family and are defined with these.

// Whether the triangle may touch the cube (minimum corner origin, edge length
// edge). Separating-axis test against the cube widened by edge/10000 on every
// side; touching counts as overlapping. Conservative: never false for a triangle
// that meets the cube.
bool triangleOverlapsCube(const StlTriangle* t, const double origin[3], double edge);

// The same test on loose data: vertices a, b, c, unit normal n and the triangle's
// bounding box (used by the octree, which caches the box while it descends).
bool triangleOverlapsCube(const double a[3], const double b[3], const double c[3], const double n[3],
                          const double boxMin[3], const double boxMax[3], const double origin[3], double edge);

// The triangle's height at (x, y), or -1.0 when (x, y) lies outside its x/y
// projection. A vertical triangle gives a height every caller rejects.
double triangleHeightAt(const StlTriangle* t, double x, double y);

// As triangleHeightAt for non-vertical triangles (-1.0 for |n.z| < 1e-5). Marks the
// triangles it touches with walk mark 1 and appends them to touched: the triangle
// itself for an interior hit, every live triangle around the vertex or along the
// edge the vertical line passes through otherwise, so that the caller counts such
// a crossing once. Triangles already marked are not appended again. A triangle
// met at a vertex whose listed triangles were all marked before (one past what
// the vertex's list holds, at the hub of a huge fan) is marked and appended
// alone, and the height is +infinity: that crossing was counted already.
// lengthScale: the tolerance scale of the triangle's mesh
// (StlObject::toleranceScale); the side tests' tolerances (areas) follow its
// square.
double triangleHeightAtMarking(StlTriangle* t, double x, double y, std::vector<StlTriangle*>& touched,
                               double lengthScale = 1.0);

// Whether the triangle meets the cylinder of the given radius and length around
// the centre along the unit axis (length/2 on each side). A triangle passing at
// exactly the radius does not count.
bool triangleIntersectsCylinder(const StlTriangle* t, const double centre[3], const double axis[3],
                                const double* radius, const double* length);

// Whether the triangle meets the truncated cone (the part of the cone between its
// near and far cap).
bool triangleIntersectsTruncatedCone(const StlTriangle* t, const Misc::VBTruncatedCone* cone);

} // namespace topolib
