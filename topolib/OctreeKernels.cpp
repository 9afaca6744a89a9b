#include "topolib/OctreeKernels.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TruncatedCone.h"
#include "topolib/Vector3D.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace topolib {

namespace {

inline const Vector3D& pos(const StlTriangle* t, int k) { return t->vertices[k]->pos; }

inline double dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// n . ((b - a) x (p - a)): positive when p lies on the inner side of edge a-b.
inline double edgeSide(const Vector3D& n, const Vector3D& a, const Vector3D& b, const double p[3]) {
    const Vector3D e = b - a;
    const Vector3D w(p[0] - a.x, p[1] - a.y, p[2] - a.z);
    return n.dot(e.cross(w));
}

// Marks t with walk mark 1 and collects it.
inline void markAndCollect(StlTriangle* t, std::vector<StlTriangle*>& touched) {
    t->setWalkMark(1);
    touched.push_back(t);
}

} // namespace

// ---- cube overlap ----------------------------------------------------------------

bool triangleOverlapsCube(const double a[3], const double b[3], const double c[3], const double n[3],
                          const double boxMin[3], const double boxMax[3], const double origin[3], double edge) {
    // The cube is widened by a ten-thousandth of its edge so that a triangle lying
    // in a face plane, or touching within rounding, stands in both cubes.
    const double eps = edge * 0.0001;
    const double E = edge + 2.0 * eps;
    const double h = E * 0.5;
    double lo[3], ctr[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = origin[k] - eps;
        ctr[k] = lo[k] + h;
    }
    // Cheapest rejection first: the boxes.
    for (int k = 0; k < 3; ++k) {
        if (boxMin[k] > lo[k] + E || lo[k] > boxMax[k])
            return false;
    }
    // The triangle's plane against the box corners nearest and farthest along n.
    double vmin[3], vmax[3];
    for (int k = 0; k < 3; ++k) {
        if (n[k] >= 0.0) {
            vmin[k] = lo[k];
            vmax[k] = lo[k] + E;
        } else {
            vmin[k] = lo[k] + E;
            vmax[k] = lo[k];
        }
    }
    const double s0 = dot3(n, a);
    const double dmin = dot3(n, vmin);
    const double dmax = dot3(n, vmax);
    if ((dmin > s0 && dmax > s0) || (s0 > dmin && s0 > dmax))
        return false;
    // The nine cross axes of the edges f with the coordinate axes e_u: f x e_u
    // has no component u, so the projections of the corners (relative to the
    // cube's centre) on it take two products each.
    const double v0[3] = {a[0] - ctr[0], a[1] - ctr[1], a[2] - ctr[2]};
    const double v1[3] = {b[0] - ctr[0], b[1] - ctr[1], b[2] - ctr[2]};
    const double v2[3] = {c[0] - ctr[0], c[1] - ctr[1], c[2] - ctr[2]};
    const double f[3][3] = {{b[0] - a[0], b[1] - a[1], b[2] - a[2]},
                            {c[0] - b[0], c[1] - b[1], c[2] - b[2]},
                            {a[0] - c[0], a[1] - c[1], a[2] - c[2]}};
    // Whether the corners' projections x*v[p] - y*v[q] all lie beyond the
    // cube's, h * (|x| + |y|), on one side.
    auto separates = [h, &v0, &v1, &v2](double x, double y, int p, int q) {
        const double p0 = x * v0[p] - y * v0[q];
        const double p1 = x * v1[p] - y * v1[q];
        const double p2 = x * v2[p] - y * v2[q];
        const double radius = h * (std::fabs(x) + std::fabs(y));
        return std::min(p0, std::min(p1, p2)) > radius || std::max(p0, std::max(p1, p2)) < -radius;
    };
    for (const double* e : f) {
        if (separates(e[2], e[1], 1, 2) || separates(e[0], e[2], 2, 0) || separates(e[1], e[0], 0, 1))
            return false;
    }
    return true;
}

bool triangleOverlapsCube(const StlTriangle* t, const double origin[3], double edge) {
    const double* a = pos(t, 0).data();
    const double* b = pos(t, 1).data();
    const double* c = pos(t, 2).data();
    double mn[3], mx[3];
    for (int k = 0; k < 3; ++k) {
        mn[k] = std::min(a[k], std::min(b[k], c[k]));
        mx[k] = std::max(a[k], std::max(b[k], c[k]));
    }
    return triangleOverlapsCube(a, b, c, t->normal.data(), mn, mx, origin, edge);
}

// ---- point and line tests on one triangle ------------------------------------------

bool StlTriangle::containsProjectedPoint(const double p[3]) const {
    double q[3];
    projectPointOnPlane(p, vertices[0]->pos.data(), normal.data(), q);
    for (int k = 0; k < 3; ++k) {
        if (edgeSide(normal, vertices[k]->pos, vertices[(k + 1) % 3]->pos, q) < -1e-10)
            return false;
    }
    return true;
}

int StlTriangle::outsideEdge(const double p[3]) const {
    for (int k = 0; k < 3; ++k) {
        if (edgeSide(normal, vertices[k]->pos, vertices[(k + 1) % 3]->pos, p) < -1e-6)
            return k + 1;
    }
    return 0;
}

bool StlTriangle::lineHit(const double q[3], const double d[3], double hit[3]) const {
    const double den = dot3(normal.data(), d);
    if (std::fabs(den) < 1e-6)
        return false;
    const Vector3D& a = vertices[0]->pos;
    const double s = -((q[0] - a.x) * normal.x + (q[1] - a.y) * normal.y + (q[2] - a.z) * normal.z) / den;
    for (int k = 0; k < 3; ++k)
        hit[k] = q[k] + s * d[k];
    return outsideEdge(hit) == 0;
}

bool StlTriangle::axisRayHit(int k, const double uv[2], double* t) const {
    const int a = (k + 1) % 3;
    const int b = (k + 2) % 3;
    const double u1 = uv[0];
    const double u2 = uv[1];
    const double nk = normal[static_cast<std::size_t>(k)];
    int onEdge = -1;
    for (int i = 0; i < 3; ++i) {
        const Vector3D& P = vertices[i]->pos;
        const Vector3D& Q = vertices[(i + 1) % 3]->pos;
        const double Pa = P[static_cast<std::size_t>(a)], Pb = P[static_cast<std::size_t>(b)];
        const double Qa = Q[static_cast<std::size_t>(a)], Qb = Q[static_cast<std::size_t>(b)];
        const double cr = ((u2 - Pb) * (Qa - Pa) - (u1 - Pa) * (Qb - Pb)) * nk;
        if (cr < -1e-10)
            return false;
        if (cr < 1e-10) {
            const double ea = Qa - Pa, eb = Qb - Pb;
            const double wa = u1 - Pa, wb = u2 - Pb;
            const double tt = wa * ea + wb * eb;
            const double ee = ea * ea + eb * eb;
            double dist2;
            if (tt <= 0.0 || ee <= 0.0) {
                dist2 = wa * wa + wb * wb;
            } else if (tt >= ee) {
                const double xa = u1 - Qa, xb = u2 - Qb;
                dist2 = xa * xa + xb * xb;
            } else {
                const double cross = wa * eb - wb * ea;
                dist2 = cross * cross / ee;
            }
            if (dist2 < 1e-10)
                onEdge = i;
            else if (cr < 0.0)
                return false;
        }
    }
    const Vector3D& v0 = vertices[0]->pos;
    *t = v0[static_cast<std::size_t>(k)] +
         ((v0[static_cast<std::size_t>(b)] - u2) * normal[static_cast<std::size_t>(b)] +
          (v0[static_cast<std::size_t>(a)] - u1) * normal[static_cast<std::size_t>(a)]) /
             nk;
    if (onEdge >= 0) {
        // A line through a shared edge counts only when the neighbour faces the
        // same way along the axis, so that a closed surface is crossed once there
        // and a ridge not at all.
        const StlEdge* e = edges[onEdge];
        if (!e)
            return false;
        if (e->triangleCount() == 0)
            return true;
        const StlTriangle* neighbour = nullptr;
        for (const StlTriangle* other : *e) {
            if (other != this) {
                neighbour = other;
                break;
            }
        }
        if (!neighbour)
            return true;
        return neighbour->normal[static_cast<std::size_t>(k)] * nk > -1e-6;
    }
    if (std::fabs(nk) >= 0.0001)
        return true;
    double lo = vertices[0]->pos[static_cast<std::size_t>(k)], hi = lo;
    for (int i = 1; i < 3; ++i) {
        lo = std::min(lo, vertices[i]->pos[static_cast<std::size_t>(k)]);
        hi = std::max(hi, vertices[i]->pos[static_cast<std::size_t>(k)]);
    }
    return *t > lo && *t < hi;
}

bool StlTriangle::containsPointXY(const double p[3]) const {
    if (std::fabs(normal.z) < 1e-6)
        return false;
    for (int i = 0; i < 3; ++i) {
        const Vector3D& P = vertices[i]->pos;
        const Vector3D& Q = vertices[(i + 1) % 3]->pos;
        if (((Q.x - P.x) * (p[1] - P.y) - (Q.y - P.y) * (p[0] - P.x)) * normal.z < -1e-10)
            return false;
    }
    return true;
}

// ---- heights on a vertical line ----------------------------------------------------

double triangleHeightAt(const StlTriangle* t, double x, double y) {
    const Vector3D& n = t->normal;
    const double s = n.z < 0.0 ? -1.0 : 1.0;
    for (int i = 0; i < 3; ++i) {
        const Vector3D& P = pos(t, i);
        const Vector3D& Q = pos(t, (i + 1) % 3);
        const double dx = Q.x - P.x;
        const double dy = Q.y - P.y;
        const double cr = (y - P.y) * dx - (x - P.x) * dy;
        // The larger of the signed differences, as the tolerance scale of the
        // on-the-line test; an edge running towards -x and -y never takes it.
        if (1e-6 * std::max(dx, dy) > std::fabs(cr)) {
            const double r = ((y - P.y) * dy + (x - P.x) * dx) / (dx * dx + dy * dy);
            if (std::fabs(r) < 1e-5)
                return P.z;
            if (std::fabs(1.0 - r) < 1e-5)
                return Q.z;
            if (r < 0.0 || r > 1.0)
                return -1.0;
            return P.z + r * (Q.z - P.z);
        }
        if (cr * s < -1e-6)
            return -1.0;
    }
    const Vector3D& v0 = pos(t, 0);
    return v0.z + ((v0.y - y) * n.y + (v0.x - x) * n.x) / n.z;
}

double triangleHeightAtMarking(StlTriangle* t, double x, double y, std::vector<StlTriangle*>& touched,
                               double lengthScale) {
    const Vector3D& n = t->normal;
    if (std::fabs(n.z) < 1e-5)
        return -1.0;
    const double s = n.z < 0.0 ? -1.0 : 1.0;
    // The side tests compare cross products of two lengths: areas.
    const double A = lengthScale * lengthScale;
    int onLine = -1;
    double dx = 0.0, dy = 0.0;
    for (int i = 0; i < 3; ++i) {
        const Vector3D& P = pos(t, i);
        const Vector3D& Q = pos(t, (i + 1) % 3);
        dx = Q.x - P.x;
        dy = Q.y - P.y;
        const double cr = (y - P.y) * dx - (x - P.x) * dy;
        if (std::fabs(cr) < 1e-10 * A) {
            onLine = i;
            break;
        }
        if (cr * s < -1e-6 * A)
            return -1.0;
    }
    if (onLine < 0) {
        const Vector3D& v0 = pos(t, 0);
        const double h = v0.z + ((v0.y - y) * n.y + (v0.x - x) * n.x) / n.z;
        markAndCollect(t, touched);
        return h;
    }
    const StlVertex* Pv = t->vertices[onLine];
    const StlVertex* Qv = t->vertices[(onLine + 1) % 3];
    const Vector3D& P = Pv->pos;
    const Vector3D& Q = Qv->pos;
    const double len2 = dx * dx + dy * dy;
    if (len2 <= 0.0)
        return -1.0; // a vertical edge seen from above is a point: nothing to count
    const double r = ((y - P.y) * dy + (x - P.x) * dx) / len2;
    // Whether the vertex's crossing is new: the first triangle there to meet
    // the line marks all of them. Each triangle past a full list comes here
    // too; that the vertex was met is then told by its first live listed
    // triangle, not by a scan of the whole list for every one of them.
    auto markAround = [&](const StlVertex* v) {
        if (v->triangleCount() >= StlVertex::kMaxTriangles) {
            const StlTriangle* first = nullptr;
            for (const StlTriangle* u : *v) {
                if (!u->isDeleted()) {
                    first = u;
                    break;
                }
            }
            if (first && first->walkMark() == 1) {
                if (t->walkMark() != 1)
                    markAndCollect(t, touched);
                return false;
            }
        }
        bool fresh = false;
        for (StlTriangle* u : *v) {
            if (!u->isDeleted() && u->walkMark() != 1) {
                markAndCollect(u, touched);
                fresh = true;
            }
        }
        if (t->walkMark() != 1)
            markAndCollect(t, touched);
        return fresh;
    };
    if (std::fabs(r) < 1e-5)
        return markAround(Pv) ? P.z : std::numeric_limits<double>::infinity();
    if (std::fabs(1.0 - r) < 1e-5)
        return markAround(Qv) ? Q.z : std::numeric_limits<double>::infinity();
    if (r < 0.0 || r > 1.0)
        return -1.0;
    const StlEdge* e = t->edges[onLine];
    if (e) {
        for (StlTriangle* u : *e) {
            if (u && !u->isDeleted())
                markAndCollect(u, touched);
        }
    } else {
        // Without edges the neighbour across is unknown: count this one alone.
        markAndCollect(t, touched);
    }
    return P.z + r * (Q.z - P.z);
}

// ---- support shapes ----------------------------------------------------------------

bool triangleIntersectsCylinder(const StlTriangle* t, const double centre[3], const double axis[3],
                                const double* radius, const double* length) {
    const double H = *length * 0.5;
    const double r = *radius;
    const Vector3D c(centre);
    const Vector3D a(axis);

    // An orthonormal frame across the axis.
    int m = 0;
    if (std::fabs(a.y) < std::fabs(a[static_cast<std::size_t>(m)]))
        m = 1;
    if (std::fabs(a.z) < std::fabs(a[static_cast<std::size_t>(m)]))
        m = 2;
    Vector3D unit;
    unit[static_cast<std::size_t>(m)] = 1.0;
    Vector3D f1 = a.cross(unit);
    f1.unitize();
    Vector3D f2 = f1.cross(a);
    f2.unitize();

    double h[3];
    for (int i = 0; i < 3; ++i)
        h[i] = a.dot(pos(t, i) - c);
    const double hlo = std::min(h[0], std::min(h[1], h[2]));
    const double hhi = std::max(h[0], std::max(h[1], h[2]));
    if (hlo > H || hhi < -H)
        return false;

    // Clip to the slab -H <= h <= H in the triangle's cyclic order. A vertex within
    // 1e-6 of a cap plane stands for its own crossing.
    auto beyondLow = [&](double v) { return v < -H - 1e-6; };
    auto beyondHigh = [&](double v) { return v >= H + 1e-6; };
    Vector3D poly[6];
    int count = 0;
    auto crossing = [&](const Vector3D& P, double hp, const Vector3D& Q, double hq, double plane) {
        const double s = (plane - hp) / (hq - hp);
        poly[count++] = P + (Q - P) * s;
    };
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        const Vector3D& P = pos(t, i);
        const Vector3D& Q = pos(t, j);
        const double hp = h[i], hq = h[j];
        if (!beyondLow(hp) && !beyondHigh(hp))
            poly[count++] = P;
        const bool lowCross = (beyondLow(hp) && hq > -H + 1e-6) || (beyondLow(hq) && hp > -H + 1e-6);
        const bool highCross = (beyondHigh(hp) && hq < H - 1e-6) || (beyondHigh(hq) && hp < H - 1e-6);
        if (lowCross && highCross) {
            // The edge spans the whole slab: the plane nearer P comes first.
            if (hp < hq) {
                crossing(P, hp, Q, hq, -H);
                crossing(P, hp, Q, hq, H);
            } else {
                crossing(P, hp, Q, hq, H);
                crossing(P, hp, Q, hq, -H);
            }
        } else if (lowCross) {
            crossing(P, hp, Q, hq, -H);
        } else if (highCross) {
            crossing(P, hp, Q, hq, H);
        }
    }
    if (count == 0)
        return false;

    double pts[6][2];
    for (int i = 0; i < count; ++i) {
        const Vector3D d = poly[i] - c;
        pts[i][0] = f2.dot(d);
        pts[i][1] = f1.dot(d);
    }
    const double r2 = r * r;
    const double o[2] = {0.0, 0.0};
    if (count == 1)
        return pts[0][0] * pts[0][0] + pts[0][1] * pts[0][1] < r2;
    if (count == 2)
        return pointSegmentDistSq2D(o, pts[0], pts[1]) < r2;
    std::vector<Point2D> closed;
    closed.reserve(static_cast<std::size_t>(count) + 1);
    for (int i = 0; i < count; ++i)
        closed.push_back({pts[i][0], pts[i][1]});
    closed.push_back({pts[0][0], pts[0][1]});
    if (pointInPolygon2D(std::move(closed), o))
        return true;
    if (pointSegmentDistSq2D(o, pts[count - 1], pts[0]) < r2)
        return true;
    for (int i = 0; i + 1 < count; ++i) {
        if (pointSegmentDistSq2D(o, pts[i], pts[i + 1]) < r2)
            return true;
    }
    return false;
}

bool triangleIntersectsTruncatedCone(const StlTriangle* t, const Misc::VBTruncatedCone* cone) {
    const double c2 = cone->cosHalfAngle * cone->cosHalfAngle;
    const double d = cone->nearDistance;
    const double D2 = cone->farDistance;
    const Vector3D A(cone->apex);
    const Vector3D w(cone->axis);
    const Vector3D& n = t->normal;
    const Vector3D* v[3] = {&pos(t, 0), &pos(t, 1), &pos(t, 2)};
    // Everything below is measured across the axis: the squared slope (radius over
    // axial distance) against the squared distance from the axis, each formed
    // explicitly. The form (w.X)^2 - cos^2 |X|^2 would subtract two values of the
    // size of the apex distance squared, which for a nearly cylindrical cone (apex
    // a million radii away) swamps the radius itself.
    const double slope = D2 > 0.0 ? cone->farRadius / D2 : 0.0;
    const double tan2 = slope * slope;
    // g(P0 + sE) = a s^2 + 2 b s + k, with g(X) = tan^2 (w.X)^2 - |X - (w.X) w|^2 for X
    // measured from the apex: positive inside the cone's infinite surface. scale is
    // the size of the terms of k, the measure of the rounding in g.
    struct Quadratic {
        double a, b, k, scale;
    };
    auto edgeQuadratic = [&](const Vector3D& P0, const Vector3D& E) {
        const double T0 = w.dot(P0), wE = w.dot(E);
        const Vector3D q0 = P0 - w * T0;
        const Vector3D qE = E - w * wE;
        const double axial = tan2 * T0 * T0, across = q0.lengthSquared();
        return Quadratic{tan2 * wE * wE - qE.lengthSquared(), tan2 * T0 * wE - q0.dot(qE), axial - across,
                         axial + across};
    };

    // Vertex classes along the axis: -2 behind the apex, -1 before the near cap,
    // 0 between the caps, 1 beyond the far cap. A vertex inside the solid settles it.
    int cls[3];
    for (int i = 0; i < 3; ++i) {
        const Vector3D X = *v[i] - A;
        const double T = w.dot(X);
        if (T < 0.0) {
            cls[i] = -2;
        } else if (T < d) {
            cls[i] = -1;
        } else if (T > D2) {
            cls[i] = 1;
        } else {
            cls[i] = 0;
            if (tan2 * T * T > (X - w * T).lengthSquared())
                return true;
        }
    }
    // The solid lies between the cap planes.
    if ((cls[0] < 0 && cls[1] < 0 && cls[2] < 0) || (cls[0] == 1 && cls[1] == 1 && cls[2] == 1))
        return false;

    // Edges against the cone's surface (the quick road for the common crossing).
    for (int i = 0; i < 3; ++i) {
        if (cls[i] < 0 && cls[(i + 1) % 3] < 0)
            continue;
        const Vector3D& P = *v[i];
        const Vector3D E = *v[(i + 1) % 3] - P;
        // Scaled by cos^2 to the form (w.X)^2 - cos^2 |X|^2 that the tolerances of
        // solveQuadratic are set for.
        const Quadratic g = edgeQuadratic(P - A, E);
        const double a = c2 * g.a, b = c2 * g.b, k = c2 * g.k;
        if (!(a < 0.0))
            continue;
        if (!(b >= 0.0 && b <= -a))
            continue;
        if (b * b < a * k)
            continue;
        double roots[2];
        const int nr = solveQuadratic(a, 2.0 * b, k, roots);
        for (int r = nr - 1; r >= 0; --r) {
            const double T = w.dot(P + E * roots[r] - A);
            if (d <= T && T <= D2)
                return true;
        }
    }

    // Exact remainder. The solid and the triangle are convex, so they meet either
    // along a side of the triangle or, when no side reaches the solid, in a plane
    // section that lies wholly inside the triangle; such a section contains the
    // axis point on the plane or the middle of a cap's chord on the plane.
    const double tol = 1e-9;
    for (int i = 0; i < 3; ++i) {
        const Vector3D& P = *v[i];
        const Vector3D E = *v[(i + 1) % 3] - P;
        const Vector3D P0 = P - A;
        const double T0 = w.dot(P0);
        const double wE = w.dot(E);
        // The part of the side between the cap planes.
        double s0 = 0.0, s1 = 1.0;
        if (std::fabs(wE) < 1e-15) {
            if (T0 < d - tol || T0 > D2 + tol)
                continue;
        } else {
            double sa = (d - T0) / wE, sb = (D2 - T0) / wE;
            if (sa > sb)
                std::swap(sa, sb);
            s0 = std::max(s0, sa);
            s1 = std::min(s1, sb);
            if (s0 > s1)
                continue;
        }
        // g(s) is positive inside the cone (the axial distance is positive between
        // the caps).
        const Quadratic g = edgeQuadratic(P0, E);
        auto f = [&](double s) { return (g.a * s + 2.0 * g.b) * s + g.k; };
        double best = std::max(f(s0), f(s1));
        if (g.a < 0.0) {
            const double sv = -g.b / g.a;
            if (sv > s0 && sv < s1)
                best = std::max(best, f(sv));
        }
        if (best > -tol * std::max(1.0, g.scale))
            return true;
    }
    auto insideTriangle = [&](const Vector3D& X) { return t->containsProjectedPoint(X.data()); };
    const double wn = w.dot(n);
    if (std::fabs(wn) > 1e-12) {
        const double s = (*v[0] - A).dot(n) / wn;
        if (s >= d - tol && s <= D2 + tol && insideTriangle(A + w * s))
            return true;
    }
    // Chords of the cap discs on the triangle's plane.
    Vector3D L = n.cross(w); // direction of the plane's trace on a cap plane
    const double LL = L.lengthSquared();
    if (LL > 1e-24) {
        for (double Tc : {d, D2}) {
            const double R = Tc == d ? cone->nearRadius : cone->farRadius;
            const Vector3D C = A + w * Tc;
            // The point of the trace nearest to C: in the cap plane, move from C
            // along the in-plane direction M = w x L towards the triangle's plane.
            const Vector3D M = w.cross(L);
            const double nM = n.dot(M);
            if (std::fabs(nM) < 1e-15)
                continue;
            const double s = (*v[0] - C).dot(n) / nM;
            const Vector3D X = C + M * s;
            if ((X - C).lengthSquared() <= R * R * (1.0 + 1e-9) && insideTriangle(X))
                return true;
        }
    }
    return false;
}

} // namespace topolib
