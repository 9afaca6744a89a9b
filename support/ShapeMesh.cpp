#include "support/ShapeMesh.h"

#include "app/MemoryCheck.h"
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

thread_local unsigned t_checks = 0;        // ShapeMemoryCheck objects alive on this thread
thread_local std::size_t t_paidBytes = 0;  // asked for and not yet spent
thread_local std::size_t t_spentBytes = 0; // spent since the outermost check began

// About what a record costs with its share of the lists that hold it (a
// vertex's incident list, the shape's pointer lists).
constexpr std::size_t kVertexBytes = sizeof(StlVertex) + 32;
constexpr std::size_t kTriangleBytes = sizeof(StlTriangle) + 16;

void payFor(std::size_t bytes) {
    if (t_checks == 0)
        return;
    if (t_paidBytes < bytes) {
        const std::size_t step =
            std::min(std::max(t_spentBytes, ShapeMemoryCheck::kFirstStep), ShapeMemoryCheck::kStep);
        if (MemoryCheckCallback && !MemoryCheckCallback(step))
            throw std::bad_alloc();
        t_paidBytes += step;
    }
    t_paidBytes -= bytes;
    t_spentBytes += bytes;
}

} // namespace

std::size_t shapeMeshBytes(std::size_t vertices, std::size_t triangles) {
    return vertices * kVertexBytes + triangles * kTriangleBytes;
}

ShapeMemoryCheck::ShapeMemoryCheck(std::size_t granted) {
    if (t_checks++ == 0) {
        t_paidBytes = granted;
        t_spentBytes = 0;
    }
}

ShapeMemoryCheck::~ShapeMemoryCheck() { --t_checks; }

StlVertex* addShapeVertex(std::vector<StlVertex*>& vertices, const topolib::Vector3D& p) {
    payFor(kVertexBytes);
    auto* v = new StlVertex(p.x, p.y, p.z);
    vertices.push_back(v);
    return v;
}

StlTriangle* addShapeTriangle(std::vector<StlTriangle*>& triangles, StlVertex* a, StlVertex* b, StlVertex* c) {
    payFor(kTriangleBytes);
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
