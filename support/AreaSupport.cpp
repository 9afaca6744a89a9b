// Overhang regions: their facets, outline and the planar grid of cones over them.
#include "support/AreaSurface.h"
#include "support/ConeShape.h"
#include "support/RegionGrid.h"
#include "support/ScopeGuard.h"
#include "support/SupportArea.h"
#include "support/SupportGen.h"
#include "topolib/MeshOctree.h"
#include "topolib/OctreeKernels.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace support {

using topolib::StlEdge;
using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

void AreaSupport::setAreaId(uint32_t id) {
    AreaID = id;
    for (StlTriangle* t : triangles) {
        if (t != nullptr)
            t->setGroup(static_cast<int32_t>(id & 0xFFFFFu));
    }
}

void AreaSupport::setBoundary(const std::deque<StlEdge*>& edges) {
    if (!outline)
        outline = std::make_unique<AreaOutline>();
    outline->edges.clear();
    bool first = true;
    for (StlEdge* e : edges) {
        if (e == nullptr || e->vertexCount() < 2)
            continue;
        outline->edges.push_back(e);
        for (int k = 0; k < 2; ++k) {
            const Vector3D& p = e->vertex(static_cast<uint32_t>(k))->pos;
            if (first) {
                boxMin = boxMax = p;
                first = false;
            }
            for (int c = 0; c < 3; ++c) {
                boxMin[c] = std::min(boxMin[c], p[c]);
                boxMax[c] = std::max(boxMax[c], p[c]);
            }
        }
    }
}

std::vector<uint32_t> AreaSupport::triangleIds() const {
    std::vector<uint32_t> ids;
    ids.reserve(triangles.size());
    for (const StlTriangle* t : triangles) {
        if (t != nullptr)
            ids.push_back(static_cast<uint32_t>(t->id));
    }
    return ids;
}

std::vector<uint32_t> AreaSupport::boundaryEdgeIds() const {
    return outline ? outline->edgeIds() : std::vector<uint32_t>();
}

void AreaSupport::reset(const PlacementParams& params) {
    deleteShapes();
    // The owner clears every group before it generates; the grid placement finds
    // the region's facets by their group, so the region writes its id again.
    setAreaId(AreaID);
    placeContacts(params);
}

bool AreaSupport::coneGrid(const PlacementParams& params, GridAxis* xs, GridAxis* ys) const {
    const double s = params.spacing, tip = params.tipRadius;
    const double w = boxMax.x - boxMin.x, h = boxMax.y - boxMin.y;
    if (!std::isfinite(w) || !std::isfinite(h) || w < 0.0 || h < 0.0)
        return false;
    // Columns and rows: n steps over the box less its margins, counted by index;
    // the margin never exceeds half the extent.
    auto axis = [&](double extent, double& margin, double& step) {
        // No printer is 2048 spacings wide; a larger box (a broken file) is
        // sampled as coarsely as that, never with an unbounded count.
        const long n = static_cast<long>(std::min((s / 2.0 + extent) / s, 2048.0));
        margin = std::min(2.2 * tip, extent / 2.0);
        if (n == 0) {
            margin = extent / 2.0;
            step = 0.0;
        } else {
            step = (extent - 2.0 * margin) / static_cast<double>(n);
        }
        return n;
    };
    double mx, dx, my, dy;
    const long nx = axis(w, mx, dx);
    const long ny = axis(h, my, dy);
    *xs = GridAxis{boxMin.x + mx, dx, nx};
    *ys = GridAxis{boxMin.y + my, dy, ny};
    return true;
}

std::uint64_t AreaSupport::coneBound(const PlacementParams& params) const {
    // Placement makes cones above the platform only: a region whose facets all
    // lie at or below it (a broken file) makes none, however wide its box.
    bool above = false;
    for (const StlTriangle* t : triangles) {
        for (int k = 0; t != nullptr && k < 3 && !above; ++k)
            above = !(t->vertices[k]->pos.z <= 0.0);
        if (above)
            break;
    }
    GridAxis xs, ys;
    if (!above || !coneGrid(params, &xs, &ys))
        return 0;
    // Each axis has at most 2049 points, so the product cannot overflow.
    return static_cast<std::uint64_t>(xs.last + 1) * static_cast<std::uint64_t>(ys.last + 1) +
           reachBound(params);
}

bool materialBelow(StlObject& mesh, double x, double y, double z, int rings, int directions) {
    for (int i = 0; i <= rings; ++i) {
        const double r = kHang * i / rings;
        for (int k = 0; k < (i == 0 ? 1 : directions); ++k) {
            const double a = k * (0.7853981634 * 8.0 / directions); // eighths as the grid pass has them
            const double p[3] = {x + r * std::cos(a), y + r * std::sin(a), z - kLayer};
            if (mesh.isInsideByDownwardCount(p))
                return true;
        }
    }
    return false;
}

void AreaSupport::placeContacts(const PlacementParams& params) {
    Density = params.spacing;
    GridAxis xs, ys;
    if (!coneGrid(params, &xs, &ys))
        return;

    StlObject* m = mesh();
    const topolib::MeshOctree* tree = m != nullptr ? m->octree() : nullptr;
    int made = 0;
    SurfaceIndex surface(triangles, groupValue(AreaID));
    // Without an octree the model has no searchable surface: no grid cone.
    if (tree != nullptr) {
        const int group = groupValue(AreaID); // as the group field reads back
        auto columnSearch = [&](const double p[3], double* z, StlTriangle** hit) {
            tree->lowestTriangleAtXY(m->octreeOrigin(), m->octreeEdge(), p, group, z, hit);
        };
        // The facets that carry the group are this region's own: the owner
        // clears every group before it generates and each region writes its id.
        const std::vector<GridHit> lowest = lowestFacetsOnGrid(
            triangles, group, xs, ys, columnSearch, owner != nullptr ? &owner->gridSearchWork : nullptr);
        for (const GridHit& g : lowest) {
            if (g.z > 0.0001) {
                const double c[3] = {xs.at(g.i), ys.at(g.j), g.z};
                if (addCone(c, g.facet->normal.data(), params.cone, params.removeInternal)->isDeleted())
                    placeBeside(surface, c, params.cone, params.removeInternal);
                ++made;
            }
        }
        made += placeOverHigherSurfaces(lowest, xs, ys, surface, params);
    }
    if (made == 0)
        placeFallback(params);
}

bool AreaSupport::placeBeside(SurfaceIndex& surface, const double c[3], const ConeSettings& settings,
                              bool removeInternal) {
    // A cone that does not fit at its grid point (its head meets the model) is
    // tried on the same surface 1 and 2 mm around it; the first that fits stays.
    for (const double d : {1.0, 2.0}) {
        for (int k = 0; k < 8; ++k) {
            const double a = k * 0.7853981634;
            const double x = c[0] + d * std::cos(a), y = c[1] + d * std::sin(a);
            double z = 0.0;
            StlTriangle* facet = surface.near(x, y, c[2], &z);
            if (facet == nullptr || !(z > 0.0001))
                continue;
            const double p[3] = {x, y, z};
            ConeShape* cone = addCone(p, facet->normal.data(), settings, removeInternal);
            if (!cone->isDeleted())
                return true;
            // A trial that does not fit leaves nothing behind.
            shapes.pop_back();
            delete cone;
        }
    }
    return false;
}

int AreaSupport::placeOverHigherSurfaces(const std::vector<GridHit>& lowest, const GridAxis& xs,
                                         const GridAxis& ys, SurfaceIndex& beside,
                                         const PlacementParams& params) {
    // A region's facets may lie over each other (a ledge over a thread below
    // it): where a higher one hangs past the layer below, it needs a contact of
    // its own, not only the lowest one at the point.
    StlObject* m = mesh();
    if (m == nullptr || lowest.empty())
        return 0;
    const std::vector<GridHit> all = facetsOnGrid(triangles, groupValue(AreaID), xs, ys);
    int made = 0;
    std::size_t k = 0;
    for (const GridHit& low : lowest) {
        while (k < all.size() && (all[k].i < low.i || (all[k].i == low.i && all[k].j < low.j)))
            ++k;
        double last = low.z;
        for (; k < all.size() && all[k].i == low.i && all[k].j == low.j; ++k) {
            const GridHit& g = all[k];
            if (!(g.z > last + kSurfaceGap) || !(g.z > 0.0001))
                continue;
            last = g.z;
            const double c[3] = {xs.at(g.i), ys.at(g.j), g.z};
            if (materialBelow(*m, c[0], c[1], c[2]))
                continue;
            if (addCone(c, g.facet->normal.data(), params.cone, params.removeInternal)->isDeleted())
                placeBeside(beside, c, params.cone, params.removeInternal);
            ++made;
        }
    }
    return made;
}

void AreaSupport::placeFallback(const PlacementParams& params) {
    if (boxMax.z - boxMin.z <= 1.0) {
        // A flat region: the cone goes to the centroid of the facet with the most
        // outline edges.
        if (!outline)
            return;
        for (StlEdge* e : outline->edges)
            e->flags = static_cast<uint8_t>((e->flags & ~StlEdge::kMarkMask) | 1u);
        auto clear = onScopeExit([&] {
            for (StlEdge* e : outline->edges)
                e->clearMarks();
        });
        StlTriangle* best = nullptr;
        int bestCount = -1;
        for (StlTriangle* t : triangles) {
            if (t == nullptr)
                continue;
            int count = 0;
            for (StlEdge* e : t->edges)
                count += (e != nullptr && (e->flags & 1u)) ? 1 : 0;
            if (count > bestCount) {
                best = t;
                bestCount = count;
                if (count == 3)
                    break;
            }
        }
        if (best == nullptr)
            return;
        const Vector3D c = (best->vertices[0]->pos + best->vertices[1]->pos + best->vertices[2]->pos) / 3.0;
        if (c.z > 0.0001)
            addCone(c.data(), best->normal.data(), params.cone, params.removeInternal);
        return;
    }
    StlVertex* lowest = nullptr;
    for (StlTriangle* t : triangles) {
        if (t == nullptr)
            continue;
        StlVertex* v = t->vertices[0];
        for (int k = 1; k < 3; ++k) {
            if (t->vertices[k]->z() <= v->z())
                v = t->vertices[k];
        }
        if (lowest == nullptr || v->z() < lowest->z())
            lowest = v;
    }
    if (lowest != nullptr && lowest->z() > 0.0001) {
        const Vector3D n = vertexNormal(lowest);
        addCone(lowest->pos.data(), n.data(), params.cone, params.removeInternal);
    }
}

} // namespace support
