// Whether an overhang region matters: large regions stay when flat, elongated,
// rich in nearly horizontal facets or the bottom of their surroundings; small
// ones stay only when no lower place is reachable from their rim within the
// tolerance.
#include "support/ScopeGuard.h"
#include "support/SupportArea.h"
#include "topolib/BandReach.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <vector>

namespace support {

using topolib::BandReach;
using topolib::StlEdge;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;

namespace {

double soundMinArea(const double* minArea) {
    return std::isfinite(*minArea) ? *minArea : 5.0;
}
double soundTolerance(const double* tolerance) {
    return std::isfinite(*tolerance) ? *tolerance : 0.35;
}

// The start of a small region's rim walk: the vertices of its outline edges,
// each once, in order (`take` lists one, `skip` passes over one listed before);
// returns the lowest height among them.
template <typename Skip, typename Take>
double collectRim(const AreaOutline& outline, Skip&& skip, Take&& take) {
    double low = 99999999.0;
    for (StlEdge* e : outline.edges) {
        for (uint32_t k = 0; k < 2; ++k) {
            StlVertex* v = e->vertex(k);
            if (skip(v))
                continue;
            take(v);
            low = std::min(low, v->z());
        }
    }
    return low;
}

} // namespace

bool AreaSupport::walksRim(const double* minArea) const {
    return !(area > soundMinArea(minArea));
}

bool AreaSupport::isNegligible(const double* minArea, const double* tolerance) {
    const double A = area;
    const double m = soundMinArea(minArea);
    const double t = soundTolerance(tolerance);
    if (walksRim(minArea))
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
    const double low = collectRim(
        *outline, [](const StlVertex* v) { return v->mark() != 0; },
        [&](StlVertex* v) {
            v->flags |= 1u;
            marked.push_back(v);
        });
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

std::vector<int8_t> AreaSupport::rimWalksTogether(const std::vector<SupportAreaAbs*>& areas,
                                                  const double* minArea, const double* tolerance) {
    std::vector<int8_t> out(areas.size(), -1);
    StlObject* mesh = nullptr;
    for (const SupportAreaAbs* a : areas) {
        if (a == nullptr || a->kind != kAreaSupport || !static_cast<const AreaSupport*>(a)->walksRim(minArea))
            continue;
        if (mesh != nullptr && a->mesh() != mesh)
            return out;
        mesh = a->mesh();
    }
    if (mesh == nullptr)
        return out;
    // The walks treat records another walk has marked as visited; the walks
    // together know no such marks.
    for (const StlVertex* v : mesh->vertices()) {
        if (v != nullptr && v->mark() != 0)
            return out;
    }
    for (const StlTriangle* t : mesh->triangles()) {
        if (t != nullptr && t->walkMark() != 0)
            return out;
    }
    BandReach reach(*mesh, false);
    if (!reach.usable())
        return out;

    const double t = soundTolerance(tolerance);
    const std::size_t n = mesh->vertices().size();
    auto listed = [&](const StlVertex* v) {
        return v != nullptr && v->index >= 0 && static_cast<std::size_t>(v->index) < n;
    };
    std::vector<uint32_t> onRim(n, 0);
    std::vector<BandReach::Question> questions;
    std::vector<StlVertex*> seeds;
    std::vector<std::size_t> asked;
    // Regions whose own walk decides: their facets do not wall off their
    // inner vertices alone (a vertex shared with other facets or regions).
    std::vector<uint8_t> alone(areas.size(), 0);
    std::vector<StlTriangle*> own;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        if (areas[i] == nullptr || areas[i]->kind != kAreaSupport)
            continue;
        auto* a = static_cast<AreaSupport*>(areas[i]);
        if (!a->walksRim(minArea))
            continue;
        if (!a->outline || a->outline->edges.empty()) {
            out[i] = 1;
            continue;
        }
        const uint32_t round = static_cast<uint32_t>(i) + 1;
        const std::size_t first = seeds.size();
        bool strange = false;
        const double low = collectRim(
            *a->outline,
            [&](const StlVertex* v) {
                strange = strange || !listed(v);
                return !listed(v) || onRim[static_cast<std::size_t>(v->index)] == round;
            },
            [&](StlVertex* v) {
                onRim[static_cast<std::size_t>(v->index)] = round;
                seeds.push_back(v);
            });
        const double base = a->boxMin.z + 1e-6;
        if (!strange && low - base > t) {
            out[i] = 1;
            seeds.resize(first);
            continue;
        }
        // The region's own facets are walls to its walk: the vertices they have
        // off the rim (inside the region) are reached through other facets
        // only. A vertex whose facets are all the region's cannot be reached at
        // all; the pieces hold it, so the region's question does not count it.
        own.clear();
        auto unmark = onScopeExit([&] {
            for (StlTriangle* tr : own)
                tr->setWalkMark(0);
        });
        for (StlTriangle* tr : a->triangles) {
            if (tr != nullptr && tr->walkMark() == 0) {
                tr->setWalkMark(1);
                own.push_back(tr);
            }
        }
        for (const StlTriangle* tr : own) {
            for (const StlVertex* y : tr->vertices) {
                if (strange || !listed(y)) {
                    strange = true;
                    break;
                }
                if (onRim[static_cast<std::size_t>(y->index)] == round)
                    continue;
                for (const StlTriangle* other : *y)
                    strange = strange || other->walkMark() == 0;
                const uint32_t tag = reach.setTag(y, static_cast<uint32_t>(i));
                if (tag != static_cast<uint32_t>(i)) {
                    strange = true;
                    if (tag < areas.size())
                        alone[tag] = 1;
                }
            }
        }
        if (strange) {
            alone[i] = 1;
            seeds.resize(first);
            continue;
        }
        BandReach::Question q;
        q.firstSeed = first;
        q.seedCount = seeds.size() - first;
        q.lower = base - 1e-5;
        q.upper = base + t;
        q.ownTag = static_cast<uint32_t>(i);
        questions.push_back(q);
        asked.push_back(i);
    }
    const std::vector<BandReach::Answer> answers = reach.answer(questions, seeds);
    for (std::size_t k = 0; k < answers.size(); ++k) {
        if (!alone[asked[k]] && answers[k] != BandReach::Answer::Unanswered)
            out[asked[k]] = answers[k] == BandReach::Answer::NotReached ? 1 : 0;
    }
    for (std::size_t i = 0; i < areas.size(); ++i) {
        if (alone[i])
            out[i] = -1;
    }
    return out;
}

} // namespace support
