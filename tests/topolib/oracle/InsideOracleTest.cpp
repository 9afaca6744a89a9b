// The two inside tests of a mesh against CGAL's Side_of_triangle_mesh, on random
// points around a torus, a cup (an open-topped hollow box, closed and non-convex)
// and two overlapping cubes.

#include "MeshFixtures.h"
#include "SurfaceMeshOracle.h"

#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <CGAL/AABB_face_graph_triangle_primitive.h>
#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Side_of_triangle_mesh.h>
#include <CGAL/Surface_mesh.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace {

using oracle::Kernel;
using oracle::Mesh;
using oracle::Point3;
using oracle::toSurfaceMesh;
using Primitive = CGAL::AABB_face_graph_triangle_primitive<Mesh>;
using Tree = CGAL::AABB_tree<CGAL::AABB_traits<Kernel, Primitive>>;
using Side = CGAL::Side_of_triangle_mesh<Mesh, Kernel>;
using meshfixtures::Facet;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;

// A quad as two facets, wound so that its normal points along `outward`.
void addQuad(TriangleSoup& soup, Point a, Point b, Point c, Point d, const Point& outward) {
    const Point n = meshfixtures::facetCross(Facet{{a, b, c}});
    if (n[0] * outward[0] + n[1] * outward[1] + n[2] * outward[2] < 0)
        std::swap(b, d);
    soup.push_back(Facet{{a, b, c}});
    soup.push_back(Facet{{a, c, d}});
}

// A cup: a box of w × w × h with walls and floor of thickness t and an open top,
// as one closed surface (outer walls, bottom, rim, inner walls, cavity floor).
TriangleSoup cup(double w, double h, double t, double lift) {
    TriangleSoup s;
    const double o = 0, i0 = t, i1 = w - t, f = t + lift, z0 = lift, z1 = h + lift;
    addQuad(s, {o, o, z0}, {w, o, z0}, {w, w, z0}, {o, w, z0}, {0, 0, -1});
    addQuad(s, {i0, i0, f}, {i1, i0, f}, {i1, i1, f}, {i0, i1, f}, {0, 0, 1});
    const Point outer[4] = {{o, o, 0}, {w, o, 0}, {w, w, 0}, {o, w, 0}};
    const Point inner[4] = {{i0, i0, 0}, {i1, i0, 0}, {i1, i1, 0}, {i0, i1, 0}};
    const Point outward[4] = {{0, -1, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}};
    for (int k = 0; k < 4; ++k) {
        const Point& a = outer[k];
        const Point& b = outer[(k + 1) % 4];
        const Point& c = inner[(k + 1) % 4];
        const Point& d = inner[k];
        addQuad(s, {a[0], a[1], z0}, {b[0], b[1], z0}, {b[0], b[1], z1}, {a[0], a[1], z1}, outward[k]);
        addQuad(s, {d[0], d[1], f}, {c[0], c[1], f}, {c[0], c[1], z1}, {d[0], d[1], z1},
                {-outward[k][0], -outward[k][1], 0});
        addQuad(s, {a[0], a[1], z1}, {b[0], b[1], z1}, {c[0], c[1], z1}, {d[0], d[1], z1}, {0, 0, 1});
    }
    return s;
}

struct Scene {
    const char* name;
    std::vector<TriangleSoup> components; // each closed; the solid is their union
};

struct Agreement {
    int points = 0;
    int inside = 0;
    int upwardDisagreements = 0;
    int downwardCompared = 0;
    int downwardDisagreements = 0;
};

// Meshes stand above z = 0, as models do on the platform: the downward count
// takes only crossings above the platform.
Agreement compare(const Scene& scene, int count, unsigned seed) {
    TriangleSoup all;
    for (const TriangleSoup& c : scene.components)
        all = meshfixtures::concatenated(std::move(all), c);
    auto mesh = meshfixtures::buildMesh(all);
    mesh->rebuildOctree();

    std::vector<std::unique_ptr<topolib::StlObject>> parts;
    std::vector<Mesh> partMeshes;
    for (const TriangleSoup& c : scene.components) {
        parts.push_back(meshfixtures::buildMesh(c));
        partMeshes.push_back(toSurfaceMesh(*parts.back()));
    }
    std::vector<std::unique_ptr<Side>> sides;
    for (const Mesh& m : partMeshes)
        sides.push_back(std::make_unique<Side>(m));
    const Mesh whole = toSurfaceMesh(*mesh);
    Tree tree(faces(whole).first, faces(whole).second, whole);
    tree.accelerate_distance_queries();

    double lo[3], hi[3];
    mesh->getBBox(lo, hi);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Agreement a;
    while (a.points < count) {
        double p[3];
        for (int k = 0; k < 3; ++k) {
            const double margin = 0.15 * (hi[k] - lo[k]);
            p[k] = lo[k] - margin + unit(rng) * (hi[k] - lo[k] + 2 * margin);
        }
        const Point3 q(p[0], p[1], p[2]);
        if (tree.squared_distance(q) < 1e-8)
            continue; // within 1e-4 of the surface
        ++a.points;
        bool inside = false;
        for (const auto& side : sides)
            inside = inside || (*side)(q) == CGAL::ON_BOUNDED_SIDE;
        a.inside += inside ? 1 : 0;
        if (mesh->isInsideByUpwardRay(p) != inside)
            ++a.upwardDisagreements;
        // The downward count leaves out surfaces less than 0.001 below the point
        // (a support tip resting on the surface is not inside); compare where
        // there is none.
        const Point3 below(p[0], p[1], p[2] - 0.0011);
        if (tree.do_intersect(Kernel::Segment_3(q, below)))
            continue;
        ++a.downwardCompared;
        if (mesh->isInsideByDownwardCount(p) != inside)
            ++a.downwardDisagreements;
    }
    for (const topolib::StlTriangle* t : mesh->triangles())
        EXPECT_EQ(t->walkMark(), 0u);
    return a;
}

} // namespace

TEST(InsideOracle, insideTestsAgreeWithCgalAroundTorusCupAndOverlappingCubes) {
    const Scene scenes[] = {
        {"torus", {meshfixtures::torus(10.0, 3.0, 72, 36, {0.0, 0.0, 5.0})}},
        {"cup", {cup(20.0, 15.0, 2.0, 1.0)}},
        {"overlapping cubes",
         {meshfixtures::cube(10.0, {0.0, 0.0, 1.0}), meshfixtures::cube(10.0, {5.0, 5.0, 6.0})}},
    };
    unsigned seed = 7;
    for (const Scene& s : scenes) {
        const Agreement a = compare(s, 10000, seed++);
        EXPECT_EQ(a.points, 10000) << s.name;
        EXPECT_GT(a.inside, 500) << s.name;
        EXPECT_EQ(a.upwardDisagreements, 0) << s.name;
        EXPECT_GT(a.downwardCompared, 9900) << s.name;
        EXPECT_EQ(a.downwardDisagreements, 0) << s.name;
    }
}
