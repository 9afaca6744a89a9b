#include "topolib/StlTriangle.h"

#include "topolib/StlEdge.h"
#include "topolib/StlVertex.h"

#include <cmath>

namespace topolib {

void StlTriangle::reset() {
    flags = kInitialFlags;
    id = 0;
    normal = Vector3D();
    for (int k = 0; k < 3; ++k) {
        edges[k] = nullptr;
        vertices[k] = nullptr;
    }
    shell = nullptr;
}

StlTriangle* StlTriangle::init(StlVertex* a, StlVertex* b, StlVertex* c) {
    reset();
    vertices[0] = a;
    vertices[1] = b;
    vertices[2] = c;
    a->addTriangle(this);
    b->addTriangle(this);
    c->addTriangle(this);
    computeNormal();
    return this;
}

void StlTriangle::detachFromVertices() {
    for (StlVertex* v : vertices)
        if (v)
            v->removeTriangle(this);
}

void StlTriangle::detachFromEdges() {
    for (StlEdge* e : edges)
        if (e)
            e->removeTriangle(this);
}

double StlTriangle::computeNormal() {
    const Vector3D& p0 = vertices[0]->pos;
    normal = (vertices[1]->pos - p0).cross(vertices[2]->pos - p0);
    return normal.normalizeAnyLength();
}

double triangleArea(const StlTriangle* t) {
    const Vector3D& p0 = t->vertices[0]->pos;
    const Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
    return 0.5 * std::sqrt(n.dot(n));
}

double areaAndVolumeTerms(const StlTriangle* t, const Vector3D& reference, double* volumeTerm) {
    const Vector3D& p0 = t->vertices[0]->pos;
    Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
    const double len = n.normalizeAnyLength();
    *volumeTerm = (p0 - reference).dot(n) * len;
    return len;
}

} // namespace topolib
