#pragma once

#include "support/AbtShape.h"
#include "topolib/Vector3D.h"

#include <vector>

namespace support {

class ShapeMemoryCheck;

// One diagonal brace between two cone trunks: a six-sided prism of `radius` from
// `start` (on the building cone's trunk) to `end` (on the other trunk).
class CylinderBar : public AbtShape {
public:
    CylinderBar(double radius, const topolib::Vector3D& start, const topolib::Vector3D& end)
        : radius(radius), start(start), end(end) {}
    ~CylinderBar() override;

    Kind kind() const override { return Kind::Bar; }
    void appendTriangles(std::vector<topolib::StlTriangle*>& out, bool all) const override;
    void appendVertices(std::vector<topolib::StlVertex*>& out) const override;
    // Builds the prism: 12 vertices (end ring, then start ring) and 20 triangles,
    // paid for to check when one is given (ShapeMemoryCheck).
    void buildPrism(ShapeMemoryCheck* check = nullptr);
    // Frees the prism's records (a retired bar keeps no mesh).
    void freeMesh();

    double radius = 0.0;
    topolib::Vector3D start;
    topolib::Vector3D end;
    std::vector<topolib::StlVertex*> vertices;    // owned
    std::vector<topolib::StlTriangle*> triangles; // owned
};

} // namespace support
