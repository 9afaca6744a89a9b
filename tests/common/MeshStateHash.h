#pragma once
// One hash over the whole state of an imported mesh: every vertex's position,
// order and incident triangle list; every triangle's flags, id, normal, vertex
// and edge indices; every edge's index, flags, class, vertices and triangles in
// order; every shell's flags, counts, box and its primary and reversed triangle
// lists; the facet and vertex counts, area and volume. Two imports that leave
// the same state give the same hash (tests/tools/meshhash, the import tests).

#include "topolib/MeshOctree.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace meshstate {

// FNV-1a over bytes, 64-bit.
struct Hash {
    uint64_t h = 0xcbf29ce484222325ull;
    void bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) {
            h ^= b[i];
            h *= 0x100000001b3ull;
        }
    }
    template <typename T>
    void add(const T& v) {
        bytes(&v, sizeof v);
    }
};

inline int64_t vertexIndex(const topolib::StlVertex* v) { return v ? v->index : -2; }
inline int64_t edgeIndex(const topolib::StlEdge* e) { return e ? static_cast<int64_t>(e->index) : -2; }
inline int64_t triangleId(const topolib::StlTriangle* t) { return t ? t->id : -2; }

inline uint64_t stateHash(const topolib::StlObject& mesh) {
    Hash h;
    h.add(mesh.vertexCount());
    h.add(mesh.triangleCount());
    h.add(mesh.edgeCount());
    h.add(mesh.facetCount());
    h.add(mesh.area());
    h.add(mesh.volume());
    for (const topolib::StlVertex* v : mesh.vertices()) {
        h.add(v->pos.x);
        h.add(v->pos.y);
        h.add(v->pos.z);
        h.add(v->index);
        h.add(v->triangleCount());
        for (const topolib::StlTriangle* t : *v)
            h.add(triangleId(t));
    }
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        h.add(t->flags);
        h.add(t->id);
        h.add(t->normal.x);
        h.add(t->normal.y);
        h.add(t->normal.z);
        for (int k = 0; k < 3; ++k) {
            h.add(vertexIndex(t->vertices[k]));
            h.add(edgeIndex(t->edges[k]));
        }
    }
    for (const topolib::StlEdge* e : mesh.edges()) {
        h.add(edgeIndex(e));
        if (!e)
            continue;
        h.add(e->flags);
        h.add(e->edgeClass);
        h.add(e->vertexCount());
        for (uint32_t i = 0; i < e->vertexCount(); ++i)
            h.add(vertexIndex(e->vertex(i)));
        h.add(e->triangleCount());
        for (uint32_t i = 0; i < e->triangleCount(); ++i)
            h.add(triangleId(e->triangle(i)));
    }
    h.add(mesh.shells().size());
    for (const topolib::StlShell* s : mesh.shells()) {
        h.add(s->flags);
        h.add(s->open);
        h.add(s->spare);
        h.add(s->changed);
        h.add(s->number);
        h.add(s->triangleCount);
        h.add(s->boxMin.x);
        h.add(s->boxMin.y);
        h.add(s->boxMin.z);
        h.add(s->boxMax.x);
        h.add(s->boxMax.y);
        h.add(s->boxMax.z);
        h.add(s->primaryTriangles.size());
        for (const topolib::StlTriangle* t : s->primaryTriangles)
            h.add(triangleId(t));
        h.add(s->reversedTriangles.size());
        for (const topolib::StlTriangle* t : s->reversedTriangles)
            h.add(triangleId(t));
    }
    return h.h;
}

// One hash over the mesh's octree: every leaf that holds items, in the walk's
// order, with its cube and the indices of its vertices and triangle ids in
// list order; the node count. Zero when the mesh has no tree.
inline uint64_t octreeHash(const topolib::StlObject& mesh) {
    const topolib::MeshOctree* tree = mesh.octree();
    if (!tree)
        return 0;
    Hash h;
    h.add(tree->nodeCount());
    tree->forEachLeaf(mesh.octreeOrigin(), mesh.octreeEdge(),
                      [&](const double origin[3], double edge, const std::vector<topolib::StlVertex*>& vertices,
                          const std::vector<topolib::StlTriangle*>& triangles) {
                          h.bytes(origin, 3 * sizeof(double));
                          h.add(edge);
                          h.add(vertices.size());
                          for (const topolib::StlVertex* v : vertices)
                              h.add(vertexIndex(v));
                          h.add(triangles.size());
                          for (const topolib::StlTriangle* t : triangles)
                              h.add(triangleId(t));
                      });
    return h.h;
}

// Whether every live triangle names one of the mesh's shells and every
// deleted one names none (no triangle points at a shell the mesh has freed),
// and no triangle or vertex carries a walk mark (scratch state that every
// routine clears before it returns).
inline bool linksSoundAndMarksClear(const topolib::StlObject& mesh) {
    std::vector<const topolib::StlShell*> shells(mesh.shells().begin(), mesh.shells().end());
    std::sort(shells.begin(), shells.end());
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        const bool named = std::binary_search(shells.begin(), shells.end(), t->shell);
        if ((t->isDeleted() ? t->shell != nullptr : !named) || t->walkMark() != 0)
            return false;
    }
    for (const topolib::StlVertex* v : mesh.vertices())
        if (v->mark() != 0)
            return false;
    return true;
}

} // namespace meshstate
