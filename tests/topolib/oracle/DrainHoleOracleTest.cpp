// The drain-hole boolean against CGAL's corefinement: the drilled model is closed,
// free of self-intersections, and encloses the volume of CGAL's difference of the
// same two meshes.

#include "MeshFixtures.h"
#include "SurfaceMeshOracle.h"

#include "topolib/MeshBoolean.h"
#include "topolib/StlObject.h"

#include <CGAL/Polygon_mesh_processing/corefinement.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <CGAL/Polygon_mesh_processing/self_intersections.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace PMP = CGAL::Polygon_mesh_processing;
using meshfixtures::buildMeshWithOctree;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;
using oracle::Mesh;
using oracle::toSurfaceMesh;

TriangleSoup drill(const Point& c, const Point& d, double r, double half) {
    const double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return meshfixtures::cylinder(r, {c[0] - d[0] / l * half, c[1] - d[1] / l * half, c[2] - d[2] / l * half},
                                  {c[0] + d[0] / l * half, c[1] + d[1] / l * half, c[2] + d[2] / l * half},
                                  32);
}

// Drills the merged tools out of `model` and compares with CGAL's difference of
// the same (float-rounded) meshes, the tools taken away one after the other.
void expectMatchesCgal(const TriangleSoup& model, const std::vector<TriangleSoup>& tools,
                       const std::string& label) {
    auto a = buildMeshWithOctree(model);
    TriangleSoup merged;
    for (const TriangleSoup& t : tools)
        merged = meshfixtures::concatenated(merged, t);
    auto b = buildMeshWithOctree(merged);
    int rejected = 0;
    Mesh expected = toSurfaceMesh(*a, &rejected);
    for (const TriangleSoup& t : tools) {
        Mesh ct = toSurfaceMesh(*buildMeshWithOctree(t), &rejected);
        Mesh difference;
        ASSERT_TRUE(PMP::corefine_and_compute_difference(expected, ct, difference)) << label;
        expected = difference;
    }
    ASSERT_EQ(rejected, 0) << label;
    const double expectedVolume = CGAL::to_double(PMP::volume(expected));

    topolib::MeshBoolean op(a.get(), b.get());
    ASSERT_TRUE(op.subtract()) << label << " failure " << static_cast<int>(op.failure());
    EXPECT_EQ(topolib::countUnpairedEdges(*a), 0u) << label;
    Mesh result = toSurfaceMesh(*a, &rejected);
    EXPECT_EQ(rejected, 0) << label;
    EXPECT_TRUE(CGAL::is_closed(result)) << label;
    EXPECT_FALSE(PMP::does_self_intersect(result)) << label;
    const double volume = CGAL::to_double(PMP::volume(result));
    EXPECT_NEAR(volume, expectedVolume, 1e-5 * std::fabs(expectedVolume)) << label;
    EXPECT_NEAR(topolib::liveVolume(*a), expectedVolume, 1e-5 * std::fabs(expectedVolume)) << label;
}

} // namespace

TEST(DrainHoleOracle, cubeDrilledAlongXMatchesCorefinement) {
    expectMatchesCgal(meshfixtures::cube(10.0), {drill({5, 5, 5}, {1, 0, 0}, 1.0, 20.0)}, "x axis");
}

TEST(DrainHoleOracle, cubeDrilledAlongRandomAxesMatchesCorefinement) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> inner(3.0, 7.0);
    for (int i = 0; i < 200; ++i) {
        Point d;
        do
            d = {unit(rng), unit(rng), unit(rng)};
        while (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] < 0.05);
        const Point c = {inner(rng), inner(rng), inner(rng)};
        expectMatchesCgal(meshfixtures::cube(10.0), {drill(c, d, 1.0, 30.0)}, "axis " + std::to_string(i));
        if (HasFatalFailure())
            return;
    }
}

TEST(DrainHoleOracle, icosphereDrilledByFourCylindersMatchesCorefinement) {
    // Four parallel holes, once along z and once along a tilted axis.
    for (const Point& d : {Point{0, 0, 1}, Point{0.3, 0.2, 1.0}}) {
        TriangleSoup tool;
        for (const Point& c :
             {Point{2.2, 2.2, 0}, Point{-2.2, 2.2, 0}, Point{2.2, -2.2, 0}, Point{-2.2, -2.2, 0}})
            tool = meshfixtures::concatenated(tool, drill(c, d, 0.8, 20.0));
        expectMatchesCgal(meshfixtures::icosphere(5.0, 4), {tool}, "direction " + std::to_string(d[0]));
    }
}

TEST(DrainHoleOracle, crossingHolesAreCutOneAfterTheOther) {
    // Merged into one tool, each hole's wall would be kept where it runs inside the
    // other hole; three holes through the middle and two crossing off-centre.
    const std::vector<TriangleSoup> through{drill({5, 5, 5}, {1, 0, 0}, 1.0, 20.0),
                                            drill({5, 5, 5}, {0, 1, 0}, 1.0, 20.0),
                                            drill({5, 5, 5.3}, {0.2, 0.3, 1}, 0.8, 20.0)};
    expectMatchesCgal(meshfixtures::cube(10.0), through, "three through the middle");
    expectMatchesCgal(
        meshfixtures::icosphere(5.0, 3),
        {drill({1, 0.5, 0}, {1, 0.1, 0.2}, 1.2, 20.0), drill({1.5, 0, 0.5}, {-0.3, 1, 0.4}, 0.9, 20.0)},
        "crossing off-centre");
}
