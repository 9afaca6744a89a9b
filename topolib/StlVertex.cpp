#include "topolib/StlVertex.h"

#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace topolib {

void StlVertex::freeList() { std::free(m_list); }

bool StlVertex::grow() {
    // First list: 5 slots; then +3 at a time up to the 32765-triangle limit.
    if (m_capacity >= kMaxTriangles)
        return false;
    uint32_t newCapacity = m_capacity == 0 ? 5u : m_capacity + 3u;
    if (newCapacity > kMaxTriangles)
        newCapacity = kMaxTriangles;
    Ref<StlTriangle>* block;
    if (m_ownsList) {
        block = static_cast<Ref<StlTriangle>*>(std::realloc(m_list, newCapacity * sizeof(Ref<StlTriangle>)));
        if (!block)
            return false;
    } else {
        block = static_cast<Ref<StlTriangle>*>(std::malloc(newCapacity * sizeof(Ref<StlTriangle>)));
        if (!block)
            return false;
        if (m_count)
            std::memcpy(block, m_list, m_count * sizeof(Ref<StlTriangle>));
    }
    m_list = block;
    m_capacity = static_cast<uint16_t>(newCapacity);
    m_ownsList = true;
    arena::markOwner(this);
    return true;
}

int StlVertex::addTriangle(StlTriangle* t) {
    if (m_list == nullptr || m_capacity <= m_count) {
        if (!grow())
            return 0;
    }
    for (uint32_t i = 0; i < m_count; ++i)
        if (m_list[i] == t)
            return 0;
    m_list[m_count++] = t;
    return 1;
}

bool StlVertex::removeTriangle(const StlTriangle* t) {
    for (uint32_t i = 0; i < m_count; ++i) {
        if (m_list[i] == t) {
            m_list[i] = m_list[m_count - 1];
            --m_count;
            return true;
        }
    }
    return false;
}

void StlVertex::useExternalList(Ref<StlTriangle>* slots, uint32_t capacity) {
    if (m_ownsList)
        std::free(m_list);
    m_list = slots;
    m_count = 0;
    m_capacity = static_cast<uint16_t>(capacity < kMaxTriangles ? capacity : kMaxTriangles);
    m_ownsList = false;
}

void StlVertex::transform(const double m[16]) {
    const double x0 = pos.x, y0 = pos.y, z0 = pos.z;
    pos.x = m[0] * x0 + m[4] * y0 + m[8] * z0 + m[12];
    pos.y = m[1] * x0 + m[5] * y0 + m[9] * z0 + m[13];
    pos.z = m[2] * x0 + m[6] * y0 + m[10] * z0 + m[14];
}

void StlVertex::computeNormal(double out[3]) const {
    Vector3D sum;
    for (uint32_t i = 0; i < m_count; ++i) {
        const StlTriangle* t = m_list[i];
        if (!t->isDeleted())
            sum += t->normal;
    }
    sum.normalize();
    out[0] = sum.x;
    out[1] = sum.y;
    out[2] = sum.z;
}

StlEdge* StlVertex::findEdgeTo(const StlVertex* a, const StlVertex* b) {
    for (uint32_t i = 0; i < a->m_count; ++i) {
        const StlTriangle* t = a->m_list[i];
        if (t->isDeleted())
            continue;
        for (StlEdge* e : t->edges) {
            if (e == nullptr || e->edgeClass == kEdgeDetached)
                continue;
            const StlVertex* e0 = e->vertex(0);
            const StlVertex* e1 = e->vertex(1);
            if ((e0 == a && e1 == b) || (e0 == b && e1 == a))
                return e;
        }
    }
    return nullptr;
}

bool isFiniteVector(const double v[3]) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

bool floatPointsEqual(const float a[3], const float b[3]) {
    return floatPointsNear(a, b, 1.0);
}

bool floatPointsNear(const float a[3], const float b[3], double scale) {
    return floatPointsWithin(a, b, 1e-6 * scale, 1e-12 * (scale * scale));
}

} // namespace topolib
