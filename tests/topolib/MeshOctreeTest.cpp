// The mesh octree: build rules, splitting, vertex lookup, copies, failure on
// exhausted memory, publication while another thread picks, and every
// single-tree query against a brute-force scan of all triangles.

#include "MeshFixtures.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/MeshOctree.h"
#include "topolib/OctreeKernels.h"
#include "topolib/StlObject.h"
#include "topolib/TriangleIntersection.h"
#include "topolib/TruncatedCone.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <random>
#include <set>
#include <thread>

namespace {

using topolib::MeshOctree;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;

std::unique_ptr<StlObject> meshWithOctree(const meshfixtures::TriangleSoup& soup) {
    meshfixtures::BuildSteps steps;
    steps.shells = false;
    auto mesh = meshfixtures::buildMesh(soup, steps);
    mesh->buildVertexOctree(false);
    mesh->buildTriangleOctree();
    return mesh;
}

struct Rng {
    std::mt19937_64 g;
    explicit Rng(unsigned seed) : g(seed) {}
    double u(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); }
    void inBox(const StlObject& m, double* p, double margin = 0.0) {
        for (int k = 0; k < 3; ++k)
            p[k] = u(m.bboxMin()[k] - margin, m.bboxMax()[k] + margin);
    }
    void unit(double* d) {
        double l2;
        do {
            for (int k = 0; k < 3; ++k)
                d[k] = u(-1, 1);
            l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        } while (l2 < 1e-3 || l2 > 1);
        for (int k = 0; k < 3; ++k)
            d[k] /= std::sqrt(l2);
    }
};

// Runs every single-tree query at random places and compares it with the same
// leaf test applied to every live triangle of the mesh. With a focus, the places
// lie within `spread` of it instead of anywhere in the box.
void expectQueriesMatchBruteForce(StlObject& mesh, unsigned seed, int cases, const double* focus = nullptr,
                                  double spread = 0.0) {
    const MeshOctree* tree = mesh.octree();
    ASSERT_NE(tree, nullptr);
    const double* o = mesh.octreeOrigin();
    const double e = mesh.octreeEdge();
    const auto& tris = mesh.triangles();
    Rng rng(seed);
    for (int i = 0; i < cases; ++i) {
        SCOPED_TRACE(i);
        double p[3], d[3];
        if (focus) {
            for (int k = 0; k < 3; ++k)
                p[k] = focus[k] + rng.u(-spread, spread);
        } else {
            rng.inBox(mesh, p, 1.0);
        }
        rng.unit(d);

        // Picking: the hit farthest along d.
        {
            double hit[3];
            StlTriangle* got = mesh.pickTriangle(p, d, hit);
            double best[3] = {p[0] - d[0] * 999999999.0, p[1] - d[1] * 999999999.0, p[2] - d[2] * 999999999.0};
            StlTriangle* want = nullptr;
            for (StlTriangle* t : tris) {
                double h[3];
                if (!t->isDeleted() && t->lineHit(p, d, h) &&
                    (h[0] - best[0]) * d[0] + (h[1] - best[1]) * d[1] + (h[2] - best[2]) * d[2] > 0.0) {
                    std::copy(h, h + 3, best);
                    want = t;
                }
            }
            ASSERT_EQ(got != nullptr, want != nullptr);
            if (want) {
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(hit[k], best[k], 1e-9);
            }
        }
        // Vertical line heights.
        {
            double low = 999999999999.0, want = 999999999999.0;
            tree->lowestTriangleAtXY(o, e, p, -1, &low, nullptr);
            for (StlTriangle* t : tris) {
                const double h = topolib::triangleHeightAt(t, p[0], p[1]);
                if (!t->isDeleted() && t->group() == -1 && h > -1e-6 && h < want)
                    want = h;
            }
            EXPECT_EQ(low, want);

            double high = -1.0, wantHigh = -1.0, normal[3] = {0, 0, 0};
            tree->highestUpFacingTriangleBelow(o, e, p, p[2], &high, normal);
            for (StlTriangle* t : tris) {
                if (t->isDeleted() || !(t->normal.z > 0.08715574))
                    continue;
                const double h = topolib::triangleHeightAt(t, p[0], p[1]);
                if (h > wantHigh && h < p[2])
                    wantHigh = h;
            }
            EXPECT_EQ(high, wantHigh);
        }
        // Support column landing: the octree keeps the highest point below u.
        {
            const double r = rng.u(0.05, 1.0);
            double best[3] = {0, 0, -1.0}, n[3];
            tree->highestUpFacingPointWithin(o, e, 5, p, r, p[2], best, n);
            double wantZ = -1.0;
            for (StlTriangle* t : tris) {
                if (t->isDeleted() || !(t->normal.z > 1e-5))
                    continue;
                if (t->containsPointXY(p)) {
                    const auto& v0 = t->vertices[0]->pos;
                    const double h = v0.z + ((v0.y - p[1]) * t->normal.y + (v0.x - p[0]) * t->normal.x) / t->normal.z;
                    if (h < p[2])
                        wantZ = std::max(wantZ, h);
                    if (h > -1e-6 + wantZ)
                        continue;
                }
                for (int k = 0; k < 3; ++k) {
                    const auto& a = t->vertices[k]->pos;
                    const auto& b = t->vertices[(k + 1) % 3]->pos;
                    if (!(topolib::pointSegmentDistSq2D(p, a.data(), b.data()) < r * r))
                        continue;
                    const double ex = b.x - a.x, ey = b.y - a.y, ee = ex * ex + ey * ey;
                    double s = ee > 0 ? ((p[0] - a.x) * ex + (p[1] - a.y) * ey) / ee : (b.z > a.z ? 1.0 : 0.0);
                    s = std::min(1.0, std::max(0.0, s));
                    const double z = a.z + s * (b.z - a.z);
                    if (z < p[2])
                        wantZ = std::max(wantZ, z);
                }
            }
            EXPECT_NEAR(best[2], wantZ, 1e-9);
        }
        // Downward crossing count (walk-marked, so a shared vertex counts once).
        {
            int count = 0;
            std::vector<StlTriangle*> touched;
            tree->countCrossingsBelow(o, e, p, &count, touched);
            for (StlTriangle* t : touched)
                t->setWalkMark(0);
            int want = 0;
            touched.clear();
            for (StlTriangle* t : tris) {
                if (t->isDeleted() || t->walkMark() == 1)
                    continue;
                const std::size_t before = touched.size();
                const double h = topolib::triangleHeightAtMarking(t, p[0], p[1], touched);
                if (touched.size() > before && h < p[2] - 0.001)
                    want += t->normal.z > 0.0 ? 1 : -1;
            }
            for (StlTriangle* t : touched)
                t->setWalkMark(0);
            EXPECT_EQ(count, want);
        }
        // Upward ray: every hit triangle once.
        {
            std::set<StlTriangle*> got, want;
            tree->collectRayHits(o, e, p, d, &got);
            for (StlTriangle* t : tris) {
                if (!t->isDeleted() && topolib::rayHitsTriangle(t, p, d))
                    want.insert(t);
            }
            EXPECT_EQ(got, want);
            EXPECT_EQ(tree->collectRayHits(o, e, p, d, nullptr), !want.empty());
        }
        // Support shapes.
        {
            const double cyl[8] = {rng.u(0.01, 1.0), rng.u(0.1, 5.0), p[0], p[1], p[2], d[0], d[1], d[2]};
            bool want = false;
            for (StlTriangle* t : tris)
                want = want || (!t->isDeleted() && topolib::triangleIntersectsCylinder(t, cyl + 2, cyl + 5, cyl, cyl + 1));
            EXPECT_EQ(tree->anyTriangleInCylinder(o, e, cyl), want);

            double p2[3] = {p[0] + d[0] * 3, p[1] + d[1] * 3, p[2] + d[2] * 3};
            double r1 = rng.u(0.01, 0.3), r2 = r1 + rng.u(0.01, 1.0);
            Misc::VBTruncatedCone cone;
            cone.set(p, p2, &r1, &r2);
            bool wantCone = false;
            for (StlTriangle* t : tris)
                wantCone = wantCone || (!t->isDeleted() && topolib::triangleIntersectsTruncatedCone(t, &cone));
            EXPECT_EQ(tree->anyTriangleInTruncatedCone(o, e, cone), wantCone);
        }
    }
}

TEST(MeshOctree, queriesMatchBruteForceOnTheTorus) {
    auto mesh = meshWithOctree(meshfixtures::torus(20.0, 6.0, 60, 30));
    expectQueriesMatchBruteForce(*mesh, 11, 300);
}

// A broken file can hold thousands of facets round one shared point. No split
// ever separates them (each child round the point holds them all again), so the
// tree must stop splitting there rather than copy them down to the level limit:
// it stays in proportion to the facets, and answers as a scan of all of them,
// near the point too.
TEST(MeshOctree, facetsRoundOneSharedPointKeepTheTreeInProportion) {
    // The hub sits at the centre of the box, so that it lies on the corner shared
    // by the eight children of every cube round it: the worst place for copies.
    const meshfixtures::Point hub = {10.0, 10.0, 10.0};
    meshfixtures::TriangleSoup soup = meshfixtures::cube(20.0);
    std::mt19937_64 g(17);
    auto u = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); };
    auto towards = [&](double len) -> meshfixtures::Point {
        double d[3], l2;
        do {
            for (double& x : d)
                x = u(-1, 1);
            l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        } while (l2 < 1e-3 || l2 > 1);
        const double s = len / std::sqrt(l2);
        return {hub[0] + d[0] * s, hub[1] + d[1] * s, hub[2] + d[2] * s};
    };
    // Blades in every direction, and a few loose facets near the hub. The blades
    // face down: the column landing keeps the first of equal candidates it meets,
    // which depends on the order of the leaves, so it is asked of the other facets.
    for (int i = 0; i < 3000; ++i) {
        meshfixtures::Facet f{{hub, towards(u(0.5, 2.0)), towards(u(0.5, 2.0))}};
        if (meshfixtures::facetCross(f)[2] > 0.0)
            std::swap(f.v[1], f.v[2]);
        soup.push_back(f);
    }
    for (int i = 0; i < 20; ++i) {
        const meshfixtures::Point a = towards(u(0.2, 3.0));
        soup.push_back({{a, {a[0] + 0.3, a[1], a[2]}, {a[0], a[1] + 0.3, a[2] + 0.1}}});
    }
    auto mesh = meshWithOctree(soup);
    const MeshOctree* tree = mesh->octree();
    ASSERT_NE(tree, nullptr);
    const std::size_t facets = mesh->triangleCount();
    ASSERT_EQ(facets, 3032u);

    std::size_t entries = 0;
    std::set<StlTriangle*> filed;
    tree->forEachLeaf(mesh->octreeOrigin(), mesh->octreeEdge(),
                      [&](const double*, double, const std::vector<StlVertex*>&, const std::vector<StlTriangle*>& ts) {
                          entries += ts.size();
                          filed.insert(ts.begin(), ts.end());
                      });
    EXPECT_EQ(filed.size(), facets);
    EXPECT_LE(tree->nodeCount(), facets / 2);
    EXPECT_LE(entries, 16 * facets);

    expectQueriesMatchBruteForce(*mesh, 23, 150);
    expectQueriesMatchBruteForce(*mesh, 29, 150, hub.data(), 0.01);
    expectQueriesMatchBruteForce(*mesh, 31, 150, hub.data(), 1.5);
}

// The icosphere of about 1.3 million triangles is built once for the suite.
class MeshOctreeLarge : public ::testing::Test {
protected:
    static void SetUpTestSuite() { mesh = meshWithOctree(meshfixtures::icosphere(50.0, 8)).release(); }
    static void TearDownTestSuite() {
        delete mesh;
        mesh = nullptr;
    }
    static StlObject* mesh;
};
StlObject* MeshOctreeLarge::mesh = nullptr;

TEST_F(MeshOctreeLarge, queriesMatchBruteForceOnALargeIcosphere) {
    ASSERT_EQ(mesh->triangleCount(), 1310720u);
    expectQueriesMatchBruteForce(*mesh, 12, 6);
}

TEST_F(MeshOctreeLarge, everyTriangleStandsInALeafItTouches) {
    std::vector<int> seen(mesh->triangleCount(), 0);
    mesh->octree()->forEachLeaf(mesh->octreeOrigin(), mesh->octreeEdge(),
                                [&](const double* o, double e, const std::vector<StlVertex*>&,
                                    const std::vector<StlTriangle*>& ts) {
                                    for (StlTriangle* t : ts) {
                                        EXPECT_TRUE(topolib::triangleOverlapsCube(t, o, e));
                                        seen[static_cast<std::size_t>(t->id)] = 1;
                                    }
                                });
    for (StlTriangle* t : mesh->triangles())
        ASSERT_TRUE(t->isDeleted() || seen[static_cast<std::size_t>(t->id)]) << t->id;
}

TEST(MeshOctree, minimumCellFollowsTheTriangleCount) {
    // 10000 triangles: d/15; 10001: d / trunc(sqrt(10001 / 60)) = d/12.
    const auto sphere = meshfixtures::uvSphere(10.0, 100, 51);
    const auto withOneMore = meshfixtures::concatenated(sphere, meshfixtures::singleFacet(1.0));
    struct Case {
        const meshfixtures::TriangleSoup* soup;
        std::uint32_t triangles;
        double divisor;
    } cases[] = {{&sphere, 10000, 15.0}, {&withOneMore, 10001, 12.0}};
    for (const Case& c : cases) {
        auto mesh = meshWithOctree(*c.soup);
        ASSERT_EQ(mesh->triangleCount(), c.triangles);
        EXPECT_DOUBLE_EQ(mesh->octreeMinCell(), mesh->diagonal() / c.divisor) << c.triangles;
    }
}

TEST(MeshOctree, tinyMeshGetsNoTreeAndPicksNothing) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::singleFacet(1e-7));
    mesh->buildVertexOctree(false);
    mesh->buildTriangleOctree();
    EXPECT_EQ(mesh->octree(), nullptr);
    const double q[3] = {0, 0, 1}, d[3] = {0, 0, -1};
    double hit[3] = {7, 7, 7};
    EXPECT_EQ(mesh->pickTriangle(q, d, hit), nullptr);
    EXPECT_EQ(hit[0], 7.0);
}

// Tiny triangles spread over one unit cell of a tree whose leaves have edge 1.
std::vector<std::unique_ptr<StlVertex>> verts;
std::vector<std::unique_ptr<StlTriangle>> smallTriangles(int n, unsigned seed) {
    std::vector<std::unique_ptr<StlTriangle>> out;
    Rng rng(seed);
    for (int i = 0; i < n; ++i) {
        double p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = rng.u(0.1, 0.9);
        const double q[3] = {p[0] + 0.01, p[1], p[2]}, r[3] = {p[0], p[1] + 0.01, p[2]};
        verts.push_back(std::make_unique<StlVertex>(p));
        verts.push_back(std::make_unique<StlVertex>(q));
        verts.push_back(std::make_unique<StlVertex>(r));
        auto t = std::make_unique<StlTriangle>();
        t->init(verts[verts.size() - 3].get(), verts[verts.size() - 2].get(), verts.back().get());
        t->id = i;
        out.push_back(std::move(t));
    }
    return out;
}

TEST(MeshOctree, leafSplitsOnlyPastThreeHundredFiftyTriangles) {
    const double origin[3] = {0, 0, 0};
    const double edge = 16.0, minCell = 1.5; // leaves of edge 1
    auto tris = smallTriangles(351, 5);
    MeshOctree tree;
    auto leavesWithItems = [&] {
        int n = 0;
        tree.forEachLeaf(origin, edge, [&](const double*, double, const auto&, const auto&) { ++n; });
        return n;
    };
    for (int i = 0; i < 350; ++i)
        ASSERT_EQ(tree.insertTriangle(minCell, origin, edge, tris[static_cast<std::size_t>(i)].get()),
                  MeshOctree::InsertResult::Stored);
    EXPECT_EQ(leavesWithItems(), 1);
    tree.insertTriangle(minCell, origin, edge, tris[350].get());
    EXPECT_GT(leavesWithItems(), 1);
    // Nothing is lost by the split.
    std::set<StlTriangle*> all;
    tree.forEachLeaf(origin, edge, [&](const double*, double, const auto&, const std::vector<StlTriangle*>& ts) {
        all.insert(ts.begin(), ts.end());
    });
    EXPECT_EQ(all.size(), 351u);
}

TEST(MeshOctree, vertexOnASharedFaceIsStoredOnceAndFoundAgain) {
    const double origin[3] = {0, 0, 0};
    const double edge = 4.0, minCell = 1.5; // leaves of edge 1
    MeshOctree tree;
    StlVertex v(1.0, 0.5, 0.5); // on the face between two leaf cubes
    ASSERT_EQ(tree.insertVertex(minCell, origin, edge, &v), MeshOctree::InsertResult::Stored);
    int copies = 0;
    tree.forEachLeaf(origin, edge, [&](const double*, double, const std::vector<StlVertex*>& vs, const auto&) {
        copies += static_cast<int>(vs.size());
    });
    EXPECT_EQ(copies, 1);

    std::vector<std::unique_ptr<StlVertex>> made;
    auto make = [&](const double p[3]) {
        made.push_back(std::make_unique<StlVertex>(p));
        return made.back().get();
    };
    bool found = false;
    const double near[3] = {1.0 + 5e-7, 0.5, 0.5};
    EXPECT_EQ(tree.findOrCreateVertex(minCell, origin, edge, near, &found, make), &v);
    EXPECT_TRUE(found);
    const double fresh[3] = {2.5, 2.5, 2.5};
    StlVertex* nv = tree.findOrCreateVertex(minCell, origin, edge, fresh, &found, make);
    ASSERT_NE(nv, nullptr);
    EXPECT_FALSE(found);
    EXPECT_EQ(nv->index, -1);
    EXPECT_EQ(tree.findOrCreateVertex(minCell, origin, edge, fresh, &found, make), nv);
    EXPECT_TRUE(found);
    const double outside[3] = {9, 9, 9};
    StlVertex outsider(outside);
    EXPECT_EQ(tree.findOrCreateVertex(minCell, origin, edge, outside, &found, make), nullptr);
    EXPECT_EQ(tree.insertVertex(minCell, origin, edge, &outsider), MeshOctree::InsertResult::Outside);
}

TEST(MeshOctree, exhaustedMemoryIsReportedAndKeepsWhatWasStored) {
    const double origin[3] = {0, 0, 0};
    const double edge = 16.0, minCell = 1.5;
    auto tris = smallTriangles(2000, 9);
    MeshOctree tree(8 * 1024); // room for a few dozen chunks
    std::set<StlTriangle*> stored;
    bool failed = false;
    for (auto& t : tris) {
        const auto r = tree.insertTriangle(minCell, origin, edge, t.get());
        if (r == MeshOctree::InsertResult::Stored)
            stored.insert(t.get());
        else
            failed = failed || r == MeshOctree::InsertResult::OutOfMemory;
    }
    EXPECT_TRUE(failed);
    EXPECT_LE(tree.memoryBytes(), 64u * 1024u);
    std::set<StlTriangle*> present;
    tree.forEachLeaf(origin, edge, [&](const double*, double, const auto&, const std::vector<StlTriangle*>& ts) {
        present.insert(ts.begin(), ts.end());
    });
    for (StlTriangle* t : stored)
        EXPECT_TRUE(present.count(t)) << t->id;
}

TEST(MeshOctree, picksStayRightAfterTranslationAndInACopy) {
    auto mesh = meshWithOctree(meshfixtures::cube(10.0));
    const double q[3] = {5, 5, 20}, d[3] = {0, 0, -1};
    double hit[3];
    // The line meets the top and the bottom; the hit farthest along d wins.
    StlTriangle* t = mesh->pickTriangle(q, d, hit);
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(hit[2], 0.0, 1e-12);

    const double shift[3] = {100, 0, 0};
    mesh->translate(shift);
    const double q2[3] = {105, 5, -20}, up[3] = {0, 0, 1};
    ASSERT_NE(mesh->pickTriangle(q2, up, hit), nullptr);
    EXPECT_NEAR(hit[2], 10.0, 1e-12);
    EXPECT_EQ(mesh->pickTriangle(q, d, hit), nullptr);

    StlObject copy(*mesh);
    mesh->copyMeshTo(&copy);
    mesh->copyOctreeTo(&copy);
    ASSERT_NE(copy.octree(), nullptr);
    StlTriangle* c = copy.pickTriangle(q2, up, hit);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c, copy.triangle(static_cast<std::uint32_t>(mesh->pickTriangle(q2, up, hit)->id)));
}

TEST(MeshOctree, pickingWhileAWorkerRebuildsSeesNoHalfBuiltTree) {
    auto mesh = meshWithOctree(meshfixtures::uvSphere(10.0, 64, 32));
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 20; ++i)
            mesh->rebuildOctree();
        done = true;
    });
    const double q[3] = {0.5, 0.3, 50}, d[3] = {0, 0, -1};
    int answered = 0;
    while (!done) {
        double hit[3];
        if (StlTriangle* t = mesh->pickTriangle(q, d, hit)) {
            ++answered;
            EXPECT_NEAR(hit[2], -10.0, 0.1); // the far side of the sphere
            EXPECT_FALSE(t->isDeleted());
        }
    }
    worker.join();
    double hit[3];
    EXPECT_NE(mesh->pickTriangle(q, d, hit), nullptr);
    static_cast<void>(answered);
}

} // namespace
