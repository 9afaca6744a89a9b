#include "topolib/TruncatedCone.h"

#include <cmath>

namespace Misc {

void VBTruncatedCone::set(const double p1[3], const double p2[3], const double* r1, const double* r2) {
    const double* a = p1;
    const double* b = p2;
    double ra = *r1, rb = *r2;
    if (ra > rb) {
        // The apex must lie before the smaller cap.
        a = p2;
        b = p1;
        ra = *r2;
        rb = *r1;
    }
    double dir[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    double length = std::sqrt(dir[0] * dir[0] + dir[1] * dir[1] + dir[2] * dir[2]);
    if (length < 1e-12) {
        dir[0] = 0.0, dir[1] = 0.0, dir[2] = 1.0;
        length = 0.0;
    } else {
        dir[0] /= length, dir[1] /= length, dir[2] /= length;
    }
    // A cylinder has no apex; one of tiny slope puts it at a distance where cos² of
    // the half angle rounds to 1 and the cone collapses to its axis. Widen such
    // shapes to slope 1e-6: the cone then contains the cylinder (conservative) and
    // its far cap grows by a millionth of the length.
    const double minSlope = 1e-6;
    if (rb - ra < minSlope * length)
        rb = ra + minSlope * length;
    const double dr = rb - ra;

    nearRadius = ra;
    farRadius = rb;
    axis[0] = dir[0], axis[1] = dir[1], axis[2] = dir[2];
    nearDistance = dr > 0.0 ? ra * length / dr : 0.0;
    farDistance = nearDistance + length;
    for (int k = 0; k < 3; ++k)
        apex[k] = a[k] - nearDistance * dir[k];
    if (ra > 0.0 && nearDistance > 0.0) {
        cosHalfAngle = nearDistance / std::sqrt(nearDistance * nearDistance + ra * ra);
    } else if (length > 0.0 || dr > 0.0) {
        // The apex sits on the near cap (r1 = 0): measure the angle over the length.
        cosHalfAngle = length / std::sqrt(length * length + dr * dr);
    } else {
        cosHalfAngle = 1.0; // a single point
    }
}

bool VBTruncatedCone::intersectsCell(const double corner[3], const double* edge) const {
    const double h = *edge / 2.0;
    const double m[3] = {corner[0] + h, corner[1] + h, corner[2] + h};
    const double bound = h * 1.7320508;
    const double v[3] = {m[0] - apex[0], m[1] - apex[1], m[2] - apex[2]};
    const double t = axis[0] * v[0] + axis[1] * v[1] + axis[2] * v[2];
    if (t < nearDistance - bound || t > farDistance + bound)
        return false;
    // Within the slab of the caps: compare the centre's distance from the axis with
    // the cone's radius at t widened by the bounding sphere measured perpendicular
    // to the cone's surface (bound / cos). The slope is taken from the far cap
    // (radius over distance), which equals tan of the half angle but keeps its
    // precision for nearly cylindrical cones where 1 - cos² cancels.
    if (farDistance <= 0.0)
        return v[0] * v[0] + v[1] * v[1] + v[2] * v[2] <= (farRadius + bound) * (farRadius + bound);
    const double tanHalf = farRadius / farDistance;
    const double rho = tanHalf * t + bound * std::sqrt(1.0 + tanHalf * tanHalf);
    // Perpendicular part formed explicitly: |v|² - t² loses precision when the
    // apex is far away.
    const double q[3] = {v[0] - t * axis[0], v[1] - t * axis[1], v[2] - t * axis[2]};
    return q[0] * q[0] + q[1] * q[1] + q[2] * q[2] <= rho * rho;
}

} // namespace Misc
