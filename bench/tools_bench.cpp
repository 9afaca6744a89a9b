// Slice preview and manipulator figures on a million triangles.
#include "MeshFixtures.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "view/MainGLWidget.h"
#include "view/Manipulator.h"
#include "view/SliceRender.h"
#include "view/SlicingThread.h"

#include <QApplication>
#include <QGLContext>

#include <benchmark/benchmark.h>

#include <atomic>
#include <clocale>
#include <memory>
#include <thread>

namespace {

// 2 · 1000 · 500 = 1,000,000 facets.
const meshfixtures::TriangleSoup& millionSphere() {
    static const meshfixtures::TriangleSoup soup = meshfixtures::uvSphere(50.0, 1000, 501, {0, 0, 50});
    return soup;
}

// From setHeight to slicingFinish: the worker slices the sphere and fills the
// cross-section. Each step asks for another height so every step cuts anew.
void BM_SliceAndFillSphere(benchmark::State& state) {
    auto mesh = meshfixtures::buildMesh(millionSphere());
    SliceRender renderer(nullptr);
    renderer.setSources({{nullptr, mesh.get()}});
    SlicingThread thread;
    thread.setRenderer(&renderer);
    std::atomic<int> finished{0};
    QObject::connect(
        &thread, &SlicingThread::slicingFinish, &thread, [&] { ++finished; }, Qt::DirectConnection);
    thread.start();
    float z = 20.0f;
    renderer.computeAt(z); // builds the mesh's z-slab index once, as the first look does
    size_t triangles = 0;
    for (auto _ : state) {
        z = z >= 80.0f ? 20.0f : z + 0.37f;
        const int before = finished.load();
        thread.setHeight(&z);
        while (finished.load() == before)
            std::this_thread::yield();
    }
    renderer.visitRecords([&](const std::vector<SliceRender::Record>& records, double) {
        triangles = records.empty() ? 0 : records[0].fillIndices.size() / 3;
    });
    thread.stop();
    state.counters["fill_triangles"] = double(triangles);
}
BENCHMARK(BM_SliceAndFillSphere)->Unit(benchmark::kMillisecond)->UseRealTime();

// One arrow-drag step (unprojection, working plane, offset, pending transforms)
// with a million-triangle object selected.
void BM_ManipulatorDragStep(benchmark::State& state) {
    auto* obj = new ObjectEx();
    meshfixtures::fillMesh(*obj, millionSphere());
    obj->setLoaded(true);
    ObjectTable::instance()->addObject(obj);
    auto* view = new MainGLWidget(new QGLContext(QGLFormat()));
    view->resize(800, 600);
    view->camera().resize(800, 600);
    TransformHandle* handle = TransformHandle::install(view);
    view->setMode(ViewMode::Transform);
    view->updateSelectionBox();
    handle->setHoveredPart(1);
    handle->operation = 1;
    handle->activePart = 1;
    handle->saveStartState();
    handle->beginAt(QPoint(400, 300));
    int x = 0;
    for (auto _ : state) {
        x = (x + 1) % 200;
        handle->dragMove(QPoint(400 + x, 300));
        handle->updateNumberBoxes();
        benchmark::DoNotOptimize(handle->moveOffset()[0]);
    }
    state.SetItemsProcessed(state.iterations());
    handle->resetPendingTransforms();
    delete view;
    ObjectTable::instance()->deleteAllObjects();
}
BENCHMARK(BM_ManipulatorDragStep);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
