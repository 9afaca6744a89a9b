#include "view/SliceTesselator.h"

#include <GL/glu.h>

#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>

#ifndef CALLBACK
#define CALLBACK
#endif

namespace {

GLUtesselator* newTess(GluTesselator::TessFactory factory) {
    if (factory)
        return static_cast<GLUtesselator*>(factory());
    return gluNewTess();
}

// GLU hands vertex data around as pointers; the index is stored one up so that
// vertex 0 is not a null pointer.
void* indexToData(std::size_t index) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index) + 1u);
}
std::uint32_t dataToIndex(void* data) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data) - 1u);
}

} // namespace

GluTesselator::GluTesselator(const std::vector<Contour>& contours, int windingRule, TessFactory factory)
    : _windingRule(windingRule), _factory(factory), _contours(contours) {}

GluTesselator::~GluTesselator() = default;

// Begin, edge flag, end and error do nothing; registering the edge-flag
// callback makes GLU deliver independent triangles only (no fans or strips).
void GluTesselator::beginCallback(unsigned, void*) {}
void GluTesselator::edgeFlagCallback(unsigned char, void*) {}
void GluTesselator::endCallback(void*) {}
void GluTesselator::errorCallback(unsigned, void*) {}

// The callbacks run inside GLU's C code, through which no exception may pass:
// a failed allocation is remembered and reported after GLU has returned.
void GluTesselator::vertexCallback(void* vertexData, void* self) {
    auto* t = static_cast<GluTesselator*>(self);
    try {
        t->_indices.push_back(dataToIndex(vertexData));
    } catch (const std::bad_alloc&) {
        t->_failed = true;
    }
}

void GluTesselator::combineCallback(const double coords[3], void* [4], const float[4], void** outData,
                                    void* self) {
    auto* t = static_cast<GluTesselator*>(self);
    try {
        t->_vertices.push_back({coords[0], coords[1], coords[2]});
    } catch (const std::bad_alloc&) {
        t->_failed = true;
        *outData = indexToData(0);
        return;
    }
    *outData = indexToData(t->_vertices.size() - 1);
}

void GluTesselator::tessellate() {
    _vertices.clear();
    _indices.clear();
    _failed = false;
    std::size_t total = 0;
    for (const Contour& c : _contours)
        total += c.size();
    _vertices.reserve(total);
    for (const Contour& c : _contours)
        _vertices.insert(_vertices.end(), c.begin(), c.end());

    GLUtesselator* tess = newTess(_factory);
    if (!tess)
        throw std::runtime_error("Creation of tesselation object failed.");
    gluTessProperty(tess, GLU_TESS_WINDING_RULE, _windingRule);
    gluTessCallback(tess, GLU_TESS_BEGIN_DATA, reinterpret_cast<_GLUfuncptr>(&GluTesselator::beginCallback));
    gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA,
                    reinterpret_cast<_GLUfuncptr>(&GluTesselator::edgeFlagCallback));
    gluTessCallback(tess, GLU_TESS_END_DATA, reinterpret_cast<_GLUfuncptr>(&GluTesselator::endCallback));
    gluTessCallback(tess, GLU_TESS_ERROR_DATA, reinterpret_cast<_GLUfuncptr>(&GluTesselator::errorCallback));
    gluTessCallback(tess, GLU_TESS_VERTEX_DATA,
                    reinterpret_cast<_GLUfuncptr>(&GluTesselator::vertexCallback));
    gluTessCallback(tess, GLU_TESS_COMBINE_DATA,
                    reinterpret_cast<_GLUfuncptr>(&GluTesselator::combineCallback));
    // The outlines are horizontal: telling GLU the normal spares it the
    // projection guess, which fails on nearly collinear input.
    gluTessNormal(tess, 0.0, 0.0, 1.0);

    gluTessBeginPolygon(tess, this);
    // Coordinates are read from the contours, which stay put while the combine
    // callback grows the vertex list.
    std::size_t running = 0;
    for (Contour& c : _contours) {
        gluTessBeginContour(tess);
        for (std::size_t i = 0; i < c.size(); ++i, ++running)
            gluTessVertex(tess, c[i].data(), indexToData(running));
        gluTessEndContour(tess);
    }
    gluTessEndPolygon(tess);
    gluDeleteTess(tess);

    // A triangle list cut short would index past its end when drawn.
    _indices.resize(_indices.size() - _indices.size() % 3);
    if (_failed) {
        _indices.clear();
        throw std::bad_alloc();
    }
}

double triangleAreaXY(const std::vector<GluTesselator::Point>& vertices,
                      const std::vector<std::uint32_t>& indices) {
    double area = 0.0;
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3) {
        const auto& a = vertices[indices[i]];
        const auto& b = vertices[indices[i + 1]];
        const auto& c = vertices[indices[i + 2]];
        area += 0.5 * std::fabs((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]));
    }
    return area;
}
