#include "topolib/TriangleIntersection.h"
#include "topolib/GeoDistance.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <memory>

using namespace topolib;

namespace {

// One free-standing triangle with its own vertices (and, on request, edges).
struct LoneTriangle {
    StlVertex v[3];
    StlEdge e[3];
    StlTriangle t;
    LoneTriangle(const Vector3D& a, const Vector3D& b, const Vector3D& c, bool withEdges = false)
        : v{StlVertex(a.data()), StlVertex(b.data()), StlVertex(c.data())} {
        t.init(&v[0], &v[1], &v[2]);
        if (withEdges)
            for (int k = 0; k < 3; ++k) {
                e[k].init(&v[k], &v[(k + 1) % 3]);
                e[k].addTriangle(&t);
                t.edges[k] = &e[k];
            }
    }
};

// The right triangle (0,0,0), (4,0,0), (0,4,0) facing +z.
LoneTriangle* base() {
    static LoneTriangle* tri = new LoneTriangle({0, 0, 0}, {4, 0, 0}, {0, 4, 0});
    return tri;
}

} // namespace

TEST(TrianglePosition, verticesEdgesInsideAndOutside) {
    const StlTriangle* t = &base()->t;
    struct Case {
        Vector3D p;
        int code;
    };
    const Case cases[] = {
        {{0, 0, 0}, 1}, // a vertex wins although it lies on two edges
        {{4, 0, 0}, 2},      {{0, 4, 0}, 3},   {{0, 0, 4e-7}, 1}, // Vector3D equality
        {{2, 0, 0}, 4},      {{2, 2, 0}, 5},   {{0, 2, 0}, 6},    {{1, 1, 0}, 0},
        {{5, 5, 0}, -1},     {{-1, 1, 0}, -1}, {{6, 0, 0}, -1}, // on edge 0's line beyond its end: placed by
                                                                // edge 1
        {{2, -1e-5, 0}, -1},                                    // just outside edge 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classifyPointInTriangle(t, c.p.data()), c.code) << c.p.x << "," << c.p.y;
        EXPECT_EQ(pointInTriangle(t, c.p.data()), c.code >= 0) << c.p.x << "," << c.p.y;
    }
}

TEST(RayTriangle, hitsThroughFaceVertexAndEdgeButNotFromOrAlongThePlane) {
    const StlTriangle* t = &base()->t;
    struct Case {
        Vector3D origin, dir;
        bool hit;
    };
    const Case cases[] = {
        {{1, 1, 5}, {0, 0, -1}, true},   {{1, 1, -5}, {0, 0, 1}, true}, // from behind
        {{1, 1, 5}, {0, 0, 1}, false},                                  // heading away
        {{0, 0, 5}, {0, 0, -1}, true},                                  // through a vertex
        {{2, 0, 5}, {0, 0, -1}, true},                                  // through an edge
        {{-3, -3, 5}, {3, 4, -5}, true}, // oblique, through (0, 1, 0) on edge 2
        {{5, 5, 5}, {0, 0, -1}, false},  {{1, 1, 5e-7}, {0, 0, -1}, false}, // starts in the plane
        {{-1, 1, 0}, {1, 0, 0}, false},                                     // lies in the plane
        {{1, 1, 5}, {0, 0, 0}, false},                                      // no direction
    };
    for (const Case& c : cases)
        EXPECT_EQ(rayHitsTriangle(t, c.origin.data(), c.dir.data()), c.hit)
            << c.origin.x << "," << c.origin.y << "," << c.origin.z;
    LoneTriangle flat({0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    EXPECT_FALSE(rayHitsTriangle(&flat.t, Vector3D(1, 0, 5).data(), Vector3D(0, 0, -1).data()));
}

TEST(CoplanarOverlap, overlappingSeparateTouchingAndTiltedPairs) {
    const StlTriangle* a = &base()->t;
    struct Case {
        Vector3D p0, p1, p2;
        bool overlap;
    };
    const Case cases[] = {
        {{1, 1, 0}, {5, 1, 0}, {1, 5, 0}, true},
        {{1, 1, 0}, {1, 5, 0}, {5, 1, 0}, true},         // opposite winding
        {{0.5, 0.5, 0}, {1, 0.5, 0}, {0.5, 1, 0}, true}, // contained
        {{5, 5, 0}, {9, 5, 0}, {5, 9, 0}, false},
        {{4, 0, 0}, {4, 4, 0}, {0, 4, 0}, false},          // shares the hypotenuse only
        {{1, 1, 1e-3}, {5, 1, 1e-3}, {1, 5, 1e-3}, false}, // parallel plane
        {{1, 1, 0}, {5, 1, 0}, {1, 5, 1}, false},          // tilted
    };
    for (const Case& c : cases) {
        LoneTriangle b(c.p0, c.p1, c.p2);
        EXPECT_EQ(trianglesCoplanarOverlap(a, &b.t, 1e-6, 1e-6), c.overlap) << c.p0.x << "," << c.p0.y;
    }
}

TEST(PairPrefilter, crossingFarAndNearPlanePairs) {
    LoneTriangle a({0, 0, 0}, {4, 0, 0}, {0, 4, 0});
    struct Case {
        Vector3D p0, p1, p2;
        bool recorded;
    };
    const Case cases[] = {
        {{1, 1, -1}, {1, 1, 1}, {2, 1, 0.5}, true}, // pierces the face
        {{1, 1, 1}, {2, 1, 1}, {1, 2, 3}, false},   // wholly above
        {{4 + 5e-7, 10, -1},
         {4 + 5e-7, 11, 1},
         {4 + 5e-7, 10, 1},
         true},                                                    // a's vertex on b's plane, far apart
        {{3 - 5e-7, 1, -1}, {3 - 5e-7, 1, 1}, {5, 1, 0.5}, false}, // spans overlap by 5e-7
        {{3 - 1e-5, 1, -1}, {3 - 1e-5, 1, 1}, {5, 1, 0.5}, true},  // spans overlap by 1e-5
        {{6, 1, -1}, {6, 1, 1}, {7, 1, 0.5}, false},               // crosses the plane beside a
    };
    for (const Case& c : cases) {
        LoneTriangle b(c.p0, c.p1, c.p2);
        std::deque<SnapRecord> snaps;
        EXPECT_EQ(TriangleCutter::prefilterPair(&a.t, &b.t, &snaps), c.recorded) << c.p0.x << "," << c.p0.y;
        EXPECT_TRUE(snaps.empty());
    }
}

TEST(PairPrefilter, vertexJustAboveTheFaceBecomesAFaceSnap) {
    LoneTriangle a({0, 0, 0}, {4, 0, 0}, {0, 4, 0});
    LoneTriangle b({1, 1, 2e-5}, {0.5, 1, -1}, {1.5, 1, -1});
    std::deque<SnapRecord> snaps;
    ASSERT_TRUE(TriangleCutter::prefilterPair(&a.t, &b.t, &snaps));
    ASSERT_EQ(snaps.size(), 1u);
    EXPECT_EQ(snaps[0].vertex, &b.v[0]);
    EXPECT_EQ(snaps[0].target, &a.t);
    EXPECT_EQ(snaps[0].kind, SnapRecord::kFace);
    EXPECT_EQ(b.v[0].mark(), 1u);
    // A marked vertex is not offered again.
    snaps.clear();
    ASSERT_TRUE(TriangleCutter::prefilterPair(&a.t, &b.t, &snaps));
    EXPECT_TRUE(snaps.empty());
}

TEST(PairPrefilter, vertexBesideAnEdgeIsAddedToThatEdge) {
    LoneTriangle a({0, 0, 0}, {4, 0, 0}, {0, 4, 0}, true);
    LoneTriangle b({2, 2e-5, 1e-5}, {2, 1, -1}, {2.5, 1, -1});
    std::deque<SnapRecord> snaps;
    ASSERT_TRUE(TriangleCutter::prefilterPair(&a.t, &b.t, &snaps));
    EXPECT_TRUE(snaps.empty()); // edge snaps go to the edge, not to the list
    ASSERT_EQ(a.e[0].vertexCount(), 3u);
    EXPECT_EQ(a.e[0].vertex(2), &b.v[0]);
    EXPECT_EQ(b.v[0].mark(), 1u);
    EXPECT_EQ(a.e[1].vertexCount(), 2u);
}

TEST(SnapCandidate, sharedNearVertexEdgeAndFaceCases) {
    LoneTriangle y({0, 0, 0}, {4, 0, 0}, {0, 4, 0}, true);
    struct Case {
        Vector3D p;
        int result;
    };
    const Case cases[] = {{{4 + 3e-5, 0, 1e-5}, 1}, {{2, 3e-5, 0}, 2}, {{1, 1, 3e-5}, 3}, {{5, 5, 3e-5}, 0}};
    for (const Case& c : cases) {
        LoneTriangle x(c.p, {c.p.x, c.p.y + 1, 1}, {c.p.x + 1, c.p.y, 1});
        SnapCandidates vf, edge;
        EXPECT_EQ(TriangleCutter::collectSnapCandidate(&x.t, &y.t, 0, vf, edge), c.result) << c.p.x;
        EXPECT_EQ(vf.count, c.result == 1 || c.result == 3 ? 1 : 0);
        EXPECT_EQ(edge.count, c.result == 2 ? 1 : 0);
        EXPECT_EQ(x.v[0].mark(), c.result == 1 || c.result == 3 ? 1u : 0u);
    }
    // A vertex shared by both triangles is no candidate.
    StlVertex extra1(Vector3D(9, 9, 9).data()), extra2(Vector3D(9, 8, 9).data());
    StlTriangle shared;
    shared.init(&y.v[1], &extra1, &extra2);
    SnapCandidates vf, edge;
    EXPECT_EQ(TriangleCutter::collectSnapCandidate(&shared, &y.t, 0, vf, edge), 0);
}

TEST(TriangleEdges, segmentOnEdgeAndNearestEdge) {
    const StlTriangle* t = &base()->t;
    const Vector3D p(1, 0, 0), q(3, 0, 0), r(1, 3, 0), mid(2, 2.1, 0);
    EXPECT_TRUE(segmentOnTriangleEdge(t, p.data(), q.data()));
    EXPECT_FALSE(segmentOnTriangleEdge(t, p.data(), r.data()));
    EXPECT_FALSE(segmentOnTriangleEdge(t, Vector3D(0, 0, 0).data(), q.data())); // an end is no interior
    EXPECT_EQ(nearestTriangleEdge(t, Vector3D(2, 0.1, 0).data()), 0);
    EXPECT_EQ(nearestTriangleEdge(t, mid.data()), 1);
    EXPECT_EQ(nearestTriangleEdge(t, Vector3D(-0.1, 3, 0).data()), 2);
    EXPECT_EQ(nearestTriangleEdge(t, Vector3D(10, -10, 0).data()), 0); // no interior foot point
}

TEST(TriangleBox, growingAnEmptyBoxGivesTheTrianglesBounds) {
    LoneTriangle t({1, -2, 3}, {-4, 5, 0}, {2, 2, 7});
    const double inf = std::numeric_limits<double>::infinity();
    double lo[3] = {inf, inf, inf}, hi[3] = {-inf, -inf, -inf};
    growBoxByTriangle(&t.t, lo, hi);
    EXPECT_EQ(Vector3D(lo), Vector3D(-4, -2, 0));
    EXPECT_EQ(Vector3D(hi), Vector3D(2, 5, 7));
}

TEST(GeodesicStep, newCornersTakeTheirNearestReachedNeighbour) {
    LoneTriangle t({0, 0, 0}, {3, 0, 0}, {0, 4, 0});
    GeoDistanceTable geo;
    geo[&t.v[0]].distance = 0.0;
    std::deque<StlVertex*> reached;
    EXPECT_TRUE(GeoDistanceVertex::relaxTriangle(&t.t, geo, reached, &t.v[0], &t.v[2]));
    ASSERT_EQ(reached.size(), 2u);
    EXPECT_EQ(reached[0], &t.v[1]);
    EXPECT_EQ(reached[1], &t.v[2]);
    EXPECT_DOUBLE_EQ(geo[&t.v[1]].distance, 3.0);
    EXPECT_EQ(geo[&t.v[1]].predecessor, &t.v[0]);
    EXPECT_DOUBLE_EQ(geo[&t.v[2]].distance, 4.0); // via v0, not 5 + 3 via v1
    EXPECT_EQ(geo[&t.v[2]].predecessor, &t.v[0]);
    EXPECT_FALSE(GeoDistanceVertex::relaxTriangle(&t.t, geo, reached, &t.v[1], nullptr));
    EXPECT_EQ(reached.size(), 2u);
    EXPECT_EQ(geo.size(), 3u);
}

TEST(GeodesicStep, onlyTheSecondCandidateReachedAndExistingCornersRelaxed) {
    LoneTriangle t({0, 0, 0}, {3, 0, 0}, {0, 4, 0});
    GeoDistanceTable geo;
    geo[&t.v[2]].distance = 1.5;
    std::deque<StlVertex*> reached;
    EXPECT_FALSE(GeoDistanceVertex::relaxTriangle(&t.t, geo, reached, &t.v[2], nullptr));
    EXPECT_DOUBLE_EQ(geo[&t.v[0]].distance, 5.5); // |v0 - v2| + 1.5; v1 is not reached yet
    EXPECT_EQ(geo[&t.v[0]].predecessor, &t.v[2]);
    EXPECT_DOUBLE_EQ(geo[&t.v[1]].distance, 6.5); // 5 + 1.5 beats 3 + 5.5
    EXPECT_EQ(geo[&t.v[1]].predecessor, &t.v[2]);

    // A corner reached before with a longer way is relaxed from the expanded vertex.
    geo[&t.v[1]].distance = 100.0;
    geo[&t.v[0]].distance = 0.0;
    GeoDistanceVertex::relaxTriangle(&t.t, geo, reached, &t.v[0], nullptr);
    EXPECT_DOUBLE_EQ(geo[&t.v[1]].distance, 3.0);
    EXPECT_EQ(geo[&t.v[1]].predecessor, &t.v[0]);
    EXPECT_DOUBLE_EQ(geo[&t.v[2]].distance, 1.5);
}
