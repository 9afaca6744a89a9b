// Drain-hole tools that coincide with each other or touch the model: holes
// placed twice, caps flush with the model's faces, tools that only touch. The
// drilled model is compared with CGAL's exact difference; where the tool only
// touches, the model stays as it was and the call succeeds.

#include "MeshFixtures.h"
#include "SurfaceMeshOracle.h"

#include "topolib/MeshBoolean.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <CGAL/Exact_predicates_exact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/corefinement.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace PMP = CGAL::Polygon_mesh_processing;
using meshfixtures::buildMeshWithOctree;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;
using ExactKernel = CGAL::Exact_predicates_exact_constructions_kernel;
using ExactMesh = CGAL::Surface_mesh<ExactKernel::Point_3>;

// The soup on shared corners (exactly equal points joined), in float as a file
// holds it: xyz and indices for appendMesh.
void indexed(const TriangleSoup& soup, std::vector<double>& xyz, std::vector<int>& indices) {
    std::map<std::array<float, 3>, int> ids;
    xyz.clear();
    indices.clear();
    for (const meshfixtures::Facet& f : soup)
        for (const Point& p : f.v) {
            const std::array<float, 3> key = {float(p[0]), float(p[1]), float(p[2])};
            auto it = ids.find(key);
            if (it == ids.end()) {
                it = ids.emplace(key, static_cast<int>(xyz.size() / 3)).first;
                xyz.insert(xyz.end(), {key[0], key[1], key[2]});
            }
            indices.push_back(it->second);
        }
}

// The tools as the hollowing merges its drain holes: one shell each, in one mesh.
std::unique_ptr<topolib::StlObject> toolOf(const std::vector<TriangleSoup>& tools) {
    auto tool = std::make_unique<topolib::StlObject>();
    std::vector<double> xyz;
    std::vector<int> indices;
    for (const TriangleSoup& t : tools) {
        indexed(t, xyz, indices);
        tool->appendMesh(static_cast<int>(xyz.size() / 3), static_cast<uint32_t>(indices.size() / 3), xyz.data(),
                         indices.data());
    }
    tool->computeBoundingBox();
    tool->setBoundingBox(tool->bboxMin(), tool->bboxMax());
    tool->buildEdges(false, 0, 25);
    tool->rebuildOctree();
    return tool;
}

ExactMesh exactMesh(const TriangleSoup& soup) {
    ExactMesh out;
    std::vector<double> xyz;
    std::vector<int> indices;
    indexed(soup, xyz, indices);
    std::vector<ExactMesh::Vertex_index> ids;
    for (std::size_t i = 0; i < xyz.size(); i += 3)
        ids.push_back(out.add_vertex(ExactKernel::Point_3(xyz[i], xyz[i + 1], xyz[i + 2])));
    for (std::size_t i = 0; i < indices.size(); i += 3)
        out.add_face(ids[indices[i]], ids[indices[i + 1]], ids[indices[i + 2]]);
    return out;
}

// CGAL's exact volume of the model minus every tool.
double cgalDifferenceVolume(const TriangleSoup& model, const std::vector<TriangleSoup>& tools) {
    ExactMesh result = exactMesh(model);
    for (const TriangleSoup& t : tools) {
        ExactMesh tool = exactMesh(t);
        ExactMesh difference;
        EXPECT_TRUE(PMP::corefine_and_compute_difference(result, tool, difference));
        result = difference;
    }
    return CGAL::to_double(PMP::volume(result));
}

// Drills and checks: success, closed, and CGAL's volume; the shell count of
// the result when given.
void expectDrilled(const TriangleSoup& model, const std::vector<TriangleSoup>& tools, const std::string& label,
                   std::size_t shells = 0) {
    auto a = buildMeshWithOctree(model);
    auto b = toolOf(tools);
    const double expected = cgalDifferenceVolume(model, tools);
    topolib::MeshBoolean op(a.get(), b.get());
    ASSERT_TRUE(op.subtract()) << label << " failure " << static_cast<int>(op.failure());
    EXPECT_EQ(topolib::countUnpairedEdges(*a), 0u) << label;
    EXPECT_NEAR(topolib::liveVolume(*a), expected, 1e-5 * std::fabs(expected)) << label;
    int rejected = 0;
    oracle::Mesh result = oracle::toSurfaceMesh(*a, &rejected);
    EXPECT_EQ(rejected, 0) << label;
    EXPECT_TRUE(CGAL::is_closed(result)) << label;
    if (shells) {
        EXPECT_EQ(a->shells().size(), shells) << label;
    }
}

TriangleSoup cylinderAlong(const Point& p0, const Point& p1, double r) {
    return meshfixtures::cylinder(r, p0, p1, 32);
}

} // namespace

TEST(DrainHoleContactOracle, holesPlacedTwiceAtOneSpotAreCutOnce) {
    const TriangleSoup cube = meshfixtures::cube(10.0);
    const TriangleSoup hole = cylinderAlong({5, 5, -5}, {5, 5, 15}, 2.0);
    const TriangleSoup reversed = cylinderAlong({5, 5, 15}, {5, 5, -5}, 2.0);
    expectDrilled(cube, {hole, hole}, "the same hole twice", 1);
    expectDrilled(cube, {hole, reversed}, "the same hole drawn the other way", 1);
    expectDrilled(cube, {hole, hole, cylinderAlong({-5, 1.5, 3}, {15, 1.5, 3}, 1.0), hole}, "three times among others", 1);
}

TEST(DrainHoleContactOracle, flushCapsAndTouchingToolsGiveHolesOrLeaveTheModel) {
    const TriangleSoup cube = meshfixtures::cube(10.0);
    // Caps flush with both faces: a through hole; a cap flush with the top: a pocket.
    expectDrilled(cube, {cylinderAlong({5, 5, 0}, {5, 5, 10}, 2.0)}, "caps flush with both faces", 1);
    expectDrilled(cube, {cylinderAlong({5, 5, 5}, {5, 5, 10}, 2.0)}, "pocket flush with the top", 1);
    expectDrilled(cube, {cylinderAlong({4, 0, 5}, {4, 10, 5}, 1.5)}, "along y, caps flush", 1);

    // Tools that only touch: the model stays, and the call succeeds.
    const struct {
        const char* label;
        TriangleSoup tool;
    } touching[] = {
        {"resting on the top face", cylinderAlong({5, 5, 10}, {5, 5, 15}, 2.0)},
        {"tangent to a face from outside", cylinderAlong({-5, -2, 5}, {15, -2, 5}, 2.0)},
    };
    for (const auto& c : touching) {
        auto a = buildMeshWithOctree(cube);
        auto b = toolOf({c.tool});
        topolib::MeshBoolean op(a.get(), b.get());
        EXPECT_TRUE(op.subtract()) << c.label << " failure " << static_cast<int>(op.failure());
        EXPECT_NEAR(topolib::liveVolume(*a), 1000.0, 1e-9) << c.label;
        EXPECT_EQ(topolib::countUnpairedEdges(*a), 0u) << c.label;
    }
}

TEST(DrainHoleContactOracle, randomFlushAndRepeatedHolesMatchTheExactDifference) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> inner(2.5, 7.5), radius(0.5, 1.5);
    std::uniform_int_distribution<int> axisOf(0, 2), kind(0, 2);
    constexpr int kCases = 40;
    int refused = 0;
    for (int i = 0; i < kCases; ++i) {
        std::vector<TriangleSoup> tools;
        std::string label = "case " + std::to_string(i) + ":";
        const int count = 1 + i % 3;
        for (int k = 0; k < count; ++k) {
            const int axis = axisOf(rng);
            Point p0 = {inner(rng), inner(rng), inner(rng)}, p1 = p0;
            const int how = kind(rng);
            // 0: both caps flush, 1: a pocket flush with the far face, 2: through.
            p0[static_cast<std::size_t>(axis)] = how == 2 ? -3.0 : (how == 1 ? 4.0 : 0.0);
            p1[static_cast<std::size_t>(axis)] = how == 2 ? 13.0 : 10.0;
            const double r = radius(rng);
            tools.push_back(cylinderAlong(p0, p1, r));
            label += " (" + std::to_string(p0[0]) + " " + std::to_string(p0[1]) + " " + std::to_string(p0[2]) + ")-(" +
                     std::to_string(p1[0]) + " " + std::to_string(p1[1]) + " " + std::to_string(p1[2]) + ") r " +
                     std::to_string(r);
            if (k == 0 && i % 4 == 0)
                tools.push_back(tools.back()); // the same hole again
        }
        // Never a wrong success: either the exact difference, or a failure that
        // leaves the model as it was.
        auto a = buildMeshWithOctree(meshfixtures::cube(10.0));
        auto b = toolOf(tools);
        topolib::MeshBoolean op(a.get(), b.get());
        if (!op.subtract()) {
            ++refused;
            EXPECT_EQ(a->triangleCount(), 12u) << label;
            EXPECT_NEAR(topolib::liveVolume(*a), 1000.0, 1e-9) << label;
            continue;
        }
        const double expected = cgalDifferenceVolume(meshfixtures::cube(10.0), tools);
        EXPECT_EQ(topolib::countUnpairedEdges(*a), 0u) << label;
        EXPECT_NEAR(topolib::liveVolume(*a), expected, 1e-5 * std::fabs(expected)) << label;
        int rejected = 0;
        EXPECT_TRUE(CGAL::is_closed(oracle::toSurfaceMesh(*a, &rejected))) << label;
        EXPECT_EQ(rejected, 0) << label;
    }
    // Pockets whose caps cross each other's walls are still refused now and then.
    EXPECT_LE(refused, 4);
    std::printf("refused %d of %d\n", refused, kCases);
}
