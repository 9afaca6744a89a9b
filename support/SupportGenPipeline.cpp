// The generation pipeline: overhang regions, their filter, lowest curves and
// lowest points; cone placement, thinning, linking, meshes.
#include "app/MemoryCheck.h"
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/CylinderBar.h"
#include "support/NearestCones.h"
#include "support/ScopeGuard.h"
#include "support/ShapeMesh.h"
#include "support/SupportGen.h"
#include "topolib/MeshBoolean.h"
#include "topolib/NeighbourhoodWalks.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace support {

using topolib::StlEdge;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

void clearEdgeMarks(StlObject& mesh) {
    for (StlEdge* e : mesh.edges()) {
        if (e != nullptr && e->edgeClass != topolib::kEdgeDetached)
            e->clearMarks();
    }
}

#ifndef NDEBUG
// Walk marks are scratch state: every step clears what it set.
bool marksClear(const StlObject& mesh) {
    for (const StlTriangle* t : mesh.triangles()) {
        if (t != nullptr && t->walkMark() != 0)
            return false;
    }
    for (const StlVertex* v : mesh.vertices()) {
        if (v != nullptr && v->mark() != 0)
            return false;
    }
    for (const StlEdge* e : mesh.edges()) {
        if (e != nullptr && e->edgeClass != topolib::kEdgeDetached && e->marks() != 0)
            return false;
    }
    return true;
}
#endif

double zExtent(const StlObject& mesh) {
    const double d = mesh.bboxMax()[2] - mesh.bboxMin()[2];
    return std::isfinite(d) && d > 0.0 ? d : 0.0;
}

} // namespace

bool SupportGen::generate(const ProgressMonitor& progress) {
    m_failure = Failure::None;
    m_refusedCones = 0;
    m_turnedShells = 0;
    if (owner == nullptr || owner->octreeBuilding()) {
        m_failure = Failure::NoSurface;
        return false;
    }
    m_surfaceOpen = topolib::countUnpairedEdges(*owner) > 0;
    try {
        const ShapeMemoryCheck check(*this);
        return runGeneration(progress);
    } catch (const std::bad_alloc&) {
        m_failure = Failure::OutOfMemory;
        dropAfterAllocationFailure();
        return false;
    }
}

bool SupportGen::runGeneration(const ProgressMonitor& progress) {
    if (areas.empty()) {
        // Every step below reads the facet normals as pointing out of the
        // model: an inside-out surface would get its supports from above.
        m_turnedShells = owner->orientClosedShellsOutward();
        detectOverhangs();
        progress.report(0.2);
        if (progress.stopRequested())
            m_failure = Failure::Stopped;
        if (m_failure == Failure::Stopped || !buildSupports(progress)) {
            // The regions just detected have no shapes and nobody else knows
            // them: they go at once, and their facets belong to no region.
            for (SupportAreaAbs* a : areas)
                delete a;
            areas.clear();
            owner->resetTriangleGroups();
            return false;
        }
    } else if (progress.stopRequested()) {
        m_failure = Failure::Stopped;
        return false;
    } else if (!rebuildSupports(progress)) {
        return false;
    }
    buildBase();
    changed = 1;
    assert(marksClear(*owner));
    progress.report(1.0);
    return true;
}

void SupportGen::dropAfterAllocationFailure() noexcept {
    // The steps leave the regions whole at any failed allocation (retiring
    // allocates nothing); what they made so far goes, as far as memory allows.
    // The meshes hold most of the memory and go first, without allocating, so
    // that clear finds room for its one allocation.
    for (SupportAreaAbs* a : areas) {
        for (AbtShape* s : a->shapes) {
            if (ConeShape* c = s->asCone())
                c->clearMesh();
        }
    }
    try {
        clear();
    } catch (const std::bad_alloc&) {
        m_grid.reset();
        clearBase();
        changed = 1;
    }
    // Walk marks were cleared by the detection's guard; the groups name no
    // region now.
    if (owner != nullptr)
        owner->resetTriangleGroups();
}

std::string SupportGen::failureText() const {
    char text[512];
    switch (m_failure) {
    case Failure::None:
    case Failure::Stopped: // the user asked for it: nothing to explain
        return std::string();
    case Failure::NoSurface:
        return "Supports were not generated: the model is not ready yet. Try again once it has loaded.";
    case Failure::OutOfMemory:
        return "Supports were not generated: there was not enough memory. Raise the Density value (the "
               "spacing of the support points), or generate supports for fewer objects at a time.";
    case Failure::TooManyCones: {
        double size[3] = {0.0, 0.0, 0.0};
        if (owner != nullptr) {
            for (int k = 0; k < 3; ++k)
                size[k] = owner->bboxMax()[k] - owner->bboxMin()[k];
        }
        std::snprintf(
            text, sizeof text,
            "Supports were not generated: at a density of %.2f mm the overhangs would take up to %llu "
            "support points, more than the %llu that one generation may place. The model measures "
            "%.0f x %.0f x %.0f mm; scale it to the printer's size or raise the Density value (the "
            "spacing of the support points).",
            placementParams().spacing, static_cast<unsigned long long>(m_refusedCones),
            static_cast<unsigned long long>(kMaxPlannedCones), size[0], size[1], size[2]);
        return text;
    }
    }
    return std::string();
}

std::string SupportGen::turnedShellText() const {
    if (m_turnedShells == 0)
        return std::string();
    return "The model's surface was inside out (its faces pointed into the model). It has been turned the "
           "right way out before supports were generated.";
}

std::string SupportGen::openSurfaceText() const {
    const std::size_t open = owner != nullptr ? topolib::countUnpairedEdges(*owner) : 0;
    if (open == 0)
        return std::string();
    return "This object is not closed: " + std::to_string(open) +
           " of its edges are open. Its supports follow the surface as it is: where faces are missing, parts "
           "behind them may get no support, and no support is placed through the part where its surface "
           "closes round it. Repair the object for complete supports.";
}

std::uint64_t SupportGen::plannedMeshBytes() const {
    // A cone's own mesh (rings of ten sides) and a bar's (a six-sided prism).
    const std::uint64_t cone = shapeMeshBytes(48, 80);
    const std::uint64_t bar = shapeMeshBytes(12, 20) + sizeof(CylinderBar);
    const PlacementParams params = placementParams();
    std::uint64_t bytes = 0;
    for (const SupportAreaAbs* a : areas) {
        for (const AbtShape* s : a->shapes) {
            const ConeShape* c = s != nullptr ? s->asCone() : nullptr;
            if (c != nullptr && !c->isDeleted())
                bytes += cone + bar * c->barBound(params);
        }
    }
    return bytes;
}

std::uint64_t SupportGen::plannedConeCount() const {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t sum = 0;
    const PlacementParams params = placementParams();
    for (const SupportAreaAbs* a : areas) {
        const std::uint64_t n = a->coneBound(params);
        sum = n > kMax - sum ? kMax : sum + n;
    }
    return sum;
}

void SupportGen::detectOverhangs() {
    StlObject& mesh = *owner;
    // Whatever happens on the way (an allocation failing included), the walk
    // marks of the detection steps are gone when it ends.
    auto clear = onScopeExit([&] {
        clearEdgeMarks(mesh);
        mesh.clearTriangleMarks();
        mesh.clearVertexMarks();
    });
    const double angle = std::isfinite(MaxAngle) ? MaxAngle : 46.0;
    const double limit = -std::cos(angle * 3.141592653 / 180.0);
    for (StlTriangle* t : mesh.triangles()) {
        if (t != nullptr && !t->isDeleted() && t->walkMark() == 0 && t->normal.z < limit)
            growOverhangRegion(t, limit);
    }
    clearEdgeMarks(mesh);
    mesh.clearTriangleMarks();
    filterAreas();
    findLowestCurves();
    findLowestPoints();
}

void SupportGen::growOverhangRegion(StlTriangle* seed, double limit) {
    if (!(seed->normal.z < limit))
        return;
    const uint32_t id = static_cast<uint32_t>(areas.size());
    const int32_t group = groupValue(id);
    std::vector<StlTriangle*> region{seed};
    std::vector<StlTriangle*> stack{seed};
    std::deque<StlEdge*> boundary;
    double area = topolib::triangleArea(seed);
    seed->setGroup(group);
    seed->setWalkMark(2);
    auto onBoundary = [&](StlEdge* e) {
        boundary.push_back(e);
        e->flags = static_cast<uint8_t>((e->flags & ~0xDu) | 0x2u);
    };
    while (!stack.empty()) {
        StlTriangle* t = stack.back();
        stack.pop_back();
        for (StlEdge* e : t->edges) {
            if (e == nullptr)
                continue;
            if (e->edgeClass == topolib::kEdgeNonManifold) {
                onBoundary(e);
                continue;
            }
            StlTriangle* n = nullptr;
            for (StlTriangle* c : *e) {
                if (c != t) {
                    n = c;
                    break;
                }
            }
            if (n == nullptr || n->isDeleted()) {
                onBoundary(e);
                continue;
            }
            if (n->walkMark() == 2 || n->group() > 0) {
                if (n->group() != group)
                    onBoundary(e);
                continue;
            }
            if (n->normal.z < limit) {
                region.push_back(n);
                stack.push_back(n);
                area += topolib::triangleArea(n);
                n->setGroup(group);
                n->setWalkMark(2);
            } else {
                onBoundary(e);
            }
        }
    }
    auto abandon = [&] {
        // The facets keep their walk mark until detection ends (no other region
        // seeds there) but lose the id: a later region takes the same number.
        for (StlTriangle* t : region)
            t->setGroup(-1);
    };
    if (boundary.size() < 3) {
        abandon();
        return;
    }
    if (region.size() < 5 && area < minArea) {
        for (const StlEdge* e : boundary) {
            if (e->hasLowerOppositeVertex()) {
                abandon();
                return;
            }
        }
    }
    auto a = std::make_unique<AreaSupport>(this);
    a->area = area;
    a->assignTriangles(std::move(region));
    a->setAreaId(id);
    a->setBoundary(boundary);
    areas.push_back(a.get());
    a.release();
}

void SupportGen::filterAreas() {
    const StlObject& mesh = *owner;
    double tol = std::max(minTolerance, 0.01 * zExtent(mesh));
    if (!std::isfinite(tol))
        tol = 0.35;
    if (tol > 0.7)
        tol = 0.7;
    const double minA = minArea;
    const std::vector<int8_t> staysLow = AreaSupport::rimWalksTogether(areas, &minA, &tol);
    std::vector<SupportAreaAbs*> kept;
    kept.reserve(areas.size());
    for (std::size_t i = 0; i < areas.size(); ++i) {
        SupportAreaAbs* a = areas[i];
        const bool negligible = staysLow[i] >= 0 ? staysLow[i] == 0 : a->isNegligible(&minA, &tol);
        if (!negligible) {
            a->setAreaId(static_cast<uint32_t>(kept.size()));
            kept.push_back(a);
            continue;
        }
        // A dropped region's facets belong to no region: a surviving region that
        // is renumbered to the same id must not place cones on them.
        if (auto* over = dynamic_cast<AreaSupport*>(a)) {
            for (StlTriangle* t : over->triangles) {
                if (t != nullptr)
                    t->setGroup(-1);
            }
        }
        delete a;
    }
    areas.swap(kept);
}

void SupportGen::findLowestCurves() {
    StlObject& mesh = *owner;
    const double medium = 0.9 * placementParams().spacing;
    std::vector<StlVertex*> chain;
    for (StlEdge* e : mesh.edges()) {
        if (e == nullptr || e->marks() != 0 || e->vertexCount() < 2)
            continue;
        e->flags = static_cast<uint8_t>((e->flags & ~StlEdge::kMarkMask) | 1u);
        if (!e->isLowestHorizontalEdge())
            continue;
        StlVertex* u0 = e->vertex(0);
        StlVertex* u = e->vertex(1);
        double length = std::sqrt((u->pos - u0->pos).lengthSquared());
        u0->flags |= 1u;
        chain.assign(1, u0);
        while (u != nullptr) {
            u->flags |= 1u;
            chain.push_back(u);
            u = u->nextLowestEdgeVertex(&length);
        }
        if (length > 10.0) {
            auto curve = std::make_unique<LowestCurveSupport>(this);
            curve->setVertices(chain);
            curve->setAreaId(static_cast<uint32_t>(areas.size()));
            areas.push_back(curve.get());
            curve.release();
        } else if (length > medium) {
            for (StlVertex* v : chain)
                v->flags |= 2u;
        }
    }
    clearEdgeMarks(mesh);
}

void SupportGen::findLowestPoints() {
    StlObject& mesh = *owner;
    double tol = std::max(minTolerance, 0.02 * zExtent(mesh));
    if (!std::isfinite(tol))
        tol = 0.35;
    if (tol > 1.0)
        tol = 1.0;
    // The lowest-point test of each vertex in turn, as this loop clears the
    // marks of the lowest chains' vertices one by one.
    const std::vector<uint8_t> lowest = topolib::localLowestVerticesInTurn(mesh, tol);
    std::vector<StlVertex*> candidates;
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        StlVertex* v = mesh.vertices()[i];
        if (v == nullptr)
            continue;
        if ((v->flags & 3u) == 0) {
            if (lowest[i] != 0 && !mesh.isInsideByDownwardCount(v->pos.data()) && v->triangleCount() >= 3)
                candidates.push_back(v);
        } else if (v->flags & 2u) {
            candidates.push_back(v);
        }
        v->flags &= ~3u;
    }
    // Earlier candidates win: a candidate stays when no earlier kept one lies
    // within 2.2 tip radii. A hash of cells of that size keeps this linear.
    const double r = 2.0 * 1.1 * placementParams().tipRadius;
    const double r2 = r * r;
    const double cell = r > 1e-9 ? r : 1.0;
    auto key = [&](long i, long j, long k) {
        return (static_cast<uint64_t>(i & 0x1FFFFF) << 42) | (static_cast<uint64_t>(j & 0x1FFFFF) << 21) |
               static_cast<uint64_t>(k & 0x1FFFFF);
    };
    std::unordered_map<uint64_t, std::vector<StlVertex*>> kept;
    for (StlVertex* v : candidates) {
        auto cellOf = [&](double c) {
            return static_cast<long>(std::max(-1e15, std::min(std::floor(c / cell), 1e15)));
        };
        const long ci = cellOf(v->x()), cj = cellOf(v->y()), ck = cellOf(v->z());
        bool crowded = false;
        for (long i = ci - 1; i <= ci + 1 && !crowded; ++i) {
            for (long j = cj - 1; j <= cj + 1 && !crowded; ++j) {
                for (long k = ck - 1; k <= ck + 1 && !crowded; ++k) {
                    auto it = kept.find(key(i, j, k));
                    if (it == kept.end())
                        continue;
                    for (const StlVertex* w : it->second) {
                        if ((w->pos - v->pos).lengthSquared() < r2) {
                            crowded = true;
                            break;
                        }
                    }
                }
            }
        }
        if (crowded)
            continue;
        kept[key(ci, cj, ck)].push_back(v);
        auto point = std::make_unique<LowestPointSupport>(this);
        point->setVertex(v);
        point->setAreaId(static_cast<uint32_t>(areas.size()));
        areas.push_back(point.get());
        point.release();
    }
}

void SupportGen::buildGrid() {
    if (!areas.empty()) {
        boxMin = areas.front()->boxMin;
        boxMax = areas.front()->boxMax;
        for (const SupportAreaAbs* a : areas) {
            for (int k = 0; k < 3; ++k) {
                boxMin[k] = std::min(boxMin[k], a->boxMin[k]);
                boxMax[k] = std::max(boxMax[k], a->boxMax[k]);
            }
        }
    } else if (owner != nullptr) {
        boxMin = Vector3D(owner->bboxMin());
        boxMax = Vector3D(owner->bboxMax());
    }
    m_grid = std::make_unique<ShapeGrid>();
    m_grid->setUp(boxMin.data(), boxMax.data(), 1.5 * placementParams().spacing);
}

void SupportGen::insertConesIntoGrid() {
    if (!m_grid)
        buildGrid();
    for (ConeShape* c : gatherCones()) {
        const double p[2] = {c->FootPoint.x, c->FootPoint.y};
        m_grid->insert(c, p);
    }
}

void SupportGen::thinCrowdedCones() {
    thinCrowdedCones(std::vector<SurfaceMinimum>());
}

void SupportGen::thinCrowdedCones(const std::vector<SurfaceMinimum>& spared) {
    if (!m_grid)
        return;
    // The only cone at an island may stand closer to others than cones
    // usually do: without it that part prints into nothing.
    std::unordered_map<const StlVertex*, const SurfaceMinimum*> minima;
    for (const SurfaceMinimum& m : spared)
        minima.emplace(m.vertex, &m);
    const double reach = minimumReach();
    auto isSpared = [&](const ConeShape* d, const ConeShape* by) {
        const SupportAreaAbs* a = d->area;
        if (a == nullptr || a->kind != kLowestPointSupport)
            return false;
        auto it = minima.find(static_cast<const LowestPointSupport*>(a)->vertex);
        return it != minima.end() && !touchesMinimum(*by, *it->second, reach);
    };
    const double tip = placementParams().tipRadius;
    const double r2 = 9.0 * tip * tip;
    const std::vector<ConeShape*> cones = gatherCones();
    std::vector<AbtShape*> found;
    for (ConeShape* c : cones) {
        c->visited = 1;
        if (c->isDeleted())
            continue;
        found.clear();
        const double p[2] = {c->FootPoint.x, c->FootPoint.y};
        m_grid->queryNeighbourhood(p, found);
        for (AbtShape* s : found) {
            ConeShape* d = s->asCone();
            if (d == nullptr || d->visited || d->isDeleted())
                continue;
            if ((d->ContactPoint - c->ContactPoint).lengthSquared() < r2 && !isSpared(d, c))
                d->setDeleted(true, nullptr);
        }
        c->trimLinks();
    }
    for (ConeShape* c : cones)
        c->visited = 0;
}

void SupportGen::linkNeighbourCones() {
    applyLinks(nullptr, placementParams());
}

// Which live cones are joined. The cones are put in the order of where they
// stand (ColumnLink::standsBefore); every cone proposes the kKeptLinks cones
// in reach that rank first from it; the proposals are taken shortest first
// (equal lengths in that order of the cones), each as long as both of its
// cones hold fewer than kKeptLinks links. Nothing here depends on the order
// the cones were made in or on the shape grid: the same live cones always
// get the same links.
SupportGen::LinkPlan SupportGen::linkPlan(const PlacementParams& params) const {
    LinkPlan plan;
    for (ConeShape* c : gatherCones())
        if (!c->isDeleted() && std::isfinite(c->FootPoint.x) && std::isfinite(c->FootPoint.y) &&
            std::isfinite(c->FootPoint.z))
            plan.cones.push_back(c);
    std::stable_sort(plan.cones.begin(), plan.cones.end(), ColumnLink::standsBefore);
    const std::size_t n = plan.cones.size();
    plan.partners.assign(n, {});
    std::unordered_map<const ConeShape*, std::size_t> index;
    index.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        index.emplace(plan.cones[i], i);
    const double tip = params.tipRadius;
    const double a = (1.05 * tip) * (1.05 * tip);
    const double D = params.spacing;
    const double b = (2.1 * D) * (2.1 * D);
    // Proposals as (length in microns, smaller index, larger index).
    std::vector<std::array<int64_t, 3>> proposals;
    proposals.reserve(n * ConeShape::kKeptLinks);
    const NearestCones nearest(plan.cones, ConeShape::kKeptLinks);
    std::vector<ConeShape*> near;
    for (std::size_t i = 0; i < n; ++i) {
        nearest.find(plan.cones[i], a, b, ConeShape::kKeptLinks, near);
        for (ConeShape* d : near) {
            const std::size_t j = index.at(d);
            const int64_t microns = ColumnLink::rank(ColumnLink::footDistanceSq(plan.cones[i], d), d).microns;
            proposals.push_back({microns, static_cast<int64_t>(std::min(i, j)), static_cast<int64_t>(std::max(i, j))});
        }
    }
    std::sort(proposals.begin(), proposals.end());
    proposals.erase(std::unique(proposals.begin(), proposals.end()), proposals.end());
    for (const auto& p : proposals) {
        const auto i = static_cast<std::size_t>(p[1]), j = static_cast<std::size_t>(p[2]);
        if (plan.partners[i].size() < ConeShape::kKeptLinks && plan.partners[j].size() < ConeShape::kKeptLinks) {
            plan.partners[i].push_back(j);
            plan.partners[j].push_back(i);
        }
    }
    // Each cone's links in rank order: its bars are placed in that order.
    for (std::size_t i = 0; i < n; ++i) {
        auto key = [&](std::size_t j) {
            return std::make_pair(ColumnLink::rank(ColumnLink::footDistanceSq(plan.cones[i], plan.cones[j]),
                                                   plan.cones[j])
                                      .microns,
                                  j);
        };
        std::sort(plan.partners[i].begin(), plan.partners[i].end(),
                  [&](std::size_t x, std::size_t y) { return key(x) < key(y); });
    }
    return plan;
}

// Gives every cone the links of linkPlan, keeping each link that joins a pair
// the plan joins (with its bars). With edit, what changed is recorded there:
// links that go are kept in the record, and the cones whose links changed
// make their bars again, the bars they had kept in the record too. Without
// edit, links that go are retired and the bars are left to the meshes built
// afterwards.
void SupportGen::applyLinks(LinkEdit* edit, const PlacementParams& params) {
    const LinkPlan plan = linkPlan(params);
    const std::size_t n = plan.cones.size();
    auto pairKey = [](const ConeShape* x, const ConeShape* y) {
        return x < y ? std::make_pair(x, y) : std::make_pair(y, x);
    };
    std::map<std::pair<const ConeShape*, const ConeShape*>, ColumnLink*> existing;
    for (ConeShape* c : plan.cones)
        for (AbtShape* l : c->links) {
            auto* link = static_cast<ColumnLink*>(l);
            if (!link->isDeleted() && link->first != nullptr && link->second != nullptr &&
                link->first != link->second)
                existing.emplace(pairKey(link->first, link->second), link);
        }
    std::vector<std::vector<AbtShape*>> lists(n);
    std::unordered_set<const AbtShape*> kept;
    std::vector<ColumnLink*> made;
    std::map<std::pair<const ConeShape*, const ConeShape*>, ColumnLink*> madeByPair;
    for (std::size_t i = 0; i < n; ++i) {
        ConeShape* c = plan.cones[i];
        for (std::size_t j : plan.partners[i]) {
            ConeShape* d = plan.cones[j];
            const auto key = pairKey(c, d);
            ColumnLink* link = nullptr;
            if (auto it = existing.find(key); it != existing.end()) {
                link = it->second;
            } else if (auto m = madeByPair.find(key); m != madeByPair.end()) {
                link = m->second;
            } else {
                // A cylinder cone carries the bars; between alike cones the
                // one that stands first.
                ConeShape* first = i < j ? c : d;
                ConeShape* second = i < j ? d : c;
                if ((first->ConeSupportType == 0) != (second->ConeSupportType == 0) && first->ConeSupportType == 0)
                    std::swap(first, second);
                link = makeLink(first, second);
                madeByPair.emplace(key, link);
                made.push_back(link);
            }
            lists[i].push_back(link);
            kept.insert(link);
        }
    }
    // The cones whose lists change: the planned ones, and any other cone that
    // lists a link that goes (a deleted cone).
    std::vector<std::pair<ConeShape*, std::vector<AbtShape*>>> before, after;
    std::vector<ColumnLink*> removed;
    std::unordered_set<const AbtShape*> removedSeen;
    for (std::size_t i = 0; i < n; ++i) {
        ConeShape* c = plan.cones[i];
        if (c->links == lists[i])
            continue;
        for (AbtShape* l : c->links)
            if (!kept.count(l) && removedSeen.insert(l).second)
                removed.push_back(static_cast<ColumnLink*>(l));
        before.emplace_back(c, c->links);
        after.emplace_back(c, lists[i]);
    }
    std::unordered_set<const ConeShape*> planned(plan.cones.begin(), plan.cones.end());
    std::vector<ConeShape*> others;
    for (ColumnLink* l : removed)
        for (ConeShape* end : {l->first, l->second})
            if (end != nullptr && !planned.count(end) && std::find(others.begin(), others.end(), end) == others.end())
                others.push_back(end);
    for (ConeShape* c : others) {
        std::vector<AbtShape*> list;
        for (AbtShape* l : c->links)
            if (!removedSeen.count(l))
                list.push_back(l);
        before.emplace_back(c, c->links);
        after.emplace_back(c, std::move(list));
    }
    for (auto& [cone, list] : after)
        cone->links = list;
    if (edit == nullptr) {
        for (ColumnLink* l : removed)
            retire(l);
        return;
    }
    edit->coneEpoch = m_coneEpoch;
    edit->removed = std::move(removed);
    edit->made = made;
    // A changed cone places every bar it carries anew.
    std::unordered_set<const ColumnLink*> fresh(made.begin(), made.end());
    for (const auto& [cone, list] : after) {
        if (cone->isDeleted())
            continue;
        for (AbtShape* l : list) {
            auto* link = static_cast<ColumnLink*>(l);
            if (link->first != cone || fresh.count(link))
                continue;
            edit->otherBars.emplace_back(link, std::move(link->bars));
            link->bars.clear();
        }
        cone->buildBars(params);
    }
    // A bar the user deleted stays deleted where the new bars still hold it.
    for (const auto& [link, old] : edit->otherBars)
        for (const AbtShape* o : old) {
            const auto* was = static_cast<const CylinderBar*>(o);
            if (!was->isDeleted())
                continue;
            for (AbtShape* b : link->bars) {
                const auto* bar = static_cast<const CylinderBar*>(b);
                if ((bar->start - was->start).lengthSquared() < 1e-12 && (bar->end - was->end).lengthSquared() < 1e-12)
                    b->setDeleted(true, nullptr);
            }
        }
    edit->before = std::move(before);
    edit->after = std::move(after);
}

bool SupportGen::buildSupports(const ProgressMonitor& progress) {
    return placeAndBuild(progress, false);
}

bool SupportGen::rebuildSupports(const ProgressMonitor& progress) {
    return placeAndBuild(progress, true);
}

// Every region places its cones afresh (or, with reset, puts back the cones it
// placed before), then the cones are thinned, linked and meshed. A plan beyond
// the bound is refused before anything is placed or retired.
bool SupportGen::placeAndBuild(const ProgressMonitor& progress, bool reset) {
    const std::uint64_t planned = plannedConeCount();
    if (planned > kMaxPlannedCones) {
        m_failure = Failure::TooManyCones;
        m_refusedCones = planned;
        return false;
    }
    buildGrid();
    gridSearchWork = GridSearchWork();
    const std::vector<SurfaceMinimum> minima = findSurfaceMinima();
    const std::size_t n = areas.size();
    const PlacementParams params = placementParams();
    for (std::size_t i = 0; i < n; ++i) {
        if (reset)
            areas[i]->reset(params);
        else
            areas[i]->placeContacts(params);
        if ((i + 1) % std::max<std::size_t>(1, n / 10) == 0)
            progress.report((20 + static_cast<int>(50 * (i + 1) / n)) / 100.0);
    }
    AreaSupport::reachEveryOverhang(areas, params);
    insertConesIntoGrid();
    thinCrowdedCones(minima);
    holdUntouchedMinima(minima);
    linkNeighbourCones();
    progress.report(0.75);
    // The meshes are asked for as a whole before any is made: columns far
    // taller than a printer carry thousands of bars each, and such a plan
    // fails at once instead of once the memory is full. Making them then pays
    // as it goes (ShapeMemoryCheck).
    if (MemoryCheckCallback && !MemoryCheckCallback(plannedMeshBytes()))
        throw std::bad_alloc();
    rebuildShapeMeshes(params);
    return true;
}

} // namespace support
