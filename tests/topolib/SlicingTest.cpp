// Slicing meshes into outlines: shapes and orientation of the outlines, the
// z-slab index, degenerate heights and the index's life across transforms.

#include "MeshFixtures.h"

#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/ZSlabIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

using topolib::SliceContour;
using topolib::SliceContourSet;
using topolib::StlObject;
using topolib::ZSlabIndex;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<StlObject> meshOf(const meshfixtures::TriangleSoup& soup) {
    return meshfixtures::buildMesh(soup);
}

// Signed areas of the outlines, in the order sliceAt returns them.
std::vector<double> areasOf(const SliceContourSet* set) {
    std::vector<double> areas;
    if (set)
        for (const SliceContour& c : set->contours)
            areas.push_back(c.signedArea());
    return areas;
}

bool firstEqualsLast(const SliceContour& c) {
    return !c.points.empty() && c.points.front().x == c.points.back().x &&
           c.points.front().y == c.points.back().y;
}

// No two consecutive points of an outline coincide.
bool hasNoRepeatedPoint(const SliceContour& c) {
    for (std::size_t i = 1; i < c.points.size(); ++i)
        if (c.points[i].x == c.points[i - 1].x && c.points[i].y == c.points[i - 1].y)
            return false;
    return true;
}

bool sameResult(const SliceContourSet* a, const SliceContourSet* b) {
    if (!a || !b)
        return a == b;
    if (a->z != b->z || a->contours.size() != b->contours.size())
        return false;
    for (std::size_t i = 0; i < a->contours.size(); ++i) {
        const SliceContour& p = a->contours[i];
        const SliceContour& q = b->contours[i];
        if (p.closed != q.closed || p.points.size() != q.points.size())
            return false;
        for (std::size_t k = 0; k < p.points.size(); ++k)
            if (p.points[k].x != q.points[k].x || p.points[k].y != q.points[k].y)
                return false;
    }
    return true;
}

} // namespace

TEST(ZSlabIndex, slabCountFollowsMeshSizeAndMeanEdgeLength) {
    struct Case {
        std::uint32_t triangles;
        double minSlabHeight;
        double zMin, zMax;
        std::uint32_t slabs;
    };
    const Case cases[] = {
        {999, 0.0, 0.0, 10.0, 2},         {1000, 0.0, 0.0, 10.0, 10},      {99999, 0.0, 0.0, 10.0, 100},
        {100000, 0.0, 0.0, 10.0, 500},    {4999999, 0.0, 0.0, 10.0, 1000}, {5000000, 0.001, 0.0, 10.0, 500},
        {20000000, 0.0, 0.0, 10.0, 2000}, {100000, 0.5, 0.0, 10.0, 20}, // slabs never thinner than 0.5
        {100000, 3.0, 0.0, 10.0, 3},      {100000, 20.0, 0.0, 10.0, 0}, // one bucket holds all
    };
    for (const Case& c : cases) {
        const ZSlabIndex index(c.triangles, c.minSlabHeight, c.zMax, c.zMin);
        EXPECT_EQ(index.slabCount(), c.slabs) << c.triangles << " triangles, min height " << c.minSlabHeight;
        EXPECT_EQ(index.bucketCount(), c.slabs + 1);
    }
}

TEST(ZSlabIndex, triangleIsListedInEverySlabItsHeightsReach) {
    // 999 triangles: 2 slabs of height 5 over [0, 10], buckets 0, 1 and the top one.
    ZSlabIndex index(999, 0.0, 10.0, 0.0);
    topolib::StlVertex a(0, 0, 1), b(1, 0, 4), c(0, 1, 6), d(0, 0, 10), e(1, 0, 11), f(0, 1, 12);
    topolib::StlVertex g(0, 0, -3), h(1, 0, -2), k(0, 1, -1);
    topolib::StlTriangle across, top, below;
    across.vertices[0] = &a, across.vertices[1] = &b, across.vertices[2] = &c;
    top.vertices[0] = &d, top.vertices[1] = &e, top.vertices[2] = &f;
    below.vertices[0] = &g, below.vertices[1] = &h, below.vertices[2] = &k;
    index.add(&across);
    index.add(&top);
    index.add(&below);
    ASSERT_EQ(index.bucketCount(), 3u);
    EXPECT_EQ(index.bucket(0), std::vector<topolib::StlTriangle*>{&across});
    EXPECT_EQ(index.bucket(1), std::vector<topolib::StlTriangle*>{&across});
    EXPECT_EQ(index.bucket(2), std::vector<topolib::StlTriangle*>{&top}); // reaches z = 10 only
    EXPECT_EQ(index.bucketOf(4.9), 0);
    EXPECT_EQ(index.bucketOf(10.0), 2);
    EXPECT_EQ(index.bucketOf(10.5), -1);
    EXPECT_EQ(index.bucketOf(std::nan("")), -1);
}

TEST(Slicing, closedBoxGivesOneCounterClockwiseOutline) {
    auto box = meshOf(meshfixtures::box({10.0, 20.0, 30.0}, {1.0, 2.0, 3.0}));
    auto set = box->sliceAt(18.0);
    ASSERT_TRUE(set);
    EXPECT_FLOAT_EQ(set->z, 18.0f);
    EXPECT_FLOAT_EQ(set->tolerance, 0.025f);
    ASSERT_EQ(set->contours.size(), 1u);
    const SliceContour& c = set->contours[0];
    // 4 vertical edges, 4 face diagonals and the first point again.
    EXPECT_EQ(c.points.size(), 9u);
    EXPECT_TRUE(c.closed);
    EXPECT_TRUE(firstEqualsLast(c));
    EXPECT_NEAR(c.signedArea(), 200.0, 1e-4);
    for (const topolib::SlicePoint& p : c.points) {
        EXPECT_TRUE(p.x >= 1.0f - 1e-5f && p.x <= 11.0f + 1e-5f);
        EXPECT_TRUE(p.y >= 2.0f - 1e-5f && p.y <= 22.0f + 1e-5f);
    }
}

TEST(Slicing, outlinesOfHolesRunClockwise) {
    // A hollow box: the outer shell and an inward-facing inner shell.
    auto hollow = meshOf(meshfixtures::concatenated(
        meshfixtures::cube(10.0), meshfixtures::flipped(meshfixtures::cube(6.0, {2, 2, 2}))));
    auto set = hollow->sliceAt(5.0);
    ASSERT_TRUE(set);
    std::vector<double> areas = areasOf(set.get());
    ASSERT_EQ(areas.size(), 2u);
    std::sort(areas.begin(), areas.end());
    EXPECT_NEAR(areas[0], -36.0, 1e-4);
    EXPECT_NEAR(areas[1], 100.0, 1e-4);
}

TEST(Slicing, uvSphereGivesOneCircleAtAVertexRingAndBetweenRings) {
    // 2 · 320 · 313 = 200,320 facets; with an even stack count the equator is a
    // ring of vertices lying exactly in the plane z = 0.
    auto sphere = meshOf(meshfixtures::uvSphere(1.0, 320, 314));
    ASSERT_EQ(sphere->triangleCount(), 200320u);
    for (double z : {0.0, 0.123}) {
        auto set = sphere->sliceAt(z);
        ASSERT_TRUE(set) << z;
        ASSERT_EQ(set->contours.size(), 1u) << z;
        const SliceContour& c = set->contours[0];
        EXPECT_TRUE(c.closed);
        EXPECT_TRUE(firstEqualsLast(c));
        EXPECT_TRUE(hasNoRepeatedPoint(c)) << z;
        const double zc = set->z;
        const double expected = kPi * (1.0 - zc * zc);
        EXPECT_GT(c.signedArea(), 0.0);
        EXPECT_NEAR(c.signedArea() / expected, 1.0, 5e-4) << z;
    }
    // Through the equator ring the outline visits each of its 320 vertices once.
    EXPECT_EQ(sphere->sliceAt(0.0)->contours[0].points.size(), 321u);
}

TEST(Slicing, torusCutThroughItsMiddleGivesOuterAndInnerOutline) {
    const double R = 3.0, r = 1.0;
    auto torus = meshOf(meshfixtures::torus(R, r, 400, 200));
    for (double z : {0.0, 0.37}) {
        auto set = torus->sliceAt(z);
        ASSERT_TRUE(set);
        std::vector<double> areas = areasOf(set.get());
        ASSERT_EQ(areas.size(), 2u) << z;
        std::sort(areas.begin(), areas.end());
        const double zc = set->z;
        const double half = std::sqrt(r * r - zc * zc);
        EXPECT_NEAR(areas[0] / (-kPi * (R - half) * (R - half)), 1.0, 1e-3) << z;
        EXPECT_NEAR(areas[1] / (kPi * (R + half) * (R + half)), 1.0, 1e-3) << z;
        for (const SliceContour& c : set->contours)
            EXPECT_TRUE(c.closed && firstEqualsLast(c) && hasNoRepeatedPoint(c));
    }
}

TEST(Slicing, planeThroughFlatFacesGivesNoStraySegments) {
    // A cube resting on the platform: cut at 0 it gives its footprint and nothing
    // from the bottom face; cut at its top height (or above) it gives nothing.
    auto cube = meshOf(meshfixtures::cube(10.0));
    auto bottom = cube->sliceAt(0.0);
    ASSERT_TRUE(bottom);
    ASSERT_EQ(bottom->contours.size(), 1u);
    EXPECT_TRUE(bottom->contours[0].closed);
    EXPECT_TRUE(hasNoRepeatedPoint(bottom->contours[0]));
    EXPECT_EQ(bottom->contours[0].points.size(), 5u);
    EXPECT_NEAR(bottom->contours[0].signedArea(), 100.0, 1e-4);
    EXPECT_FALSE(cube->sliceAt(10.0));
    EXPECT_FALSE(cube->sliceAt(10.5));
    EXPECT_FALSE(cube->sliceAt(-0.5));
    EXPECT_FALSE(cube->sliceAt(std::nan("")));
    EXPECT_FALSE(cube->sliceAt(1e300));

    // A lone flat facet or fan in the plane is cut nowhere.
    EXPECT_FALSE(meshOf(meshfixtures::singleFacet())->sliceAt(0.0));
    EXPECT_FALSE(meshOf(meshfixtures::fan(12, 10.0, 360.0))->sliceAt(0.0));
}

TEST(Slicing, eachSliceIsIndependentOfEarlierSlicesAndWalkMarks) {
    const auto soup = meshfixtures::concatenated(meshfixtures::torus(3.0, 1.0, 60, 30),
                                                 meshfixtures::cube(2.0, {-1.0, -1.0, -0.9}));
    const double heights[] = {0.0, 0.5, -0.4, 0.5, 0.95, 0.0};
    auto reused = meshOf(soup);
    for (double z : heights) {
        auto fresh = meshOf(soup);
        auto alone = fresh->sliceAt(z);
        auto inRow = reused->sliceAt(z);
        EXPECT_TRUE(sameResult(alone.get(), inRow.get())) << z;
    }
    // Walk marks another algorithm left on the triangles neither hide segments nor
    // get changed by slicing.
    auto marked = meshOf(soup);
    for (topolib::StlTriangle* t : marked->triangles())
        t->setWalkMark(5);
    auto expected = meshOf(soup)->sliceAt(0.5);
    auto got = marked->sliceAt(0.5);
    EXPECT_TRUE(sameResult(expected.get(), got.get()));
    for (const topolib::StlTriangle* t : marked->triangles())
        EXPECT_EQ(t->walkMark(), 5u);
}

TEST(Slicing, outlineCrossesIntoTheNextShellAlongACut) {
    // A box whose triangles were split into two shells along a vertical cut (as a
    // drilled drain hole splits a model): the outline still closes once.
    auto box = meshOf(meshfixtures::box({10.0, 10.0, 10.0}));
    if (box->shells().empty())
        box->findShells(false, 85);
    ASSERT_EQ(box->shells().size(), 1u);
    auto* second = new topolib::StlShell(box.get());
    for (topolib::StlTriangle* t : box->triangles()) {
        const double cx = (t->vertices[0]->x() + t->vertices[1]->x() + t->vertices[2]->x()) / 3.0;
        const double cy = (t->vertices[0]->y() + t->vertices[1]->y() + t->vertices[2]->y()) / 3.0;
        if (cx + cy > 10.0)
            t->shell = second;
    }
    box->shells().push_back(second);
    for (topolib::StlEdge* e : box->edges())
        if (e->triangleCount() == 2 && e->triangle(0)->shell != e->triangle(1)->shell)
            e->edgeClass = topolib::kEdgeNonManifold;
    auto set = box->sliceAt(5.0);
    ASSERT_TRUE(set);
    ASSERT_EQ(set->contours.size(), 1u);
    EXPECT_TRUE(set->contours[0].closed);
    EXPECT_NEAR(set->contours[0].signedArea(), 100.0, 1e-4);
}

TEST(Slicing, openBorderGivesOpenOutlines) {
    // The cube without its top, lying on its side: the open rim crosses the plane.
    auto open = meshOf(meshfixtures::openBox(10.0));
    const double quarterTurn[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1}; // y -> z
    for (topolib::StlVertex* v : open->vertices())
        v->transform(quarterTurn);
    open->computeBoundingBox();
    open->invalidateZSlabIndex();
    auto set = open->sliceAt(5.0);
    ASSERT_TRUE(set);
    // One outline from rim to rim around the three walls, however the walk started.
    ASSERT_EQ(set->contours.size(), 1u);
    const SliceContour& c = set->contours[0];
    EXPECT_FALSE(c.closed);
    EXPECT_FALSE(firstEqualsLast(c));
    EXPECT_TRUE(hasNoRepeatedPoint(c));
    EXPECT_GE(c.points.size(), 4u);
    EXPECT_NEAR(c.points.front().y, -10.0f, 1e-5f);
    EXPECT_NEAR(c.points.back().y, -10.0f, 1e-5f);
    // Walked with the material on the left: from the rim at x = 10 to the rim at x = 0.
    EXPECT_NEAR(c.points.front().x, 10.0f, 1e-5f);
    EXPECT_NEAR(c.points.back().x, 0.0f, 1e-5f);
}

TEST(Slicing, indexFollowsTransformsAndEdits) {
    auto box = meshOf(meshfixtures::box({10.0, 20.0, 30.0}));
    ASSERT_TRUE(box->sliceAt(15.0));
    ASSERT_NE(box->zSlabIndex(), nullptr);

    const double up[3] = {0.0, 0.0, 100.0};
    box->translate(up);
    EXPECT_FALSE(box->sliceAt(15.0));
    auto moved = box->sliceAt(115.0);
    ASSERT_TRUE(moved);
    EXPECT_NEAR(moved->contours[0].signedArea(), 200.0, 1e-3);

    const double twice[3] = {2.0, 2.0, 2.0};
    box->scale(twice); // z now from 200 to 260
    auto scaled = box->sliceAt(250.0);
    ASSERT_TRUE(scaled);
    EXPECT_NEAR(scaled->contours[0].signedArea(), 800.0, 1e-3);

    const double mirror[3] = {1.0, 1.0, -1.0};
    box->scale(mirror); // z now from -260 to -200
    box->computeBoundingBox();
    auto mirrored = box->sliceAt(-250.0);
    ASSERT_TRUE(mirrored);
    ASSERT_EQ(mirrored->contours.size(), 1u);
    EXPECT_NEAR(std::fabs(mirrored->contours[0].signedArea()), 800.0, 1e-3);

    // Triangles appended by an edit are sliced too: a second box as a new shell,
    // without edges.
    auto two = meshOf(meshfixtures::cube(10.0));
    ASSERT_EQ(two->sliceAt(5.0)->contours.size(), 1u);
    std::vector<double> xyz;
    for (int i = 0; i < 8; ++i)
        xyz.insert(xyz.end(), {20.0 + 10.0 * (i & 1), 10.0 * ((i >> 1) & 1), 10.0 * ((i >> 2) & 1)});
    const int corners[36] = {0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
                             2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};
    ASSERT_TRUE(two->appendMesh(8, 12, xyz.data(), corners));
    auto both = two->sliceAt(5.0);
    ASSERT_TRUE(both);
    EXPECT_EQ(areasOf(both.get()).size(), 2u);
    for (double a : areasOf(both.get()))
        EXPECT_NEAR(a, 100.0, 1e-4);
    // Also beyond the mesh's bounding box, which edits leave as it was.
    for (std::size_t i = 2; i < xyz.size(); i += 3)
        xyz[i] += 20.0;
    ASSERT_TRUE(two->appendMesh(8, 12, xyz.data(), corners));
    const std::vector<double> above = areasOf(two->sliceAt(25.0).get());
    ASSERT_EQ(above.size(), 1u);
    EXPECT_NEAR(above[0], 100.0, 1e-4);

    // Rotation vertex by vertex: the caller invalidates the index.
    auto turned = meshOf(meshfixtures::box({10.0, 20.0, 30.0}));
    ASSERT_TRUE(turned->sliceAt(5.0));
    const double quarterTurn[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1}; // y -> z, z -> -y
    for (topolib::StlVertex* v : turned->vertices())
        v->transform(quarterTurn);
    turned->computeBoundingBox();
    turned->invalidateZSlabIndex();
    auto after = turned->sliceAt(5.0);
    ASSERT_TRUE(after);
    EXPECT_NEAR(after->contours[0].signedArea(), 300.0, 1e-3);
}

TEST(Slicing, invalidationNeverWeakensAPendingRebuild) {
    auto box = meshOf(meshfixtures::cube(10.0));
    ASSERT_TRUE(box->sliceAt(5.0));
    EXPECT_EQ(box->slabState(), 0);
    box->invalidateZSlabIndex(true);
    EXPECT_EQ(box->slabState(), 1);
    box->invalidateZSlabIndex(false);
    box->invalidateZSlabIndex(true);
    EXPECT_EQ(box->slabState(), 2);
    ASSERT_TRUE(box->sliceAt(5.0));
    EXPECT_EQ(box->slabState(), 0);
}

TEST(Slicing, differentMeshesSliceOnTwoThreadsAtOnce) {
    auto sphere = meshOf(meshfixtures::uvSphere(1.0, 64, 40));
    auto torus = meshOf(meshfixtures::torus(3.0, 1.0, 80, 40));
    const int steps = 40;
    auto sliceAll = [steps](StlObject& mesh, double lo, double hi) {
        std::vector<std::vector<double>> out;
        for (int i = 0; i <= steps; ++i)
            out.push_back(areasOf(mesh.sliceAt(lo + (hi - lo) * i / steps).get()));
        return out;
    };
    std::vector<std::vector<double>> a, b;
    std::thread ta([&] { a = sliceAll(*sphere, -1.0, 1.0); });
    std::thread tb([&] { b = sliceAll(*torus, -1.0, 1.0); });
    ta.join();
    tb.join();
    auto sphere2 = meshOf(meshfixtures::uvSphere(1.0, 64, 40));
    auto torus2 = meshOf(meshfixtures::torus(3.0, 1.0, 80, 40));
    EXPECT_EQ(a, sliceAll(*sphere2, -1.0, 1.0));
    EXPECT_EQ(b, sliceAll(*torus2, -1.0, 1.0));
}
