// The slice preview through the main window: its button opens and closes the
// panel while objects are moved, unloaded and imported again through the
// window's command road and the height changes; afterwards the preview shows
// the final scene's cross-section. A hang here is a deadlock between the
// GUI thread and the slicing thread.
#include "MeshFixtures.h"
#include "SceneFixtures.h"
#include "app/MemoryCheck.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"
#include "view/Manipulator.h"
#include "view/SliceRender.h"
#include "view/SliceTesselator.h"
#include "view/SlicingThread.h"
#include "view/ZSliceDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QSlider>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

namespace {

double recordsArea(SliceRender* renderer, size_t* count) {
    double area = 0.0;
    renderer->visitRecords([&](const std::vector<SliceRender::Record>& records, double) {
        *count = records.size();
        for (const auto& r : records)
            area += triangleAreaXY(r.fillVertices, r.fillIndices);
    });
    return area;
}

} // namespace

TEST(SlicePreviewWindow, openCloseWhileTheSceneChangesThroughTheWindow) {
    installMemoryCheck([](const uint64_t&) { return true; });
    MainWindow* window = MainWindow::instance();
    ObjectTable* table = ObjectTable::instance();
    table->deleteAllObjects();
    window->commandManager()->clear();
    QTemporaryDir dir;
    const QString cubeFile = dir.filePath("cube.stl");
    const QString ballFile = dir.filePath("ball.stl");
    ASSERT_TRUE(scenefixtures::writeBinaryStl(cubeFile, meshfixtures::cube(10.0)));
    ASSERT_TRUE(scenefixtures::writeBinaryStl(ballFile, meshfixtures::icosphere(6.0, 4)));
    auto import = [&](const QStringList& files) {
        const int before = window->commandManager()->undoCount();
        table->importObjects(files);
        ASSERT_TRUE(scenefixtures::runEventsUntil(
            [&] { return !table->importsRunning() && int(window->commandManager()->undoCount()) > before; },
            30000));
    };
    auto* button = window->findChild<QAbstractButton*>("_btnZSliceView");
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled());

    // An empty scene: no thread runs, the slider rests at 50 of 100.
    button->click();
    auto* panel = window->findChild<ZSliceDlg*>("ZSliceDlg");
    ASSERT_NE(panel, nullptr);
    // However short the view, the panel keeps room for its slider and buttons.
    EXPECT_GE(panel->height(), 100);
    EXPECT_FALSE(panel->thread()->isRunning());
    EXPECT_EQ(panel->slider()->value(), 50);
    EXPECT_EQ(panel->slider()->maximum(), 100);
    button->click();

    // One 10 mm cube on the platform opens at 5.0 with the slider at 100 of 200.
    import({cubeFile});
    button->click();
    EXPECT_FLOAT_EQ(panel->currentHeight(), 5.0f);
    EXPECT_EQ(panel->slider()->value(), 100);
    EXPECT_EQ(panel->slider()->maximum(), 200);
    EXPECT_TRUE(panel->thread()->isRunning());
    button->click();
    EXPECT_FALSE(panel->thread()->isRunning());

    import({ballFile, cubeFile});
    std::mt19937 random(7);
    for (int cycle = 0; cycle < 200; ++cycle) {
        button->click(); // open
        for (int step = 0; step < 2; ++step) {
            table->selectAll(false);
            if (table->count() > 0)
                table->objectAt(int(random() % table->count()))->setSelected(true);
            switch (random() % 5) {
            case 0:
            case 1: {
                const double d[3] = {double(random() % 7) - 3.0, 1.0, (random() % 2) ? 0.5 : -0.5};
                window->pushCommand(new TranslateCmd(TranslateCmd::ByOffset, d), true);
                break;
            }
            case 2:
                if (table->count() > 1)
                    window->pushCommand(new UnloadObjectCmd(-1), true);
                break;
            case 3: {
                // A turn baked into the selected mesh (its box and octree are
                // then rebuilt on the object's worker).
                const double angle = 0.3, centre[3] = {5, 5, 5}, axis[3] = {0, 0, 1};
                topolib::Matrix4D turn;
                topolib::makeAxisRotationMatrix(&angle, centre, axis, turn);
                for (ObjectEx* obj : table->objects())
                    if (obj->isSelected())
                        obj->setTransform(turn);
                window->pushCommand(new RoateCmd(), true);
                break;
            }
            default:
                if (random() % 4 == 0)
                    window->menuEditUndo();
                break;
            }
            panel->heightBox()->setValue(0.5 + (random() % 80) * 0.1);
            QCoreApplication::processEvents();
        }
        // Now and then the worker is let finish, so cuts run between changes.
        if (cycle % 10 == 0 && panel->thread()->isRunning()) {
            const int done = panel->thread()->finishedCount();
            panel->heightBox()->setValue(panel->heightBox()->value() + 0.05);
            ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return panel->thread()->finishedCount() > done; },
                                                      30000));
        }
        if (cycle % 40 == 39)
            import({ballFile});
        button->click(); // close
        ASSERT_FALSE(panel->thread()->isRunning()) << "cycle " << cycle;
    }

    // Opened again, the preview shows the final scene at the box's height.
    table->selectAll(true);
    window->pushCommand(new TranslateCmd(TranslateCmd::OntoPlatform, std::array<double, 3>{0, 0, 0}.data()),
                        true);
    button->click();
    panel->heightBox()->setValue(3.0);
    // Until the cut at 3.0 is published (an earlier height may finish first).
    ASSERT_TRUE(scenefixtures::runEventsUntil(
        [&] {
            bool atThree = false;
            panel->renderer()->visitRecords([&](const std::vector<SliceRender::Record>& records, double h) {
                atThree = !records.empty() && float(h) == 3.0f;
            });
            return atThree;
        },
        30000));
    size_t shown = 0;
    const double area = recordsArea(panel->renderer(), &shown);
    double expected = 0.0;
    size_t visible = 0;
    for (ObjectEx* obj : table->objects()) {
        if (!obj->isVisible() || !obj->isReady())
            continue;
        ++visible;
        SliceRender single(nullptr);
        single.setSources({{obj, obj}});
        ASSERT_TRUE(single.computeAt(3.0f));
        size_t one = 0;
        expected += recordsArea(&single, &one);
    }
    EXPECT_EQ(shown, visible);
    EXPECT_GT(expected, 0.0);
    EXPECT_NEAR(area, expected, 1e-9 * expected);

    // Generate Support lifts the models 5 mm above the platform outside the
    // command: the preview drops the cut at 3.0 and cuts the lifted scene,
    // where nothing is left at that height.
    auto* supportButton = window->findChild<QAbstractButton*>("_btnGenerateSupport");
    ASSERT_NE(supportButton, nullptr);
    supportButton->click();
    auto* generate = window->findChild<QAbstractButton*>("_btnGenerate");
    ASSERT_NE(generate, nullptr);
    // The lift tells the view of the new selection box right after moving
    // the meshes: slicing must already be paused then.
    auto* handle = dynamic_cast<TransformHandle*>(window->glWidget()->manipulator());
    if (!handle)
        handle = TransformHandle::install(window->glWidget());
    int boxUpdates = 0, pausedAtUpdate = 0;
    const QMetaObject::Connection watch = QObject::connect(handle, &TransformHandle::selectionBoxChanged, [&] {
        ++boxUpdates;
        pausedAtUpdate += panel->thread()->isPaused() ? 1 : 0;
    });
    const int cuts = panel->thread()->finishedCount();
    generate->click();
    QObject::disconnect(watch);
    EXPECT_GT(boxUpdates, 0);
    EXPECT_EQ(pausedAtUpdate, boxUpdates);
    EXPECT_EQ(recordsArea(panel->renderer(), &shown), 0.0);
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return panel->thread()->finishedCount() > cuts; }, 30000));
    EXPECT_EQ(recordsArea(panel->renderer(), &shown), 0.0);
    supportButton->click();
    button->click();
    table->deleteAllObjects();
    window->commandManager()->clear();
}
