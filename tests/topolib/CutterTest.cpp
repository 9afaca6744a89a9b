// The triangle cutter on single triangles: the segments a crossing files, how
// the segments of one triangle are resolved, and the pieces that replace a cut
// triangle, including the cases where the replacement must give up.

#include "../common/MeshFixtures.h"

#include "topolib/ShortPair.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutter.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

using namespace topolib;
using meshfixtures::buildMeshWithOctree;
using meshfixtures::TriangleSoup;

namespace {

// The facet (0,0,0), (10,0,0), (0,10,0) in z = 0, normal +z.
std::unique_ptr<StlObject> baseFacet() { return buildMeshWithOctree(meshfixtures::singleFacet(10.0)); }

StlVertex* at(StlObject& m, double x, double y, double z = 0.0) {
    const double p[3] = {x, y, z};
    return m.findOrAddVertex(p);
}

CutSegment segment(StlVertex* a, StlVertex* b, uint8_t aOn, uint8_t bOn, uint8_t kind) {
    CutSegment s;
    s.a = a;
    s.b = b;
    s.aOnOutline = aOn;
    s.bOnOutline = bOn;
    s.kind = kind;
    return s;
}

// Replaces t as StlObject::deleteTriangles does; returns retriangulate's result.
int replace(TriangleCutter& cut, StlTriangle* t) {
    t->setDeleted(true);
    t->detachFromEdges();
    const int r = cut.retriangulate(cut.contextOf(t));
    cut.takeContext(t);
    return r;
}

double liveArea(const StlObject& m) {
    double a = 0.0;
    for (const StlTriangle* t : m.triangles())
        if (!t->isDeleted())
            a += triangleArea(t);
    return a;
}

std::size_t liveCount(const StlObject& m) {
    std::size_t n = 0;
    for (const StlTriangle* t : m.triangles())
        n += t->isDeleted() ? 0 : 1;
    return n;
}

const StlEdge* edgeBetween(const StlVertex* a, const StlVertex* b) { return StlVertex::findEdgeTo(a, b); }

} // namespace

TEST(TriangleCutter, crossingPairFilesOneSegmentWithEachTriangleByWhereItsEndsLie) {
    struct Case {
        const char* name;
        TriangleSoup other;
        uint8_t kindInBase;
        uint8_t kindInOther;
    } cases[] = {
        // Upright triangle in y = 3 meeting the base from x = 3 (inside the base) to
        // x = 7 (on its long edge); in the upright one, from its edge to its inside.
        {"one end inside each", {{{{1, 3, -5}, {5, 3, 5}, {12, 3, -5}}}}, kSegmentFromOutline, kSegmentFromOutline},
        // Upright triangle wider than the base: both ends on the base's edges.
        {"across the base", {{{{-5, 3, -5}, {5, 3, 20}, {20, 3, -5}}}}, kSegmentAcross, kSegmentInside},
    };
    for (const Case& c : cases) {
        auto a = baseFacet();
        auto b = buildMeshWithOctree(c.other);
        TriangleCutter cut;
        std::vector<ShortPair> shortPairs;
        ASSERT_TRUE(cut.intersectPair(a->triangle(0), b->triangle(0), shortPairs)) << c.name;
        const TriangleCutContext* ca = cut.contextOf(a->triangle(0));
        const TriangleCutContext* cb = cut.contextOf(b->triangle(0));
        ASSERT_TRUE(ca && cb) << c.name;
        ASSERT_EQ(ca->segments.size(), 1u) << c.name;
        ASSERT_EQ(cb->segments.size(), 1u) << c.name;
        const CutSegment& sa = ca->segments[0];
        const CutSegment& sb = cb->segments[0];
        // The same two points on both sides, on distinct vertices of each mesh.
        EXPECT_TRUE((sa.a->pos == sb.a->pos && sa.b->pos == sb.b->pos)) << c.name;
        EXPECT_NEAR(sa.a->pos.y, 3.0, 1e-9) << c.name;
        EXPECT_NEAR(sa.a->pos.z, 0.0, 1e-9) << c.name;
        const uint8_t ka = sa.kind, kb = sb.kind;
        // Which end comes first depends on the order of the hits: a segment from the
        // outline inwards is kind 1 or 2 by direction.
        auto sameSide = [](uint8_t k, uint8_t expected) {
            if (expected == kSegmentFromOutline)
                return k == kSegmentFromOutline || k == kSegmentToOutline;
            return k == expected;
        };
        EXPECT_TRUE(sameSide(ka, c.kindInBase)) << c.name << " kind " << int(ka);
        if (c.kindInOther != kSegmentInside) {
            EXPECT_TRUE(sameSide(kb, c.kindInOther)) << c.name << " kind " << int(kb);
        }
    }
}

TEST(TriangleCutter, trianglesTouchingInOnePointFileNothing) {
    auto a = baseFacet();
    // Upright triangle whose lowest corner rests on the base at (2, 2, 0).
    auto b = buildMeshWithOctree({{{{2, 2, 0}, {4, 2, 5}, {0, 2, 5}}}});
    TriangleCutter cut;
    std::vector<ShortPair> shortPairs;
    EXPECT_FALSE(cut.intersectPair(a->triangle(0), b->triangle(0), shortPairs));
    EXPECT_TRUE(!cut.contextOf(a->triangle(0)) || cut.contextOf(a->triangle(0))->segments.empty());
}

TEST(TriangleCutter, contextListsEachCutterOnceAndRefusesTinySegments) {
    auto m = baseFacet();
    StlTriangle* t = m->triangle(0);
    StlTriangle other;
    TriangleCutter cut;
    cut.recordCutter(t, &other);
    cut.recordCutter(t, &other);
    EXPECT_EQ(cut.contextOf(t)->cutters.size(), 1u);
    StlVertex* p = at(*m, 1, 1);
    StlVertex* q = at(*m, 1 + 5e-7, 1);
    EXPECT_EQ(cut.contextOf(t)->addSegment(segment(p, q, 0, 0, kSegmentInside)), 0);
    EXPECT_EQ(cut.contextOf(t)->addSegment(segment(p, at(*m, 2, 1), 0, 0, kSegmentInside)), 1);
}

TEST(TriangleCutter, crossingResolutionSplitsDeduplicatesAndCutsBackOverlaps) {
    auto m = baseFacet();
    StlTriangle* t = m->triangle(0);
    TriangleCutter cut;
    TriangleCutContext* ctx = cut.ensureContext(t);
    // Two segments crossing inside: kind 3 from edge 2 to edge 0, and an inner one.
    StlVertex* a = at(*m, 0, 3);
    StlVertex* b = at(*m, 6, 0);
    ctx->segments.push_back(segment(a, b, 1, 1, kSegmentAcross));
    ctx->segments.push_back(segment(at(*m, 1, 1), at(*m, 5, 2.5), 0, 0, kSegmentInside));
    ASSERT_EQ(TriangleCutter::splitCrossingSegments(ctx), 0);
    ASSERT_EQ(ctx->segments.size(), 4u);
    // All four meet at one new vertex; the pieces of the kind-3 segment are 1 and 2.
    StlVertex* x = nullptr;
    int kinds[6] = {0, 0, 0, 0, 0, 0};
    for (const CutSegment& s : ctx->segments) {
        StlVertex* end = (s.a == a || s.a == b || s.a->pos.x == 1.0 || s.a->pos.x == 5.0) ? s.b : s.a;
        if (!x)
            x = end;
        EXPECT_EQ(end, x);
        if (s.a == a || s.b == a || s.a == b || s.b == b)
            ++kinds[s.kind];
    }
    EXPECT_EQ(kinds[kSegmentFromOutline], 1);
    EXPECT_EQ(kinds[kSegmentToOutline], 1);
    // A resolved list stays as it is, and a segment filed twice (either way round)
    // is kept once.
    const std::vector<CutSegment> before = ctx->segments;
    ctx->segments.push_back(segment(before[1].b, before[1].a, before[1].bOnOutline, before[1].aOnOutline,
                                    before[1].kind));
    ASSERT_EQ(TriangleCutter::splitCrossingSegments(ctx), 0);
    ASSERT_EQ(ctx->segments.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(ctx->segments[i].a == before[i].a && ctx->segments[i].b == before[i].b);

    // Collinear segments from one end pointing the same way become end to end.
    ctx->segments.clear();
    StlVertex* p = at(*m, 1, 1);
    StlVertex* q = at(*m, 2, 1);
    StlVertex* r = at(*m, 4, 1);
    ctx->segments.push_back(segment(p, r, 0, 0, kSegmentInside));
    ctx->segments.push_back(segment(p, q, 0, 0, kSegmentInside));
    ASSERT_EQ(TriangleCutter::splitCrossingSegments(ctx), 0);
    ASSERT_EQ(ctx->segments.size(), 2u);
    EXPECT_TRUE((ctx->segments[0].a == q && ctx->segments[0].b == r) ||
                (ctx->segments[0].a == r && ctx->segments[0].b == q));
}

TEST(TriangleCutter, crossingResolutionGivesUpWhenItsBudgetRunsOut) {
    auto m = baseFacet();
    StlTriangle* t = m->triangle(0);
    TriangleCutter cut;
    TriangleCutContext* ctx = cut.ensureContext(t);
    ctx->segments.push_back(segment(at(*m, 0, 3), at(*m, 6, 0), 1, 1, kSegmentAcross));
    ctx->segments.push_back(segment(at(*m, 1, 1), at(*m, 5, 2.5), 0, 0, kSegmentInside));
    EXPECT_EQ(TriangleCutter::splitCrossingSegments(ctx, 1), -1);
    EXPECT_TRUE(ctx->failed);
}

TEST(TriangleCutter, cutTriangleIsReplacedByPiecesThatCoverItAndFollowTheCut) {
    struct Case {
        const char* name;
        std::vector<std::array<double, 4>> segments; // x0 y0 x1 y1 in z = 0
        std::vector<int> onOutline;                  // flags of a, b per segment
        uint8_t kind;
        std::size_t minPieces;
    } cases[] = {
        {"edge to edge", {{{0, 4, 4, 0}}}, {1, 1}, kSegmentAcross, 2},
        {"closed loop inside", {{{2, 2, 4, 2}}, {{4, 2, 3, 4}}, {{3, 4, 2, 2}}}, {0, 0, 0, 0, 0, 0}, kSegmentInside, 4},
        {"along an edge", {{{2, 0, 5, 0}}}, {1, 1}, kSegmentAlongEdge, 1},
    };
    for (const Case& c : cases) {
        auto m = baseFacet();
        StlTriangle* t = m->triangle(0);
        TriangleCutter cut;
        TriangleCutContext* ctx = cut.ensureContext(t);
        std::vector<std::pair<StlVertex*, StlVertex*>> ends;
        for (std::size_t i = 0; i < c.segments.size(); ++i) {
            const auto& s = c.segments[i];
            StlVertex* a = at(*m, s[0], s[1]);
            StlVertex* b = at(*m, s[2], s[3]);
            ends.emplace_back(a, b);
            ctx->segments.push_back(segment(a, b, static_cast<uint8_t>(c.onOutline[2 * i]),
                                            static_cast<uint8_t>(c.onOutline[2 * i + 1]), c.kind));
        }
        ASSERT_EQ(replace(cut, t), 0) << c.name;
        EXPECT_NEAR(liveArea(*m), 50.0, 1e-9) << c.name;
        EXPECT_GE(liveCount(*m), c.minPieces) << c.name;
        if (c.kind != kSegmentAlongEdge) {
            for (const auto& e : ends) {
                const StlEdge* edge = edgeBetween(e.first, e.second);
                ASSERT_NE(edge, nullptr) << c.name;
                EXPECT_EQ(edge->edgeClass, kEdgeNonManifold) << c.name;
            }
        }
        for (const StlVertex* v : m->vertices())
            EXPECT_EQ(v->mark(), 0u) << c.name;
    }
}

TEST(TriangleCutter, chainOutsideEveryPieceGivesTheTriangleUp) {
    auto m = baseFacet();
    StlTriangle* t = m->triangle(0);
    TriangleCutter cut;
    TriangleCutContext* ctx = cut.ensureContext(t);
    // A chain beyond the long edge: its midpoint lies in no piece.
    ctx->segments.push_back(segment(at(*m, 8, 8), at(*m, 9, 7), 0, 0, kSegmentInside));
    EXPECT_EQ(cut.retriangulate(ctx), -1);
    EXPECT_TRUE(ctx->failed);
    EXPECT_TRUE(ctx->pieces.empty());
    EXPECT_TRUE(ctx->segments.empty());
}

TEST(TriangleCutter, retriangulationForTheMeshCountsFailuresAndFreesTheContext) {
    auto m = baseFacet();
    StlTriangle* t = m->triangle(0);
    TriangleCutter cut;
    TriangleCutContext* ctx = cut.ensureContext(t);
    ctx->segments.push_back(segment(at(*m, 8, 8), at(*m, 9, 7), 0, 0, kSegmentInside));
    t->setDeleted(true);
    t->detachFromEdges();
    cut.retriangulateForMesh(*m, t);
    EXPECT_EQ(cut.failureCount(), 1u);
    EXPECT_EQ(cut.contextOf(t), nullptr);
    EXPECT_FALSE(t->hasCutContext());
    EXPECT_EQ(cut.contextCount(), 0u);
}

TEST(TriangleCutter, aContextIsSeenOnlyByTheCutAndTheRecordItWasFiledFor) {
    // A record made where a freed one lay (no reset in between, so the cut
    // still holds the freed one's entry) starts without a context; filing one
    // replaces the old entry.
    TriangleCutter cut;
    alignas(StlTriangle) unsigned char slot[sizeof(StlTriangle)];
    const TriangleCutContext* first = cut.ensureContext(new (slot) StlTriangle());
    StlTriangle* fresh = new (slot) StlTriangle();
    EXPECT_EQ(cut.contextOf(fresh), nullptr);
    const TriangleCutContext* second = cut.ensureContext(fresh);
    EXPECT_EQ(cut.contextOf(fresh), second);
    EXPECT_EQ(second->triangle, fresh);
    EXPECT_NE(second, first);
    EXPECT_EQ(cut.contextCount(), 1u);
    fresh->reset();
    EXPECT_EQ(cut.contextOf(fresh), nullptr);

    // Two cuts at once, each on the triangles of its own pair of meshes (as
    // two subtractions on two threads): neither sees the other's contexts, and
    // each gives back those of one mesh without touching the rest.
    auto m = buildMeshWithOctree(meshfixtures::cube(10.0));
    auto n = buildMeshWithOctree(meshfixtures::cube(10.0, {20, 0, 0}));
    TriangleCutter other;
    for (StlTriangle* t : m->triangles())
        cut.recordCutter(t, n->triangle(0));
    other.recordCutter(n->triangle(3), m->triangle(3));
    EXPECT_EQ(other.contextOf(m->triangle(3)), nullptr) << "a context filed by another cut";
    EXPECT_EQ(cut.contextOf(n->triangle(3)), nullptr);
    ASSERT_NE(cut.contextOf(m->triangle(5)), nullptr);
    EXPECT_EQ(cut.contextOf(m->triangle(5))->cutters, std::vector<StlTriangle*>{n->triangle(0)});
    EXPECT_EQ(other.contextOf(n->triangle(3))->cutters, std::vector<StlTriangle*>{m->triangle(3)});
    EXPECT_EQ(cut.contextCount(), 1u + m->triangles().size());
    cut.releaseContexts(*n);
    EXPECT_EQ(cut.contextCount(), 1u + m->triangles().size());
    EXPECT_TRUE(n->triangle(3)->hasCutContext()) << "the other cut's context was given back";
    cut.releaseContexts(*m);
    EXPECT_EQ(cut.contextCount(), 1u);
    for (const StlTriangle* t : m->triangles())
        EXPECT_FALSE(t->hasCutContext());
    EXPECT_NE(other.contextOf(n->triangle(3)), nullptr);
    other.releaseContexts(*n);
    EXPECT_FALSE(n->triangle(3)->hasCutContext());
}
