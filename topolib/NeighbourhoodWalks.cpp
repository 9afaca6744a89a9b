// Short walks around one vertex: the lowest-point test of the supports, the
// lowest-edge step and the two rim steps.

#include "topolib/NeighbourhoodWalks.h"

#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace topolib {

namespace {

constexpr uint32_t kVertexVisited = 1u; // vertex mark bit 0
constexpr uint32_t kEdgeVisited = 1u;   // edge flag bit 0: examined by the lowest-edge walk
constexpr uint32_t kEdgeTaken = 2u;     // edge flag bit 1: taken by a rim walk

bool vertexVisited(const StlVertex* v) {
    return (v->flags & kVertexVisited) != 0;
}

// Scratch lists of the lowest-point test. They keep their storage between calls,
// so that testing every vertex of a large mesh does not allocate per vertex.
struct LowestPointScratch {
    std::vector<StlVertex*> marked;    // every vertex given mark bit 0
    std::vector<StlTriangle*> visited; // every triangle given walk mark 1
    std::vector<StlVertex*> frontier;
    std::vector<StlVertex*> nextFrontier;

    void start() {
        marked.clear();
        visited.clear();
        frontier.clear();
        nextFrontier.clear();
    }
    void mark(StlVertex* v) {
        v->flags |= kVertexVisited;
        marked.push_back(v);
    }
    // Takes back every mark this run set.
    bool finish(bool result) {
        for (StlVertex* v : marked)
            v->flags &= ~kVertexVisited;
        for (StlTriangle* t : visited)
            t->setWalkMark(0);
        return result;
    }
};

// The far end of e seen from v. Positions are compared, not records: where two
// records share a point, the end at v's position is the near one.
StlVertex* farEnd(const StlEdge* e, const StlVertex* v) {
    StlVertex* first = e->vertex(0);
    return first->pos == v->pos ? e->vertex(1) : first;
}

struct RimCandidate {
    StlEdge* edge;
    StlVertex* far;
};

// The direction from v to p, projected onto the plane perpendicular to n when it
// leaves that plane noticeably, as a unit vector.
Vector3D turnDirection(const Vector3D& v, const Vector3D& p, const Vector3D& n) {
    Vector3D d = p - v;
    const double dn = d.dot(n);
    if (std::fabs(dn) >= 1e-6)
        d -= n * (dn / n.dot(n));
    d.normalize();
    return d;
}

// Chooses among several open edges at v the one reached first when turning
// clockwise (seen with n towards the viewer) from the incoming direction, angles in
// (0, 360] with the incoming direction itself counting as 360. At a vertex where
// several holes touch this keeps the walk on the rim it came along.
const RimCandidate& chooseByTurn(const StlVertex* v, const std::vector<RimCandidate>& candidates,
                                 const StlEdge* incoming, const Vector3D& n) {
    if (!incoming)
        return candidates.front();
    const Vector3D a = turnDirection(v->pos, farEnd(incoming, v)->pos, n);
    size_t chosen = 0;
    Vector3D b = turnDirection(v->pos, candidates[0].far->pos, n);
    bool groupA = b.cross(a).dot(n) > 0.0;
    double chosenCos = a.dot(b);
    for (size_t i = 1; i < candidates.size(); ++i) {
        b = turnDirection(v->pos, candidates[i].far->pos, n);
        const double s = b.cross(a).dot(n);
        const double c = a.dot(b);
        bool take;
        if (s > 0.0)
            take = !groupA || c > chosenCos;
        else
            take = !groupA && c < chosenCos;
        if (take) {
            chosen = i;
            groupA = s > 0.0;
            chosenCos = c;
        }
    }
    return candidates[chosen];
}

// Sum of the unit normals of the live triangles at v (not normalised).
Vector3D rimReferenceNormal(const StlVertex* v) {
    Vector3D n;
    for (const StlTriangle* t : *v)
        if (!t->isDeleted())
            n += t->normal;
    return n;
}

// Number of the edge's triangles that belong to the shell.
int trianglesInShell(const StlEdge* e, const StlShell* shell) {
    int count = 0;
    for (const StlTriangle* t : *e)
        if (t && t->shell == shell)
            ++count;
    return count;
}

// Takes the only candidate, or chooses among several by their turn about the sum
// of the live normals at v. Walking backwards the turn is mirrored (the reference
// is negated); with the same reference the walk would change over to the other
// hole where two holes touch.
StlVertex* takeRimCandidate(const StlVertex* v, std::vector<RimCandidate>& candidates, StlEdge** edge,
                            bool reverse) {
    if (candidates.empty())
        return nullptr;
    if (candidates.size() == 1) {
        *edge = candidates.front().edge;
        return candidates.front().far;
    }
    Vector3D n = rimReferenceNormal(v);
    if (reverse)
        n = -n;
    const RimCandidate chosen = chooseByTurn(v, candidates, *edge, n);
    *edge = chosen.edge;
    return chosen.far;
}

} // namespace

bool isLocalLowestVertex(StlVertex* v, double depth) {
    // Find a live facet first: a vertex whose triangles are all deleted is no part
    // of the surface any more and needs no support.
    const StlTriangle* firstLive = nullptr;
    for (const StlTriangle* t : *v)
        if (!t->isDeleted()) {
            firstLive = t;
            break;
        }
    if (!firstLive)
        return false;

    thread_local LowestPointScratch s;
    s.start();

    // First ring: every neighbour must lie at least 1e-6 above v.
    const double z0 = v->z() + 1e-6;
    double minZ = 999999999999.0;
    Vector3D steepest = firstLive->normal;
    for (StlTriangle* t : *v) {
        if (t->isDeleted())
            continue;
        for (StlVertex* w : t->vertices) {
            if (w == v || vertexVisited(w))
                continue;
            if (w->z() < z0)
                return s.finish(false);
            minZ = std::min(minZ, w->z());
            s.mark(w);
            s.frontier.push_back(w);
        }
        if (std::fabs(t->normal.z) > std::fabs(steepest.z))
            steepest = t->normal;
        s.visited.push_back(t);
    }
    // The steepest facet faces upward: v sits on a slope or a ridge, not in a pit.
    if (steepest.z > 0.0)
        return s.finish(false);
    // Every neighbour lies above the band: nothing lower can be near.
    if (minZ - z0 > depth)
        return s.finish(true);

    // Grow the region of vertices less than `depth` above v; meeting a vertex
    // clearly below v means v is only a dent on the way down.
    for (StlTriangle* t : s.visited)
        t->setWalkMark(1);
    const double upper = z0 + depth;
    const double lower = z0 - 1e-5;
    while (!s.frontier.empty()) {
        s.nextFrontier.clear();
        for (StlVertex* f : s.frontier) {
            for (StlTriangle* t : *f) {
                // Deleted triangles are no longer surface: the region does not grow
                // across them.
                if (t->walkMark() != 0 || t->isDeleted())
                    continue;
                t->setWalkMark(1);
                s.visited.push_back(t);
                for (StlVertex* w : t->vertices) {
                    if (vertexVisited(w))
                        continue;
                    if (w->z() < lower)
                        return s.finish(false);
                    if (w->z() < upper)
                        s.nextFrontier.push_back(w);
                    s.mark(w);
                }
            }
        }
        s.frontier.swap(s.nextFrontier);
    }
    return s.finish(true);
}

StlVertex* StlVertex::nextLowestEdgeVertex(double* length) {
    for (StlTriangle* t : *this) {
        if (t->isDeleted())
            continue;
        for (StlEdge* e : t->edges) {
            if (!e || e->marks() != 0)
                continue;
            // Visited from now on, whatever the tests say, also when it does not
            // touch this vertex: the chain never examines an edge twice.
            e->flags = (e->flags & ~StlEdge::kMarkMask) | kEdgeVisited;
            StlVertex* a = e->vertex(0);
            StlVertex* b = e->vertex(1);
            if (a != this && b != this)
                continue;
            if (!e->isLowestHorizontalEdge())
                continue;
            *length += std::sqrt((b->pos - a->pos).lengthSquared());
            return a == this ? b : a;
        }
    }
    return nullptr;
}

StlVertex* StlVertex::nextRimVertex(StlEdge** edge, bool reverse) const {
    if (!hasTriangleList())
        return nullptr;
    thread_local std::vector<RimCandidate> candidates;
    candidates.clear();
    for (const StlTriangle* t : *this) {
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (!e || e->edgeClass != kEdgeBoundary || (e->flags & kEdgeTaken) != 0)
                continue;
            const StlVertex* end = reverse ? t->vertices[k] : t->vertices[(k + 1) % 3];
            if (end == this)
                candidates.push_back({e, farEnd(e, this)});
        }
    }
    return takeRimCandidate(this, candidates, edge, reverse);
}

StlVertex* StlVertex::nextShellRimVertex(StlEdge** edge, const StlShell* shell, bool reverse) const {
    if (!hasTriangleList())
        return nullptr;
    thread_local std::vector<RimCandidate> candidates;
    candidates.clear();
    for (const StlTriangle* t : *this) {
        if (t->isDeleted() || t->shell != shell)
            continue;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (!e || (e->flags & kEdgeTaken) != 0)
                continue;
            const bool open = e->edgeClass == kEdgeBoundary ||
                              (e->edgeClass == kEdgeNonManifold && trianglesInShell(e, shell) == 1);
            // Whatever the direction, the edge must end here in its triangle's order;
            // reverse only turns the other way.
            if (open && t->vertices[(k + 1) % 3] == this)
                candidates.push_back({e, farEnd(e, this)});
        }
    }
    return takeRimCandidate(this, candidates, edge, reverse);
}

} // namespace topolib
