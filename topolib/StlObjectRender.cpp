// The float arrays the 3D view draws: per-vertex (smooth) and per-triangle
// (flat), built into arrays the drawing owns.
#include "topolib/RenderArrays.h"
#include "topolib/StlObject.h"

#include <cmath>

namespace topolib {

void StlObject::freeRenderArrays(RenderArrays& arrays) {
    arrays.positions = std::vector<float>();
    arrays.normals = std::vector<float>();
    arrays.triangleIndices = std::vector<uint32_t>();
    arrays.lineIndices = std::vector<uint32_t>();
}

uint32_t StlObject::buildSmoothRenderArrays(RenderArrays& into) {
    if (!m_derived.vertexRenderStale) {
        buildTriangleIndexArray(into);
        return m_measures.vertexCount;
    }
    freeRenderArrays(into);
    const std::size_t n = m_records.vertices.size();
    into.positions.resize(3 * n);
    into.normals.resize(3 * n);
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
            into.positions[3 * i + a] = static_cast<float>(v->pos[a]);
            into.normals[3 * i + a] = static_cast<float>(sum[a]);
        }
    }
    m_derived.vertexRenderStale = false;
    // The index array belongs to this layout too: rebuild it with the positions.
    m_derived.triangleRenderStale = true;
    buildTriangleIndexArray(into);
    return m_measures.vertexCount;
}

bool StlObject::buildTriangleIndexArray(RenderArrays& into) {
    if (!m_derived.triangleRenderStale)
        return false;
    into.triangleIndices.assign(3 * m_records.triangles.size(), 0);
    for (std::size_t i = 0; i < m_records.triangles.size(); ++i)
        for (int k = 0; k < 3; ++k)
            into.triangleIndices[3 * i + k] =
                static_cast<uint32_t>(m_records.triangles[i]->vertices[k]->index);
    m_derived.triangleRenderStale = false;
    return true;
}

void StlObject::buildFlatRenderArrays(RenderArrays& into) {
    if (!m_derived.triangleRenderStale)
        return;
    const std::size_t n = m_records.triangles.size();
    into.positions.assign(9 * n, 0.0f);
    into.normals.assign(9 * n, 0.0f);
    into.triangleIndices.clear();
    into.triangleIndices.reserve(3 * n);
    into.lineIndices.clear();
    into.lineIndices.reserve(3 * n);
    into.vertexCount = 0;
    into.triangleCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        StlTriangle* t = m_records.triangles[i];
        const uint32_t base = static_cast<uint32_t>(3 * i);
        for (int k = 0; k < 3; ++k) {
            for (int a = 0; a < 3; ++a) {
                into.positions[9 * i + 3 * k + a] = static_cast<float>(t->vertices[k]->pos[a]);
                into.normals[9 * i + 3 * k + a] = static_cast<float>(t->normal[a]);
            }
        }
        into.vertexCount += 3;
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (e == nullptr || e->marks() != 0 || e->edgeClass == kEdgeBoundary)
                continue;
            into.lineIndices.push_back(base + static_cast<uint32_t>(k));
            into.lineIndices.push_back(base + static_cast<uint32_t>((k + 1) % 3));
            e->flags |= 1u; // drawn once, from the first triangle that meets it
        }
        into.triangleIndices.push_back(base);
        into.triangleIndices.push_back(base + 1);
        into.triangleIndices.push_back(base + 2);
        ++into.triangleCount;
    }
    into.lineIndexCount = static_cast<uint32_t>(into.lineIndices.size());
    for (StlEdge* e : m_records.edges)
        e->clearMarks();
    m_derived.triangleRenderStale = false;
}

} // namespace topolib
