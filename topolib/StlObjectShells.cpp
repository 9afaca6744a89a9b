// The shell search of the mesh object: connected components with their two
// orientation classes and the negligible-shell test.
#include "app/ProgressReport.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>
#include <limits>
#include <vector>

namespace topolib {

namespace {

void clearLiveEdgeMarks(std::vector<StlEdge*>& edges) {
    for (StlEdge* e : edges)
        if (e && e->edgeClass != kEdgeDetached)
            e->clearMarks();
}

// How u is wound against t across t's side k: +1 alike (u runs the side the
// other way), -1 against (u runs it the same way), 0 when u does not have the side.
// *uSide receives the side of u that matched.
int relativeWinding(const StlTriangle* t, int k, const StlTriangle* u, int* uSide) {
    const StlVertex* a = t->vertices[k];
    const StlVertex* b = t->vertices[(k + 1) % 3];
    for (int j = 0; j < 3; ++j) {
        const StlVertex* uj = u->vertices[j];
        const StlVertex* uj1 = u->vertices[(j + 1) % 3];
        if (a == uj1 && b == uj) {
            *uSide = j;
            return 1;
        }
        if (a == uj && b == uj1) {
            *uSide = j;
            return -1;
        }
    }
    return 0;
}

StlTriangle* otherTriangle(const StlEdge* e, const StlTriangle* t) {
    for (StlTriangle* u : *e)
        if (u != t)
            return u;
    return nullptr;
}

// Work arrays of a shell walk, see growShell.
struct ShellWalk {
    std::vector<StlTriangle*> stack;
    std::vector<StlTriangle*> queue;
    // Reached triangles of the whole search, one bit per record slot counted from
    // `base` (the records of an imported mesh lie in one block). A reached
    // neighbour is then recognised without loading its record; the triangles'
    // own walk marks are not needed, since the search ends with them cleared.
    const char* base = nullptr;
    std::vector<uint64_t> reached;

    std::size_t slot(const StlTriangle* t) const {
        return static_cast<std::size_t>(reinterpret_cast<const char*>(t) - base) / sizeof(StlTriangle);
    }
    bool isReached(const StlTriangle* t) const {
        const std::size_t i = slot(t);
        return (reached[i >> 6] >> (i & 63)) & 1u;
    }
    void setReached(const StlTriangle* t) {
        const std::size_t i = slot(t);
        reached[i >> 6] |= uint64_t(1) << (i & 63);
    }
};

// The work arrays of the shell search running on this thread, shared by the
// shells it grows; null outside a search.
thread_local ShellWalk* t_walk = nullptr;

} // namespace

int StlObject::findShells(bool report, int progressBase) {
    clearLiveEdgeMarks(m_edges);
    releaseShells();
    // A walk mark left behind by an interrupted walk would keep its triangle out
    // of every shell, and the geometry writer stores only filed triangles.
    const char* lowest = nullptr;
    const char* highest = nullptr;
    for (StlTriangle* t : m_triangles) {
        if (!t)
            continue;
        t->setWalkMark(0);
        const char* p = reinterpret_cast<const char*>(t);
        if (!lowest || p < lowest)
            lowest = p;
        if (!highest || p > highest)
            highest = p;
    }

    const uint32_t n = triangleCount();
    const uint32_t reportEvery = n / 15;
    uint32_t counter = 0;
    // One set of work arrays serves every shell of this search. Reached
    // triangles are kept in a bit array when the records lie close together
    // (always after an import); otherwise the walk marks serve.
    ShellWalk walk;
    if (lowest) {
        const std::size_t slots = static_cast<std::size_t>(highest - lowest) / sizeof(StlTriangle) + 1;
        if (slots <= 4 * static_cast<std::size_t>(n) + 4096) {
            walk.base = lowest;
            walk.reached.assign((slots + 63) / 64, 0);
        }
    }
    t_walk = &walk;
    for (uint32_t i = 0; i < n; ++i) {
        if (report && ++counter > reportEvery) {
            counter = 0;
            reportProgress(progressBase + static_cast<int>((15ull * i) / n));
        }
        StlTriangle* t = m_triangles[i];
        if (t && !t->isDeleted() && (walk.base ? !walk.isReached(t) : t->walkMark() == 0))
            growShell(t, true);
    }
    t_walk = nullptr;

    if (!walk.base)
        for (StlTriangle* t : m_triangles)
            if (t)
                t->setWalkMark(0);
    m_vertexRenderStale = true;
    m_triangleRenderStale = true;
    clearLiveEdgeMarks(m_edges);
    return 0;
}

StlShell* StlObject::growShell(StlTriangle* seed, bool addToObject) {
    ShellWalk local;
    ShellWalk& walk = t_walk ? *t_walk : local;
    auto* shell = new StlShell(this);
    constexpr double inf = std::numeric_limits<double>::infinity();
    Vector3D boxMin(inf, inf, inf);
    Vector3D boxMax(-inf, -inf, -inf);
    auto extend = [&](const Vector3D& p) {
        boxMin.x = p.x < boxMin.x ? p.x : boxMin.x;
        boxMin.y = p.y < boxMin.y ? p.y : boxMin.y;
        boxMin.z = p.z < boxMin.z ? p.z : boxMin.z;
        boxMax.x = p.x > boxMax.x ? p.x : boxMax.x;
        boxMax.y = p.y > boxMax.y ? p.y : boxMax.y;
        boxMax.z = p.z > boxMax.z ? p.z : boxMax.z;
    };

    shell->primaryTriangles.push_back(seed);
    for (const StlVertex* v : seed->vertices)
        extend(v->pos);
    const bool bits = walk.base != nullptr;
    if (bits)
        walk.setReached(seed);
    else
        seed->setWalkMark(1);
    seed->setReversed(false);
    seed->shell = shell;

    // The work list takes primary triangles at its front and reversed ones at its
    // back and is worked from the front, so that a consistently wound region is
    // swept before its misfits. Front insertions are always taken before anything
    // inserted at the back, so the list is a stack (front part) followed by a
    // queue (back part): two flat arrays reused from shell to shell.
    std::vector<StlTriangle*>& stack = walk.stack;
    std::vector<StlTriangle*>& queue = walk.queue;
    stack.clear();
    queue.clear();
    std::size_t queueHead = 0;
    stack.push_back(seed);
    uint32_t primaryCount = 1, reversedCount = 0;
    constexpr unsigned kPending = 16;
    const StlVertex* pending[kPending] = {};
    unsigned pendingNext = 0;
    for (;;) {
        StlTriangle* t;
        if (!stack.empty()) {
            t = stack.back();
            stack.pop_back();
        } else if (queueHead < queue.size()) {
            t = queue[queueHead++];
        } else {
            break;
        }
        // Unless t reaches new triangles, the next one comes from deep in the
        // stack and has long left the cache.
        if (!stack.empty())
            __builtin_prefetch(stack.back());
        const bool tReversed = t->isReversed();
        StlTriangle* found[3];
        const StlVertex* farCorner[3];
        int foundCount = 0;
        for (int k = 0; k < 3; ++k) {
            StlEdge* e = t->edges[k];
            if (!e || e->marks() != 0)
                continue;
            if (e->edgeClass == kEdgeBoundary) {
                shell->open = 1;
                continue;
            }
            if (e->edgeClass > kEdgeSharp)
                continue;
            StlTriangle* u = otherTriangle(e, t);
            if (!u || (bits ? walk.isReached(u) : u->walkMark() != 0) || u->isDeleted())
                continue;
            int uSide = 0;
            const int winding = relativeWinding(t, k, u, &uSide);
            if (winding == 0)
                continue;
            const bool uPrimary = tReversed ? winding < 0 : winding > 0;
            if (bits)
                walk.setReached(u);
            if (uPrimary) {
                if (!bits)
                    u->setWalkMark(1);
                u->setReversed(false);
                shell->primaryTriangles.push_back(u);
                stack.push_back(u);
                ++primaryCount;
            } else {
                if (!bits)
                    u->setWalkMark(2);
                u->setReversed(true);
                shell->reversedTriangles.push_back(u);
                queue.push_back(u);
                ++reversedCount;
            }
            // The shared side's ends are in the box already (they are t's).
            const StlVertex* far = u->vertices[(uSide + 2) % 3];
            __builtin_prefetch(far);
            farCorner[foundCount] = far;
            found[foundCount++] = u;
            u->shell = shell;
        }
        // The triangles just reached are taken soon (the last one next): ask for
        // their edges now. Their far corners widen the box some steps later,
        // when the loads asked for above have arrived (min and max do not
        // depend on the order).
        for (int f = 0; f < foundCount; ++f) {
            for (const StlEdge* e : found[f]->edges)
                if (e)
                    __builtin_prefetch(e);
            const StlVertex*& slot = pending[pendingNext++ & (kPending - 1)];
            if (slot)
                extend(slot->pos);
            slot = farCorner[f];
        }
    }
    for (const StlVertex* v : pending)
        if (v)
            extend(v->pos);
    shell->boxMin = boxMin;
    shell->boxMax = boxMax;

    // The count is set before the shell is judged: the negligible test reads it.
    shell->triangleCount = primaryCount + reversedCount;
    if (addToObject) {
        if (isNegligibleShell(shell))
            m_shells.push_back(shell);
        else
            m_shells.push_front(shell);
    }
    return shell;
}

bool StlObject::isNegligibleShell(const StlShell* shell) const {
    const double a = shell->area;
    const double v = shell->volume;
    const uint32_t c = shell->triangleCount;
    if (c < 4)
        return true;
    const bool small = m_area * 0.001 > std::fabs(a) && m_volume * 0.001 > std::fabs(v) &&
                       static_cast<double>(m_facetCount) * 0.001 > static_cast<double>(c);
    if (!small)
        return false;
    if (shell->open)
        return true;
    // Flat and thin: less than a fifteenth of the volume of a cube with the same surface.
    const double face = a / 6.0;
    return std::sqrt(face) * face / 15.0 > v;
}

} // namespace topolib
