#include "topolib/GeometricPredicates.h"
#include "topolib/TruncatedCone.h"
#include "topolib/Vector3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using topolib::Vector3D;

namespace {

// Points of the cube used by the sampling oracles: a 5 × 5 × 5 grid that includes
// the corners, edges and face centres.
template <class Inside> bool anySampleInside(const double corner[3], double edge, Inside inside) {
    for (int i = 0; i <= 4; ++i)
        for (int j = 0; j <= 4; ++j)
            for (int k = 0; k <= 4; ++k) {
                const Vector3D p(corner[0] + edge * i / 4.0, corner[1] + edge * j / 4.0,
                                 corner[2] + edge * k / 4.0);
                if (inside(p))
                    return true;
            }
    return false;
}

// Exact membership of the solid truncated cone between cap centres a and b.
bool insideTruncatedCone(const Vector3D& p, const Vector3D& a, const Vector3D& b, double ra, double rb) {
    const Vector3D axis = b - a;
    const double len2 = axis.lengthSquared();
    const double t = (p - a).dot(axis) / len2;
    if (t < 0.0 || t > 1.0)
        return false;
    const Vector3D foot = a + axis * t;
    const double r = ra + (rb - ra) * t;
    return (p - foot).lengthSquared() <= r * r;
}

Vector3D randomUnit(std::mt19937_64& rng) {
    std::normal_distribution<double> n(0.0, 1.0);
    Vector3D v;
    do
        v = Vector3D(n(rng), n(rng), n(rng));
    while (v.lengthSquared() < 1e-6);
    return v.unitize();
}

} // namespace

TEST(TruncatedCone, fieldsFollowTheCapsAndTheirRadii) {
    Misc::VBTruncatedCone cone;
    const double p1[3] = {0, 0, 1}, p2[3] = {0, 0, 3}, r1 = 1.0, r2 = 2.0;
    cone.set(p1, p2, &r1, &r2);
    EXPECT_DOUBLE_EQ(cone.nearDistance, 2.0); // r1 |p2 - p1| / (r2 - r1)
    EXPECT_DOUBLE_EQ(cone.farDistance, 4.0);
    EXPECT_EQ(Vector3D(cone.apex), Vector3D(0, 0, -1));
    EXPECT_EQ(Vector3D(cone.axis), Vector3D(0, 0, 1));
    EXPECT_DOUBLE_EQ(cone.cosHalfAngle, 2.0 / std::sqrt(5.0));
    EXPECT_DOUBLE_EQ(cone.nearRadius, 1.0);
    EXPECT_DOUBLE_EQ(cone.farRadius, 2.0);
}

TEST(TruncatedCone, endsGivenWideFirstDescribeTheSameCone) {
    Misc::VBTruncatedCone forward, backward;
    const double p1[3] = {1, 2, 3}, p2[3] = {4, -2, 5}, small = 0.3, large = 1.2;
    forward.set(p1, p2, &small, &large);
    backward.set(p2, p1, &large, &small);
    EXPECT_DOUBLE_EQ(backward.cosHalfAngle, forward.cosHalfAngle);
    EXPECT_DOUBLE_EQ(backward.nearDistance, forward.nearDistance);
    EXPECT_DOUBLE_EQ(backward.farDistance, forward.farDistance);
    EXPECT_DOUBLE_EQ(backward.nearRadius, small);
    EXPECT_DOUBLE_EQ(backward.farRadius, large);
    for (int k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ(backward.apex[k], forward.apex[k]);
        EXPECT_DOUBLE_EQ(backward.axis[k], forward.axis[k]);
    }
    EXPECT_GT(forward.nearDistance, 0.0);
}

TEST(TruncatedCone, degenerateRadiiKeepEveryFieldFinite) {
    struct Case {
        double r1, r2;
        Vector3D p2;
    };
    const Case cases[] = {
        {0.5, 0.5, {0, 0, 10}}, // cylinder
        {0.0, 0.0, {0, 0, 10}}, // a line
        {0.0, 1.0, {0, 0, 10}}, // apex on the near cap
        {0.5, 0.5, {0, 0, 0}},  // zero length
    };
    const double p1[3] = {0, 0, 0};
    for (const Case& c : cases) {
        Misc::VBTruncatedCone cone;
        cone.set(p1, c.p2.data(), &c.r1, &c.r2);
        const double fields[] = {cone.cosHalfAngle, cone.nearDistance, cone.nearRadius, cone.apex[0],
                                 cone.apex[1],      cone.apex[2],      cone.axis[0],    cone.axis[1],
                                 cone.axis[2],      cone.farDistance,  cone.farRadius};
        for (double f : fields)
            EXPECT_TRUE(std::isfinite(f)) << c.r1 << " " << c.r2;
        EXPECT_GT(cone.cosHalfAngle, 0.0);
        EXPECT_LE(cone.cosHalfAngle, 1.0);
        const double corner[3] = {-0.25, -0.25, 4.0}, edge = 0.5;
        if (c.p2.z > 0) {
            EXPECT_TRUE(cone.intersectsCell(corner, &edge)); // a cell on the axis
        }
    }
    // The cylinder keeps its radius all along: a cell just outside it is pruned.
    Misc::VBTruncatedCone cylinder;
    const double top[3] = {0, 0, 10}, r = 0.5;
    cylinder.set(p1, top, &r, &r);
    const double outside[3] = {1.0, -0.05, 5.0}, inside[3] = {0.4, -0.05, 5.0}, edge = 0.1;
    EXPECT_FALSE(cylinder.intersectsCell(outside, &edge));
    EXPECT_TRUE(cylinder.intersectsCell(inside, &edge));
}

TEST(TruncatedCone, cellTestNeverPrunesACellThatTouchesTheCone) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> coord(-5.0, 5.0), radius(0.0, 2.0), len(0.2, 8.0), size(0.05, 3.0);
    int touching = 0, pruned = 0;
    for (int n = 0; n < 100000; ++n) {
        const Vector3D a(coord(rng), coord(rng), coord(rng));
        const Vector3D b = a + randomUnit(rng) * len(rng);
        double ra = radius(rng), rb = radius(rng);
        if (n % 10 == 0)
            rb = ra; // cylinders
        Misc::VBTruncatedCone cone;
        cone.set(a.data(), b.data(), &ra, &rb);
        const double edge = size(rng);
        // Cells around the cone, so that a good share touches it.
        const Vector3D mid = a + (b - a) * std::uniform_real_distribution<double>(-0.2, 1.2)(rng);
        const Vector3D corner = mid + randomUnit(rng) * radius(rng) * 1.5 - edge / 2.0;
        const bool touches = anySampleInside(
            corner.data(), edge, [&](const Vector3D& p) { return insideTruncatedCone(p, a, b, ra, rb); });
        const bool kept = cone.intersectsCell(corner.data(), &edge);
        touching += touches;
        pruned += !kept;
        ASSERT_FALSE(touches && !kept) << "case " << n;
    }
    // The sample must exercise both answers.
    EXPECT_GT(touching, 20000);
    EXPECT_GT(pruned, 10000);
}

TEST(CylinderCubeTest, neverPrunesACellThatTouchesTheCylinder) {
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> coord(-5.0, 5.0), radius(0.01, 2.0), len(0.1, 8.0),
        size(0.05, 3.0);
    int touching = 0, pruned = 0;
    for (int n = 0; n < 100000; ++n) {
        const Vector3D centre(coord(rng), coord(rng), coord(rng));
        const Vector3D axis = randomUnit(rng);
        const double r = radius(rng), l = len(rng);
        const double cyl[8] = {r, l, centre.x, centre.y, centre.z, axis.x, axis.y, axis.z};
        const double edge = size(rng);
        const Vector3D corner = centre + axis * (l * std::uniform_real_distribution<double>(-0.7, 0.7)(rng)) +
                                randomUnit(rng) * (r * 1.5) - edge / 2.0;
        const Vector3D a = centre - axis * (l / 2), b = centre + axis * (l / 2);
        const bool touches = anySampleInside(
            corner.data(), edge, [&](const Vector3D& p) { return insideTruncatedCone(p, a, b, r, r); });
        const bool kept = topolib::cylinderMayTouchCube(cyl, corner.data(), &edge);
        touching += touches;
        pruned += !kept;
        ASSERT_FALSE(touches && !kept) << "case " << n;
    }
    EXPECT_GT(touching, 20000);
    EXPECT_GT(pruned, 5000);
}
