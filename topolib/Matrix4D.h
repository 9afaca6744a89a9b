#pragma once

#include <cstddef>

namespace topolib {

// A 4 × 4 transform of doubles in OpenGL's column-major order: element (row r,
// column c) is at index 4c + r, the translation is in elements 12, 13 and 14, and
// element 15 is 1 for an affine transform. The 16 doubles are the whole object, so
// data() can be handed to OpenGL and to the functions taking double[16].
struct Matrix4D {
    double m[16];

    // The identity.
    Matrix4D();
    // Reads 16 doubles in column-major order.
    explicit Matrix4D(const double* values);

    Matrix4D(const Matrix4D&) = default;
    // Copies the 16 doubles; self-assignment leaves the matrix unchanged.
    Matrix4D& operator=(const Matrix4D& other) = default;

    double* data() { return m; }
    const double* data() const { return m; }
    double& operator[](std::size_t i) { return m[i]; }
    double operator[](std::size_t i) const { return m[i]; }
    double& at(int row, int col) { return m[4 * col + row]; }
    double at(int row, int col) const { return m[4 * col + row]; }

    // The product this × other: applied to a point it applies other first, this second.
    Matrix4D operator*(const Matrix4D& other) const;

    // Inverts in place through the adjugate divided by the determinant. When the
    // determinant is exactly 0.0 the matrix becomes the identity and a
    // std::runtime_error with the text "Singular matrix." is thrown.
    void invert();

    // this := this × T(p), T(p) the translation by p.
    void multiplyByTranslation(const double p[3]);
};

static_assert(sizeof(Matrix4D) == 16 * sizeof(double), "Matrix4D must be 16 packed doubles");

// Writes into m the rotation by *angle (radians, right-handed) about the line through
// axisPoint along the unit direction axisDir (the direction is not normalised).
void makeAxisRotationMatrix(const double* angle, const double axisPoint[3], const double axisDir[3],
                            double m[16]);
void makeAxisRotationMatrix(const double* angle, const double axisPoint[3], const double axisDir[3],
                            Matrix4D& out);

} // namespace topolib
