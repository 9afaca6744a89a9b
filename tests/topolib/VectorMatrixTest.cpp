#include "topolib/Matrix4D.h"
#include "topolib/Vector3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

using topolib::Matrix4D;
using topolib::Vector3D;

namespace {

constexpr double kPi = 3.14159265358979323846;

Vector3D transformPoint(const Matrix4D& m, const Vector3D& p) {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

void expectNear(const Vector3D& a, const Vector3D& b, double tol = 1e-12) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

} // namespace

TEST(Vector3D, normalizeHandlesTinyNearUnitAndGeneralVectors) {
    struct Case {
        Vector3D in;
        double length;
        Vector3D out;
    };
    const Case cases[] = {
        {{0, 0, 3e-8}, 0.0, {0, 0, 0}},    // squared length 9e-16 counts as zero
        {{1, 0, 1e-7}, 1.0, {1, 0, 1e-7}}, // within 1e-12 of unit: left exactly as it was
        {{3, 4, 0}, 5.0, {0.6, 0.8, 0}},   {{0, 0, 0}, 0.0, {0, 0, 0}}, {{0, -2, 0}, 2.0, {0, -1, 0}},
    };
    for (const Case& c : cases) {
        Vector3D v = c.in;
        EXPECT_DOUBLE_EQ(v.normalize(), c.length);
        expectNear(v, c.out, 1e-15);
    }
    Vector3D nearUnit(1, 0, 1e-7);
    nearUnit.normalize();
    EXPECT_EQ(nearUnit.x, 1.0); // bit-exact: no division happened
}

TEST(Vector3D, unitizeAlwaysDividesAndZeroesTinyVectors) {
    Vector3D v(1, 0, 1e-7);
    v.unitize();
    EXPECT_NE(v.x, 1.0); // no near-unit shortcut
    EXPECT_NEAR(v.x, 1.0, 1e-14);
    Vector3D tiny(0, 3e-8, 0);
    EXPECT_EQ(tiny.unitize(), Vector3D(0, 0, 0));
    EXPECT_EQ(tiny.y, 0.0);
}

TEST(Vector3D, equalityNeedsSmallSquaredDistanceWhileIsNearIsABoxTest) {
    const Vector3D o(0, 0, 0);
    EXPECT_FALSE(o == Vector3D(1e-6, 1e-6, 0)); // squared distance 2e-12
    EXPECT_TRUE(o.isNear(Vector3D(1e-6, 1e-6, 0)));
    EXPECT_TRUE(o == Vector3D(5e-7, 5e-7, 5e-7));
    EXPECT_FALSE(o == Vector3D(1.1e-6, 0, 0));
    EXPECT_FALSE(o.isNear(Vector3D(0, 0, -1.1e-6)));
}

TEST(Vector3D, arithmeticOperators) {
    Vector3D a(1, 2, 3), b(-4, 5, 0.5);
    expectNear(a + b, {-3, 7, 3.5});
    expectNear(a - b, {5, -3, 2.5});
    expectNear(-a, {-1, -2, -3});
    expectNear(a - 1.0, {0, 1, 2});
    expectNear(a * 2.0, {2, 4, 6});
    expectNear(a / 2.0, {0.5, 1, 1.5});
    EXPECT_DOUBLE_EQ(a.dot(b), -4 + 10 + 1.5);
    expectNear(a.cross(b), {2 * 0.5 - 3 * 5, 3 * -4 - 1 * 0.5, 1 * 5 - 2 * -4});
    Vector3D c = a;
    c += b;
    c -= b;
    c *= 3.0;
    c /= 3.0;
    expectNear(c, a);
    c = c; // self-assignment keeps the value
    expectNear(c, a);
}

TEST(VectorAngles, unsignedAngleIsClampedAndZeroForDegenerateInput) {
    const double x[3] = {1, 0, 0}, mx[3] = {-1, 0, 0}, diag[3] = {1, 1, 0}, zero[3] = {0, 0, 0};
    EXPECT_NEAR(topolib::vecAngle(x, mx), 3.141592653, 1e-9);
    EXPECT_NEAR(topolib::vecAngle(x, diag), kPi / 4, 1e-15);
    EXPECT_EQ(topolib::vecAngle(zero, x), 0.0);
    // Long antiparallel vectors whose normalised cosine rounds below -1.
    const double a[3] = {0.1, 0.2, 0.3}, b[3] = {-0.3, -0.6, -0.9};
    const double angle = topolib::vecAngle(a, b);
    EXPECT_FALSE(std::isnan(angle));
    EXPECT_NEAR(angle, kPi, 1e-7);
    EXPECT_EQ(topolib::vecAngle(a, a), 0.0);
}

TEST(VectorAngles, signedAngleAboutAxisRunsCounterClockwiseInZeroToTwoPi) {
    struct Case {
        Vector3D a, b, axis;
        double expected;
    };
    const Case cases[] = {
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, kPi / 2},  {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}, 3 * kPi / 2},
        {{2, 0, 0}, {5, 0, 0}, {0, 0, 1}, 2 * kPi}, // same direction
        {{1, 0, 0}, {-3, 0, 0}, {0, 0, 1}, kPi},    // opposite
        {{0, 0, 4}, {0, 2, 2}, {-1, 0, 0}, kPi / 4},
    };
    for (const Case& c : cases) {
        Vector3D a = c.a, b = c.b;
        EXPECT_NEAR(topolib::vecSignedAngleAbout(a.data(), b.data(), c.axis.data(), true), c.expected, 1e-12);
        EXPECT_NEAR(std::sqrt(a.lengthSquared()), 1.0, 1e-15); // unitized in place
        EXPECT_NEAR(std::sqrt(b.lengthSquared()), 1.0, 1e-15);
    }
    Vector3D a(2, 0, 0), b(0, 3, 0);
    const Vector3D z(0, 0, 1);
    EXPECT_EQ(topolib::vecSignedAngleAbout(a.data(), b.data(), z.data(), false), 0.0);
    EXPECT_EQ(a.x, 2.0); // untouched when disabled
    EXPECT_EQ(b.y, 3.0);
}

TEST(Rotation, pointRotatesRightHandedAboutAxisThroughOrigin) {
    double p[3] = {1, 0, 0};
    const double z[3] = {0, 0, 1};
    const double quarter = kPi / 2;
    EXPECT_EQ(topolib::vecRotateAboutAxis(p, z, &quarter), 0);
    expectNear(Vector3D(p), {0, 1, 0}, 1e-15);
    double q[3] = {0, 1, 0};
    const double x[3] = {1, 0, 0};
    topolib::vecRotateAboutAxis(q, x, &quarter);
    expectNear(Vector3D(q), {0, 0, 1}, 1e-15);
}

TEST(Rotation, axisMatrixRotatesAboutAnOffsetLineAndMatchesPointRotation) {
    const double pi = kPi;
    const double centre[3] = {1, 0, 0}, z[3] = {0, 0, 1};
    Matrix4D m;
    topolib::makeAxisRotationMatrix(&pi, centre, z, m);
    expectNear(transformPoint(m, {2, 0, 0}), {0, 0, 0}, 1e-15);
    EXPECT_EQ(m[3], 0.0);
    EXPECT_EQ(m[7], 0.0);
    EXPECT_EQ(m[11], 0.0);
    EXPECT_EQ(m[15], 1.0);

    // About a line through the origin the matrix and the point rotation agree.
    Vector3D axis(0.3, -0.5, 0.8);
    axis.unitize();
    const double origin[3] = {0, 0, 0};
    const double angle = 1.234;
    Matrix4D r;
    topolib::makeAxisRotationMatrix(&angle, origin, axis.data(), r);
    Vector3D p(0.7, 2.0, -1.5);
    const Vector3D viaMatrix = transformPoint(r, p);
    topolib::vecRotateAboutAxis(p.data(), axis.data(), &angle);
    expectNear(viaMatrix, p, 1e-14);
}

TEST(Matrix4D, productAppliesTheRightOperandFirst) {
    Matrix4D translate;
    const double t[3] = {10, 0, 0};
    translate.multiplyByTranslation(t);
    Matrix4D rotate;
    const double quarter = kPi / 2, origin[3] = {0, 0, 0}, z[3] = {0, 0, 1};
    topolib::makeAxisRotationMatrix(&quarter, origin, z, rotate);
    // translate × rotate: rotate (1,0,0) to (0,1,0), then move by 10 on x.
    expectNear(transformPoint(translate * rotate, {1, 0, 0}), {10, 1, 0}, 1e-14);
    // rotate × translate: move to (11,0,0), then rotate to (0,11,0).
    expectNear(transformPoint(rotate * translate, {1, 0, 0}), {0, 11, 0}, 1e-14);
}

TEST(Matrix4D, multiplyByTranslationPostMultiplies) {
    Matrix4D s;
    s.at(0, 0) = 2;
    s.at(1, 1) = 3;
    s.at(2, 2) = 4;
    s.at(0, 3) = 1;
    const double p[3] = {1, 1, 1};
    Matrix4D expected = s * [&] {
        Matrix4D t;
        t[12] = p[0], t[13] = p[1], t[14] = p[2];
        return t;
    }();
    s.multiplyByTranslation(p);
    for (int i = 0; i < 16; ++i)
        EXPECT_DOUBLE_EQ(s[i], expected[i]) << i;
}

TEST(Matrix4D, inverseUndoesTheTransform) {
    Matrix4D m;
    const double angle = 0.7, point[3] = {1, 2, 3};
    Vector3D axis(1, 1, 0);
    axis.unitize();
    topolib::makeAxisRotationMatrix(&angle, point, axis.data(), m);
    m.at(0, 0) *= 2.5; // not orthogonal any more
    Matrix4D inv = m;
    inv.invert();
    const Matrix4D id = m * inv;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(id.at(r, c), r == c ? 1.0 : 0.0, 1e-14);
}

TEST(Matrix4D, singularMatrixThrowsAndBecomesIdentity) {
    const double flat[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 5, 6, 7, 1}; // z collapsed
    Matrix4D m(flat);
    try {
        m.invert();
        FAIL() << "a singular matrix must not invert";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Singular matrix.");
    }
    const Matrix4D identity;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m[i], identity[i]) << i;
}
