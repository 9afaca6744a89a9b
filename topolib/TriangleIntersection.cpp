#include "topolib/TriangleIntersection.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/Vector3D.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace topolib {

namespace {

inline const double* pos(const StlTriangle* t, int k) {
    return t->vertices[k]->pos.data();
}

inline Vector3D corner(const StlTriangle* t, int k) {
    return t->vertices[k]->pos;
}

// n · ((p - a) × (p - b)): positive when p lies on the inner side of the edge a→b
// of a counter-clockwise triangle with normal n.
inline double edgeSide(const Vector3D& n, const Vector3D& p, const Vector3D& a, const Vector3D& b) {
    return n.dot((p - a).cross(p - b));
}

// The span of a triangle on axis m of the line where it crosses the other plane.
// d holds the signed distances of its vertices from that plane. Returns false when
// no vertex stands alone on one side.
bool crossingSpan(const StlTriangle* t, const double d[3], int m, double* lo, double* hi) {
    int lone;
    if (d[1] * d[0] >= 0.0)
        lone = 2;
    else if (d[2] * d[1] >= 0.0)
        lone = 0;
    else if (d[2] * d[0] >= 0.0)
        lone = 1;
    else
        return false;
    const int o1 = (lone + 1) % 3, o2 = (lone + 2) % 3;
    const double l = pos(t, lone)[m];
    double ends[4];
    int n = 0;
    for (int o : {o1, o2}) {
        const double den = d[o] - d[lone];
        const double other = pos(t, o)[m];
        if (den == 0.0) {
            // The side is parallel to the plane (both ends equally near it): its
            // crossing is undefined, so the whole side counts.
            ends[n++] = other;
            ends[n++] = l;
        } else {
            ends[n++] = (l - other) * d[o] / den + other;
        }
    }
    *lo = *std::min_element(ends, ends + n);
    *hi = *std::max_element(ends, ends + n);
    return true;
}

} // namespace

int classifyPointInTriangle(const StlTriangle* t, const double p[3]) {
    const Vector3D q(p);
    for (int k = 0; k < 3; ++k)
        if (corner(t, k) == q)
            return kAtVertex0 + k;
    const Vector3D& n = t->normal;
    for (int k = 0; k < 3; ++k) {
        const Vector3D a = corner(t, k), b = corner(t, (k + 1) % 3);
        const double s = edgeSide(n, q, a, b);
        if (s < -1e-12)
            return kOutsideTriangle;
        if (s < 1e-4) {
            const bool nearSegment = pointSegmentDistSq(p, a.data(), b.data()) < 1e-12;
            if (nearSegment && (q - b).dot(q - a) < 0.0)
                return kOnEdge0 + k;
            if (!nearSegment && s < 0.0)
                return kOutsideTriangle;
        }
    }
    return kInsideTriangle;
}

bool pointInTriangle(const StlTriangle* t, const double p[3]) {
    const Vector3D q(p);
    const Vector3D& n = t->normal;
    for (int k = 0; k < 3; ++k)
        if (edgeSide(n, q, corner(t, k), corner(t, (k + 1) % 3)) < -1e-12)
            return false;
    return true;
}

bool rayHitsTriangle(const StlTriangle* t, const double origin[3], const double dir[3], double lengthScale) {
    const Vector3D q(origin), d(dir);
    const Vector3D a = corner(t, 0), b = corner(t, 1), c = corner(t, 2);
    const Vector3D& n = t->normal;
    // Lengths are judged against the mesh's tolerance scale, areas against its
    // square and products of areas against its fourth power.
    const double L = lengthScale;
    const double A = L * L, AA = A * A;
    const double t0 = n.dot(q - a);
    if (std::fabs(t0) < 1e-6 * L)
        return false;
    if (n.dot(d) * t0 > -1e-12 * L)
        return false;
    // Signs of the ray against the three planes through the origin and each edge.
    double sAB = 1000.0 * d.dot((a - q).cross(b - a));
    double sCA = 1000.0 * d.dot((c - q).cross(a - c));
    double sBC = 1000.0 * d.dot((b - q).cross(c - b));
    const bool zAB = std::fabs(sAB) < 1e-6 * A, zCA = std::fabs(sCA) < 1e-6 * A, zBC = std::fabs(sBC) < 1e-6 * A;
    if (!zAB && !zCA && sAB * sCA < -1e-12 * AA)
        return false;
    const int zeros = int(zAB) + int(zCA) + int(zBC);
    if (zeros == 3)
        return false;
    if (zeros == 2)
        return true; // the ray passes through a vertex
    if (zCA)
        return sBC * sAB > -1e-12 * AA;
    if (zBC)
        return sAB * sCA > -1e-12 * AA;
    return sBC * sCA > -1e-12 * AA; // no zero, or only sAB
}

bool trianglesCoplanarOverlap(const StlTriangle* a, const StlTriangle* b, double normalTol, double planeTol) {
    if (!(std::fabs(a->normal.dot(b->normal)) > normalTol))
        return false;
    const Vector3D a0 = corner(a, 0);
    double far = 0.0;
    for (int k = 0; k < 3; ++k)
        far = std::max(far, std::fabs(a->normal.dot(corner(b, k) - a0)));
    if (!(far < planeTol))
        return false;
    return coplanarOverlap2D(a, b);
}

bool coplanarOverlap2D(const StlTriangle* a, const StlTriangle* b) {
    const int axis = dominantAxis(a->normal);
    return noSeparatingEdge2D(a, b, axis) && noSeparatingEdge2D(b, a, axis);
}

bool noSeparatingEdge2D(const StlTriangle* x, const StlTriangle* y, int droppedAxis) {
    const int i = (droppedAxis + 1) % 3, j = (droppedAxis + 2) % 3;
    for (int k = 0; k < 3; ++k) {
        const double* P = pos(x, k);
        const double* Q = pos(x, (k + 1) % 3);
        auto g = [&](const double* p) {
            return (p[j] - P[j]) * (P[i] - Q[i]) + (p[i] - P[i]) * (Q[j] - P[j]);
        };
        const double s0 = g(pos(y, 0)), s1 = g(pos(y, 1)), s2 = g(pos(y, 2));
        if (s1 * s0 < -1e-6)
            continue; // y straddles the edge's line
        const double lo = std::min({s0, s1, s2}), hi = std::max({s0, s1, s2});
        if (hi * lo < -1e-6)
            continue;
        const double r = g(pos(x, (k + 2) % 3));
        const bool separates = r > 0.0 ? hi < 1e-6 : lo > -1e-6;
        if (separates)
            return false;
    }
    return true;
}

int TriangleCutter::collectSnapCandidate(StlTriangle* x, StlTriangle* y, int k, SnapCandidates& vertexOrFace,
                                         SnapCandidates& edge) {
    StlVertex* v = x->vertices[k];
    for (int j = 0; j < 3; ++j)
        if (y->vertices[j] == v)
            return 0;
    const double* p = v->pos.data();
    for (int j = 0; j < 3; ++j) {
        if ((v->pos - y->vertices[j]->pos).lengthSquared() < 2.5e-9) {
            vertexOrFace.push(v, y->vertices[j], SnapRecord::kVertex);
            v->setMark(1);
            return 1;
        }
    }
    for (int j = 0; j < 3; ++j) {
        if (pointSegmentInteriorDistSq(p, pos(y, j), pos(y, (j + 1) % 3)) < 2.5e-9) {
            edge.push(v, y->edges[j], SnapRecord::kEdge);
            return 2;
        }
    }
    double projected[3];
    projectPointOnPlane(p, pos(y, 0), y->normal.data(), projected);
    if (!y->containsProjectedPoint(projected))
        return 0;
    vertexOrFace.push(v, y, SnapRecord::kFace);
    v->setMark(1);
    return 3;
}

bool TriangleCutter::prefilterPair(StlTriangle* a, StlTriangle* b, std::deque<SnapRecord>* snapList) {
    const Vector3D& na = a->normal;
    const Vector3D& nb = b->normal;
    double d[3], e[3];
    const double nbB0 = nb.dot(corner(b, 0));
    for (int k = 0; k < 3; ++k) {
        d[k] = nb.dot(corner(a, k)) - nbB0;
        if (std::fabs(d[k]) < 1e-6)
            return true; // a vertex on b's plane: the exact cutter decides
    }
    if ((d[0] > 5e-5 && d[1] > 5e-5 && d[2] > 5e-5) || (d[0] < -5e-5 && d[1] < -5e-5 && d[2] < -5e-5))
        return false;
    const double naA0 = na.dot(corner(a, 0));
    for (int k = 0; k < 3; ++k) {
        e[k] = na.dot(corner(b, k)) - naA0;
        if (std::fabs(e[k]) < 1e-6)
            return true;
    }
    if ((e[0] > 5e-5 && e[1] > 5e-5 && e[2] > 5e-5) || (e[0] < -5e-5 && e[1] < -5e-5 && e[2] < -5e-5))
        return false;

    SnapCandidates vertexOrFace, edge;
    for (int k = 0; k < 3; ++k)
        if (std::fabs(d[k]) < 5e-5 && a->vertices[k]->mark() == 0)
            collectSnapCandidate(a, b, k, vertexOrFace, edge);
    for (int k = 0; k < 3; ++k)
        if (std::fabs(e[k]) < 5e-5 && b->vertices[k]->mark() == 0)
            collectSnapCandidate(b, a, k, vertexOrFace, edge);

    const int m = dominantAxis(nb.cross(na));
    double loA, hiA, loB, hiB;
    if (!crossingSpan(a, d, m, &loA, &hiA) || !crossingSpan(b, e, m, &loB, &hiB))
        return false;
    if (!(loB + 1e-6 <= hiA && loA + 1e-6 <= hiB))
        return false;

    if (snapList)
        for (int i = 0; i < vertexOrFace.count; ++i)
            snapList->push_back(vertexOrFace.items[i]);
    for (int i = 0; i < edge.count; ++i) {
        const SnapRecord& r = edge.items[i];
        if (auto* onEdge = static_cast<StlEdge*>(r.target))
            onEdge->addVertex(r.vertex);
        r.vertex->setMark(1);
    }
    return true;
}

bool segmentOnTriangleEdge(const StlTriangle* t, const double p[3], const double q[3]) {
    for (int k = 0; k < 3; ++k) {
        const double* a = pos(t, k);
        const double* b = pos(t, (k + 1) % 3);
        if (pointSegmentInteriorDistSq(p, a, b) < 1e-12 && pointSegmentInteriorDistSq(q, a, b) < 1e-12)
            return true;
    }
    return false;
}

int nearestTriangleEdge(const StlTriangle* t, const double p[3]) {
    int best = 0;
    double bestDist = std::numeric_limits<double>::infinity();
    for (int k = 0; k < 3; ++k) {
        const double dist = pointSegmentInteriorDistSq(p, pos(t, k), pos(t, (k + 1) % 3));
        if (dist < bestDist) {
            bestDist = dist;
            best = k;
        }
    }
    return best;
}

void growBoxByTriangle(const StlTriangle* t, double min[3], double max[3]) {
    for (int k = 0; k < 3; ++k) {
        const double* p = pos(t, k);
        for (int axis = 0; axis < 3; ++axis) {
            min[axis] = std::min(min[axis], p[axis]);
            max[axis] = std::max(max[axis], p[axis]);
        }
    }
}

} // namespace topolib
