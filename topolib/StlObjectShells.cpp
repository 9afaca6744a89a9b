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

} // namespace

int StlObject::findShells(bool report, int progressBase) {
    clearLiveEdgeMarks(m_edges);
    releaseShells();
    // A walk mark left behind by an interrupted walk would keep its triangle out
    // of every shell, and the geometry writer stores only filed triangles.
    for (StlTriangle* t : m_triangles)
        if (t)
            t->setWalkMark(0);

    const uint32_t n = triangleCount();
    const uint32_t reportEvery = n / 15;
    uint32_t counter = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (report && ++counter > reportEvery) {
            counter = 0;
            reportProgress(progressBase + static_cast<int>((15ull * i) / n));
        }
        StlTriangle* t = m_triangles[i];
        if (t && !t->isDeleted() && t->walkMark() == 0)
            growShell(t, true);
    }

    for (StlTriangle* t : m_triangles)
        if (t)
            t->setWalkMark(0);
    m_vertexRenderStale = true;
    m_triangleRenderStale = true;
    clearLiveEdgeMarks(m_edges);
    return 0;
}

StlShell* StlObject::growShell(StlTriangle* seed, bool addToObject) {
    auto* shell = new StlShell(this);
    constexpr double inf = std::numeric_limits<double>::infinity();
    shell->boxMin = Vector3D(inf, inf, inf);
    shell->boxMax = Vector3D(-inf, -inf, -inf);

    shell->primaryTriangles.push_back(seed);
    shell->extendBox(seed);
    seed->setWalkMark(1);
    seed->setReversed(false);
    seed->shell = shell;

    // Primary triangles are explored first (front of the work list), reversed ones
    // last, so that a consistently wound region is swept before its misfits.
    std::deque<StlTriangle*> work{seed};
    while (!work.empty()) {
        StlTriangle* t = work.front();
        work.pop_front();
        const bool tReversed = t->isReversed();
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
            if (!u || u->walkMark() != 0 || u->isDeleted())
                continue;
            int uSide = 0;
            const int winding = relativeWinding(t, k, u, &uSide);
            if (winding == 0)
                continue;
            const bool uPrimary = tReversed ? winding < 0 : winding > 0;
            if (uPrimary) {
                u->setWalkMark(1);
                u->setReversed(false);
                shell->primaryTriangles.push_back(u);
                work.push_front(u);
            } else {
                u->setWalkMark(2);
                u->setReversed(true);
                shell->reversedTriangles.push_back(u);
                work.push_back(u);
            }
            // The shared side's ends are in the box already (they are t's).
            shell->extendBox(u->vertices[(uSide + 2) % 3]->pos);
            u->shell = shell;
        }
    }

    // The count is set before the shell is judged: the negligible test reads it.
    shell->triangleCount =
        static_cast<uint32_t>(shell->primaryTriangles.size() + shell->reversedTriangles.size());
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
