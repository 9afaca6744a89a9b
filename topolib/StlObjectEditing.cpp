// Growing and pruning a built mesh: appending records, adding triangles with
// their edges, copying triangles of another mesh, appending an indexed mesh,
// deleting cut triangles. Every change of the triangle set invalidates the z-slab
// index as a whole: its lists are wrong, not only its range.

#include "topolib/StlObject.h"

#include "topolib/ShortPair.h"
#include "topolib/StlEdge.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace topolib {

namespace {

// Crease limit of pieces added along a cut: cos 20 degrees. It is tighter than the
// 25 degrees of the import so that the facets of a drilled wall stay separate.
constexpr double kCutCreaseCos = 0.9396926;

// Corners that agree within 1e-9 (times the mesh's tolerance scale) on every axis.
bool cornersCoincide(const StlVertex* a, const StlVertex* b, double scale) {
    const double tol = 1e-9 * scale;
    return std::fabs(a->x() - b->x()) <= tol && std::fabs(a->y() - b->y()) <= tol &&
           std::fabs(a->z() - b->z()) <= tol;
}

// Places a new triangle at the end of the array (id = position) and counts it.
void placeTriangle(StlObject& mesh, StlTriangle* t) {
    RefArray<StlTriangle>& array = mesh.triangles();
    t->id = static_cast<int32_t>(array.size());
    array.push_back(t);
    mesh.setFacetCount(mesh.facetCount() + 1);
}

// Room for `extra` more entries. Grows geometrically, so that many small batches
// appended one after another stay linear in their total.
template <typename T> void makeRoom(std::vector<T>& v, size_t extra) {
    if (v.capacity() - v.size() < extra)
        v.reserve(std::max(v.size() + extra, 2 * v.capacity()));
}

} // namespace

// ---- Appending records ----------------------------------------------------------

StlEdge* StlObject::addEdge(StlVertex* a, StlVertex* b) {
    StlEdge* e = newEdge(a, b);
    e->index = edgeCount();
    m_records.edges.push_back(e);
    return e;
}

void StlObject::appendEdges(const std::deque<StlEdge*>& edges) {
    makeRoom(m_records.edges, edges.size());
    for (StlEdge* e : edges) {
        e->index = edgeCount();
        m_records.edges.push_back(e);
    }
}

void StlObject::appendVertices(const std::deque<StlVertex*>& vertices) {
    makeRoom(m_records.vertices, vertices.size());
    for (StlVertex* v : vertices) {
        appendVertex(v);
        insertIntoOctree(v);
    }
}

void StlObject::appendTriangles(const std::vector<StlTriangle*>& triangles) {
    makeRoom(m_records.triangles, triangles.size());
    for (StlTriangle* t : triangles) {
        t->id = static_cast<int32_t>(m_records.triangles.size());
        m_records.triangles.push_back(t);
        insertIntoOctree(t);
    }
    m_measures.facetCount += static_cast<uint32_t>(triangles.size());
    invalidateZSlabIndex();
}

StlTriangle* StlObject::addTriangle(StlVertex* a, StlVertex* b, StlVertex* c, std::deque<StlTriangle*>* out,
                                    Slivers slivers) {
    const double s = toleranceScale();
    if (a == b || b == c || a == c || a->pos.sameAs(b->pos, s) || b->pos.sameAs(c->pos, s) ||
        a->pos.sameAs(c->pos, s))
        return nullptr;
    if (slivers == Slivers::Refused) {
        const Vector3D n = (b->pos - a->pos).cross(c->pos - a->pos);
        if (std::sqrt(n.lengthSquared()) < 1e-6 * s * s)
            return nullptr;
    }

    StlVertex* const corners[3] = {a, b, c};
    StlEdge* found[3];
    for (int k = 0; k < 3; ++k)
        found[k] = StlVertex::findEdgeTo(corners[k], corners[(k + 1) % 3]);

    StlTriangle* t = newTriangle();
    t->init(a, b, c); // flags reset, group -1, registered with a, b, c, unit normal
    for (int k = 0; k < 3; ++k) {
        StlEdge* e = found[k] ? found[k] : addEdge(corners[k], corners[(k + 1) % 3]);
        e->addTriangle(t); // one triangle: boundary; two: smooth; more: non-manifold
        t->edges[k] = e;
    }
    placeTriangle(*this, t);
    if (out)
        out->push_back(t);
    invalidateZSlabIndex();
    return t;
}

StlTriangle* StlObject::addCutTriangle(StlVertex* a, StlVertex* b, StlVertex* c, const StlTriangle* model) {
    const double s = toleranceScale();
    if (cornersCoincide(a, b, s) || cornersCoincide(b, c, s) || cornersCoincide(a, c, s))
        return nullptr;
    // The area is judged before a record is taken: pool records are not given back.
    const Vector3D n = (b->pos - a->pos).cross(c->pos - a->pos);
    if (0.5 * std::sqrt(n.lengthSquared()) < 1e-12 * s * s)
        return nullptr;

    StlVertex* const corners[3] = {a, b, c};
    StlEdge* found[3];
    for (int k = 0; k < 3; ++k)
        found[k] = StlVertex::findEdgeTo(corners[k], corners[(k + 1) % 3]);

    StlTriangle* t = newTriangle();
    t->init(a, b, c);
    t->setWalkMark(model->walkMark());
    // A piece lies in its model's plane: the model's normal is exact, a normal of a
    // sliver piece recomputed from its corners would not be.
    t->normal = model->normal;
    placeTriangle(*this, t);

    for (int k = 0; k < 3; ++k) {
        StlEdge* e = found[k];
        if (!e) {
            e = addEdge(corners[k], corners[(k + 1) % 3]);
            e->addTriangle(t);
        } else if (e->addTriangle(t) == 2) {
            const StlTriangle* u = e->triangle(0);
            const StlTriangle* w = e->triangle(1);
            if (!w)
                e->edgeClass = kEdgeBoundary;
            else
                e->edgeClass = u->normal.dot(w->normal) < kCutCreaseCos ? kEdgeSharp : kEdgeSmooth;
        }
        t->edges[k] = e;
    }

    t->setReversed(model->isReversed());
    if (model->shell)
        model->shell->addTriangle(t);
    insertIntoOctree(t);
    setModified();
    invalidateZSlabIndex();
    return t;
}

void StlObject::addTrianglesWithTopology(const std::vector<StlTriangle*>& triangles) {
    reserveTriangles(static_cast<uint32_t>(triangles.size()));
    std::deque<StlEdge*> newEdges;
    for (const StlTriangle* src : triangles) {
        if (src->isDeleted())
            continue;
        StlVertex* a = findOrAddVertex(src->vertices[0]->pos.data());
        StlVertex* b = findOrAddVertex(src->vertices[1]->pos.data());
        StlVertex* c = findOrAddVertex(src->vertices[2]->pos.data());
        // Corners that weld onto one vertex would make an edge from a vertex to
        // itself; such a sliver has no surface to contribute.
        if (a == b || b == c || a == c)
            continue;

        // Reversed winding: a, c, b.
        StlVertex* const corners[3] = {a, c, b};
        StlTriangle* t = newTriangle();
        t->init(a, c, b);
        for (int k = 0; k < 3; ++k) {
            StlVertex* p = corners[k];
            StlVertex* q = corners[(k + 1) % 3];
            StlEdge* e = StlVertex::findEdgeTo(p, q);
            if (!e) {
                e = newEdge(p, q);
                newEdges.push_back(e);
            }
            e->addTriangle(t);
            t->edges[k] = e;
        }
        placeTriangle(*this, t);
        insertIntoOctree(t);
    }
    appendEdges(newEdges);
    invalidateZSlabIndex();
}

bool StlObject::appendMesh(int vertexCount, uint32_t triangleCount, const double* xyz, const int* indices) {
    if (vertexCount < 0 || (vertexCount > 0 && !xyz) || (triangleCount > 0 && !indices))
        return false;
    // Check every index before anything changes, so that a bad list leaves the mesh
    // as it was.
    for (uint64_t i = 0; i < 3ull * triangleCount; ++i)
        if (indices[i] < 0 || indices[i] >= vertexCount)
            return false;

    const size_t first = m_records.vertices.size();
    makeRoom(m_records.vertices, static_cast<size_t>(vertexCount));
    for (int i = 0; i < vertexCount; ++i)
        appendVertex(newVertex(xyz + 3 * static_cast<size_t>(i)));

    reserveTriangles(triangleCount);
    auto* shell = new StlShell(this);
    shell->primaryTriangles.resize(triangleCount);
    for (uint32_t j = 0; j < triangleCount; ++j) {
        StlTriangle* t = newTriangle();
        t->init(m_records.vertices[first + static_cast<size_t>(indices[3 * j])],
                m_records.vertices[first + static_cast<size_t>(indices[3 * j + 1])],
                m_records.vertices[first + static_cast<size_t>(indices[3 * j + 2])]);
        t->shell = shell;
        shell->primaryTriangles[j] = t;
        t->id = static_cast<int32_t>(m_records.triangles.size());
        m_records.triangles.push_back(t);
    }
    if (triangleCount > 0) {
        shell->boxMin = shell->boxMax = shell->primaryTriangles[0]->vertices[0]->pos;
        for (const StlTriangle* t : shell->primaryTriangles)
            shell->extendBox(t);
    }
    m_measures.facetCount = this->triangleCount();
    shell->triangleCount = triangleCount;
    m_records.shells.push_back(shell);
    invalidateZSlabIndex();
    return true;
}

bool StlObject::makeShortPair(const double p[6], ShortPair* out) {
    StlVertex* a = findOrAddVertex(p);
    StlVertex* b = findOrAddVertex(p + 3);
    if (a == b)
        return false;
    out->a = a;
    out->b = b;
    out->flags = 0;
    return true;
}

// ---- Removing cut triangles -----------------------------------------------------

void StlObject::deleteTriangles(const std::vector<StlTriangle*>& cut, std::vector<StlTriangle*>& added,
                                std::vector<StlShell*>& pieces, const CutRetriangulator& retriangulate,
                                const PieceBounds* within) {
    assert(retriangulate && "cut triangles need their retriangulation");
    const size_t k = m_records.triangles.size();
    if (retriangulate) {
        for (StlTriangle* t : cut) {
            if (t->isDeleted() || !t->hasCutContext())
                continue;
            t->setDeleted(true);
            t->detachFromEdges();
            retriangulate(*this, t);
        }
    }
    added.insert(added.end(), m_records.triangles.begin() + static_cast<std::ptrdiff_t>(k),
                 m_records.triangles.end());
    for (StlShell* shell : m_records.shells) {
        shell->splitIntoPieces(within);
        shell->takePieces(pieces);
    }
    invalidateZSlabIndex();
}

} // namespace topolib
