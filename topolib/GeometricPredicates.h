#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace topolib {

// Free geometric kernels on plain arrays of three doubles (the Vector3D layout;
// the 2D functions read only x and y). None of them allocates. Every tolerance is
// part of the contract: callers rely on points within it counting as on the
// boundary.

// ---- Projections and distances -------------------------------------------------

// Writes the projection of p onto the plane through q with normal n into out (out
// may be p). A p within sqrt(1e-10) of q gives q; a p within 1e-6 (n · (p - q)) of
// the plane gives p itself. Returns 0.
int projectPointOnPlane(const double p[3], const double q[3], const double n[3], double out[3]);
// Removes the component of v along n in place (unless |v · n| < 1e-6). Returns 0.
int projectVectorOnPlane(double v[3], const double n[3]);
// Squared distance from p to the plane through q with normal n (n need not be unit).
double pointPlaneDistSq(const double p[3], const double q[3], const double n[3]);
// Squared distance from p to the closed segment ab; equal ends give |p - a|².
double pointSegmentDistSq(const double p[3], const double a[3], const double b[3]);
// The same in x/y only.
double pointSegmentDistSq2D(const double p[2], const double a[2], const double b[2]);
// Squared distance from p to the open segment ab measured perpendicular to it, or
// +infinity when the foot point is not strictly inside or |b - a|² < 1e-10.
double pointSegmentInteriorDistSq(const double p[3], const double a[3], const double b[3]);

// ---- Intersections -------------------------------------------------------------

// Intersection of a line with a plane, written to out; returns 1. A line
// parallel to the plane (or one whose point would not be finite) returns 0 and
// leaves out untouched.
int intersectLinePlane(const double linePoint[3], const double lineDir[3], const double planePoint[3],
                       const double planeNormal[3], double out[3]);
// As intersectLinePlane for a ray: returns 1 and writes the point when it lies in
// front of the origin (t > 0); otherwise returns 0 and leaves out untouched.
int intersectRayPlane(const double origin[3], const double dir[3], const double planePoint[3],
                      const double planeNormal[3], double out[3]);
// Segments a1-a2 and b1-b2 compared in the plane that drops axis k (0, 1, 2): true
// when they meet, ends included (parameters within 1e-6 of [0, 1]); out is the point
// on segment a, its dropped coordinate interpolated along a. Parallel: false.
bool segmentsIntersectInPlane(const double a1[3], const double a2[3], const double b1[3], const double b2[3],
                              int k, double out[3]);
// As above but only when the interiors cross (parameters within (1e-6, 1 - 1e-6)).
bool segmentsCrossInPlane(const double a1[3], const double a2[3], const double b1[3], const double b2[3],
                          int k, double out[3]);
// Whether the x/y segments p1-p2 and q1-q2 meet (touching counts).
bool segmentsIntersect2D(const double p1[2], const double p2[2], const double q1[2], const double q2[2]);
// Real roots of a x² + b x + c = 0 into roots; returns their number 0, 1 or 2. With
// two roots the one with +sqrt comes first. |a| < 1e-6 is treated as linear.
int solveQuadratic(double a, double b, double c, double roots[2]);

// ---- Points on segments --------------------------------------------------------

// 0 off the segment ab, 1 at a, 2 at b, 3 inside (tolerance 1e-6).
int classifyPointOnSegment(const double a[3], const double b[3], const double p[3]);
// As classifyPointOnSegment with wider tolerances (1e-5 off the line, 1e-4 at the
// ends); the parameter along ab is written to *t when t is given.
int locatePointOnSegment(const double a[3], const double b[3], const double p[3], double* t = nullptr);

// ---- Containment and overlap ---------------------------------------------------

// p inside or on the x/y triangle abc; *orientation is positive for a
// counter-clockwise triangle and negative for a clockwise one.
bool pointInTriangle2D(const double p[2], const double a[2], const double b[2], const double c[2],
                       const double* orientation);

using Point2D = std::array<double, 2>;
// p inside or on the x/y polygon (given closed: the last point repeats the first).
// The polygon is taken over: it is left empty on return. Fewer than 4 points: false.
bool pointInPolygon2D(std::vector<Point2D>&& polygon, const double p[2]);

// p inside or on the planar polygon with the given normal (the polygon's points in
// order; a last point within 1e-6 of the first is ignored). Works in the plane that
// drops the normal's largest component; boundary within 1e-6 counts as inside.
bool pointInPolygon3D(const double p[3], const double* const* points, std::size_t count,
                      const double normal[3]);
inline bool pointInPolygon3D(const double p[3], const std::vector<const double*>& points,
                             const double normal[3]) {
    return pointInPolygon3D(p, points.data(), points.size(), normal);
}

// Strict overlap of two x/y rectangles: touching rectangles do not overlap.
bool rectsOverlap2D(const double minA[2], const double maxA[2], const double minB[2], const double maxB[2]);

// -1 when p lies outside the cell (minimum corner c, edge *s) widened by 1e-6 on y,
// z and the upper x bound; 0 otherwise. The lower x bound is the caller's test.
int classifyPointInCell(const double p[3], const double c[3], const double* s);
// Whether the line through o along d (non-zero) meets the cube widened by 1e-6.
bool lineMeetsCube(const double o[3], const double d[3], const double c[3], const double* s);
// As lineMeetsCube for the ray from o along d.
bool rayMeetsCube(const double o[3], const double d[3], const double c[3], const double* s);
// Cylinder record: radius, length, centre x, y, z (the middle of its length), unit
// axis x, y, z. False only when the cube surely misses the cylinder (the test uses
// the cube's circumscribed sphere, so it may answer true for a near miss).
bool cylinderMayTouchCube(const double cylinder[8], const double c[3], const double* s);

} // namespace topolib
