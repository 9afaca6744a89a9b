// The 3D view drawing for real under the virtual X server (Mesa's software
// renderer): frames are grabbed and judged by colour statistics in the
// regions the camera projects, not by exact pixels.
#include "MeshFixtures.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "support/SupportGen.h"
#include "view/MainGLWidget.h"
#include "view/draw/GLDrawBuffers.h"

#include <QApplication>
#include <QGLContext>
#include <QImage>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Routes the scene's picking questions to the view, as the main window does.
class PickingHost : public BasicSceneHost {
public:
    explicit PickingHost(MainGLWidget* view) : m_view(view) {}
    bool unprojectScreenPoint(const QPoint& p, double depth, double out[3]) override {
        m_view->unprojectScreenPoint(p, out, depth >= 0, depth);
        return true;
    }
    void viewAxis(double out[3]) override { m_view->viewAxis(out); }

private:
    MainGLWidget* m_view;
};

struct Stats {
    int pixels = 0;
    int matching = 0;
    double fraction() const { return pixels ? double(matching) / pixels : 0.0; }
};

Stats countIn(const QImage& image, QRect region, const std::function<bool(QColor)>& test) {
    Stats s;
    region = region.intersected(image.rect());
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x) {
            ++s.pixels;
            if (test(image.pixelColor(x, y)))
                ++s.matching;
        }
    return s;
}

bool isShade(QColor c) {
    return c.green() > c.red() + 40 && c.blue() > c.red() + 40;
}
bool isGrey(QColor c) {
    return std::abs(c.red() - c.green()) < 12 && std::abs(c.green() - c.blue()) < 12;
}
bool isBackground(QColor c) {
    return c.red() < 110 && c.green() < 110 && c.blue() < 120;
}
bool isPlatform(QColor c) {
    return c.red() > 150 && c.green() > 150 && c.blue() > 150;
}

class ViewDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qApp, nullptr);
        view = new MainGLWidget(new QGLContext(QGLFormat()));
        view->resize(800, 600);
        view->setWheelStepPause(0);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
        host = std::make_unique<PickingHost>(view);
        setSceneHost(host.get());
        frame();
    }
    void TearDown() override {
        ObjectTable::instance()->deleteAllObjects();
        setSceneHost(nullptr);
        delete view;
    }

    // A ready, loaded cube object of the given size at the origin given.
    ObjectEx* addCube(double size, const meshfixtures::Point& origin) {
        auto* obj = new ObjectEx();
        meshfixtures::fillMesh(*obj, meshfixtures::cube(size, origin));
        obj->rebuildOctree();
        obj->setLoaded(true);
        ObjectTable::instance()->addObject(obj);
        return obj;
    }

    QImage frame() {
        view->updateGL();
        return view->grabFrameBuffer();
    }

    QRect projectedBox(const double lo[3], const double hi[3]) const {
        int minX = 1 << 30, minY = 1 << 30, maxX = -(1 << 30), maxY = -(1 << 30);
        for (int k = 0; k < 8; ++k) {
            const double p[3] = {k & 1 ? hi[0] : lo[0], k & 2 ? hi[1] : lo[1], k & 4 ? hi[2] : lo[2]};
            int s[2];
            view->projectToScreen(p, s);
            minX = std::min(minX, s[0]);
            maxX = std::max(maxX, s[0]);
            minY = std::min(minY, s[1]);
            maxY = std::max(maxY, s[1]);
        }
        return QRect(QPoint(minX, minY), QPoint(maxX, maxY));
    }

    // The central part of a rectangle (where an object's silhouette surely is).
    static QRect core(const QRect& r) {
        return r.adjusted(r.width() / 3, r.height() / 3, -r.width() / 3, -r.height() / 3);
    }

    QPoint screenOf(double x, double y, double z) const {
        const double p[3] = {x, y, z};
        int s[2];
        view->projectToScreen(p, s);
        return QPoint(s[0], s[1]);
    }

    MainGLWidget* view = nullptr;
    std::unique_ptr<PickingHost> host;
};

TEST_F(ViewDrawing, emptySceneShowsBackgroundPlatformAxesAndOrientationCube) {
    const QImage image = frame();
    if (qEnvironmentVariableIsSet("VELAR_TEST_SHOTS"))
        image.save(qEnvironmentVariable("VELAR_TEST_SHOTS") + "/empty.png");
    ASSERT_EQ(image.width(), 800);
    // Background in the lower corners (the cube sits top right).
    EXPECT_GT(countIn(image, QRect(0, 560, 40, 40), isBackground).fraction(), 0.95);
    EXPECT_GT(countIn(image, QRect(760, 560, 40, 40), isBackground).fraction(), 0.95);
    // The platform's middle is light.
    const QPoint middle = screenOf(65, 65, 0);
    EXPECT_GT(countIn(image, QRect(middle - QPoint(10, 10), QSize(20, 20)), isPlatform).fraction(), 0.8);
    // The axes: red along x, green along y, blue along z, 50 pixels each.
    const double len = 25.0 / view->zoom();
    auto near = [&](QPoint p) { return QRect(p - QPoint(3, 3), QSize(7, 7)); };
    EXPECT_GT(countIn(image, near(screenOf(len, 0, 0)),
                      [](QColor c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; })
                  .matching,
              0);
    EXPECT_GT(countIn(image, near(screenOf(0, len, 0)),
                      [](QColor c) { return c.green() > 180 && c.red() < 90 && c.blue() < 90; })
                  .matching,
              0);
    EXPECT_GT(countIn(image, near(screenOf(0, 0, len)),
                      [](QColor c) { return c.blue() > 180 && c.red() < 90 && c.green() < 90; })
                  .matching,
              0);
    // The orientation cube: coloured faces in the top-right corner.
    const Stats cube = countIn(
        image,
        QRect(800 - int(2 * view->cubeSize()), 0, int(2 * view->cubeSize()), int(2 * view->cubeSize())),
        [](QColor c) { return c.red() > 200 || c.green() > 200 || c.blue() > 200; });
    EXPECT_GT(cube.matching, 200);
}

TEST_F(ViewDrawing, rightDragRotatesAboutTheVolumeCentreOrTheObjectUnderTheCursor) {
    // Without objects: the build volume's centre.
    QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, QPoint(400, 300));
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, QPoint(400, 300));
    const double* r = view->camera().rotationCenter;
    EXPECT_DOUBLE_EQ(r[0], 65);
    EXPECT_DOUBLE_EQ(r[1], 65);
    EXPECT_DOUBLE_EQ(r[2], 90);
    // On an object: the point under the cursor, on its surface (the top face).
    addCube(40, {45, 45, 0});
    view->resetView();
    frame();
    const QPoint top = screenOf(65, 65, 40);
    QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, top);
    EXPECT_NEAR(r[2], 40, 0.5);
    EXPECT_NEAR(r[0], 65, 1.0);
    EXPECT_NEAR(r[1], 65, 1.0);
    // A drag turns the view about that point: it stays where it was on screen.
    QMouseEvent move(QEvent::MouseMove, top + QPoint(120, 0), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    const double centre[3] = {r[0], r[1], r[2]};
    int s[2];
    view->projectToScreen(centre, s);
    EXPECT_NEAR(s[0], top.x(), 1);
    EXPECT_NEAR(s[1], top.y(), 1);
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, top + QPoint(120, 0));
}

TEST_F(ViewDrawing, objectIsDrawnInItsShadeColourWithAndWithoutVertexBuffers) {
    ASSERT_TRUE(view->vertexBuffersSupported());
    const double lo[3] = {45, 45, 0}, hi[3] = {85, 85, 40};
    ObjectEx* previous = nullptr;
    for (bool buffers : {true, false}) {
        SCOPED_TRACE(buffers ? "vertex buffers" : "display lists");
        if (!buffers) {
            // The cube drawn from buffers is drawn from lists after the switch,
            // its buffers given back.
            ASSERT_TRUE(view->drawCache().find(*previous));
            const GLuint old = view->drawCache().find(*previous)->vertex;
            previous->setSelected(true);
            view->disableVertexBuffers();
            EXPECT_GT(countIn(frame(), core(projectedBox(lo, hi)), isShade).fraction(), 0.9);
            view->makeCurrent();
            EXPECT_FALSE(QOpenGLContext::currentContext()->functions()->glIsBuffer(old));
            EXPECT_TRUE(view->drawCache().find(*previous)->asLists);
            ObjectTable::instance()->deleteAllObjects();
        }
        ObjectEx* cube = previous = addCube(40, {45, 45, 0});
        view->resetView();
        const QRect box = projectedBox(lo, hi);
        // Loaded but still waiting for its place on the platform: not shown.
        cube->setImportPending(true);
        EXPECT_EQ(countIn(frame(), core(box), isShade).matching, 0);
        cube->setImportPending(false);
        const QImage image = frame();
        EXPECT_GT(countIn(image, core(box), isShade).fraction(), 0.9);
        // Not selected: grey.
        ObjectTable::instance()->selectAll(false);
        const QImage grey = frame();
        EXPECT_EQ(countIn(grey, core(box), isShade).matching, 0);
        EXPECT_GT(countIn(grey, core(box), isGrey).fraction(), 0.9);
        // Inside out, its back faces show: still in the selection's hue, or grey.
        ObjectTable::instance()->deleteAllObjects();
        auto* inverted = new ObjectEx();
        meshfixtures::fillMesh(*inverted, meshfixtures::flipped(meshfixtures::cube(40, {45, 45, 0})));
        inverted->rebuildOctree();
        inverted->setLoaded(true);
        ObjectTable::instance()->addObject(inverted);
        EXPECT_GT(countIn(frame(), core(box), isShade).fraction(), 0.9);
        inverted->setSelected(false);
        EXPECT_GT(countIn(frame(), core(box), isGrey).fraction(), 0.9);
        ObjectTable::instance()->deleteAllObjects();
        cube = previous = addCube(40, {45, 45, 0});
        ObjectTable::instance()->selectAll(false);
        // Edges only: the middle of a face shows what is behind it.
        ObjectTable::instance()->setViewMode(MeshStyle::EdgesOnly);
        const QImage wire = frame();
        EXPECT_LT(countIn(wire, core(box), isShade).fraction(), 0.2);
        ObjectTable::instance()->setViewMode(MeshStyle::Filled);
    }
}

TEST_F(ViewDrawing, clicksAndRectanglesSelectAsTheUserExpects) {
    ObjectEx* a = addCube(20, {10, 10, 0});
    ObjectEx* b = addCube(20, {90, 90, 0});
    view->resetView();
    frame();
    const QPoint pa = screenOf(20, 20, 20), pb = screenOf(100, 100, 20);
    ObjectTable* table = ObjectTable::instance();

    // The modifiers travel only with the events (sent, not spontaneous: the
    // application's own keyboard state knows nothing of Control).
    auto send = [&](QEvent::Type type, QPoint p, Qt::KeyboardModifiers m) {
        QMouseEvent e(type, p, Qt::LeftButton, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      m);
        QApplication::sendEvent(view, &e);
    };
    auto click = [&](QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier) {
        send(QEvent::MouseButtonPress, p, m);
        send(QEvent::MouseButtonRelease, p, m);
        frame();
    };
    // The plain view and the transform mode (without a manipulator shown) select alike.
    for (ViewMode mode : {ViewMode::Select, ViewMode::Transform}) {
        SCOPED_TRACE(static_cast<int>(mode));
        view->setMode(mode);
        table->selectAll(false);
        click(pa);
        EXPECT_TRUE(a->isSelected());
        EXPECT_FALSE(b->isSelected());
        click(pb, Qt::ControlModifier); // Ctrl adds
        EXPECT_TRUE(a->isSelected());
        EXPECT_TRUE(b->isSelected());
        click(pb); // a plain click selects only the hit object
        EXPECT_FALSE(a->isSelected());
        EXPECT_TRUE(b->isSelected());
        click(QPoint(790, 590)); // background: the selection stays
        EXPECT_TRUE(b->isSelected());
        EXPECT_EQ(table->selectedObjectCount(), 1);
        // A rectangle with Control around a adds it.
        const QRect aBox =
            projectedBox(std::array<double, 3>{10, 10, 0}.data(), std::array<double, 3>{30, 30, 20}.data());
        send(QEvent::MouseButtonPress, aBox.topLeft() - QPoint(5, 5), Qt::ControlModifier);
        send(QEvent::MouseButtonRelease, aBox.bottomRight() + QPoint(5, 5), Qt::ControlModifier);
        EXPECT_TRUE(a->isSelected());
        EXPECT_TRUE(b->isSelected());
    }
    view->setMode(ViewMode::Select);
    table->selectAll(false);

    // A rectangle around both selects both.
    const QRect both =
        projectedBox(std::array<double, 3>{10, 10, 0}.data(), std::array<double, 3>{110, 110, 20}.data());
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, both.topLeft() - QPoint(10, 10));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, both.bottomRight() + QPoint(10, 10));
    EXPECT_TRUE(a->isSelected());
    EXPECT_TRUE(b->isSelected());
}

TEST_F(ViewDrawing, eachOrientationCubeFaceGivesItsStandardView) {
    // Expected direction towards the viewer per face.
    const double toViewer[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
    static const int corners[6][4] = {{3, 0, 4, 7}, {1, 2, 6, 5}, {0, 1, 5, 4},
                                      {2, 3, 7, 6}, {3, 2, 1, 0}, {4, 5, 6, 7}};
    for (int face = 1; face <= 6; ++face) {
        SCOPED_TRACE(face);
        // A view from the face's side, turned away from its standard view.
        ViewCamera& camera = view->camera();
        ViewCamera::standardViewMatrix(face, camera.modelView);
        std::fill(camera.rotationCenter, camera.rotationCenter + 3, 0.0);
        camera.rotateDrag(camera.width * 30 / 380, 0);
        camera.rotateDrag(0, camera.height * 25 / 380);
        frame();
        // Click the middle of the face as drawn (pixel units, the scene's rotation).
        double centre[3] = {0, 0, 0};
        for (int k : corners[face - 1])
            for (int a = 0; a < 3; ++a)
                centre[a] += view->cubeCorners()[k][a] / 4;
        ViewCamera pixels = camera;
        pixels.zoom = 1.0;
        int s[2];
        pixels.projectToScreen(centre, s);
        const QPoint at(s[0], s[1]);
        ASSERT_EQ(view->pickCubeFace(at), face);
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, at);
        double axis[3];
        view->viewAxis(axis);
        for (int a = 0; a < 3; ++a)
            EXPECT_NEAR(axis[a], toViewer[face - 1][a], 1e-9);
        EXPECT_EQ(view->hoveredFace(), face);
    }
}

TEST_F(ViewDrawing, objectsLeavingTheListGiveTheirBuffersBackAndRebuildOnReturn) {
    // Both stand on supports, so their support buffers are given back too.
    ObjectEx* kept = addCube(20, {10, 10, 5});
    ObjectEx* doomed = addCube(20, {60, 60, 5});
    ASSERT_TRUE(kept->supportGen()->generate());
    ASSERT_TRUE(doomed->supportGen()->generate());
    frame();
    const GLDrawCache& cache = view->drawCache();
    ASSERT_TRUE(cache.find(*kept) && cache.find(*doomed));
    ASSERT_TRUE(cache.find(*kept->supportGenIfAny()) && cache.find(*doomed->supportGenIfAny()));
    const GLuint keptName = cache.find(*kept)->vertex, doomedName = cache.find(*doomed)->vertex;
    const GLuint keptSupport = cache.find(*kept->supportGenIfAny())->vertex;
    const GLuint doomedSupport[2] = {cache.find(*doomed->supportGenIfAny())->vertex,
                                     cache.find(*doomed->supportGenIfAny())->index};
    ASSERT_NE(keptName, 0u);
    ASSERT_NE(doomedName, 0u);
    ASSERT_NE(keptSupport, 0u);
    view->makeCurrent();
    QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
    EXPECT_TRUE(gl->glIsBuffer(doomedName));
    for (GLuint name : doomedSupport)
        EXPECT_TRUE(gl->glIsBuffer(name));
    // One object is deleted, the other waits in the undo history.
    ObjectTable::instance()->removeObject(doomed, true);
    ObjectTable::instance()->removeObject(kept, false);
    frame();
    view->makeCurrent();
    EXPECT_FALSE(gl->glIsBuffer(doomedName));
    EXPECT_FALSE(gl->glIsBuffer(keptName));
    EXPECT_FALSE(gl->glIsBuffer(keptSupport));
    for (GLuint name : doomedSupport)
        EXPECT_FALSE(gl->glIsBuffer(name));
    EXPECT_EQ(cache.find(*kept), nullptr);
    EXPECT_EQ(cache.find(*kept->supportGenIfAny()), nullptr);
    // Back in the list it draws again, from new buffers, supports included.
    ObjectTable::instance()->addObject(kept);
    const QImage image = frame();
    const double lo[3] = {10, 10, 5}, hi[3] = {30, 30, 25};
    EXPECT_GT(countIn(image, core(projectedBox(lo, hi)), isShade).fraction(), 0.9);
    view->makeCurrent();
    ASSERT_TRUE(cache.find(*kept) && cache.find(*kept->supportGenIfAny()));
    EXPECT_TRUE(gl->glIsBuffer(cache.find(*kept)->vertex));
    EXPECT_NE(cache.find(*kept->supportGenIfAny())->triangleCount, 0u);
    EXPECT_TRUE(gl->glIsBuffer(cache.find(*kept->supportGenIfAny())->vertex));
}

} // namespace
