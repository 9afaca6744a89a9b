// The 3D view as a user meets it in the real main window under the virtual X
// server: the mouse comes through the window system (so Qt derives its own
// context-menu event from the right button, as it does for a real mouse), and
// screenshots are judged by colour in regions the camera projects.
#include "Road.h"
#include "SceneFixtures.h"

#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "src/Features/lcm/HollowContext.h"
#include "src/Features/lcm/HollowDlg.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"
#include "view/Manipulator.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Notes every menu the view asks for (its context menu request), at which step
// of the test and with what the window's menu offers, and closes every popup
// menu as soon as it shows. The request is noted, not the menu window: other
// test programs share the display, and a popup of theirs holding the pointer
// can keep this one from showing at all.
class PopupWatch {
public:
    struct Seen {
        int step;
        QStringList entries;
    };
    PopupWatch() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu && menu->isVisible())
                menu->close();
        });
        m_timer.start();
    }
    // Watches view's menu requests; menu is the menu the window shows for them.
    void watch(QWidget* view, const QMenu* menu) {
        QObject::connect(view, &QWidget::customContextMenuRequested, &m_timer, [this, menu] {
            QStringList entries;
            for (QAction* a : menu->actions())
                entries << a->text();
            seen.push_back({step, entries});
        });
    }
    int step = 0;
    std::vector<Seen> seen;

private:
    QTimer m_timer;
};

// The share of pixels that changed clearly between two shots of the view.
double changedShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 0.0;
    int changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            changed += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                               std::abs(qBlue(p) - qBlue(q)) >
                           60
                           ? 1
                           : 0;
        }
    return double(changed) / (a.width() * a.height());
}

class ViewInWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qApp)
            GTEST_SKIP() << "no display";
        ASSERT_TRUE(dir.isValid());
        // The display's real pointer (which other tests may have left over the
        // screen's middle) goes to a corner the window does not cover: X
        // would otherwise send the window real crossing and motion events,
        // with no buttons, between the test's presses and releases.
        if (QScreen* screen = QGuiApplication::primaryScreen())
            QCursor::setPos(screen->geometry().bottomRight());
        road = std::make_unique<road::Road>(dir.path());
        ASSERT_TRUE(road->start());
        view = road->window->glWidget();
        for (const QMenu* menu : road->window->findChildren<QMenu*>())
            if (!menu->actions().isEmpty() && menu->actions().first()->text() == "Quick Action")
                popups.watch(view, menu);
    }
    // A 20 mm cube imported through the Import button (framed by the import).
    ObjectEx* importCube() {
        const QString path = dir.filePath("cube.stl");
        if (!scenefixtures::writeBinaryStl(path, meshfixtures::cube(20.0)) || !road->importFiles({path}))
            return nullptr;
        ObjectEx* cube = ObjectTable::instance()->objects().back();
        cube->waitForJobs();
        view->updateGL();
        return cube;
    }
    QPoint screenOf(double x, double y, double z) const { return road->screenOf(x, y, z); }
    // The Hollow button with "Make Holes" on: the panel, the view placing holes.
    HollowDlg* openHollowPanelPlacingHoles() {
        road->window->toolButtons()[3]->click();
        auto* panel = road->window->findChild<HollowDlg*>();
        if (!panel || panel->isHidden())
            return nullptr;
        auto* makeHoles = panel->findChild<QCheckBox*>("_checkMakeHoles");
        if (!makeHoles->isChecked())
            makeHoles->click();
        view->updateGL();
        return view->mode() == ViewMode::PlaceHoles ? panel : nullptr;
    }
    void leftClick(const QPoint& p) {
        road->moveInView(p);
        road->pressInView(Qt::LeftButton, p);
        road->releaseInView(Qt::LeftButton, p);
    }
    // A right click one pixel wide; popups note kPressing or kReleasing.
    void rightClick(const QPoint& p) {
        popups.step = kPressing;
        road->pressInView(Qt::RightButton, p);
        popups.step = kReleasing;
        road->releaseInView(Qt::RightButton, p + QPoint(1, 0));
        popups.step = 0;
    }
    static constexpr int kPressing = 1, kReleasing = 2, kDragging = 3;

    QTemporaryDir dir;
    std::unique_ptr<road::Road> road;
    MainGLWidget* view = nullptr;
    PopupWatch popups;
};

// A right-drag turns the view and opens no menu; a right click opens "Quick
// Action" when the button comes up; in the hollowing panel a right click on a
// drain hole removes it and opens nothing, elsewhere it opens the menu.
TEST_F(ViewInWindow, rightButtonTurnsTheViewOrOpensQuickActionOnRelease) {
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    double lo[3], hi[3];
    ASSERT_TRUE(cube->readBox(lo, hi));
    const QPoint centre = screenOf((lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2);

    const QImage before = road->screenshot();
    double matrix[16];
    std::memcpy(matrix, view->camera().modelView, sizeof matrix);
    popups.step = kPressing;
    road->pressInView(Qt::RightButton, centre);
    popups.step = kDragging;
    for (int k = 1; k <= 6; ++k)
        road->moveInView(centre + QPoint(20 * k, 0));
    popups.step = kReleasing;
    road->releaseInView(Qt::RightButton, centre + QPoint(120, 0));
    EXPECT_TRUE(popups.seen.empty()) << "a menu opened at step " << popups.seen.front().step;
    EXPECT_NE(std::memcmp(matrix, view->camera().modelView, sizeof matrix), 0);
    EXPECT_GT(changedShare(before, road->screenshot()), 0.02);

    // A click: the menu comes up once, after the release.
    popups.seen.clear();
    rightClick(centre);
    ASSERT_EQ(popups.seen.size(), 1u);
    EXPECT_EQ(popups.seen[0].step, kReleasing);
    EXPECT_EQ(popups.seen[0].entries.value(0), "Quick Action");
    EXPECT_TRUE(popups.seen[0].entries.contains("Unload Selected"));

    // The hollowing panel: a left click on the top places a drain hole, a
    // right click on it removes it without a menu.
    road->releaseKey(Qt::Key_V);
    view->updateGL();
    HollowDlg* panel = openHollowPanelPlacingHoles();
    ASSERT_NE(panel, nullptr);
    const QPoint top = screenOf((lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, hi[2]);
    leftClick(top);
    ASSERT_EQ(panel->context()->holes().size(), 1u);
    view->updateGL();
    popups.seen.clear();
    rightClick(top);
    EXPECT_TRUE(panel->context()->holes().empty());
    EXPECT_TRUE(popups.seen.empty()) << popups.seen.front().entries.join(", ").toStdString();
    // Away from any hole the click is the menu's again.
    rightClick(QPoint(view->width() / 2, view->height() - 20));
    ASSERT_EQ(popups.seen.size(), 1u) << "mode " << static_cast<int>(view->mode()) << " holes " << panel->context()->holes().size()
                                      << " hidden " << panel->isHidden();
    EXPECT_EQ(popups.seen[0].step, kReleasing);
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
}

// After a ring rotation, and after Undo and Redo of it, the manipulator sits
// on the selection's new box along the world axes, and each arrow ends in a
// point cone: colour of its axis a few pixels beyond the arrow's line.
TEST_F(ViewInWindow, manipulatorArrowsEndInPointConesAlongWorldAxesAfterRotateAndRedo) {
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    road->window->toolButtons()[1]->click();
    ASSERT_EQ(view->mode(), ViewMode::Transform);
    auto* handle = dynamic_cast<TransformHandle*>(view->manipulator());
    ASSERT_NE(handle, nullptr);

    auto expectWorldFrameWithConeHeads = [&](const char* when) {
        SCOPED_TRACE(when);
        double lo[3], hi[3];
        ASSERT_TRUE(cube->readBox(lo, hi));
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(handle->boxCenter()[k], (lo[k] + hi[k]) / 2, 1e-6);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(handle->handleAxis(k)[i], i == k ? 1.0 : 0.0, 1e-12);
        }
        // Away from the handle, so that no part is drawn hovered (twice: Qt
        // drops a move to where the cursor already is).
        const QPoint away(view->width() / 2, view->height() - 10);
        road->moveInView(away + QPoint(1, 0));
        road->moveInView(away);
        EXPECT_EQ(handle->hoveredPart() % 8, 0);
        const QImage shot = road->screenshot();
        const double* c = handle->boxCenter();
        const double unit = 1.0 / view->zoom(); // one pixel, in millimetres
        // 8 pixels beyond the end of the line, where a cone still is and a
        // round head of 8 pixels is not; X red and Z blue (their rings keep
        // well inside these points on the screen).
        const double beyond = (100.0 + 30.0 + 8.0) * unit;
        struct Probe {
            int axis;
            double side;
            bool (*colour)(QRgb);
        } probes[] = {
            {0, 1, [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90; }},
            {0, -1, [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90; }},
            {2, 1, [](QRgb p) { return qBlue(p) > 150 && qRed(p) < 90 && qGreen(p) < 90; }},
            {2, -1, [](QRgb p) { return qBlue(p) > 150 && qRed(p) < 90 && qGreen(p) < 90; }},
        };
        for (const Probe& probe : probes) {
            double p[3] = {c[0], c[1], c[2]};
            p[probe.axis] += probe.side * beyond;
            const QPoint at = screenOf(p[0], p[1], p[2]);
            int hits = 0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    if (shot.rect().contains(at + QPoint(dx, dy)))
                        hits += probe.colour(shot.pixel(at + QPoint(dx, dy))) ? 1 : 0;
            EXPECT_GE(hits, 2) << "axis " << probe.axis << " side " << probe.side;
        }
    };
    expectWorldFrameWithConeHeads("before");
    const std::size_t commands = road->window->commandManager()->undoCount();
    ASSERT_TRUE(road->rotateSphere());
    ASSERT_EQ(road->window->commandManager()->undoCount(), commands + 1);
    expectWorldFrameWithConeHeads("after the ring rotation");
    road->undo();
    expectWorldFrameWithConeHeads("after Undo");
    road->redo();
    expectWorldFrameWithConeHeads("after Redo");
}

// A drain hole that ends in the wall (placed 1 mm in from the side, where a
// 2 mm wall leaves no cavity below it) is cut, and the user is told in the
// window that it does not reach the hollow inside.
TEST_F(ViewInWindow, drainHoleThatMissesTheCavityIsToldInTheWindow) {
    ObjectEx* cube = importCube();
    ASSERT_NE(cube, nullptr);
    double lo[3], hi[3];
    ASSERT_TRUE(cube->readBox(lo, hi));
    HollowDlg* panel = openHollowPanelPlacingHoles();
    ASSERT_NE(panel, nullptr);
    const QPoint nearSide = screenOf(lo[0] + 1.0, (lo[1] + hi[1]) / 2, hi[2]);
    leftClick(nearSide);
    ASSERT_EQ(panel->context()->holes().size(), 1u);
    EXPECT_NEAR(panel->context()->holes()[0]->position[0], lo[0] + 1.0, 0.3);
    EXPECT_TRUE(road->messages.isEmpty()) << road->messages.join(" | ").toStdString();

    panel->findChild<QPushButton*>("_btnOk")->click();
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return !road->messages.isEmpty(); }, 10000));
    // The hole is named, and the cavity it left closed is told.
    ASSERT_EQ(road->messages.size(), 1);
    EXPECT_TRUE(road->messages[0].startsWith(
        "Drain hole 1 does not reach the hollow inside.\n1 cavity has no drain hole and traps resin"))
        << road->messages[0].toStdString();
    // The hollowing itself went through: the hollowed copy took the cube's place.
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
    EXPECT_NE(ObjectTable::instance()->objects().back(), cube);
}

// A scene that reaches absurdly far (an object around -3e23, as a hostile
// file gives) is not framed: V, the framing after an import, right-drags and
// Undo all leave the platform and the orientation cube in view.
TEST_F(ViewInWindow, cameraKeepsThePlatformInViewWhenTheSceneIsAbsurdlyFar) {
    auto platformAndCubeShown = [&](const char* when) {
        SCOPED_TRACE(when);
        // Centres within a kilometre of the platform.
        for (const double* p : {view->camera().renderCenter, view->camera().rotationCenter})
            for (int k = 0; k < 3; ++k)
                EXPECT_LE(std::fabs(p[k]), 1e6) << k; // false for a NaN too
        const QImage shot = road->screenshot();
        int platform = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb p = shot.pixel(x, y);
                platform += qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) > 180 ? 1 : 0;
            }
        EXPECT_GT(platform, shot.width() * shot.height() / 50);
        // The cube's faces in the view's top-right corner.
        int faces = 0;
        const QRect corner(shot.width() - 200, 0, 200, 200);
        for (int y = corner.top(); y <= corner.bottom(); ++y)
            for (int x = corner.left(); x <= corner.right(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                const bool face = (c.red() > 230 && c.green() > 100 && c.green() < 150) ||
                                  (c.green() > 230 && c.red() > 100 && c.red() < 150) ||
                                  (c.blue() > 230 && c.red() > 100 && c.red() < 150);
                faces += face ? 1 : 0;
            }
        EXPECT_GT(faces, 200);
    };
    platformAndCubeShown("at the start");

    auto* far = new ObjectEx();
    meshfixtures::fillMesh(*far, meshfixtures::cube(1e20, {-3e23, -3e23, -3e23}));
    far->rebuildOctree();
    far->setLoaded(true);
    ObjectTable::instance()->addObject(far);
    road->releaseKey(Qt::Key_V);
    platformAndCubeShown("after V");

    const QPoint centre(view->width() / 2, view->height() / 2);
    road->pressInView(Qt::RightButton, centre);
    for (int k = 1; k <= 6; ++k)
        road->moveInView(centre + QPoint(15 * k, 10 * k));
    road->releaseInView(Qt::RightButton, centre + QPoint(90, 60));
    road->releaseKey(Qt::Key_V);
    platformAndCubeShown("after a right-drag and V");

    ASSERT_NE(importCube(), nullptr);
    platformAndCubeShown("after an import");
    road->undo();
    road->releaseKey(Qt::Key_V);
    platformAndCubeShown("after Undo and V");
}

} // namespace
