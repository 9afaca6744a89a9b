#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

namespace topolib {

void StlTriangle::ensureEdges() {
    for (int k = 0; k < 3; ++k) {
        if (edges[k])
            continue;
        StlVertex* a = vertices[k];
        StlVertex* b = vertices[(k + 1) % 3];
        if (StlEdge* found = StlVertex::findEdgeTo(a, b)) {
            edges[k] = found;
            continue;
        }
        StlObject* mesh = shell ? shell->owner : nullptr;
        if (!mesh)
            continue;
        StlEdge* made = mesh->addEdge(a, b);
        made->addTriangle(this);
        edges[k] = made;
    }
}

} // namespace topolib
