#include "support/ShapeMesh.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <unordered_map>
#include <utility>

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

bool isClosedShapeMesh(const std::vector<StlTriangle*>& triangles) {
    if (triangles.empty())
        return false;
    struct PairHash {
        std::size_t operator()(const std::pair<const void*, const void*>& p) const {
            return std::hash<const void*>()(p.first) * 31u ^ std::hash<const void*>()(p.second);
        }
    };
    std::unordered_map<std::pair<const void*, const void*>, int, PairHash> directed;
    for (const StlTriangle* t : triangles) {
        for (int k = 0; k < 3; ++k)
            ++directed[{t->vertices[k], t->vertices[(k + 1) % 3]}];
    }
    for (const auto& entry : directed) {
        auto it = directed.find({entry.first.second, entry.first.first});
        if (entry.second != 1 || it == directed.end() || it->second != 1)
            return false;
    }
    return true;
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
