// Saving and opening a project: one scene of 1,000,000 triangles (a torus of
// 1000 x 500 quads lying on its side above the platform) with the supports
// the generation gives it. Reports the archive's size and the cone count.
#include "MeshFixtures.h"

#include "project/VlrProjectFileHandling.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "support/ConeShape.h"
#include "support/SupportGen.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdlib>

namespace {

QTemporaryDir* scratch = nullptr;

QString projectPath() {
    return scratch->filePath(QStringLiteral("million.vpf"));
}

size_t liveCones() {
    size_t n = 0;
    for (ObjectEx* o : ObjectTable::instance()->objects())
        if (const auto& gen = o->supportGenIfAny())
            for (const support::SupportAreaAbs* area : gen->areas)
                for (const support::AbtShape* s : area->shapes)
                    n += s && s->asCone() && !s->isDeleted();
    return n;
}

void buildScene() {
    ObjectTable* table = ObjectTable::instance();
    table->deleteAllObjects();
    auto* o = new ObjectEx();
    meshfixtures::fillMesh(*o, meshfixtures::torus(40, 10, 1000, 500, {65, 65, 30}));
    o->rebuildOctree();
    o->setName(QStringLiteral("torus"));
    o->setLoaded(true);
    table->addObject(o);
    o->generateSupport();
}

void BM_ProjectSave(benchmark::State& state) {
    buildScene();
    VlrProjectFileHandling* files = VlrProjectFileHandling::instance();
    for (auto _ : state) {
        files->saveGLInfo();
        if (files->save(projectPath()) != 0)
            state.SkipWithError("save failed");
    }
    state.counters["bytes"] = double(QFileInfo(projectPath()).size());
    state.counters["triangles"] = double(ObjectTable::instance()->triangleCount(false));
    state.counters["cones"] = double(liveCones());
}

void BM_ProjectOpen(benchmark::State& state) {
    if (!QFileInfo::exists(projectPath())) {
        buildScene();
        VlrProjectFileHandling::instance()->save(projectPath());
    }
    ObjectTable* table = ObjectTable::instance();
    for (auto _ : state) {
        state.PauseTiming();
        table->deleteAllObjects();
        state.ResumeTiming();
        if (VlrProjectFileHandling::instance()->open(0, projectPath(), table) != 0)
            state.SkipWithError("open failed");
    }
    state.counters["triangles"] = double(table->triangleCount(false));
    state.counters["cones"] = double(liveCones());
    table->deleteAllObjects();
}

BENCHMARK(BM_ProjectSave)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ProjectOpen)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    QTemporaryDir dir;
    scratch = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
