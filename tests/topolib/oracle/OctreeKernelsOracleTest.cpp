// The conservative kernels of the octree against independent answers: CGAL's
// exact predicates for triangle/box and ray/triangle, a dense point sampling for
// the support shapes. A conservative kernel may say "hit" for a near miss, never
// "miss" for a hit.

#include "topolib/OctreeKernels.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TruncatedCone.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/intersections.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

namespace {

using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using topolib::StlTriangle;
using topolib::StlVertex;

constexpr int kCases = 100000;

// A triangle over three owned vertices.
struct Tri {
    StlVertex a, b, c;
    StlTriangle t;
    Tri(const double* p, const double* q, const double* r) : a(p), b(q), c(r) { t.init(&a, &b, &c); }
    K::Triangle_3 cgal() const {
        return {K::Point_3(a.x(), a.y(), a.z()), K::Point_3(b.x(), b.y(), b.z()), K::Point_3(c.x(), c.y(), c.z())};
    }
};

struct Random {
    std::mt19937_64 rng;
    explicit Random(unsigned seed) : rng(seed) {}
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    void point(double* p, double lo, double hi) {
        for (int k = 0; k < 3; ++k)
            p[k] = uniform(lo, hi);
    }
    void unit(double* d) {
        double l2 = 0.0;
        do {
            point(d, -1.0, 1.0);
            l2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        } while (l2 < 1e-4 || l2 > 1.0);
        const double l = std::sqrt(l2);
        for (int k = 0; k < 3; ++k)
            d[k] /= l;
    }
    // A triangle near the unit cube, large or small, sometimes a sliver.
    std::unique_ptr<Tri> triangle() {
        double p[3], q[3], r[3];
        point(p, -0.5, 1.5);
        const double spread = uniform(0.01, 1.5);
        for (int k = 0; k < 3; ++k) {
            q[k] = p[k] + uniform(-spread, spread);
            r[k] = p[k] + uniform(-spread, spread);
        }
        return std::make_unique<Tri>(p, q, r);
    }
};

TEST(OctreeKernelsOracle, cubeOverlapNeverMissesWhatCgalFindsTouching) {
    Random rnd(20240611);
    int hits = 0;
    for (int i = 0; i < kCases; ++i) {
        auto tri = rnd.triangle();
        if (tri->t.normal.lengthSquared() == 0.0)
            continue;
        double origin[3];
        rnd.point(origin, -0.5, 1.0);
        const double edge = rnd.uniform(0.05, 1.0);
        const K::Iso_cuboid_3 box(K::Point_3(origin[0], origin[1], origin[2]),
                                  K::Point_3(origin[0] + edge, origin[1] + edge, origin[2] + edge));
        if (CGAL::do_intersect(tri->cgal(), box)) {
            ++hits;
            ASSERT_TRUE(topolib::triangleOverlapsCube(&tri->t, origin, edge)) << "case " << i;
        }
    }
    EXPECT_GT(hits, kCases / 20); // the cases exercise both answers
}

TEST(OctreeKernelsOracle, lineHitNeverMissesWhatCgalFindsOnTheRayOrLine) {
    Random rnd(777);
    int hits = 0;
    for (int i = 0; i < kCases; ++i) {
        auto tri = rnd.triangle();
        if (tri->t.normal.lengthSquared() == 0.0)
            continue;
        double q[3], d[3];
        rnd.point(q, -1.0, 2.0);
        // Aim near the triangle half of the time so that hits are common.
        if (i % 2 == 0) {
            const double u = rnd.uniform(0.0, 1.0), v = rnd.uniform(0.0, 1.0 - u);
            double target[3];
            for (int k = 0; k < 3; ++k)
                target[k] = tri->a.pos[k] + u * (tri->b.pos[k] - tri->a.pos[k]) + v * (tri->c.pos[k] - tri->a.pos[k]) +
                            rnd.uniform(-0.01, 0.01);
            for (int k = 0; k < 3; ++k)
                d[k] = target[k] - q[k];
        } else {
            rnd.unit(d);
        }
        const K::Point_3 from(q[0], q[1], q[2]);
        const K::Vector_3 dir(d[0], d[1], d[2]);
        const bool rayHit = CGAL::do_intersect(K::Ray_3(from, dir), tri->cgal());
        const bool lineHit = CGAL::do_intersect(K::Line_3(from, dir), tri->cgal());
        double h[3];
        const bool mine = tri->t.lineHit(q, d, h);
        // A line almost parallel to the plane is refused by design (|n . d| < 1e-6
        // for the given direction); such cases are not hits of the kernel's contract.
        const double nd = std::fabs(tri->t.normal.dot(topolib::Vector3D(d)));
        if (nd < 1e-6)
            continue;
        if (rayHit || lineHit) {
            ++hits;
            ASSERT_TRUE(mine) << "case " << i;
        }
    }
    EXPECT_GT(hits, kCases / 10);
}

// True when some sample of the triangle lies inside the solid by more than a
// small margin.
template <typename Inside>
bool sampledHit(const Tri& tri, Inside inside) {
    constexpr int n = 24;
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; i + j <= n; ++j) {
            const double u = double(i) / n, v = double(j) / n;
            double p[3];
            for (int k = 0; k < 3; ++k)
                p[k] = tri.a.pos[k] + u * (tri.b.pos[k] - tri.a.pos[k]) + v * (tri.c.pos[k] - tri.a.pos[k]);
            if (inside(p))
                return true;
        }
    }
    return false;
}

TEST(OctreeKernelsOracle, cylinderTestNeverMissesASampledHit) {
    Random rnd(4242);
    int hits = 0;
    for (int i = 0; i < kCases; ++i) {
        auto tri = rnd.triangle();
        double centre[3], axis[3];
        rnd.point(centre, 0.0, 1.0);
        rnd.unit(axis);
        const double radius = rnd.uniform(0.01, 0.4);
        const double length = rnd.uniform(0.05, 1.5);
        const bool sampled = sampledHit(*tri, [&](const double* p) {
            double w[3] = {p[0] - centre[0], p[1] - centre[1], p[2] - centre[2]};
            const double h = w[0] * axis[0] + w[1] * axis[1] + w[2] * axis[2];
            const double d2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2] - h * h;
            return std::fabs(h) < length / 2 - 1e-6 && d2 < radius * radius * (1 - 1e-9);
        });
        if (sampled) {
            ++hits;
            ASSERT_TRUE(topolib::triangleIntersectsCylinder(&tri->t, centre, axis, &radius, &length)) << "case " << i;
        }
    }
    EXPECT_GT(hits, kCases / 20);
}

TEST(OctreeKernelsOracle, truncatedConeTestNeverMissesASampledHit) {
    Random rnd(99);
    int hits = 0;
    int rejected = 0;
    for (int i = 0; i < kCases; ++i) {
        auto tri = rnd.triangle();
        if (tri->t.normal.lengthSquared() == 0.0)
            continue;
        double p1[3], p2[3];
        rnd.point(p1, 0.0, 1.0);
        double dir[3];
        rnd.unit(dir);
        const double len = rnd.uniform(0.1, 1.5);
        for (int k = 0; k < 3; ++k)
            p2[k] = p1[k] + dir[k] * len;
        double r1 = rnd.uniform(0.01, 0.2);
        double r2 = r1 + rnd.uniform(0.01, 0.4);
        Misc::VBTruncatedCone cone;
        cone.set(p1, p2, &r1, &r2);
        const bool sampled = sampledHit(*tri, [&](const double* p) {
            double w[3] = {p[0] - p1[0], p[1] - p1[1], p[2] - p1[2]};
            const double h = w[0] * dir[0] + w[1] * dir[1] + w[2] * dir[2];
            if (h < 1e-6 || h > len - 1e-6)
                return false;
            const double radius = r1 + (r2 - r1) * h / len;
            const double d2 = w[0] * w[0] + w[1] * w[1] + w[2] * w[2] - h * h;
            return d2 < radius * radius * (1 - 1e-6);
        });
        const bool mine = topolib::triangleIntersectsTruncatedCone(&tri->t, &cone);
        if (sampled) {
            ++hits;
            ASSERT_TRUE(mine) << "case " << i;
        } else if (!mine) {
            ++rejected;
        }
    }
    EXPECT_GT(hits, kCases / 20);
    EXPECT_GT(rejected, kCases / 4); // the test is not a constant "hit"
}

} // namespace

// ---- the pair walk of two trees ----------------------------------------------------

#include "MeshFixtures.h"
#include "topolib/MeshOctree.h"
#include "topolib/StlObject.h"
#include "topolib/TriangleIntersection.h"

#include <set>
#include <utility>

namespace {

using Pair = std::pair<int, int>;

std::unique_ptr<topolib::StlObject> sphereWithOctree(double radius, int level, const meshfixtures::Point& centre) {
    meshfixtures::BuildSteps steps;
    steps.shells = false;
    auto mesh = meshfixtures::buildMesh(meshfixtures::icosphere(radius, level, centre), steps);
    mesh->buildVertexOctree(false);
    mesh->buildTriangleOctree();
    return mesh;
}

K::Triangle_3 cgalTriangle(const StlTriangle* t) {
    auto p = [&](int k) { return K::Point_3(t->vertices[k]->x(), t->vertices[k]->y(), t->vertices[k]->z()); };
    return {p(0), p(1), p(2)};
}

class PairWalk : public ::testing::Test {
protected:
    void SetUp() override {
        a = sphereWithOctree(10.0, 4, {0.0, 0.0, 0.0});
        b = sphereWithOctree(7.0, 4, {9.0, 2.0, 1.0});
    }
    std::unique_ptr<topolib::StlObject> a, b;
};

TEST_F(PairWalk, visitsEveryPairOfTrianglesThatCgalFindsIntersecting) {
    std::set<Pair> visited;
    a->octree()->forEachCandidatePair(a->octreeOrigin(), a->octreeEdge(), *b->octree(), b->octreeOrigin(),
                                      b->octreeEdge(), [&](StlTriangle* s, StlTriangle* t) {
                                          visited.insert({s->id, t->id});
                                      });
    std::set<Pair> intersecting, found;
    for (StlTriangle* s : a->triangles()) {
        const K::Triangle_3 cs = cgalTriangle(s);
        for (StlTriangle* t : b->triangles()) {
            if (CGAL::do_intersect(cs, cgalTriangle(t))) {
                intersecting.insert({s->id, t->id});
                if (visited.count({s->id, t->id}))
                    found.insert({s->id, t->id});
            }
        }
    }
    EXPECT_GT(intersecting.size(), 100u);
    EXPECT_EQ(found, intersecting);
}

struct RecordingSink : topolib::MeshOctree::CutterSink {
    std::set<std::pair<StlTriangle*, StlTriangle*>> recorded;
    bool alreadyRecorded(StlTriangle* s, StlTriangle* t) override { return recorded.count({s, t}) != 0; }
    void record(StlTriangle* s, StlTriangle* t) override { recorded.insert({s, t}); }
};

TEST_F(PairWalk, collectsExactlyTheIntersectingPairsTheCutterAccepts) {
    RecordingSink sink;
    std::deque<topolib::SnapRecord> snaps;
    std::vector<StlTriangle*> coplanar;
    bool found = false;
    topolib::MeshOctree::collectIntersectionSegments(*a->octree(), a->octreeOrigin(), a->octreeEdge(), *b->octree(),
                                                     b->octreeOrigin(), b->octreeEdge(), &snaps, &coplanar, &found,
                                                     sink);
    EXPECT_TRUE(found);
    EXPECT_TRUE(coplanar.empty());
    // Brute force: every pair that intersects (CGAL) and passes the cutter's coarse
    // test must be recorded, both ways; every recorded pair passes the coarse test.
    std::set<std::pair<StlTriangle*, StlTriangle*>> expected;
    std::deque<topolib::SnapRecord> scratch;
    for (StlTriangle* s : a->triangles()) {
        const K::Triangle_3 cs = cgalTriangle(s);
        for (StlTriangle* t : b->triangles()) {
            if (CGAL::do_intersect(cs, cgalTriangle(t)) && topolib::TriangleCutter::prefilterPair(s, t, &scratch)) {
                expected.insert({s, t});
                expected.insert({t, s});
            }
        }
    }
    EXPECT_GT(expected.size(), 100u);
    for (const auto& p : expected)
        EXPECT_TRUE(sink.recorded.count(p)) << p.first->id << " " << p.second->id;
    const std::set<StlTriangle*> ofA(a->triangles().begin(), a->triangles().end());
    for (const auto& p : sink.recorded) {
        const bool firstOfA = ofA.count(p.first) != 0;
        EXPECT_TRUE(firstOfA ? topolib::TriangleCutter::prefilterPair(p.first, p.second, &scratch)
                             : topolib::TriangleCutter::prefilterPair(p.second, p.first, &scratch));
    }
    EXPECT_EQ(sink.recorded, expected);
}

} // namespace
