// Hollowed meshes judged by CGAL: the result is a closed, self-intersection
// free surface whose components bound a volume (the inner shell inside the
// outer one and facing the other way), CGAL's volume agrees, and every inner
// vertex lies one wall thickness from the outer surface within a cell.

#include "CgalMeshChecks.h"
#include "MeshFixtures.h"

#include "src/Features/lcm/HollowContext.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlObject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

struct Case {
    std::string name;
    meshfixtures::TriangleSoup soup;
    double wall;
    int density;
    std::vector<lcm::DrainHoleSpec> holes;
};

TEST(HollowOracle, hollowedMeshesBoundAVolumeWithTheWallThickness) {
    const std::vector<Case> cases = {
        {"torus", meshfixtures::torus(20.0, 8.0, 96, 48), 2.0, 60, {}},
        {"cylinder", meshfixtures::cylinder(10.0, {0, 0, 0}, {0, 0, 25}, 64), 1.5, 80, {}},
        {"sphere with a hole", meshfixtures::icosphere(15.0, 4), 2.0, 70, {{{0, 0, 15}, {0, 0, -1}, 2.0, 0.0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = meshfixtures::buildMeshWithOctree(c.soup);
        lcm::HollowContext context;
        lcm::HollowStatus status;
        auto result = lcm::hollowedCopy(context, *source, c.wall, c.density, c.holes, &status);
        ASSERT_EQ(status, lcm::HollowStatus::Ok);
        ASSERT_TRUE(result);
        // Without a hole the one cavity is told to trap resin; with one, nothing.
        EXPECT_EQ(context.warnings().size(), c.holes.empty() ? 1u : 0u);
        EXPECT_EQ(context.sealedCavities().size(), c.holes.empty() ? 1u : 0u);
        const oracle::MeshVerdict v = oracle::judgeMesh(*result);
        EXPECT_EQ(v.rejectedFaces, 0);
        ASSERT_TRUE(v.closed);
        EXPECT_FALSE(v.selfIntersects);
        EXPECT_TRUE(v.boundsVolume);
        const double live = topolib::liveVolume(*result);
        EXPECT_NEAR(v.volume, live, 1e-6 * std::fabs(live));

        // Inner vertices one wall from the source's surface, within a cell.
        std::vector<std::array<double, 3>> inner;
        for (const auto& p : context.previewSurface()->points)
            inner.push_back({p.x, p.y, p.z});
        const double cell = context.stock()->cellSize();
        EXPECT_LT(oracle::worstDistanceFromWall(*source, inner, c.wall), cell) << "cell " << cell;
    }
}

} // namespace
