// The drain-hole boolean on generated meshes: closed results of the expected
// volume, slices of the drilled model, and every failure leaving both meshes as
// they were.

#include "../common/MeshFixtures.h"
#include "MeshStateHash.h"

#include "topolib/MeshBoolean.h"
#include "topolib/ParallelRuns.h"
#include "topolib/SliceContour.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <utility>
#include <vector>

using namespace topolib;
using meshfixtures::buildMeshWithOctree;
using meshfixtures::Point;

namespace {

constexpr double kPi = 3.141592653589793;

// A 32-sided cylinder of radius r along the line through c with direction d,
// reaching `half` beyond c on both sides.
std::unique_ptr<StlObject> drill(const Point& c, const Point& d, double r, double half) {
    const double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const Point p0 = {c[0] - d[0] / l * half, c[1] - d[1] / l * half, c[2] - d[2] / l * half};
    const Point p1 = {c[0] + d[0] / l * half, c[1] + d[1] / l * half, c[2] + d[2] / l * half};
    return buildMeshWithOctree(meshfixtures::cylinder(r, p0, p1, 32));
}

// The area of the 32-gon inscribed in a circle of radius r.
double polygonArea(double r) { return 0.5 * 32 * r * r * std::sin(2.0 * kPi / 32); }

// What a caller can observe of a mesh: live triangles with their corners, and the
// counts of records.
struct Fingerprint {
    std::size_t vertices = 0, triangles = 0, edges = 0, shells = 0;
    std::vector<double> corners;
    std::vector<uint32_t> flags;
    std::vector<uint32_t> classes;
    bool operator==(const Fingerprint& o) const {
        return vertices == o.vertices && triangles == o.triangles && edges == o.edges && shells == o.shells &&
               corners == o.corners && flags == o.flags && classes == o.classes;
    }
};

Fingerprint fingerprintOf(const StlObject& m) {
    Fingerprint f;
    f.vertices = m.vertices().size();
    f.triangles = m.triangles().size();
    f.edges = m.edges().size();
    f.shells = m.shells().size();
    for (const StlTriangle* t : m.triangles()) {
        f.flags.push_back(t->flags);
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                f.corners.push_back(t->vertices[k]->pos[a]);
    }
    for (const StlEdge* e : m.edges())
        f.classes.push_back(e->edgeClass);
    return f;
}

} // namespace

TEST(MeshBoolean, cubeDrilledAlongXIsClosedWithTheHoleRemoved) {
    auto cube = buildMeshWithOctree(meshfixtures::cube(10.0));
    auto tool = drill({5.0, 5.0, 5.0}, {1.0, 0.0, 0.0}, 1.0, 20.0);
    MeshBoolean op(cube.get(), tool.get());
    ASSERT_TRUE(op.subtract()) << static_cast<int>(op.failure());
    EXPECT_EQ(countUnpairedEdges(*cube), 0u);
    EXPECT_NEAR(liveVolume(*cube), 1000.0 - 10.0 * polygonArea(1.0), 1e-6 * 1000.0); // float corners
    EXPECT_GT(op.keptToolTriangles(), 0u);
}

// The model is split into pieces only near the hole; a shell of its own that
// lies wholly inside the hole is one of them, and goes.
TEST(MeshBoolean, aShellWhollyInsideTheHoleGoesWithIt) {
    auto cube = buildMeshWithOctree(meshfixtures::concatenated(meshfixtures::cube(10.0),
                                                               meshfixtures::cube(1.0, {6.0, 4.5, 4.5})));
    ASSERT_EQ(cube->shells().size(), 2u);
    auto tool = drill({5.0, 5.0, 5.0}, {1.0, 0.0, 0.0}, 2.0, 20.0);
    MeshBoolean op(cube.get(), tool.get());
    ASSERT_TRUE(op.subtract()) << static_cast<int>(op.failure());
    EXPECT_EQ(cube->shells().size(), 1u);
    EXPECT_EQ(countUnpairedEdges(*cube), 0u);
    EXPECT_NEAR(liveVolume(*cube), 1000.0 - 10.0 * polygonArea(2.0), 1e-6 * 1000.0);
}

// A mesher can leave two points a float's step apart: saved, the sides from a
// third point to each weld into one side of four triangles. Two holes on either
// side of such a spot are cut all the same: the result is checked near each
// hole, not in the box around both.
TEST(MeshBoolean, holesApartAreCutBesidePointsAFloatStepApart) {
    using meshfixtures::Facet;
    const Point a{0, 0, 10}, b{10, 0, 10}, c{10, 10, 10}, d{0, 10, 10}, v1{5, 5, 10}, v2{5.5, 5, 10};
    meshfixtures::TriangleSoup soup = meshfixtures::openBox(10.0);
    for (const Facet& f : {Facet{{a, b, v2}}, Facet{{b, c, v2}}, Facet{{c, v1, v2}}, Facet{{c, d, v1}},
                           Facet{{d, a, v1}}, Facet{{a, v2, v1}}})
        soup.push_back(f);
    auto cube = buildMeshWithOctree(soup);
    for (StlVertex* v : cube->vertices())
        if (v->pos[0] == 5.5)
            v->pos = Vector3D(5.0 + 1e-9, 5.0, 10.0);
    cube->rebuildOctree();
    auto tool = buildMeshWithOctree(meshfixtures::concatenated(meshfixtures::cylinder(1.0, {-15, 2, 2}, {25, 2, 2}),
                                                               meshfixtures::cylinder(1.0, {8, 5, -15}, {8, 5, 25})));
    MeshBoolean op(cube.get(), tool.get());
    ASSERT_TRUE(op.subtract()) << static_cast<int>(op.failure());
    EXPECT_EQ(countUnpairedEdges(*cube), 0u);
    EXPECT_NEAR(liveVolume(*cube), 1000.0 - 20.0 * polygonArea(1.0), 1e-6 * 1000.0);
}

TEST(MeshBoolean, cubeDrilledAlongRandomAxesIsClosed) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> inner(3.0, 7.0);
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        Point d;
        do
            d = {unit(rng), unit(rng), unit(rng)};
        while (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] < 0.05);
        const Point c = {inner(rng), inner(rng), inner(rng)};
        auto cube = buildMeshWithOctree(meshfixtures::cube(10.0));
        auto tool = drill(c, d, 1.0, 30.0);
        const Fingerprint before = fingerprintOf(*cube);
        MeshBoolean op(cube.get(), tool.get());
        if (!op.subtract()) {
            ++failures;
            ADD_FAILURE() << "axis " << i << " failed with " << static_cast<int>(op.failure());
            EXPECT_TRUE(fingerprintOf(*cube) == before);
            continue;
        }
        EXPECT_EQ(countUnpairedEdges(*cube), 0u) << "axis " << i;
        EXPECT_LT(liveVolume(*cube), 1000.0) << "axis " << i;
    }
    EXPECT_EQ(failures, 0);
}

TEST(MeshBoolean, slicingTheDrilledCubeAtTheHoleGivesClosedOutlinesAroundIt) {
    auto cube = buildMeshWithOctree(meshfixtures::cube(10.0));
    auto tool = drill({5.0, 5.0, 5.0}, {1.0, 0.0, 0.0}, 1.0, 20.0);
    ASSERT_TRUE(MeshBoolean(cube.get(), tool.get()).subtract());
    // The hole's 32-gon has corners at angles 2 pi i / 32 in the (y, z) plane
    // around (5, 5); the plane z = 5.2 meets it where its edge crosses height 0.2.
    const double h = 0.2;
    double halfWidth = 0.0;
    for (int i = 0; i < 8; ++i) {
        const double a0 = 2.0 * kPi * i / 32, a1 = 2.0 * kPi * (i + 1) / 32;
        if (std::sin(a0) <= h && std::sin(a1) >= h) {
            const double t = (h - std::sin(a0)) / (std::sin(a1) - std::sin(a0));
            halfWidth = std::cos(a0) + t * (std::cos(a1) - std::cos(a0));
        }
    }
    ASSERT_GT(halfWidth, 0.9);
    const std::unique_ptr<SliceContourSet> set = cube->sliceAt(5.0 + h);
    ASSERT_TRUE(set);
    double net = 0.0;
    for (const SliceContour& c : set->contours) {
        EXPECT_TRUE(c.closed);
        net += c.signedArea();
    }
    EXPECT_EQ(set->contours.size(), 2u);
    EXPECT_NEAR(net, 10.0 * (10.0 - 2.0 * halfWidth), 1e-4);
}

TEST(MeshBoolean, modelsDrilledOnSeveralThreadsAtOnceComeOutAsDrilledOneAtATime) {
    // Each cut keeps its working state to itself, and leaves no triangle of
    // the result marked as carrying a cut context. Drilled one at a time, each model's passes over all its
    // triangles and edges run on threads; drilled together, on one thread each: the volumes are the same
    // sums, bit for bit. On threads the shells of the result (whose records stand in two runs, the model's
    // and the cut's) are found through a table of neighbours, on one thread by the direct walk: the same
    // shells, lists and classes.
    const Point axes[] = {{1, 0, 0}, {0, 1, 0.3}, {0.2, 0.1, 1}, {1, 1, 1}};
    constexpr std::size_t kModels = sizeof(axes) / sizeof(axes[0]);
    struct Drilled {
        bool ok = false;
        Fingerprint fingerprint;
        double volume = 0.0;
        uint64_t state = 0;
        std::size_t markedAsCut = 0;
    };
    auto drilled = [&](std::size_t i) {
        auto model = buildMeshWithOctree(meshfixtures::icosphere(10.0, 5));
        auto tool = drill({0.5, 0.3, 0.2}, axes[i], 2.0, 30.0);
        MeshBoolean op(model.get(), tool.get());
        const bool ok = op.subtract() && op.cutTargetTriangles() > 0;
        std::size_t marked = 0;
        for (const StlTriangle* t : model->triangles())
            marked += t->hasCutContext() ? 1 : 0;
        return Drilled{ok, fingerprintOf(*model), liveVolume(*model), meshstate::stateHash(*model), marked};
    };
    std::vector<Drilled> alone, together(kModels);
    forceImportThreads(3);
    for (std::size_t i = 0; i < kModels; ++i)
        alone.push_back(drilled(i));
    forceImportThreads(0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < kModels; ++i)
        threads.emplace_back([&, i] { together[i] = drilled(i); });
    for (std::thread& t : threads)
        t.join();
    for (std::size_t i = 0; i < kModels; ++i) {
        EXPECT_TRUE(alone[i].ok) << "axis " << i;
        EXPECT_TRUE(together[i].ok) << "axis " << i;
        EXPECT_TRUE(together[i].fingerprint == alone[i].fingerprint) << "axis " << i;
        EXPECT_EQ(together[i].volume, alone[i].volume) << "axis " << i;
        EXPECT_EQ(together[i].state, alone[i].state) << "axis " << i;
        EXPECT_EQ(alone[i].markedAsCut + together[i].markedAsCut, 0u) << "axis " << i;
    }
}

// A hollow cube whose wall holds a tiny closed pocket (a few cubic
// micrometres) away from the hole: the hole into the cavity is cut, and the
// pocket stays as it was.
TEST(MeshBoolean, tinyPocketAwayFromTheHoleDoesNotStopTheCut) {
    auto model = buildMeshWithOctree(meshfixtures::concatenated(
        meshfixtures::concatenated(meshfixtures::cube(20.0), meshfixtures::flipped(meshfixtures::cube(16.0, {2, 2, 2}))),
        meshfixtures::flipped(meshfixtures::cube(0.02, {0.5, 0.5, 0.5}))));
    const double before = liveVolume(*model);
    auto tool = drill({10.0, 10.0, 20.0}, {0.0, 0.0, 1.0}, 1.0, 4.0);
    MeshBoolean op(model.get(), tool.get());
    ASSERT_TRUE(op.subtract()) << static_cast<int>(op.failure());
    EXPECT_EQ(countUnpairedEdges(*model), 0u);
    EXPECT_NEAR(before - liveVolume(*model), polygonArea(1.0) * 2.0, 1e-6);
    EXPECT_EQ(model->shells().size(), 2u);
}

TEST(MeshBoolean, holeThatMissesTheModelLeavesItUnchanged) {
    auto cube = buildMeshWithOctree(meshfixtures::cube(10.0));
    auto tool = drill({20.0, 20.0, 5.0}, {0.0, 0.0, 1.0}, 1.0, 20.0);
    const Fingerprint before = fingerprintOf(*cube);
    MeshBoolean op(cube.get(), tool.get());
    EXPECT_TRUE(op.subtract());
    EXPECT_TRUE(fingerprintOf(*cube) == before);
    EXPECT_EQ(op.cutTargetTriangles(), 0u);
}

TEST(MeshBoolean, everyFailureLeavesBothMeshesAsTheyWere) {
    struct Case {
        const char* name;
        MeshBoolean::Failure expected;
    } cases[] = {
        {"tool without octree", MeshBoolean::Failure::NoOctree},
        {"crossings that do not settle", MeshBoolean::Failure::UnresolvedCrossing},
        {"tool open inside the model", MeshBoolean::Failure::OpenResult},
    };
    for (const Case& c : cases) {
        auto cube = buildMeshWithOctree(meshfixtures::cube(10.0));
        std::unique_ptr<StlObject> tool;
        MeshBoolean::Failure expected = c.expected;
        if (expected == MeshBoolean::Failure::NoOctree) {
            tool = meshfixtures::buildMesh(meshfixtures::cylinder(1.0, {-5, 5, 5}, {15, 5, 5}, 32));
        } else if (expected == MeshBoolean::Failure::OpenResult) {
            // A tube without its far cap that ends inside the cube: the wall kept
            // inside the model would end in an open rim.
            meshfixtures::TriangleSoup soup = meshfixtures::cylinder(1.0, {-5, 5, 5}, {5, 5, 5}, 32);
            meshfixtures::TriangleSoup open;
            for (std::size_t i = 0; i < soup.size(); ++i)
                if (i % 4 != 3)
                    open.push_back(soup[i]);
            tool = buildMeshWithOctree(open);
        } else {
            tool = drill({5.0, 5.0, 5.0}, {1.0, 0.0, 0.0}, 1.0, 20.0);
        }
        const Fingerprint cubeBefore = fingerprintOf(*cube);
        const Fingerprint toolBefore = fingerprintOf(*tool);
        MeshBoolean op(cube.get(), tool.get());
        if (expected == MeshBoolean::Failure::UnresolvedCrossing)
            op.setCrossingStepBudget(1);
        EXPECT_FALSE(op.subtract()) << c.name;
        EXPECT_EQ(op.failure(), expected) << c.name;
        EXPECT_TRUE(fingerprintOf(*cube) == cubeBefore) << c.name;
        EXPECT_TRUE(fingerprintOf(*tool) == toolBefore) << c.name;
        EXPECT_EQ(countUnpairedEdges(*cube), 0u) << c.name;
        // The restored model is fully usable: the same drilling now succeeds.
        {
            auto again = drill({5.0, 5.0, 5.0}, {1.0, 0.0, 0.0}, 1.0, 20.0);
            EXPECT_TRUE(MeshBoolean(cube.get(), again.get()).subtract()) << c.name;
            EXPECT_EQ(countUnpairedEdges(*cube), 0u) << c.name;
        }
    }
}
