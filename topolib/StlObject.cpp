// Core of the mesh object: construction and release, bounding box, transforms,
// record creation. The deep copy is StlObjectCopy.cpp.
#include "topolib/StlObject.h"

#include "topolib/ParallelRuns.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

namespace topolib {

StlObject::StlObject() = default;

StlObject::StlObject(const StlObject& other) : m_placement(other.m_placement) {
    m_name = other.m_name;
}

StlObject::~StlObject() { releaseMesh(); }

void StlObject::releaseMesh() {
    releaseOctree();
    m_derived.slabIndex.reset();
    releaseShells();
    m_records.vertices.clear();
    m_records.triangles.clear();
    m_records.triangles.shrink_to_fit();
    m_records.edges.clear();
    m_records.edges.shrink_to_fit();
    m_measures.vertexCount = 0;
    // Vertices first: their destructors only look at their own lists, and the
    // welding blocks they may point into go afterwards.
    m_records.vertexPool.clear();
    m_records.incidentBlocks.clear();
    m_records.trianglePool.clear();
    m_records.edgePool.clear();
}

std::wstring StlObject::getDescription() const { return std::wstring(); }
void StlObject::setDescription(std::wstring) {}
std::wstring StlObject::getAuxiliaryPath() const { return std::wstring(); }
void StlObject::setFilePath(const std::wstring&) {}
std::wstring StlObject::getFilePath() const { return std::wstring(); }

// ---- Bounding box ------------------------------------------------------------

void StlObject::getBBoxMin(double out[3]) const {
    out[0] = m_placement.bboxMin.x;
    out[1] = m_placement.bboxMin.y;
    out[2] = m_placement.bboxMin.z;
}

void StlObject::getBBoxMax(double out[3]) const {
    out[0] = m_placement.bboxMax.x;
    out[1] = m_placement.bboxMax.y;
    out[2] = m_placement.bboxMax.z;
}

void StlObject::getBBox(double min[3], double max[3]) const {
    getBBoxMin(min);
    getBBoxMax(max);
}

void StlObject::setBoundingBox(const double min[3], const double max[3]) {
    // Copy through temporaries: either argument may alias the stored corners.
    const Vector3D lo(min), hi(max);
    m_placement.bboxMin = lo;
    m_placement.bboxMax = hi;
    m_placement.center = (lo + hi) * 0.5;
    const Vector3D d = hi - lo;
    m_octree.diagonal = std::sqrt(d.dot(d));
    m_octree.origin = m_placement.center - m_octree.diagonal / 2.0;
}

void StlObject::computeBoundingBox() {
    if (m_records.vertices.empty())
        return;
    Vector3D lo = m_records.vertices.front()->pos;
    Vector3D hi = lo;
    for (const StlVertex* v : m_records.vertices) {
        for (int a = 0; a < 3; ++a) {
            const double c = v->pos[a];
            if (c < lo[a])
                lo[a] = c;
            else if (c > hi[a])
                hi[a] = c;
        }
    }
    m_placement.bboxMin = lo;
    m_placement.bboxMax = hi;
    m_placement.center = (lo + hi) * 0.5;
}

void StlObject::setLoadedBox(const double min[3], const double max[3]) {
    m_placement.loadedMin = Vector3D(min);
    m_placement.loadedMax = Vector3D(max);
}

bool StlObject::hasLoadedBox() const {
    for (std::size_t k = 0; k < 3; ++k)
        if (!(m_placement.loadedMin[k] <= m_placement.loadedMax[k]))
            return false;
    return true;
}

// ---- Transforms --------------------------------------------------------------

void StlObject::translate(const double d[3]) {
    const Vector3D delta(d);
    m_octree.origin += delta;
    m_placement.center += delta;
    m_placement.bboxMin += delta;
    m_placement.bboxMax += delta;
    // A big mesh moves on threads (a placement after an import, a drag).
    const RefArray<StlVertex>& all = m_records.vertices;
    forRanges(all.size(), importThreads(all.size()), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            all[i]->pos += delta;
    });
    invalidateZSlabIndex(true);
    m_derived.triangleRenderStale = true;
}

void StlObject::scale(const double s[3]) {
    if (!hasTriangleArray())
        return;
    for (StlVertex* v : m_records.vertices) {
        v->pos.x *= s[0];
        v->pos.y *= s[1];
        v->pos.z *= s[2];
    }
    if (s[0] == s[1] && s[1] == s[2]) {
        // Similar shapes: the normals stay, the measures scale.
        m_measures.volume *= s[0] * s[1] * s[2];
        m_measures.area *= s[0] * s[0];
    } else if (!m_records.triangles.empty()) {
        const Vector3D reference = m_records.triangles.front()->vertices[0]->pos;
        double area = 0.0, volume = 0.0;
        for (StlTriangle* t : m_records.triangles) {
            const Vector3D& p0 = t->vertices[0]->pos;
            Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
            const double len = n.normalizeAnyLength();
            t->normal = n;
            area += len;
            volume += (p0 - reference).dot(n) * len;
        }
        m_measures.area = area / 2.0;
        m_measures.volume = volume / 6.0;
    }
    for (int a = 0; a < 3; ++a) {
        m_octree.origin[a] *= s[a];
        m_placement.center[a] *= s[a];
        m_placement.bboxMin[a] *= s[a];
        m_placement.bboxMax[a] *= s[a];
        // A mirroring factor turns the box's corners round.
        if (s[a] < 0.0)
            std::swap(m_placement.bboxMin[a], m_placement.bboxMax[a]);
    }
    m_octree.minCell *= s[0];
    const Vector3D d = m_placement.bboxMax - m_placement.bboxMin;
    m_octree.diagonal = std::sqrt(d.dot(d));
    // A mirroring factor in z reverses the order of the triangles in z: rebuild.
    invalidateZSlabIndex(s[2] > 0.0);
}

// ---- Records -----------------------------------------------------------------

StlVertex* StlObject::newVertex(const double p[3]) {
    return m_records.vertexPool.create(p);
}

StlTriangle* StlObject::newTriangle() {
    return m_records.trianglePool.create();
}

StlEdge* StlObject::newEdge(StlVertex* a, StlVertex* b) {
    return m_records.edgePool.create(a, b);
}

void StlObject::reserveRecords(uint32_t vertices, uint32_t triangles, uint32_t edges) {
    if (vertices > 0)
        m_records.vertexPool.reserve(vertices, true);
    if (triangles > 0)
        m_records.trianglePool.reserve(triangles, true);
    if (edges > 0)
        m_records.edgePool.reserve(edges, true);
}

Ref<StlTriangle>* StlObject::newIncidentBlock(std::size_t slots) {
    // Owned before it is filed: filing can run out of memory too.
    std::unique_ptr<Ref<StlTriangle>[], Records::FreeIncidentBlock> block(static_cast<Ref<StlTriangle>*>(
        std::malloc(std::max<std::size_t>(slots, 1) * sizeof(Ref<StlTriangle>))));
    if (!block)
        throw std::bad_alloc();
    m_records.incidentBlocks.push_back(std::move(block));
    return m_records.incidentBlocks.back().get();
}

void StlObject::appendVertex(StlVertex* v) {
    v->index = static_cast<int32_t>(m_records.vertices.size());
    m_records.vertices.push_back(v);
    ++m_measures.vertexCount;
}

} // namespace topolib
