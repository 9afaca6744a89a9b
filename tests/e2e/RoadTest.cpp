// The whole road through the real main window under the virtual X server, as a
// user drives it; after each step the test looks at what the user would see
// or get: the view's pixels, the log, the object list, the files written.
#include "Road.h"
#include "SceneFixtures.h"

#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "topolib/StlTriangle.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"
#include "view/ViewCamera.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <quazip/quazip.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using road::countColours;

// The torus's part of the view: its screen box right of the sphere's, which
// stands in front of it.
std::array<double, 6> boxOf(const ObjectEx* o) {
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    o->waitForBoxJobs();
    o->readBox(lo, hi);
    return {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
}

int liveTriangles(const ObjectEx* o) {
    int n = 0;
    for (const topolib::StlTriangle* t : o->triangles())
        n += t && !t->isDeleted() ? 1 : 0;
    return n;
}

// The entry names of a project archive.
QStringList projectEntries(const QString& path) {
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return {};
    return zip.getFileNameList();
}

QRect torusRegion(road::Road& r) {
    const QRect t = r.screenBox(r.torus);
    return QRect(QPoint(r.screenBox(r.sphere).right() + 5, t.top()), t.bottomRight());
}

TEST(Road, aUsersWholeRoadThroughTheWindow) {
    if (!qApp)
        GTEST_SKIP() << "no display";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    road::Road r(dir.path());
    r.writeModels();

    // Start: the window, the run's log with the system and driver reports.
    ASSERT_TRUE(r.start());
    {
        // Right of the tool buttons and below the orientation cube: platform
        // and background only (the axes' few red pixels aside).
        const QImage shot = r.screenshot();
        const road::ColourCount all = countColours(shot, shot.rect().adjusted(60, 120, 0, 0));
        EXPECT_EQ(all.cyan, 0);
        EXPECT_LT(all.support, 200);
        const QString log = r.logText();
        EXPECT_TRUE(log.contains("Total Number of Extensions"));
    }

    // Import both files through the button and the dialog: two objects,
    // both shown in the selected shade, the log names them.
    ASSERT_TRUE(r.importModels());
    ObjectTable* table = ObjectTable::instance();
    ASSERT_EQ(table->count(), 2);
    EXPECT_EQ(table->triangleCount(false), 1000000 + 1280);
    EXPECT_EQ(r.window->commandManager()->undoCount(), 1u);
    {
        const QString log = r.logText();
        EXPECT_EQ(log.count("----- Import object: begin -----"), 2);
        EXPECT_EQ(log.count("----- Import object: end -----"), 2);
        EXPECT_TRUE(log.contains("sphere.stl"));
        EXPECT_TRUE(log.contains("torus.stl"));
        const QImage shot = r.screenshot();
        for (const ObjectEx* o : {r.sphere, r.torus}) {
            const road::ColourCount c = countColours(shot, r.screenBox(o));
            EXPECT_GT(c.cyan, c.total / 5) << o->name().toStdString();
        }
        // The two objects do not overlap on the platform.
        double a0[3], a1[3], b0[3], b1[3];
        ASSERT_TRUE(r.sphere->readBox(a0, a1));
        ASSERT_TRUE(r.torus->readBox(b0, b1));
        EXPECT_TRUE(a1[0] < b0[0] || b1[0] < a0[0] || a1[1] < b0[1] || b1[1] < a0[1]);
        EXPECT_NEAR(a0[2], 0.0, 1e-6);
        EXPECT_NEAR(b0[2], 0.0, 1e-6);
    }

    // A click on the sphere selects it alone: the torus turns grey.
    ASSERT_TRUE(r.selectSphere());
    EXPECT_EQ(table->selectedObjectCount(), 1);
    {
        const QImage shot = r.screenshot();
        const road::ColourCount s = countColours(shot, r.screenBox(r.sphere));
        const road::ColourCount t = countColours(shot, torusRegion(r));
        EXPECT_GT(s.cyan, s.total / 5);
        EXPECT_LT(t.cyan, t.total / 50);
        EXPECT_GT(t.grey, t.total / 5);
    }

    // The Orientate button and a drag of the +X arrow: the sphere moves
    // along X by whole millimetres, and its shade follows it on the screen.
    CommandManager* history = r.window->commandManager();
    const std::array<double, 6> original = boxOf(r.sphere);
    std::size_t commands = history->undoCount();
    ASSERT_TRUE(r.moveSphere());
    ASSERT_EQ(history->undoCount(), commands + 1);
    const std::array<double, 6> moved = boxOf(r.sphere);
    const double dx = moved[0] - original[0];
    EXPECT_GT(dx, 1.0);
    EXPECT_NEAR(dx, std::round(dx), 1e-6);
    for (int i : {1, 2, 4, 5})
        EXPECT_NEAR(moved[i], original[i], 1e-6);
    {
        const QImage shot = r.screenshot();
        const road::ColourCount c = countColours(shot, r.screenBox(r.sphere));
        EXPECT_GT(c.cyan, c.total / 5);
    }
    // A drag round the Z ring: one rotation, the vertices turn about the
    // box's vertical axis (the height range stays).
    const auto beforeTurn = scenefixtures::vertexPositions(*r.sphere);
    ASSERT_TRUE(r.rotateSphere());
    ASSERT_EQ(history->undoCount(), commands + 2);
    const auto turned = scenefixtures::vertexPositions(*r.sphere);
    EXPECT_GT(scenefixtures::maxDifference(beforeTurn, turned), 1.0);
    EXPECT_NEAR(boxOf(r.sphere)[2], moved[2], 1e-6);
    EXPECT_NEAR(boxOf(r.sphere)[5], moved[5], 1e-6);

    // Undo twice: back where it was imported; Redo twice: turned again.
    r.undo();
    EXPECT_LT(scenefixtures::maxDifference(scenefixtures::vertexPositions(*r.sphere), beforeTurn), 1e-6);
    r.undo();
    const std::array<double, 6> back = boxOf(r.sphere);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(back[i], original[i], 1e-6);
    r.redo();
    r.redo();
    EXPECT_LT(scenefixtures::maxDifference(scenefixtures::vertexPositions(*r.sphere), turned), 1e-6);
    EXPECT_EQ(history->undoCount(), commands + 2);

    // The Scale button, factor 50 % in X with the ratio kept, Apply: the
    // turned sphere (a turn changes no scale: it still reads 100 %) scaled by
    // one half in every direction, one command.
    const std::array<double, 6> whole = boxOf(r.sphere);
    ASSERT_TRUE(r.scaleSphereHalf());
    EXPECT_EQ(history->undoCount(), commands + 3);
    const std::array<double, 6> half = boxOf(r.sphere);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(half[i + 3] - half[i], (whole[i + 3] - whole[i]) * 0.5, 1e-6);
    EXPECT_EQ(r.torus->triangleCount(), 1000000u);

    // Key G: supports under the sphere, drawn in their colour below it.
    commands = history->undoCount();
    ASSERT_TRUE(r.generateSupports());
    EXPECT_EQ(history->undoCount(), commands + 1);
    const int cones = r.liveCones(r.sphere);
    EXPECT_GT(cones, 3);
    EXPECT_EQ(r.liveCones(r.torus), 0);
    {
        const QImage shot = r.screenshot();
        const road::ColourCount c = countColours(shot, r.screenBox(r.sphere));
        EXPECT_GT(c.support, c.total / 50);
        const road::ColourCount t = countColours(shot, torusRegion(r));
        EXPECT_LT(t.support, t.total / 100);
    }

    // Key A and a click on the sphere: one cone more, one command more.
    ASSERT_TRUE(r.addSupportPoint());
    EXPECT_EQ(r.liveCones(r.sphere), cones + 1);
    EXPECT_EQ(history->undoCount(), commands + 2);
    // Key D and a click on a cone: one fewer.
    ASSERT_TRUE(r.deleteSupportPoint());
    EXPECT_EQ(r.liveCones(r.sphere), cones);
    EXPECT_EQ(history->undoCount(), commands + 3);

    // The torus hollowed with a 2 mm wall and one drain hole through its top:
    // one command; the object list holds the hollowed copy in its place, with
    // an inner shell (more triangles) and a hole (the surface opened and
    // closed again by the hole's wall).
    const std::size_t beforeHollow = history->undoCount();
    ObjectEx* solid = r.torus;
    const uint32_t solidTriangles = solid->triangleCount();
    ASSERT_TRUE(r.hollowTorus());
    EXPECT_EQ(history->undoCount(), beforeHollow + 1);
    ASSERT_EQ(table->count(), 2);
    EXPECT_NE(r.torus, solid);
    EXPECT_GT(r.torus->triangleCount(), solidTriangles);
    EXPECT_EQ(r.liveCones(r.sphere), cones);
    {
        // Hollowed and solid look alike from outside; the top is opened by
        // the hole, which shows the dark inside.
        const QImage shot = r.screenshot();
        const road::ColourCount t = countColours(shot, torusRegion(r));
        EXPECT_GT(t.grey + t.cyan, t.total / 5);
    }

    // The slice preview: a cross-section at the scene's middle height, then
    // low and high by the slider; the view above the cut is cleared, so the
    // torus shows more of itself at the higher cut.
    ASSERT_TRUE(r.openSlicePreview());
    ASSERT_TRUE(r.moveSliceSlider(20));
    const double low = r.sliceHeight();
    const road::ColourCount lowCut = countColours(r.screenshot(), torusRegion(r));
    ASSERT_TRUE(r.moveSliceSlider(80));
    const double high = r.sliceHeight();
    const road::ColourCount highCut = countColours(r.screenshot(), torusRegion(r));
    EXPECT_GT(high, low + 1.0);
    EXPECT_GT(lowCut.section, lowCut.total / 100);
    EXPECT_GT(highCut.section, highCut.total / 100);
    EXPECT_NE(lowCut.grey + lowCut.cyan, highCut.grey + highCut.cyan);

    // File > Save Project: one archive with the descriptor, both objects'
    // geometry and the sphere's supports.
    const QString project = dir.filePath("road.vpf");
    const int sphereTriangles = liveTriangles(r.sphere), torusTriangles = liveTriangles(r.torus);
    ViewCamera& camera = r.window->glWidget()->camera();
    const CameraState savedView = camera.state();
    ASSERT_TRUE(r.saveProject(project));
    {
        const QStringList entries = projectEntries(project);
        EXPECT_TRUE(entries.contains("VlrProDesc.xml")) << entries.join(' ').toStdString();
        EXPECT_EQ(entries.filter(QRegularExpression("^ObjGeo/.*\\.vsg$")).size(), 2);
        EXPECT_EQ(entries.filter(QRegularExpression("^Support/.*\\.xml$")).size(), 1);
    }
    // File > New Project: an empty scene and no history.
    ASSERT_TRUE(r.newProject());
    EXPECT_EQ(history->undoCount(), 0u);
    {
        const QImage shot = r.screenshot();
        const road::ColourCount all = countColours(shot, shot.rect().adjusted(60, 120, 0, 0));
        EXPECT_EQ(all.cyan + all.support, 0);
    }
    // File > Open Project: both objects back with their triangles and the
    // sphere's cones, and the view as it was saved.
    camera.setZoom(savedView.zoom * 3);
    camera.rotateDrag(60, 20);
    ASSERT_TRUE(r.openProject(project, 2));
    // The descriptor holds six significant digits of each number.
    const auto sameStored = [](double back, double saved) {
        return std::fabs(back - saved) <= 1e-5 * std::max(1.0, std::fabs(saved));
    };
    EXPECT_TRUE(sameStored(camera.zoom, savedView.zoom)) << camera.zoom << " " << savedView.zoom;
    for (int k = 0; k < 16; ++k)
        EXPECT_TRUE(sameStored(camera.modelView[k], savedView.modelView[k])) << k;
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(sameStored(camera.renderCenter[k], savedView.renderCenter[k])) << k;
    EXPECT_EQ(liveTriangles(r.sphere), sphereTriangles);
    EXPECT_EQ(liveTriangles(r.torus), torusTriangles);
    EXPECT_EQ(r.liveCones(r.sphere), cones);
    EXPECT_TRUE(r.logText().contains("PROJECT-OPEN"));

    // G-code of the sphere with its supports through the real slicer: one
    // layer per 0.05 mm of its height, each announced in the file.
    const QString gcode = dir.filePath("sphere.gcode");
    double lo[3], hi[3];
    ASSERT_TRUE(r.sphere->readBox(lo, hi));
    const int layers = r.exportSphereGcode(gcode);
    EXPECT_NEAR(layers, hi[2] / 0.05, 2.0);
    QFile file(gcode);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains(";LAYER_COUNT:" + QByteArray::number(layers)));
    EXPECT_EQ(text.count("\n;LAYER:"), layers);
    EXPECT_TRUE(r.messages.isEmpty()) << r.messages.join(" | ").toStdString();
}

} // namespace
