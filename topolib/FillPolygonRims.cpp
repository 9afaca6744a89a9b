// Rim polygons of shells: tracing every open rim into a polygon and covering the
// polygons with free-standing cap triangles.
#include "topolib/FillPolygon.h"

#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"

namespace topolib {

FillPolygon* StlObject::traceBoundaryLoop(StlShell* shell, StlEdge* start) {
    std::deque<StlVertex*> loop;
    if (!traceRimLoop(shell, start, loop))
        return nullptr;
    auto* polygon = new FillPolygon(this);
    polygon->buildFromVertices(loop);
    polygon->shells.push_back(shell);
    polygon->fitPlane();
    shell->rimPolygons.push_back(polygon);
    return polygon;
}

void StlObject::traceHoleRims() {
    clearLiveEdgeMarks();
    for (StlEdge* e : edges()) {
        if (e->flags & StlShell::kRimTracedEdgeBit)
            continue;
        // A deleted triangle borders no rim (an edge along a drain-hole cut
        // keeps the triangles the cut dropped).
        if (e->edgeClass == kEdgeBoundary) {
            const StlTriangle* t = e->triangleCount() > 0 ? e->triangle(0) : nullptr;
            if (t && !t->isDeleted() && t->shell)
                traceBoundaryLoop(t->shell, e);
        } else if (e->edgeClass == kEdgeNonManifold) {
            // Each shell meeting at the edge may have its own rim through it.
            for (uint32_t i = 0; i < e->triangleCount(); ++i) {
                const StlTriangle* t = e->triangle(i);
                if (!t->isDeleted() && t->shell)
                    traceBoundaryLoop(t->shell, e);
            }
        }
    }
    clearLiveEdgeMarks();
}

bool StlShell::triangulateRimPolygons(std::deque<StlTriangle*>& out) {
    return FillPolygon::triangulateCaps(rimPolygons, out);
}

} // namespace topolib
