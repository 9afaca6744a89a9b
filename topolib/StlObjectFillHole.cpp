// Hole filling: turning an open rim into a polygon (closing a broken rim along the
// shortest edge chain over the surface) and covering hole polygons with triangles.
#include "topolib/FillPolygon.h"
#include "topolib/GeoDistance.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cassert>
#include <set>
#include <vector>

namespace topolib {

namespace {

constexpr uint32_t kTracedEdge = StlShell::kRimTracedEdgeBit;
constexpr uint32_t kHasDistance = 1u; // vertex flag bit 0 while a search runs

#ifndef NDEBUG
std::size_t countMarkedTriangles(const StlObject& mesh) {
    std::size_t n = 0;
    for (const StlTriangle* t : mesh.triangles())
        n += t->walkMark() != 0 ? 1 : 0;
    return n;
}
#endif

} // namespace

int StlObject::findGeodesicPath(StlVertex* source, StlVertex* goal, std::deque<StlVertex*>& out) {
    if (!source || !goal)
        return 0;
#ifndef NDEBUG
    const std::size_t markedBefore = countMarkedTriangles(*this);
#endif
    GeoDistanceTable geo;
    geo[source]; // distance 0, no predecessor
    source->flags = (source->flags & ~StlVertex::kMarkMask) | kHasDistance;

    std::vector<StlVertex*> touched{source};
    std::vector<StlTriangle*> swept;
    std::deque<StlVertex*> layer{source};
    std::deque<StlVertex*> next;
    uint32_t layerNumber = 1;
    bool reached = false;
    for (;;) {
        while (!layer.empty()) {
            StlVertex* x = layer.front();
            layer.pop_front();
            for (uint32_t i = 0; i < x->triangleCount(); ++i) {
                StlTriangle* t = x->triangle(i);
                if (t->isDeleted() || t->walkMark() != 0)
                    continue;
                const std::size_t before = next.size();
                if (GeoDistanceVertex::relaxTriangle(t, geo, next, x, goal))
                    reached = true;
                for (std::size_t k = before; k < next.size(); ++k) {
                    next[k]->flags = (next[k]->flags & ~StlVertex::kMarkMask) | kHasDistance;
                    touched.push_back(next[k]);
                }
                t->setWalkMark(1);
                swept.push_back(t);
            }
        }
        if (reached || next.empty())
            break;
        layer.swap(next);
        ++layerNumber;
    }

    const auto g = geo.find(goal);
    if (reached && g != geo.end()) {
        // The cap ends the walk even if the predecessor links formed a loop.
        StlVertex* p = g->second.predecessor;
        for (uint32_t n = 0; p && p != source && n < layerNumber + 5; ++n) {
            out.push_front(p);
            const auto gp = geo.find(p);
            p = gp != geo.end() ? gp->second.predecessor : nullptr;
        }
    }

    for (StlVertex* v : touched)
        v->flags &= ~StlVertex::kMarkMask;
    for (StlTriangle* t : swept)
        t->setWalkMark(0);
    assert(countMarkedTriangles(*this) == markedBefore);
    return 0;
}

FillPolygon* StlObject::fillHole(StlEdge* start) {
    if (!start || start->triangleCount() == 0)
        return nullptr;
    StlTriangle* t = start->triangle(0);
    int side = -1;
    for (int k = 0; k < 3; ++k)
        if (t->edges[k] == start)
            side = k;
    if (side < 0)
        return nullptr;
    StlVertex* a = t->vertices[side];
    StlVertex* b = t->vertices[(side + 1) % 3];
    if (!((start->vertex(0) == a && start->vertex(1) == b) || (start->vertex(0) == b && start->vertex(1) == a)))
        return nullptr;

    start->flags |= kTracedEdge;
    std::set<StlTriangle*> rimTriangles{t};
    std::set<StlShell*> rimShells;
    t->setWalkMark(1);
    std::deque<StlVertex*> chain{a};
    StlVertex* current = a;
    StlVertex* target = b;
    StlEdge* edge = start;
    bool backward = false;
    bool closed = false;
    // Every step takes an edge not taken before, so the walk ends; the guard only
    // protects against a corrupt mesh.
    for (std::size_t guard = 0; guard <= edges().size() + 1; ++guard) {
        StlVertex* v = current->nextRimVertex(&edge, backward);
        if (v) {
            edge->flags |= kTracedEdge;
            if (edge->triangleCount() > 0) {
                StlTriangle* u = edge->triangle(0);
                if (u->shell)
                    rimShells.insert(u->shell);
                rimTriangles.insert(u);
                u->setWalkMark(1);
            }
            if (backward)
                chain.push_front(v);
            else
                chain.push_back(v);
            current = v;
            if (v == target) {
                closed = true;
                break;
            }
        } else if (!backward) {
            backward = true;
            chain.push_front(b);
            target = current;
            current = b;
            edge = start;
        } else {
            break;
        }
    }
    // Closing on the forward end repeats it at both ends of the chain.
    if (closed && chain.size() > 1 && chain.front() == chain.back())
        chain.pop_back();

    auto* polygon = new FillPolygon(this);
    if (!closed && rimTriangles.size() < 2) {
        polygon->buildFromVertices(chain);
        polygon->state = 1;
        polygon->rimTriangles.assign(rimTriangles.begin(), rimTriangles.end());
        t->setWalkMark(0);
        return polygon;
    }
    if (!closed) {
        // From the forward end over the surface back to the backward end; the rim
        // triangles carry walk mark 1, so the chain does not run along the rim.
        std::deque<StlVertex*> path;
        findGeodesicPath(chain.back(), chain.front(), path);
        chain.insert(chain.end(), path.begin(), path.end());
    }
    polygon->buildFromVertices(chain);
    polygon->shells.assign(rimShells.begin(), rimShells.end());
    polygon->fitPlane();
    if (!closed)
        for (StlTriangle* r : rimTriangles)
            r->setWalkMark(0);
    return polygon;
}

bool StlObject::triangulateHolePolygon(FillPolygon* polygon, std::deque<StlTriangle*>* out) {
    if (!polygon)
        return false;
    if (polygon->nodeCount() < 3)
        return true;
    // A three-corner hole gets its one triangle like any other polygon.
    if (polygon->nodeCount() > 3)
        polygon->classifyNodes();
    std::deque<FillPolygon*> work{polygon};
    return FillPolygon::triangulateHoles(work, out);
}

} // namespace topolib
