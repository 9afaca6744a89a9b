#pragma once

#include "topolib/PointHashTable.h"
#include "topolib/Vector3D.h"

#include <cstddef>
#include <limits>

namespace topolib {

class StlTriangle;

// The state of one ray inside test: the distinct points where a ray meets the
// planes of the triangles it hits, with the normals at the lowest and the highest
// of them. A ray through a shared edge or vertex meets several triangles at one
// point; the point counts once.
//
// The points are kept in a PointHashTable whose lookup also searches the buckets
// of neighbouring rounded values, so an equal point across a rounding boundary
// is never counted twice (which would flip the answer).
class RayHitCollector {
public:
    // lengthScale: the tolerance scale of the mesh the ray is cast at
    // (StlObject::toleranceScale).
    RayHitCollector(const double origin[3], const double direction[3], double lengthScale = 1.0);

    // Takes one triangle hit by the ray: its plane point in front of the origin is
    // recorded unless an equal point (every coordinate within 1e-6 times the
    // length scale) is there already. A triangle whose plane the ray does not
    // meet in front is ignored.
    void add(const StlTriangle* t);

    // Whether the ray's origin lies inside: one distinct hit point is inside;
    // otherwise the normals at the lowest and the highest hit decide: both facing
    // the same way along z means inside, facing opposite ways means inside when
    // the number of hit points is odd.
    bool isInside() const;

    std::size_t distinctHits() const { return static_cast<std::size_t>(m_points.count()); }
    double lowestHeight() const { return m_lowest; }
    double highestHeight() const { return m_highest; }

private:
    Vector3D m_origin;
    Vector3D m_direction;
    Vector3D m_hit;
    PointHashTable m_points;
    double m_lowest = std::numeric_limits<double>::max();
    Vector3D m_lowestNormal;
    double m_highest = -std::numeric_limits<double>::max();
    Vector3D m_highestNormal;
};

} // namespace topolib
