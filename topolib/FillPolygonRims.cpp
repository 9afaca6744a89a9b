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
        if (e->edgeClass == kEdgeBoundary) {
            if (e->triangleCount() > 0 && e->triangle(0)->shell)
                traceBoundaryLoop(e->triangle(0)->shell, e);
        } else if (e->edgeClass == kEdgeNonManifold) {
            // Each shell meeting at the edge may have its own rim through it.
            for (uint32_t i = 0; i < e->triangleCount(); ++i)
                if (StlShell* s = e->triangle(i)->shell)
                    traceBoundaryLoop(s, e);
        }
    }
    clearLiveEdgeMarks();
}

bool StlShell::triangulateRimPolygons(std::deque<StlTriangle*>& out) {
    return FillPolygon::triangulateCaps(rimPolygons, out);
}

} // namespace topolib
