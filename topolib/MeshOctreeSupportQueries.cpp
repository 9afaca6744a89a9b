#include "topolib/MeshOctree.h"

namespace topolib {

// The landing point of a support trunk on the model: the highest point below the
// bound where a vertical column of the trunk's radius meets an up-facing live
// triangle that does not belong to the skipped group (the cone's own region).
void MeshOctree::lowestUpFacingTriangleAbove(const double origin[3], double edge, uint32_t skipGroup,
                                             const double centre[3], double radius, const double* heightBound,
                                             double point[3], double normal[3]) const {
    const int group = static_cast<int>(static_cast<int32_t>(skipGroup << 12) >> 12);
    highestUpFacingPointWithin(origin, edge, group, centre, radius, *heightBound, point, normal);
}

} // namespace topolib
