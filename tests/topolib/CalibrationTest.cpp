// XY calibration: shifting a mesh by the printer's calibration tables before an
// export and taking the shift back afterwards.
#include "MeshFixtures.h"

#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace topolib;

namespace {

using Table = std::vector<std::pair<double, double>>;
const double kOrigin[2] = {65.0, 65.0};

std::vector<Vector3D> positions(const StlObject& mesh) {
    std::vector<Vector3D> out;
    for (const StlVertex* v : mesh.vertices())
        out.push_back(v->pos);
    return out;
}

void expectPositions(const StlObject& mesh, const std::vector<Vector3D>& expected, double tol) {
    ASSERT_EQ(mesh.vertices().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Vector3D& p = mesh.vertices()[i]->pos;
        ASSERT_NEAR(p.x, expected[i].x, tol) << i;
        ASSERT_NEAR(p.y, expected[i].y, tol) << i;
        ASSERT_EQ(p.z, expected[i].z) << i;
    }
}

} // namespace

TEST(XyCalibration, shiftFollowsTheTableAndClampsAtItsEnds) {
    // One vertex per x position; y sits at the origin of the y table.
    StlObject mesh;
    const double xs[] = {65.0, 165.0, 115.0, 300.0, 0.0};
    const double expected[] = {-0.1, 0.3, 0.1, 0.3, -0.1};
    for (double x : xs) {
        const double p[3] = {x, 70.0, 1.0};
        mesh.appendVertex(mesh.newVertex(p));
    }
    const Table xTable = {{0.0, 0.1}, {100.0, 99.7}};
    const Table yTable = {{0.0, 0.0}, {10.0, 9.0}}; // y at w = 5: correction +0.5
    ASSERT_TRUE(mesh.applyXyCalibration(xTable, yTable, kOrigin));
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(mesh.vertices()[i]->x() - xs[i], expected[i], 1e-12) << xs[i];
        EXPECT_NEAR(mesh.vertices()[i]->y(), 70.5, 1e-12) << "the y shift ignores the x shift";
        EXPECT_NEAR(mesh.calibrationOffsets()[i].first, expected[i], 1e-12);
    }
    // A table of one pair shifts everywhere by that pair's correction.
    StlObject single;
    const double p[3] = {-40.0, 500.0, 0.0};
    single.appendVertex(single.newVertex(p));
    ASSERT_TRUE(single.applyXyCalibration({{3.0, 2.5}}, {{1.0, 1.25}}, kOrigin));
    EXPECT_NEAR(single.vertices()[0]->x(), -39.5, 1e-12);
    EXPECT_NEAR(single.vertices()[0]->y(), 499.75, 1e-12);
}

TEST(XyCalibration, revertRestoresEveryVertexAlsoAfterDoubleApply) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::torus(30.0, 8.0, 96, 48, {65.0, 65.0, 10.0}));
    const std::vector<Vector3D> before = positions(*mesh);
    std::vector<Vector3D> normals;
    for (const StlTriangle* t : mesh->triangles())
        normals.push_back(t->normal);
    const Table xTable = {{-50.0, -50.2}, {0.0, 0.05}, {20.0, 19.9}, {50.0, 50.3}};
    const Table yTable = {{-40.0, -39.8}, {40.0, 40.1}};
    const Table other = {{0.0, 1.0}};

    struct Case {
        const char* name;
        std::vector<std::pair<const Table*, const Table*>> applies;
    };
    for (const Case& c :
         {Case{"once", {{&xTable, &yTable}}}, Case{"twice", {{&xTable, &yTable}, {&other, &xTable}}},
          Case{"same twice", {{&xTable, &yTable}, {&xTable, &yTable}}}}) {
        for (const auto& a : c.applies)
            ASSERT_TRUE(mesh->applyXyCalibration(*a.first, *a.second, kOrigin)) << c.name;
        EXPECT_GT(std::abs(mesh->vertices()[0]->x() - before[0].x), 1e-3) << c.name;
        EXPECT_TRUE(mesh->revertXyCalibration()) << c.name;
        expectPositions(*mesh, before, 1e-12);
        EXPECT_TRUE(mesh->calibrationOffsets().empty());
        for (std::size_t i = 0; i < normals.size(); ++i)
            ASSERT_NEAR((mesh->triangle(static_cast<uint32_t>(i))->normal - normals[i]).lengthSquared(), 0.0,
                        1e-20);
    }
}

TEST(XyCalibration, emptyTableOrNothingToRevertChangesNothing) {
    auto mesh = meshfixtures::buildMesh(meshfixtures::cube(10.0, {60.0, 60.0, 0.0}));
    const std::vector<Vector3D> before = positions(*mesh);
    const Table table = {{0.0, 0.1}, {100.0, 99.7}};
    EXPECT_FALSE(mesh->revertXyCalibration());
    EXPECT_FALSE(mesh->applyXyCalibration({}, table, kOrigin));
    EXPECT_FALSE(mesh->applyXyCalibration(table, {}, kOrigin));
    expectPositions(*mesh, before, 0.0);
    EXPECT_TRUE(mesh->calibrationOffsets().empty());

    // An empty table while a calibration is applied leaves that calibration, which
    // one revert then takes back.
    ASSERT_TRUE(mesh->applyXyCalibration(table, table, kOrigin));
    const std::vector<Vector3D> shifted = positions(*mesh);
    EXPECT_FALSE(mesh->applyXyCalibration({}, {}, kOrigin));
    expectPositions(*mesh, shifted, 0.0);
    EXPECT_TRUE(mesh->revertXyCalibration());
    EXPECT_FALSE(mesh->revertXyCalibration());
    expectPositions(*mesh, before, 1e-12);
}
