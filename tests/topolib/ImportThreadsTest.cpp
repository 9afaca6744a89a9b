// The import steps on several threads (corner sort, weld, edge building, the
// shell search's table of neighbours and its filing) against the same steps on one thread: every
// mesh must come out in the same state, awkward input included. On one thread
// the shell search's table against its direct walk.
#include "MeshFixtures.h"
#include "MeshStateHash.h"

#include "app/Platform.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <thread>
#include <vector>

#include <sched.h>

using namespace topolib;
using namespace meshfixtures;

namespace {

// Restores the thread rule when a test ends.
struct ForcedThreads {
    explicit ForcedThreads(unsigned threads) { forceImportThreads(threads); }
    ~ForcedThreads() { forceImportThreads(0); }
};

// A big closed torus for the mesh's size (so that the weld tolerance is 1e-6)
// and, near the origin where floats resolve that tolerance, the cases the
// steps must decide alike: points within the tolerance of a run's first
// corner and chains that are not; triangles whose corners weld into one
// vertex (their earlier sides keep edges of their own, later live triangles
// on the same pair make new ones); collinear facets; exact repeats apart
// from each other (edges of four triangles); a flat grid at one x (long runs
// of equal x); reversed facets and separate shells. Then shuffled, unless
// `inFacetOrder` (the torus then comes first, in its order, the repeats last).
TriangleSoup awkwardSoup(unsigned seed, bool inFacetOrder = false) {
    std::mt19937 rng(seed);
    TriangleSoup soup = torus(60.0, 20.0, 90, 40, {100.0, 0.0, 0.0});
    const TriangleSoup ball = icosphere(0.5, 3, {0.0, 0.0, 3.0});
    soup = concatenated(soup, ball);
    soup = concatenated(soup, flipped(icosphere(0.25, 2, {0.0, 2.0, 3.0})));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 400; ++i) {
        const Point a = {0.25 * unit(rng), 0.25 * unit(rng), 0.25 * unit(rng)};
        const Point b = {a[0] + 0.01, a[1] + 0.02 * unit(rng), a[2]};
        const double d = (i % 4) * 4e-7; // 0 to 1.2e-6: some weld, some do not
        const Point aNear = {a[0] + d, a[1], a[2] + d * 0.5};
        const Point c = {a[0] + 0.005, a[1] + 0.01, a[2] + 0.01};
        soup.push_back({{a, b, aNear}});                    // weld: a b a
        soup.push_back({{a, b, c}});                        // a live triangle on pair a-b
        soup.push_back({{b, aNear, c}});                    // and one on b-a'
        if (i % 8 < 3) {
            // After the live one on a-b: one whose corners weld (both its
            // sides take the live one's edge), then another live one there.
            const Point bNear = {b[0] + d, b[1], b[2]};
            soup.push_back({{b, a, bNear}});
            soup.push_back({{b, a, {b[0], b[1] - 0.01, b[2] + 0.01}}});
        }
        soup.push_back({{a, c, {c[0] + 0.01, c[1], c[2]}}});
        soup.push_back({{a, {a[0] + 0.5, a[1], a[2]}, {a[0] + 1.0, a[1], a[2]}}}); // collinear
    }
    // A chain of corners 0.9e-6 apart in x: each within the tolerance of its
    // neighbour, not of the run's first.
    for (int i = 0; i < 300; ++i) {
        const double x = -0.5 + i * 0.9e-6;
        soup.push_back({{{x, 0.7, 0.7}, {x + 0.02, 0.75, 0.7}, {x, 0.75, 0.72}}});
    }
    // A flat grid in the plane x = 0.9.
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 60; ++j) {
            const Point p00 = {0.9, i * 0.01, j * 0.01}, p10 = {0.9, (i + 1) * 0.01, j * 0.01};
            const Point p01 = {0.9, i * 0.01, (j + 1) * 0.01}, p11 = {0.9, (i + 1) * 0.01, (j + 1) * 0.01};
            soup.push_back({{p00, p10, p11}});
            soup.push_back({{p00, p11, p01}});
        }
    if (!inFacetOrder)
        std::shuffle(soup.begin(), soup.end(), rng);
    // Exact repeats, none next to its original.
    const std::size_t base = soup.size();
    for (std::size_t i = 0; i < base; i += 37)
        soup.push_back(soup[i]);
    if (!inFacetOrder)
        std::shuffle(soup.begin() + static_cast<std::ptrdiff_t>(base / 2), soup.end(), rng);
    return soup;
}

// Nine thousand separate boxes, some with a facet turned, some open (a facet
// missing): more shells than the threaded shell search boxes one by one on
// every thread. Shuffled, their corners lie on a grid through the origin, and
// where x, y or z is 0 a box has it as +0 on some corners and -0 on others,
// so that which zero a shell's box keeps depends on the order in which the
// search reached the corners.
TriangleSoup manyShells(bool shuffled) {
    TriangleSoup soup;
    const double off = shuffled ? 0.0 : 0.25;
    for (int i = 0; i < 9000; ++i) {
        const Point origin = {(i % 30) - 15.0 + off, ((i / 30) % 30) - 15.0 + off, (i / 900) - 5.0 + off};
        TriangleSoup part = box({0.5, 0.5, 0.5}, origin);
        for (Facet& f : part)
            for (Point& p : f.v)
                for (int a = 0; a < 3; ++a)
                    if (p[a] == 0.0 && p[(a + 1) % 3] > origin[(a + 1) % 3])
                        p[a] = -0.0;
        if (i % 7 == 3)
            part = flipped(part, 4);
        if (i % 11 == 5)
            part.pop_back();
        soup.insert(soup.end(), part.begin(), part.end());
    }
    if (shuffled)
        std::shuffle(soup.begin(), soup.end(), std::mt19937(5));
    return soup;
}

uint64_t importedHash(const TriangleSoup& soup, unsigned threads) {
    ForcedThreads forced(threads);
    auto mesh = buildMesh(soup);
    return meshstate::stateHash(*mesh);
}

} // namespace

TEST(ImportThreads, everyStepGivesTheStateOfOneThread) {
    struct Case {
        const char* name;
        TriangleSoup soup;
    };
    TriangleSoup shuffledTorus = torus(30.0, 10.0, 200, 100);
    std::shuffle(shuffledTorus.begin(), shuffledTorus.end(), std::mt19937(3));
    const Case cases[] = {
        {"torus", torus(30.0, 10.0, 200, 100)},
        {"shuffled torus", shuffledTorus},
        {"awkward", awkwardSoup(11)},
        {"awkward, other order", awkwardSoup(12)},
        // Taken in facet order on threads: the repeats' edges are made in
        // another part than the one of their later triangles.
        {"awkward, in facet order", awkwardSoup(13, true)},
        {"many shells", manyShells(false)},
        {"many shells, shuffled", manyShells(true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t one = importedHash(c.soup, 1);
        // Up to three threads the edges are built in triangle order through
        // the vertices' chains, from four on by the threaded build.
        for (unsigned threads : {2u, 3u, 4u, 8u}) {
            SCOPED_TRACE(threads);
            EXPECT_EQ(importedHash(c.soup, threads), one);
        }
    }

    // The awkward soup does reach the cases it is made for.
    ForcedThreads forced(3);
    auto mesh = buildMesh(awkwardSoup(11));
    std::size_t deleted = 0, fourfold = 0, boundary = 0;
    for (const StlTriangle* t : mesh->triangles())
        deleted += t->isDeleted();
    for (const StlEdge* e : mesh->edges()) {
        fourfold += e->triangleCount() >= 4;
        boundary += e->edgeClass == kEdgeBoundary;
    }
    EXPECT_GT(deleted, 600u); // 400 collinear, the others welded
    EXPECT_GT(fourfold, 10u);
    EXPECT_GT(boundary, 100u);
    EXPECT_GT(mesh->shells().size(), 3u);
}

// On one thread the shell search keeps its table of neighbours in the
// triangles' records and walks that; a triangle whose id is not its index
// sends it back to the direct walk, after it has set back the ids it wrote
// over. Both must file the same shells, lists, classes and boxes (signed zeros
// included) and leave every other field as it was.
TEST(ImportThreads, shellTableInTheRecordsFilesWhatTheDirectWalkFiles) {
    struct Case {
        const char* name;
        TriangleSoup soup;
    };
    const Case cases[] = {
        {"awkward", awkwardSoup(21)},
        {"awkward, in facet order", awkwardSoup(22, true)},
        {"many shells", manyShells(false)},
        {"many shells, shuffled", manyShells(true)},
    };
    ForcedThreads forced(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = buildMesh(c.soup);
        const uint64_t byTable = meshstate::stateHash(*mesh);
        // The table is written over the ids in array order up to the wrong
        // one: early, halfway, last.
        std::vector<uint32_t> live;
        std::size_t idsOff = 0;
        for (uint32_t i = 0; i < mesh->triangleCount(); ++i) {
            idsOff += mesh->triangle(i)->id != static_cast<int32_t>(i);
            if (!mesh->triangle(i)->isDeleted())
                live.push_back(i);
        }
        EXPECT_EQ(idsOff, 0u) << "the walk sets every id back";
        ASSERT_FALSE(live.empty());
        for (uint32_t wrong : {live[1], live[live.size() / 2], live.back()}) {
            SCOPED_TRACE(wrong);
            StlTriangle* t = mesh->triangle(wrong);
            t->id = -1;
            mesh->findShells(false, 0);
            t->id = static_cast<int32_t>(wrong);
            EXPECT_EQ(meshstate::stateHash(*mesh), byTable);
        }
    }
}

// The edge build writes the shell search's table into the records as it
// joins the sides (on one thread through the chains, on more in triangle
// order), and the search takes it instead of its own pass. What the table
// says must not depend on who wrote it: a triangle deleted at a later side of
// its own leaves the one across its earlier side without a neighbour (a rim
// so lined counts as closed); an edge that gets a third triangle after two
// were joined makes the build give the table up and set back every id it
// wrote over, live or deleted third alike. On threads the box lies in the
// last part, whose sides join edges made in earlier parts too.
TEST(ImportThreads, shellTableOfTheEdgeBuildFilesWhatTheShellSearchsOwnFiles) {
    // A unit box beside a torus (of radius 40 at most).
    const Point o = {50.0, 0.0, 0.0};
    const Point x0y0z1 = {50.0, 0.0, 1.0}, x1y0z1 = {51.0, 0.0, 1.0}, x1y1z1 = {51.0, 1.0, 1.0},
                x0y1z1 = {50.0, 1.0, 1.0};
    const Point x0y0z0 = o, x1y0z0 = {51.0, 0.0, 0.0};
    TriangleSoup linedRim = openBox(1.0, o);
    for (const auto& side : {std::make_pair(x0y0z1, x1y0z1), std::make_pair(x1y0z1, x1y1z1),
                             std::make_pair(x1y1z1, x0y1z1), std::make_pair(x0y1z1, x0y0z1)})
        // Its last two corners weld into one: deleted at its second side.
        linedRim.push_back(
            {{side.first, side.second, Point{side.second[0], side.second[1], side.second[2] + 1e-7}}});
    TriangleSoup fin = cube(1.0, o);
    fin.push_back({{x0y0z0, x1y0z0, {50.5, -1.0, -1.0}}});
    TriangleSoup deletedFin = cube(1.0, o);
    deletedFin.push_back({{x0y0z0, x1y0z0, {51.0, 1e-7, 0.0}}});
    struct Case {
        const char* name;
        TriangleSoup soup;
        bool open;
    };
    const TriangleSoup ring = torus(30.0, 10.0, 40, 20);
    const Case cases[] = {
        {"rim lined with deleted triangles", concatenated(ring, linedRim), false},
        {"third triangle on a joined edge", concatenated(ring, fin), false},
        {"deleted third triangle on a joined edge", concatenated(ring, deletedFin), false},
        {"open box", concatenated(ring, openBox(1.0, o)), true},
    };
    for (const unsigned threads : {1u, 4u, 8u}) {
        SCOPED_TRACE(threads);
        ForcedThreads forced(threads);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            auto handed = buildMesh(c.soup);
            auto own = buildMesh(c.soup, BuildSteps{true, false});
            own->findShells(false, 85);
            EXPECT_EQ(meshstate::stateHash(*handed), meshstate::stateHash(*own));
            for (uint32_t i = 0; i < handed->triangleCount(); ++i)
                ASSERT_EQ(handed->triangle(i)->id, static_cast<int32_t>(i));
            const StlTriangle* boxFirst = handed->triangle(static_cast<uint32_t>(ring.size()));
            ASSERT_NE(boxFirst->shell, nullptr);
            EXPECT_EQ(boxFirst->shell->open != 0, c.open);
        }
    }
}

TEST(ImportThreads, anEdgeOverItsTriangleLimitIsBuiltAsOnOneThread) {
    // 130 blades on one edge among many facets: the edge keeps 126 triangles,
    // the others still point to it.
    TriangleSoup soup = torus(30.0, 10.0, 60, 30);
    for (int i = 0; i < 130; ++i) {
        const double a = 2.0 * 3.14159265358979 * i / 130;
        soup.push_back({{{0, 0, 0}, {0, 0, 10}, {5 * std::cos(a), 5 * std::sin(a), 5}}});
    }
    std::shuffle(soup.begin(), soup.end(), std::mt19937(5));
    const uint64_t one = importedHash(soup, 1);
    EXPECT_EQ(importedHash(soup, 4), one);
}

// A disc cut into a million blades, far more than a vertex's incident list
// can hold (the cap of a finely divided cylinder): the centre lists only some
// of them, yet every spoke joins its two blades, so the disc is one piece with
// its rim as the only boundary, on any number of threads. Each side at the
// centre finds its edge by its two ends; a walk past every edge made at the
// centre before it would take hours here.
// The same disc given as indexed triangles (as booleans and drain-hole tools
// make their meshes, vertices appended after a first piece) gets the same edges.
TEST(ImportThreads, aCornerOfMoreTrianglesThanItsListHoldsKeepsOneEdgePerSpoke) {
    const int blades = 1000000;
    const TriangleSoup disc = fan(blades, 10.0, 360.0);
    auto expectOneEdgePerSpoke = [&](const StlObject& mesh) {
        ASSERT_EQ(mesh.vertexCount(), static_cast<uint32_t>(blades) + 1 + 3);
        EXPECT_EQ(mesh.edgeCount(), 2u * static_cast<uint32_t>(blades) + 3);
        uint32_t boundary = 0;
        for (const StlEdge* e : mesh.edges()) {
            EXPECT_LE(e->triangleCount(), 2u);
            boundary += e->edgeClass == kEdgeBoundary ? 1 : 0;
        }
        EXPECT_EQ(boundary, static_cast<uint32_t>(blades) + 3);
    };
    // A lone triangle beside the disc, away from it.
    const Facet lone{{{50.0, 0.0, 0.0}, {51.0, 0.0, 0.0}, {50.0, 1.0, 0.0}}};
    TriangleSoup withLone = disc;
    withLone.push_back(lone);
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(threads);
        ForcedThreads forced(threads);
        auto mesh = buildMesh(withLone);
        expectOneEdgePerSpoke(*mesh);
        EXPECT_EQ(mesh->shells().size(), 2u);
    }

    StlObject indexed;
    std::vector<double> xyz;
    for (const Point& p : lone.v)
        xyz.insert(xyz.end(), {p[0], p[1], p[2]});
    const std::vector<int> first{0, 1, 2};
    ASSERT_TRUE(indexed.appendMesh(3, 1, xyz.data(), first.data()));
    xyz.assign({0.0, 0.0, 0.0});
    std::vector<int> indices;
    for (int i = 0; i < blades; ++i) {
        const Point& p = disc[static_cast<std::size_t>(i)].v[1];
        xyz.insert(xyz.end(), {p[0], p[1], p[2]});
        indices.insert(indices.end(), {0, 1 + i, 1 + (i + 1) % blades});
    }
    ASSERT_TRUE(indexed.appendMesh(blades + 1, static_cast<uint32_t>(blades), xyz.data(), indices.data()));
    indexed.buildEdges(false, 0, 0);
    expectOneEdgePerSpoke(indexed);
}

// The hub of a fan with its lists complete (20,000 blades, a cone's apex): on
// several threads a side there is decided from the shorter list of its two
// ends, on one thread the edges at the hub are found by their ends once its
// chain is long. The two give one state, in facet order and shuffled, with
// blades repeated (spokes of three and four triangles) and triangles whose
// corners weld into the hub (the edge their first side made is found no
// more: a later triangle on the same pair makes a new one).
TEST(ImportThreads, sidesAtTheHubOfAFanGiveTheStateOfOneThread) {
    const int blades = 20000;
    const TriangleSoup plain = cone(blades, 10.0, 10.0);
    TriangleSoup soup;
    for (int i = 0; i < blades; ++i) {
        const Facet& blade = plain[2 * static_cast<std::size_t>(i)]; // tip, rim i, rim i + 1
        soup.push_back(blade);
        soup.push_back(plain[2 * static_cast<std::size_t>(i) + 1]);
        if (i % 97 == 0)
            soup.push_back(blade);
        if (i % 89 == 0) {
            const Point& apex = blade.v[0];
            const Point off = {0.5 * std::cos(i * 0.001), 0.5 * std::sin(i * 0.001), 12.0};
            soup.push_back({{apex, off, apex}});
            soup.push_back({{apex, off, blade.v[1]}});
        }
    }
    for (bool shuffled : {false, true}) {
        SCOPED_TRACE(shuffled);
        TriangleSoup s = soup;
        if (shuffled)
            std::shuffle(s.begin(), s.end(), std::mt19937(9));
        const uint64_t one = importedHash(s, 1);
        EXPECT_EQ(importedHash(s, 4), one);
        EXPECT_EQ(importedHash(s, 8), one);
    }
}

// The corner sort cuts the x keys into ranges and sorts them one by one (on
// one thread, ranges chosen by a histogram of the keys' top bits): the welded
// vertices, made in sorted order, come out ordered by x whatever the keys'
// spread (one range far fuller than the rest, signed zeros, tiny and large
// values of both signs), and as on several threads.
TEST(ImportThreads, weldedVerticesComeInTheOrderOfTheirX) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    TriangleSoup soup;
    // A triangle at x whose corners lie far apart in y and z (none weld).
    auto spike = [&](double x) {
        const double y = 50.0 * unit(rng), z = 50.0 * unit(rng);
        soup.push_back({{{x, y, z}, {x + 0.5, y + 1.0, z}, {x, y + 0.5, z + 1.0}}});
    };
    for (int i = 0; i < 6000; ++i)
        spike(1.0 + i * 2.5e-7); // 12000 corners whose x keys share their top bits
    for (int i = 0; i < 3000; ++i) {
        const double magnitude = std::pow(10.0, 6.0 * unit(rng) - 3.0);
        spike(unit(rng) < 0.0 ? -magnitude : magnitude);
    }
    for (int i = 0; i < 50; ++i)
        spike(i % 2 ? 0.0 : -0.0);
    std::shuffle(soup.begin(), soup.end(), rng);

    ForcedThreads forced(1);
    auto mesh = buildMesh(soup);
    ASSERT_EQ(mesh->vertices().size(), 3 * soup.size());
    std::size_t outOfOrder = 0;
    for (std::size_t i = 1; i < mesh->vertices().size(); ++i)
        outOfOrder += mesh->vertices()[i]->pos.x < mesh->vertices()[i - 1]->pos.x;
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(importedHash(soup, 3), meshstate::stateHash(*mesh));
}

// A process held to fewer processors than the machine has (taskset, a
// container's cpuset) sizes its passes by those it may run on: eight threads
// on one processor would only take turns.
TEST(ImportThreads, passesUseOnlyTheProcessorsTheThreadMayRunOn) {
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    int first = 0;
    while (!CPU_ISSET(first, &all))
        ++first;
    unsigned onOne = 0;
    unsigned passOnOne = 0;
    std::thread held([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0)
            return;
        onOne = platform::usableProcessorCount();
        passOnOne = importThreads(std::size_t(1) << 24);
    });
    held.join();
    EXPECT_EQ(onOne, 1u);
    EXPECT_EQ(passOnOne, 1u);
    const unsigned free = std::min<unsigned>(static_cast<unsigned>(CPU_COUNT(&all)), 8u);
    EXPECT_LE(importThreads(std::size_t(1) << 24), free);
}
