// Building a mesh octree at once (MeshOctree::build, on several threads) against
// the tree that inserting the records one by one makes: the same leaves with the
// same lists in the same order, the same node and leaf counts, the same answers
// and visiting orders of the queries, and the same tree after further insertions
// (which depend on the levels and list tails the build left).

#include "MeshFixtures.h"

#include "app/ProgressReport.h"
#include "topolib/MeshOctree.h"
#include "topolib/OctreeBeside.h"
#include "topolib/OctreeKernels.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

using meshfixtures::Facet;
using meshfixtures::TriangleSoup;
using topolib::MeshOctree;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;

struct Cube {
    double origin[3];
    double edge;
    double minCell;
};

// Clusters of small facets and long slivers across the box; when dense, also a
// fan of many blades round one corner and a stack of identical facets (which no
// split separates, so the leaves round them refuse to split and try again as they
// fill).
TriangleSoup randomSoup(unsigned seed, int clusters, bool dense) {
    std::mt19937_64 g(seed);
    auto u = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); };
    TriangleSoup soup;
    for (int c = 0; c < clusters; ++c) {
        const double cx = u(-40, 40), cy = u(-40, 40), cz = u(-20, 20), s = u(0.2, 3.0);
        // At most 300 facets: no cube of a cluster holds more than the split count.
        const int n = static_cast<int>(u(50, 300));
        for (int i = 0; i < n; ++i) {
            Facet f;
            for (auto& p : f.v)
                p = {cx + u(-s, s), cy + u(-s, s), cz + u(-s, s)};
            soup.push_back(f);
        }
    }
    for (int i = 0; i < 60; ++i) {
        Facet f;
        f.v[0] = {u(-45, 45), u(-45, 45), u(-25, 25)};
        f.v[1] = {u(-45, 45), u(-45, 45), u(-25, 25)};
        f.v[2] = {f.v[0][0] + u(-0.1, 0.1), f.v[0][1] + u(-0.1, 0.1), f.v[0][2] + u(-0.1, 0.1)};
        soup.push_back(f);
    }
    const meshfixtures::Point hub = {u(-30, 30), u(-30, 30), u(-10, 10)};
    for (int i = 0; i < (dense ? 900 : 0); ++i) {
        const double a = i * 0.0069, b = (i + 1) * 0.0069;
        Facet f;
        f.v[0] = hub;
        f.v[1] = {hub[0] + 2 * std::cos(a), hub[1] + 2 * std::sin(a), hub[2] + 0.3};
        f.v[2] = {hub[0] + 2 * std::cos(b), hub[1] + 2 * std::sin(b), hub[2] - 0.3};
        soup.push_back(f);
    }
    Facet same;
    same.v[0] = {u(-30, 30), u(-30, 30), u(-10, 10)};
    same.v[1] = {same.v[0][0] + 0.001, same.v[0][1], same.v[0][2]};
    same.v[2] = {same.v[0][0], same.v[0][1] + 0.001, same.v[0][2]};
    for (int i = 0; i < (dense ? 372 : 0); ++i)
        soup.push_back(same);
    std::shuffle(soup.begin(), soup.end(), g);
    return soup;
}

std::unique_ptr<StlObject> meshOf(const TriangleSoup& soup) {
    meshfixtures::BuildSteps steps;
    steps.shells = false;
    return meshfixtures::buildMesh(soup, steps);
}

// The root cube round the mesh's box as the object makes it, scaled by `scale`
// (below 1 leaves records outside), with minCell = edge / cells.
Cube cubeFor(const StlObject& mesh, double scale, double cells) {
    Cube c;
    double d2 = 0.0;
    for (int k = 0; k < 3; ++k)
        d2 += (mesh.bboxMax()[k] - mesh.bboxMin()[k]) * (mesh.bboxMax()[k] - mesh.bboxMin()[k]);
    c.edge = std::sqrt(d2) * scale;
    for (int k = 0; k < 3; ++k)
        c.origin[k] = (mesh.bboxMin()[k] + mesh.bboxMax()[k]) * 0.5 - c.edge / 2.0;
    c.minCell = c.edge / cells;
    return c;
}

// The reference: every vertex, then every live triangle, inserted in order.
MeshOctree insertedOneByOne(const StlObject& mesh, const Cube& c) {
    MeshOctree tree;
    for (StlVertex* v : mesh.vertices()) {
        EXPECT_NE(tree.insertVertex(c.minCell, c.origin, c.edge, v), MeshOctree::InsertResult::OutOfMemory);
    }
    for (StlTriangle* t : mesh.triangles()) {
        if (!t->isDeleted()) {
            EXPECT_NE(tree.insertTriangle(c.minCell, c.origin, c.edge, t), MeshOctree::InsertResult::OutOfMemory);
        }
    }
    return tree;
}

struct Leaf {
    double origin[3];
    double edge;
    std::vector<int> vertices;
    std::vector<int> triangles;
    bool operator==(const Leaf& o) const {
        return origin[0] == o.origin[0] && origin[1] == o.origin[1] && origin[2] == o.origin[2] && edge == o.edge &&
               vertices == o.vertices && triangles == o.triangles;
    }
};

std::vector<Leaf> leavesOf(const MeshOctree& tree, const Cube& c) {
    std::vector<Leaf> leaves;
    tree.forEachLeaf(c.origin, c.edge,
                     [&](const double* o, double e, const std::vector<StlVertex*>& vs,
                         const std::vector<StlTriangle*>& ts) {
                         Leaf leaf{{o[0], o[1], o[2]}, e, {}, {}};
                         for (StlVertex* v : vs)
                             leaf.vertices.push_back(v->index);
                         for (StlTriangle* t : ts)
                             leaf.triangles.push_back(t->id);
                         leaves.push_back(std::move(leaf));
                     });
    return leaves;
}

void expectSameStructure(const MeshOctree& want, const MeshOctree& got, const Cube& c) {
    EXPECT_EQ(got.nodeCount(), want.nodeCount());
    EXPECT_EQ(got.leafCount(), want.leafCount());
    const std::vector<Leaf> a = leavesOf(want, c);
    const std::vector<Leaf> b = leavesOf(got, c);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_TRUE(a[i] == b[i]) << "leaf " << i;
}

// Every query whose answer or visiting order a caller sees, asked of both trees
// at the same random places.
void expectSameAnswers(const MeshOctree& want, const MeshOctree& got, const Cube& c,
                       const MeshOctree& other, const Cube& otherCube, unsigned seed) {
    std::mt19937_64 g(seed);
    auto u = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); };
    for (int i = 0; i < 150; ++i) {
        SCOPED_TRACE(i);
        double p[3], d[3];
        for (int k = 0; k < 3; ++k) {
            p[k] = u(c.origin[k], c.origin[k] + c.edge);
            d[k] = u(-1, 1);
        }
        double bestA[3] = {p[0] - d[0] * 1e9, p[1] - d[1] * 1e9, p[2] - d[2] * 1e9};
        double bestB[3] = {bestA[0], bestA[1], bestA[2]};
        StlTriangle* pickA = nullptr;
        StlTriangle* pickB = nullptr;
        want.pickTriangleOnLine(c.origin, c.edge, p, d, bestA, &pickA);
        got.pickTriangleOnLine(c.origin, c.edge, p, d, bestB, &pickB);
        EXPECT_EQ(pickA, pickB);
        EXPECT_TRUE(bestA[0] == bestB[0] && bestA[1] == bestB[1] && bestA[2] == bestB[2]);

        // The crossing count marks triangles as it goes: the order matters.
        int countA = 0, countB = 0;
        std::vector<StlTriangle*> touchedA, touchedB;
        want.countCrossingsBelow(c.origin, c.edge, p, &countA, touchedA);
        for (StlTriangle* t : touchedA)
            t->setWalkMark(0);
        got.countCrossingsBelow(c.origin, c.edge, p, &countB, touchedB);
        for (StlTriangle* t : touchedB)
            t->setWalkMark(0);
        EXPECT_EQ(countA, countB);
        EXPECT_EQ(touchedA, touchedB);

        double lowA = 1e12, lowB = 1e12;
        StlTriangle* lowTA = nullptr;
        StlTriangle* lowTB = nullptr;
        want.lowestTriangleAtXY(c.origin, c.edge, p, -1, &lowA, &lowTA);
        got.lowestTriangleAtXY(c.origin, c.edge, p, -1, &lowB, &lowTB);
        EXPECT_EQ(lowA, lowB);
        EXPECT_EQ(lowTA, lowTB);

        const double r = u(0.05, 3.0);
        double landA[3] = {p[0], p[1], -1.0}, landB[3] = {p[0], p[1], -1.0}, nA[3] = {0, 0, 0}, nB[3] = {0, 0, 0};
        want.highestUpFacingPointWithin(c.origin, c.edge, 5, p, r, p[2], landA, nA);
        got.highestUpFacingPointWithin(c.origin, c.edge, 5, p, r, p[2], landB, nB);
        EXPECT_TRUE(landA[0] == landB[0] && landA[1] == landB[1] && landA[2] == landB[2]);

        std::set<StlTriangle*> hitsA, hitsB;
        EXPECT_EQ(want.collectRayHits(c.origin, c.edge, p, d, &hitsA), got.collectRayHits(c.origin, c.edge, p, d, &hitsB));
        EXPECT_EQ(hitsA, hitsB);
        EXPECT_EQ(want.anyTriangleUnderPoint(c.origin, c.edge, p, 1e-5), got.anyTriangleUnderPoint(c.origin, c.edge, p, 1e-5));

        // Empty leaves count here: their centres are tested too.
        const double q1[3] = {p[0] + u(-9, 9), p[1] + u(-9, 9), p[2]};
        const double q2[3] = {p[0] + u(-9, 9), p[1] + u(-9, 9), p[2]};
        const std::vector<const double*> polygon = {p, q1, q2};
        const double up[3] = {0, 0, 1};
        EXPECT_EQ(want.anyLeafCentreInPolygon(c.origin, c.edge, polygon, up),
                  got.anyLeafCentreInPolygon(c.origin, c.edge, polygon, up));
    }
    // The drain-hole cut walks two trees in pairs and keeps the first pairs it meets.
    std::vector<std::pair<StlTriangle*, StlTriangle*>> pairsA, pairsB;
    want.forEachCandidatePair(c.origin, c.edge, other, otherCube.origin, otherCube.edge,
                              [&](StlTriangle* s, StlTriangle* t) { pairsA.emplace_back(s, t); });
    got.forEachCandidatePair(c.origin, c.edge, other, otherCube.origin, otherCube.edge,
                             [&](StlTriangle* s, StlTriangle* t) { pairsB.emplace_back(s, t); });
    EXPECT_FALSE(pairsA.empty());
    EXPECT_EQ(pairsA, pairsB);
}

TEST(MeshOctreeBuild, treeBuiltOnThreadsEqualsTheTreeOfInsertionsOneByOne) {
    // A second mesh: the other side of the pair walk, and records inserted after the build.
    auto extra = meshOf(randomSoup(99, 6, false));
    const Cube extraCube = cubeFor(*extra, 1.0, 12.0);
    const MeshOctree extraTree = insertedOneByOne(*extra, extraCube);

    for (unsigned seed = 1; seed <= 2; ++seed) {
        auto mesh = meshOf(randomSoup(seed, 12, true));
        // Some triangles deleted: the build skips them as insertion does.
        for (std::size_t i = seed; i < mesh->triangles().size(); i += 37)
            mesh->triangles()[i]->setDeleted(true);
        // Cubes with 1, 2, 3 and more levels above the leaf level, and cubes that
        // leave records outside (refused vertices leave nodes without children).
        const std::pair<double, double> shapes[] = {{1.0, 3.0}, {1.0, 6.0}, {1.0, 12.0}, {1.0, 40.0},
                                                    {0.55, 12.0}, {0.3, 40.0}};
        for (const auto& shape : shapes) {
            const Cube c = cubeFor(*mesh, shape.first, shape.second);
            SCOPED_TRACE(testing::Message() << "seed " << seed << " scale " << shape.first << " cells "
                                            << shape.second);
            MeshOctree want = insertedOneByOne(*mesh, c);
            for (unsigned threads : {1u, 3u, 8u}) {
                SCOPED_TRACE(threads);
                MeshOctree got;
                ASSERT_TRUE(got.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(), threads));
                expectSameStructure(want, got, c);
                if (threads == 3)
                    expectSameAnswers(want, got, c, extraTree, extraCube, seed);
            }
            // Records filed after the build land in the same leaves, split them at
            // the same levels and append to the same lists.
            MeshOctree got;
            ASSERT_TRUE(got.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(), 4));
            for (MeshOctree* tree : {&want, &got}) {
                for (StlVertex* v : extra->vertices())
                    tree->insertVertex(c.minCell, c.origin, c.edge, v);
                for (StlTriangle* t : extra->triangles())
                    tree->insertTriangle(c.minCell, c.origin, c.edge, t);
            }
            // The extra mesh's records have ids of their own: compare by pointer.
            auto pointers = [&](const MeshOctree& tree) {
                std::vector<std::vector<const void*>> out;
                tree.forEachLeaf(c.origin, c.edge,
                                 [&](const double*, double, const std::vector<StlVertex*>& vs,
                                     const std::vector<StlTriangle*>& ts) {
                                     out.emplace_back(vs.begin(), vs.end());
                                     out.back().push_back(nullptr);
                                     out.back().insert(out.back().end(), ts.begin(), ts.end());
                                 });
                return out;
            };
            EXPECT_EQ(pointers(got), pointers(want));
            EXPECT_EQ(got.nodeCount(), want.nodeCount());
            EXPECT_EQ(got.leafCount(), want.leafCount());
        }
    }
}

TEST(MeshOctreeBuild, deepTreeOfSmallScatteredFacetsEqualsTheTreeOfInsertions) {
    // Leaves fifteen levels below the root: more levels below the cells than
    // the leaf keys of the build hold, so the cells' records are inserted one
    // by one there; facets far smaller than a leaf, a few crossing its faces.
    std::mt19937_64 g(17);
    auto u = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); };
    TriangleSoup soup;
    for (int i = 0; i < 3000; ++i) {
        const meshfixtures::Point p = {u(-50, 50), u(-50, 50), u(-20, 20)};
        Facet f;
        f.v[0] = p;
        f.v[1] = {p[0] + u(-2e-3, 2e-3), p[1] + u(-2e-3, 2e-3), p[2]};
        f.v[2] = {p[0], p[1] + u(-2e-3, 2e-3), p[2] + u(-2e-3, 2e-3)};
        soup.push_back(f);
    }
    auto mesh = meshOf(soup);
    const Cube c = cubeFor(*mesh, 1.0, 20000.0);
    const MeshOctree want = insertedOneByOne(*mesh, c);
    MeshOctree got;
    ASSERT_TRUE(got.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(), 3));
    expectSameStructure(want, got, c);
}

TEST(MeshOctreeBuild, emptyInputAndCubesThatAreNotFiniteMakeNoTree) {
    auto mesh = meshOf(randomSoup(5, 2, true));
    const Cube c = cubeFor(*mesh, 1.0, 12.0);
    MeshOctree empty;
    ASSERT_TRUE(empty.build(c.minCell, c.origin, c.edge, {}, {}, 4));
    EXPECT_EQ(empty.nodeCount(), 0u);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    MeshOctree refused;
    ASSERT_TRUE(refused.build(nan, c.origin, c.edge, mesh->vertices(), mesh->triangles(), 4));
    EXPECT_EQ(refused.nodeCount(), 0u);
    // A vertex that is not finite is refused with the triangles that use it.
    mesh->vertices()[3]->pos.x = nan;
    MeshOctree want = insertedOneByOne(*mesh, c);
    MeshOctree got;
    ASSERT_TRUE(got.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(), 4));
    expectSameStructure(want, got, c);
}

// Facets with corners on the lines of the leaf grid and at the widenings of the
// cubes of every level (and at the clearances beyond which the descent stops
// testing) on either side: a triangle stands in exactly the leaves whose cube,
// and every cube above it below the root, the cube test accepts, and a vertex
// in the leaf its lower-first descent gives, whether they are inserted or built
// on one or several threads. A raised cancel stops the build.
TEST(MeshOctreeBuild, trianglesNearTheCubeFacesStandInTheLeavesTheCubeTestGives) {
    Cube c{{-3.7, 100.25, -1000.0}, 16.0, 1.5}; // leaves of edge 1, four levels below the root
    const double offsets[] = {0.0,   1e-13, -1e-13, 1e-6, -1e-6, 2.1e-6, -2.1e-6, 1e-4,   -1e-4,   2e-4,
                              -2e-4, 4e-4,  -4e-4,  8e-4, -8e-4, 3.2e-3, -3.2e-3, 3.3e-3, -3.3e-3, 0.4};
    const int offsetCount = static_cast<int>(std::size(offsets));
    std::mt19937_64 g(7);
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(g); };
    TriangleSoup soup;
    for (int i = 0; i < 3000; ++i) {
        meshfixtures::Point p;
        for (int k = 0; k < 3; ++k)
            p[static_cast<std::size_t>(k)] = c.origin[k] + 1 + pick(14) + offsets[pick(offsetCount)];
        Facet f;
        f.v[0] = p;
        for (int j = 1; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                f.v[static_cast<std::size_t>(j)][static_cast<std::size_t>(k)] =
                    p[static_cast<std::size_t>(k)] +
                    (pick(2) ? 1 : -1) * (0.05 + 0.1 * pick(5) + offsets[pick(offsetCount)]);
        soup.push_back(f);
    }
    auto mesh = meshOf(soup);
    // The oracle: the leaves of edge 1, each with the cubes above it; a vertex
    // takes the lower half on every axis whose half, widened by 1e-6, holds it.
    using Lists = std::pair<std::vector<const void*>, std::vector<const void*>>;
    std::map<std::vector<double>, Lists> want;
    for (const StlVertex* v : mesh->vertices()) {
        double o[3] = {c.origin[0], c.origin[1], c.origin[2]};
        bool inside = true;
        for (double e = 8.0; e >= 1.0 && inside; e *= 0.5) {
            for (int k = 0; k < 3 && inside; ++k) {
                const double p = v->pos[static_cast<std::size_t>(k)];
                if (p >= o[k] - 1e-6 && !(p > o[k] + e + 1e-6))
                    o[k] += 0 * e;
                else if (p >= o[k] + e - 1e-6 && !(p > o[k] + e + e + 1e-6))
                    o[k] += 1 * e;
                else
                    inside = false;
            }
        }
        if (inside)
            want[{o[0], o[1], o[2]}].first.push_back(v);
    }
    for (int leaf = 0; leaf < 16 * 16 * 16; ++leaf) {
        const int at[3] = {leaf >> 8, (leaf >> 4) & 15, leaf & 15};
        double path[4][3];
        for (int l = 0; l < 4; ++l) {
            for (int k = 0; k < 3; ++k)
                path[l][k] =
                    (l == 0 ? c.origin[k] : path[l - 1][k]) + ((at[k] >> (3 - l)) & 1) * (8.0 / (1 << l));
        }
        std::vector<const void*>& in = want[{path[3][0], path[3][1], path[3][2]}].second;
        for (const StlTriangle* t : mesh->triangles()) {
            bool meets = !t->isDeleted();
            for (int l = 0; l < 4 && meets; ++l)
                meets = topolib::triangleOverlapsCube(t, path[l], 8.0 / (1 << l));
            if (meets)
                in.push_back(t);
        }
    }
    auto leaves = [&](const MeshOctree& tree) {
        std::map<std::vector<double>, Lists> out;
        tree.forEachLeaf(c.origin, c.edge,
                         [&](const double* o, double e, const std::vector<StlVertex*>& vs,
                             const std::vector<StlTriangle*>& ts) {
                             EXPECT_EQ(e, 1.0);
                             out[{o[0], o[1], o[2]}] = {{vs.begin(), vs.end()}, {ts.begin(), ts.end()}};
                         });
        return out;
    };
    for (auto it = want.begin(); it != want.end();)
        it = it->second.first.empty() && it->second.second.empty() ? want.erase(it) : std::next(it);
    ASSERT_GT(want.size(), 1000u);
    MeshOctree inserted;
    for (StlVertex* v : mesh->vertices())
        ASSERT_EQ(inserted.insertVertex(c.minCell, c.origin, c.edge, v), MeshOctree::InsertResult::Stored);
    for (StlTriangle* t : mesh->triangles()) {
        if (!t->isDeleted()) {
            ASSERT_NE(inserted.insertTriangle(c.minCell, c.origin, c.edge, t),
                      MeshOctree::InsertResult::OutOfMemory);
        }
    }
    EXPECT_EQ(leaves(inserted), want);
    for (unsigned threads : {1u, 3u}) {
        MeshOctree built;
        ASSERT_TRUE(built.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(), threads));
        EXPECT_EQ(leaves(built), want) << threads;
        const std::atomic<bool> cancel{true};
        const ProgressSink stop(ProgressCallbackFunction(), &cancel);
        MeshOctree cancelled;
        EXPECT_FALSE(cancelled.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(),
                                     threads, topolib::TriangleFiling::NotDeleted, &stop));
    }
}

// The same with the leaf level five levels below the cells, as in a mesh of a
// million facets: corners at the widening of the cubes of each level from the
// lines of the leaf grid (and at four times it), on either side, so that a line
// of a coarse level and one of the finest are each met at the distances where
// the cube tests change their answer. The build files every triangle where
// inserting it one by one does.
TEST(MeshOctreeBuild, trianglesNearTheLinesOfEveryLevelBelowTheCellsFileAsInsertionDoes) {
    const Cube c{{-3.7, 100.25, -1000.0}, 256.0, 1.5}; // cells of edge 32, leaves of edge 1
    std::vector<double> offsets = {0.0, 1e-13, -1e-13};
    for (int z = 0; z <= 5; ++z)
        for (double k : {0.999, 1.001, 3.999, 4.001})
            for (double sign : {1.0, -1.0})
                offsets.push_back(sign * k * 1e-4 * std::ldexp(1.0, z));
    std::mt19937_64 g(11);
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(g); };
    TriangleSoup soup;
    for (int i = 0; i < 4000; ++i) {
        Facet f;
        for (int k = 0; k < 3; ++k)
            f.v[0][static_cast<std::size_t>(k)] =
                c.origin[k] + 1.0 + static_cast<double>(pick(254)) + offsets[pick(offsets.size())];
        for (std::size_t j = 1; j < 3; ++j)
            for (std::size_t k = 0; k < 3; ++k) {
                const double step = 0.05 + 0.1 * static_cast<double>(pick(5)) + offsets[pick(offsets.size())];
                f.v[j][k] = f.v[0][k] + (pick(2) ? 1.0 : -1.0) * step;
            }
        soup.push_back(f);
    }
    auto mesh = meshOf(soup);
    const MeshOctree want = insertedOneByOne(*mesh, c);
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        MeshOctree got;
        ASSERT_TRUE(got.build(c.minCell, c.origin, c.edge, mesh->vertices(), mesh->triangles(), threads));
        expectSameStructure(want, got, c);
    }
}

// The object's own build: a mesh above the size where several threads take part
// gets the tree of the two steps (vertices, then triangles) on a copy of it.
TEST(MeshOctreeBuild, largeObjectGetsTheTreeOfTheTwoSteps) {
    const TriangleSoup soup = meshfixtures::torus(40.0, 12.0, 400, 160);
    auto byThreads = meshOf(soup);
    auto bySteps = meshOf(soup);
    ASSERT_GE(byThreads->triangleCount(), 100000u);
    ASSERT_EQ(byThreads->rebuildOctree(), 0);
    ASSERT_EQ(bySteps->buildVertexOctree(true), 0);
    ASSERT_EQ(bySteps->buildTriangleOctree(), 0);
    Cube c;
    for (int k = 0; k < 3; ++k)
        c.origin[k] = byThreads->octreeOrigin()[k];
    c.edge = byThreads->octreeEdge();
    c.minCell = 0.0;
    ASSERT_EQ(bySteps->octreeEdge(), c.edge);
    expectSameStructure(*bySteps->octree(), *byThreads->octree(), c);
    // Building over a tree (the worker's job on an object that has one) inserts
    // into it, as the two steps do.
    ASSERT_EQ(byThreads->buildOctree(), 0);
    ASSERT_EQ(bySteps->buildVertexOctree(false), 0);
    ASSERT_EQ(bySteps->buildTriangleOctree(), 0);
    expectSameStructure(*bySteps->octree(), *byThreads->octree(), c);
}

// The tree built beside an import (OctreeBeside, started once the weld is done,
// while the edge and shell steps run) against the tree built after the import:
// the same cube, cell size and leaves, for a small mesh (built by insertion) and
// a large one (on threads), both with facets whose corners weld into one vertex
// (deleted by the edge step) and collinear ones (deleted by the reader). A
// triangle deleted after the tree took it keeps the tree from being published,
// and a cancelled import joins the build before the mesh is released.
struct SoupReader : topolib::MeshFileReader {
    const TriangleSoup* soup = nullptr;
    topolib::LoadResult read(StlObject& target, const std::wstring&, const ProgressMonitor*) override {
        meshfixtures::fillMesh(target, *soup, meshfixtures::BuildSteps{false, false});
        return topolib::LoadResult::Success;
    }
};

TEST(MeshOctreeBuild, treeBuiltBesideTheImportEqualsTheTreeBuiltAfterIt) {
    TriangleSoup odd;
    for (int i = 0; i < 40; ++i) {
        const double x = 3.0 * i;
        // Two corners within the weld tolerance (deleted by the edge step), and
        // no area (deleted by the reader).
        odd.push_back(Facet{{{x, 0.0, 0.0}, {x, 9e-7, 0.0}, {x + 1.0, 1.0, 2.0}}});
        odd.push_back(Facet{{{x, 5.0, 0.0}, {x + 1.0, 6.0, 1.0}, {x + 2.0, 7.0, 2.0}}});
    }
    SoupReader reader;
    const TriangleSoup torus = meshfixtures::torus(40.0, 12.0, 400, 160);
    // The torus alone: every triangle is live.
    for (const TriangleSoup& soup : {meshfixtures::concatenated(randomSoup(3, 10, true), odd),
                                     meshfixtures::concatenated(torus, odd), torus}) {
        reader.soup = &soup;
        StlObject after;
        ASSERT_EQ(after.loadFromFile(L"after.stl", reader), topolib::LoadResult::Success);
        ASSERT_EQ(after.buildOctree(), 0);
        int weldedAway = 0;
        for (const StlTriangle* t : after.triangles())
            weldedAway += t->isDeleted() && t->vertices[0] == t->vertices[1];
        ASSERT_EQ(weldedAway, soup.size() == torus.size() ? 0 : 40);

        StlObject beside;
        std::unique_ptr<topolib::OctreeBeside> tree;
        const StlObject::SideWork side{[&] { tree = std::make_unique<topolib::OctreeBeside>(beside); },
                                       [&] { tree->join(); }};
        ASSERT_EQ(beside.loadFromFile(L"beside.stl", reader, nullptr, &side),
                  topolib::LoadResult::Success);
        ASSERT_NE(tree, nullptr);
        ASSERT_TRUE(tree->publish(beside));
        ASSERT_NE(beside.octree(), nullptr);
        Cube c;
        for (int k = 0; k < 3; ++k) {
            c.origin[k] = after.octreeOrigin()[k];
            EXPECT_EQ(beside.octreeOrigin()[k], c.origin[k]);
        }
        c.edge = after.octreeEdge();
        c.minCell = after.octreeMinCell();
        EXPECT_EQ(beside.octreeEdge(), c.edge);
        EXPECT_EQ(beside.octreeMinCell(), c.minCell);
        expectSameStructure(*after.octree(), *beside.octree(), c);

        // A triangle the tree holds deleted before the tree is published.
        StlObject changed;
        const StlObject::SideWork deleting{[&] { tree = std::make_unique<topolib::OctreeBeside>(changed); },
                                           [&] {
                                               tree->join();
                                               changed.triangles()[7]->setDeleted(true);
                                           }};
        ASSERT_EQ(changed.loadFromFile(L"changed.stl", reader, nullptr, &deleting),
                  topolib::LoadResult::Success);
        EXPECT_FALSE(tree->publish(changed));
        EXPECT_EQ(changed.octree(), nullptr);

        // Cancelled while the tree is built: the build is joined, then the mesh released.
        std::atomic<bool> cancel{false};
        const ProgressSink stop(ProgressCallbackFunction(), &cancel);
        StlObject cancelled;
        bool joined = false;
        const StlObject::SideWork stopping{[&] {
                                               tree = std::make_unique<topolib::OctreeBeside>(cancelled, &stop);
                                               cancel.store(true);
                                           },
                                           [&] {
                                               tree->join();
                                               joined = true;
                                           }};
        EXPECT_EQ(cancelled.loadFromFile(L"cancelled.stl", reader, &stop, &stopping),
                  topolib::LoadResult::Cancelled);
        EXPECT_TRUE(joined);
        EXPECT_EQ(cancelled.triangleCount(), 0u);
        EXPECT_EQ(cancelled.edgeCount(), 0u);
        EXPECT_FALSE(tree->publish(cancelled));
        EXPECT_EQ(cancelled.octree(), nullptr);
    }
}

} // namespace

namespace {

// The blades of a fan (the cap of a finely divided cylinder, the side of a cone)
// are slivers from a hub, each far longer than the leaves near the hub: a leaf
// there holds hundreds of them and splitting it would copy every one into the
// children, level after level, without ever holding fewer. Such leaves stay
// whole, so each blade is filed about once per leaf-level cube it crosses and
// the tree stays in proportion to the mesh (it grew with the square of the
// blades: a 100,000-blade cone took 1.4 GB, a million blades more than 24 GB).
// Picks at the hub still find the blade under the ray.
TEST(MeshOctreeBuild, bladesOfAFanStayInTheLeavesTheyCrossWithoutSplitsNearTheHub) {
    const int blades = 20000;
    const TriangleSoup soup = meshfixtures::cone(blades, 10.0, 10.0);
    auto mesh = meshfixtures::buildMeshWithOctree(soup);
    ASSERT_NE(mesh->octree(), nullptr);
    std::size_t filed = 0;
    mesh->octree()->forEachLeaf(mesh->octreeOrigin(), mesh->octreeEdge(),
                                [&](const double*, double, const std::vector<StlVertex*>&,
                                    const std::vector<StlTriangle*>& ts) { filed += ts.size(); });
    EXPECT_LE(filed, 40 * mesh->triangleCount());

    // A vertical line 0.05 from the axis, through the middle of blade i of
    // either fan: the pick is that blade.
    for (int i : {0, 1234, blades - 1}) {
        SCOPED_TRACE(i);
        const double a = 2.0 * M_PI * (i + 0.5) / blades;
        const double from[3] = {0.05 * std::cos(a), 0.05 * std::sin(a), 20.0}, down[3] = {0.0, 0.0, -1.0};
        double hit[3];
        const StlTriangle* t = mesh->pickTriangle(from, down, hit);
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(std::fabs(hit[2] - 9.95) < 1e-5 || std::fabs(hit[2]) < 1e-5) << hit[2];
        const Facet& blade = soup[2 * static_cast<std::size_t>(i)]; // tip, rim i, rim i + 1
        for (const meshfixtures::Point& r : {blade.v[1], blade.v[2]}) {
            bool corner = false;
            for (int k = 1; k < 3; ++k) {
                const topolib::Vector3D& p = t->vertices[k]->pos;
                corner =
                    corner || (std::fabs(p.x - r[0]) < 1e-5 && std::fabs(p.y - r[1]) < 1e-5 && p.z == r[2]);
            }
            EXPECT_TRUE(corner);
        }
    }
}

// An upside-down cone whose tip is shared by a hundred blades more than a
// vertex's incident list holds, closed by a flat top: a vertical line through
// the tip crosses the surface there once, however many blades meet it (each
// blade past the list used to count the crossing again, and append the whole
// list again to the marked triangles).
TEST(MeshOctreeBuild, insideTestCountsTheTipOfAFanPastItsListOnce) {
    const int blades = static_cast<int>(StlVertex::kMaxTriangles) + 100;
    auto rim = [&](int i) -> meshfixtures::Point {
        const double a = 2.0 * 3.14159265358979 * (i % blades) / blades;
        return {10.0 * std::cos(a), 10.0 * std::sin(a), 10.0};
    };
    TriangleSoup soup;
    for (int i = 0; i < blades; ++i)
        soup.push_back({{{0.0, 0.0, 0.0}, rim(i + 1), rim(i)}});
    for (int i = 1; i + 1 < blades; ++i)
        soup.push_back({{rim(0), rim(i), rim(i + 1)}});
    auto mesh = meshfixtures::buildMeshWithOctree(soup);
    ASSERT_NE(mesh->octree(), nullptr);
    ASSERT_EQ(mesh->shells().size(), 1u);
    const double inside[3] = {0.0, 0.0, 5.0}, above[3] = {0.0, 0.0, 15.0}, aside[3] = {3.0, 0.0, 8.0},
                 below[3] = {0.0, 0.0, -5.0};
    EXPECT_TRUE(mesh->isInsideByDownwardCount(inside));
    EXPECT_TRUE(mesh->isInsideByDownwardCount(aside));
    EXPECT_FALSE(mesh->isInsideByDownwardCount(above));
    EXPECT_FALSE(mesh->isInsideByDownwardCount(below));
}

} // namespace
