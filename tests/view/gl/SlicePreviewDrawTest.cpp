// The slice preview as the user sees it from above: the cut of an object is
// filled with the green hatch, and what lies above the height is clipped away.
#include "MeshFixtures.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "view/MainGLWidget.h"
#include "view/SliceRender.h"

#include <QApplication>
#include <QGLContext>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

namespace {

ObjectEx* addBox(const meshfixtures::Point& size, const meshfixtures::Point& origin) {
    auto* obj = new ObjectEx();
    meshfixtures::fillMesh(*obj, meshfixtures::box(size, origin));
    obj->rebuildOctree();
    obj->setLoaded(true);
    ObjectTable::instance()->addObject(obj);
    return obj;
}

double fraction(const QImage& image, QRect r, bool (*test)(QColor)) {
    r = r.intersected(image.rect());
    int n = 0, hit = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x, ++n)
            hit += test(image.pixelColor(x, y)) ? 1 : 0;
    return n ? double(hit) / n : 0.0;
}

bool isHatch(QColor c) {
    return c.green() > 200 && c.red() < 60 && c.blue() < 60;
}
bool isObject(QColor c) {
    return (c.green() > c.red() + 40 && c.blue() > c.red() + 40) || isHatch(c);
}

} // namespace

TEST(SlicePreviewDraw, topViewShowsTheFilledCutAndNothingAboveIt) {
    BasicSceneHost host;
    setSceneHost(&host);
    auto* view = new MainGLWidget(new QGLContext(QGLFormat()));
    view->resize(800, 600);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    ObjectEx* cut = addBox({20, 20, 20}, {30, 30, 0});
    ObjectEx* above = addBox({20, 20, 10}, {70, 30, 12});
    view->resetView();
    view->setStandardView(6);

    SliceRender preview(view);
    preview.setSources({{cut, cut}, {above, above}});
    preview.setHeight(10.0);
    ASSERT_TRUE(preview.computeAt(10.0f));
    preview.setDrawOutline(true);
    preview.setEnabled(true);
    view->setSlicePreview(&preview);
    view->updateGL();
    const QImage image = view->grabFrameBuffer();
    if (qEnvironmentVariableIsSet("VELAR_TEST_SHOTS"))
        image.save(qEnvironmentVariable("VELAR_TEST_SHOTS") + "/slice-preview.png");

    auto inner = [&](double x0, double y0, double x1, double y1) {
        int a[2], b[2];
        const double p[3] = {x0 + 4, y0 + 4, 10}, q[3] = {x1 - 4, y1 - 4, 10};
        view->projectToScreen(p, a);
        view->projectToScreen(q, b);
        return QRect(QPoint(std::min(a[0], b[0]), std::min(a[1], b[1])),
                     QPoint(std::max(a[0], b[0]), std::max(a[1], b[1])));
    };
    // The hatch covers a good part of the cut square (it is a stipple).
    EXPECT_GT(fraction(image, inner(30, 30, 50, 50), isHatch), 0.15);
    // The box wholly above the height is gone: neither its shade nor hatch.
    EXPECT_LT(fraction(image, inner(70, 30, 90, 50), isObject), 0.01);

    // Without the fill only the outline stays; keeping the part above shows
    // the upper box again.
    preview.setDrawFill(false);
    view->updateGL();
    EXPECT_LT(fraction(view->grabFrameBuffer(), inner(30, 30, 50, 50), isHatch), 0.01);
    preview.setKeepBelow(false);
    view->updateGL();
    if (qEnvironmentVariableIsSet("VELAR_TEST_SHOTS"))
        view->grabFrameBuffer().save(qEnvironmentVariable("VELAR_TEST_SHOTS") + "/slice-above.png");
    EXPECT_GT(fraction(view->grabFrameBuffer(), inner(70, 30, 90, 50), isObject), 0.9);

    view->setSlicePreview(nullptr);
    ObjectTable::instance()->deleteAllObjects();
    delete view;
    setSceneHost(nullptr);
}
