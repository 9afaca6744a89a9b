// The reach pass of an overhang region's placement: after the grid, every
// part of the region that hangs past the layer below gets a contact within
// the reach, the rim and bands narrower than the grid's step included.
#include "support/AreaSurface.h"
#include "support/ConeShape.h"
#include "support/RegionGrid.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace support {

using topolib::StlEdge;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

// Samples of the region lie this fraction of the spacing apart; a sample
// counts as reached within the spacing less one sample step, so that every
// point between samples lies within the spacing of a contact.
constexpr double kSampleStep = 0.2;
// After a cone fails near a point (its head meets the model there and 1 and
// 2 mm around), the samples this close to it are not tried again.
constexpr double kTried = 2.0;

// One edge of the rim, run from a to b, with the region's facet along it.
struct RimEdge {
    const StlVertex* a;
    const StlVertex* b;
    StlTriangle* inside;
};

// The outline's edges (each once) chained end to end, so that samples taken
// in this order walk along the rim.
std::vector<RimEdge> rimInOrder(const AreaOutline& outline, int group) {
    std::vector<const StlEdge*> edges;
    std::unordered_set<const StlEdge*> seen;
    std::unordered_map<const StlVertex*, std::vector<std::size_t>> at;
    for (const StlEdge* e : outline.edges) {
        if (e == nullptr || e->vertexCount() < 2 || !seen.insert(e).second)
            continue;
        at[e->vertex(0)].push_back(edges.size());
        at[e->vertex(1)].push_back(edges.size());
        edges.push_back(e);
    }
    auto insideOf = [&](const StlEdge* e) -> StlTriangle* {
        for (StlTriangle* t : *e)
            if (t != nullptr && !t->isDeleted() && t->group() == group)
                return t;
        return nullptr;
    };
    std::vector<bool> used(edges.size(), false);
    std::vector<RimEdge> out;
    out.reserve(edges.size());
    for (std::size_t first = 0; first < edges.size(); ++first) {
        const StlVertex* from = edges[first]->vertex(0);
        for (std::size_t e = first; e < edges.size() && !used[e];) {
            used[e] = true;
            const StlVertex* to = edges[e]->vertex(0) == from ? edges[e]->vertex(1) : edges[e]->vertex(0);
            out.push_back({from, to, insideOf(edges[e])});
            from = to;
            std::size_t next = edges.size();
            for (std::size_t n : at[from])
                if (!used[n]) {
                    next = n;
                    break;
                }
            e = next;
        }
    }
    return out;
}

// How far a contact reaches: the spacing less one sample step.
double reachOf(const PlacementParams& params) {
    return (1.0 - kSampleStep) * params.spacing;
}

} // namespace

// Whether points lie in the model: by the count of the crossings below each
// (the mesh's own test) until so many were asked that an index of every facet
// pays for itself; then, on a closed surface wound outward, by the first facet
// below (a point is inside where it faces down).
class AreaSupport::ModelProbe {
public:
    ModelProbe(StlObject* mesh, bool closed) : m_mesh(mesh), m_closed(closed) {}

    bool inside(const double q[3]) {
        // The index costs about as much as a count for every 64 facets.
        if (!m_index && m_closed &&
            ++m_counted > std::max<std::size_t>(256, m_mesh->triangles().size() / 64)) {
            m_facets.assign(m_mesh->triangles().begin(), m_mesh->triangles().end());
            // Finer cells than a region's: a point beside a tall part (a
            // thread's crest) then meets few facets of its column.
            m_index = std::make_unique<SurfaceIndex>(m_facets, SurfaceIndex::kAnyGroup, 0.5, 256);
        }
        if (!m_index)
            return m_mesh->isInsideByDownwardCount(q);
        const StlTriangle* below = m_index->firstBelow(q[0], q[1], q[2]);
        return below != nullptr && below->normal.z < 0.0;
    }

private:
    StlObject* m_mesh;
    bool m_closed;
    std::size_t m_counted = 0;
    std::vector<StlTriangle*> m_facets;
    std::unique_ptr<SurfaceIndex> m_index;
};

ConeShape* AreaSupport::placeAt(SurfaceIndex& surface, const Vector3D& at, const StlTriangle& facet,
                                const PlacementParams& params) {
    // Where the head meets the model, the cone goes beside the point; where
    // the space below is too low for the head and the foot, both are halved
    // (as a head that meets the model is): a lip over a face a few millimetres
    // below holds a short cone.
    const ConeSettings shorter = halfHead(params.cone);
    for (const ConeSettings* settings : {&params.cone, &shorter}) {
        ConeShape* cone = addCone(at.data(), facet.normal.data(), *settings, params.removeInternal);
        if (!cone->isDeleted())
            return cone;
        // A trial that does not fit leaves nothing behind.
        shapes.pop_back();
        delete cone;
        if (placeBeside(surface, at.data(), *settings, params.removeInternal))
            return shapes.back()->asCone();
    }
    return nullptr;
}

std::uint64_t AreaSupport::reachBound(const PlacementParams& params) const {
    // At most one cone per reach along the rim and one more per grid point
    // (where the grid's cones did not fit): the pass stops there.
    GridAxis xs, ys;
    if (!coneGrid(params, &xs, &ys))
        return 0;
    const double reach = reachOf(params);
    const double rim = outline ? outline->length() : 0.0;
    const double along = std::isfinite(rim) ? std::min(rim / reach, 1e12) : 1e12;
    return static_cast<std::uint64_t>(xs.last + 1) * static_cast<std::uint64_t>(ys.last + 1) +
           static_cast<std::uint64_t>(along) + 1;
}

int AreaSupport::placeWhereUnreached(ContactCells& contacts, ModelProbe& model,
                                     const PlacementParams& params) {
    StlObject* m = mesh();
    if (m == nullptr || m->octree() == nullptr)
        return 0;
    const double step = kSampleStep * params.spacing;
    const std::uint64_t budget = reachBound(params);
    const int group = groupValue(AreaID);
    SurfaceIndex surface(triangles, group);
    ContactCells tried(kTried);
    int made = 0;
    // Whether the model holds p from below: material a layer below within
    // kHang (materialBelow's test, at the centre and on four rings of sixteen).
    // Downhill on the facet with this normal first: where a sloping surface
    // turns down into a wall (a thread's flank into its root), a look or two
    // finds it.
    auto heldFromBelow = [&](const Vector3D& p, const Vector3D& normal) {
        const double across = std::hypot(normal.x, normal.y);
        for (const double r : {0.1 * kHang, 0.25 * kHang, 0.5 * kHang, kHang}) {
            if (!(across > 1e-6))
                break;
            const double q[3] = {p.x - r * normal.x / across, p.y - r * normal.y / across, p.z - kLayer};
            if (model.inside(q))
                return true;
        }
        for (int i = 0; i <= 4; ++i)
            for (int k = 0; k < (i == 0 ? 1 : 16); ++k) {
                const double r = kHang * i / 4, a = k * 0.3926990817;
                const double q[3] = {p.x + r * std::cos(a), p.y + r * std::sin(a), p.z - kLayer};
                if (model.inside(q))
                    return true;
            }
        return false;
    };
    // Whether material holds the sample from below: the region's surface
    // falling away downhill, then the model below, then the surface all round.
    auto hangsNot = [&](const Vector3D& p, const Vector3D& normal) {
        return surface.slopesDown(p.x, p.y, p.z, &normal) || heldFromBelow(p, normal) ||
               surface.slopesDown(p.x, p.y, p.z);
    };
    // A sample that hangs and that no contact reaches gets a cone at `at` (a
    // point of the region near it), or beside it where that one does not fit.
    auto reachSample = [&](const Vector3D& sample, Vector3D at, const StlTriangle* facet, bool held) {
        if (held || static_cast<std::uint64_t>(made) >= budget || !(sample.z > 0.0001) ||
            contacts.near(sample) || tried.near(sample) || hangsNot(sample, facet->normal))
            return;
        double z = 0.0;
        if (StlTriangle* t = surface.near(at.x, at.y, at.z, &z); t != nullptr && z > 0.0001) {
            at.z = z;
            facet = t;
        }
        ConeShape* cone = placeAt(surface, at, *facet, params);
        if (cone == nullptr) {
            tried.add(sample);
            return;
        }
        contacts.add(cone->ContactPoint);
        ++made;
    };

    // The rim first, walked along, each contact moved inside the region by the
    // grid's margin (half the facet's width across at most).
    const double margin = 2.2 * params.tipRadius;
    const std::vector<RimEdge> rim = outline ? rimInOrder(*outline, group) : std::vector<RimEdge>();
    // The run over which an edge of the rim falls one layer.
    auto runOf = [](const Vector3D& d) {
        const double fall = std::fabs(d.z);
        return fall > 0.0 ? kLayer * std::hypot(d.x, d.y) / fall : kHang + 1.0;
    };
    // Corners of the rim held along one of their edges (the tip of a spike
    // is held along its ridge, not along the edges that rise from it).
    std::unordered_set<const StlVertex*> heldCorners;
    for (const RimEdge& e : rim) {
        const Vector3D d = e.b->pos - e.a->pos;
        if (runOf(d) <= kHang && std::hypot(d.x, d.y) >= runOf(d))
            heldCorners.insert(d.z > 0.0 ? e.b : e.a);
    }
    for (const RimEdge& e : rim) {
        if (e.inside == nullptr)
            continue;
        const Vector3D& a = e.a->pos;
        const Vector3D d = e.b->pos - a;
        const double len2 = d.lengthSquared();
        Vector3D across;
        for (const StlVertex* v : e.inside->vertices)
            if (v != e.a && v != e.b)
                across = v->pos - a;
        if (len2 > 0.0)
            across = across - d * (across.dot(d) / len2);
        const double width = std::sqrt(across.lengthSquared());
        if (!std::isfinite(len2) || !(width > 0.0) || !std::isfinite(width))
            continue;
        const Vector3D inward = across * (std::min(margin, width / 2.0) / width);
        // Along a rim that falls, the wedge of material over its lower part
        // holds a point from below once the rim has fallen a layer within
        // kHang of it (the ridge of a spike lying on its side).
        const double flat = std::hypot(d.x, d.y), run = runOf(d);
        const int n = static_cast<int>(std::min(std::ceil(std::sqrt(len2) / step), 1e6));
        for (int k = 0; k <= n; ++k) {
            const double u = n > 0 ? static_cast<double>(k) / n : 0.0;
            const double fromLow = flat * (d.z > 0.0 ? u : 1.0 - u);
            const StlVertex* corner = k == 0 ? e.a : (k == n ? e.b : nullptr);
            const Vector3D p = a + d * u;
            reachSample(p, p + inward, e.inside,
                        (run <= kHang && fromLow >= run) || heldCorners.count(corner) != 0);
        }
    }
    // Then the region's facets, at the points of a lattice of the sample step.
    for (StlTriangle* t : triangles) {
        if (t == nullptr || t->isDeleted() || t->group() != group)
            continue;
        double lo[2], hi[2];
        for (int k = 0; k < 2; ++k) {
            lo[k] = std::min({t->vertices[0]->pos[k], t->vertices[1]->pos[k], t->vertices[2]->pos[k]});
            hi[k] = std::max({t->vertices[0]->pos[k], t->vertices[1]->pos[k], t->vertices[2]->pos[k]});
        }
        const double i0 = std::ceil((lo[0] - boxMin.x) / step), i1 = std::floor((hi[0] - boxMin.x) / step);
        const double j0 = std::ceil((lo[1] - boxMin.y) / step), j1 = std::floor((hi[1] - boxMin.y) / step);
        if (!std::isfinite(i0 + i1 + j0 + j1) || (i1 - i0 + 1.0) * (j1 - j0 + 1.0) > 1e7)
            continue;
        for (double i = i0; i <= i1; ++i)
            for (double j = j0; j <= j1; ++j) {
                const double x = boxMin.x + i * step, y = boxMin.y + j * step;
                const double z = topolib::triangleHeightAt(t, x, y);
                if (z > -1e-6 && z < 1e11)
                    reachSample(Vector3D(x, y, z), Vector3D(x, y, z), t, false);
            }
    }
    return made;
}

void AreaSupport::reachEveryOverhang(const std::vector<SupportAreaAbs*>& areas,
                                     const PlacementParams& params) {
    ContactCells contacts(reachOf(params));
    StlObject* mesh = nullptr;
    bool open = true;
    for (const SupportAreaAbs* a : areas) {
        for (const AbtShape* s : a->shapes)
            if (const ConeShape* c = s->asCone(); c != nullptr && !c->isDeleted())
                contacts.add(c->ContactPoint);
        if (a->kind == kAreaSupport && mesh == nullptr && a->owner != nullptr) {
            mesh = a->mesh();
            open = a->owner->surfaceOpen();
        }
    }
    ModelProbe model(mesh, !open);
    for (SupportAreaAbs* a : areas)
        if (a->kind == kAreaSupport)
            static_cast<AreaSupport*>(a)->placeWhereUnreached(contacts, model, params);
}

} // namespace support
