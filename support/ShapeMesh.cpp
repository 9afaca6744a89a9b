#include "support/ShapeMesh.h"

#include "app/MemoryCheck.h"
#include "support/SupportGen.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <new>
#include <unordered_map>
#include <utility>

namespace support {

using topolib::StlTriangle;
using topolib::StlVertex;

namespace {

// About what a record costs with its share of the lists that hold it (a
// vertex's incident list, the shape's pointer lists).
constexpr std::size_t kVertexBytes = sizeof(StlVertex) + 32;
constexpr std::size_t kTriangleBytes = sizeof(StlTriangle) + 16;

} // namespace

std::size_t shapeMeshBytes(std::size_t vertices, std::size_t triangles) {
    return vertices * kVertexBytes + triangles * kTriangleBytes;
}

ShapeMemoryCheck::ShapeMemoryCheck(SupportGen& gen, std::size_t granted)
    : m_gen(gen), m_outermost(gen.shapeMemoryCheck() == nullptr), m_paidBytes(granted) {
    if (m_outermost)
        m_gen.setShapeMemoryCheck(this);
}

ShapeMemoryCheck::~ShapeMemoryCheck() {
    if (m_outermost)
        m_gen.setShapeMemoryCheck(nullptr);
}

void ShapeMemoryCheck::pay(std::size_t bytes) {
    if (m_paidBytes < bytes) {
        const std::size_t step = std::min(std::max(m_spentBytes, kFirstStep), kStep);
        if (MemoryCheckCallback && !MemoryCheckCallback(step))
            throw std::bad_alloc();
        m_paidBytes += step;
    }
    m_paidBytes -= bytes;
    m_spentBytes += bytes;
}

StlVertex* addShapeVertex(std::vector<StlVertex*>& vertices, const topolib::Vector3D& p,
                          ShapeMemoryCheck* check) {
    if (check)
        check->pay(kVertexBytes);
    auto* v = new StlVertex(p.x, p.y, p.z);
    vertices.push_back(v);
    return v;
}

StlTriangle* addShapeTriangle(std::vector<StlTriangle*>& triangles, StlVertex* a, StlVertex* b, StlVertex* c,
                              ShapeMemoryCheck* check) {
    if (check)
        check->pay(kTriangleBytes);
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
