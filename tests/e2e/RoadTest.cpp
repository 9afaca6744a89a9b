// The whole road through the real main window under the virtual X server, as a
// user drives it; after each step the test looks at what the user would see
// or get: the view's pixels, the log, the object list, the files written.
#include "Road.h"

#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using road::countColours;

// The torus's part of the view: its screen box right of the sphere's, which
// stands in front of it.
QRect torusRegion(road::Road& r) {
    const QRect t = r.screenBox(r.torus);
    return QRect(QPoint(r.screenBox(r.sphere).right() + 5, t.top()), t.bottomRight());
}

TEST(Road, importSelectSupportAndEditThroughTheWindow) {
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

    // Key G: supports under the sphere, drawn in their colour below it.
    const std::size_t commandsBefore = r.window->commandManager()->undoCount();
    ASSERT_TRUE(r.generateSupports());
    EXPECT_EQ(r.window->commandManager()->undoCount(), commandsBefore + 1);
    const int cones = r.liveCones(r.sphere);
    EXPECT_GT(cones, 3);
    EXPECT_EQ(r.liveCones(r.torus), 0);
    {
        const QImage shot = r.screenshot();
        const QRect box = r.screenBox(r.sphere);
        const road::ColourCount c = countColours(shot, box);
        EXPECT_GT(c.support, c.total / 50);
        const road::ColourCount t = countColours(shot, torusRegion(r));
        EXPECT_LT(t.support, t.total / 100);
    }

    // Key A and a click on the sphere: one cone more, one command more.
    ASSERT_TRUE(r.addSupportPoint());
    EXPECT_EQ(r.liveCones(r.sphere), cones + 1);
    EXPECT_EQ(r.window->commandManager()->undoCount(), commandsBefore + 2);
    // Key D and a click on a cone: one fewer.
    ASSERT_TRUE(r.deleteSupportPoint());
    EXPECT_EQ(r.liveCones(r.sphere), cones);
    EXPECT_EQ(r.window->commandManager()->undoCount(), commandsBefore + 3);
    // Undo brings the deleted cone back, Redo deletes it again.
    r.undo();
    EXPECT_EQ(r.liveCones(r.sphere), cones + 1);
    r.redo();
    EXPECT_EQ(r.liveCones(r.sphere), cones);
}

} // namespace
