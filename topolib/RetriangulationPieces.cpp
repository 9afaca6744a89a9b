// Replacing a cut triangle: the outline piece with the segments that lie along its
// edges, the chains and closed loops traced through the remaining segments, the
// splitting of the pieces along them, and the ear clipping of every piece.
//
// Vertex marks: the value 2 marks a vertex on the outline of the piece being
// split (or a chain end flagged as lying on an outline); any mark other than 0
// stops a chain. Each piece step clears the marks of its piece again.

#include "topolib/FillPolygon.h"
#include "topolib/GeometricPredicates.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <deque>
#include <utility>
#include <vector>

namespace topolib {

namespace {

using Chain = std::deque<StlVertex*>;

// Debug check that a piece step left no mark on the outline it worked on.
void checkPieceUnmarked(const FillPolygon* p) {
#ifndef NDEBUG
    for (const FillPolygonNode* n : p->nodes())
        assert(n->vertex->mark() == 0 && "a piece step left a vertex mark behind");
#else
    (void)p;
#endif
}

void destroyPieces(TriangleCutContext* ctx) {
    for (FillPolygon* p : ctx->pieces)
        delete p;
    ctx->pieces.clear();
}

// The first piece, bottom first, that contains p; null when none does.
FillPolygon* containingPiece(TriangleCutContext* ctx, const Vector3D& p) {
    for (FillPolygon* piece : ctx->pieces)
        if (piece->containsPoint(p.data()))
            return piece;
    return nullptr;
}

// One piece step: cuts the piece that contains the midpoint of the chain's first
// segment along the chain with `cut` (splitByChain for an open chain, insertChain
// for a closed loop) and adds the piece split off, if any, to the pieces. Both
// pieces and the chain are left without marks; chain vertices flagged on an
// outline that no piece took would otherwise keep a 2 that ends the next chain
// early. Returns false when no piece contains the chain or a piece failed (the
// chain keeps its marks then: the caller gives up).
bool cutContainingPiece(TriangleCutContext* ctx, Chain& chain, FillPolygon* (FillPolygon::*cut)(Chain&)) {
    const Vector3D m = (chain[0]->pos + chain[1]->pos) * 0.5;
    FillPolygon* P = containingPiece(ctx, m);
    if (!P)
        return false;
    P->markVertices(2);
    FillPolygon* R = (P->*cut)(chain);
    P->markVertices(0);
    checkPieceUnmarked(P);
    if (R) {
        R->markVertices(0);
        checkPieceUnmarked(R);
        ctx->pieces.push_back(R);
    }
    if (P->failed() || (R && R->failed()))
        return false;
    for (StlVertex* v : chain)
        v->setMark(0);
    return true;
}

void linkAfter(FillPolygonNode* p, FillPolygonNode* x) {
    FillPolygonNode* n = p->next;
    p->next = x;
    x->prev = p;
    x->next = n;
    n->prev = x;
}

// One step of a chain tracer at the chain's end C (forward: the back end), by the
// turn rule: of the segments with an end at C (scanned from the last slot), the
// one turning left most sharply from the chain's direction. Appends (prepends) its
// other end W, consumes the segment and marks W 2 when the segment flags W as on
// the outline. Returns W, or null when no segment ends at C; *several is set when
// there was a choice.
StlVertex* extendChain(TriangleCutContext* ctx, Chain& chain, bool forward, bool* several) {
    std::vector<CutSegment>& segs = ctx->segments;
    StlVertex* C = forward ? chain.back() : chain.front();
    StlVertex* Q = forward ? chain[chain.size() - 2] : chain[1];
    const Vector3D& n = ctx->triangle->normal;
    Vector3D u = Q->pos - C->pos;
    u.normalize();

    std::size_t best = segs.size();
    StlVertex* bestW = nullptr;
    uint8_t bestFlag = 0;
    double bestTurn = 0.0, bestDot = 0.0;
    int found = 0;
    for (std::size_t i = segs.size(); i-- > 0;) {
        const CutSegment& s = segs[i];
        StlVertex* W;
        uint8_t flag;
        if (s.a == C) {
            W = s.b;
            flag = s.bOnOutline;
        } else if (s.b == C) {
            W = s.a;
            flag = s.aOnOutline;
        } else {
            continue;
        }
        Vector3D w = W->pos - C->pos;
        w.normalize();
        const double turn = u.cross(w).dot(n);
        const double dot = u.dot(w);
        bool take = false;
        if (found == 0) {
            take = true;
        } else if (turn > 0.0 && bestTurn <= 0.0) {
            take = true;
        } else if (turn > 0.0 && bestTurn > 0.0) {
            take = dot > bestDot;
        } else if (turn <= 0.0 && bestTurn <= 0.0) {
            take = dot < bestDot;
        }
        ++found;
        if (take) {
            best = i;
            bestW = W;
            bestFlag = flag;
            bestTurn = turn;
            bestDot = dot;
        }
    }
    if (found == 0)
        return nullptr;
    if (found > 1)
        *several = true;
    ctx->removeSegment(best);
    if (forward)
        chain.push_back(bestW);
    else
        chain.push_front(bestW);
    if (bestFlag)
        bestW->setMark(2);
    return bestW;
}

// Appends segment i to the chain, its end a first (its end b first when fromA is
// false), marks each end 2 that the segment flags as on the outline, and consumes
// the segment.
void takeSegment(TriangleCutContext* ctx, Chain& chain, std::size_t i, bool fromA = true) {
    const CutSegment s = ctx->segments[i];
    StlVertex* first = fromA ? s.a : s.b;
    StlVertex* second = fromA ? s.b : s.a;
    chain.push_back(first);
    chain.push_back(second);
    if (fromA ? s.aOnOutline : s.bOnOutline)
        first->setMark(2);
    if (fromA ? s.bOnOutline : s.aOnOutline)
        second->setMark(2);
    ctx->removeSegment(i);
}

// The axis of the smallest absolute normal component (loop sort key) and the
// third axis, neither that nor the normal's dominant one.
void loopSortAxes(const Vector3D& n, int* primary, int* secondary) {
    const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    int p;
    if (ay >= ax && az >= ax)
        p = 0;
    else if (ay >= ax && az < ax)
        p = 2;
    else
        p = az < ay ? 2 : 1;
    int dominant = (ax >= ay && ax >= az) ? 0 : (ay >= az ? 1 : 2);
    int s = 0;
    while (s == p || s == dominant)
        ++s;
    if (s > 2) // the primary axis is the dominant one only for a zero normal
        s = (p + 1) % 3;
    *primary = p;
    *secondary = s;
}

} // namespace

void TriangleCutter::retriangulateForMesh(StlObject& mesh, StlTriangle* t) {
    (void)mesh;
    const std::unique_ptr<TriangleCutContext> ctx = takeContext(t);
    if (!ctx)
        return;
    if (ctx->failed || retriangulate(ctx.get()) != 0)
        ++m_failures;
}

int TriangleCutter::retriangulate(TriangleCutContext* ctx) {
    StlTriangle* tri = ctx->triangle;
    if (ctx->failed || splitCrossingSegments(ctx, m_crossingBudget) != 0) {
        ctx->failed = true;
        return -1;
    }
    std::vector<std::pair<StlVertex*, StlVertex*>> ends;
    ends.reserve(ctx->segments.size());
    for (const CutSegment& s : ctx->segments)
        ends.emplace_back(s.a, s.b);

    if (buildPieces(ctx) != 0 || !FillPolygon::triangulateCutPieces(ctx->pieces, tri)) {
        destroyPieces(ctx);
        ctx->failed = true;
        return -1;
    }
    destroyPieces(ctx); // normally empty already

    for (const auto& e : ends) {
        StlVertex* a = e.first;
        StlVertex* b = e.second;
        bool done = false;
        for (uint32_t i = 0; i < a->triangleCount() && !done; ++i) {
            const StlTriangle* t = a->triangle(i);
            if (t->isDeleted())
                continue;
            for (int k = 0; k < 3; ++k) {
                StlEdge* edge = t->edges[k];
                if (!edge || edge->edgeClass == kEdgeDetached)
                    continue;
                const StlVertex* p = edge->vertex(0);
                const StlVertex* q = edge->vertex(1);
                if ((p == a && q == b) || (p == b && q == a)) {
                    edge->edgeClass = kEdgeNonManifold;
                    done = true;
                    break;
                }
            }
        }
    }
    return 0;
}

int TriangleCutter::buildPieces(TriangleCutContext* ctx) {
    makeOutline(ctx);
    if (splitPieces(ctx) != 0)
        return -1;
    const double* n = ctx->triangle->normal.data();
    for (FillPolygon* p : ctx->pieces) {
        p->classifyNodesInPlane(n);
        p->markVertices(0);
    }
    return 0;
}

int TriangleCutter::makeOutline(TriangleCutContext* ctx) {
    StlTriangle* tri = ctx->triangle;
    FillPolygonNode* corners[3];
    for (int k = 0; k < 3; ++k)
        corners[k] = FillPolygon::newNode(tri->vertices[k], FillPolygonNode::kChainEnd);
    for (int k = 0; k < 3; ++k) {
        corners[k]->next = corners[(k + 1) % 3];
        corners[(k + 1) % 3]->prev = corners[k];
    }
    std::size_t nodeCount = 3;

    std::vector<CutSegment>& segs = ctx->segments;
    for (std::size_t i = 0; i < segs.size();) {
        if (segs[i].kind != kSegmentAlongEdge) {
            ++i;
            continue;
        }
        StlVertex* a = segs[i].a;
        StlVertex* b = segs[i].b;
        FillPolygonNode* P = corners[0];
        int inserted = 0;
        for (std::size_t walked = 0; walked < nodeCount && inserted < 2; ++walked) {
            FillPolygonNode* N = P->next;
            const double* pp = P->vertex->pos.data();
            const double* np = N->vertex->pos.data();
            if (P->vertex != a && N->vertex != a && locatePointOnSegment(pp, np, a->pos.data()) == 3) {
                FillPolygonNode* A = FillPolygon::newNode(a, FillPolygonNode::kChainEnd);
                linkAfter(P, A);
                ++nodeCount;
                ++inserted;
                if (locatePointOnSegment(pp, a->pos.data(), b->pos.data()) == 3 && b != P->vertex) {
                    linkAfter(P, FillPolygon::newNode(b, FillPolygonNode::kChainEnd));
                    ++nodeCount;
                    ++inserted;
                } else if (locatePointOnSegment(a->pos.data(), np, b->pos.data()) == 3 && b != N->vertex) {
                    linkAfter(A, FillPolygon::newNode(b, FillPolygonNode::kChainEnd));
                    ++nodeCount;
                    ++inserted;
                }
            } else if (P->vertex != b && N->vertex != b && locatePointOnSegment(pp, np, b->pos.data()) == 3) {
                linkAfter(P, FillPolygon::newNode(b, FillPolygonNode::kChainEnd));
                ++nodeCount;
                ++inserted;
            }
            P = N;
        }
        ctx->removeSegment(i);
    }

    auto* piece = new FillPolygon(meshOf(tri));
    piece->rebuildFrom(corners[0]);
    piece->normal = tri->normal;
    ctx->pieces.push_back(piece);
    return 0;
}

int TriangleCutter::splitPieces(TriangleCutContext* ctx) {
    std::vector<CutSegment>& segs = ctx->segments;
    for (std::size_t i = 0; i < segs.size();) {
        const Vector3D d = segs[i].b->pos - segs[i].a->pos;
        if (std::fabs(d.x) <= 1e-6 && std::fabs(d.y) <= 1e-6 && std::fabs(d.z) <= 1e-6 && d.lengthSquared() <= 1e-12)
            ctx->removeSegment(i);
        else
            ++i;
    }

    auto giveUp = [&]() {
        segs.clear();
        for (FillPolygon* p : ctx->pieces)
            p->markVertices(0);
        destroyPieces(ctx);
        ctx->failed = true;
        return -1;
    };

    std::vector<Chain> loops;
    while (!segs.empty()) {
        Chain chain;
        if (traceChainFromOutline(ctx, chain) == 0)
            traceChain(ctx, chain);
        if (chain.size() < 2)
            return giveUp();

        StlVertex* first = chain.front();
        StlVertex* last = chain.back();
        if (first != last && chain.size() > 2 && (last->pos - first->pos).lengthSquared() < 1e-10) {
            if (chain.size() < 4)
                continue;
            chain.back() = first;
            loops.push_back(std::move(chain));
            continue;
        }
        if (first == last) {
            if (chain.size() < 4)
                continue;
            loops.push_back(std::move(chain));
            continue;
        }

        if (!cutContainingPiece(ctx, chain, &FillPolygon::splitByChain))
            return giveUp();
    }

    if (loops.size() >= 2) {
        int primary, secondary;
        loopSortAxes(ctx->triangle->normal, &primary, &secondary);
        auto keyOf = [primary](const Chain& c) {
            const StlVertex* key = c.front();
            for (const StlVertex* v : c)
                if (v->pos[primary] > key->pos[primary])
                    key = v;
            return key;
        };
        std::sort(loops.begin(), loops.end(), [&](const Chain& x, const Chain& y) {
            const StlVertex* kx = keyOf(x);
            const StlVertex* ky = keyOf(y);
            if (kx->pos[primary] != ky->pos[primary])
                return kx->pos[primary] < ky->pos[primary];
            return kx->pos[secondary] < ky->pos[secondary];
        });
    }
    while (!loops.empty()) {
        Chain loop = std::move(loops.back());
        loops.pop_back();
        if (!cutContainingPiece(ctx, loop, &FillPolygon::insertChain))
            return giveUp();
    }
    return 0;
}

int TriangleCutter::traceChainFromOutline(TriangleCutContext* ctx, Chain& chain) {
    std::vector<CutSegment>& segs = ctx->segments;
    if (segs.size() == 1) {
        takeSegment(ctx, chain, 0);
        return 1;
    }
    std::size_t start = segs.size();
    bool fromA = true;
    for (std::size_t i = 0; i < segs.size(); ++i) {
        const CutSegment& s = segs[i];
        if (s.a->mark() != 0 || s.aOnOutline) {
            start = i;
            fromA = true;
            break;
        }
        if (s.b->mark() != 0 || s.bOnOutline) {
            start = i;
            fromA = false;
            break;
        }
    }
    if (start == segs.size())
        return 0;
    takeSegment(ctx, chain, start, fromA);
    StlVertex* S = chain[chain.size() - 2];
    StlVertex* T = chain.back();
    if (S->mark() == 2 && T->mark() == 2)
        return 1;
    if (T->mark() != 0 && T != S)
        return 1;

    bool several = false;
    while (StlVertex* W = extendChain(ctx, chain, true, &several))
        if (W->mark() != 0)
            break;
    return several ? 2 : 1;
}

int TriangleCutter::traceChain(TriangleCutContext* ctx, Chain& chain) {
    std::vector<CutSegment>& segs = ctx->segments;
    if (segs.size() == 1) {
        takeSegment(ctx, chain, 0);
        return 1;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < segs.size(); ++i) {
        if (segs[i].kind > segs[start].kind)
            start = i;
        if (segs[start].kind == kSegmentAcross)
            break;
    }
    takeSegment(ctx, chain, start);

    bool several = false;
    while (StlVertex* W = extendChain(ctx, chain, true, &several))
        if (W->mark() == 1)
            break;
    while (StlVertex* W = extendChain(ctx, chain, false, &several))
        if (W->mark() == 1)
            break;
    return several ? 2 : 1;
}

} // namespace topolib
