// Short walks around one vertex: the lowest-point test of the supports, the
// lowest-edge step and the two rim steps.

#include "topolib/NeighbourhoodWalks.h"

#include "topolib/BandReach.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
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

// Scratch lists of the lowest-point test. A pass that tests every vertex of a
// large mesh keeps one for all its tests, so that it does not allocate per
// vertex.
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

namespace {

enum class RingVerdict { NotLowest, Lowest, Grow };

// The first ring of the lowest-point test: every neighbour of v (through its live
// triangles) that `skip` does not pass over must lie at least 1e-6 above v; each
// is handed to `take` (which must make `skip` pass over it from then on). The
// steepest live facet must face downward; when every neighbour lies above the
// band, v is lowest without further search. Otherwise the region has to grow.
template <typename Skip, typename Take>
RingVerdict firstRing(StlVertex* v, double depth, Skip&& skip, Take&& take, std::vector<StlTriangle*>* live) {
    // Find a live facet first: a vertex whose triangles are all deleted is no part
    // of the surface any more and needs no support.
    const StlTriangle* firstLive = nullptr;
    for (const StlTriangle* t : *v)
        if (!t->isDeleted()) {
            firstLive = t;
            break;
        }
    if (!firstLive)
        return RingVerdict::NotLowest;
    const double z0 = v->z() + 1e-6;
    double minZ = 999999999999.0;
    Vector3D steepest = firstLive->normal;
    for (StlTriangle* t : *v) {
        if (t->isDeleted())
            continue;
        for (StlVertex* w : t->vertices) {
            if (w == v || skip(w))
                continue;
            if (w->z() < z0)
                return RingVerdict::NotLowest;
            minZ = std::min(minZ, w->z());
            take(w);
        }
        if (std::fabs(t->normal.z) > std::fabs(steepest.z))
            steepest = t->normal;
        if (live)
            live->push_back(t);
    }
    // The steepest facet faces upward: v sits on a slope or a ridge, not in a pit.
    if (steepest.z > 0.0)
        return RingVerdict::NotLowest;
    // Every neighbour lies above the band: nothing lower can be near.
    if (minZ - z0 > depth)
        return RingVerdict::Lowest;
    return RingVerdict::Grow;
}

// The heights that bound the region growing of the test at v.
double bandBottom(const StlVertex* v) {
    return v->z() + 1e-6 - 1e-5;
}
double bandTop(const StlVertex* v, double depth) {
    return v->z() + 1e-6 + depth;
}

} // namespace

namespace {

// isLocalLowestVertex with the scratch lists of the caller.
bool isLocalLowestVertexWith(StlVertex* v, double depth, LowestPointScratch& s) {
    s.start();
    const RingVerdict ring = firstRing(
        v, depth, [](const StlVertex* w) { return vertexVisited(w); },
        [&](StlVertex* w) {
            s.mark(w);
            s.frontier.push_back(w);
        },
        &s.visited);
    if (ring != RingVerdict::Grow)
        return s.finish(ring == RingVerdict::Lowest);

    // Grow the region of vertices less than `depth` above v; meeting a vertex
    // clearly below v means v is only a dent on the way down.
    for (StlTriangle* t : s.visited)
        t->setWalkMark(1);
    const double upper = bandTop(v, depth);
    const double lower = bandBottom(v);
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

} // namespace

bool isLocalLowestVertex(StlVertex* v, double depth) {
    LowestPointScratch scratch;
    return isLocalLowestVertexWith(v, depth, scratch);
}

namespace {

// The test of the vertices for which `ask` holds, in turn: going through the
// vertex array in order, each vertex's mark bits are cleared after its turn; the
// marks are put back afterwards.
template <typename Ask>
void lowestInTurnOneByOne(StlObject& mesh, double depth, std::vector<uint8_t>& lowest, Ask&& ask) {
    const auto& vertices = mesh.vertices();
    std::vector<uint8_t> marks(vertices.size(), 0);
    for (std::size_t i = 0; i < vertices.size(); ++i)
        marks[i] = vertices[i] != nullptr ? static_cast<uint8_t>(vertices[i]->mark()) : 0;
    // Put back on every exit, a failed allocation in a test included.
    struct PutBack {
        const std::vector<Ref<StlVertex>>& vertices;
        const std::vector<uint8_t>& marks;
        ~PutBack() {
            for (std::size_t i = 0; i < vertices.size(); ++i) {
                if (StlVertex* v = vertices[i])
                    v->setMark(marks[i]);
            }
        }
    } putBack{vertices, marks};
    LowestPointScratch scratch;
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        StlVertex* v = vertices[i];
        if (v == nullptr)
            continue;
        if (v->mark() == 0 && v->hasTriangleList() && ask(i))
            lowest[i] = isLocalLowestVertexWith(v, depth, scratch) ? 1 : 0;
        v->setMark(0);
    }
}

} // namespace

std::vector<uint8_t> localLowestVerticesInTurn(StlObject& mesh, double depth) {
    const auto& vertices = mesh.vertices();
    const std::size_t n = vertices.size();
    std::vector<uint8_t> lowest(n, 0);
    auto oneByOne = [&] {
        lowestInTurnOneByOne(mesh, depth, lowest, [](std::size_t) { return true; });
        return lowest;
    };
    // The region growing treats triangles another walk has marked as visited;
    // the walks together know no such marks.
    BandReach reach(mesh, true);
    bool together = reach.usable();
    for (const StlTriangle* t : mesh.triangles())
        together = together && (t == nullptr || t->walkMark() == 0);
    if (!together)
        return oneByOne();

    // A vertex still marked when another is tested (one of a lowest chain, not
    // yet cleared by the pass) is visited for that test: the region growing of a
    // vertex before it in the array does not step onto it. Whether it may is
    // left open at first: a vertex that reaches no lower ground even when every
    // such vertex may be stepped onto is a lowest point, one that reaches lower
    // ground even when none may be is none, and the few that only one of the two
    // says are tested one by one.
    std::vector<uint32_t> taken(n, 0);
    std::vector<BandReach::Question> questions;
    std::vector<StlVertex*> seeds;
    std::vector<uint32_t> asked;
    for (std::size_t i = 0; i < n; ++i) {
        StlVertex* v = vertices[i];
        if (v == nullptr || v->mark() != 0 || !v->hasTriangleList())
            continue;
        const uint32_t round = static_cast<uint32_t>(i) + 1;
        const std::size_t first = seeds.size();
        bool strange = false;
        auto skip = [&](const StlVertex* w) {
            if (w->index < 0 || static_cast<std::size_t>(w->index) >= n) {
                strange = true;
                return true;
            }
            return taken[static_cast<std::size_t>(w->index)] == round ||
                   (vertexVisited(w) && static_cast<std::size_t>(w->index) > i);
        };
        auto take = [&](StlVertex* w) {
            taken[static_cast<std::size_t>(w->index)] = round;
            seeds.push_back(w);
        };
        const RingVerdict ring = firstRing(v, depth, skip, take, nullptr);
        if (strange)
            return oneByOne();
        if (ring != RingVerdict::Grow) {
            seeds.resize(first);
            lowest[i] = ring == RingVerdict::Lowest ? 1 : 0;
            continue;
        }
        BandReach::Question q;
        q.firstSeed = first;
        q.seedCount = seeds.size() - first;
        q.lower = bandBottom(v);
        q.upper = bandTop(v, depth);
        questions.push_back(q);
        asked.push_back(static_cast<uint32_t>(i));
    }
    const std::vector<BandReach::Answer> high = reach.answer(questions, seeds);
    for (const StlVertex* v : vertices) {
        if (v != nullptr && vertexVisited(v))
            reach.exclude(v);
    }
    const std::vector<BandReach::Answer> low = reach.answer(questions, seeds);
    std::vector<uint8_t> open(n, 0);
    bool anyOpen = false;
    for (std::size_t k = 0; k < questions.size(); ++k) {
        if (low[k] == BandReach::Answer::Reached) {
            lowest[asked[k]] = 0;
        } else if (high[k] == BandReach::Answer::NotReached) {
            lowest[asked[k]] = 1;
        } else {
            open[asked[k]] = 1;
            anyOpen = true;
        }
    }
    if (anyOpen)
        lowestInTurnOneByOne(mesh, depth, lowest, [&](std::size_t i) { return open[i] != 0; });
    return lowest;
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
    std::vector<RimCandidate> candidates;
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
    std::vector<RimCandidate> candidates;
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
