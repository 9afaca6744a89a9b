// Whether an overhang region matters: large regions stay when flat, elongated,
// rich in nearly horizontal facets or the bottom of their surroundings; small
// ones stay only when no lower place is reachable from their rim within the
// tolerance.
#include "support/ScopeGuard.h"
#include "support/SupportArea.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <vector>

namespace support {

using topolib::StlEdge;
using topolib::StlTriangle;
using topolib::StlVertex;

bool AreaSupport::isNegligible(const double* minArea, const double* tolerance) {
    const double A = area;
    const double m = std::isfinite(*minArea) ? *minArea : 5.0;
    const double t = std::isfinite(*tolerance) ? *tolerance : 0.35;
    if (!(A > m))
        return !staysLowWithinTolerance(&t);
    const double d = std::max(boxMax.x - boxMin.x, boxMax.y - boxMin.y);
    const double dz = boxMax.z - boxMin.z;
    if (dz == 0.0 || d / dz >= 4.0)
        return false; // flat
    const double P = outline ? outline->length() : 0.0;
    if (P * P * 0.0625 / A > 5.5)
        return false; // elongated
    const double angle = A > 50.0 * m ? 15.0 : (A > 10.0 * m ? 8.0 : 5.0);
    if (downFacingArea(&angle) >= m)
        return false;
    return !isLowestInNeighbourhood();
}

double AreaSupport::downFacingArea(const double* angle) const {
    const double limit = -std::cos(*angle * 3.141592653 / 180.0);
    double sum = 0.0;
    for (const StlTriangle* t : triangles) {
        if (t != nullptr && t->normal.z < limit)
            sum += topolib::triangleArea(t);
    }
    return sum;
}

bool AreaSupport::isLowestInNeighbourhood() const {
    if (!outline || outline->edges.empty())
        return false;
    const int32_t own = groupValue(AreaID);
    double best = 99999.0;
    const StlEdge* bestEdge = nullptr;
    const StlTriangle* outside = nullptr;
    for (const StlEdge* e : outline->edges) {
        if (e->edgeClass != topolib::kEdgeSmooth && e->edgeClass != topolib::kEdgeSharp)
            continue;
        const StlTriangle* t0 = e->triangle(0);
        const StlTriangle* t1 = e->triangle(1);
        const bool in0 = t0 != nullptr && t0->group() == own;
        const bool in1 = t1 != nullptr && t1->group() == own;
        if (in0 == in1)
            continue;
        const StlTriangle* out = in0 ? t1 : t0;
        if (out == nullptr)
            continue;
        for (uint32_t k = 0; k < 2; ++k) {
            const double z = e->vertex(k)->z();
            if (z < best) {
                best = z;
                bestEdge = e;
                outside = out;
            }
        }
    }
    if (bestEdge == nullptr)
        return true;
    const int side = bestEdge->sideIn(outside);
    if (side >= 0 && outside->oppositeVertex(side)->z() < boxMin.z - 1e-5)
        return false; // the surface goes on downwards
    if (outside->group() > 0 && outside->normal.z < -0.99619469)
        return false;
    return true;
}

bool AreaSupport::staysLowWithinTolerance(const double* tolerance) const {
    if (!outline || outline->edges.empty())
        return true;
    const double t = *tolerance;
    const double base = boxMin.z + 1e-6;
    std::vector<StlVertex*> marked;
    std::vector<StlTriangle*> walked;
    auto clear = onScopeExit([&] {
        for (StlVertex* v : marked)
            v->flags &= ~1u;
        for (StlTriangle* tr : walked)
            tr->setWalkMark(0);
    });
    double low = 99999999.0;
    for (StlEdge* e : outline->edges) {
        for (uint32_t k = 0; k < 2; ++k) {
            StlVertex* v = e->vertex(k);
            if (v->mark() != 0)
                continue;
            v->flags |= 1u;
            marked.push_back(v);
            low = std::min(low, v->z());
        }
    }
    if (low - base > t)
        return true; // a pocket: the rim rises above the tolerance on every side
    for (StlTriangle* tr : triangles) {
        if (tr != nullptr && tr->walkMark() == 0) {
            tr->setWalkMark(1);
            walked.push_back(tr);
        }
    }
    std::vector<StlVertex*> ring(marked.begin(), marked.end());
    std::vector<StlVertex*> next;
    while (!ring.empty()) {
        next.clear();
        for (StlVertex* v : ring) {
            for (StlTriangle* tr : *v) {
                if (tr->walkMark() != 0)
                    continue;
                tr->setWalkMark(1);
                walked.push_back(tr);
                for (StlVertex* w : tr->vertices) {
                    if (w->mark() != 0)
                        continue;
                    if (w->z() < base - 1e-5)
                        return false; // a lower place is reachable
                    w->flags |= 1u;
                    marked.push_back(w);
                    if (w->z() < base + t)
                        next.push_back(w);
                }
            }
        }
        ring.swap(next);
    }
    return true;
}

} // namespace support
