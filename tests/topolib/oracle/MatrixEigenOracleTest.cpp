// Matrix4D and the rotation builders against Eigen.
#include "topolib/Matrix4D.h"
#include "topolib/Vector3D.h"

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

using topolib::Matrix4D;
using topolib::Vector3D;

namespace {

Eigen::Matrix4d toEigen(const Matrix4D& m) {
    return Eigen::Map<const Eigen::Matrix4d>(m.data());
}

double maxDifference(const Matrix4D& m, const Eigen::Matrix4d& e) {
    return (toEigen(m) - e).cwiseAbs().maxCoeff();
}

Matrix4D randomMatrix(std::mt19937_64& rng, double diagonalBoost) {
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    Matrix4D m;
    for (int i = 0; i < 16; ++i)
        m[i] = u(rng);
    for (int i = 0; i < 4; ++i)
        m.at(i, i) += diagonalBoost;
    return m;
}

Vector3D randomUnit(std::mt19937_64& rng) {
    std::normal_distribution<double> n(0.0, 1.0);
    Vector3D v(n(rng), n(rng), n(rng));
    return v.unitize();
}

} // namespace

TEST(MatrixOracle, productsMatchEigen) {
    std::mt19937_64 rng(1);
    for (int n = 0; n < 20000; ++n) {
        const Matrix4D a = randomMatrix(rng, 0.0), b = randomMatrix(rng, 0.0);
        ASSERT_LE(maxDifference(a * b, toEigen(a) * toEigen(b)), 1e-12) << n;
    }
}

TEST(MatrixOracle, inversesMatchEigen) {
    std::mt19937_64 rng(2);
    for (int n = 0; n < 20000; ++n) {
        // General matrices kept away from singularity so that both inverses are
        // accurate to far better than the tolerance.
        Matrix4D a = randomMatrix(rng, n % 2 ? 5.0 : -5.0);
        const Eigen::Matrix4d expected = toEigen(a).inverse();
        a.invert();
        ASSERT_LE(maxDifference(a, expected), 1e-12) << n;
    }
    // Affine transforms as the scene builds them: rotation, scale, translation.
    for (int n = 0; n < 20000; ++n) {
        std::uniform_real_distribution<double> angle(-6.3, 6.3), scale(0.2, 5.0), shift(-100.0, 100.0);
        const double phi = angle(rng);
        const Vector3D axis = randomUnit(rng);
        const double point[3] = {shift(rng), shift(rng), shift(rng)};
        Matrix4D r;
        topolib::makeAxisRotationMatrix(&phi, point, axis.data(), r);
        Matrix4D s;
        s.at(0, 0) = scale(rng), s.at(1, 1) = scale(rng), s.at(2, 2) = scale(rng);
        Matrix4D m = r * s;
        const Eigen::Matrix4d expected = toEigen(m).inverse();
        m.invert();
        // Entries reach a few hundred (translations): compare relative to that size.
        ASSERT_LE(maxDifference(m, expected), 1e-12 * std::max(1.0, expected.cwiseAbs().maxCoeff())) << n;
    }
}

TEST(MatrixOracle, singularMatricesAreRefused) {
    // Singular as transforms become singular: a zero row or column, or a scale of
    // zero on one axis before or after a rotation. The determinant is then exactly
    // zero in floating point as well.
    std::mt19937_64 rng(3);
    for (int n = 0; n < 1000; ++n) {
        Matrix4D m = randomMatrix(rng, 0.0);
        const int i = n % 4;
        if (n % 4 < 2) {
            for (int c = 0; c < 4; ++c)
                (n % 2 ? m.at(i, c) : m.at(c, i)) = 0.0;
        } else {
            const double phi = n * 0.01, point[3] = {1, 2, 3};
            const Vector3D axis = randomUnit(rng);
            Matrix4D r, s;
            topolib::makeAxisRotationMatrix(&phi, point, axis.data(), r);
            s.at(i % 3, i % 3) = 0.0;
            m = n % 2 ? r * s : s * r;
        }
        ASSERT_EQ(toEigen(m).determinant(), 0.0) << n;
        try {
            m.invert();
            FAIL() << "singular matrix inverted, case " << n;
        } catch (const std::runtime_error& e) {
            ASSERT_EQ(std::string(e.what()), "Singular matrix.");
        }
        ASSERT_EQ(maxDifference(m, Eigen::Matrix4d::Identity()), 0.0);
    }
}

TEST(MatrixOracle, rotationsMatchEigenAngleAxis) {
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> angle(-7.0, 7.0), coord(-50.0, 50.0);
    for (int n = 0; n < 20000; ++n) {
        const double phi = angle(rng);
        const Vector3D axis = randomUnit(rng);
        const Vector3D point(coord(rng), coord(rng), coord(rng));
        Matrix4D m;
        topolib::makeAxisRotationMatrix(&phi, point.data(), axis.data(), m);
        const Eigen::Vector3d p(point.x, point.y, point.z), a(axis.x, axis.y, axis.z);
        const Eigen::Affine3d expected =
            Eigen::Translation3d(p) * Eigen::AngleAxisd(phi, a) * Eigen::Translation3d(-p);
        ASSERT_LE(maxDifference(m, expected.matrix()), 1e-12) << n;

        Vector3D q(coord(rng), coord(rng), coord(rng));
        const Eigen::Vector3d rotated = Eigen::AngleAxisd(phi, a) * Eigen::Vector3d(q.x, q.y, q.z);
        topolib::vecRotateAboutAxis(q.data(), axis.data(), &phi);
        ASSERT_LE((Eigen::Vector3d(q.x, q.y, q.z) - rotated).cwiseAbs().maxCoeff(), 1e-12) << n;
    }
}
