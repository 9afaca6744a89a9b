// Slicing against CGAL's Polygon_mesh_slicer: the same outlines (count, closure
// and enclosed areas) at many heights of a generated mesh.

#include "MeshFixtures.h"
#include "SurfaceMeshOracle.h"

#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_slicer.h>
#include <CGAL/Surface_mesh.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using oracle::Kernel;
using oracle::Mesh;
using oracle::Point3;
using oracle::toSurfaceMesh;
using Polyline = std::vector<Point3>;

double polylineArea(const Polyline& p) {
    double twice = 0.0;
    for (std::size_t i = 0; i + 1 < p.size(); ++i)
        twice += p[i].x() * p[i + 1].y() - p[i + 1].x() * p[i].y();
    return 0.5 * twice;
}

// A torus tilted about x and y, with a box floating in its hole: the heights cut
// one to three outlines, none of them through a vertex ring.
meshfixtures::TriangleSoup generatedMesh() {
    auto soup = meshfixtures::concatenated(meshfixtures::torus(3.0, 1.0, 90, 45),
                                           meshfixtures::box({1.5, 1.2, 2.0}, {-0.8, -0.5, -1.0}));
    const double a = 0.35, b = -0.2;
    for (meshfixtures::Facet& f : soup)
        for (meshfixtures::Point& p : f.v) {
            const double y = p[1] * std::cos(a) - p[2] * std::sin(a);
            const double z1 = p[1] * std::sin(a) + p[2] * std::cos(a);
            const double x = p[0] * std::cos(b) + z1 * std::sin(b);
            const double z = -p[0] * std::sin(b) + z1 * std::cos(b);
            p = {x, y, z};
        }
    return soup;
}

} // namespace

TEST(SlicingOracle, outlinesAgreeWithCgalOnFiftyHeights) {
    auto mesh = meshfixtures::buildMesh(generatedMesh());
    const Mesh reference = toSurfaceMesh(*mesh);
    ASSERT_TRUE(CGAL::is_closed(reference));
    CGAL::Polygon_mesh_slicer<Mesh, Kernel> slicer(reference);

    double lo[3], hi[3];
    mesh->getBBox(lo, hi);
    int cutsWithOutlines = 0;
    int cutsWithSeveralOutlines = 0;
    for (int i = 1; i <= 50; ++i) {
        // Heights as single precision values: the slicer cuts at exactly these.
        const double z = static_cast<float>(lo[2] + (hi[2] - lo[2]) * i / 51.0);
        std::vector<Polyline> polylines;
        slicer(Kernel::Plane_3(0.0, 0.0, 1.0, -z), std::back_inserter(polylines));
        auto set = mesh->sliceAt(z);

        std::vector<double> expected, got;
        for (const Polyline& p : polylines) {
            ASSERT_TRUE(p.front() == p.back()) << "CGAL gave an open polyline at z = " << z;
            expected.push_back(std::fabs(polylineArea(p)));
        }
        if (set) {
            EXPECT_EQ(set->z, static_cast<float>(z));
            for (const topolib::SliceContour& c : set->contours) {
                EXPECT_TRUE(c.closed) << z;
                got.push_back(std::fabs(c.signedArea()));
            }
        }
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        ASSERT_EQ(got.size(), expected.size()) << "z = " << z;
        cutsWithSeveralOutlines += got.size() >= 2u ? 1 : 0;
        for (std::size_t k = 0; k < got.size(); ++k)
            EXPECT_NEAR(got[k], expected[k], 1e-5 * expected[k] + 1e-6) << "z = " << z << ", outline " << k;
        // The signed areas add up to the cross-section: outer minus holes.
        if (set) {
            double net = 0.0;
            for (const topolib::SliceContour& c : set->contours)
                net += c.signedArea();
            EXPECT_GT(net, 0.0) << z;
            ++cutsWithOutlines;
        }
    }
    EXPECT_GE(cutsWithOutlines, 48);
    EXPECT_GE(cutsWithSeveralOutlines, 20);
}
