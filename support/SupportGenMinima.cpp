// Islands: the local minima of the model's surface. A resin print grows layer
// by layer, and a place lower than everything around it starts from nothing:
// unless a cone touches it, it prints into the vat. The overhang regions,
// lowest curves and lowest points usually reach every such place; this pass
// finds the ones they missed and gives each a cone at the minimum itself.
#include "support/ConeShape.h"
#include "support/SupportGen.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace support {

using topolib::StlObject;
using topolib::StlTriangle;
using topolib::StlVertex;
using topolib::Vector3D;

namespace {

// Most vertices the basin walk of one minimum visits: past that the minimum
// counts as an island (a wide flat basin is one).
constexpr std::size_t kBasinWalkLimit = 20000;

// Per-vertex state of the search, indexed by vertex index; a stamp per walk
// so that nothing is cleared between walks.
struct VertexStamps {
    explicit VertexStamps(std::size_t n) : stamp(n, 0) {}
    bool seen(const StlVertex* v) const { return stamp[static_cast<std::size_t>(v->index)] == current; }
    void see(const StlVertex* v) { stamp[static_cast<std::size_t>(v->index)] = current; }
    void next() { ++current; }
    std::vector<uint32_t> stamp;
    uint32_t current = 1;
};

bool indexed(const StlVertex* v, std::size_t n) {
    return v != nullptr && v->index >= 0 && static_cast<std::size_t>(v->index) < n;
}

template <typename F>
void forEachNeighbour(const StlVertex* v, F&& f) {
    for (const StlTriangle* t : *v) {
        if (t->isDeleted())
            continue;
        for (StlVertex* w : t->vertices)
            if (w != v)
                f(w);
    }
}

// The live cones' contacts, bucketed by x and y.
class ContactIndex {
public:
    ContactIndex(const std::vector<SupportAreaAbs*>& areas, double cell) : m_cell(cell) {
        for (const SupportAreaAbs* a : areas)
            add(*a);
    }
    void add(const SupportAreaAbs& a) {
        for (AbtShape* s : a.shapes)
            if (const ConeShape* c = s->asCone(); c != nullptr && !c->isDeleted())
                m_buckets[key(cellOf(c->ContactPoint.x), cellOf(c->ContactPoint.y))].push_back(c);
    }
    template <typename F>
    bool any(double x0, double y0, double x1, double y1, F&& f) const {
        for (long i = cellOf(x0); i <= cellOf(x1); ++i)
            for (long j = cellOf(y0); j <= cellOf(y1); ++j) {
                auto it = m_buckets.find(key(i, j));
                if (it == m_buckets.end())
                    continue;
                for (const ConeShape* c : it->second)
                    if (f(c))
                        return true;
            }
        return false;
    }

private:
    long cellOf(double v) const {
        return static_cast<long>(std::floor(std::max(-1e12, std::min(v / m_cell, 1e12))));
    }
    static uint64_t key(long i, long j) {
        return (static_cast<uint64_t>(i) << 32) ^ static_cast<uint64_t>(j & 0xFFFFFFFF);
    }
    double m_cell;
    std::unordered_map<uint64_t, std::vector<const ConeShape*>> m_buckets;
};

} // namespace

std::vector<SupportGen::SurfaceMinimum> SupportGen::findSurfaceMinima() const {
    std::vector<SurfaceMinimum> out;
    if (owner == nullptr)
        return out;
    StlObject& mesh = *owner;
    const std::size_t n = mesh.vertices().size();
    const double flat = 1e-6 * mesh.toleranceScale();
    std::vector<uint8_t> done(n, 0);
    VertexStamps basin(n);
    std::vector<StlVertex*> frontier, next;
    for (StlVertex* v : mesh.vertices()) {
        if (!indexed(v, n) || done[static_cast<std::size_t>(v->index)] || !v->hasTriangleList())
            continue;
        const double z0 = v->z();
        // Quick refusal: a lower neighbour.
        bool lower = false;
        forEachNeighbour(v, [&](const StlVertex* w) { lower = lower || w->z() < z0 - flat; });
        if (lower || !(z0 > 0.0001)) {
            done[static_cast<std::size_t>(v->index)] = 1;
            continue;
        }
        // The plateau: the vertices joined to v at its height.
        SurfaceMinimum m;
        m.z = z0;
        m.plateau.push_back(v);
        done[static_cast<std::size_t>(v->index)] = 1;
        basin.next();
        basin.see(v);
        bool minimum = true;
        for (std::size_t i = 0; i < m.plateau.size(); ++i) {
            forEachNeighbour(m.plateau[i], [&](StlVertex* w) {
                if (!indexed(w, n) || basin.seen(w))
                    return;
                if (w->z() < z0 - flat) {
                    minimum = false;
                } else if (w->z() <= z0 + flat) {
                    // A vertex at this height that was settled before has a
                    // lower neighbour: so has the plateau.
                    if (done[static_cast<std::size_t>(w->index)])
                        minimum = false;
                    done[static_cast<std::size_t>(w->index)] = 1;
                    basin.see(w);
                    m.plateau.push_back(w);
                }
            });
        }
        if (!minimum)
            continue;
        // Facing down: the surface around it lies above the material.
        Vector3D normal;
        basin.next();
        for (StlVertex* p : m.plateau)
            basin.see(p);
        std::unordered_set<const StlTriangle*> inFlat;
        for (StlVertex* p : m.plateau)
            for (StlTriangle* t : *p) {
                if (t->isDeleted())
                    continue;
                normal += t->normal;
                if (basin.seen(t->vertices[0]) && basin.seen(t->vertices[1]) && basin.seen(t->vertices[2]) &&
                    inFlat.insert(t).second)
                    m.flat.push_back(t);
            }
        if (!(normal.z < 0.0))
            continue;
        // A dent: a lower place is reached without climbing kMinimumDepth.
        frontier.assign(m.plateau.begin(), m.plateau.end());
        std::size_t walked = 0;
        bool dent = false;
        while (!frontier.empty() && !dent && walked < kBasinWalkLimit) {
            next.clear();
            for (StlVertex* f : frontier)
                forEachNeighbour(f, [&](StlVertex* w) {
                    if (dent || !indexed(w, n) || basin.seen(w))
                        return;
                    basin.see(w);
                    ++walked;
                    if (w->z() < z0 - flat)
                        dent = true;
                    else if (w->z() < z0 + kMinimumDepth)
                        next.push_back(w);
                });
            frontier.swap(next);
        }
        if (dent)
            continue;
        // The cone goes to the plateau's vertex nearest its middle.
        double mx = 0.0, my = 0.0;
        for (const StlVertex* p : m.plateau) {
            mx += p->x();
            my += p->y();
        }
        mx /= static_cast<double>(m.plateau.size());
        my /= static_cast<double>(m.plateau.size());
        double best = -1.0;
        for (StlVertex* p : m.plateau) {
            const double d = (p->x() - mx) * (p->x() - mx) + (p->y() - my) * (p->y() - my);
            if (best < 0.0 || d < best) {
                best = d;
                m.vertex = p;
            }
        }
        // A minimum inside the model (a shell overlapping another) is no island.
        if (mesh.isInsideByDownwardCount(m.vertex->pos.data()))
            continue;
        out.push_back(std::move(m));
    }
    return out;
}

bool SupportGen::touchesMinimum(const ConeShape& c, const SurfaceMinimum& m, double r) {
    const Vector3D& q = c.ContactPoint;
    if (std::fabs(q.z - m.z) > 0.1)
        return false;
    for (const StlVertex* p : m.plateau) {
        const double dx = p->x() - q.x, dy = p->y() - q.y;
        if (dx * dx + dy * dy <= r * r)
            return true;
    }
    for (const StlTriangle* t : m.flat)
        if (t->containsPointXY(q.data()))
            return true;
    return false;
}

double SupportGen::minimumReach() const {
    return std::isfinite(tipRadius) && tipRadius > 0.0 ? tipRadius : 0.5;
}

int SupportGen::holdUntouchedMinima(const std::vector<SurfaceMinimum>& minima) {
    const double r = minimumReach();
    const PlacementParams params = placementParams();
    std::unordered_set<const StlVertex*> held;
    for (const SupportAreaAbs* a : areas)
        if (a->kind == kLowestPointSupport)
            held.insert(static_cast<const LowestPointSupport*>(a)->vertex);
    ContactIndex contacts(areas, std::max(r, 0.1));
    int added = 0;
    for (const SurfaceMinimum& m : minima) {
        double lo[2] = {m.vertex->x(), m.vertex->y()}, hi[2] = {lo[0], lo[1]};
        for (const StlVertex* p : m.plateau)
            for (int k = 0; k < 2; ++k) {
                lo[k] = std::min(lo[k], p->pos[k]);
                hi[k] = std::max(hi[k], p->pos[k]);
            }
        const auto touches = [&](const ConeShape* c) { return touchesMinimum(*c, m, r); };
        if (contacts.any(lo[0] - r, lo[1] - r, hi[0] + r, hi[1] + r, touches) || held.count(m.vertex) != 0)
            continue;
        auto point = std::make_unique<LowestPointSupport>(this);
        point->setVertex(m.vertex);
        point->setAreaId(static_cast<uint32_t>(areas.size()));
        areas.push_back(point.get());
        LowestPointSupport* placed = point.release();
        held.insert(m.vertex);
        placed->placeContacts(params);
        contacts.add(*placed);
        for (AbtShape* s : placed->shapes)
            if (ConeShape* c = s->asCone(); c != nullptr && m_grid) {
                const double foot[2] = {c->FootPoint.x, c->FootPoint.y};
                m_grid->insert(c, foot);
            }
        ++added;
    }
    return added;
}

} // namespace support
