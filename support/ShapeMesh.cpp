#include "support/ShapeMesh.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

namespace support {

using topolib::StlTriangle;
using topolib::StlVertex;

StlVertex* addShapeVertex(std::vector<StlVertex*>& vertices, const topolib::Vector3D& p) {
    auto* v = new StlVertex(p.x, p.y, p.z);
    vertices.push_back(v);
    return v;
}

StlTriangle* addShapeTriangle(std::vector<StlTriangle*>& triangles, StlVertex* a, StlVertex* b, StlVertex* c) {
    auto* t = new StlTriangle();
    t->init(a, b, c);
    triangles.push_back(t);
    return t;
}

void freeShapeMesh(std::vector<StlVertex*>& vertices, std::vector<StlTriangle*>& triangles) {
    for (StlTriangle* t : triangles)
        delete t;
    for (StlVertex* v : vertices)
        delete v;
    triangles.clear();
    vertices.clear();
}

} // namespace support
