// The scene on a million-facet file: the import of one file through the
// object list (from importObjects to allObjectImported) next to the plain
// import that meshinfo times (read, weld, edges, shells: its ms_total), and a
// 90-degree rotation command and its undo on the imported object. And the
// placement of a batch of N imported objects beside each other (the places
// alone, without reading files): copies of one 10 mm cube, or boxes of
// distinct sizes; near linear, so the time per object barely grows with N.
#include "SceneFixtures.h"
#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"
#include "topolib/Matrix4D.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

QString millionFacetFile() {
    static const QString path = [] {
        const QString p = QDir::temp().filePath(QStringLiteral("velar_scene_bench_torus.stl"));
        if (!QFileInfo::exists(p))
            scenefixtures::writeBinaryStl(p, scenefixtures::millionFacetTorus());
        return p;
    }();
    return path;
}

// Imports the file as one batch and returns when its batch has ended.
void importOneBatch(const QString& file) {
    ObjectTable* table = ObjectTable::instance();
    QEventLoop loop;
    bool done = false;
    QObject::connect(table, &ObjectTable::allObjectImported, &loop, [&] {
        pushImportCommand(table->objectsBeingCalculated());
        done = true;
        loop.quit();
    });
    table->importObjects({file});
    if (!done)
        loop.exec();
}

void resetScene() {
    ObjectTable* table = ObjectTable::instance();
    for (ObjectEx* obj : table->objects())
        obj->waitForJobs();
    sceneHost()->commandManager()->clear();
    table->deleteAllObjects();
}

void BM_PlainImport1M(benchmark::State& state) {
    const std::wstring path = millionFacetFile().toStdWString();
    for (auto _ : state) {
        auto mesh = std::make_unique<topolib::StlObject>();
        if (fileIo::loadMeshFile(*mesh, path).result != topolib::LoadResult::Success)
            state.SkipWithError("import failed");
        state.PauseTiming();
        mesh.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PlainImport1M)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SceneImport1M(benchmark::State& state) {
    const QString file = millionFacetFile();
    for (auto _ : state) {
        importOneBatch(file);
        state.PauseTiming();
        resetScene();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SceneImport1M)->Unit(benchmark::kMillisecond)->Iterations(5);

// Rotation (arg 0) or its undo (arg 1), timed by hand around the command alone;
// the octree rebuild that a bake starts on the worker is waited for outside.
void BM_Rotate90AndUndo1M(benchmark::State& state) {
    importOneBatch(millionFacetFile());
    ObjectTable* table = ObjectTable::instance();
    ObjectEx* obj = table->objectAt(0);
    obj->waitForJobs();
    const bool undo = state.range(0) == 1;
    for (auto _ : state) {
        double min[3], max[3];
        obj->readBox(min, max);
        const double centre[3] = {(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, (min[2] + max[2]) / 2};
        const double quarter = M_PI / 2, axis[3] = {0.0, 0.0, 1.0};
        topolib::Matrix4D m;
        topolib::makeAxisRotationMatrix(&quarter, centre, axis, m);
        obj->setTransform(m);
        obj->setSelected(true);
        auto start = Clock::now();
        sceneHost()->pushCommand(new RoateCmd(), false);
        auto end = Clock::now();
        obj->waitForJobs();
        if (undo) {
            start = Clock::now();
            sceneHost()->commandManager()->undo();
            end = Clock::now();
            obj->waitForJobs();
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    resetScene();
}
BENCHMARK(BM_Rotate90AndUndo1M)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Places `count` objects listed as a batch is, one after another, as their
// imports end in list order; kind 0: 10 mm cubes, 1: boxes of distinct sizes.
void BM_PlaceImports(benchmark::State& state) {
    const int count = int(state.range(0));
    const bool distinct = state.range(1) == 1;
    ObjectTable* table = ObjectTable::instance();
    for (auto _ : state) {
        state.PauseTiming();
        resetScene();
        std::vector<ObjectEx*> batch;
        for (int i = 0; i < count; ++i) {
            auto* obj = new ObjectEx();
            const double side = distinct ? 5.0 + 0.001 * i : 10.0;
            meshfixtures::fillMesh(*obj, meshfixtures::box({side, 20.0 - side / 2, 5.0}));
            obj->setLoaded(true);
            obj->setImportPending(true);
            table->addObject(obj);
            batch.push_back(obj);
        }
        state.ResumeTiming();
        for (ObjectEx* obj : batch) {
            table->placeObject(obj);
            obj->setImportPending(false);
        }
    }
    state.SetItemsProcessed(int64_t(count) * int64_t(state.iterations()));
    resetScene();
}
BENCHMARK(BM_PlaceImports)
    ->ArgsProduct({{2000, 4000, 8000}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
