#include "topolib/Matrix4D.h"

#include <cmath>
#include <stdexcept>

namespace topolib {

Matrix4D::Matrix4D() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

Matrix4D::Matrix4D(const double* values) {
    for (int i = 0; i < 16; ++i)
        m[i] = values[i];
}

Matrix4D Matrix4D::operator*(const Matrix4D& other) const {
    Matrix4D r;
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += m[4 * k + i] * other.m[4 * j + k];
            r.m[4 * j + i] = sum;
        }
    }
    return r;
}

void Matrix4D::invert() {
    const double* a = m;
    double inv[16];
    // Cofactors of the transposed matrix (the adjugate), written out in full.
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];

    const double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    if (det == 0.0) {
        *this = Matrix4D();
        throw std::runtime_error("Singular matrix.");
    }
    const double f = 1.0 / det;
    for (int i = 0; i < 16; ++i)
        m[i] = inv[i] * f;
}

void Matrix4D::multiplyByTranslation(const double p[3]) {
    // Only the last column changes: column 3 += the first three columns weighted by p.
    for (int r = 0; r < 4; ++r)
        m[12 + r] += m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2];
}

void makeAxisRotationMatrix(const double* angle, const double axisPoint[3], const double axisDir[3],
                            double m[16]) {
    const double ax = axisDir[0], ay = axisDir[1], az = axisDir[2];
    const double px = axisPoint[0], py = axisPoint[1], pz = axisPoint[2];
    const double c = std::cos(*angle), s = std::sin(*angle), t = 1.0 - c;

    m[0] = ax * ax + (ay * ay + az * az) * c;
    m[1] = t * ax * ay + s * az;
    m[2] = t * ax * az - s * ay;
    m[3] = 0.0;
    m[4] = t * ax * ay - s * az;
    m[5] = ay * ay + (ax * ax + az * az) * c;
    m[6] = t * ay * az + s * ax;
    m[7] = 0.0;
    m[8] = t * ax * az + s * ay;
    m[9] = t * ay * az - s * ax;
    m[10] = az * az + (ax * ax + ay * ay) * c;
    m[11] = 0.0;
    // P - R P, expanded for a unit axis.
    m[12] = t * ((ay * ay + az * az) * px - ax * (ay * py + az * pz)) + s * (az * py - ay * pz);
    m[13] = t * ((ax * ax + az * az) * py - ay * (ax * px + az * pz)) + s * (ax * pz - az * px);
    m[14] = t * ((ax * ax + ay * ay) * pz - az * (ax * px + ay * py)) + s * (ay * px - ax * py);
    m[15] = 1.0;
}

void makeAxisRotationMatrix(const double* angle, const double axisPoint[3], const double axisDir[3],
                            Matrix4D& out) {
    makeAxisRotationMatrix(angle, axisPoint, axisDir, out.m);
}

} // namespace topolib
