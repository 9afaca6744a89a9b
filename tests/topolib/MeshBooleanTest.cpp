// The drain-hole boolean on generated meshes: closed results of the expected
// volume, slices of the drilled model, and every failure leaving both meshes as
// they were.

#include "../common/MeshFixtures.h"

#include "topolib/MeshBoolean.h"
#include "topolib/SliceContour.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

using namespace topolib;
using meshfixtures::Point;

namespace {

constexpr double kPi = 3.141592653589793;

std::unique_ptr<StlObject> meshWithOctree(const meshfixtures::TriangleSoup& soup) {
    auto m = meshfixtures::buildMesh(soup);
    m->rebuildOctree();
    return m;
}

// A 32-sided cylinder of radius r along the line through c with direction d,
// reaching `half` beyond c on both sides.
std::unique_ptr<StlObject> drill(const Point& c, const Point& d, double r, double half) {
    const double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const Point p0 = {c[0] - d[0] / l * half, c[1] - d[1] / l * half, c[2] - d[2] / l * half};
    const Point p1 = {c[0] + d[0] / l * half, c[1] + d[1] / l * half, c[2] + d[2] / l * half};
    return meshWithOctree(meshfixtures::cylinder(r, p0, p1, 32));
}

// The area of the 32-gon inscribed in a circle of radius r.
double polygonArea(double r) { return 0.5 * 32 * r * r * std::sin(2.0 * kPi / 32); }

// What a caller can observe of a mesh: live triangles with their corners, and the
// counts of records.
struct Fingerprint {
    std::size_t vertices = 0, triangles = 0, edges = 0, shells = 0;
    std::vector<double> corners;
    std::vector<uint32_t> flags;
    std::vector<uint32_t> classes;
    bool operator==(const Fingerprint& o) const {
        return vertices == o.vertices && triangles == o.triangles && edges == o.edges && shells == o.shells &&
               corners == o.corners && flags == o.flags && classes == o.classes;
    }
};

Fingerprint fingerprintOf(const StlObject& m) {
    Fingerprint f;
    f.vertices = m.vertices().size();
    f.triangles = m.triangles().size();
    f.edges = m.edges().size();
    f.shells = m.shells().size();
    for (const StlTriangle* t : m.triangles()) {
        f.flags.push_back(t->flags);
        for (int k = 0; k < 3; ++k)
            for (int a = 0; a < 3; ++a)
                f.corners.push_back(t->vertices[k]->pos[a]);
    }
    for (const StlEdge* e : m.edges())
        f.classes.push_back(e->edgeClass);
    return f;
}

} // namespace

TEST(MeshBoolean, cubeDrilledAlongXIsClosedWithTheHoleRemoved) {
    auto cube = meshWithOctree(meshfixtures::cube(10.0));
    auto tool = drill({5.0, 5.0, 5.0}, {1.0, 0.0, 0.0}, 1.0, 20.0);
    MeshBoolean op(cube.get(), tool.get());
    ASSERT_TRUE(op.subtract()) << static_cast<int>(op.failure());
    EXPECT_EQ(countUnpairedEdges(*cube), 0u);
    EXPECT_NEAR(liveVolume(*cube), 1000.0 - 10.0 * polygonArea(1.0), 1e-6 * 1000.0); // float corners
    EXPECT_GT(op.keptToolTriangles(), 0u);
}

TEST(MeshBoolean, cubeDrilledAlongRandomAxesIsClosed) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> inner(3.0, 7.0);
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        Point d;
        do
            d = {unit(rng), unit(rng), unit(rng)};
        while (d[0] * d[0] + d[1] * d[1] + d[2] * d[2] < 0.05);
        const Point c = {inner(rng), inner(rng), inner(rng)};
        auto cube = meshWithOctree(meshfixtures::cube(10.0));
        auto tool = drill(c, d, 1.0, 30.0);
        const Fingerprint before = fingerprintOf(*cube);
        MeshBoolean op(cube.get(), tool.get());
        if (!op.subtract()) {
            ++failures;
            ADD_FAILURE() << "axis " << i << " failed with " << static_cast<int>(op.failure());
            EXPECT_TRUE(fingerprintOf(*cube) == before);
            continue;
        }
        EXPECT_EQ(countUnpairedEdges(*cube), 0u) << "axis " << i;
        EXPECT_LT(liveVolume(*cube), 1000.0) << "axis " << i;
    }
    EXPECT_EQ(failures, 0);
}
