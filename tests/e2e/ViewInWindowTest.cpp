// The 3D view as a user meets it in the real main window under the virtual X
// server: the mouse comes through the window system (so Qt derives its own
// context-menu event from the right button, as it does for a real mouse), and
// screenshots are judged by colour in regions the camera projects.
#include "Road.h"
#include "SceneFixtures.h"

#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "src/Features/lcm/HollowContext.h"
#include "src/Features/lcm/HollowDlg.h"
#include "ui/MainWindow.h"
#include "view/MainGLWidget.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Closes every popup menu as soon as it shows and notes at which step of the
// test it came up and what it offered.
class PopupWatch {
public:
    struct Seen {
        int step;
        QStringList entries;
    };
    PopupWatch() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return;
            QStringList entries;
            for (QAction* a : menu->actions())
                entries << a->text();
            seen.push_back({step, entries});
            menu->close();
        });
        m_timer.start();
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
        road = std::make_unique<road::Road>(dir.path());
        ASSERT_TRUE(road->start());
        view = road->window->glWidget();
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
    road->window->toolButtons()[3]->click();
    auto* panel = road->window->findChild<HollowDlg*>();
    ASSERT_TRUE(panel && !panel->isHidden());
    auto* makeHoles = panel->findChild<QCheckBox*>("_checkMakeHoles");
    if (!makeHoles->isChecked())
        makeHoles->click();
    ASSERT_EQ(view->mode(), 7);
    view->updateGL();
    const QPoint top = screenOf((lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, hi[2]);
    road->moveInView(top);
    road->pressInView(Qt::LeftButton, top);
    road->releaseInView(Qt::LeftButton, top);
    ASSERT_EQ(panel->context()->holes().size(), 1u);
    view->updateGL();
    popups.seen.clear();
    rightClick(top);
    EXPECT_TRUE(panel->context()->holes().empty());
    EXPECT_TRUE(popups.seen.empty()) << popups.seen.front().entries.join(", ").toStdString();
    // Away from any hole the click is the menu's again.
    rightClick(QPoint(view->width() / 2, view->height() - 20));
    ASSERT_EQ(popups.seen.size(), 1u);
    EXPECT_EQ(popups.seen[0].step, kReleasing);
    EXPECT_EQ(ObjectTable::instance()->count(), 1);
}

} // namespace
