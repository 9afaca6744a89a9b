// The 3D view at 1600 x 1000 on a million-triangle torus, on the display's
// renderer (Mesa's llvmpipe under xvfb-run): the first frame after the mesh
// changed (flat arrays built and uploaded) and a redraw, filled and
// wireframe, with vertex buffers and with display lists; a click that picks
// the object (press and release as the user makes them); a right-button
// rotate drag of 50 moves, each painted.
#include "MeshFixtures.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneHost.h"
#include "view/MainGLWidget.h"
#include "view/draw/GLDrawBuffers.h"

#include <QApplication>
#include <QGLContext>
#include <QMouseEvent>
#include <QTest>

#include <benchmark/benchmark.h>

#include <clocale>
#include <memory>

namespace {

class ViewHost : public BasicSceneHost {
public:
    explicit ViewHost(MainGLWidget* view) : m_view(view) {}
    bool unprojectScreenPoint(const QPoint& p, double depth, double out[3]) override {
        m_view->unprojectScreenPoint(p, out, depth >= 0, depth);
        return true;
    }
    void viewAxis(double out[3]) override { m_view->viewAxis(out); }

private:
    MainGLWidget* m_view;
};

struct Scene {
    MainGLWidget* view = nullptr;
    ObjectEx* object = nullptr;
    std::unique_ptr<ViewHost> host;
};

Scene& scene() {
    static Scene s = [] {
        Scene s;
        s.view = new MainGLWidget(new QGLContext(QGLFormat()));
        s.view->resize(1600, 1000);
        s.view->setWheelStepPause(0);
        s.view->show();
        if (!QTest::qWaitForWindowExposed(s.view))
            qWarning("the view was not exposed");
        s.host = std::make_unique<ViewHost>(s.view);
        setSceneHost(s.host.get());
        s.object = new ObjectEx();
        // 1000 x 500 segments: exactly 1,000,000 triangles over the platform.
        meshfixtures::fillMesh(*s.object, meshfixtures::torus(50, 20, 1000, 500, {65, 65, 20}));
        s.object->rebuildOctree();
        s.object->setLoaded(true);
        ObjectTable::instance()->addObject(s.object);
        s.view->resetView();
        s.view->updateGL();
        return s;
    }();
    return s;
}

void paintAndWait(MainGLWidget* view) {
    view->updateGL();
    view->makeCurrent();
    glFinish();
}

// Switches the drawing path; every GL name is given back first.
void useBuffers(bool on) {
    Scene& s = scene();
    if (s.view->vertexBuffersSupported() == on)
        return;
    s.view->makeCurrent();
    s.view->drawCache().clear();
    s.view->setVertexBuffersAllowed(on);
    if (on && !s.view->checkVertexBufferSupport())
        qFatal("no vertex buffers");
}

void BM_FirstFrame(benchmark::State& state) {
    Scene& s = scene();
    useBuffers(state.range(0) != 0);
    ObjectTable::instance()->setViewMode(state.range(1) ? MeshStyle::EdgesOnly : MeshStyle::Filled);
    for (auto _ : state) {
        s.object->setModified(); // the arrays are built and uploaded again
        paintAndWait(s.view);
    }
    state.counters["triangles"] = s.object->facetCount();
    ObjectTable::instance()->setViewMode(MeshStyle::Filled);
}
BENCHMARK(BM_FirstFrame)
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->ArgNames({"vbo", "wire"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_Redraw(benchmark::State& state) {
    Scene& s = scene();
    useBuffers(state.range(0) != 0);
    ObjectTable::instance()->setViewMode(state.range(1) ? MeshStyle::EdgesOnly : MeshStyle::Filled);
    paintAndWait(s.view);
    for (auto _ : state)
        paintAndWait(s.view);
    ObjectTable::instance()->setViewMode(MeshStyle::Filled);
}
BENCHMARK(BM_Redraw)
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->ArgNames({"vbo", "wire"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// The fixed parts alone (background, platform, grid, axes, cube): the floor
// under every redraw.
void BM_RedrawWithoutObject(benchmark::State& state) {
    Scene& s = scene();
    s.object->setVisible(false);
    paintAndWait(s.view);
    for (auto _ : state)
        paintAndWait(s.view);
    s.object->setVisible(true);
}
BENCHMARK(BM_RedrawWithoutObject)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ClickPick(benchmark::State& state) {
    Scene& s = scene();
    useBuffers(true);
    paintAndWait(s.view);
    const double centre[3] = {65 + 50, 65, 40}; // on the outer rim, on top
    int p[2];
    s.view->projectToScreen(centre, p);
    const QPoint at(p[0], p[1]);
    for (auto _ : state) {
        s.object->setSelected(false);
        QTest::mousePress(s.view, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(s.view, Qt::LeftButton, Qt::NoModifier, at);
        if (!s.object->isSelected())
            state.SkipWithError("the click missed the object");
    }
}
BENCHMARK(BM_ClickPick)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_RotateDrag50(benchmark::State& state) {
    Scene& s = scene();
    useBuffers(true);
    paintAndWait(s.view);
    const QPoint start(800, 500);
    for (auto _ : state) {
        QTest::mousePress(s.view, Qt::RightButton, Qt::NoModifier, start);
        for (int i = 1; i <= 50; ++i) {
            QMouseEvent move(QEvent::MouseMove, start + QPoint(4 * i, i % 3), Qt::NoButton, Qt::RightButton,
                             Qt::NoModifier);
            QApplication::sendEvent(s.view, &move);
            paintAndWait(s.view);
        }
        QTest::mouseRelease(s.view, Qt::RightButton, Qt::NoModifier, start + QPoint(200, 0));
    }
}
BENCHMARK(BM_RotateDrag50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
