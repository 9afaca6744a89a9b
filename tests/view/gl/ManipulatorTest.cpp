// The move-and-rotate manipulator driven through the view's own mouse and key
// events (buttons set on every move), in a top view under the virtual X
// server: picking the arrows and rings needs GL selection.
#include "view/Manipulator.h"
#include "MeshFixtures.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"
#include "view/MainGLWidget.h"
#include "view/VlDoubleSpinBox.h"

#include <QApplication>
#include <QGLContext>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iterator>

namespace {

class Manipulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qApp, nullptr);
        setSceneHost(&host);
        view = new MainGLWidget(new QGLContext(QGLFormat()));
        view->resize(800, 600);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
        ASSERT_TRUE(view->isValid());
        obj = new ObjectEx();
        meshfixtures::fillMesh(*obj, meshfixtures::cube(10.0, {20, 30, 0}));
        obj->rebuildOctree();
        obj->setLoaded(true);
        ObjectTable::instance()->addObject(obj);
        handle = TransformHandle::install(view);
        view->setMode(ViewMode::Transform);
        view->setManipulatorShown(true);
        view->setZoom(3.0); // 50 pixels are 16.67 mm: snapping shows
        const double c[3] = {25, 35, 5};
        view->setRenderCenter(c);
        view->setStandardView(6); // from above
        view->updateSelectionBox();
        view->updateGL();
    }
    void TearDown() override {
        host.commandManager()->clear();
        ObjectTable::instance()->deleteAllObjects();
        delete view;
        setSceneHost(nullptr);
    }

    QPoint screenOf(double x, double y, double z) const {
        const double p[3] = {x, y, z};
        int s[2];
        view->projectToScreen(p, s);
        return QPoint(s[0], s[1]);
    }
    void send(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QMouseEvent e(type, pos, button, buttons, mods);
        QApplication::sendEvent(view, &e);
    }
    void hover(QPoint pos) { send(QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton); }
    // Press at a, move in steps to b with the left button held, release with mods.
    void drag(QPoint a, QPoint b, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        hover(a);
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, a);
        for (int k = 1; k <= 5; ++k)
            send(QEvent::MouseMove, a + (b - a) * k / 5, Qt::NoButton, Qt::LeftButton, mods);
        // Sent, not spontaneous: the modifiers reach the view only with the event.
        send(QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton, mods);
    }
    void type(const QString& keys) {
        for (QChar ch : keys) {
            const int key = ch == '.' ? Qt::Key_Period : Qt::Key_0 + ch.digitValue();
            QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(view, &e);
        }
        QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(view, &ret);
    }
    std::array<double, 6> box() const {
        double lo[3], hi[3];
        EXPECT_TRUE(obj->readBox(lo, hi));
        return {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
    }
    // The middle of the + X arrow.
    QPoint xArrow() const { return screenOf(25 + 115.0 / view->zoom(), 35, 5); }
    QPoint onRing(double degrees) const {
        const double r = 100.0 / view->zoom(), t = degrees * M_PI / 180.0;
        return screenOf(25 + r * std::cos(t), 35 + r * std::sin(t), 5);
    }
    const AbtCommand* top() { return host.commandManager()->undoTop(); }
    size_t undoCount() { return host.commandManager()->undoCount(); }

    BasicSceneHost host;
    MainGLWidget* view = nullptr;
    ObjectEx* obj = nullptr;
    TransformHandle* handle = nullptr;
};

double xOffsetOf(const AbtCommand* cmd, ObjectEx* obj) {
    auto* move = dynamic_cast<const TranslateCmd*>(cmd);
    if (!move || !move->record().count(obj))
        return std::nan("");
    return move->record().at(obj)[0];
}

} // namespace

// A handle under the pointer is drawn yellow, and only while the pointer is
// on it: moving off it, leaving the view and leaving the tool all end the
// highlight.
TEST_F(Manipulator, onlyTheHandleUnderThePointerIsHighlighted) {
    const auto yellow = [this] {
        const QImage image = view->grabFrameBuffer();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                n += c.red() > 200 && c.green() > 200 && c.blue() < 60;
            }
        return n;
    };
    const QPoint away = screenOf(25 + 60.0 / view->zoom(), 35 + 60.0 / view->zoom(), 5);
    const std::function<void()> leaves[] = {
        [&] { hover(away); },
        [&] {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(view, &leave);
        },
        [&] {
            view->setMode(ViewMode::Select);
            view->setMode(ViewMode::Transform);
            view->setManipulatorShown(true);
        },
    };
    for (std::size_t i = 0; i < std::size(leaves); ++i) {
        SCOPED_TRACE(i);
        hover(xArrow());
        ASSERT_EQ(handle->hoveredPart(), 1);
        view->updateGL();
        EXPECT_GT(yellow(), 20);
        leaves[i]();
        EXPECT_EQ(handle->hoveredPart(), 0);
        view->updateGL();
        EXPECT_EQ(yellow(), 0);
    }
}

TEST_F(Manipulator, arrowDragMovesByWholeMillimetresUnlessControl) {
    const auto start = box();
    hover(xArrow());
    ASSERT_EQ(handle->hoveredPart(), 1);

    struct Case {
        Qt::KeyboardModifiers mods;
        bool whole;
    };
    const Case cases[] = {{Qt::NoModifier, true}, {Qt::ControlModifier, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.whole ? "snapped" : "control");
        const size_t before = undoCount();
        const QPoint a = xArrow();
        if (c.whole) {
            drag(a, a + QPoint(50, 0));
        } else {
            // Control held while dragging, released without it: no number entry.
            hover(a);
            QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, a);
            for (int k = 1; k <= 5; ++k)
                send(QEvent::MouseMove, a + QPoint(10 * k, 0), Qt::NoButton, Qt::LeftButton,
                     Qt::ControlModifier);
            QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, a + QPoint(50, 0));
        }
        ASSERT_EQ(undoCount(), before + 1);
        const double dx = xOffsetOf(top(), obj);
        EXPECT_NEAR(std::fabs(dx), 50.0 / view->zoom(), c.whole ? 0.5 : 1e-6);
        EXPECT_EQ(dx == std::round(dx), c.whole) << dx;
        const auto now = box();
        EXPECT_NEAR(now[1], start[1], 1e-9);
        EXPECT_NEAR(now[2], start[2], 1e-9);
        ASSERT_TRUE(host.commandManager()->undo());
        const auto back = box();
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(back[i], start[i], 1e-9);
        view->updateSelectionBox();
    }

    // A drag that comes back to where it started pushes nothing.
    const size_t before = undoCount();
    const QPoint a = xArrow();
    hover(a);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, a);
    send(QEvent::MouseMove, a + QPoint(40, 0), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, a, Qt::NoButton, Qt::LeftButton);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, a);
    EXPECT_EQ(undoCount(), before);
}

TEST_F(Manipulator, typedValueAfterControlReleaseMovesExactly) {
    const auto start = box();
    drag(xArrow(), xArrow() + QPoint(30, 0), Qt::ControlModifier);
    ASSERT_TRUE(handle->numberEntry);
    const size_t before = undoCount();
    type("12.5");
    ASSERT_EQ(undoCount(), before + 1);
    EXPECT_EQ(xOffsetOf(top(), obj), 12.5);
    EXPECT_EQ(box()[0], start[0] + 12.5);
    EXPECT_FALSE(handle->numberEntry);
}

TEST_F(Manipulator, ringDragSnapsToFiveDegreesAndAFullTurnIsNone) {
    struct Case {
        double degrees;
        double snapped;
    };
    const Case cases[] = {{47, 45}, {48, 50}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.degrees);
        hover(onRing(30));
        ASSERT_EQ(handle->hoveredPart(), 11);
        const size_t before = undoCount();
        drag(onRing(30), onRing(30 + c.degrees));
        ASSERT_EQ(undoCount(), before + 1);
        ASSERT_NE(dynamic_cast<const RoateCmd*>(top()), nullptr);
        // A 10 mm cube turned by a about z spans 10 (cos a + sin a) in x.
        const double a = c.snapped * M_PI / 180.0;
        const auto b = box();
        EXPECT_NEAR(b[3] - b[0], 10.0 * (std::cos(a) + std::sin(a)), 1e-6);
        ASSERT_TRUE(host.commandManager()->undo());
        EXPECT_NEAR(box()[3] - box()[0], 10.0, 1e-9);
        view->updateSelectionBox();
    }
    // A typed full turn is no turn: nothing is recorded.
    drag(onRing(30), onRing(60), Qt::ControlModifier);
    ASSERT_TRUE(handle->numberEntry);
    const size_t before = undoCount();
    type("360");
    EXPECT_EQ(undoCount(), before);
    EXPECT_NEAR(box()[3] - box()[0], 10.0, 1e-9);
}

TEST_F(Manipulator, axisSeenEndOnChangesNothing) {
    // From above, the Z arrows point at the viewer.
    handle->setHoveredPart(3);
    handle->operation = 1;
    handle->activePart = 3;
    handle->saveStartState();
    const QPoint c = screenOf(25, 35, 5);
    handle->beginAt(c);
    handle->dragMove(c + QPoint(40, -25));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(handle->moveOffset()[i], 0.0);
    const size_t before = undoCount();
    EXPECT_FALSE(handle->finishMove());
    EXPECT_EQ(undoCount(), before);
    for (double v : obj->transform().m)
        EXPECT_TRUE(std::isfinite(v));
}
