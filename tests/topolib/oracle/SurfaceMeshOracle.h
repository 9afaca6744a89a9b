#pragma once
// The mesh types of the oracle tests and the conversion of a topolib mesh into a
// CGAL surface mesh.

#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Surface_mesh.h>

#include <cstddef>
#include <vector>

namespace oracle {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Point3 = Kernel::Point_3;
using Mesh = CGAL::Surface_mesh<Point3>;

// The live triangles of the mesh on the same vertex positions (vertex i of the
// mesh is vertex i of the result). When rejected is given, it counts the faces
// that a valid surface could not take (non-manifold or flipped neighbours).
inline Mesh toSurfaceMesh(const topolib::StlObject& mesh, int* rejected = nullptr) {
    Mesh out;
    std::vector<Mesh::Vertex_index> ids;
    ids.reserve(mesh.vertices().size());
    for (const topolib::StlVertex* v : mesh.vertices())
        ids.push_back(out.add_vertex(Point3(v->x(), v->y(), v->z())));
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted())
            continue;
        const auto f = out.add_face(ids[static_cast<std::size_t>(t->vertices[0]->index)],
                                    ids[static_cast<std::size_t>(t->vertices[1]->index)],
                                    ids[static_cast<std::size_t>(t->vertices[2]->index)]);
        if (f == Mesh::null_face() && rejected)
            ++*rejected;
    }
    return out;
}

} // namespace oracle
