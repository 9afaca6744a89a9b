// The state of one ray inside test: distinct hit points and the normals at the
// lowest and the highest of them.

#include "topolib/RayHitCollector.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

namespace topolib {

RayHitCollector::RayHitCollector(const double origin[3], const double direction[3], double lengthScale)
    : m_origin(origin), m_direction(direction), m_points(lengthScale) {}

void RayHitCollector::add(const StlTriangle* t) {
    if (!intersectRayPlane(m_origin.data(), m_direction.data(), t->vertices[0]->pos.data(), t->normal.data(),
                           m_hit.data()))
        return;
    const double along = t->normal.dot(m_direction);
    const Vector3D* known = m_points.findNear(m_hit.data());
    if (known) {
        // Another triangle through the same point (a shared edge or vertex): at the
        // lowest point the normal facing along the ray is kept, at the highest the
        // one facing against it.
        if (known->z == m_lowest && along > 1e-6)
            m_lowestNormal = t->normal;
        else if (known->z == m_highest && along < -1e-6)
            m_highestNormal = t->normal;
        return;
    }
    m_points.insert(m_hit.data());
    if (m_hit.z < m_lowest) {
        m_lowest = m_hit.z;
        m_lowestNormal = t->normal;
    }
    if (m_hit.z > m_highest) {
        m_highest = m_hit.z;
        m_highestNormal = t->normal;
    }
}

bool RayHitCollector::isInside() const {
    const std::size_t hits = distinctHits();
    if (hits == 1)
        return true;
    const double s = m_lowestNormal.z * m_highestNormal.z;
    if (s > 1e-6)
        return true;
    if (s < -1e-6)
        return hits % 2 == 1;
    return false;
}

} // namespace topolib
