#include "topolib/GeometricPredicates.h"

#include "topolib/Vector3D.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace topolib {

namespace {

inline double dot3(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

inline double cross2(double ax, double ay, double bx, double by) {
    return ax * by - ay * bx;
}

// Shared body of the two in-plane segment tests: the parameters on a and b must lie
// strictly inside (lo, hi).
bool segmentsMeetInPlane(const double a1[3], const double a2[3], const double b1[3], const double b2[3],
                         int k, double lo, double hi, double out[3]) {
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    const double pai = a2[i] - a1[i], paj = a2[j] - a1[j];
    const double pbi = b2[i] - b1[i], pbj = b2[j] - b1[j];
    const double den = pbi * paj - pbj * pai;
    if (std::fabs(den) < 1e-12)
        return false;
    const double ei = b1[i] - a1[i], ej = b1[j] - a1[j];
    const double t = (pbi * ej - pbj * ei) / den;
    const double u = (pai * ej - paj * ei) / den;
    if (!(t > lo && t < hi && u > lo && u < hi))
        return false;
    for (int m = 0; m < 3; ++m)
        out[m] = a1[m] + t * (a2[m] - a1[m]);
    return true;
}

// Shared body of the two point-on-segment classifiers.
int pointOnSegment(const double a[3], const double b[3], const double p[3], double offTol, double endTol,
                   double* tOut) {
    const double d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const int m = dominantAxis(d);
    if (d[m] == 0.0) {
        // A segment of zero length has no direction to measure along: p is at a when
        // it coincides with it, otherwise off the segment.
        if (tOut)
            *tOut = 0.0;
        for (int k = 0; k < 3; ++k)
            if (std::fabs(p[k] - a[k]) > offTol)
                return 0;
        return 1;
    }
    const double t = (p[m] - a[m]) / d[m];
    if (tOut)
        *tOut = t;
    if (t < -1e-6 || t > 1.000001)
        return 0;
    for (int k = 0; k < 3; ++k) {
        if (k == m)
            continue;
        if (std::fabs(a[k] + t * d[k] - p[k]) > offTol)
            return 0;
    }
    if (t < endTol)
        return 1;
    if (t > 1.0 - endTol)
        return 2;
    return 3;
}

} // namespace

// ---- Projections and distances -------------------------------------------------

int projectPointOnPlane(const double p[3], const double q[3], const double n[3], double out[3]) {
    const double d[3] = {p[0] - q[0], p[1] - q[1], p[2] - q[2]};
    if (dot3(d, d) < 1e-10) {
        out[0] = q[0], out[1] = q[1], out[2] = q[2];
        return 0;
    }
    const double k = dot3(n, d);
    if (std::fabs(k) < 1e-6) {
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
        return 0;
    }
    const double f = k / dot3(n, n);
    const double r[3] = {p[0] - n[0] * f, p[1] - n[1] * f, p[2] - n[2] * f};
    out[0] = r[0], out[1] = r[1], out[2] = r[2];
    return 0;
}

int projectVectorOnPlane(double v[3], const double n[3]) {
    const double k = dot3(v, n);
    if (std::fabs(k) < 1e-6)
        return 0;
    const double f = k / dot3(n, n);
    v[0] -= n[0] * f;
    v[1] -= n[1] * f;
    v[2] -= n[2] * f;
    return 0;
}

double pointPlaneDistSq(const double p[3], const double q[3], const double n[3]) {
    const double d[3] = {p[0] - q[0], p[1] - q[1], p[2] - q[2]};
    const double k = dot3(d, n);
    return k * k / dot3(n, n);
}

double pointSegmentDistSq(const double p[3], const double a[3], const double b[3]) {
    const double u[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
    const double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double t = dot3(u, e);
    // t <= 0 also covers a == b (e = 0), where the interior formula would be 0 / 0.
    if (t <= 0.0)
        return dot3(u, u);
    const double ee = dot3(e, e);
    if (t > ee) {
        const double w[3] = {p[0] - b[0], p[1] - b[1], p[2] - b[2]};
        return dot3(w, w);
    }
    // Rounding can make the difference slightly negative for a point on the line.
    return std::max(0.0, (dot3(u, u) * ee - t * t) / ee);
}

double pointSegmentDistSq2D(const double p[2], const double a[2], const double b[2]) {
    const double ux = p[0] - a[0], uy = p[1] - a[1];
    const double ex = b[0] - a[0], ey = b[1] - a[1];
    const double t = ux * ex + uy * ey;
    if (t <= 0.0)
        return ux * ux + uy * uy;
    const double ee = ex * ex + ey * ey;
    if (t > ee) {
        const double wx = p[0] - b[0], wy = p[1] - b[1];
        return wx * wx + wy * wy;
    }
    return std::max(0.0, ((ux * ux + uy * uy) * ee - t * t) / ee);
}

double pointSegmentInteriorDistSq(const double p[3], const double a[3], const double b[3]) {
    const double e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double ee = dot3(e, e);
    if (ee < 1e-10)
        return std::numeric_limits<double>::infinity();
    const double u[3] = {p[0] - a[0], p[1] - a[1], p[2] - a[2]};
    const double ue = dot3(u, e);
    const double t = ue / ee;
    if (t >= 1.0 || t <= 0.0)
        return std::numeric_limits<double>::infinity();
    return t * t * ee + dot3(u, u) - 2.0 * t * ue;
}

// ---- Intersections -------------------------------------------------------------

int intersectLinePlane(const double linePoint[3], const double lineDir[3], const double planePoint[3],
                       const double planeNormal[3], double out[3]) {
    const double d[3] = {planePoint[0] - linePoint[0], planePoint[1] - linePoint[1],
                         planePoint[2] - linePoint[2]};
    const double denominator = dot3(planeNormal, lineDir);
    // A line parallel to the plane meets it nowhere (or everywhere): no point.
    if (denominator == 0.0)
        return 0;
    const double t = dot3(planeNormal, d) / denominator;
    if (!std::isfinite(t))
        return 0;
    const double r[3] = {linePoint[0] + t * lineDir[0], linePoint[1] + t * lineDir[1],
                         linePoint[2] + t * lineDir[2]};
    out[0] = r[0], out[1] = r[1], out[2] = r[2];
    return 1;
}

int intersectRayPlane(const double origin[3], const double dir[3], const double planePoint[3],
                      const double planeNormal[3], double out[3]) {
    const double d[3] = {planePoint[0] - origin[0], planePoint[1] - origin[1], planePoint[2] - origin[2]};
    const double t = dot3(planeNormal, d) / dot3(planeNormal, dir);
    // Written so that a NaN parameter (ray parallel to the plane) is a miss too.
    if (!(t > 0.0))
        return 0;
    const double r[3] = {origin[0] + t * dir[0], origin[1] + t * dir[1], origin[2] + t * dir[2]};
    out[0] = r[0], out[1] = r[1], out[2] = r[2];
    return 1;
}

bool segmentsIntersectInPlane(const double a1[3], const double a2[3], const double b1[3], const double b2[3],
                              int k, double out[3]) {
    return segmentsMeetInPlane(a1, a2, b1, b2, k, -1e-6, 1.000001, out);
}

bool segmentsCrossInPlane(const double a1[3], const double a2[3], const double b1[3], const double b2[3],
                          int k, double out[3]) {
    return segmentsMeetInPlane(a1, a2, b1, b2, k, 1e-6, 0.999999, out);
}

bool segmentsIntersect2D(const double p1[2], const double p2[2], const double q1[2], const double q2[2]) {
    const double dx = p2[0] - p1[0], dy = p2[1] - p1[1];
    const double sq =
        cross2(dx, dy, q1[0] - p1[0], q1[1] - p1[1]) * cross2(dx, dy, q2[0] - p1[0], q2[1] - p1[1]);
    if (sq > 1e-6)
        return false;
    if (sq < -1e-6) {
        const double ex = q2[0] - q1[0], ey = q2[1] - q1[1];
        return cross2(ex, ey, p1[0] - q1[0], p1[1] - q1[1]) * cross2(ex, ey, p2[0] - q1[0], p2[1] - q1[1]) <=
               0.0;
    }
    // Collinear or touching: compare the extents along p's dominant axis.
    const int m = std::fabs(dy) > std::fabs(dx) ? 1 : 0;
    const double pLo = std::min(p1[m], p2[m]), pHi = std::max(p1[m], p2[m]);
    const double qLo = std::min(q1[m], q2[m]), qHi = std::max(q1[m], q2[m]);
    return !(pHi < qLo || qHi < pLo);
}

int solveQuadratic(double a, double b, double c, double roots[2]) {
    if (std::fabs(a) >= 1e-6) {
        const double disc = b * b - 4.0 * a * c;
        if (std::fabs(disc) < 1e-6) {
            roots[0] = -b / (2.0 * a);
            return 1;
        }
        if (disc >= 0.0) {
            const double r = std::sqrt(disc);
            roots[0] = (r - b) / (2.0 * a);
            roots[1] = (-b - r) / (2.0 * a);
            return 2;
        }
        return 0;
    }
    if (std::fabs(b) >= 1e-6) {
        roots[0] = -c / b;
        return 1;
    }
    return 0;
}

// ---- Points on segments --------------------------------------------------------

int classifyPointOnSegment(const double a[3], const double b[3], const double p[3]) {
    return pointOnSegment(a, b, p, 1e-6, 1e-6, nullptr);
}

int locatePointOnSegment(const double a[3], const double b[3], const double p[3], double* t) {
    return pointOnSegment(a, b, p, 1e-5, 0.0001, t);
}

// ---- Containment and overlap ---------------------------------------------------

bool pointInTriangle2D(const double p[2], const double a[2], const double b[2], const double c[2],
                       const double* orientation) {
    const double* corners[3] = {a, b, c};
    const double o = *orientation;
    for (int k = 0; k < 3; ++k) {
        const double* s = corners[k];
        const double* e = corners[(k + 1) % 3];
        const double ex = e[0] - s[0], ey = e[1] - s[1];
        const double px = p[0] - s[0], py = p[1] - s[1];
        const double w = cross2(ex, ey, px, py);
        if (std::fabs(w) < 1e-5) {
            // On this edge's line: the edge alone decides, along its dominant axis.
            const int m = std::fabs(ex) > std::fabs(ey) ? 0 : 1;
            const double de = m == 0 ? ex : ey;
            const double dp = m == 0 ? px : py;
            return dp * de >= 0.0 && std::fabs(dp) <= std::fabs(de) + 1e-6;
        }
        if (o * w < -1e-6)
            return false;
    }
    return true;
}

bool pointInPolygon2D(std::vector<Point2D>&& polygon, const double p[2]) {
    const std::size_t n = polygon.size();
    bool inside = false;
    if (n >= 4) {
        // A point within 1e-6 of the outline is on it. Otherwise the crossings of a
        // ray along +x are counted with every edge taken half-open in y (a corner
        // belongs to the edges above it), so that a ray through a corner or along a
        // horizontal edge counts each crossing exactly once. (Bands of tolerance
        // around the ray's height would count a run of corners at that height once
        // too often or not at all, and a point well clear of the outline would test
        // on the wrong side.)
        // The edges run from point i - 1 to point i; the last point repeats the first.
        for (std::size_t i = 1; i < n; ++i) {
            const double a[2] = {polygon[i - 1][0], polygon[i - 1][1]};
            const double b[2] = {polygon[i][0], polygon[i][1]};
            if (pointSegmentDistSq2D(p, a, b) <= 1e-12) {
                inside = true;
                break;
            }
            if ((a[1] > p[1]) != (b[1] > p[1])) {
                const double x = a[0] + (p[1] - a[1]) * (b[0] - a[0]) / (b[1] - a[1]);
                if (x > p[0])
                    inside = !inside;
            }
        }
    }
    polygon.clear();
    polygon.shrink_to_fit();
    return inside;
}

bool pointInPolygon3D(const double p[3], const double* const* points, std::size_t count,
                      const double normal[3]) {
    if (count == 0)
        return false;
    const int m = dominantAxis(normal);
    const int u = (m + 1) % 3, w = (m + 2) % 3;
    std::size_t n = count;
    if (n > 1 && Vector3D(points[n - 1]).isNear(Vector3D(points[0])))
        --n;
    // On the outline within 1e-6, else an odd count of half-open crossings of a
    // ray along +u (as in pointInPolygon2D).
    const double q[2] = {p[u], p[w]};
    bool inside = false;
    const double* prev = points[n - 1];
    for (std::size_t i = 0; i < n; prev = points[i], ++i) {
        const double a[2] = {prev[u], prev[w]};
        const double b[2] = {points[i][u], points[i][w]};
        if (pointSegmentDistSq2D(q, a, b) <= 1e-12)
            return true;
        if ((a[1] > q[1]) != (b[1] > q[1])) {
            const double x = a[0] + (q[1] - a[1]) * (b[0] - a[0]) / (b[1] - a[1]);
            if (x > q[0])
                inside = !inside;
        }
    }
    return inside;
}

bool rectsOverlap2D(const double minA[2], const double maxA[2], const double minB[2], const double maxB[2]) {
    return !(minA[0] >= maxB[0] || minA[1] >= maxB[1] || minB[0] >= maxA[0] || minB[1] >= maxA[1]);
}

int classifyPointInCell(const double p[3], const double c[3], const double* s) {
    const double e = *s;
    if (p[1] < c[1] - 1e-6 || p[2] < c[2] - 1e-6)
        return -1;
    if (p[0] > c[0] + e + 1e-6 || p[1] > c[1] + e + 1e-6 || p[2] > c[2] + e + 1e-6)
        return -1;
    return 0;
}

bool lineMeetsCube(const double o[3], const double d[3], const double c[3], const double* s) {
    const double e = *s, h = e / 2.0;
    const double centre[3] = {c[0] + h, c[1] + h, c[2] + h};
    const double oc[3] = {centre[0] - o[0], centre[1] - o[1], centre[2] - o[2]};
    const double t0 = dot3(d, oc) / dot3(d, d);
    const double f[3] = {o[0] + t0 * d[0], o[1] + t0 * d[1], o[2] + t0 * d[2]};
    bool fInside = true;
    for (int k = 0; k < 3; ++k)
        fInside = fInside && c[k] - 1e-6 < f[k] && f[k] < c[k] + e + 1e-6;
    if (fInside)
        return true;
    // The point nearest the centre is outside: if the line meets the cube it passes
    // a face whose outside f lies beyond; try the face plane on each such axis.
    for (int k = 0; k < 3; ++k) {
        double plane;
        if (c[k] > f[k])
            plane = c[k];
        else if (f[k] > c[k] + e)
            plane = c[k] + e;
        else
            continue;
        const double t = (plane - o[k]) / d[k];
        const int i = (k + 1) % 3, j = (k + 2) % 3;
        const double xi = o[i] + t * d[i], xj = o[j] + t * d[j];
        if (c[i] - 1e-6 < xi && xi < c[i] + e + 1e-6 && c[j] - 1e-6 < xj && xj < c[j] + e + 1e-6)
            return true;
    }
    return false;
}

bool rayMeetsCube(const double o[3], const double d[3], const double c[3], const double* s) {
    const double h = *s / 2.0;
    const double oc[3] = {c[0] + h - o[0], c[1] + h - o[1], c[2] + h - o[2]};
    const double t0 = dot3(d, oc) / dot3(d, d);
    // With the centre behind the origin the ray only moves away from it, so the
    // origin is the ray's point nearest the centre; the cube is out of reach when
    // the origin lies outside the cube's circumscribed sphere (radius h·sqrt(3)).
    // The origin's distance to the centre, not its distance along the line, decides:
    // an origin inside the cube near a corner must still meet it.
    if (t0 < 0.0 && dot3(oc, oc) > 3.0 * h * h * (1.0 + 1e-12) + 1e-12)
        return false;
    return lineMeetsCube(o, d, c, s);
}

bool cylinderMayTouchCube(const double cylinder[8], const double c[3], const double* s) {
    const double h = *s / 2.0;
    const double rc = h * 1.7320508;
    const double radius = cylinder[0], length = cylinder[1];
    const double* centre = cylinder + 2;
    const double* axis = cylinder + 5;
    const double cc[3] = {c[0] + h, c[1] + h, c[2] + h};
    const double dv[3] = {centre[0] - cc[0], centre[1] - cc[1], centre[2] - cc[2]};
    const double ad = dot3(axis, dv);
    if (dot3(dv, dv) - ad * ad / dot3(axis, axis) > (radius + rc) * (radius + rc))
        return false;
    return std::fabs(ad) <= length / 2.0 + rc;
}

} // namespace topolib
