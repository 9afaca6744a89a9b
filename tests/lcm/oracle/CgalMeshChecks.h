#pragma once
// CGAL's verdicts on a mesh, behind plain types: the hollowing headers and
// CGAL's (through GMP's C++ interface, which declares a global lcm) are never
// compiled together.

#include <array>
#include <vector>

namespace topolib {
class StlObject;
}

namespace oracle {

struct MeshVerdict {
    int rejectedFaces = 0;     // faces a valid surface mesh could not take
    bool closed = false;
    bool selfIntersects = true;
    bool boundsVolume = false; // closed components nested and oriented consistently
    double volume = 0.0;
};

MeshVerdict judgeMesh(const topolib::StlObject& mesh);
// The largest |distance to the surface of `surface` - wall| over the points.
double worstDistanceFromWall(const topolib::StlObject& surface, const std::vector<std::array<double, 3>>& points,
                             double wall);

} // namespace oracle
