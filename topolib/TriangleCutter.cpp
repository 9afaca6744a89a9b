// The triangle cutter: recording crossing pairs, the exact pair step that files
// one segment with each triangle of a crossing, sliding filed segment ends when a
// vertex is snapped onto another plane, and the resolution of overlapping and
// crossing segments within one triangle.

#include "topolib/TriangleCutter.h"

#include "topolib/FillPolygon.h"
#include "topolib/GeometricPredicates.h"
#include "topolib/ShortPair.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleIntersection.h"

#include <algorithm>
#include <cmath>

namespace topolib {

namespace {

// Squared distance of p from the infinite line through a and b (|a - b| > 0).
double pointLineDistSq(const Vector3D& p, const Vector3D& a, const Vector3D& b) {
    const Vector3D d = b - a;
    const double dd = d.lengthSquared();
    if (dd <= 0.0)
        return (p - a).lengthSquared();
    return (p - a).cross(d).lengthSquared() / dd;
}

// The hits of one pair step: a point with its position codes in a and in b.
struct Hit {
    double p[3];
    int codeA;
    int codeB;
};

// The collection of hits while one pair is examined; a second hit files the
// segment at once.
struct HitList {
    HitList(TriangleCutter& c, StlTriangle* ta, StlTriangle* tb, std::vector<ShortPair>& list)
        : cutter(c), a(ta), b(tb), shortPairs(list) {}
    TriangleCutter& cutter;
    StlTriangle* a;
    StlTriangle* b;
    std::vector<ShortPair>& shortPairs;
    Hit hits[2] = {};
    int count = 0;
    bool filed = false;

    // Returns true when the pair step is done (a segment was filed).
    bool add(const double p[3], int codeA, int codeB) {
        Hit& h = hits[count];
        h.p[0] = p[0];
        h.p[1] = p[1];
        h.p[2] = p[2];
        h.codeA = codeA;
        h.codeB = codeB;
        if (++count < 2)
            return false;
        const double pts[2][3] = {{hits[0].p[0], hits[0].p[1], hits[0].p[2]},
                                  {hits[1].p[0], hits[1].p[1], hits[1].p[2]}};
        const int codesA[2] = {hits[0].codeA, hits[1].codeA};
        const int codesB[2] = {hits[0].codeB, hits[1].codeB};
        if (cutter.makeSegments(a, pts, codesA, codesB, b, shortPairs) == 1) {
            filed = true;
            return true;
        }
        count = 1; // the second hit is dropped, the first kept
        return false;
    }
};

// Snaps vertex v of one triangle onto the plane of `other` when its projection
// lies in `other`: the filed segment ends at v slide with it first. Returns the
// position code of the projection in `other` (negative: not snapped).
int snapVertex(TriangleCutter& cutter, StlVertex* v, const StlTriangle* other, double out[3]) {
    projectPointOnPlane(v->pos.data(), other->vertices[0]->pos.data(), other->normal.data(), out);
    const int code = classifyPointInTriangle(other, out);
    if (code >= 0) {
        cutter.prepareVertexMove(v, out);
        v->pos = Vector3D(out);
    }
    return code;
}

// Where the edge from p (distance di from the plane with normal n) to q crosses
// that plane.
void edgeCrossing(const Vector3D& p, const Vector3D& q, double di, const Vector3D& n, double out[3]) {
    const Vector3D d = q - p;
    const double s = -di / n.dot(d);
    const Vector3D x = p + d * s;
    out[0] = x.x;
    out[1] = x.y;
    out[2] = x.z;
}

void setMarkBit1(StlVertex* v) { v->flags |= 2u; }

bool allBeyond(const double d[3]) {
    return (d[0] > 1e-6 && d[1] > 1e-6 && d[2] > 1e-6) || (d[0] < -1e-6 && d[1] < -1e-6 && d[2] < -1e-6);
}

} // namespace

// ---- Context ---------------------------------------------------------------------

TriangleCutContext::~TriangleCutContext() {
    for (FillPolygon* p : pieces)
        delete p;
}

std::size_t TriangleCutContext::addCutter(StlTriangle* other) {
    if (std::find(cutters.begin(), cutters.end(), other) == cutters.end())
        cutters.push_back(other);
    return cutters.size();
}

void TriangleCutContext::removeCutter(const StlTriangle* other) {
    auto it = std::find(cutters.begin(), cutters.end(), other);
    if (it != cutters.end())
        cutters.erase(it);
}

int TriangleCutContext::addSegment(const CutSegment& s) {
    if ((s.b->pos - s.a->pos).lengthSquared() < 1e-12)
        return 0;
    segments.push_back(s);
    return 1;
}

void TriangleCutContext::removeSegment(std::size_t i) {
    segments[i] = segments.back();
    segments.pop_back();
}

StlObject* TriangleCutter::meshOf(const StlTriangle* t) { return t->shell ? t->shell->owner : nullptr; }

// ---- The contexts of this cut -----------------------------------------------------

TriangleCutter::~TriangleCutter() = default;

TriangleCutContext* TriangleCutter::contextOf(const StlTriangle* t) const {
    if (!t->hasCutContext())
        return nullptr;
    const auto it = m_contexts.find(t);
    return it == m_contexts.end() ? nullptr : it->second.get();
}

TriangleCutContext* TriangleCutter::ensureContext(StlTriangle* t) {
    if (TriangleCutContext* ctx = contextOf(t))
        return ctx;
    auto made = std::make_unique<TriangleCutContext>(t);
    TriangleCutContext* ctx = made.get();
    fileContext(t, std::move(made));
    return ctx;
}

void TriangleCutter::fileContext(StlTriangle* t, std::unique_ptr<TriangleCutContext> ctx) {
    // An entry left by a record that stood at t's address before is replaced.
    m_contexts[t] = std::move(ctx);
    t->flags |= StlTriangle::kHasCutContext;
}

std::unique_ptr<TriangleCutContext> TriangleCutter::takeContext(StlTriangle* t) {
    if (!t->hasCutContext())
        return nullptr;
    // A bit without an entry here was set by another cut, which clears it.
    const auto it = m_contexts.find(t);
    if (it == m_contexts.end())
        return nullptr;
    std::unique_ptr<TriangleCutContext> ctx = std::move(it->second);
    m_contexts.erase(it);
    t->flags &= ~StlTriangle::kHasCutContext;
    return ctx;
}

void TriangleCutter::releaseContexts(const StlObject& mesh) {
    for (StlTriangle* t : mesh.triangles())
        if (t->hasCutContext())
            takeContext(t);
}

// ---- Recording and intersecting pairs --------------------------------------------

int TriangleCutter::recordCutter(StlTriangle* t, StlTriangle* other) {
    ensureContext(t)->addCutter(other);
    return 0;
}

int TriangleCutter::intersectTrianglePairs(TriangleCutContext* ctx, std::vector<ShortPair>& shortPairs,
                                           std::vector<StlTriangle*>* work) {
    if (ctx->cutters.empty())
        return 0;
    StlTriangle* a = ctx->triangle;
    // The list is read by index: a snap may delete a degenerate cutter and take it
    // out of this list meanwhile.
    for (std::size_t i = 0; i < ctx->cutters.size(); ++i) {
        StlTriangle* b = ctx->cutters[i];
        if (b->walkMark() == 0) {
            if (work)
                work->push_back(b);
            b->setWalkMark(1);
        }
        if (!b->isDeleted() && !a->isDeleted())
            intersectPair(a, b, shortPairs);
        if (TriangleCutContext* other = contextOf(b))
            other->removeCutter(a);
    }
    ctx->cutters.clear();
    return 1;
}

bool TriangleCutter::intersectPair(StlTriangle* a, StlTriangle* b, std::vector<ShortPair>& shortPairs) {
    HitList hits(*this, a, b, shortPairs);
    double p[3];

    // a's vertices against b's plane.
    {
        const Vector3D& nb = b->normal;
        const double base = nb.dot(b->vertices[0]->pos);
        StlVertex* v0 = a->vertices[0];
        StlVertex* v1 = a->vertices[1];
        StlVertex* v2 = a->vertices[2];
        double d[3] = {nb.dot(v0->pos) - base, nb.dot(v1->pos) - base, nb.dot(v2->pos) - base};

        if (std::fabs(d[0]) <= 1e-6) {
            const int code = snapVertex(*this, v0, b, p);
            if (code >= 0) {
                d[0] = 0.0;
                if (hits.add(p, 1, code))
                    return true;
            }
        } else if (d[0] < 0.0) {
            setMarkBit1(v0);
        }

        if (std::fabs(d[1]) <= 1e-6) {
            const int code = snapVertex(*this, v1, b, p);
            if (code >= 0) {
                d[1] = 0.0;
                if (hits.add(p, 2, code))
                    return true;
            }
        } else {
            if (d[1] * d[0] < 0.0 && hits.count == 0) {
                edgeCrossing(v0->pos, v1->pos, d[0], nb, p);
                const int code = classifyPointInTriangle(b, p);
                if (code >= 0 && hits.add(p, 4, code))
                    return true;
            }
            if (d[1] < 0.0)
                setMarkBit1(v1);
        }

        if (std::fabs(d[2]) <= 1e-6) {
            const int code = snapVertex(*this, v2, b, p);
            if (code >= 0) {
                d[2] = 0.0;
                if (hits.add(p, 3, code))
                    return true;
            }
        } else {
            if (d[2] < 0.0)
                setMarkBit1(v2);
            if (std::fabs(d[1]) > 1e-6 && d[2] * d[1] < 0.0) {
                edgeCrossing(v1->pos, v2->pos, d[1], nb, p);
                const int code = classifyPointInTriangle(b, p);
                if (code >= 0 && hits.add(p, 5, code))
                    return true;
            }
            if (std::fabs(d[0]) > 1e-6 && d[2] * d[0] < 0.0) {
                edgeCrossing(v2->pos, v0->pos, d[2], nb, p);
                const int code = classifyPointInTriangle(b, p);
                if (code >= 0 && hits.add(p, 6, code))
                    return true;
            }
        }
        if (allBeyond(d))
            return false;
    }

    // b's vertices against a's plane (a's vertex 0 as it stands now).
    {
        const Vector3D& na = a->normal;
        const double base = na.dot(a->vertices[0]->pos);
        StlVertex* v0 = b->vertices[0];
        StlVertex* v1 = b->vertices[1];
        StlVertex* v2 = b->vertices[2];
        double e[3] = {na.dot(v0->pos) - base, na.dot(v1->pos) - base, na.dot(v2->pos) - base};

        bool snapped = false;
        if (std::fabs(e[0]) <= 1e-6 && (hits.count == 0 || hits.hits[0].codeB != 1)) {
            const int code = snapVertex(*this, v0, a, p);
            if (code >= 0) {
                snapped = true;
                e[0] = 0.0;
                if (hits.add(p, code, 1))
                    return true;
            }
        }
        if (!snapped && e[0] < 0.0)
            setMarkBit1(v0);

        snapped = false;
        if (std::fabs(e[1]) <= 1e-6 && (hits.count == 0 || hits.hits[0].codeB != 2)) {
            const int code = snapVertex(*this, v1, a, p);
            if (code >= 0) {
                snapped = true;
                e[1] = 0.0;
                if (hits.add(p, code, 2))
                    return true;
            }
        }
        if (!snapped) {
            if (e[1] * e[0] < 0.0 && std::fabs(e[0]) > 1e-6) {
                edgeCrossing(v0->pos, v1->pos, e[0], na, p);
                const int code = classifyPointInTriangle(a, p);
                if (code >= 0 && hits.add(p, code, 4))
                    return true;
            }
            if (e[1] < 0.0)
                setMarkBit1(v1);
        }

        if (std::fabs(e[2]) <= 1e-6) {
            if (hits.count > 0 && hits.hits[0].codeB == 3)
                return false;
            const int code = snapVertex(*this, v2, a, p);
            if (code >= 0) {
                e[2] = 0.0;
                if (hits.add(p, code, 3))
                    return true;
            }
        } else {
            if (e[2] < 0.0)
                setMarkBit1(v2);
            if (std::fabs(e[1]) > 1e-6 && e[2] * e[1] < 0.0) {
                edgeCrossing(v1->pos, v2->pos, e[1], na, p);
                const int code = classifyPointInTriangle(a, p);
                if (code >= 0 && hits.add(p, code, 5))
                    return true;
            }
            if (std::fabs(e[0]) > 1e-6 && e[2] * e[0] < 0.0) {
                edgeCrossing(v2->pos, v0->pos, e[2], na, p);
                const int code = classifyPointInTriangle(a, p);
                if (code >= 0 && hits.add(p, code, 6))
                    return true;
            }
        }
        if (allBeyond(e))
            return false;
    }
    return hits.filed;
}

int TriangleCutter::makeSegments(StlTriangle* a, const double hits[2][3], const int codesA[2], const int codesB[2],
                                 StlTriangle* b, std::vector<ShortPair>& shortPairs) {
    StlObject* meshA = meshOf(a);
    StlObject* meshB = meshOf(b);
    if (!meshA || !meshB)
        return 0;
    StlVertex* va0 = meshA->findOrAddVertex(hits[0]);
    StlVertex* va1 = meshA->findOrAddVertex(hits[1]);
    if (va0 == va1)
        return 0;
    const Vector3D h0(hits[0]), h1(hits[1]);
    if ((h1 - h0).lengthSquared() < 1e-12) {
        shortPairs.push_back(ShortPair{va0, va1, 0});
        return 0;
    }
    const double both[6] = {hits[0][0], hits[0][1], hits[0][2], hits[1][0], hits[1][1], hits[1][2]};
    ShortPair onB;
    if (!meshB->makeShortPair(both, &onB))
        return 0;

    CutSegment sa;
    sa.a = va0;
    sa.b = va1;
    sa.aOnOutline = codesA[0] > 0 ? 1 : 0;
    sa.bOnOutline = codesA[1] > 0 ? 1 : 0;
    CutSegment sb;
    sb.a = onB.a;
    sb.b = onB.b;
    sb.aOnOutline = codesB[0] > 0 ? 1 : 0;
    sb.bOnOutline = codesB[1] > 0 ? 1 : 0;
    addSegmentToTriangle(a, sa, codesA);
    addSegmentToTriangle(b, sb, codesB);
    return 1;
}

int TriangleCutter::addSegmentToTriangle(StlTriangle* t, CutSegment s, const int codes[2]) {
    TriangleCutContext* ctx = ensureContext(t);
    const int c0 = codes[0];
    const int c1 = codes[1];
    if (c0 <= 0) {
        s.kind = c1 > 0 ? kSegmentToOutline : kSegmentInside;
    } else if (c1 <= 0) {
        s.kind = kSegmentFromOutline;
    } else {
        s.kind = kSegmentAcross;
        const bool vertex0 = c0 >= 1 && c0 <= 3;
        const bool vertex1 = c1 >= 1 && c1 <= 3;
        if (vertex0 && !vertex1) {
            if (c1 != 4 + (c0 % 3))
                s.kind = kSegmentAlongEdge;
        } else if (vertex1 && !vertex0) {
            if (c0 != 4 + (c1 % 3))
                s.kind = kSegmentAlongEdge;
        } else if (!vertex0 && !vertex1 && c0 == c1) {
            s.kind = kSegmentAlongEdge;
        }
    }
    ctx->addSegment(s);
    return 0;
}

// ---- Moving a snapped vertex ------------------------------------------------------

int TriangleCutter::prepareVertexMove(StlVertex* v, const double target[3]) {
    // Last to first: a degenerate triangle leaves the list meanwhile, and its slot is
    // taken by the last entry, which has been visited already.
    for (uint32_t i = v->triangleCount(); i-- > 0;) {
        if (i >= v->triangleCount())
            continue;
        StlTriangle* t = v->triangle(i);
        TriangleCutContext* ctx = t->isDeleted() ? nullptr : contextOf(t);
        if (!ctx)
            continue;
        const int k = t->vertices[0] == v ? 0 : t->vertices[1] == v ? 1 : 2;
        moveTriangleVertex(ctx, k, target);
    }
    return 0;
}

int TriangleCutter::moveTriangleVertex(TriangleCutContext* ctx, int k, const double q[3]) {
    StlTriangle* t = ctx->triangle;
    const Vector3D v = t->vertices[k]->pos;
    const Vector3D w1 = t->vertices[(k + 1) % 3]->pos;
    const Vector3D w2 = t->vertices[(k + 2) % 3]->pos;
    const Vector3D e1 = v - w1;
    const Vector3D e2 = v - w2;
    const int i1 = dominantAxis(e1);
    const int i2 = dominantAxis(e2);
    if (std::fabs(e1[i1]) < 1e-6 || std::fabs(e2[i2]) < 1e-6) {
        forgetCutters(ctx);
        t->detachFromEdges();
        t->detachFromVertices();
        t->setDeleted(true);
        return -1;
    }
    const Vector3D delta = Vector3D(q) - v;
    auto slide = [&](StlVertex* end) {
        const double* p = end->pos.data();
        if (classifyPointOnSegment(v.data(), w1.data(), p) != 0)
            end->pos += delta * ((end->pos - w1)[i1] / e1[i1]);
        else if (classifyPointOnSegment(v.data(), w2.data(), p) != 0)
            end->pos += delta * ((end->pos - w2)[i2] / e2[i2]);
    };
    for (CutSegment& s : ctx->segments) {
        // The moving corner itself is moved by the caller.
        if (s.aOnOutline && s.a != t->vertices[k])
            slide(s.a);
        if (s.bOnOutline && s.b != t->vertices[k])
            slide(s.b);
    }
    return 0;
}

int TriangleCutter::forgetCutters(TriangleCutContext* ctx) {
    for (StlTriangle* c : ctx->cutters)
        if (TriangleCutContext* other = contextOf(c))
            other->removeCutter(ctx->triangle);
    return 0;
}

// ---- Resolving overlaps and crossings ----------------------------------------------

int TriangleCutter::splitCrossingSegments(TriangleCutContext* ctx, std::size_t stepBudget) {
    std::vector<CutSegment>& segs = ctx->segments;
    if (segs.size() < 2)
        return 0;
    StlTriangle* tri = ctx->triangle;
    StlObject* mesh = meshOf(tri);
    const int axis = dominantAxis(tri->normal);
    // Every split adds a vertex where two segments cross; the pairs of a settled
    // list are finite, but nothing bounds a list that keeps splitting on rounding.
    const std::size_t n0 = segs.size();
    std::size_t budget = stepBudget ? stepBudget : 100000 + 200 * n0 * n0;

    for (std::size_t i = 0; i + 1 < segs.size(); ++i) {
        std::size_t j = i + 1;
        while (j < segs.size()) {
            if (budget-- == 0 || segs.size() > 64 * n0 + 1000) {
                ctx->failed = true;
                return -1;
            }
            CutSegment& s = segs[i];
            CutSegment& t = segs[j];

            // 1. The same segment twice.
            if ((s.a == t.a && s.b == t.b) || (s.a == t.b && s.b == t.a)) {
                ctx->removeSegment(j);
                continue;
            }

            // 2. One shared end: collinear overlaps are cut back end to end.
            StlVertex* shared = nullptr;
            if (s.a == t.a || s.a == t.b)
                shared = s.a;
            else if (s.b == t.a || s.b == t.b)
                shared = s.b;
            if (shared) {
                const bool sAtA = s.a == shared;
                const bool tAtA = t.a == shared;
                StlVertex* S = sAtA ? s.b : s.a;
                StlVertex* T = tAtA ? t.b : t.a;
                const uint8_t sFlag = sAtA ? s.bOnOutline : s.aOnOutline;
                const uint8_t tFlag = tAtA ? t.bOnOutline : t.aOnOutline;
                const Vector3D& P = shared->pos;
                double h = pointLineDistSq(S->pos, P, T->pos);
                if (h > 1e-10 && h < 0.001)
                    h = pointLineDistSq(T->pos, P, S->pos);
                if (h < 1e-10 && (T->pos - P).dot(S->pos - P) > 0.0) {
                    const double lt = (T->pos - P).lengthSquared();
                    const double ls = (S->pos - P).lengthSquared();
                    CutSegment& cut = lt > ls ? t : s;
                    const bool cutAtA = lt > ls ? tAtA : sAtA;
                    StlVertex* farEnd = lt > ls ? S : T;
                    const uint8_t farFlag = lt > ls ? sFlag : tFlag;
                    if (cutAtA) {
                        cut.a = farEnd;
                        cut.aOnOutline = farFlag;
                    } else {
                        cut.b = farEnd;
                        cut.bOnOutline = farFlag;
                    }
                    // The kind follows the new ends (a kind that named the old end
                    // would mislead the chain tracers).
                    if (cut.aOnOutline && cut.bOnOutline)
                        cut.kind = segmentOnTriangleEdge(tri, cut.a->pos.data(), cut.b->pos.data())
                                       ? kSegmentAlongEdge
                                       : kSegmentAcross;
                    else
                        cut.kind = cut.aOnOutline ? kSegmentFromOutline
                                                  : cut.bOnOutline ? kSegmentToOutline : kSegmentInside;
                }
                ++j;
                continue;
            }

            // 3. Disjoint ends: a crossing splits both at one new vertex.
            double x[3];
            if (!segmentsIntersectInPlane(s.a->pos.data(), s.b->pos.data(), t.a->pos.data(), t.b->pos.data(), axis,
                                          x)) {
                ++j;
                continue;
            }
            StlVertex* X = mesh ? mesh->findOrAddVertex(x) : nullptr;
            if (!X) {
                ctx->failed = true;
                return -1;
            }
            uint8_t f = 0;
            if (X == s.a)
                f = s.aOnOutline;
            else if (X == s.b)
                f = s.bOnOutline;
            else if (X == t.a)
                f = t.aOnOutline;
            else if (X == t.b)
                f = t.bOnOutline;

            bool split = false;
            bool tooShort = false;
            auto resolve = [&](std::size_t index) {
                CutSegment& u = segs[index];
                if (X == u.a || X == u.b)
                    return;
                if (f) {
                    const int e = nearestTriangleEdge(tri, x);
                    const double* ea = tri->vertices[e]->pos.data();
                    const double* eb = tri->vertices[(e + 1) % 3]->pos.data();
                    const double da = pointSegmentDistSq(u.a->pos.data(), ea, eb);
                    const double db = pointSegmentDistSq(u.b->pos.data(), ea, eb);
                    if (da < db) {
                        u.a = X;
                        u.aOnOutline = 1;
                    } else {
                        u.b = X;
                        u.bOnOutline = 1;
                    }
                    return;
                }
                CutSegment added;
                added.a = X;
                added.b = u.b;
                added.aOnOutline = 0;
                added.bOnOutline = u.bOnOutline;
                switch (u.kind) {
                case kSegmentToOutline:
                    u.kind = kSegmentInside;
                    added.kind = kSegmentToOutline;
                    break;
                case kSegmentAcross:
                    u.kind = kSegmentFromOutline;
                    added.kind = kSegmentToOutline;
                    break;
                case kSegmentAlongEdge:
                    added.kind = kSegmentAlongEdge;
                    break;
                default:
                    added.kind = kSegmentInside;
                    break;
                }
                u.b = X;
                u.bOnOutline = 0;
                split = true;
                // u is a reference into segs: addSegment may reallocate.
                if (ctx->addSegment(added) == 0)
                    tooShort = true;
            };
            resolve(i);
            if (tooShort)
                return 0;
            resolve(j);
            if (tooShort)
                return 0;
            j = split ? i + 1 : j + 1;
        }
    }
    return 0;
}

} // namespace topolib
