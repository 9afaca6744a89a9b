// FillPolygon: the rules of ear clipping, chain insertion and their failure reports.
#include "topolib/FillPolygon.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

using topolib::FillPolygon;
using topolib::FillPolygonNode;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

// A mesh of loose vertices in the z = 0 plane (x/y pairs), for polygons over them.
struct Corners {
    StlObject mesh;
    std::vector<StlVertex*> v;
    explicit Corners(const std::vector<std::array<double, 2>>& xy) {
        for (const auto& p : xy) {
            const double q[3] = {p[0], p[1], 0.0};
            StlVertex* x = mesh.newVertex(q);
            mesh.appendVertex(x);
            v.push_back(x);
        }
    }
    std::deque<StlVertex*> loop(const std::vector<int>& order) const {
        std::deque<StlVertex*> l;
        for (int i : order)
            l.push_back(v[i]);
        return l;
    }
    std::unique_ptr<FillPolygon> polygon(const std::vector<int>& order) {
        auto p = std::make_unique<FillPolygon>(&mesh);
        p->buildFromVertices(loop(order));
        p->fitPlane();
        return p;
    }
};

std::vector<StlVertex*> vertexList(const FillPolygon& p) {
    std::vector<StlVertex*> out;
    for (const FillPolygonNode* n : p.nodes())
        out.push_back(n->vertex);
    return out;
}

double liveArea(const StlObject& mesh) {
    double a = 0.0;
    for (const StlTriangle* t : mesh.triangles())
        if (!t->isDeleted())
            a += topolib::triangleArea(t);
    return a;
}

// The piece source of the cut step: a triangle record facing +z.
struct UpwardSource : StlTriangle {
    UpwardSource() { normal = Vector3D(0, 0, 1); }
};

} // namespace

TEST(PolygonTriangulation, smallPolygonsFinishInOneStep) {
    Corners c({{0, 0}, {4, 0}, {0, 3}, {4, 3}});
    auto tri = c.polygon({0, 1, 2});
    std::deque<StlTriangle*> out;
    EXPECT_EQ(tri->triangulate(&out), nullptr);
    ASSERT_EQ(out.size(), 1u);
    // First node, its next, its previous.
    EXPECT_EQ(out[0]->vertices[0], c.v[0]);
    EXPECT_EQ(out[0]->vertices[1], c.v[1]);
    EXPECT_EQ(out[0]->vertices[2], c.v[2]);
    EXPECT_EQ(tri->nodeCount(), 0u);
    EXPECT_FALSE(tri->failed());

    // The cut step: nothing to do without nodes; one or two nodes are dropped.
    FillPolygon empty(&c.mesh);
    const UpwardSource source;
    EXPECT_EQ(empty.triangulateCut(&source), nullptr);
    FillPolygon two(&c.mesh);
    FillPolygonNode* a = FillPolygon::newNode(c.v[0]);
    FillPolygonNode* b = FillPolygon::newNode(c.v[1]);
    a->next = b;
    b->next = a;
    two.rebuildFrom(a);
    ASSERT_EQ(two.nodeCount(), 2u);
    EXPECT_EQ(two.triangulateCut(&source), nullptr);
    EXPECT_EQ(two.nodeCount(), 0u);
    EXPECT_FALSE(two.failed());
}

TEST(PolygonTriangulation, squareIsCutIntoTwoTrianglesStartingWithTheFirstCorner) {
    Corners c({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    auto square = c.polygon({0, 1, 2, 3});
    EXPECT_EQ(square->planar, 1);
    EXPECT_EQ(square->classifyNodes(), 4);
    std::deque<StlTriangle*> out;
    EXPECT_EQ(square->triangulate(&out), nullptr);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]->vertices[0], c.v[0]); // equal angles: the first listed corner
    EXPECT_NEAR(liveArea(c.mesh), 1.0, 1e-15);
    EXPECT_EQ(square->nodeCount(), 0u);
}

TEST(PolygonTriangulation, needlesCollapseAndFoldedLoopsVanishWithoutFailure) {
    Corners c({{0, 0}, {5, 0}, {5, 5}, {0, 5}, {-3, 2}});
    // 0 4 0 1 2 3: the loop runs out to corner 4 and back (a needle at 4).
    FillPolygon p(&c.mesh);
    p.buildFromVertices(c.loop({0, 4, 0, 1, 2, 3}));
    p.fitPlane();
    FillPolygonNode* tip = p.nodes()[1];
    FillPolygonNode* survivor = tip->classifyInPlane(p.normal.data());
    ASSERT_NE(survivor, nullptr);
    EXPECT_NE(survivor, tip);
    EXPECT_EQ(survivor->vertex, c.v[0]);
    p.rebuildFrom(survivor);
    EXPECT_EQ(vertexList(p), (std::vector<StlVertex*>{c.v[0], c.v[1], c.v[2], c.v[3]}));

    // 0 1 0 2: folds only; nothing to cover and no failure.
    FillPolygon fold(&c.mesh);
    fold.buildFromVertices(c.loop({0, 1, 0, 2}));
    EXPECT_EQ(fold.classifyNodesInPlane(Vector3D(0, 0, 1).data()), 0);
    EXPECT_EQ(fold.nodeCount(), 0u);
    EXPECT_FALSE(fold.failed());
}

TEST(PolygonTriangulation, rebuildMergesRepeatedVerticesAndClosesOpenChains) {
    Corners c({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    struct Case {
        std::vector<int> chain;
        bool open;
        std::vector<int> expected;
    };
    const std::vector<Case> cases{
        {{0, 1, 1, 2, 3}, false, {0, 1, 2, 3}},    // consecutive repeat merged
        {{0, 1, 2, 3, 0}, false, {0, 1, 2, 3}},    // last repeats the first: dropped
        {{0, 1, 0}, false, {}},                    // too short once the repeat goes
        {{0, 1, 2, 3}, true, {0, 1, 2, 3}},        // an open chain is closed to its start
    };
    for (const Case& k : cases) {
        std::vector<FillPolygonNode*> nodes;
        for (int i : k.chain)
            nodes.push_back(FillPolygon::newNode(c.v[i]));
        for (std::size_t i = 0; i + 1 < nodes.size(); ++i) {
            nodes[i]->next = nodes[i + 1];
            nodes[i + 1]->prev = nodes[i];
        }
        if (!k.open)
            nodes.back()->next = nodes.front();
        FillPolygon p(&c.mesh);
        p.rebuildFrom(nodes.front());
        std::vector<StlVertex*> expected;
        for (int i : k.expected)
            expected.push_back(c.v[i]);
        EXPECT_EQ(vertexList(p), expected);
        if (!p.nodes().empty()) {
            EXPECT_EQ(p.nodes().back()->next, p.nodes().front());
        }
    }
}

TEST(PolygonTriangulation, straightCornersAreCandidatesOnlyInPlaneMode) {
    Corners c({{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}});
    FillPolygon p(&c.mesh);
    p.buildFromVertices(c.loop({0, 1, 2, 3, 4}));
    FillPolygonNode* straight = p.nodes()[1];
    straight->classifyInPlane(Vector3D(0, 0, 1).data());
    EXPECT_NEAR(straight->cosAngle, -1.0, 1e-15);
    EXPECT_EQ(straight->notEar, 0);
    straight->classify(); // vertex normals: loose vertices have none
    EXPECT_EQ(straight->notEar, 1);
}

TEST(PolygonTriangulation, touchingLoopAndBlockedEarSplitOffAPolygon) {
    // A figure-eight through corner 0: the step splits it at the touching vertex.
    Corners eight({{0, 0}, {3, -2}, {6, -1}, {6, 2}, {3, 2}, {-3, 2}, {-6, 1}, {-6, -2}, {-3, -2}});
    auto p = eight.polygon({0, 1, 2, 3, 4, 0, 5, 6, 7, 8});
    p->classifyNodes();
    std::deque<StlTriangle*> out;
    std::unique_ptr<FillPolygon> split;
    for (int i = 0; i < 20 && !split && p->nodeCount() > 0; ++i)
        split.reset(p->triangulate(&out));
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(p->nodeCount() + split->nodeCount() + out.size(), 10u);

    // An arrow head: the notch at corner 3 lies inside the ear at the tip (the
    // sharpest corner), so the first step splits along the diagonal to it.
    Corners arrow({{0, 0}, {20, 5}, {0, 10}, {5, 5}});
    auto q = arrow.polygon({0, 1, 2, 3});
    q->classifyNodes();
    std::deque<StlTriangle*> made;
    std::unique_ptr<FillPolygon> half(q->triangulate(&made));
    ASSERT_NE(half, nullptr);
    EXPECT_TRUE(made.empty());
    std::deque<FillPolygon*> rest{q.release(), half.release()};
    EXPECT_TRUE(FillPolygon::triangulateHoles(rest, &made));
    EXPECT_EQ(made.size(), 2u);
    EXPECT_NEAR(liveArea(arrow.mesh), 75.0, 1e-9);
}

TEST(PolygonTriangulation, failuresAreReportedAndLeaveNoPolygonBehind) {
    Corners c({{0, 0}, {4, 0}, {5, 3}, {2, 5}, {-1, 3}});
    const UpwardSource source;
    // A piece whose normal points against its winding: no corner is an ear.
    {
        auto* piece = new FillPolygon(&c.mesh);
        piece->buildFromVertices(c.loop({0, 1, 2, 3, 4}));
        piece->normal = Vector3D(0, 0, -1);
        piece->classifyNodesInPlane(piece->normal.data());
        std::vector<FillPolygon*> stack{piece};
        EXPECT_FALSE(FillPolygon::triangulateCutPieces(stack, &source));
        EXPECT_TRUE(stack.empty());
    }
    // The step cap of each driver.
    {
        auto* piece = c.polygon({0, 1, 2, 3, 4}).release();
        std::deque<FillPolygon*> holes{piece};
        EXPECT_FALSE(FillPolygon::triangulateHoles(holes, nullptr, 1));
        EXPECT_TRUE(holes.empty());
        std::vector<FillPolygon*> caps{c.polygon({0, 1, 2, 3, 4}).release()};
        std::deque<StlTriangle*> capTriangles;
        EXPECT_FALSE(FillPolygon::triangulateCaps(caps, capTriangles, 1));
        EXPECT_TRUE(caps.empty());
        for (StlTriangle* t : capTriangles)
            delete t;
        std::vector<FillPolygon*> pieces{c.polygon({0, 1, 2, 3, 4}).release()};
        EXPECT_FALSE(FillPolygon::triangulateCutPieces(pieces, &source, 1));
        EXPECT_TRUE(pieces.empty());
    }
}

TEST(PolygonTriangulation, planeFitOfAnUnmeasuredOwnerUsesUnitScale) {
    Corners c({{0, 0}, {2, 0}, {2, 2}, {0, 2}});
    ASSERT_EQ(c.mesh.diagonal(), 0.0);
    auto p = c.polygon({0, 1, 2, 3});
    EXPECT_EQ(p->planar, 1);
    EXPECT_NEAR(p->normal.z, 1.0, 1e-12);
    EXPECT_NEAR(p->centroid.x, 1.0, 1e-15);
}

TEST(PolygonTriangulation, cutPiecesAreTiledWithoutOverlapOrGivingUp) {
    struct Piece {
        const char* name;
        std::vector<std::array<double, 2>> corners; // counter-clockwise
    };
    std::vector<Piece> pieces{
        // A thin piece whose widest ear holds two corners whose distances from the
        // ear's base differ by less than the tie tolerance: the nearer one cannot
        // be joined to the ear vertex without crossing the loop.
        {"thin notch", {}},
        // Every ear leaves a straight corner behind when clipped: all ears are of
        // equal (worst) quality and one of them must still be taken.
        {"ears leaving straight corners", {{2, -1}, {3, 5}, {2, 5}, {1, 7}, {1, 5}, {0, -1}, {1, -1}, {2, -2}}},
    };
    for (const auto& p : std::vector<std::array<double, 2>>{
             {3.86, -1.88}, {3.18, -4.70}, {3.35, -5.05}, {3.40, -4.26}, {3.44, -4.33}, {3.71, -3.78}})
        pieces[0].corners.push_back({p[0], p[1] * 1e-3});

    for (const Piece& piece : pieces) {
        SCOPED_TRACE(piece.name);
        Corners c(piece.corners);
        double area = 0.0;
        for (std::size_t i = 0; i < piece.corners.size(); ++i) {
            const auto& a = piece.corners[i];
            const auto& b = piece.corners[(i + 1) % piece.corners.size()];
            area += 0.5 * (a[0] * b[1] - b[0] * a[1]);
        }
        std::vector<int> order;
        for (std::size_t i = 0; i < piece.corners.size(); ++i)
            order.push_back(static_cast<int>(i));
        auto* polygon = new FillPolygon(&c.mesh);
        polygon->buildFromVertices(c.loop(order));
        polygon->normal = Vector3D(0, 0, 1);
        polygon->classifyNodesInPlane(polygon->normal.data());
        std::vector<FillPolygon*> stack{polygon};
        const UpwardSource source;
        ASSERT_TRUE(FillPolygon::triangulateCutPieces(stack, &source));
        ASSERT_EQ(c.mesh.triangles().size(), piece.corners.size() - 2);
        // All counter-clockwise and summing to the piece: no triangle folds over
        // another.
        double sum = 0.0;
        for (const StlTriangle* t : c.mesh.triangles()) {
            const Vector3D& a = t->vertices[0]->pos;
            const Vector3D turn = (t->vertices[1]->pos - a).cross(t->vertices[2]->pos - a);
            EXPECT_GT(turn.z, 0.0);
            sum += 0.5 * std::fabs(turn.z);
        }
        EXPECT_NEAR(sum, area, 1e-12 * area);
    }
}

TEST(PolygonChains, pointsNextToACornerAreFoundInTheRightPiece) {
    // The piece of a cut chain is found by a point just off the rim; next to a
    // corner, within a few 1e-5 of one edge's level, it must still count as inside.
    Corners c({{4, 0}, {0, 0}, {0, 4}});
    struct Case {
        double x, y;
        bool inside;
    } cases[] = {
        {1.36569, 3.42e-5, true}, {3.42e-5, 1.36569, true}, {3.9999, 3.42e-5, true}, {2.0, 5e-7, true},
        {2.0, 2.0, true},         {1.36569, -3.42e-5, false}, {-3.42e-5, 1.0, false}, {2.0, 2.00004, false},
    };
    // The same triangle from every start corner and in both windings.
    const std::vector<std::vector<int>> orders{{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
    for (const std::vector<int>& order : orders) {
        auto piece = c.polygon(order);
        for (const Case& k : cases) {
            const double p[3] = {k.x, k.y, 0.0};
            EXPECT_EQ(piece->containsPoint(p), k.inside)
                << order[0] << order[1] << order[2] << ": " << k.x << " " << k.y;
        }
    }
}

TEST(PolygonChains, openChainsSplitPiecesThatCoverTheTriangle) {
    // A 10 × 10 square piece; chains run across it. Each case gives the area of
    // the smaller piece (the whole square when nothing is split).
    const std::vector<std::array<double, 2>> xy{{0, 0}, {10, 0}, {10, 10}, {0, 10},  {4, 0}, {6, 10},
                                                {5, 5}, {10, 4}, {0.5, 0}, {1.5, 0}, {1, 1}, {9, 9}};
    struct Case {
        const char* name;
        std::vector<int> chain;
        bool split;
        double smallerArea;
    };
    const std::vector<Case> cases{
        {"edge to edge through an inner point", {4, 6, 5}, true, 50.0},
        {"corner to edge", {0, 6, 7}, true, 35.0},
        {"along one edge only", {8, 9}, false, 100.0},
        {"inside an edge back to its start corner", {4, 6, 0}, true, 10.0},
        {"from a corner back into its own edge", {0, 6, 4}, true, 10.0},
        // Ends off the rim are joined to the nearest rim corner.
        {"both ends off the rim", {10, 11}, true, 50.0},
        {"one end off the rim near the other's edge", {4, 10}, true, 7.0},
    };
    auto shoelace = [](const FillPolygon& p) {
        double twice = 0.0;
        for (const FillPolygonNode* n : p.nodes()) {
            const Vector3D& a = n->vertex->pos;
            const Vector3D& b = n->next->vertex->pos;
            twice += a.x * b.y - b.x * a.y;
        }
        return std::fabs(twice) / 2.0;
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Corners m(xy);
        auto* piece = new FillPolygon(&m.mesh);
        piece->buildFromVertices(m.loop({0, 1, 2, 3}));
        piece->fitPlane();
        std::deque<StlVertex*> chain;
        for (int i : k.chain)
            chain.push_back(m.v[i]);
        piece->markVertices(2);
        FillPolygon* other = piece->splitByChain(chain);
        piece->markVertices(0);
        EXPECT_FALSE(piece->failed());
        EXPECT_EQ(other != nullptr, k.split);
        const double kept = shoelace(*piece);
        const double given = other ? shoelace(*other) : 0.0;
        EXPECT_NEAR(kept + given, 100.0, 1e-9);
        EXPECT_NEAR(other ? std::min(kept, given) : kept, k.smallerArea, 1e-9);
        std::vector<FillPolygon*> stack{piece};
        if (other)
            stack.push_back(other);
        const UpwardSource source;
        EXPECT_TRUE(FillPolygon::triangulateCutPieces(stack, &source));
        EXPECT_NEAR(liveArea(m.mesh), 100.0, 1e-9);
    }
}

TEST(PolygonChains, interiorLoopIsBridgedAcrossAnyRimEdgeInTheWay) {
    // A square with a slot from the top and a dent on the right; the hole's
    // nearest admissible rim corner (the dent) lies behind the slot's wall.
    const std::vector<std::array<double, 2>> xy{
        {0, 0}, {10, 0}, {10, 5}, {7, 6}, {10, 7}, {10, 10}, {6.2, 10}, {6.2, 2}, {5.8, 2}, {5.8, 10}, {0, 10},
        {2, 4}, {4, 4}, {4, 6}, {2, 6}};
    const std::vector<int> rim{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    // Without an owner there is no mesh for the crossing vertex: failure.
    {
        Corners c(xy);
        FillPolygon piece(nullptr);
        piece.buildFromVertices(c.loop(rim));
        piece.normal = Vector3D(0, 0, 1);
        std::deque<StlVertex*> loop = c.loop({11, 12, 13, 14, 11});
        EXPECT_EQ(piece.insertChain(loop), nullptr);
        EXPECT_TRUE(piece.failed());
        EXPECT_EQ(piece.nodeCount(), rim.size());
    }
    Corners c(xy);
    auto* piece = new FillPolygon(&c.mesh);
    piece->buildFromVertices(c.loop(rim));
    piece->fitPlane();
    const std::size_t vertices = c.mesh.vertices().size();
    std::deque<StlVertex*> loop = c.loop({11, 12, 13, 14, 11});
    FillPolygon* hole = piece->insertChain(loop);
    ASSERT_NE(hole, nullptr);
    EXPECT_FALSE(piece->failed());
    EXPECT_EQ(hole->nodeCount(), 4u);
    ASSERT_EQ(c.mesh.vertices().size(), vertices + 1);
    EXPECT_TRUE(c.mesh.vertices().back()->pos == Vector3D(5.8, 6, 0));
    std::vector<FillPolygon*> stack{piece, hole};
    const UpwardSource source;
    EXPECT_TRUE(FillPolygon::triangulateCutPieces(stack, &source));
    // Square less slot and dent, plus nothing lost inside the hole.
    EXPECT_NEAR(liveArea(c.mesh), 100.0 - 0.4 * 8.0 - 3.0 * 2.0 / 2.0, 1e-9);
}

TEST(PolygonChains, chainsThatCannotBeInsertedAreReported) {
    Corners c({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {20, 4}, {22, 4}, {22, 6}, {0.00001, 0}, {5, 5}, {1, 1}});
    auto square = [&c]() {
        auto p = std::make_unique<FillPolygon>(&c.mesh);
        p->buildFromVertices(c.loop({0, 1, 2, 3}));
        p->fitPlane();
        return p;
    };
    struct Case {
        const char* name;
        std::vector<int> chain;
        bool closed;
        bool fails;
    };
    const std::vector<Case> cases{
        // Both ends at corner 0 with a vertex between them: the cut would be lost.
        {"open chain returning to its corner", {0, 8, 7}, false, true},
        // The same two ends with nothing between: nothing to insert.
        {"open chain of two ends at one corner", {0, 7}, false, false},
        // A loop beyond every rim corner along the bridge axis: no bridge.
        {"loop without an admissible bridge", {4, 5, 6, 4}, true, true},
        {"loop of two vertices", {8, 9, 8}, true, true},
        {"boundary loop that does not close", {0, 8, 9, 2}, true, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto p = square();
        std::deque<StlVertex*> chain = c.loop(k.chain);
        p->markVertices(2);
        if (k.chain.front() != 0)
            chain.front()->setMark(0);
        std::unique_ptr<FillPolygon> other(k.closed ? p->insertChain(chain) : p->splitByChain(chain));
        p->markVertices(0);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(p->failed(), k.fails);
        EXPECT_EQ(p->nodeCount(), 4u);
    }
}
