// The float arrays the 3D view draws: per-vertex (smooth) and per-triangle (flat).
#include "topolib/StlObject.h"

#include <cmath>

namespace topolib {

void StlObject::freeRenderArrays() {
    m_renderPositions = std::vector<float>();
    m_renderNormals = std::vector<float>();
    m_renderTriangleIndices = std::vector<uint32_t>();
    m_renderLineIndices = std::vector<uint32_t>();
}

uint32_t StlObject::buildSmoothRenderArrays() {
    if (!m_vertexRenderStale) {
        buildTriangleIndexArray();
        return m_vertexCount;
    }
    freeRenderArrays();
    const std::size_t n = m_vertices.size();
    m_renderPositions.resize(3 * n);
    m_renderNormals.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const StlVertex* v = m_vertices[i];
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
            m_renderPositions[3 * i + a] = static_cast<float>(v->pos[a]);
            m_renderNormals[3 * i + a] = static_cast<float>(sum[a]);
        }
    }
    m_vertexRenderStale = false;
    // The index array belongs to this layout too: rebuild it with the positions.
    m_triangleRenderStale = true;
    buildTriangleIndexArray();
    return m_vertexCount;
}

bool StlObject::buildTriangleIndexArray() {
    if (!m_triangleRenderStale)
        return false;
    m_renderTriangleIndices.assign(3 * m_triangles.size(), 0);
    for (std::size_t i = 0; i < m_triangles.size(); ++i)
        for (int k = 0; k < 3; ++k)
            m_renderTriangleIndices[3 * i + k] = static_cast<uint32_t>(m_triangles[i]->vertices[k]->index);
    m_triangleRenderStale = false;
    return true;
}

void StlObject::buildFlatRenderArrays() {
    if (!m_triangleRenderStale)
        return;
    const std::size_t n = m_triangles.size();
    m_renderPositions.assign(9 * n, 0.0f);
    m_renderNormals.assign(9 * n, 0.0f);
    m_renderTriangleIndices.clear();
    m_renderTriangleIndices.reserve(3 * n);
    m_renderLineIndices.clear();
    m_renderLineIndices.reserve(3 * n);
    m_renderVertexCount = 0;
    m_renderTriangleCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        StlTriangle* t = m_triangles[i];
        const uint32_t base = static_cast<uint32_t>(3 * i);
        for (int k = 0; k < 3; ++k) {
            for (int a = 0; a < 3; ++a) {
                m_renderPositions[9 * i + 3 * k + a] = static_cast<float>(t->vertices[k]->pos[a]);
                m_renderNormals[9 * i + 3 * k + a] = static_cast<float>(t->normal[a]);
            }
        }
        m_renderVertexCount += 3;
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (e == nullptr || e->marks() != 0 || e->edgeClass == kEdgeBoundary)
                continue;
            m_renderLineIndices.push_back(base + static_cast<uint32_t>(k));
            m_renderLineIndices.push_back(base + static_cast<uint32_t>((k + 1) % 3));
            e->flags |= 1u; // drawn once, from the first triangle that meets it
        }
        m_renderTriangleIndices.push_back(base);
        m_renderTriangleIndices.push_back(base + 1);
        m_renderTriangleIndices.push_back(base + 2);
        ++m_renderTriangleCount;
    }
    m_lineIndexCount = static_cast<uint32_t>(m_renderLineIndices.size());
    for (StlEdge* e : m_edges)
        e->clearMarks();
    m_triangleRenderStale = false;
}

} // namespace topolib
