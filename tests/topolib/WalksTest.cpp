// Neighbourhood walks: the lowest-point test of the supports, the lowest-edge step
// and the rim steps.
#include "MeshFixtures.h"

#include "topolib/NeighbourhoodWalks.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <vector>

using namespace topolib;
using meshfixtures::Facet;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;

namespace {

StlVertex* vertexAt(StlObject& mesh, double x, double y, double z) {
    const Vector3D p(x, y, z);
    for (StlVertex* v : mesh.vertices())
        if (v->pos == p)
            return v;
    return nullptr;
}

// A closed cone standing on its tip at the origin: the side faces outward and
// downward, a cap closes it at height h.
TriangleSoup tipDownCone(double radius, double h, int segments) {
    TriangleSoup soup;
    const Point apex = {0, 0, 0};
    const Point centre = {0, 0, h};
    for (int i = 0; i < segments; ++i) {
        const double a0 = 2 * M_PI * i / segments;
        const double a1 = 2 * M_PI * (i + 1) / segments;
        const Point p0 = {radius * std::cos(a0), radius * std::sin(a0), h};
        const Point p1 = {radius * std::cos(a1), radius * std::sin(a1), h};
        soup.push_back(Facet{{apex, p1, p0}});
        soup.push_back(Facet{{centre, p0, p1}});
    }
    return soup;
}

// The underside of a part as a height field over a (2n+1)² grid of unit cells
// centred on the origin, facing downward; z(i, j) by ring (max(|i|, |j|)).
TriangleSoup downwardHeightField(int n, const std::vector<double>& ringHeight) {
    TriangleSoup soup;
    auto at = [&](int i, int j) -> Point {
        return {double(i), double(j), ringHeight[std::max(std::abs(i), std::abs(j))]};
    };
    for (int i = -n; i < n; ++i)
        for (int j = -n; j < n; ++j) {
            soup.push_back(Facet{{at(i, j), at(i + 1, j + 1), at(i + 1, j)}});
            soup.push_back(Facet{{at(i, j), at(i, j + 1), at(i + 1, j + 1)}});
        }
    return soup;
}

// A flat n × n grid of unit squares facing up, without the squares listed in holes.
TriangleSoup gridWithHoles(int n, const std::set<std::pair<int, int>>& holes) {
    TriangleSoup soup;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if (holes.count({i, j}))
                continue;
            const Point p00 = {double(i), double(j), 0}, p10 = {double(i + 1), double(j), 0};
            const Point p11 = {double(i + 1), double(j + 1), 0}, p01 = {double(i), double(j + 1), 0};
            soup.push_back(Facet{{p00, p10, p11}});
            soup.push_back(Facet{{p00, p11, p01}});
        }
    return soup;
}

// A prism of length `length` (x) standing on a horizontal keel along the x axis:
// two walls rising at 45 degrees, a flat top at z = 1, one unit segments along x.
TriangleSoup keelPrism(int length) {
    TriangleSoup soup;
    auto quad = [&soup](const Point& a, const Point& b, const Point& c, const Point& d) {
        soup.push_back(Facet{{a, b, c}});
        soup.push_back(Facet{{a, c, d}});
    };
    for (int i = 0; i < length; ++i) {
        const double x0 = i, x1 = i + 1;
        const Point k0 = {x0, 0, 0}, k1 = {x1, 0, 0};
        const Point l0 = {x0, -1, 1}, l1 = {x1, -1, 1};
        const Point r0 = {x0, 1, 1}, r1 = {x1, 1, 1};
        quad(k0, r0, r1, k1); // the wall towards +y faces (0, 1, -1)
        quad(k0, k1, l1, l0); // the wall towards -y faces (0, -1, -1)
        quad(l0, l1, r1, r0); // top faces up
    }
    const Point k0 = {0, 0, 0}, l0 = {0, -1, 1}, r0 = {0, 1, 1};
    soup.push_back(Facet{{k0, l0, r0}});
    const Point kn = {double(length), 0, 0}, ln = {double(length), -1, 1}, rn = {double(length), 1, 1};
    soup.push_back(Facet{{kn, rn, ln}});
    return soup;
}

void expectNoMarksLeft(const StlObject& mesh) {
    for (const StlVertex* v : mesh.vertices())
        ASSERT_EQ(v->mark(), 0u) << "vertex " << v->index;
    for (const StlTriangle* t : mesh.triangles())
        ASSERT_EQ(t->walkMark(), 0u) << "triangle " << t->id;
}

} // namespace

TEST(NeighbourhoodWalks, lowestVertexNeedsAPitWithNothingLowerNearby) {
    struct Case {
        const char* name;
        TriangleSoup soup;
        Point vertex;
        double depth;
        bool expected;
    };
    const Case cases[] = {
        {"tip of a cone standing on it, neighbours above the band",
         tipDownCone(5, 3, 12),
         {0, 0, 0},
         1.0,
         true},
        {"tip of a cone standing on it, region grown", tipDownCone(5, 3, 12), {0, 0, 0}, 10.0, true},
        {"bottom of a crater faces up", meshfixtures::flipped(tipDownCone(5, 3, 12)), {0, 0, 0}, 1.0, false},
        {"cone tip on top has lower neighbours",
         meshfixtures::flipped(tipDownCone(5, -3, 12)),
         {0, 0, 0},
         1.0,
         false},
        {"neighbour at the same height", downwardHeightField(2, {0.0, 0.0, 1.0}), {0, 0, 0}, 1.0, false},
        {"shallow dip, falling below beyond its rim",
         downwardHeightField(2, {0.0, 0.5, -1.0}),
         {0, 0, 0},
         2.0,
         false},
        {"shallow dip inside a rising bowl", downwardHeightField(2, {0.0, 0.5, 3.0}), {0, 0, 0}, 2.0, true},
        {"dip deeper than the depth band", downwardHeightField(2, {0.0, 0.5, -1.0}), {0, 0, 0}, 0.25, true},
    };
    for (const Case& c : cases) {
        auto mesh = meshfixtures::buildMesh(c.soup);
        StlVertex* v = vertexAt(*mesh, c.vertex[0], c.vertex[1], c.vertex[2]);
        ASSERT_NE(v, nullptr) << c.name;
        EXPECT_EQ(isLocalLowestVertex(v, c.depth), c.expected) << c.name;
        expectNoMarksLeft(*mesh);
    }
}

TEST(NeighbourhoodWalks, vertexOfDeletedTrianglesIsNoLowestPoint) {
    auto mesh = meshfixtures::buildMesh(tipDownCone(5, 3, 12));
    StlVertex* tip = vertexAt(*mesh, 0, 0, 0);
    ASSERT_TRUE(isLocalLowestVertex(tip, 1.0));
    for (StlTriangle* t : *tip)
        t->setDeleted(true);
    EXPECT_FALSE(isLocalLowestVertex(tip, 1.0));
    expectNoMarksLeft(*mesh);
}

TEST(NeighbourhoodWalks, lowestEdgeStepFollowsTheKeelAndVisitsEachEdgeOnce) {
    auto mesh = meshfixtures::buildMesh(keelPrism(4));
    StlVertex* middle = vertexAt(*mesh, 2, 0, 0);
    ASSERT_NE(middle, nullptr);
    double length = 0.0;
    std::set<StlVertex*> reached;
    for (int step = 0; step < 2; ++step) {
        StlVertex* next = middle->nextLowestEdgeVertex(&length);
        ASSERT_NE(next, nullptr) << step;
        EXPECT_EQ(next->y(), 0.0);
        EXPECT_EQ(next->z(), 0.0);
        reached.insert(next);
    }
    EXPECT_EQ(reached.size(), 2u) << "the second call takes the other keel edge";
    EXPECT_DOUBLE_EQ(length, 2.0);
    EXPECT_EQ(middle->nextLowestEdgeVertex(&length), nullptr);
    EXPECT_DOUBLE_EQ(length, 2.0);

    // Walking the whole chain from one end reaches the other end.
    for (StlEdge* e : mesh->edges())
        e->clearMarks();
    StlVertex* v = vertexAt(*mesh, 0, 0, 0);
    length = 0.0;
    int steps = 0;
    while ((v = v->nextLowestEdgeVertex(&length)) != nullptr)
        ++steps;
    EXPECT_EQ(steps, 4);
    EXPECT_DOUBLE_EQ(length, 4.0);
}

namespace {

// Follows a rim from start until it closes or stops, marking each edge taken.
std::vector<StlVertex*> followRim(StlVertex* start, bool reverse, const StlShell* shell = nullptr) {
    std::vector<StlVertex*> rim = {start};
    StlEdge* edge = nullptr;
    StlVertex* v = start;
    for (int guard = 0; guard < 100; ++guard) {
        StlVertex* next =
            shell ? v->nextShellRimVertex(&edge, shell, reverse) : v->nextRimVertex(&edge, reverse);
        if (!next)
            break;
        edge->flags |= 2u;
        if (next == start)
            break;
        rim.push_back(next);
        v = next;
    }
    return rim;
}

} // namespace

TEST(NeighbourhoodWalks, rimWalkStaysOnItsHoleWhereTwoHolesTouch) {
    // Holes at squares (1, 1) and (2, 2) share the corner (2, 2).
    for (bool reverse : {false, true}) {
        auto mesh = meshfixtures::buildMesh(gridWithHoles(4, {{1, 1}, {2, 2}}));
        const std::vector<StlVertex*> rim = followRim(vertexAt(*mesh, 1, 1, 0), reverse);
        ASSERT_EQ(rim.size(), 4u) << reverse;
        for (const StlVertex* v : rim) {
            EXPECT_TRUE(v->x() >= 1 && v->x() <= 2 && v->y() >= 1 && v->y() <= 2) << reverse;
        }
        // Backwards and forwards go round in opposite senses.
        EXPECT_EQ(rim[1]->x() == 2.0, !reverse);
    }
}

TEST(NeighbourhoodWalks, rimStepWithoutOpenEdgeKeepsTheIncomingEdge) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::cube(10.0));
    StlEdge* incoming = mesh->edge(0);
    StlEdge* edge = incoming;
    EXPECT_EQ(vertexAt(*mesh, 0, 0, 0)->nextRimVertex(&edge, false), nullptr);
    EXPECT_EQ(edge, incoming);
}

TEST(NeighbourhoodWalks, shellRimWalkGoesRoundTheOpenBoxEitherWay) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::openBox(10.0));
    mesh->findShells(false, 0);
    ASSERT_FALSE(mesh->shells().empty());
    const StlShell* shell = mesh->shells().front();
    for (bool reverse : {false, true}) {
        for (StlEdge* e : mesh->edges())
            e->clearMarks();
        const std::vector<StlVertex*> rim = followRim(vertexAt(*mesh, 0, 0, 10), reverse, shell);
        ASSERT_EQ(rim.size(), 4u) << reverse;
        for (const StlVertex* v : rim)
            EXPECT_EQ(v->z(), 10.0);
    }
    // Another shell's rim is not this one's.
    StlShell other;
    StlEdge* edge = nullptr;
    EXPECT_EQ(vertexAt(*mesh, 0, 0, 10)->nextShellRimVertex(&edge, &other, false), nullptr);
}

TEST(NeighbourhoodWalks, lowestVerticesOfAPassAreThoseOfTheTestsOneByOne) {
    // Noisy downward surfaces (pits, dents and flats), some vertices marked as a
    // lowest-chain walk leaves them and some facets deleted: the pass gives every
    // vertex the answer the single test gives it when the marks of the vertices
    // before it are cleared, and leaves the marks as they were.
    std::mt19937 rng(20261209);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int lowest = 0, walled = 0;
    for (int round = 0; round < 24; ++round) {
        const int n = 14 + round % 5;
        const double noise = round % 3 == 0 ? 0.02 : (round % 3 == 1 ? 0.2 : 1.0);
        const double slope = round % 4 == 0 ? 0.05 : 0.0;
        std::vector<double> z((n + 1) * (n + 1));
        for (double& h : z)
            h = noise * unit(rng);
        // Plateaus of equal heights.
        for (int k = 0; k < n; ++k)
            z[static_cast<std::size_t>(rng() % z.size())] = 0.5 * noise;
        TriangleSoup soup;
        auto at = [&](int i, int j) -> Point {
            return {double(i), double(j), z[static_cast<std::size_t>(i * (n + 1) + j)] + slope * i};
        };
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                soup.push_back(Facet{{at(i, j), at(i + 1, j + 1), at(i + 1, j)}});
                soup.push_back(Facet{{at(i, j), at(i, j + 1), at(i + 1, j + 1)}});
            }
        auto mesh = meshfixtures::buildMesh(soup);
        for (StlVertex* v : mesh->vertices()) {
            const double r = unit(rng);
            v->setMark(r < 0.12 ? 1u : (r < 0.16 ? 3u : (r < 0.18 ? 2u : 0u)));
        }
        if (round % 2 == 1)
            for (StlTriangle* t : mesh->triangles())
                t->setDeleted(unit(rng) < 0.05);
        std::vector<uint32_t> marks;
        for (const StlVertex* v : mesh->vertices())
            marks.push_back(v->mark());
        const double depth = round % 4 == 3 ? 1.5 : 0.35 * noise;

        const std::vector<uint8_t> pass = localLowestVerticesInTurn(*mesh, depth);
        for (std::size_t i = 0; i < marks.size(); ++i)
            ASSERT_EQ(mesh->vertices()[i]->mark(), marks[i]) << "round " << round << " vertex " << i;
        ASSERT_EQ(pass.size(), marks.size());
        for (std::size_t i = 0; i < marks.size(); ++i) {
            StlVertex* v = mesh->vertices()[i];
            bool expected = false;
            if (v->mark() == 0 && v->hasTriangleList())
                expected = isLocalLowestVertex(v, depth);
            EXPECT_EQ(pass[i] != 0, expected) << "round " << round << " vertex " << i;
            lowest += expected ? 1 : 0;
            v->setMark(0);
        }
        // The marked vertices do wall off some tests: with every mark cleared
        // some answers differ.
        for (std::size_t i = 0; i < marks.size(); ++i) {
            StlVertex* v = mesh->vertices()[i];
            walled +=
                marks[i] == 0 && v->hasTriangleList() && (pass[i] != 0) != isLocalLowestVertex(v, depth);
        }
        for (const StlTriangle* t : mesh->triangles())
            ASSERT_EQ(t->walkMark(), 0u);
    }
    EXPECT_GT(lowest, 100);
    EXPECT_GT(walled, 10);
}
