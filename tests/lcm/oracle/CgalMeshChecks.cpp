#include "CgalMeshChecks.h"

#include "SurfaceMeshOracle.h"

#include <CGAL/AABB_face_graph_triangle_primitive.h>
#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <CGAL/Polygon_mesh_processing/orientation.h>
#include <CGAL/Polygon_mesh_processing/repair.h>
#include <CGAL/Polygon_mesh_processing/self_intersections.h>
#include <CGAL/boost/graph/helpers.h>

#include <algorithm>
#include <cmath>

namespace oracle {

namespace PMP = CGAL::Polygon_mesh_processing;

MeshVerdict judgeMesh(const topolib::StlObject& source) {
    MeshVerdict v;
    Mesh mesh = toSurfaceMesh(source, &v.rejectedFaces);
    // Vertices no live triangle uses (left by edits) are not part of the surface.
    PMP::remove_isolated_vertices(mesh);
    mesh.collect_garbage();
    v.closed = CGAL::is_closed(mesh);
    if (!v.closed)
        return v;
    v.selfIntersects = PMP::does_self_intersect(mesh);
    v.boundsVolume = !v.selfIntersects && PMP::does_bound_a_volume(mesh);
    v.volume = PMP::volume(mesh);
    return v;
}

double worstDistanceFromWall(const topolib::StlObject& surface, const std::vector<std::array<double, 3>>& points,
                             double wall) {
    using Tree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, CGAL::AABB_face_graph_triangle_primitive<Mesh>>>;
    Mesh mesh = toSurfaceMesh(surface);
    Tree tree(faces(mesh).first, faces(mesh).second, mesh);
    tree.accelerate_distance_queries();
    double worst = 0.0;
    for (const auto& p : points)
        worst = std::max(worst, std::fabs(std::sqrt(tree.squared_distance(Point3(p[0], p[1], p[2]))) - wall));
    return worst;
}

} // namespace oracle
