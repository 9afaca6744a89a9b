// The ray, cube and triangle-pair kernels against CGAL's exact predicates. The
// kernels are conservative: they may answer "hit" for a near miss, never "miss"
// where CGAL finds an intersection (beyond the documented tolerances).

#include "topolib/GeometricPredicates.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleIntersection.h"

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
using topolib::Vector3D;

constexpr int kCases = 100000;

K::Point_3 cgalPoint(const Vector3D& p) {
    return {p.x, p.y, p.z};
}

struct Facet {
    StlVertex v[3];
    StlTriangle t;
    Facet(const Vector3D& a, const Vector3D& b, const Vector3D& c)
        : v{StlVertex(a.data()), StlVertex(b.data()), StlVertex(c.data())} {
        t.init(&v[0], &v[1], &v[2]);
    }
    Vector3D corner(int k) const { return v[k].pos; }
    Vector3D centroid() const { return (corner(0) + corner(1) + corner(2)) / 3.0; }
    K::Triangle_3 cgal() const { return {cgalPoint(corner(0)), cgalPoint(corner(1)), cgalPoint(corner(2))}; }
    // The triangle scaled about its centroid by f.
    K::Triangle_3 cgalScaled(double f) const {
        const Vector3D c = centroid();
        return {cgalPoint(c + (corner(0) - c) * f), cgalPoint(c + (corner(1) - c) * f),
                cgalPoint(c + (corner(2) - c) * f)};
    }
};

struct Random {
    std::mt19937_64 rng;
    explicit Random(unsigned seed) : rng(seed) {}
    double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    Vector3D point(double lo, double hi) { return {uniform(lo, hi), uniform(lo, hi), uniform(lo, hi)}; }
    // A triangle of fair area in [-1, 1]³ (slivers below area 1e-4 are redrawn).
    std::unique_ptr<Facet> triangle(double lo = -1.0, double hi = 1.0) {
        for (;;) {
            const Vector3D a = point(lo, hi), b = point(lo, hi), c = point(lo, hi);
            if ((b - a).cross(c - a).lengthSquared() > 4e-8)
                return std::make_unique<Facet>(a, b, c);
        }
    }
};

} // namespace

TEST(KernelOracle, rayTriangleNeverMissesACgalHit) {
    Random r(11);
    int hits = 0, extra = 0, cases = 0;
    while (cases < kCases) {
        auto f = r.triangle();
        const Vector3D q = r.point(-3.0, 3.0);
        // Aim at a point near the triangle so that about half of the rays hit.
        const Vector3D aim = f->centroid() + r.point(-0.6, 0.6);
        const Vector3D d = aim - q;
        // A ray starting in the triangle's plane never hits by contract.
        if (std::fabs(f->t.normal.dot(q - f->corner(0))) < 1e-6 || d.lengthSquared() < 1e-12)
            continue;
        ++cases;
        const bool cgal = CGAL::do_intersect(K::Ray_3(cgalPoint(q), cgalPoint(q + d)), f->cgal());
        const bool ours = topolib::rayHitsTriangle(&f->t, q.data(), d.data());
        hits += cgal;
        extra += ours && !cgal;
        ASSERT_FALSE(cgal && !ours) << "case " << cases;
    }
    EXPECT_GT(hits, kCases / 5);
    EXPECT_LT(extra, kCases / 1000); // near misses only
}

TEST(KernelOracle, lineAndRayCubeTestsNeverMissACgalHit) {
    Random r(12);
    int rayHits = 0, lineHits = 0;
    for (int n = 0; n < kCases; ++n) {
        const Vector3D corner = r.point(-1.0, 1.0);
        const double edge = r.uniform(0.05, 2.0);
        // Origins outside and, now and then, inside the cube.
        const Vector3D o = n % 8 == 0 ? corner + r.point(0.0, edge) : r.point(-4.0, 4.0);
        const Vector3D aim = corner + r.point(-0.5 * edge, 1.5 * edge);
        Vector3D d = aim - o;
        if (n % 16 == 1)
            d = -d; // rays heading away
        if (d.lengthSquared() < 1e-12)
            continue;
        const K::Iso_cuboid_3 box(cgalPoint(corner), cgalPoint(corner + Vector3D(edge, edge, edge)));
        const bool cgalRay = CGAL::do_intersect(K::Ray_3(cgalPoint(o), cgalPoint(o + d)), box);
        const bool cgalLine = CGAL::do_intersect(K::Line_3(cgalPoint(o), cgalPoint(o + d)), box);
        const bool ray = topolib::rayMeetsCube(o.data(), d.data(), corner.data(), &edge);
        const bool line = topolib::lineMeetsCube(o.data(), d.data(), corner.data(), &edge);
        rayHits += cgalRay;
        lineHits += cgalLine;
        ASSERT_FALSE(cgalRay && !ray) << "ray case " << n;
        ASSERT_FALSE(cgalLine && !line) << "line case " << n;
    }
    EXPECT_GT(rayHits, kCases / 5);
    EXPECT_GT(lineHits, rayHits);
}

TEST(KernelOracle, pairPrefilterKeepsEveryCrossingPairCgalFinds) {
    Random r(13);
    int crossing = 0, marginal = 0;
    for (int n = 0; n < kCases; ++n) {
        auto a = r.triangle(), b = r.triangle();
        if (!CGAL::do_intersect(a->cgal(), b->cgal()))
            continue;
        ++crossing;
        if (topolib::TriangleCutter::prefilterPair(&a->t, &b->t, nullptr))
            continue;
        // Spans shorter than 1e-6 on the common line are dropped by design: such a
        // contact disappears when both triangles shrink by a hair.
        ++marginal;
        ASSERT_FALSE(CGAL::do_intersect(a->cgalScaled(1.0 - 1e-4), b->cgalScaled(1.0 - 1e-4)))
            << "case " << n;
    }
    EXPECT_GT(crossing, kCases / 20);
    EXPECT_LT(marginal, crossing / 1000 + 5);
}

TEST(KernelOracle, coplanarOverlapAgreesWithCgalUpToATouch) {
    Random r(14);
    int overlapping = 0;
    for (int n = 0; n < kCases; ++n) {
        // Both triangles in one axis-aligned plane (exact in doubles), the plane's
        // axis varying so that every dropped axis is used.
        const int axis = n % 3;
        const double level = r.uniform(-1.0, 1.0);
        auto flatten = [&](Vector3D p) {
            p[axis] = level;
            return p;
        };
        Vector3D pa[3], pb[3];
        for (int k = 0; k < 3; ++k) {
            pa[k] = flatten(r.point(-1.0, 1.0));
            pb[k] = flatten(r.point(-1.0, 1.0) * 0.7);
        }
        Facet a(pa[0], pa[1], pa[2]), b(pb[0], pb[1], pb[2]);
        if ((pa[1] - pa[0]).cross(pa[2] - pa[0]).lengthSquared() < 4e-8 ||
            (pb[1] - pb[0]).cross(pb[2] - pb[0]).lengthSquared() < 4e-8)
            continue;
        const bool cgal = CGAL::do_intersect(a.cgal(), b.cgal());
        const bool ours = topolib::trianglesCoplanarOverlap(&a.t, &b.t, 1e-6, 1e-6);
        overlapping += cgal;
        if (cgal && !ours) {
            ASSERT_FALSE(CGAL::do_intersect(a.cgalScaled(1.0 - 1e-4), b.cgalScaled(1.0 - 1e-4))) << n;
        }
        if (ours && !cgal) {
            ASSERT_TRUE(CGAL::do_intersect(a.cgalScaled(1.0 + 1e-4), b.cgalScaled(1.0 + 1e-4))) << n;
        }
    }
    EXPECT_GT(overlapping, kCases / 5);
}
