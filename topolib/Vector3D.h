#pragma once

#include <cmath>
#include <cstddef>
#include <type_traits>

namespace topolib {

// A point or direction of three doubles. The layout (x, y, z and nothing else) is
// the one every position and normal of the mesh records uses, so a Vector3D and a
// plain double[3] are interchangeable through data() and the array constructor.
struct Vector3D {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vector3D() = default;
    Vector3D(double xv, double yv, double zv) : x(xv), y(yv), z(zv) {}
    // Reads three doubles from p (must point at three valid doubles).
    explicit Vector3D(const double* p) : x(p[0]), y(p[1]), z(p[2]) {}

    Vector3D(const Vector3D&) = default;
    // Copies other; self-assignment leaves the vector unchanged.
    Vector3D& operator=(const Vector3D& other) = default;

    double* data() { return &x; }
    const double* data() const { return &x; }
    double& operator[](std::size_t i) { return (&x)[i]; }
    double operator[](std::size_t i) const { return (&x)[i]; }

    Vector3D operator+(const Vector3D& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vector3D& operator+=(const Vector3D& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    Vector3D operator-() const { return {-x, -y, -z}; }
    Vector3D operator-(const Vector3D& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vector3D& operator-=(const Vector3D& o) {
        x -= o.x;
        y -= o.y;
        z -= o.z;
        return *this;
    }
    // Subtracts s from every component.
    Vector3D operator-(double s) const { return {x - s, y - s, z - s}; }
    Vector3D operator*(double s) const { return {x * s, y * s, z * s}; }
    Vector3D& operator*=(double s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    // Division by zero is the caller's concern (gives infinities, no check).
    Vector3D operator/(double s) const { return {x / s, y / s, z / s}; }
    Vector3D& operator/=(double s) {
        x /= s;
        y /= s;
        z /= s;
        return *this;
    }

    double dot(const Vector3D& o) const { return x * o.x + y * o.y + z * o.z; }
    // this × o (right-handed).
    Vector3D cross(const Vector3D& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    double lengthSquared() const { return x * x + y * y + z * z; }

    // Scales to unit length in place and returns the former length. A vector whose
    // squared length is below 1e-15 becomes the zero vector and 0.0 is returned; one
    // whose squared length is within 1e-12 of 1 is left unchanged and 1.0 is returned.
    double normalize();
    // As normalize, but only the exact zero vector (or one that is not finite)
    // becomes zero: a tiny triangle's normal is as good as a large one's, so
    // the cross products that decide topology use this. Results for squared
    // lengths from 1e-15 up equal normalize's.
    double normalizeAnyLength();
    // Scales to unit length in place (no near-unit shortcut); a squared length below
    // 1e-15 gives the zero vector. Returns itself.
    Vector3D& unitize();

    // Same point: every component within 1e-6 and squared distance at most 1e-12.
    bool operator==(const Vector3D& o) const;
    bool operator!=(const Vector3D& o) const { return !(*this == o); }
    // operator== with both tolerances scaled: lengths by scale, squares by its
    // square (see StlObject::toleranceScale).
    bool sameAs(const Vector3D& o, double scale) const;
    // Every component within 1e-6 (a box test, looser than operator==).
    bool isNear(const Vector3D& o) const;
};

static_assert(sizeof(Vector3D) == 3 * sizeof(double), "Vector3D must be three packed doubles");
static_assert(std::is_standard_layout<Vector3D>::value, "Vector3D must be standard layout");
static_assert(offsetof(Vector3D, x) == 0 && offsetof(Vector3D, y) == 8 && offsetof(Vector3D, z) == 16,
              "Vector3D layout must match double[3]");

inline Vector3D operator*(double s, const Vector3D& v) {
    return v * s;
}

// The angle between a and b in radians, in [0, pi]; 0.0 when |a|·|b| <= 1e-9.
double vecAngle(const double a[3], const double b[3]);

// The angle from a to b about axis, in (0, 2 pi]: the plain angle when (a × b) · axis
// > 0, otherwise 2 pi minus it (same directions give 2 pi, opposite ones pi).
// Unitizes b and a in place. Returns 0.0 and touches nothing when enabled is false.
double vecSignedAngleAbout(double a[3], double b[3], const double axis[3], bool enabled);

// Rotates p in place by *angle (radians, right-handed) about the axis through the
// origin. The axis is expected to be unit and is not normalised. Returns 0.
int vecRotateAboutAxis(double p[3], const double axis[3], const double* angle);

// Axis (0, 1, 2) of the component with the largest magnitude; ties go to the
// lower axis. Used to pick the plane a polygon or triangle is projected onto.
inline int dominantAxis(const double v[3]) {
    const double ax = std::fabs(v[0]), ay = std::fabs(v[1]), az = std::fabs(v[2]);
    if (ax >= ay && ax >= az)
        return 0;
    return ay >= az ? 1 : 2;
}
inline int dominantAxis(const Vector3D& v) { return dominantAxis(v.data()); }

} // namespace topolib
