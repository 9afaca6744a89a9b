// One closed, irregular model at sizes from a thousandth to a thousand times
// its own: the same topology, outlines, inside answers and drilled hole at
// every size, with areas scaling by the square and volumes by the cube.

#include "../common/MeshFixtures.h"

#include "topolib/MeshBoolean.h"
#include "topolib/SliceContour.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace topolib;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;

namespace {

const double kScales[] = {1e-3, 1e-2, 1e-1, 1.0, 1e1, 1e2, 1e3};

TriangleSoup scaled(TriangleSoup soup, double s) {
    for (meshfixtures::Facet& f : soup)
        for (Point& p : f.v)
            for (double& c : p)
                c *= s;
    return soup;
}

struct Topology {
    std::size_t live = 0, vertices = 0, edges = 0, shells = 0, boundary = 0, nonManifold = 0;
    bool operator==(const Topology& o) const {
        return live == o.live && vertices == o.vertices && edges == o.edges && shells == o.shells &&
               boundary == o.boundary && nonManifold == o.nonManifold;
    }
};

Topology topologyOf(const StlObject& m) {
    Topology t;
    for (const StlTriangle* tri : m.triangles())
        t.live += tri->isDeleted() ? 0 : 1;
    t.vertices = m.vertices().size();
    t.edges = m.edges().size();
    t.shells = m.shells().size();
    for (const StlEdge* e : m.edges()) {
        t.boundary += e->edgeClass == kEdgeBoundary ? 1 : 0;
        t.nonManifold += e->edgeClass == kEdgeNonManifold ? 1 : 0;
    }
    return t;
}

::testing::AssertionResult relativelyNear(double a, double b, double rel) {
    if (std::fabs(a - b) <= rel * std::fabs(b))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " vs " << b;
}

} // namespace

TEST(ScaleIndependence, closedIrregularSphereKeepsItsTopologyOutlinesAndInsideAnswersAtEverySize) {
    const TriangleSoup base = meshfixtures::irregularIcosphere(10.0, 5);
    // Points on a grid through the sphere, some of them close to its surface.
    std::vector<Point> probes;
    for (int i = -4; i <= 4; ++i)
        for (int j = -4; j <= 4; ++j)
            probes.push_back({2.45 * i + 0.013, 2.45 * j - 0.007, 0.31 * (i + j) + 0.005});

    auto reference = meshfixtures::buildMeshWithOctree(base);
    const Topology expected = topologyOf(*reference);
    ASSERT_EQ(expected.live, base.size());
    ASSERT_EQ(expected.edges, base.size() * 3 / 2);
    ASSERT_EQ(expected.shells, 1u);
    ASSERT_EQ(expected.boundary + expected.nonManifold, 0u);
    std::unique_ptr<SliceContourSet> referenceSlice(reference->sliceAt(3.0));
    ASSERT_TRUE(referenceSlice);
    std::vector<bool> insideUp, insideDown;
    for (const Point& p : probes) {
        insideUp.push_back(reference->isInsideByUpwardRay(p.data()));
        insideDown.push_back(reference->isInsideByDownwardCount(p.data()));
    }

    for (double s : kScales) {
        SCOPED_TRACE(s);
        auto mesh = meshfixtures::buildMeshWithOctree(scaled(base, s));
        EXPECT_TRUE(topologyOf(*mesh) == expected);
        EXPECT_TRUE(relativelyNear(mesh->volume(), reference->volume() * s * s * s, 1e-5));
        EXPECT_TRUE(relativelyNear(mesh->area(), reference->area() * s * s, 1e-5));

        std::unique_ptr<SliceContourSet> slice(mesh->sliceAt(3.0 * s));
        ASSERT_TRUE(slice);
        ASSERT_EQ(slice->contours.size(), referenceSlice->contours.size());
        for (std::size_t c = 0; c < slice->contours.size(); ++c) {
            EXPECT_TRUE(slice->contours[c].closed);
            EXPECT_EQ(slice->contours[c].points.size(), referenceSlice->contours[c].points.size());
            EXPECT_TRUE(
                relativelyNear(slice->contours[c].signedArea(), referenceSlice->contours[c].signedArea() * s * s, 1e-4));
        }

        for (std::size_t i = 0; i < probes.size(); ++i) {
            const Point p = {probes[i][0] * s, probes[i][1] * s, probes[i][2] * s};
            EXPECT_EQ(mesh->isInsideByUpwardRay(p.data()), insideUp[i]) << "probe " << i;
            EXPECT_EQ(mesh->isInsideByDownwardCount(p.data()), insideDown[i]) << "probe " << i;
        }
    }
}

TEST(ScaleIndependence, drilledCubeLosesTheSameHoleAtEverySize) {
    const double r = 2.0, side = 10.0;
    const double kPi = 3.141592653589793;
    const double holeArea = 0.5 * 32 * r * r * std::sin(2.0 * kPi / 32);
    for (double s : kScales) {
        SCOPED_TRACE(s);
        auto cube = meshfixtures::buildMeshWithOctree(meshfixtures::cube(side * s));
        auto tool = meshfixtures::buildMeshWithOctree(
            meshfixtures::cylinder(r * s, {-5.0 * s, 4.7 * s, 5.3 * s}, {15.0 * s, 5.4 * s, 4.9 * s}, 32));
        MeshBoolean op(cube.get(), tool.get());
        ASSERT_TRUE(op.subtract()) << static_cast<int>(op.failure());
        EXPECT_EQ(countUnpairedEdges(*cube), 0u);
        // The hole's axis is slightly tilted: its section across the cube is a
        // little longer than the side.
        const double expected = side * side * side - holeArea * side * std::sqrt(1.0 + (0.7 * 0.7 + 0.4 * 0.4) / 400.0);
        EXPECT_TRUE(relativelyNear(liveVolume(*cube), expected * s * s * s, 2e-3));
    }
}
