// The float arrays the 3D view draws: per-vertex (smooth) and per-triangle (flat).
#include "topolib/StlObject.h"

#include <cmath>

namespace topolib {

void StlObject::freeRenderArrays() {
    m_render.positions = std::vector<float>();
    m_render.normals = std::vector<float>();
    m_render.triangleIndices = std::vector<uint32_t>();
    m_render.lineIndices = std::vector<uint32_t>();
}

uint32_t StlObject::buildSmoothRenderArrays() {
    if (!m_render.vertexStale) {
        buildTriangleIndexArray();
        return m_measures.vertexCount;
    }
    freeRenderArrays();
    const std::size_t n = m_records.vertices.size();
    m_render.positions.resize(3 * n);
    m_render.normals.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const StlVertex* v = m_records.vertices[i];
        Vector3D sum;
        for (const StlTriangle* t : *v)
            if (!t->isDeleted())
                sum += t->normal;
        const double q = sum.dot(sum);
        if (q < 1e-15)
            sum = Vector3D();
        else if (std::fabs(q - 1.0) >= 1e-12)
            sum /= std::sqrt(q);
        for (int a = 0; a < 3; ++a) {
            m_render.positions[3 * i + a] = static_cast<float>(v->pos[a]);
            m_render.normals[3 * i + a] = static_cast<float>(sum[a]);
        }
    }
    m_render.vertexStale = false;
    // The index array belongs to this layout too: rebuild it with the positions.
    m_render.triangleStale = true;
    buildTriangleIndexArray();
    return m_measures.vertexCount;
}

bool StlObject::buildTriangleIndexArray() {
    if (!m_render.triangleStale)
        return false;
    m_render.triangleIndices.assign(3 * m_records.triangles.size(), 0);
    for (std::size_t i = 0; i < m_records.triangles.size(); ++i)
        for (int k = 0; k < 3; ++k)
            m_render.triangleIndices[3 * i + k] =
                static_cast<uint32_t>(m_records.triangles[i]->vertices[k]->index);
    m_render.triangleStale = false;
    return true;
}

void StlObject::buildFlatRenderArrays() {
    if (!m_render.triangleStale)
        return;
    const std::size_t n = m_records.triangles.size();
    m_render.positions.assign(9 * n, 0.0f);
    m_render.normals.assign(9 * n, 0.0f);
    m_render.triangleIndices.clear();
    m_render.triangleIndices.reserve(3 * n);
    m_render.lineIndices.clear();
    m_render.lineIndices.reserve(3 * n);
    m_render.vertexCount = 0;
    m_render.triangleCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        StlTriangle* t = m_records.triangles[i];
        const uint32_t base = static_cast<uint32_t>(3 * i);
        for (int k = 0; k < 3; ++k) {
            for (int a = 0; a < 3; ++a) {
                m_render.positions[9 * i + 3 * k + a] = static_cast<float>(t->vertices[k]->pos[a]);
                m_render.normals[9 * i + 3 * k + a] = static_cast<float>(t->normal[a]);
            }
        }
        m_render.vertexCount += 3;
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (e == nullptr || e->marks() != 0 || e->edgeClass == kEdgeBoundary)
                continue;
            m_render.lineIndices.push_back(base + static_cast<uint32_t>(k));
            m_render.lineIndices.push_back(base + static_cast<uint32_t>((k + 1) % 3));
            e->flags |= 1u; // drawn once, from the first triangle that meets it
        }
        m_render.triangleIndices.push_back(base);
        m_render.triangleIndices.push_back(base + 1);
        m_render.triangleIndices.push_back(base + 2);
        ++m_render.triangleCount;
    }
    m_render.lineIndexCount = static_cast<uint32_t>(m_render.lineIndices.size());
    for (StlEdge* e : m_records.edges)
        e->clearMarks();
    m_render.triangleStale = false;
}

} // namespace topolib
