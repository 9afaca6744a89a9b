#include "topolib/StlEdge.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace topolib {

namespace {

// Grows a list kept inline while its capacity is 2 and in a heap block beyond
// (capacity + 2, the new slots null). The block's first slot holds the
// capacity; the entries follow. Returns the entries of the new block or null.
template <typename P>
P* growList(P* current, bool onHeap, uint32_t capacity) {
    const uint32_t newCapacity = capacity + 2;
    P* block = static_cast<P*>(std::malloc((newCapacity + 1) * sizeof(P)));
    if (!block)
        return nullptr;
    block[0] = P::fromRaw(newCapacity);
    P* entries = block + 1;
    std::memcpy(entries, current, capacity * sizeof(P));
    entries[capacity] = nullptr;
    entries[capacity + 1] = nullptr;
    if (onHeap)
        std::free(current - 1);
    return entries;
}

// A heap list of `capacity` null entries in the layout of growList.
template <typename P>
P* emptyBlock(uint32_t capacity) {
    P* block = static_cast<P*>(std::malloc((capacity + 1) * sizeof(P)));
    if (!block)
        return nullptr;
    block[0] = P::fromRaw(capacity);
    for (uint32_t i = 1; i <= capacity; ++i)
        block[i] = nullptr;
    return block + 1;
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

void StlEdge::releaseLists() {
    if (m_vertexWord & kOnHeap)
        std::free(m_v.heap - 1);
    if (m_triangleWord & kOnHeap)
        std::free(m_t.heap - 1);
    m_vertexWord &= kCountMask;
    m_triangleWord &= kCountMask;
}

bool StlEdge::prepareLists(uint32_t vertexCapacity, uint32_t triangleCapacity) {
    releaseLists();
    m_vertexWord = 0;
    m_triangleWord = 0;
    m_v.inl[0] = m_v.inl[1] = nullptr;
    m_t.inl[0] = m_t.inl[1] = nullptr;
    if (vertexCapacity > 2) {
        Ref<StlVertex>* block = emptyBlock<Ref<StlVertex>>(vertexCapacity);
        if (!block)
            return false;
        m_v.heap = block;
        m_vertexWord = kOnHeap;
        arena::markOwner(this);
    }
    if (triangleCapacity > 2) {
        Ref<StlTriangle>* block = emptyBlock<Ref<StlTriangle>>(triangleCapacity);
        if (!block) {
            releaseLists();
            m_v.inl[0] = m_v.inl[1] = nullptr;
            return false;
        }
        m_t.heap = block;
        m_triangleWord = kOnHeap;
        arena::markOwner(this);
    }
    return true;
}

StlEdge* StlEdge::init(StlVertex* a, StlVertex* b) {
    releaseLists();
    flags &= ~kMarkMask;
    edgeClass = kEdgeSmooth;
    m_vertexWord = 2;
    m_v.inl[0] = a;
    m_v.inl[1] = b;
    m_triangleWord = 0;
    m_t.inl[0] = nullptr;
    m_t.inl[1] = nullptr;
    return this;
}

uint32_t StlEdge::addTriangle(StlTriangle* t) {
    const uint32_t count = triangleCount();
    if (count >= kMaxTriangles)
        return 0;
    const uint32_t capacity = triangleCapacity();
    if (count >= capacity) {
        Ref<StlTriangle>* block = growList(triangleData(), (m_triangleWord & kOnHeap) != 0, capacity);
        if (!block)
            return 0;
        m_t.heap = block;
        m_triangleWord |= kOnHeap;
        arena::markOwner(this);
    }
    triangleData()[count] = t;
    m_triangleWord = static_cast<uint8_t>((m_triangleWord & kOnHeap) | (count + 1));
    edgeClass = static_cast<uint8_t>(classForCount(count + 1));
    return count + 1;
}

bool StlEdge::removeTriangle(const StlTriangle* t) {
    Ref<StlTriangle>* list = triangleData();
    const uint32_t count = triangleCount();
    for (uint32_t i = 0; i < count; ++i) {
        if (list[i] == t) {
            list[i] = list[count - 1];
            list[count - 1] = nullptr;
            m_triangleWord = static_cast<uint8_t>((m_triangleWord & kOnHeap) | (count - 1));
            edgeClass = static_cast<uint8_t>(classForCount(count - 1));
            return true;
        }
    }
    edgeClass = static_cast<uint8_t>(classForCount(count));
    return false;
}

int StlEdge::addVertex(StlVertex* v) {
    const uint32_t count = vertexCount();
    if (count >= kMaxVertices)
        return 0;
    const Ref<StlVertex>* list = vertexData();
    for (uint32_t i = 0; i < count; ++i)
        if (list[i] == v)
            return 0;
    const uint32_t capacity = vertexCapacity();
    if (count >= capacity) {
        Ref<StlVertex>* block = growList(vertexData(), (m_vertexWord & kOnHeap) != 0, capacity);
        if (!block)
            return 0;
        m_v.heap = block;
        m_vertexWord |= kOnHeap;
        arena::markOwner(this);
    }
    vertexData()[count] = v;
    m_vertexWord = static_cast<uint8_t>((m_vertexWord & kOnHeap) | (count + 1));
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
