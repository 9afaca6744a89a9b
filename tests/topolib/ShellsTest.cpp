// Shells: connected components, orientation classes, negligible debris, the
// records' bookkeeping used by cutting and by the geometry format, and the
// tracing of open rims.
#include "MeshFixtures.h"
#include "app/ProgressReport.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace topolib;
namespace mf = meshfixtures;

namespace {

// Runs the import's passes, the shell search's among them, on so many
// threads while it lives: the search's table of neighbours lies in the
// triangles' records on one thread, in an array of its own on threads.
struct ForcedThreads {
    explicit ForcedThreads(unsigned threads) { forceImportThreads(threads); }
    ~ForcedThreads() { forceImportThreads(0); }
};

std::unique_ptr<StlObject> meshWithShells(const mf::TriangleSoup& soup) {
    auto mesh = mf::buildMesh(soup);
    mesh->findShells(false, 0);
    return mesh;
}

size_t liveTriangles(const StlObject& mesh) {
    return static_cast<size_t>(std::count_if(mesh.triangles().begin(), mesh.triangles().end(),
                                             [](const StlTriangle* t) { return !t->isDeleted(); }));
}

// Releases the pieces a test took from a shell.
struct ShellList {
    std::vector<StlShell*> shells;
    ~ShellList() {
        for (StlShell* s : shells)
            delete s;
    }
};

// The square grid of n × n unit quads in z = 0 without the quads listed in holes
// (row-major quad numbers); faces up.
mf::TriangleSoup gridWithHoles(int n, const std::set<int>& holes) {
    mf::TriangleSoup s;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if (holes.count(i * n + j))
                continue;
            const mf::Point a{double(j), double(i), 0.0}, b{double(j + 1), double(i), 0.0},
                c{double(j + 1), double(i + 1), 0.0}, d{double(j), double(i + 1), 0.0};
            s.push_back({{a, b, c}});
            s.push_back({{a, c, d}});
        }
    return s;
}

StlEdge* firstEdgeOfClass(const StlObject& mesh, uint32_t cls, double minZ = -1e300) {
    for (StlEdge* e : mesh.edges())
        if (e->edgeClass == cls && e->vertex(0)->z() >= minZ && e->vertex(1)->z() >= minZ)
            return e;
    return nullptr;
}

// Twice the signed area of a closed loop, as the Newell normal.
Vector3D newellNormal(const std::deque<StlVertex*>& loop) {
    Vector3D n;
    for (size_t i = 0; i < loop.size(); ++i) {
        const Vector3D& p = loop[i]->pos;
        const Vector3D& q = loop[(i + 1) % loop.size()]->pos;
        n += p.cross(q);
    }
    return n;
}

} // namespace

TEST(Shells, componentsOfGeneratedMeshes) {
    struct Case {
        const char* name;
        mf::TriangleSoup soup;
        size_t shells;
        int openShells;
    };
    const std::vector<Case> cases = {
        {"cube", mf::cube(), 1, 0},
        {"two separate cubes", mf::concatenated(mf::cube(), mf::cube(10.0, {20.0, 0.0, 0.0})), 2, 0},
        {"overlapping cubes", mf::overlappingCubes(), 2, 0},
        {"torus", mf::torus(10.0, 3.0, 48, 24), 1, 0},
        {"uv sphere", mf::uvSphere(5.0, 32, 16), 1, 0},
        {"icosphere", mf::icosphere(5.0, 3), 1, 0},
        {"open box", mf::openBox(), 1, 1},
        {"single facet", mf::singleFacet(), 1, 1},
        {"fan", mf::fan(7), 1, 1},
        {"grid with a square hole", gridWithHoles(3, {4}), 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = meshWithShells(c.soup);
        ASSERT_EQ(mesh->shells().size(), c.shells);
        size_t filed = 0;
        int open = 0;
        for (const StlShell* s : mesh->shells()) {
            EXPECT_EQ(s->owner, mesh.get());
            EXPECT_EQ(s->triangleCount, s->primaryTriangles.size() + s->reversedTriangles.size());
            EXPECT_TRUE(s->reversedTriangles.empty()) << "fixtures are consistently wound";
            for (const StlTriangle* t : s->primaryTriangles) {
                EXPECT_EQ(t->shell, s);
                EXPECT_FALSE(t->isReversed());
            }
            filed += s->triangleCount;
            open += s->open;
        }
        EXPECT_EQ(filed, liveTriangles(*mesh)) << "every live triangle belongs to exactly one shell";
        EXPECT_EQ(open, c.openShells);
    }
}

TEST(Shells, searchIgnoresStaleMarksAndLeavesNoneBehind) {
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        ForcedThreads forced(threads);
        auto mesh =
            mf::buildMesh(mf::concatenated(mf::openBox(), mf::flipped(mf::cube(5.0, {30.0, 0.0, 0.0}), 3)));
        for (StlEdge* e : mesh->edges())
            e->flags |= StlEdge::kMarkMask; // stale marks from an earlier walk
        mesh->triangle(12)->setWalkMark(3);
        mesh->setVertexRenderStale(false);
        mesh->setTriangleRenderStale(false);
        mesh->findShells(false, 0);
        ASSERT_EQ(mesh->shells().size(), 2u);
        EXPECT_EQ(mesh->shells()[0]->triangleCount + mesh->shells()[1]->triangleCount, 22u)
            << "a stale walk mark keeps no triangle out of its shell";
        for (const StlTriangle* t : mesh->triangles())
            EXPECT_EQ(t->walkMark(), 0u);
        for (const StlEdge* e : mesh->edges())
            EXPECT_EQ(e->marks(), 0u);
        EXPECT_TRUE(mesh->vertexRenderStale());
        EXPECT_TRUE(mesh->triangleRenderStale());
    }
}

// A triangle that an edit has linked to its edges but not yet placed in the
// mesh's array lies beyond the records the search keeps reached bits for; the
// search files it with its neighbours all the same and leaves no mark on it.
TEST(Shells, triangleOutsideTheArrayJoinsItsShellAndKeepsNoMark) {
    // The table of neighbours has no place for the stray triangle.
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        ForcedThreads forced(threads);
        auto mesh = mf::buildMesh(mf::cube(5.0));
        for (int i = 0; i < 300; ++i)
            mesh->newTriangle(); // records between the array's and the stray one
        StlTriangle* replaced = mesh->triangle(11);
        StlTriangle* stray = mesh->newTriangle();
        for (int k = 0; k < 3; ++k) {
            stray->vertices[k] = replaced->vertices[k];
            stray->edges[k] = replaced->edges[k];
        }
        stray->computeNormal();
        replaced->detachFromEdges();
        replaced->setDeleted(true);
        for (int k = 0; k < 3; ++k)
            stray->edges[k]->addTriangle(stray);

        mesh->findShells(false, 0);
        ASSERT_EQ(mesh->shells().size(), 1u);
        const StlShell* shell = mesh->shells()[0];
        EXPECT_EQ(shell->triangleCount, 12u);
        EXPECT_EQ(shell->open, 0);
        EXPECT_EQ(stray->shell, shell);
        EXPECT_FALSE(stray->isReversed());
        EXPECT_EQ(stray->walkMark(), 0u);
        EXPECT_NE(std::find(shell->primaryTriangles.begin(), shell->primaryTriangles.end(), stray),
                  shell->primaryTriangles.end());
        for (const StlTriangle* t : mesh->triangles())
            EXPECT_EQ(t->walkMark(), 0u);
    }
}

TEST(Shells, repeatedSearchReplacesTheShells) {
    auto mesh = meshWithShells(mf::concatenated(mf::cube(), mf::cube(10.0, {20.0, 0.0, 0.0})));
    ASSERT_EQ(mesh->shells().size(), 2u);
    mesh->findShells(false, 0);
    ASSERT_EQ(mesh->shells().size(), 2u);
    for (const StlShell* s : mesh->shells())
        EXPECT_EQ(s->triangleCount, 12u);
    // A deleted triangle is left out and opens its cube.
    mesh->triangle(0)->setDeleted(true);
    mesh->triangle(0)->detachFromEdges();
    mesh->findShells(false, 0);
    ASSERT_EQ(mesh->shells().size(), 2u);
    int open = 0;
    uint32_t filed = 0;
    for (const StlShell* s : mesh->shells()) {
        open += s->open;
        filed += s->triangleCount;
    }
    EXPECT_EQ(open, 1);
    EXPECT_EQ(filed, 23u);
}

TEST(Shells, flippedTriangleFormsTheReversedClass) {
    struct Case {
        long flippedFacet;
        size_t primary;
        size_t reversed;
    };
    // The first triangle seeds the shell: when it is the flipped one, the classes swap.
    for (const Case& c : {Case{5, 11, 1}, Case{11, 11, 1}, Case{0, 1, 11}}) {
        SCOPED_TRACE(c.flippedFacet);
        auto mesh = meshWithShells(mf::flipped(mf::cube(), c.flippedFacet));
        ASSERT_EQ(mesh->shells().size(), 1u);
        const StlShell* s = mesh->shells().front();
        EXPECT_EQ(s->primaryTriangles.size(), c.primary);
        EXPECT_EQ(s->reversedTriangles.size(), c.reversed);
        EXPECT_EQ(s->open, 0);
        const StlTriangle* flipped = mesh->triangle(static_cast<uint32_t>(c.flippedFacet));
        EXPECT_EQ(flipped->isReversed(), c.flippedFacet != 0);
        for (const StlTriangle* t : s->reversedTriangles)
            EXPECT_TRUE(t->isReversed());
        for (const StlTriangle* t : s->primaryTriangles)
            EXPECT_FALSE(t->isReversed());
    }
}

TEST(Shells, shellBoxSpansItsOwnTriangles) {
    auto mesh = meshWithShells(mf::concatenated(mf::cube(10.0), mf::cube(4.0, {20.0, -3.0, 1.0})));
    ASSERT_EQ(mesh->shells().size(), 2u);
    std::vector<std::pair<Vector3D, Vector3D>> boxes;
    for (const StlShell* s : mesh->shells())
        boxes.emplace_back(s->boxMin, s->boxMax);
    std::sort(boxes.begin(), boxes.end(), [](const auto& a, const auto& b) { return a.first.x < b.first.x; });
    EXPECT_EQ(boxes[0].first, Vector3D(0, 0, 0));
    EXPECT_EQ(boxes[0].second, Vector3D(10, 10, 10));
    EXPECT_EQ(boxes[1].first, Vector3D(20, -3, 1));
    EXPECT_EQ(boxes[1].second, Vector3D(24, 1, 5));
}

TEST(Shells, debrisGoesBehindRealPartsWhichComeInReverseOrder) {
    // Discovery order: a two-triangle scrap, cube A, cube B.
    const auto soup = mf::concatenated(mf::concatenated(mf::translated(mf::fan(2), {0, 0, 50}), mf::cube()),
                                       mf::cube(10.0, {30.0, 0.0, 0.0}));
    auto mesh = meshWithShells(soup);
    ASSERT_EQ(mesh->shells().size(), 3u);
    const auto& shells = mesh->shells();
    EXPECT_EQ(shells[0]->boxMin.x, 30.0) << "the last real part found comes first";
    EXPECT_EQ(shells[1]->boxMin.x, 0.0);
    EXPECT_EQ(shells[2]->triangleCount, 2u);
    EXPECT_TRUE(mesh->isNegligibleShell(shells[2]));
    EXPECT_FALSE(mesh->isNegligibleShell(shells[0]));
}

TEST(Shells, negligibleShellRule) {
    // An object of 2 · 128 · 63 = 16128 facets, area ~125,600, volume ~4.2e6.
    auto mesh = meshWithShells(mf::uvSphere(100.0, 128, 64));
    ASSERT_GT(mesh->area(), 1e5);
    struct Case {
        const char* name;
        uint32_t count;
        double area;
        double volume;
        uint8_t open;
        bool negligible;
    };
    const Case cases[] = {
        {"three triangles", 3, 0.0, 0.0, 0, true},        {"grown shell, closed", 12, 0.0, 0.0, 0, false},
        {"grown shell, open", 12, 0.0, 0.0, 1, true},     {"many triangles", 17, 0.0, 0.0, 1, false},
        {"large area", 12, 200.0, 0.0, 1, false},         {"large volume", 12, 10.0, 5000.0, 1, false},
        {"flat closed scrap", 12, 60.0, 1.0, 0, true},    // sqrt(10) · 10 / 15 = 2.1 > 1
        {"chunky closed scrap", 12, 60.0, 3.0, 0, false}, // 2.1 < 3
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StlShell s(mesh.get());
        s.triangleCount = c.count;
        s.area = c.area;
        s.volume = c.volume;
        s.open = c.open;
        EXPECT_EQ(mesh->isNegligibleShell(&s), c.negligible);
    }
}

TEST(Shells, progressReportsStayInTheirBand) {
    std::vector<int> values;
    setProgressCallback([&values](int value, unsigned int code, const std::wstring&, const std::wstring&,
                                  const std::wstring&) {
        EXPECT_EQ(code, 0u);
        values.push_back(value);
    });
    // Ten triangles: a report before every one.
    auto small = mf::buildMesh(mf::openBox());
    small->findShells(true, 85);
    EXPECT_EQ(values, (std::vector<int>{85, 86, 88, 89, 91, 92, 94, 95, 97, 98}));

    values.clear();
    auto large = mf::buildMesh(mf::torus(10.0, 3.0, 100, 50));
    large->findShells(true, 85);
    EXPECT_GE(values.size(), 10u);
    EXPECT_LT(values.size(), 16u);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GE(values.front(), 85);
    EXPECT_LT(values.back(), 100);

    values.clear();
    large->findShells(false, 85);
    EXPECT_TRUE(values.empty());
    setProgressCallback(ProgressCallbackFunction());
}

TEST(Shells, filingFollowsTheOrientationBitOfTheListHeads) {
    // Each step files one triangle with the given orientation bit; the letters say
    // which list it must land in.
    struct Case {
        const char* bits;
        const char* lists;
    };
    const Case cases[] = {
        {"0", "P"}, {"1", "P"}, {"01", "PR"}, {"10", "PR"}, {"0101", "PRPR"}, {"1100", "PPRR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        StlShell shell;
        std::vector<std::unique_ptr<StlTriangle>> triangles;
        std::string lists;
        for (const char* b = c.bits; *b; ++b) {
            triangles.push_back(std::make_unique<StlTriangle>());
            StlTriangle* t = triangles.back().get();
            t->setReversed(*b == '1');
            shell.changed = 0;
            EXPECT_EQ(shell.addTriangle(t), 1);
            EXPECT_EQ(t->shell, &shell);
            EXPECT_EQ(shell.changed, 1);
            lists += shell.reversedTriangles.size() && shell.reversedTriangles.back() == t ? 'R' : 'P';
        }
        EXPECT_EQ(lists, c.lists);
        EXPECT_EQ(shell.triangleCount, triangles.size());
    }
}

TEST(Shells, validCountsSkipDeletedAndDegenerateTriangles) {
    {
        auto mesh = meshWithShells(mf::flipped(mf::cube(), 4));
        const StlShell* s = mesh->shells().front();
        EXPECT_EQ(s->countValidPrimaryTriangles(), 11);
        EXPECT_EQ(s->countValidReversedTriangles(), 1);
        mesh->triangle(4)->setDeleted(true);
        mesh->triangle(7)->setDeleted(true);
        EXPECT_EQ(s->countValidPrimaryTriangles(), 10);
        EXPECT_EQ(s->countValidReversedTriangles(), 0);
    }
    {
        // A lone facet, and the triangles of a fan, are stored like any other.
        auto facet = meshWithShells(mf::singleFacet());
        EXPECT_EQ(facet->shells().front()->countValidPrimaryTriangles(), 1);
        auto fan = meshWithShells(mf::fan(5));
        EXPECT_EQ(fan->shells().front()->countValidPrimaryTriangles(), 5);
    }
    EXPECT_EQ(StlShell().countValidPrimaryTriangles(), 0) << "no owner, nothing to judge";
}

TEST(Shells, renumberingWritesPrimaryThenReversedAndCompletesEdges) {
    {
        auto mesh = meshWithShells(mf::flipped(mf::cube(), 2));
        StlShell* s = mesh->shells().front();
        RefArray<StlTriangle> array(20, nullptr);
        uint32_t next = 3;
        s->renumberTriangles(array.data(), next);
        EXPECT_EQ(next, 15u);
        EXPECT_EQ(array[14], mesh->triangle(2)) << "the reversed triangle comes last";
        for (uint32_t i = 3; i < 15; ++i)
            EXPECT_EQ(array[i]->id, static_cast<int32_t>(i));
        EXPECT_EQ(mesh->edgeCount(), 18u) << "linked edges are kept";
    }
    {
        // Triangles without edge links (as read back from a file whose edge list
        // lacks them): every side gets an edge that lists both of its triangles.
        auto mesh = mf::buildMesh(mf::cube(), {false, false});
        mesh->findShells(false, 0); // no edges: every triangle is its own shell
        ASSERT_EQ(mesh->shells().size(), 12u);
        RefArray<StlTriangle> array(12, nullptr);
        uint32_t next = 0;
        for (StlShell* s : mesh->shells())
            s->renumberTriangles(array.data(), next);
        EXPECT_EQ(next, 12u);
        ASSERT_EQ(mesh->edgeCount(), 18u);
        for (const StlEdge* e : mesh->edges()) {
            EXPECT_EQ(e->triangleCount(), 2u);
            EXPECT_EQ(e->edgeClass, kEdgeSmooth);
        }
        for (const StlTriangle* t : array)
            for (const StlEdge* e : t->edges)
                EXPECT_NE(e->sideIn(t), -1);
    }
}

TEST(Shells, cutEdgesSplitAShellIntoPieces) {
    auto mesh = meshWithShells(mf::cube());
    // Cut the top face off: its four rim edges become class 3, as a cut makes them.
    for (StlEdge* e : mesh->edges()) {
        if (e->vertex(0)->z() == 10.0 && e->vertex(1)->z() == 10.0 &&
            e->triangle(0)->normal.z != e->triangle(1)->normal.z)
            e->edgeClass = kEdgeNonManifold;
    }
    StlShell* s = mesh->shells().front();
    EXPECT_EQ(s->splitIntoPieces(), 0);
    ShellList pieces;
    s->takePieces(pieces.shells);
    EXPECT_TRUE(s->pieces.empty());
    ASSERT_EQ(pieces.shells.size(), 2u);
    std::vector<uint32_t> sizes{pieces.shells[0]->triangleCount, pieces.shells[1]->triangleCount};
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<uint32_t>{2, 10}));
    for (const StlShell* p : pieces.shells) {
        EXPECT_EQ(p->owner, mesh.get());
        EXPECT_TRUE(p->reversedTriangles.empty());
        for (const StlTriangle* t : p->primaryTriangles)
            EXPECT_EQ(t->shell, s) << "pieces do not re-point their triangles";
    }
    for (const StlTriangle* t : mesh->triangles())
        EXPECT_EQ(t->walkMark(), 0u);
}

TEST(ShellRims, openBoxRimIsOneSquareLoopFacingOut) {
    auto mesh = meshWithShells(mf::openBox());
    StlShell* s = mesh->shells().front();
    StlEdge* start = firstEdgeOfClass(*mesh, kEdgeBoundary);
    ASSERT_NE(start, nullptr);
    std::deque<StlVertex*> loop;
    ASSERT_TRUE(mesh->traceRimLoop(s, start, loop));
    ASSERT_EQ(loop.size(), 4u);
    EXPECT_NE(loop.front(), loop.back());
    EXPECT_EQ(std::set<StlVertex*>(loop.begin(), loop.end()).size(), 4u);
    for (const StlVertex* v : loop)
        EXPECT_EQ(v->z(), 10.0);
    // The loop runs as the missing top face would: counter-clockwise seen from above.
    const Vector3D n = newellNormal(loop);
    EXPECT_NEAR(n.z, 200.0, 1e-9);
    for (const StlEdge* e : mesh->edges())
        EXPECT_EQ((e->flags & StlShell::kRimTracedEdgeBit) != 0, e->edgeClass == kEdgeBoundary);

    // Already traced: nothing happens.
    std::deque<StlVertex*> again;
    EXPECT_FALSE(mesh->traceRimLoop(s, start, again));
    EXPECT_TRUE(again.empty());

    // The next shell search clears the traced marks.
    mesh->findShells(false, 0);
    for (const StlEdge* e : mesh->edges())
        EXPECT_EQ(e->marks(), 0u);
}

TEST(ShellRims, squareHoleInAPlaneIsTracedOnItsOwn) {
    auto mesh = meshWithShells(gridWithHoles(3, {4}));
    StlShell* s = mesh->shells().front();
    // An edge of the hole: both ends strictly inside the grid.
    StlEdge* inner = nullptr;
    for (StlEdge* e : mesh->edges()) {
        auto interior = [](const StlVertex* v) {
            return v->x() > 0.5 && v->x() < 2.5 && v->y() > 0.5 && v->y() < 2.5;
        };
        if (e->edgeClass == kEdgeBoundary && interior(e->vertex(0)) && interior(e->vertex(1)))
            inner = e;
    }
    ASSERT_NE(inner, nullptr);
    std::deque<StlVertex*> hole;
    ASSERT_TRUE(mesh->traceRimLoop(s, inner, hole));
    EXPECT_EQ(hole.size(), 4u);
    EXPECT_NE(hole.front(), hole.back());
    // Against the winding of the up-facing rim triangles: the hole runs
    // counter-clockwise seen from above, as a patch closing it would.
    EXPECT_NEAR(newellNormal(hole).z, 2.0, 1e-12);

    StlEdge* outer = firstEdgeOfClass(*mesh, kEdgeBoundary);
    ASSERT_NE(outer, nullptr);
    ASSERT_EQ(outer->flags & StlShell::kRimTracedEdgeBit, 0u);
    std::deque<StlVertex*> rim;
    ASSERT_TRUE(mesh->traceRimLoop(s, outer, rim));
    EXPECT_EQ(rim.size(), 12u);
    EXPECT_NEAR(newellNormal(rim).z, -18.0, 1e-12) << "the outer rim runs the other way";
}

TEST(ShellRims, startThatIsNoSideOfItsTriangleIsRefused) {
    auto mesh = meshWithShells(mf::openBox());
    StlShell* s = mesh->shells().front();
    StlEdge* start = firstEdgeOfClass(*mesh, kEdgeBoundary);
    StlTriangle* t = start->triangle(0);
    const int side = start->sideIn(t);
    t->edges[side] = nullptr;
    std::deque<StlVertex*> loop;
    EXPECT_FALSE(mesh->traceRimLoop(s, start, loop));
    EXPECT_EQ(start->flags & StlShell::kRimTracedEdgeBit, 0u);
    t->edges[side] = start;
    EXPECT_FALSE(mesh->traceRimLoop(nullptr, start, loop));
}

TEST(ShellRims, cutRimIsTracedOncePerShellOnEitherSide) {
    auto mesh = mf::buildMesh(mf::cube());
    // The top face cut off along class 3 edges: each top rim edge gets a third
    // triangle (a fin standing out of the cube), so the shell search stops there.
    std::vector<StlEdge*> cut;
    for (StlEdge* e : mesh->edges())
        if (e->vertex(0)->z() == 10.0 && e->vertex(1)->z() == 10.0 &&
            e->triangle(0)->normal.z != e->triangle(1)->normal.z)
            cut.push_back(e);
    ASSERT_EQ(cut.size(), 4u);
    std::deque<StlVertex*> tips;
    for (StlEdge* e : cut) {
        const Vector3D mid = (e->vertex(0)->pos + e->vertex(1)->pos) * 0.5;
        const Vector3D out = (mid - Vector3D(5.0, 5.0, 10.0)) * 0.5 + mid + Vector3D(0.0, 0.0, 1.0);
        tips.push_back(mesh->newVertex(out.data()));
    }
    mesh->appendVertices(tips);
    for (std::size_t i = 0; i < cut.size(); ++i)
        ASSERT_NE(mesh->addTriangle(cut[i]->vertex(0), cut[i]->vertex(1), tips[i]), nullptr);
    for (StlEdge* e : cut)
        ASSERT_EQ(e->edgeClass, kEdgeNonManifold);
    mesh->findShells(false, 0);
    StlShell* sides = nullptr;
    StlShell* top = nullptr;
    for (StlShell* s : mesh->shells()) {
        if (s->triangleCount == 10)
            sides = s;
        if (s->triangleCount == 2)
            top = s;
    }
    ASSERT_TRUE(sides && top);

    std::deque<StlVertex*> loop;
    ASSERT_TRUE(mesh->traceRimLoop(sides, cut[0], loop));
    EXPECT_EQ(loop.size(), 4u);
    EXPECT_NEAR(newellNormal(loop).z, 200.0, 1e-9);
    EXPECT_EQ(std::set<StlEdge*>(sides->nonManifoldRimEdges.begin(), sides->nonManifoldRimEdges.end()),
              std::set<StlEdge*>(cut.begin(), cut.end()));
    for (const StlEdge* e : cut)
        EXPECT_EQ(e->flags & StlShell::kRimTracedEdgeBit, 0u) << "cut edges stay open for the other side";

    // The same shell again: its cut edges count as traced, nothing comes back.
    std::deque<StlVertex*> again;
    EXPECT_FALSE(mesh->traceRimLoop(sides, cut[0], again));

    // The top's side of the same cut, found behind the start edge.
    std::deque<StlVertex*> cap;
    ASSERT_TRUE(mesh->traceRimLoop(top, cut[0], cap));
    EXPECT_EQ(cap.size(), 4u);
    EXPECT_EQ(std::set<StlVertex*>(cap.begin(), cap.end()), std::set<StlVertex*>(loop.begin(), loop.end()));
    EXPECT_NE(cap.front(), cap.back());
}
