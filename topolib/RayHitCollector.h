#pragma once

#include "topolib/Vector3D.h"

#include <cstddef>
#include <limits>
#include <vector>

namespace topolib {

class StlTriangle;

// The state of one ray inside test: the distinct points where a ray meets the
// planes of the triangles it hits, with the normals at the lowest and the highest
// of them. A ray through a shared edge or vertex meets several triangles at one
// point; the point counts once.
//
// The points are kept in a plain list searched with Vector3D::isNear: a ray meets
// a handful of triangles, and unlike hashing rounded coordinates, the search
// never misses an equal point that lies across a rounding boundary (which would
// count a vertex hit twice and flip the answer).
class RayHitCollector {
public:
    RayHitCollector(const double origin[3], const double direction[3]);

    // Takes one triangle hit by the ray: its plane point in front of the origin is
    // recorded unless an equal point (every coordinate within 1e-6) is there
    // already. A triangle whose plane the ray does not meet in front is ignored.
    void add(const StlTriangle* t);

    // Whether the ray's origin lies inside: one distinct hit point is inside;
    // otherwise the normals at the lowest and the highest hit decide: both facing
    // the same way along z means inside, facing opposite ways means inside when
    // the number of hit points is odd.
    bool isInside() const;

    std::size_t distinctHits() const { return m_points.size(); }
    double lowestHeight() const { return m_lowest; }
    double highestHeight() const { return m_highest; }
    const Vector3D& lowestNormal() const { return m_lowestNormal; }
    const Vector3D& highestNormal() const { return m_highestNormal; }

private:
    Vector3D m_origin;
    Vector3D m_direction;
    Vector3D m_hit;
    std::vector<Vector3D> m_points;
    double m_lowest = std::numeric_limits<double>::max();
    Vector3D m_lowestNormal;
    double m_highest = -std::numeric_limits<double>::max();
    Vector3D m_highestNormal;
};

} // namespace topolib
