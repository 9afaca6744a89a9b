// Core of the mesh object: construction and release, bounding box, transforms,
// record creation. The deep copy is StlObjectCopy.cpp.
#include "topolib/StlObject.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutContexts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

namespace topolib {

StlObject::StlObject() = default;

StlObject::StlObject(const StlObject& other)
    : m_center(other.m_center), m_bboxMin(other.m_bboxMin), m_bboxMax(other.m_bboxMax),
      m_loadedMin(other.m_loadedMin), m_loadedMax(other.m_loadedMax), m_name(other.m_name) {}

StlObject::~StlObject() { releaseMesh(); }

void StlObject::releaseMesh() {
    releaseOctree();
    m_slabIndex.reset();
    releaseShells();
    freeRenderArrays();
    m_vertices.clear();
    m_triangles.clear();
    m_triangles.shrink_to_fit();
    m_edges.clear();
    m_edges.shrink_to_fit();
    m_vertexCount = 0;
    m_weldedCorners = nullptr;
    // Vertices first: their destructors only look at their own lists, and the
    // welding blocks they may point into go afterwards.
    m_vertexPool.clear();
    m_incidentBlocks.clear();
    // Contexts still filed for these triangles belong to whoever filed them; only
    // their entries go, so that the table does not grow with every cut mesh.
    forgetCutContexts([this](const StlTriangle* t) { return m_trianglePool.holds(t); });
    m_trianglePool.clear();
    m_edgePool.clear();
}

std::wstring StlObject::getDescription() const { return std::wstring(); }
void StlObject::setDescription(std::wstring) {}
std::wstring StlObject::getAuxiliaryPath() const { return std::wstring(); }
void StlObject::setFilePath(const std::wstring&) {}
std::wstring StlObject::getFilePath() const { return std::wstring(); }

// ---- Bounding box ------------------------------------------------------------

void StlObject::getBBoxMin(double out[3]) const {
    out[0] = m_bboxMin.x;
    out[1] = m_bboxMin.y;
    out[2] = m_bboxMin.z;
}

void StlObject::getBBoxMax(double out[3]) const {
    out[0] = m_bboxMax.x;
    out[1] = m_bboxMax.y;
    out[2] = m_bboxMax.z;
}

void StlObject::getBBox(double min[3], double max[3]) const {
    getBBoxMin(min);
    getBBoxMax(max);
}

void StlObject::setBoundingBox(const double min[3], const double max[3]) {
    // Copy through temporaries: either argument may alias the stored corners.
    const Vector3D lo(min), hi(max);
    m_bboxMin = lo;
    m_bboxMax = hi;
    m_center = (lo + hi) * 0.5;
    const Vector3D d = hi - lo;
    m_diagonal = std::sqrt(d.dot(d));
    m_octreeOrigin = m_center - m_diagonal / 2.0;
}

void StlObject::computeBoundingBox() {
    if (m_vertices.empty())
        return;
    Vector3D lo = m_vertices.front()->pos;
    Vector3D hi = lo;
    for (const StlVertex* v : m_vertices) {
        for (int a = 0; a < 3; ++a) {
            const double c = v->pos[a];
            if (c < lo[a])
                lo[a] = c;
            else if (c > hi[a])
                hi[a] = c;
        }
    }
    m_bboxMin = lo;
    m_bboxMax = hi;
    m_center = (lo + hi) * 0.5;
}

void StlObject::setLoadedBox(const double min[3], const double max[3]) {
    m_loadedMin = Vector3D(min);
    m_loadedMax = Vector3D(max);
}

// ---- Transforms --------------------------------------------------------------

void StlObject::translate(const double d[3]) {
    const Vector3D delta(d);
    m_octreeOrigin += delta;
    m_center += delta;
    m_bboxMin += delta;
    m_bboxMax += delta;
    for (StlVertex* v : m_vertices)
        v->pos += delta;
    invalidateZSlabIndex(true);
    m_triangleRenderStale = true;
}

void StlObject::scale(const double s[3]) {
    if (!hasTriangleArray())
        return;
    for (StlVertex* v : m_vertices) {
        v->pos.x *= s[0];
        v->pos.y *= s[1];
        v->pos.z *= s[2];
    }
    if (s[0] == s[1] && s[1] == s[2]) {
        // Similar shapes: the normals stay, the measures scale.
        m_volume *= s[0] * s[1] * s[2];
        m_area *= s[0] * s[0];
    } else if (!m_triangles.empty()) {
        const Vector3D reference = m_triangles.front()->vertices[0]->pos;
        double area = 0.0, volume = 0.0;
        for (StlTriangle* t : m_triangles) {
            const Vector3D& p0 = t->vertices[0]->pos;
            Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
            const double len = n.normalizeAnyLength();
            t->normal = n;
            area += len;
            volume += (p0 - reference).dot(n) * len;
        }
        m_area = area / 2.0;
        m_volume = volume / 6.0;
    }
    for (int a = 0; a < 3; ++a) {
        m_octreeOrigin[a] *= s[a];
        m_center[a] *= s[a];
        m_bboxMin[a] *= s[a];
        m_bboxMax[a] *= s[a];
        // A mirroring factor turns the box's corners round.
        if (s[a] < 0.0)
            std::swap(m_bboxMin[a], m_bboxMax[a]);
    }
    m_octreeMinCell *= s[0];
    const Vector3D d = m_bboxMax - m_bboxMin;
    m_diagonal = std::sqrt(d.dot(d));
    // A mirroring factor in z reverses the order of the triangles in z: rebuild.
    invalidateZSlabIndex(s[2] > 0.0);
}

// ---- Records -----------------------------------------------------------------

StlVertex* StlObject::newVertex(const double p[3]) { return m_vertexPool.create(p); }

StlTriangle* StlObject::newTriangle() { return m_trianglePool.create(); }

StlEdge* StlObject::newEdge(StlVertex* a, StlVertex* b) { return m_edgePool.create(a, b); }

void StlObject::reserveRecords(uint32_t vertices, uint32_t triangles, uint32_t edges) {
    if (vertices > 0)
        m_vertexPool.reserve(vertices, true);
    if (triangles > 0)
        m_trianglePool.reserve(triangles, true);
    if (edges > 0)
        m_edgePool.reserve(edges, true);
}

Ref<StlTriangle>* StlObject::newIncidentBlock(std::size_t slots) {
    auto* block = static_cast<Ref<StlTriangle>*>(std::malloc(std::max<std::size_t>(slots, 1) * sizeof(Ref<StlTriangle>)));
    if (block == nullptr)
        throw std::bad_alloc();
    m_incidentBlocks.emplace_back(block);
    adviseHugePages(block, slots * sizeof(Ref<StlTriangle>));
    return block;
}

void StlObject::appendVertex(StlVertex* v) {
    v->index = static_cast<int32_t>(m_vertices.size());
    m_vertices.push_back(v);
    ++m_vertexCount;
}

} // namespace topolib
