// Questions to a whole mesh answered through its octree: the two inside tests,
// the truncated-cone test of the supports, and the hit and area tests of the scene.

#include "topolib/StlObject.h"

#include "topolib/MeshOctree.h"
#include "topolib/RayHitCollector.h"
#include "topolib/StlTriangle.h"
#include "topolib/TruncatedCone.h"

#include <mutex>
#include <set>
#include <vector>

namespace topolib {

bool StlObject::hasTriangleUnderPoint(const double p[3], double tolerance) const {
    // Asked by the GUI thread, which must not wait for an octree build.
    std::unique_lock<std::mutex> lock(m_octreeMutex, std::try_to_lock);
    if (!lock.owns_lock() || !m_octree.root)
        return false;
    return m_octree.root->anyTriangleUnderPoint(octreeOrigin(), octreeEdge(), p, tolerance);
}

bool StlObject::polygonCoversCell(const std::vector<const double*>& polygon, const double normal[3]) const {
    std::unique_lock<std::mutex> lock(m_octreeMutex, std::try_to_lock);
    if (!lock.owns_lock() || !m_octree.root || polygon.empty())
        return false;
    return m_octree.root->anyLeafCentreInPolygon(octreeOrigin(), octreeEdge(), polygon, normal);
}

bool StlObject::truncatedConeHitsMesh(const double p1[3], double r1, const double p2[3], double r2) const {
    const MeshOctree* tree = octree();
    if (!tree)
        return false;
    Misc::VBTruncatedCone cone;
    cone.set(p1, p2, &r1, &r2);
    return tree->anyTriangleInTruncatedCone(octreeOrigin(), octreeEdge(), cone);
}

bool StlObject::isInsideByDownwardCount(const double p[3]) {
    const MeshOctree* tree = octree();
    if (!tree)
        return false;
    // The query marks every triangle it counted (also those around a vertex or an
    // edge the vertical line passes through, so that they count once) and hands
    // them back for clearing.
    std::vector<StlTriangle*> touched;
    int count = 0;
    tree->countCrossingsBelow(octreeOrigin(), octreeEdge(), p, &count, touched, toleranceScale());
    for (StlTriangle* t : touched)
        t->setWalkMark(0);
    // Below an inside point the surface is left through more downward- than
    // upward-facing triangles.
    return count < 0;
}

bool StlObject::isInsideByUpwardRay(const double p[3]) const {
    const MeshOctree* tree = octree();
    if (!tree)
        return false;
    static const double kUp[3] = {0.0, 0.0, 1.0};
    const double scale = toleranceScale();
    std::set<StlTriangle*> hits;
    if (!tree->collectRayHits(octreeOrigin(), octreeEdge(), p, kUp, &hits, scale))
        return false;
    RayHitCollector collector(p, kUp, scale);
    for (const StlTriangle* t : hits)
        collector.add(t);
    return collector.isInside();
}

bool StlObject::isEnclosedUpAndDown(const double p[3]) const {
    const MeshOctree* tree = octree();
    if (!tree)
        return false;
    const double scale = toleranceScale();
    for (const double dz : {1.0, -1.0}) {
        const double d[3] = {0.0, 0.0, dz};
        std::set<StlTriangle*> hits;
        tree->collectRayHits(octreeOrigin(), octreeEdge(), p, d, &hits, scale);
        RayHitCollector collector(p, d, scale);
        for (const StlTriangle* t : hits)
            collector.add(t);
        if (collector.distinctHits() % 2 == 0)
            return false;
    }
    return true;
}

} // namespace topolib
