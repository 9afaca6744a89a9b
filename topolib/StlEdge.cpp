#include "topolib/StlEdge.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace topolib {

namespace {

// Grows a list kept inline while its capacity is 2 and on the heap beyond:
// capacity + 2, the new slots null. Returns the new block or null.
template <typename P>
P* growList(P* current, bool onHeap, uint32_t capacity) {
    const uint32_t newCapacity = capacity + 2;
    P* block = static_cast<P*>(std::malloc(newCapacity * sizeof(P)));
    if (!block)
        return nullptr;
    std::memcpy(block, current, capacity * sizeof(P));
    block[capacity] = nullptr;
    block[capacity + 1] = nullptr;
    if (onHeap)
        std::free(current);
    return block;
}

uint32_t classForCount(uint32_t count) {
    switch (count) {
    case 0:
        return kEdgeDetached;
    case 1:
        return kEdgeBoundary;
    case 2:
        return kEdgeSmooth;
    default:
        return kEdgeNonManifold;
    }
}

} // namespace

StlEdge::~StlEdge() { releaseLists(); }

void StlEdge::releaseLists() {
    if (m_vertexCapacity > 2)
        std::free(m_v.heap);
    if (m_triangleCapacity > 2)
        std::free(m_t.heap);
    m_vertexCapacity = 2;
    m_triangleCapacity = 2;
}

StlEdge* StlEdge::init(StlVertex* a, StlVertex* b) {
    releaseLists();
    flags &= ~kMarkMask;
    edgeClass = kEdgeSmooth;
    m_vertexCount = 2;
    m_v.inl[0] = a;
    m_v.inl[1] = b;
    m_triangleCount = 0;
    m_t.inl[0] = nullptr;
    m_t.inl[1] = nullptr;
    return this;
}

uint32_t StlEdge::addTriangle(StlTriangle* t) {
    if (m_triangleCount >= kMaxTriangles)
        return 0;
    if (m_triangleCount >= m_triangleCapacity) {
        StlTriangle** block = growList(triangleData(), m_triangleCapacity > 2, m_triangleCapacity);
        if (!block)
            return 0;
        m_t.heap = block;
        m_triangleCapacity = static_cast<uint8_t>(m_triangleCapacity + 2);
    }
    triangleData()[m_triangleCount++] = t;
    edgeClass = m_triangleCount == 1 ? kEdgeBoundary : (m_triangleCount == 2 ? kEdgeSmooth : kEdgeNonManifold);
    return m_triangleCount;
}

bool StlEdge::removeTriangle(const StlTriangle* t) {
    StlTriangle** list = triangleData();
    for (uint32_t i = 0; i < m_triangleCount; ++i) {
        if (list[i] == t) {
            list[i] = list[m_triangleCount - 1];
            list[m_triangleCount - 1] = nullptr;
            --m_triangleCount;
            edgeClass = classForCount(m_triangleCount);
            return true;
        }
    }
    edgeClass = classForCount(m_triangleCount);
    return false;
}

int StlEdge::addVertex(StlVertex* v) {
    if (m_vertexCount >= kMaxVertices)
        return 0;
    StlVertex* const* list = vertexData();
    for (uint32_t i = 0; i < m_vertexCount; ++i)
        if (list[i] == v)
            return 0;
    if (m_vertexCount >= m_vertexCapacity) {
        StlVertex** block = growList(vertexData(), m_vertexCapacity > 2, m_vertexCapacity);
        if (!block)
            return 0;
        m_v.heap = block;
        m_vertexCapacity = static_cast<uint8_t>(m_vertexCapacity + 2);
    }
    vertexData()[m_vertexCount++] = v;
    return 1;
}

int StlEdge::sideIn(const StlTriangle* t) const {
    for (int k = 0; k < 3; ++k)
        if (t->edges[k] == this)
            return k;
    return -1;
}

bool StlEdge::hasLowerOppositeVertex() const {
    const Vector3D& a = vertex(0)->pos;
    const Vector3D d = vertex(1)->pos - a;
    const double dd = d.dot(d);
    for (StlTriangle* t : *this) {
        if (t->isDeleted() || t->group() != -1)
            continue;
        const int side = sideIn(t);
        if (side < 0)
            continue;
        const Vector3D& p = t->oppositeVertex(side)->pos;
        const double s = (p - a).dot(d) / dd;
        if (a.z + s * d.z > p.z)
            return true;
    }
    return false;
}

bool StlEdge::isLowestHorizontalEdge() const {
    if (edgeClass != kEdgeSharp && edgeClass != kEdgeNonManifold)
        return false;
    // Some triangle must face down, and the most vertical normal (largest |z|,
    // first wins ties) must not face up.
    bool anyDown = false;
    double bestAbs = -1.0;
    double bestZ = 0.0;
    for (const StlTriangle* t : *this) {
        const double z = t->normal.z;
        if (z < -1e-6)
            anyDown = true;
        if (std::fabs(z) > bestAbs) {
            bestAbs = std::fabs(z);
            bestZ = z;
        }
    }
    if (!anyDown || bestZ > 1e-6)
        return false;

    const Vector3D& a = vertex(0)->pos;
    Vector3D d = vertex(1)->pos - a;
    d.unitize();
    if (std::fabs(d.z) > 0.08715574) // rises more than 5 degrees
        return false;
    Vector3D h(-d.y, d.x, 0.0);
    h.unitize();
    for (const StlTriangle* t : *this) {
        if (t->isDeleted())
            continue;
        const int side = sideIn(t);
        if (side < 0)
            continue;
        const Vector3D& p = t->oppositeVertex(side)->pos;
        const Vector3D w = p - a;
        const double along = w.dot(d);
        if (a.z + along * d.z > p.z)
            return false;
        Vector3D across = w - d * along;
        across.unitize();
        if (std::fabs(across.dot(h)) > 0.99984769) // lies within 1 degree of horizontal
            return false;
    }
    return true;
}

} // namespace topolib
