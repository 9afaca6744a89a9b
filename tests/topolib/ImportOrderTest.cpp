// Orders an import promises whatever path it takes inside: welding numbers the
// points by x, then y, then z and lists each point's triangles in file order;
// the shell search of a whole mesh (which keeps reached triangles in a bit
// array) files the same shells as growing them seed by seed (by walk marks).
#include "MeshFixtures.h"

#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace meshfixtures;
using topolib::StlObject;
using topolib::StlShell;
using topolib::StlTriangle;

TriangleSoup shuffled(TriangleSoup soup, unsigned seed) {
    std::mt19937 rng(seed);
    std::shuffle(soup.begin(), soup.end(), rng);
    return soup;
}

// A strip of `quads` squares in the plane x = c, between y = 0 and y = quads.
TriangleSoup stripInPlaneX(double c, int quads) {
    TriangleSoup soup;
    for (int i = 0; i < quads; ++i) {
        const double y0 = i, y1 = i + 1;
        soup.push_back({{{c, y0, 0}, {c, y1, 0}, {c, y0, 1}}});
        soup.push_back({{{c, y1, 0}, {c, y1, 1}, {c, y0, 1}}});
    }
    return soup;
}

// Facets with two corners on the vertical line x = c, y = 0 (ten points, each in
// two facets) and the third corner elsewhere.
TriangleSoup ladderOnLine(double c) {
    TriangleSoup soup;
    for (int i = 0; i < 9; ++i)
        soup.push_back({{{c, 0, double(i)}, {c, 0, double(i + 1)}, {c + 1 + 0.1 * i, 5, double(i)}}});
    return soup;
}

struct ShellPrint {
    std::vector<int> primary;
    std::vector<int> reversed;
    int open = 0;
    uint32_t count = 0;
    std::vector<double> box;

    bool operator==(const ShellPrint& o) const {
        return primary == o.primary && reversed == o.reversed && open == o.open && count == o.count && box == o.box;
    }
};

ShellPrint printOf(const StlShell* s) {
    ShellPrint p;
    for (const StlTriangle* t : s->primaryTriangles)
        p.primary.push_back(t->id);
    for (const StlTriangle* t : s->reversedTriangles)
        p.reversed.push_back(t->id);
    p.open = s->open;
    p.count = s->triangleCount;
    p.box = {s->boxMin.x, s->boxMin.y, s->boxMin.z, s->boxMax.x, s->boxMax.y, s->boxMax.z};
    return p;
}

std::vector<ShellPrint> filedShells(const StlObject& mesh) {
    std::vector<ShellPrint> out;
    for (const StlShell* s : mesh.shells())
        out.push_back(printOf(s));
    return out;
}

std::vector<bool> orientation(const StlObject& mesh) {
    std::vector<bool> out;
    for (const StlTriangle* t : mesh.triangles())
        out.push_back(t->isReversed());
    return out;
}

// The shells growShell gives on its own, seed by seed in index order, ordered as
// the search files them (negligible ones at the back, the others at the front).
std::vector<ShellPrint> shellsSeedBySeed(StlObject& mesh) {
    std::deque<ShellPrint> order;
    for (StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted() || t->walkMark() != 0)
            continue;
        StlShell* s = mesh.growShell(t, false);
        if (mesh.isNegligibleShell(s))
            order.push_back(printOf(s));
        else
            order.push_front(printOf(s));
        delete s;
    }
    return {order.begin(), order.end()};
}

struct Case {
    std::string name;
    TriangleSoup soup;
};

std::vector<Case> shellCases() {
    const TriangleSoup ring = torus(10.0, 3.0, 60, 30);
    TriangleSoup flippedSome = shuffled(ring, 7);
    for (std::size_t i = 0; i < flippedSome.size(); i += 7)
        flippedSome = flipped(flippedSome, static_cast<long>(i));
    TriangleSoup parts = concatenated(ring, translated(openBox(5.0), {40, 0, 0}));
    parts = concatenated(parts, translated(cube(0.01), {-40, 0, 0}));
    parts = concatenated(parts, translated(singleFacet(2.0), {0, 40, 0}));
    parts = concatenated(parts, translated(flipped(icosphere(4.0, 2)), {0, -40, 0}));
    TriangleSoup repeated = cube(10.0);
    for (int i = 0; i < 12; i += 3)
        repeated.push_back(repeated[static_cast<std::size_t>(i)]); // repeated later: edges of three facets
    repeated.push_back({{{0, 0, 0}, {10, 0, 0}, {5, -8, 3}}});   // a fin on a cube edge
    return {
        {"closed torus in file order", ring},
        {"torus shuffled with every seventh facet flipped", flippedSome},
        {"parts: closed, open, tiny, single facet, inside out", shuffled(parts, 11)},
        {"repeated facets and a fin", repeated},
        {"fan of facets sharing one corner", fan(12, 10.0, 300.0)},
    };
}

TEST(ImportOrder, shellSearchFilesTheShellsThatSeedBySeedGrowthGives) {
    for (const Case& c : shellCases()) {
        SCOPED_TRACE(c.name);
        auto mesh = buildMesh(c.soup);
        const std::vector<ShellPrint> searched = filedShells(*mesh);
        const std::vector<bool> classes = orientation(*mesh);
        ASSERT_FALSE(searched.empty());

        EXPECT_TRUE(shellsSeedBySeed(*mesh) == searched);
        EXPECT_EQ(orientation(*mesh), classes);

        // A second search (walk marks left by the seed-by-seed walks) files the same.
        mesh->findShells(false, 0);
        EXPECT_TRUE(filedShells(*mesh) == searched);
        EXPECT_EQ(orientation(*mesh), classes);
        for (const StlTriangle* t : mesh->triangles())
            EXPECT_EQ(t->walkMark(), 0u);
    }
}

// Reference order of the welded points: by x, then y, then z.
bool pointLess(const topolib::Vector3D& a, const topolib::Vector3D& b) {
    if (a.x != b.x)
        return a.x < b.x;
    if (a.y != b.y)
        return a.y < b.y;
    return a.z < b.z;
}

TEST(ImportOrder, weldingNumbersPointsByPositionAndListsTrianglesInFileOrder) {
    // Over 4096 corners, so that the corners go through the radix sort. The
    // torus has points of equal x (mirror images); the strips put more than
    // eight points on one x; the ladders put eighteen corners on one (x, y).
    TriangleSoup soup = torus(10.0, 3.0, 40, 24);
    for (int s = 0; s < 6; ++s)
        soup = concatenated(soup, stripInPlaneX(30.0 + 1.37 * s, 5));
    for (int s = 0; s < 4; ++s)
        soup = concatenated(soup, ladderOnLine(60.0 + 2.11 * s));
    soup = shuffled(soup, 3);
    auto mesh = buildMesh(soup, BuildSteps{false, false});

    const auto& vertices = mesh->vertices();
    ASSERT_GT(mesh->triangleCount() * 3, 4096u);
    for (std::size_t i = 1; i < vertices.size(); ++i)
        EXPECT_TRUE(pointLess(vertices[i - 1]->pos, vertices[i]->pos)) << "vertex " << i;

    // Every point's triangles in file order, except on the ladder lines, where
    // more than sixteen corners share x and y and only the set is promised.
    std::map<const topolib::StlVertex*, std::vector<int>> expected;
    for (const StlTriangle* t : mesh->triangles())
        for (const topolib::StlVertex* v : t->vertices)
            if (expected[v].empty() || expected[v].back() != t->id)
                expected[v].push_back(t->id);
    for (const topolib::StlVertex* v : vertices) {
        std::vector<int> listed;
        for (const StlTriangle* t : *v)
            listed.push_back(t->id);
        const bool onLadder = v->pos.x >= 60.0 && v->pos.y == 0.0;
        if (onLadder)
            std::sort(listed.begin(), listed.end());
        EXPECT_EQ(listed, expected[v]) << "vertex " << v->index;
    }
}

} // namespace
