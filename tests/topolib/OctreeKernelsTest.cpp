// Edge cases of the per-triangle kernels of the octree queries.

#include "MeshFixtures.h"

#include "topolib/OctreeKernels.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TruncatedCone.h"

#include <gtest/gtest.h>

namespace {

using topolib::StlTriangle;
using topolib::StlVertex;

struct Tri {
    StlVertex a, b, c;
    StlTriangle t;
    Tri(double ax, double ay, double az, double bx, double by, double bz, double cx, double cy, double cz)
        : a(ax, ay, az), b(bx, by, bz), c(cx, cy, cz) {
        t.init(&a, &b, &c);
    }
};

TEST(OctreeKernels, pointAndLineTestsOnOneTriangle) {
    Tri tri(0, 0, 0, 4, 0, 0, 0, 4, 0); // normal +z
    const double onEdge[3] = {2, 0, 0}, farAbove[3] = {1, 1, 50}, outsideEdge1[3] = {3, 3, 0};
    EXPECT_TRUE(tri.t.containsProjectedPoint(onEdge));
    EXPECT_TRUE(tri.t.containsProjectedPoint(farAbove));
    EXPECT_FALSE(tri.t.containsProjectedPoint(outsideEdge1));
    EXPECT_EQ(tri.t.outsideEdge(outsideEdge1), 2);
    EXPECT_EQ(tri.t.outsideEdge(onEdge), 0);

    double hit[3];
    const double q[3] = {1, 1, 5}, parallel[3] = {1, 0, 0}, away[3] = {0, 0, 1};
    EXPECT_FALSE(tri.t.lineHit(q, parallel, hit));
    ASSERT_TRUE(tri.t.lineHit(q, away, hit)); // the hit lies behind the origin
    EXPECT_DOUBLE_EQ(hit[2], 0.0);
}

TEST(OctreeKernels, heightsOnAVerticalLine) {
    Tri tri(0, 0, 1, 4, 0, 2, 0, 4, 3);
    EXPECT_DOUBLE_EQ(topolib::triangleHeightAt(&tri.t, 4, 0), 2.0);
    EXPECT_DOUBLE_EQ(topolib::triangleHeightAt(&tri.t, 5, 5), -1.0);
    EXPECT_NEAR(topolib::triangleHeightAt(&tri.t, 1, 1), 1.0 + 0.25 + 0.5, 1e-12);
    const double inXY[3] = {1, 1, 0}, outXY[3] = {4, 4, 0};
    EXPECT_TRUE(tri.t.containsPointXY(inXY));
    EXPECT_FALSE(tri.t.containsPointXY(outXY));
}

TEST(OctreeKernels, markingAtASharedVertexMarksTheWholeFan) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::fan(6, 10.0, 360.0));
    std::vector<StlTriangle*> touched;
    StlTriangle* first = mesh->triangle(0);
    EXPECT_DOUBLE_EQ(topolib::triangleHeightAtMarking(first, 0.0, 0.0, touched), 0.0);
    EXPECT_EQ(touched.size(), 6u);
    for (StlTriangle* t : mesh->triangles())
        EXPECT_EQ(t->walkMark(), 1u);
}

TEST(OctreeKernels, axisLineThroughASharedEdgeCountsOnlyWhenBothFaceTheSameWay) {
    // Two triangles over the edge (0,0,0)-(10,0,0); the vertical line through its
    // middle passes exactly along it.
    using meshfixtures::Facet;
    const Facet up1{{{0, 0, 0}, {10, 0, 0}, {5, 5, 1}}};
    const Facet up2{{{10, 0, 0}, {0, 0, 0}, {5, -5, 1}}};
    const Facet down2{{{0, 0, 0}, {10, 0, 0}, {5, -5, 1}}};
    struct Case {
        meshfixtures::TriangleSoup soup;
        int expected;
    } cases[] = {{{up1, up2}, 2}, {{up1, down2}, 0}};
    const double uv[2] = {5.0, 0.0};
    for (const Case& c : cases) {
        auto mesh = meshfixtures::buildMesh(c.soup);
        int counted = 0;
        for (StlTriangle* t : mesh->triangles()) {
            double h = -1.0;
            if (t->axisRayHit(2, uv, &h)) {
                ++counted;
                EXPECT_NEAR(h, 0.0, 1e-9);
            }
        }
        EXPECT_EQ(counted, c.expected);
    }
}

TEST(OctreeKernels, supportShapesAtTheirBorders) {
    Tri big(-100, -100, 0, 100, -100, 0, 0, 100, 0);
    const double centre[3] = {0, 0, 0}, up[3] = {0, 0, 1};
    const double thin = 0.01, len = 2.0;
    EXPECT_TRUE(topolib::triangleIntersectsCylinder(&big.t, centre, up, &thin, &len));
    const double above[3] = {0, 0, 5};
    EXPECT_FALSE(topolib::triangleIntersectsCylinder(&big.t, above, up, &thin, &len));
    // A column passing at exactly its radius from a vertical triangle's edge.
    Tri wall(1, -5, -5, 1, 5, -5, 1, 0, 5);
    const double one = 1.0;
    EXPECT_FALSE(topolib::triangleIntersectsCylinder(&wall.t, centre, up, &one, &len));

    Misc::VBTruncatedCone cone;
    const double p1[3] = {0, 0, 1}, p2[3] = {0, 0, 3};
    const double r1 = 0.5, r2 = 1.0;
    cone.set(p1, p2, &r1, &r2);
    Tri below(-5, -5, 0, 5, -5, 0, 0, 5, 0.5);
    EXPECT_FALSE(topolib::triangleIntersectsTruncatedCone(&below.t, &cone));
    Tri pierced(-5, -5, 2, 5, -5, 2, 0, 5, 2);
    EXPECT_TRUE(topolib::triangleIntersectsTruncatedCone(&pierced.t, &cone));
    Tri vertexInside(0, 0, 2, 9, 0, 9, 0, 9, 9);
    EXPECT_TRUE(topolib::triangleIntersectsTruncatedCone(&vertexInside.t, &cone));
}

TEST(OctreeKernels, cylindricalConeAnswersByItsRadiusNotByItsDistantApex) {
    // Equal radii make a cone whose apex lies a million radii away; the answer must
    // still follow the radius (walls crossing both cap planes, upright and tilted).
    struct Case {
        double x;
        bool hit;
    };
    for (const Case& c : {Case{6.0, false}, Case{1.01, false}, Case{0.99, true}, Case{0.0, true}}) {
        for (double tilt : {0.0, 0.3}) {
            Misc::VBTruncatedCone cone;
            const double p1[3] = {0, 0, 0}, p2[3] = {0, tilt * 10, 10};
            const double r = 1.0;
            cone.set(p1, p2, &r, &r);
            Tri wall(c.x, -5, -5, c.x, 5, -5, c.x, 0, 15);
            EXPECT_EQ(topolib::triangleIntersectsTruncatedCone(&wall.t, &cone), c.hit)
                << c.x << " tilt " << tilt;
        }
    }
}

} // namespace
