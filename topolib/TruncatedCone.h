#pragma once

namespace Misc {

// A query shape that the mesh octree can prune its cells with: does a support cone
// (or another shape) possibly touch an axis-aligned cube?
class BSCone {
public:
    virtual ~BSCone() = default;
    // True when the cube with minimum corner `corner` and edge *edge may touch the
    // shape; false only when it certainly misses it.
    virtual bool intersectsCell(const double corner[3], const double* edge) const = 0;
};

// A truncated cone between two caps on one axis. The near cap is the smaller one;
// the apex lies on the axis before it. The fields are read directly by the octree
// queries and the exact triangle test; set() is the only writer.
class VBTruncatedCone : public BSCone {
public:
    // A default cone is empty (all fields 0); call set() before use.
    VBTruncatedCone() = default;

    // Sets the cone from cap centre p1 with radius *r1 to cap centre p2 with radius
    // *r2. Ends given with *r1 > *r2 are swapped so that the near cap is always the
    // smaller one. Equal (or almost equal, slope below 1e-6) radii describe a
    // cylinder, which is stored as a cone of slope 1e-6 with a distant apex: it
    // contains the cylinder and keeps every field finite. A zero-length cone gets
    // the axis +z.
    void set(const double p1[3], const double p2[3], const double* r1, const double* r2);

    // Conservative cube test: false only when the cube (minimum corner, edge *edge)
    // lies wholly outside the cone between its caps.
    bool intersectsCell(const double corner[3], const double* edge) const override;

    double cosHalfAngle = 0.0; // cosine of the half angle at the apex
    double nearDistance = 0.0; // apex to the near cap, along the axis
    double nearRadius = 0.0;   // radius at the near cap
    double apex[3] = {0.0, 0.0, 0.0};
    double axis[3] = {0.0, 0.0, 0.0}; // unit, from the apex through both caps
    double farDistance = 0.0;         // apex to the far cap, along the axis
    double farRadius = 0.0;           // radius at the far cap
};

} // namespace Misc
