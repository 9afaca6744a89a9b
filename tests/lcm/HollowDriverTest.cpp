// The hollowing driver on whole meshes: the result of hollowing a cube and a
// sphere against their exact hollow volumes, a drain hole's volume, walls that
// do not fit, re-hollowing (also of models that come with a cavity, and after
// the geometry entry's round trip), models wound inside out, walls as thick as
// asked on big triangles, gaps in the inner surface, and the hole frame and
// mesh.

#include "MeshFixtures.h"
#include "MeshStateHash.h"

#include "app/ProgressReport.h"
#include "fileIo/FileHandling.h"
#include "fileIo/VGeoFileHandling.h"
#include "src/Features/lcm/HollowContext.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

using lcm::DrainHoleSpec;
using lcm::HollowContext;
using lcm::HollowStatus;

std::size_t innerShellCount(const topolib::StlObject& m) {
    std::size_t n = 0;
    for (const topolib::StlShell* s : m.shells())
        n += s->spare != 0 ? 1 : 0;
    return n;
}

// Live triangles of the mesh wound consistently: every directed side once and
// its reverse once.
bool closedAndOriented(const topolib::StlObject& m) {
    std::map<std::pair<const void*, const void*>, int> sides;
    for (const topolib::StlTriangle* t : m.triangles()) {
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k)
            ++sides[{t->vertices[k], t->vertices[(k + 1) % 3]}];
    }
    for (const auto& [e, n] : sides) {
        const auto back = sides.find({e.second, e.first});
        if (n != 1 || back == sides.end() || back->second != 1)
            return false;
    }
    return true;
}

// Pieces of the live triangles joined across shared sides (the mesh's own
// shells also split along drain-hole cut lines, which are not seams).
std::size_t connectedPieces(const topolib::StlObject& m) {
    std::vector<std::size_t> parent(m.triangleCount());
    for (std::size_t k = 0; k < parent.size(); ++k)
        parent[k] = k;
    auto find = [&](std::size_t x) {
        while (parent[x] != x)
            x = parent[x] = parent[parent[x]];
        return x;
    };
    std::map<std::pair<const void*, const void*>, std::size_t> firstOfSide;
    std::size_t live = 0;
    for (const topolib::StlTriangle* t : m.triangles()) {
        if (t->isDeleted())
            continue;
        ++live;
        for (int k = 0; k < 3; ++k) {
            const void* a = t->vertices[k];
            const void* b = t->vertices[(k + 1) % 3];
            const auto key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
            const auto [it, fresh] = firstOfSide.emplace(key, static_cast<std::size_t>(t->id));
            if (!fresh)
                parent[find(it->second)] = find(static_cast<std::size_t>(t->id));
        }
    }
    std::size_t roots = 0;
    for (const topolib::StlTriangle* t : m.triangles())
        roots += !t->isDeleted() && find(static_cast<std::size_t>(t->id)) == static_cast<std::size_t>(t->id)
                     ? 1
                     : 0;
    return live ? roots : 0;
}

TEST(HollowDriver, cubeHollowsToItsExactInnerCubeAndADrainHoleTakesItsVolume) {
    auto cube = meshfixtures::buildMeshWithOctree(meshfixtures::cube(20.0));
    HollowContext context;
    HollowStatus status;
    auto hollow = lcm::hollowedCopy(context, *cube, 2.0, 100, {}, &status);
    ASSERT_EQ(status, HollowStatus::Ok);
    ASSERT_TRUE(hollow);
    // Centre Z dexel of the eroded stock: [2, 18] within half a cell.
    const lcm::ZMapStock& stock = *context.stock();
    const double c = stock.cellSize();
    const auto& z = stock
                        .element(2, static_cast<uint32_t>((10.0 - stock.minCoord()[0]) / c),
                                 static_cast<uint32_t>((10.0 - stock.minCoord()[1]) / c))
                        .segments;
    ASSERT_EQ(z.size(), 1u);
    EXPECT_NEAR(z[0].bottom, 2.0, c / 2);
    EXPECT_NEAR(z[0].top, 18.0, c / 2);
    EXPECT_EQ(innerShellCount(*hollow), 1u);
    EXPECT_EQ(connectedPieces(*hollow), 2u);
    EXPECT_EQ(topolib::countUnpairedEdges(*hollow), 0u);
    EXPECT_TRUE(closedAndOriented(*hollow));
    const double hollowVolume = topolib::liveVolume(*hollow);
    EXPECT_NEAR(hollowVolume, 8000.0 - 4096.0, 0.03 * (8000.0 - 4096.0));
    // The inner shell faces inward: its own volume is negative.
    EXPECT_NEAR(hollowVolume - 8000.0, -4096.0, 0.03 * 4096.0);
    // The source is untouched.
    EXPECT_EQ(cube->triangleCount(), 12u);
    EXPECT_NEAR(topolib::liveVolume(*cube), 8000.0, 1e-6);

    // A drain hole of diameter 2 through the top.
    HollowContext drilled;
    const DrainHoleSpec hole{{10.0, 10.0, 20.0}, {0.0, 0.0, -1.0}, 2.0, 0.0};
    auto withHole = lcm::hollowedCopy(drilled, *cube, 2.0, 100, {hole}, &status);
    ASSERT_EQ(status, HollowStatus::Ok);
    ASSERT_TRUE(withHole);
    EXPECT_TRUE(drilled.warnings().empty());
    EXPECT_EQ(connectedPieces(*withHole), 1u);
    EXPECT_EQ(topolib::countUnpairedEdges(*withHole), 0u);
    EXPECT_TRUE(closedAndOriented(*withHole));
    const double drop = hollowVolume - topolib::liveVolume(*withHole);
    // The wall between the top face and the inner surface (which lies within a
    // cell of z = 18) is what the hole removes.
    const double expected = M_PI * 1.0 * 1.0 * 2.0;
    EXPECT_NEAR(drop, expected, 0.1 * expected);
}

// A drain-hole cut that fails leaves the model hollow without holes. Where the
// model is a copy of a mesh at hand, it is made again from that mesh instead
// of coming back from a copy taken before the cut: the result must be the
// same mesh to the last record, edge, shell and octree cell, on a model the
// cut scales (the cube) and one it does not (the sphere).
TEST(HollowDriver, failedCutMakesTheModelAgainAsTheCopyBeforeTheCutWouldHave) {
    const std::unique_ptr<topolib::StlObject> sources[] = {
        meshfixtures::buildMeshWithOctree(meshfixtures::cube(20.0)),
        meshfixtures::buildMeshWithOctree(meshfixtures::icosphere(30.0, 5)),
    };
    const DrainHoleSpec holes[] = {{{10.0, 10.0, 20.0}, {0.0, 0.0, -1.0}, 2.0, 0.0},
                                   {{0.0, 0.0, 30.0}, {0.0, 0.0, -1.0}, 3.0, 0.0}};
    for (int c = 0; c < 2; ++c) {
        topolib::StlObject& source = *sources[c];
        // Made again from the source (as the hollowing panel and hollowedCopy do).
        HollowContext remade;
        remade.setCutStepBudget(1);
        HollowStatus status = HollowStatus::InternalError;
        auto again = lcm::hollowedCopy(remade, source, 2.0, 100, {holes[c]}, &status);
        ASSERT_EQ(status, HollowStatus::Ok) << c;
        ASSERT_TRUE(again) << c;
        // Brought back from the cut's own copy.
        HollowContext kept;
        kept.setCutStepBudget(1);
        kept.setModel(&source);
        ASSERT_EQ(kept.createPreview(2.0, 100), HollowStatus::Ok) << c;
        kept.setPendingHole(holes[c].position, holes[c].direction, holes[c].size / 2.0, 2.0, 0.0);
        kept.commitPendingHole();
        auto back = lcm::copyMeshForHollowing(source, kept.innerSurfaceRoom());
        kept.setModel(back.get());
        ASSERT_EQ(kept.applyHollow(), HollowStatus::Ok) << c;

        for (const HollowContext* context : {&remade, &kept}) {
            ASSERT_EQ(context->warnings().size(), 2u) << c;
            EXPECT_EQ(context->warnings()[0], "The drain holes could not be cut; the object keeps its closed wall.");
            EXPECT_EQ(context->warnings()[1].rfind("1 cavity has no drain hole and traps resin", 0), 0u) << c;
        }
        EXPECT_EQ(remade.innerTriangleCount(), kept.innerTriangleCount()) << c;
        EXPECT_EQ(meshstate::stateHash(*again), meshstate::stateHash(*back)) << c;
        EXPECT_EQ(meshstate::octreeHash(*again), meshstate::octreeHash(*back)) << c;
        EXPECT_EQ(topolib::liveVolume(*again), topolib::liveVolume(*back)) << c;
        EXPECT_EQ(innerShellCount(*again), 1u) << c;
        EXPECT_TRUE(closedAndOriented(*again)) << c;
    }
}

TEST(HollowDriver, sphereHollowsToItsExactInnerSphere) {
    auto sphere = meshfixtures::buildMeshWithOctree(meshfixtures::icosphere(20.0, 5));
    HollowContext context;
    context.setModel(sphere.get());
    ASSERT_EQ(context.createPreview(2.0, 100), HollowStatus::Ok);
    const lcm::ZMapSurface& inner = *context.previewSurface();
    const double c = context.stock()->cellSize();
    double volume = 0.0;
    std::map<std::pair<uint32_t, uint32_t>, int> sides;
    for (const auto& t : inner.triangles) {
        volume += inner.points[t[0]].dot(inner.points[t[1]].cross(inner.points[t[2]])) / 6.0;
        for (int k = 0; k < 3; ++k)
            ++sides[{t[static_cast<std::size_t>(k)], t[static_cast<std::size_t>((k + 1) % 3)]}];
    }
    for (const auto& [e, n] : sides) {
        ASSERT_EQ(n, 1);
        ASSERT_EQ(sides.count({e.second, e.first}), 1u);
    }
    const double exact = 4.0 / 3.0 * M_PI * 18.0 * 18.0 * 18.0;
    EXPECT_LT(volume, 0.0); // inward
    EXPECT_NEAR(-volume, exact, 0.02 * exact);
    for (const auto& p : inner.points)
        ASSERT_NEAR(std::sqrt(p.dot(p)), 18.0, c);

    // A copy with room for the inner surface: joining it moves none of the
    // copy's arrays.
    auto copy = lcm::copyMeshForHollowing(*sphere, context.innerSurfaceRoom());
    const std::size_t firstVertex = copy->vertices().size();
    const std::size_t firstTriangle = copy->triangles().size();
    const void* arrays[3] = {copy->vertices().data(), copy->triangles().data(), copy->edges().data()};
    context.setModel(copy.get());
    ASSERT_EQ(context.applyHollow(), HollowStatus::Ok);
    EXPECT_EQ(context.innerTriangleCount(), inner.triangles.size());
    EXPECT_EQ(topolib::countUnpairedEdges(*copy), 0u);
    EXPECT_EQ(arrays[0], copy->vertices().data());
    EXPECT_EQ(arrays[1], copy->triangles().data());
    EXPECT_EQ(arrays[2], copy->edges().data());
    // The surface is the oracle: its point i is vertex firstVertex + i, listing
    // the surface's triangles at it in surface order, and each side of its
    // triangle j (firstTriangle + j) has the edge between the side's corners.
    std::vector<std::vector<std::size_t>> at(inner.points.size());
    for (std::size_t j = 0; j < inner.triangles.size(); ++j)
        for (uint32_t v : inner.triangles[j])
            at[v].push_back(firstTriangle + j);
    ASSERT_EQ(copy->vertices().size(), firstVertex + inner.points.size());
    for (std::size_t i = 0; i < inner.points.size(); ++i) {
        const topolib::StlVertex* v = copy->vertices()[firstVertex + i];
        ASSERT_EQ(v->triangleCount(), at[i].size()) << i;
        for (uint32_t k = 0; k < v->triangleCount(); ++k)
            ASSERT_EQ(static_cast<std::size_t>(v->triangle(k)->id), at[i][k]) << i;
    }
    for (std::size_t j = 0; j < inner.triangles.size(); ++j) {
        const topolib::StlTriangle* t = copy->triangles()[firstTriangle + j];
        for (int k = 0; k < 3; ++k) {
            const topolib::StlEdge* e = t->edges[k];
            ASSERT_NE(e, nullptr);
            const topolib::StlVertex* a = copy->vertices()[firstVertex + inner.triangles[j][k]];
            const topolib::StlVertex* b = copy->vertices()[firstVertex + inner.triangles[j][(k + 1) % 3]];
            ASSERT_TRUE((e->vertex(0) == a && e->vertex(1) == b) || (e->vertex(0) == b && e->vertex(1) == a)) << j;
        }
    }
}

// An inner surface with gaps (a triangle, a fan around a point, two apart)
// still joins as one closed inner shell: each gap is filled, and no edge mark
// or walk mark is left behind. The triangulation leaves no gap on its own, so
// the gaps are cut into the previewed surface by hand.
TEST(HollowDriver, gapsInTheInnerSurfaceAreFilledAndLeaveNoMarks) {
    auto sphere = meshfixtures::buildMeshWithOctree(meshfixtures::icosphere(20.0, 4));
    HollowContext context;
    context.setModel(sphere.get());
    ASSERT_EQ(context.createPreview(2.0, 60), HollowStatus::Ok);
    lcm::ZMapSurface& surface = const_cast<lcm::ZMapStock*>(context.stock())->surface();
    const lcm::ZMapSurface whole = surface;
    const std::size_t n = whole.triangles.size();
    const uint32_t p = whole.triangles[n / 2][0];
    // Whether surface triangle j is left out, gap by gap.
    const std::vector<std::function<bool(std::size_t)>> gaps = {
        [](std::size_t j) { return j == 0; },
        [&](std::size_t j) {
            const auto& t = whole.triangles[j];
            return t[0] == p || t[1] == p || t[2] == p;
        },
        [&](std::size_t j) { return j == n / 4 || j == 3 * n / 4; },
    };
    const double cell = context.stock()->cellSize();
    double wholeVolume = 0.0;
    for (std::size_t g = 0; g <= gaps.size(); ++g) {
        surface.triangles.clear();
        for (std::size_t j = 0; j < n; ++j)
            if (g == 0 || !gaps[g - 1](j))
                surface.triangles.push_back(whole.triangles[j]);
        auto copy = lcm::copyMeshForHollowing(*sphere, context.innerSurfaceRoom());
        context.setModel(copy.get());
        ASSERT_EQ(context.applyHollow(), HollowStatus::Ok) << g;
        EXPECT_EQ(context.innerTriangleCount(), surface.triangles.size()) << g;
        EXPECT_EQ(topolib::countUnpairedEdges(*copy), 0u) << g;
        EXPECT_TRUE(closedAndOriented(*copy)) << g;
        EXPECT_EQ(innerShellCount(*copy), 1u) << g;
        EXPECT_TRUE(meshstate::linksSoundAndMarksClear(*copy)) << g;
        for (const topolib::StlEdge* e : copy->edges())
            ASSERT_EQ(e->marks(), 0u) << g;
        if (g == 0)
            wholeVolume = topolib::liveVolume(*copy);
        else
            EXPECT_NEAR(topolib::liveVolume(*copy), wholeVolume, 10 * cell * cell * cell) << g;
    }
}

TEST(HollowDriver, measuresOnWorkersAreThePlainLoopsFigures) {
    // Enough triangles and edges for several chunks of work, some deleted.
    auto sphere = meshfixtures::buildMesh(meshfixtures::irregularIcosphere(20.0, 7));
    for (std::size_t k = 0; k < sphere->triangles().size(); k += 997)
        sphere->triangles()[k]->setDeleted(true);
    EXPECT_EQ(lcm::averageEdgeLengthOnThreads(*sphere, 5), sphere->averageEdgeLength());
    sphere->computeAreaAndVolume();
    const double area = sphere->area(), volume = sphere->volume();
    sphere->setArea(0.0);
    sphere->setVolume(0.0);
    lcm::computeAreaAndVolumeOnThreads(*sphere, 5);
    EXPECT_EQ(sphere->area(), area);
    EXPECT_EQ(sphere->volume(), volume);
    ASSERT_EQ(sphere->shells().size(), 1u);
    const std::vector<lcm::ShellMeasure> many = lcm::measureShells(*sphere, 5);
    const std::vector<lcm::ShellMeasure> one = lcm::measureShells(*sphere, 1);
    topolib::StlShell& shell = *sphere->shells().front();
    shell.recomputeBox();
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(many[0].lo[k], shell.boxMin[k]);
        EXPECT_EQ(many[0].hi[k], shell.boxMax[k]);
        EXPECT_EQ(many[0].probe[k], one[0].probe[k]);
    }
    EXPECT_EQ(many[0].volume, one[0].volume);
    EXPECT_EQ(many[0].area, one[0].area);
}

TEST(HollowDriver, wallThatDoesNotFitGivesNoInnerShellAndAMessage) {
    auto plate = meshfixtures::buildMeshWithOctree(meshfixtures::box({30.0, 30.0, 3.0}));
    HollowContext context;
    HollowStatus status;
    auto result = lcm::hollowedCopy(context, *plate, 2.0, 100, {}, &status);
    EXPECT_EQ(status, HollowStatus::WallDoesNotFit);
    // A copy no different from the source is no result.
    EXPECT_FALSE(result);
    EXPECT_FALSE(context.message().empty());
    EXPECT_EQ(innerShellCount(*plate), 0u);
    EXPECT_EQ(plate->triangleCount(), 12u);
    EXPECT_EQ(context.model(), plate.get());
    EXPECT_TRUE(context.previewSurface()->triangles.empty());

    // Degenerate meshes and cells give an empty stock, not a division by zero.
    topolib::StlObject empty;
    context.setModel(&empty);
    EXPECT_EQ(context.createPreview(2.0, 50), HollowStatus::DegenerateMesh);
    lcm::ZMapStock stock;
    stock.setCellSize(0.0);
    const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
    stock.setBox(lo, hi);
    EXPECT_FALSE(stock.setUp());
    stock.setCellSize(std::nan(""));
    EXPECT_FALSE(stock.setUp());
    EXPECT_TRUE(stock.isEmpty());

    // A file that holds every facet twice (as some exporters write merged
    // bodies) bounds no material: the wall fits, but the message says that
    // the surface is the trouble, not the wall.
    meshfixtures::TriangleSoup twice = meshfixtures::box({30.0, 30.0, 30.0});
    const std::size_t once = twice.size();
    for (std::size_t i = 0; i < once; ++i)
        twice.push_back(twice[i]);
    auto doubled = meshfixtures::buildMeshWithOctree(twice);
    context.setModel(doubled.get());
    EXPECT_EQ(context.createPreview(2.0, 50), HollowStatus::DegenerateMesh);
    EXPECT_EQ(context.message(), "This object has no surface that can be hollowed.");
    EXPECT_TRUE(context.previewSurface()->triangles.empty());
}

// Hears the stage, the shares done and the end; asks to stop once a share
// reaches stopAt.
struct RecordingMonitor : ProgressMonitor {
    explicit RecordingMonitor(double stopAt) : stopAt(stopAt) {}
    void start(ProgressText stage, const std::wstring&) const override { stages.push_back(stage); }
    void report(double fraction) const override { fractions.push_back(fraction); }
    bool stopRequested() const override { return !fractions.empty() && fractions.back() >= stopAt; }
    void end() const override { ++ends; }
    double stopAt;
    mutable std::vector<ProgressText> stages;
    mutable std::vector<double> fractions;
    mutable int ends = 0;
};

TEST(HollowDriver, previewReportsItsSharesAndStopsWhenAsked) {
    auto sphere = meshfixtures::buildMeshWithOctree(meshfixtures::icosphere(20.0, 4));
    const struct {
        double stopAt;
        HollowStatus status;
    } cases[] = {{2.0, HollowStatus::Ok}, {0.01, HollowStatus::Stopped}, {0.05, HollowStatus::Stopped}};
    for (const auto& c : cases) {
        HollowContext context;
        context.setModel(sphere.get());
        const RecordingMonitor monitor(c.stopAt);
        EXPECT_EQ(context.createPreview(2.0, 60, monitor), c.status) << c.stopAt;
        EXPECT_EQ(monitor.stages, std::vector<ProgressText>{ProgressText::HollowPreview}) << c.stopAt;
        EXPECT_EQ(monitor.ends, 1) << c.stopAt;
        ASSERT_FALSE(monitor.fractions.empty());
        EXPECT_TRUE(std::is_sorted(monitor.fractions.begin(), monitor.fractions.end())) << c.stopAt;
        EXPECT_GE(monitor.fractions.front(), 0.0);
        EXPECT_LE(monitor.fractions.back(), 1.0);
        if (c.status == HollowStatus::Ok) {
            EXPECT_GE(monitor.fractions.size(), 10u); // the offset and meshing steps report too
            EXPECT_FALSE(context.previewSurface()->triangles.empty());
        } else {
            EXPECT_LT(monitor.fractions.back(), 0.09) << c.stopAt; // nothing after the stop
            EXPECT_TRUE(context.previewSurface()->triangles.empty()) << c.stopAt;
            EXPECT_TRUE(context.message().empty()) << c.stopAt;
        }
    }
}

TEST(HollowDriver, openMeshIsHollowedAsIfItsHolesWereCapped) {
    auto box = meshfixtures::buildMeshWithOctree(meshfixtures::openBox(20.0));
    HollowContext context;
    context.setModel(box.get());
    ASSERT_EQ(context.createPreview(2.0, 100), HollowStatus::Ok);
    const lcm::ZMapSurface& inner = *context.previewSurface();
    double volume = 0.0;
    for (const auto& t : inner.triangles)
        volume += inner.points[t[0]].dot(inner.points[t[1]].cross(inner.points[t[2]])) / 6.0;
    EXPECT_NEAR(-volume, 4096.0, 0.03 * 4096.0);
    // The rim's caps were temporary: the model keeps its open rim and no polygons.
    EXPECT_EQ(box->triangleCount(), 10u);
    for (const topolib::StlShell* shell : box->shells())
        EXPECT_TRUE(shell->rimPolygons.empty());
}

TEST(HollowDriver, rehollowingKeepsOneInnerShell) {
    auto cube = meshfixtures::buildMeshWithOctree(meshfixtures::cube(20.0));
    HollowContext first, second;
    HollowStatus status;
    auto once = lcm::hollowedCopy(first, *cube, 2.0, 80, {}, &status);
    ASSERT_TRUE(once);
    auto twice = lcm::hollowedCopy(second, *once, 3.0, 80, {}, &status);
    ASSERT_TRUE(twice);
    EXPECT_EQ(status, HollowStatus::Ok);
    EXPECT_EQ(innerShellCount(*twice), 1u);
    EXPECT_TRUE(meshstate::linksSoundAndMarksClear(*twice)); // the first inner shell went
    EXPECT_EQ(topolib::countUnpairedEdges(*twice), 0u);
    EXPECT_NEAR(topolib::liveVolume(*twice), 8000.0 - 14.0 * 14.0 * 14.0, 0.03 * (8000.0 - 2744.0));
    // The first result, the source of the second, is unchanged.
    EXPECT_EQ(innerShellCount(*once), 1u);
    EXPECT_NEAR(topolib::liveVolume(*once), topolib::liveVolume(*cube) - 4096.0, 0.03 * 4096.0);
}

// A model that already has a closed inward cavity (an STL of both shells, or
// the result of an earlier hollowing) hollows to one outer and one inner shell:
// the cavity gives way to the new inner shell. The inner shell keeps its mark
// through the geometry entry a project stores, and hollowing the reopened
// result again gives the same solid.
TEST(HollowDriver, cavityGivesWayToTheNewInnerShellAlsoAfterTheGeometryRoundTrip) {
    using meshfixtures::concatenated;
    using meshfixtures::flipped;
    const double sphereShell = 4.0 / 3.0 * M_PI * (20.0 * 20.0 * 20.0 - 18.0 * 18.0 * 18.0);
    const struct {
        const char* what;
        meshfixtures::TriangleSoup soup;
        double volume;
    } cases[] = {
        {"cube with a 16 mm cavity", concatenated(meshfixtures::cube(20.0), flipped(meshfixtures::cube(16.0, {2, 2, 2}))),
         8000.0 - 4096.0},
        {"sphere with a radius-10 cavity",
         concatenated(meshfixtures::icosphere(20.0, 5), flipped(meshfixtures::icosphere(10.0, 5))), sphereShell},
    };
    // One outer and one inner shell around the expected volume.
    auto hollowOf = [](topolib::StlObject& source, double volume) {
        HollowContext context;
        HollowStatus status;
        auto hollow = lcm::hollowedCopy(context, source, 2.0, 100, {}, &status);
        EXPECT_EQ(status, HollowStatus::Ok);
        if (hollow) {
            EXPECT_EQ(hollow->shells().size(), 2u);
            EXPECT_EQ(innerShellCount(*hollow), 1u);
            EXPECT_TRUE(closedAndOriented(*hollow));
            EXPECT_NEAR(topolib::liveVolume(*hollow), volume, 0.03 * volume);
        }
        return hollow;
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto source = meshfixtures::buildMeshWithOctree(c.soup);
        ASSERT_EQ(source->shells().size(), 2u);
        auto hollow = hollowOf(*source, c.volume);
        ASSERT_TRUE(hollow);

        const std::wstring path = dir.filePath("hollow.vsg").toStdWString();
        fileIo::VGeoFileHandling writer;
        writer.setTarget(hollow.get());
        ASSERT_EQ(writer.writeFile(path), fileIo::kSuccess);
        topolib::StlObject reopened;
        fileIo::VGeoFileHandling reader;
        reader.setTarget(&reopened);
        ASSERT_EQ(reader.readFile(path), fileIo::kSuccess);
        reopened.rebuildOctree();
        EXPECT_EQ(innerShellCount(reopened), 1u);
        EXPECT_TRUE(hollowOf(reopened, c.volume));
    }
}

// A closed model wound inside out hollows to the same solid as the upright
// one: the same positive volume, one closed and outward-wound result, the
// source untouched. The torus checks the stock too: a line through its tube
// meets the surface four times, which pairs wrongly when read the wrong way.
TEST(HollowDriver, insideOutModelHollowsLikeTheUprightOne) {
    const struct {
        const char* what;
        meshfixtures::TriangleSoup soup;
    } cases[] = {
        {"cube", meshfixtures::cube(20.0)},
        {"torus", meshfixtures::torus(20.0, 6.0, 48, 24)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto upright = meshfixtures::buildMeshWithOctree(c.soup);
        auto inverted = meshfixtures::buildMeshWithOctree(meshfixtures::flipped(c.soup));
        ASSERT_LT(topolib::liveVolume(*inverted), 0.0);
        HollowContext first, second;
        HollowStatus status;
        auto expected = lcm::hollowedCopy(first, *upright, 2.0, 60, {}, &status);
        ASSERT_EQ(status, HollowStatus::Ok);
        auto hollow = lcm::hollowedCopy(second, *inverted, 2.0, 60, {}, &status);
        ASSERT_EQ(status, HollowStatus::Ok);
        ASSERT_TRUE(expected && hollow);
        EXPECT_EQ(second.innerTriangleCount(), first.innerTriangleCount());
        EXPECT_GT(topolib::liveVolume(*hollow), 0.0);
        EXPECT_NEAR(topolib::liveVolume(*hollow), topolib::liveVolume(*expected),
                    1e-9 * topolib::liveVolume(*upright));
        EXPECT_EQ(innerShellCount(*hollow), 1u);
        EXPECT_TRUE(closedAndOriented(*hollow));
        EXPECT_LT(topolib::liveVolume(*inverted), 0.0);
    }
}

TEST(HollowDriver, cellSizeFollowsTheDensityTableWithinAQuarterOfTheWall) {
    const double ext[3] = {300, 300, 300};
    struct Row {
        std::size_t n;
        int density;
        double expected;
    } rows[] = {
        {500, 0, 10.0},       // coarse of the smallest class
        {5000, 0, 17.0},      // coarse of the next class
        {50000, 0, 30.0},     // fewer than 15 cells across: a tenth of the thinnest side
        {500, 100, 0.75},     // more than 400 cells: a 400th of the longest side
        {20000, 100, 5.0},    // fine cell below half an edge on a large mesh: half an edge
        {2000000, 100, 10.0}, // fine of the largest class
    };
    // A wall of 127 leaves every cell of the table below a quarter of it.
    for (const Row& r : rows) {
        const lcm::CellChoice c = lcm::chooseHollowCellSize(10.0, r.n, ext, 127.0, r.density);
        EXPECT_TRUE(c.wallFits);
        EXPECT_NEAR(c.cell, r.expected, 1e-9) << r.n << " " << r.density;
    }
    const double thin[3] = {100, 100, 5};
    EXPECT_NEAR(lcm::chooseHollowCellSize(10.0, 500, thin, 2.3, 0).cell, 0.5, 1e-9);
    // A thickness of a whole number of cells is moved off the grid.
    EXPECT_NEAR(lcm::chooseHollowCellSize(10.0, 500, ext, 3.75, 100).cell, 0.7501, 1e-12);
    EXPECT_FALSE(lcm::chooseHollowCellSize(10.0, 500, thin, 2.5, 50).wallFits);
    // Whatever the table gives, the cell is at most a quarter of the wall
    // (moved off the grid downwards): the big triangles of a 200 mm cube, and
    // a wall of exactly four table cells.
    const double cube200[3] = {200, 200, 200};
    EXPECT_NEAR(lcm::chooseHollowCellSize(227.6, 12, cube200, 2.0, 50).cell, 0.4999, 1e-12);
    EXPECT_NEAR(lcm::chooseHollowCellSize(10.0, 500, ext, 3.0, 100).cell, 0.7499, 1e-12);
    // But never below the longest side / 400: a 100 mm cube at a 0.2 mm wall
    // gets the cell and the wall of the finest grid (1 mm), at any density;
    // where the wall's need is not reached, the density still counts.
    const double cube100[3] = {100, 100, 100};
    for (int density : {0, 100}) {
        const lcm::CellChoice thin = lcm::chooseHollowCellSize(113.8, 12, cube100, 0.2, density);
        EXPECT_NEAR(thin.cell, 0.2499, 1e-12);
        EXPECT_DOUBLE_EQ(thin.wall, 1.0);
        EXPECT_DOUBLE_EQ(thin.thinnestWall, 1.0);
    }
    EXPECT_NEAR(lcm::chooseHollowCellSize(0.5, 80000, cube100, 3.0, 0).cell, 0.7499, 1e-12);
    EXPECT_NEAR(lcm::chooseHollowCellSize(0.5, 80000, cube100, 3.0, 100).cell, 0.25 + 0.0001, 1e-12);
}

// Walls come out as thick as asked however large the model's triangles: a
// 200 mm cube of 12 facets gets walls within 10 % of 2 mm on every side. A
// bar 1 m long cannot get a 2 mm wall on a grid of bounded size: it gets the
// thinnest wall the grid can make (10 mm, within 10 %), says so, and a drain
// hole placed for the wall asked passes the wall made.
TEST(HollowDriver, wallIsAsThickAsAskedOrTheThinnestTheGridCanMake) {
    struct Case {
        meshfixtures::Point size;
        double asked, made;
    } cases[] = {{{200.0, 200.0, 200.0}, 2.0, 2.0}, {{1000.0, 100.0, 100.0}, 2.0, 10.0}};
    for (const Case& k : cases) {
        auto cube = meshfixtures::buildMeshWithOctree(meshfixtures::box(k.size));
        HollowContext context;
        context.setModel(cube.get());
        ASSERT_EQ(context.createPreview(k.asked, 50), HollowStatus::Ok) << k.size[0];
        EXPECT_DOUBLE_EQ(context.wallMade(), k.made);
        EXPECT_DOUBLE_EQ(lcm::thinnestHollowWall(*cube), k.size[0] / 100.0);
        EXPECT_EQ(context.message().find("the thinnest wall it can make is 10.00 mm") != std::string::npos,
                  k.made > k.asked)
            << context.message();
        const lcm::ZMapSurface& inner = *context.previewSurface();
        ASSERT_FALSE(inner.points.empty());
        topolib::Vector3D lo(HUGE_VAL, HUGE_VAL, HUGE_VAL), hi(-HUGE_VAL, -HUGE_VAL, -HUGE_VAL);
        for (const topolib::Vector3D& p : inner.points)
            for (std::size_t a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], p[a]);
                hi[a] = std::max(hi[a], p[a]);
            }
        for (std::size_t a = 0; a < 3; ++a) {
            EXPECT_NEAR(lo[a], k.made, 0.1 * k.made) << a;
            EXPECT_NEAR(k.size[a] - hi[a], k.made, 0.1 * k.made) << a;
        }
        if (k.made == k.asked)
            continue;
        // A drain hole placed for the wall asked passes the wall made.
        const DrainHoleSpec hole{{k.size[0] / 2, k.size[1] / 2, k.size[2]}, {0.0, 0.0, -1.0}, 4.0, 0.0};
        HollowStatus status;
        auto drilled = lcm::hollowedCopy(context, *cube, k.asked, 50, {hole}, &status);
        ASSERT_TRUE(drilled);
        EXPECT_TRUE(context.sealedCavities().empty());
        EXPECT_EQ(connectedPieces(*drilled), 1u);
    }
}

TEST(HollowDriver, drainHoleIsAClosedConeThroughTheWall) {
    HollowContext context;
    const double p[3] = {1, 2, 3}, d[3] = {0, 0, -2};
    context.setPendingHole(p, d, 1.5, 2.0, 0.0);
    context.commitPendingHole();
    context.setPendingHole(p, d, 1.0, 2.0, -2.0);
    ASSERT_EQ(context.holes().size(), 1u);
    const lcm::DrainHole& h = *context.holes()[0];
    EXPECT_EQ(h.vertexCount(), 40u);
    EXPECT_EQ(h.triangleCount(), 76u);
    EXPECT_DOUBLE_EQ(h.startRadius, 1.5);
    EXPECT_DOUBLE_EQ(h.endRadius, 1.5);
    EXPECT_NEAR(h.start[2], 3.0 + 1.6, 1e-12);
    EXPECT_NEAR(h.direction[2], -(2.0 + 3.2), 1e-12);
    // Closed and outward: as a mesh it encloses the cylinder's volume.
    topolib::StlObject mesh;
    std::vector<int> idx(h.indices().begin(), h.indices().end());
    ASSERT_TRUE(mesh.appendMesh(40, 76, h.vertices().data(), idx.data()));
    mesh.buildEdges(false, 0, 25);
    EXPECT_EQ(topolib::countUnpairedEdges(mesh), 0u);
    const double prism = 10.0 * 1.5 * 1.5 * std::sin(2.0 * M_PI / 20.0) * 5.2;
    EXPECT_NEAR(topolib::liveVolume(mesh), prism, 1e-6);
    // A steep negative taper is clamped at the start.
    EXPECT_DOUBLE_EQ(context.pendingHole()->startRadius, 1.0 + 2.0 * 1.6 / 2.0);
    EXPECT_DOUBLE_EQ(context.pendingHole()->endRadius, 0.001);
    EXPECT_FALSE(context.removeHole(-1));
    EXPECT_FALSE(context.removeHole(1));
    context.setHolesRadius(0.5);
    EXPECT_DOUBLE_EQ(context.holes()[0]->startRadius, 0.5);
    EXPECT_DOUBLE_EQ(context.pendingHole()->radius, 1.0);
    EXPECT_TRUE(context.removeHole(0));
    EXPECT_TRUE(context.holes().empty());
}

} // namespace

// Holes that cannot reach the cavity are reported, and holes from a
// degenerate pick (non-finite values) are not placed at all; in every case
// the result stays one closed, consistently wound solid (or the closed hollow).
TEST(HollowDriver, holesThatMissTheCavityWarnAndNonFiniteHolesAreNotPlaced) {
    auto cube = meshfixtures::buildMeshWithOctree(meshfixtures::cube(20.0));
    const double nan = std::nan(""), inf = HUGE_VAL;
    struct Case {
        const char* what;
        DrainHoleSpec hole;
        bool warns;         // "does not reach" reported
        std::size_t pieces; // 1: the cavity is open to the outside
    };
    const Case cases[] = {
        {"inward through the top", {{7.0, 11.0, 20.0}, {0.0, 0.0, -1.0}, 3.0, 0.0}, false, 1},
        {"pointing out of the top", {{10.0, 10.0, 20.0}, {0.0, 0.0, 1.0}, 3.0, 0.0}, true, 2},
        {"beside the object", {{60.0, 11.0, 20.0}, {0.0, 0.0, -1.0}, 3.0, 0.0}, true, 2},
        {"not-a-number direction", {{7.0, 11.0, 20.0}, {nan, 0.0, -1.0}, 3.0, 0.0}, false, 2},
        {"infinite position", {{inf, 11.0, 20.0}, {0.0, 0.0, -1.0}, 3.0, 0.0}, false, 2},
        {"infinite size", {{7.0, 11.0, 20.0}, {0.0, 0.0, -1.0}, inf, 0.0}, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HollowContext context;
        HollowStatus status;
        auto hollow = lcm::hollowedCopy(context, *cube, 2.0, 100, {c.hole}, &status);
        ASSERT_EQ(status, HollowStatus::Ok);
        ASSERT_TRUE(hollow);
        bool warned = false;
        for (const std::string& w : context.warnings())
            warned = warned || w.find("does not reach") != std::string::npos;
        EXPECT_EQ(warned, c.warns);
        EXPECT_EQ(connectedPieces(*hollow), c.pieces);
        EXPECT_EQ(topolib::countUnpairedEdges(*hollow), 0u);
        EXPECT_TRUE(closedAndOriented(*hollow));
        EXPECT_GT(topolib::liveVolume(*hollow), 0.0);
    }
}

namespace {

// Where the vertical line through (x, y) first meets the soup from below.
double lowestSurfaceZ(const meshfixtures::TriangleSoup& soup, double x, double y) {
    double best = HUGE_VAL;
    for (const meshfixtures::Facet& f : soup) {
        const auto& a = f.v[0];
        const auto& b = f.v[1];
        const auto& c = f.v[2];
        const double d = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1]);
        if (d == 0.0)
            continue;
        const double u = ((x - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (y - a[1])) / d;
        const double v = ((b[0] - a[0]) * (y - a[1]) - (x - a[0]) * (b[1] - a[1])) / d;
        if (u < 0.0 || v < 0.0 || u + v > 1.0)
            continue;
        best = std::min(best, a[2] + u * (b[2] - a[2]) + v * (c[2] - a[2]));
    }
    return best;
}

} // namespace

// Bumpy heads with thin ears, like scanned animals, at the panel's defaults
// and at thinner walls: drain holes from below open the main cavity, also a
// hole centred exactly on a vertex of the mesh, and a hole that misses (the
// second in the list) costs only itself. The result is closed, no sealed
// pocket is smaller than a cell, and what stays sealed is told.
TEST(HollowDriver, bumpyHeadsGetTheirDrainHolesIntoTheMainCavity) {
    struct Case {
        double size, wall;
        int density;
    } cases[] = {{50.0, 2.0, 50}, {43.0, 1.5, 50}, {43.0, 1.0, 50}, {43.0, 3.0, 50}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.size << " mm at wall " << k.wall);
        const meshfixtures::TriangleSoup soup = meshfixtures::bumpyHead(k.size, 6);
        auto head = meshfixtures::buildMeshWithOctree(soup);
        // The body's centre across, and the mesh vertex nearest below it.
        const double cx = 0.5 * (head->bboxMin()[0] + head->bboxMax()[0]);
        const double cy = 0.5 * (head->bboxMin()[1] + head->bboxMax()[1]) - 0.1 * k.size;
        meshfixtures::Point vertex{HUGE_VAL, HUGE_VAL, HUGE_VAL};
        for (const meshfixtures::Facet& f : soup)
            for (const meshfixtures::Point& p : f.v)
                if (p[2] < 0.3 * k.size &&
                    std::hypot(p[0] - cx, p[1] - cy) < std::hypot(vertex[0] - cx, vertex[1] - cy))
                    vertex = p;
        const double beside[2] = {vertex[0] + 0.3, vertex[1]};
        const std::vector<DrainHoleSpec> holes = {
            {{vertex[0], vertex[1], vertex[2]}, {0.0, 0.0, 1.0}, 2.0, 0.0},
            {{cx, cy, head->bboxMax()[2] + 5.0}, {0.0, 0.0, 1.0}, 2.0, 0.0}, // above it, pointing away
            {{beside[0], beside[1], lowestSurfaceZ(soup, beside[0], beside[1])}, {0.0, 0.0, 1.0}, 2.0, 0.0},
        };
        for (std::size_t first : {std::size_t(0), std::size_t(2)}) {
            HollowContext context;
            HollowStatus status;
            auto hollow = lcm::hollowedCopy(context, *head, k.wall, k.density,
                                            {holes[first], holes[1]}, &status);
            ASSERT_EQ(status, HollowStatus::Ok);
            ASSERT_TRUE(hollow);
            const std::vector<std::string> expected = {"Drain hole 2 does not reach the hollow inside."};
            std::vector<std::string> holeWarnings;
            for (const std::string& w : context.warnings())
                if (w.find("cavit") == std::string::npos)
                    holeWarnings.push_back(w);
            EXPECT_EQ(holeWarnings, expected) << first;
            EXPECT_EQ(topolib::countUnpairedEdges(*hollow), 0u);
            EXPECT_TRUE(closedAndOriented(*hollow));
            // The main cavity is open: what stays sealed is small, and no
            // pocket is below a cell's volume.
            const double cell = context.stock()->cellSize();
            const double volume = topolib::liveVolume(*head);
            for (double v : context.sealedCavities()) {
                EXPECT_LT(v, 0.05 * volume);
                EXPECT_GE(v, cell * cell * cell);
            }
        }
    }
}

// Of three holes in a list, the second ends in the side wall: it is named and
// left uncut, while the others, one through the top and one at a corner of
// the cube aimed at its centre, open the cavity.
TEST(HollowDriver, holeThatMissesTheCavityCostsOnlyItself) {
    auto cube = meshfixtures::buildMeshWithOctree(meshfixtures::cube(20.0));
    const std::vector<DrainHoleSpec> holes = {
        {{7.0, 11.0, 20.0}, {0.0, 0.0, -1.0}, 2.0, 0.0},
        {{1.0, 10.0, 20.0}, {0.0, 0.0, -1.0}, 1.0, 0.0},
        {{20.0, 20.0, 20.0}, {-1.0, -1.0, -1.0}, 3.0, 0.0},
    };
    HollowContext context;
    HollowStatus status;
    auto hollow = lcm::hollowedCopy(context, *cube, 2.0, 100, holes, &status);
    ASSERT_EQ(status, HollowStatus::Ok);
    ASSERT_TRUE(hollow);
    EXPECT_EQ(context.warnings(), std::vector<std::string>{"Drain hole 2 does not reach the hollow inside."});
    EXPECT_TRUE(context.sealedCavities().empty());
    EXPECT_EQ(connectedPieces(*hollow), 1u);
    EXPECT_EQ(topolib::countUnpairedEdges(*hollow), 0u);
    EXPECT_TRUE(closedAndOriented(*hollow));
    for (const topolib::StlTriangle* t : hollow->triangles())
        for (const topolib::StlVertex* v : t->vertices)
            EXPECT_FALSE(!t->isDeleted() && std::hypot(v->pos.x - 1.0, v->pos.y - 10.0) < 0.6 && v->pos.z > 16.0);
}
