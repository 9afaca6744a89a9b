// Tracing the open rims of a mesh's shells into vertex loops.
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

namespace topolib {

namespace {

// Takes an edge into the rim being traced: it counts as traced from now on, and a
// non-manifold one is remembered by the shell so that later tracings of the same
// shell skip it too.
void takeRimEdge(StlShell* shell, StlEdge* e) {
    e->flags |= StlShell::kRimTracedEdgeBit;
    if (e->edgeClass == kEdgeNonManifold)
        shell->nonManifoldRimEdges.push_back(e);
}

} // namespace

bool StlObject::traceRimLoop(StlShell* shell, StlEdge* start, std::deque<StlVertex*>& loop) {
    loop.clear();
    if (!shell || !start || (start->flags & StlShell::kRimTracedEdgeBit) || start->triangleCount() == 0)
        return false;
    const StlTriangle* t = start->triangle(0);
    int side = -1;
    for (int k = 0; k < 3; ++k)
        if (t->edges[k] == start)
            side = k;
    if (side < 0)
        return false;
    StlVertex* a = t->vertices[side];
    StlVertex* b = t->vertices[(side + 1) % 3];
    const StlVertex* e0 = start->vertex(0);
    const StlVertex* e1 = start->vertex(1);
    if (!((e0 == a && e1 == b) || (e0 == b && e1 == a)))
        return false;

    shell->setRimEdgeMarks(true);
    takeRimEdge(shell, start);

    // Forward from a against the winding of the rim's triangles; a closed rim
    // comes round to b, whose only open edge is the start edge, already taken.
    loop.push_back(a);
    StlEdge* edge = start;
    for (StlVertex* v = a; (v = v->nextShellRimVertex(&edge, shell, false)) != nullptr;) {
        takeRimEdge(shell, edge);
        loop.push_back(v);
    }
    // An open chain: collect what lies behind b as well.
    if (loop.back() != b) {
        loop.push_front(b);
        edge = start;
        for (StlVertex* v = b; (v = v->nextShellRimVertex(&edge, shell, true)) != nullptr;) {
            takeRimEdge(shell, edge);
            loop.push_front(v);
        }
    }
    if (loop.size() > 1 && loop.front() == loop.back())
        loop.pop_back();

    shell->setRimEdgeMarks(false);
    return loop.size() >= 3;
}

} // namespace topolib
