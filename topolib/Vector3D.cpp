#include "topolib/Vector3D.h"

#include <algorithm>
#include <cmath>

namespace topolib {

double Vector3D::normalize() {
    const double q = x * x + y * y + z * z;
    if (q < 1e-15) {
        x = y = z = 0.0;
        return 0.0;
    }
    // Already unit within rounding: keep the exact input so repeated
    // normalisation does not drift.
    if (std::fabs(q - 1.0) < 1e-12)
        return 1.0;
    const double len = std::sqrt(q);
    x /= len;
    y /= len;
    z /= len;
    return len;
}

double Vector3D::normalizeAnyLength() {
    const double q = x * x + y * y + z * z;
    if (q >= 1e-15)
        return normalize();
    // Divide by the largest component first: the squares of tiny components
    // underflow.
    const double m = std::max(std::fabs(x), std::max(std::fabs(y), std::fabs(z)));
    if (!(m > 0.0) || !std::isfinite(m)) {
        x = y = z = 0.0;
        return 0.0;
    }
    x /= m;
    y /= m;
    z /= m;
    const double len = std::sqrt(x * x + y * y + z * z);
    x /= len;
    y /= len;
    z /= len;
    return m * len;
}

Vector3D& Vector3D::unitize() {
    const double q = x * x + y * y + z * z;
    if (q < 1e-15) {
        x = y = z = 0.0;
        return *this;
    }
    const double len = std::sqrt(q);
    x /= len;
    y /= len;
    z /= len;
    return *this;
}

bool Vector3D::operator==(const Vector3D& o) const {
    return sameAs(o, 1.0);
}

bool Vector3D::sameAs(const Vector3D& o, double scale) const {
    const double dx = x - o.x, dy = y - o.y, dz = z - o.z;
    const double tol = 1e-6 * scale;
    if (std::fabs(dx) > tol || std::fabs(dy) > tol || std::fabs(dz) > tol)
        return false;
    return dx * dx + dy * dy + dz * dz <= 1e-12 * (scale * scale);
}

bool Vector3D::isNear(const Vector3D& o) const {
    return std::fabs(x - o.x) <= 1e-6 && std::fabs(y - o.y) <= 1e-6 && std::fabs(z - o.z) <= 1e-6;
}

double vecAngle(const double a[3], const double b[3]) {
    const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    const double d = la * lb;
    if (!(d > 1e-9))
        return 0.0;
    const double c = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / d;
    // Rounding can push the cosine just outside [-1, 1]; acos would give NaN.
    if (c > 1.0)
        return 0.0;
    if (c < -1.0)
        return 3.141592653;
    return std::acos(c);
}

double vecSignedAngleAbout(double a[3], double b[3], const double axis[3], bool enabled) {
    if (!enabled)
        return 0.0;
    Vector3D vb(b), va(a);
    vb.unitize();
    va.unitize();
    b[0] = vb.x, b[1] = vb.y, b[2] = vb.z;
    a[0] = va.x, a[1] = va.y, a[2] = va.z;
    double c = va.dot(vb);
    if (c > 1.0)
        c = 1.0;
    else if (c < -1.0)
        c = -1.0;
    const double angle = std::acos(c);
    if (va.cross(vb).dot(Vector3D(axis)) > 0.0)
        return angle;
    return 6.283185307179586 - angle;
}

int vecRotateAboutAxis(double p[3], const double axis[3], const double* angle) {
    const double ax = axis[0], ay = axis[1], az = axis[2];
    const double c = std::cos(*angle), s = std::sin(*angle), t = 1.0 - c;
    const double px = p[0], py = p[1], pz = p[2];
    // The diagonal is written as a² + (1 - a²) c with the complement spelled out, so a
    // slightly non-unit axis rotates exactly as the matrix builder does.
    const double nx =
        (ax * ax + (ay * ay + az * az) * c) * px + (t * ax * ay - s * az) * py + (t * ax * az + s * ay) * pz;
    const double ny =
        (t * ax * ay + s * az) * px + (ay * ay + (ax * ax + az * az) * c) * py + (t * ay * az - s * ax) * pz;
    const double nz =
        (t * ax * az - s * ay) * px + (t * ay * az + s * ax) * py + (az * az + (ax * ax + ay * ay) * c) * pz;
    p[0] = nx;
    p[1] = ny;
    p[2] = nz;
    return 0;
}

} // namespace topolib
