// Measures of a built mesh and the resets of its scratch state: the mean edge
// length, walk marks, vertex marks and triangle groups.

#include "topolib/StlObject.h"

#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>

namespace topolib {

double StlObject::averageEdgeLength() const {
    if (m_records.edges.size() < 2)
        return 0.0;
    double sum = 0.0;
    size_t live = 0;
    for (const StlEdge* e : m_records.edges) {
        if (e->edgeClass == kEdgeDetached)
            continue;
        sum += std::sqrt((e->vertex(1)->pos - e->vertex(0)->pos).lengthSquared());
        ++live;
    }
    // Every edge detached: no length to average (not 0 / 0).
    return live ? sum / static_cast<double>(live) : 0.0;
}

void StlObject::clearTriangleMarks() {
    for (StlTriangle* t : m_records.triangles)
        t->setWalkMark(0);
}

void StlObject::clearVertexMarks() {
    for (StlVertex* v : m_records.vertices)
        v->setMark(0);
}

void StlObject::resetTriangleGroups() {
    for (StlTriangle* t : m_records.triangles)
        t->setGroup(-1);
}

} // namespace topolib
