// The slice preview's core without a window or GL context: tessellation of
// cross-sections into fill triangles, the renderer's records, and the slicing
// thread's cooperative pause and stop while the scene changes under it.
#include "MeshFixtures.h"
#include "app/Log.h"
#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "view/SliceRender.h"
#include "view/SliceTesselator.h"
#include "view/SlicingThread.h"

#include <GL/glu.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>

using meshfixtures::buildMesh;

namespace {

struct SliceCase {
    const char* name;
    meshfixtures::TriangleSoup soup;
    double z;
    size_t contours;
    double area;
};

// A 30 × 15 × 10 box centred on the origin, turned by 30 degrees about x.
meshfixtures::TriangleSoup tiltedBox() {
    meshfixtures::TriangleSoup s = meshfixtures::box({30.0, 15.0, 10.0}, {-15.0, -7.5, -5.0});
    const double c = std::cos(M_PI / 6.0), sn = std::sin(M_PI / 6.0);
    for (meshfixtures::Facet& f : s)
        for (meshfixtures::Point& p : f.v)
            p = {p[0], c * p[1] - sn * p[2], sn * p[1] + c * p[2]};
    return s;
}

// The ring between the torus's outer and inner equator polygons (64 sides).
double torusEquatorArea(double major, double minor) {
    const double polygon = 32.0 * std::sin(2.0 * M_PI / 64.0);
    return polygon * ((major + minor) * (major + minor) - (major - minor) * (major - minor));
}

double recordArea(const SliceRender::Record& r) {
    return triangleAreaXY(r.fillVertices, r.fillIndices);
}

// Waits (processing events) until pred holds or 30 s have passed.
template <class Pred> bool waitFor(Pred pred) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > 30000)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return true;
}

} // namespace

TEST(SlicePreview, crossSectionsFillExactlyTheMaterial) {
    const std::vector<SliceCase> cases = {
        {"10 mm cube at 5", meshfixtures::cube(10.0), 5.0, 1, 100.0},
        {"box below the platform", meshfixtures::box({4.0, 5.0, 6.0}, {-2.0, 1.0, -6.0}), -3.0, 1, 20.0},
        // Two overlapping cubes cut where both are: the union of two squares,
        // the overlap counted once (non-zero winding).
        {"overlapping cubes", meshfixtures::overlappingCubes(10.0), 7.0, 2, 175.0},
        {"above the cube", meshfixtures::cube(10.0), 12.0, 0, 0.0},
        // Cut through the ring of vertices of its equator: the hole stays open.
        {"torus at its equator", meshfixtures::torus(20.0, 6.0, 64, 32, {0.0, 0.0, 6.0}), 6.0, 2,
         torusEquatorArea(20.0, 6.0)},
        // The cut through a tilted box is 30 long and 15 / cos 30° wide.
        {"tilted box", tiltedBox(), 0.5, 1, 30.0 * 15.0 / std::cos(M_PI / 6.0)},
    };
    for (const SliceCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = buildMesh(c.soup);
        SliceRender renderer(nullptr);
        renderer.setSources({{nullptr, mesh.get()}});
        ASSERT_TRUE(renderer.computeAt(static_cast<float>(c.z)));
        renderer.visitRecords([&](const std::vector<SliceRender::Record>& records, double height) {
            ASSERT_EQ(records.size(), 1u);
            EXPECT_FLOAT_EQ(static_cast<float>(height), static_cast<float>(c.z));
            const SliceRender::Record& r = records[0];
            if (c.contours == 0) {
                EXPECT_EQ(r.contours, nullptr);
                EXPECT_TRUE(r.fillIndices.empty());
                return;
            }
            ASSERT_NE(r.contours, nullptr);
            EXPECT_EQ(r.contours->contours.size(), c.contours);
            EXPECT_NE(r.contours->contourAt(static_cast<unsigned>(c.contours) - 1), nullptr);
            EXPECT_EQ(r.contours->contourAt(static_cast<unsigned>(c.contours)), nullptr);
            EXPECT_EQ(r.fillIndices.size() % 3, 0u);
            EXPECT_NEAR(recordArea(r), c.area, 1e-6 * c.area);
            for (const auto& v : r.fillVertices)
                EXPECT_FLOAT_EQ(static_cast<float>(v[2]), static_cast<float>(c.z));
        });
    }
}

TEST(SlicePreview, squareWithHoleLeavesTheHoleOpen) {
    // An outer square counter-clockwise and a hole clockwise, as slicing gives
    // them: 20 × 20 less 6 × 6.
    const std::vector<GluTesselator::Contour> contours = {
        {{0, 0, 1}, {20, 0, 1}, {20, 20, 1}, {0, 20, 1}},
        {{7, 7, 1}, {7, 13, 1}, {13, 13, 1}, {13, 7, 1}},
    };
    GluTesselator tess(contours, GLU_TESS_WINDING_NONZERO);
    tess.tessellate();
    EXPECT_EQ(tess.vertices().size(), 8u);
    EXPECT_NEAR(triangleAreaXY(tess.vertices(), tess.indices()), 364.0, 1e-9);
}

TEST(SlicePreview, missingTessellatorIsLoggedAndOutlinesStay) {
    QTemporaryDir dir;
    const std::string logPath = (dir.path() + "/run.log").toStdString();
    logStream().close();
    ASSERT_TRUE(logOpen(logPath));

    const GluTesselator::TessFactory failing = []() -> void* { return nullptr; };
    GluTesselator direct({{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}, GLU_TESS_WINDING_NONZERO, failing);
    try {
        direct.tessellate();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Creation of tesselation object failed.");
    }
    auto mesh = buildMesh(meshfixtures::cube(10.0));
    SliceRender renderer(nullptr);
    renderer.setSources({{nullptr, mesh.get()}});
    renderer.setTessFactory(failing);
    EXPECT_TRUE(renderer.computeAt(5.0f));
    logStream().close();

    renderer.visitRecords([](const std::vector<SliceRender::Record>& records, double) {
        ASSERT_EQ(records.size(), 1u);
        ASSERT_NE(records[0].contours, nullptr);
        EXPECT_EQ(records[0].contours->contours.size(), 1u);
        EXPECT_TRUE(records[0].fillFailed);
        EXPECT_TRUE(records[0].fillIndices.empty());
    });
    QFile f(QString::fromStdString(logPath));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Creation of tesselation object failed."));
}

// The GUI side of the stress test: objects are moved, deleted and re-made and
// the height changes while the thread slices, each change bracketed by a pause;
// the preview is opened and closed (started and stopped) 200 times. After every
// pause no computation may run, and after the last resume the records must
// match the final scene.
TEST(SlicePreview, openCloseCyclesWhileTheSceneChanges) {
    SliceRender renderer(nullptr);
    SlicingThread thread;
    thread.setRenderer(&renderer);

    std::vector<std::unique_ptr<topolib::StlObject>> meshes;
    auto relist = [&] {
        std::vector<SliceRender::Source> sources;
        for (auto& m : meshes)
            sources.push_back({nullptr, m.get()});
        renderer.setSources(std::move(sources));
    };
    for (int i = 0; i < 3; ++i)
        meshes.push_back(buildMesh(meshfixtures::icosphere(5.0, 4, {12.0 * i, 0.0, 5.0})));
    relist();

    std::mt19937 random(11);
    float height = 5.0f;
    for (int cycle = 0; cycle < 200; ++cycle) {
        thread.setHeight(&height);
        thread.start();
        for (int step = 0; step < 3; ++step) {
            thread.pause();
            renderer.clearRecords();
            switch (random() % 3) {
            case 0: {
                const double d[3] = {0.5, -0.25, (random() % 2) ? 0.3 : -0.3};
                meshes[random() % meshes.size()]->translate(d);
                break;
            }
            case 1:
                meshes.erase(meshes.begin() + static_cast<long>(random() % meshes.size()));
                break;
            default:
                break;
            }
            if (meshes.size() < 3)
                meshes.push_back(buildMesh(meshfixtures::icosphere(5.0, 4, {12.0 * cycle, 0.0, 5.0})));
            relist();
            thread.resume();
            height = 1.0f + static_cast<float>(random() % 90) * 0.1f;
            thread.setHeight(&height);
            QCoreApplication::processEvents();
        }
        thread.stop();
        ASSERT_FALSE(thread.isRunning());
    }

    // The last height, computed to the end, matches a fresh slice of the scene.
    thread.start();
    ASSERT_TRUE(waitFor([&] { return thread.finishedCount() > 0 && thread.requestedHeight() == height; }));
    const int before = thread.finishedCount();
    thread.setHeight(&height);
    ASSERT_TRUE(waitFor([&] { return thread.finishedCount() > before; }));
    thread.stop();
    double area = 0.0;
    renderer.visitRecords([&](const std::vector<SliceRender::Record>& records, double h) {
        EXPECT_FLOAT_EQ(static_cast<float>(h), height);
        EXPECT_EQ(records.size(), meshes.size());
        for (const auto& r : records)
            area += recordArea(r);
    });
    double expected = 0.0;
    for (auto& m : meshes) {
        SliceRender single(nullptr);
        single.setSources({{nullptr, m.get()}});
        ASSERT_TRUE(single.computeAt(height));
        single.visitRecords([&](const std::vector<SliceRender::Record>& records, double) {
            expected += recordArea(records[0]);
        });
    }
    EXPECT_GT(expected, 0.0);
    EXPECT_NEAR(area, expected, 1e-9 * expected);
}
