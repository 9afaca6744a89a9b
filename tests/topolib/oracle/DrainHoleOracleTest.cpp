// The drain-hole boolean against CGAL's corefinement: the drilled model is closed,
// free of self-intersections, and encloses the volume of CGAL's difference of the
// same two meshes.

#include "MeshFixtures.h"

#include "topolib/MeshBoolean.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/corefinement.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <CGAL/Polygon_mesh_processing/self_intersections.h>
#include <CGAL/Surface_mesh.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace PMP = CGAL::Polygon_mesh_processing;
using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point3 = Kernel::Point_3;
using Mesh = CGAL::Surface_mesh<Point3>;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;

// The live triangles on the same vertex positions; *rejected counts the faces
// that a valid surface could not take (non-manifold or flipped neighbours).
Mesh toSurfaceMesh(const topolib::StlObject& mesh, int* rejected) {
    Mesh out;
    std::vector<Mesh::Vertex_index> ids;
    ids.reserve(mesh.vertices().size());
    for (const topolib::StlVertex* v : mesh.vertices())
        ids.push_back(out.add_vertex(Point3(v->x(), v->y(), v->z())));
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted())
            continue;
        const auto f = out.add_face(ids[static_cast<std::size_t>(t->vertices[0]->index)],
                                    ids[static_cast<std::size_t>(t->vertices[1]->index)],
                                    ids[static_cast<std::size_t>(t->vertices[2]->index)]);
        if (f == Mesh::null_face())
            ++*rejected;
    }
    return out;
}

std::unique_ptr<topolib::StlObject> meshWithOctree(const TriangleSoup& soup) {
    auto m = meshfixtures::buildMesh(soup);
    m->rebuildOctree();
    return m;
}

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
    auto a = meshWithOctree(model);
    TriangleSoup merged;
    for (const TriangleSoup& t : tools)
        merged = meshfixtures::concatenated(merged, t);
    auto b = meshWithOctree(merged);
    int rejected = 0;
    Mesh expected = toSurfaceMesh(*a, &rejected);
    for (const TriangleSoup& t : tools) {
        Mesh ct = toSurfaceMesh(*meshWithOctree(t), &rejected);
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
