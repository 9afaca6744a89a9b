// File layer benchmarks on generated closed tori of about 100k, 1M and 5M
// facets: binary and ASCII import (read, weld, edges, shells, as a file
// import does), binary and ASCII STL writing, and the geometry format written
// to and read from a file.

#include "tests/fileIo/StlFixtures.h"

#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/StlFileHandling.h"
#include "fileIo/VGeoFileHandling.h"
#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QString>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

// Files are generated once per size and shared by the benchmarks.
std::string benchFile(uint32_t facets, bool ascii) {
    static std::map<std::pair<uint32_t, bool>, std::string> made;
    auto& path = made[{facets, ascii}];
    if (path.empty()) {
        path = QDir::temp().filePath(QString("velar_bench_%1_%2.stl").arg(facets).arg(ascii ? "a" : "b")).toStdString();
        const auto mesh = stlfixtures::torusOfAbout(facets);
        stlfixtures::writeFile(path, ascii ? stlfixtures::asciiStl(mesh) : stlfixtures::binaryStl(mesh));
    }
    return path;
}

std::wstring wide(const std::string& s) {
    return QString::fromStdString(s).toStdWString();
}

void setUp() {
    static bool done = false;
    if (!done) {
        installMemoryCheck([](const uint64_t&) { return true; });
        done = true;
    }
}

void importFile(benchmark::State& state, bool ascii) {
    setUp();
    const std::wstring path = wide(benchFile(uint32_t(state.range(0)), ascii));
    for (auto _ : state) {
        auto mesh = std::make_unique<topolib::StlObject>();
        if (fileIo::loadMeshFile(*mesh, path).result != topolib::LoadResult::Success)
            state.SkipWithError("import failed");
        benchmark::DoNotOptimize(mesh->triangleCount());
        state.PauseTiming();
        mesh.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ImportBinaryStl(benchmark::State& state) {
    importFile(state, false);
}

void BM_ImportAsciiStl(benchmark::State& state) {
    importFile(state, true);
}

std::unique_ptr<topolib::StlObject> loadedMesh(uint32_t facets) {
    setUp();
    auto mesh = std::make_unique<topolib::StlObject>();
    fileIo::loadMeshFile(*mesh, wide(benchFile(facets, false)));
    return mesh;
}

void BM_WriteBinaryStl(benchmark::State& state) {
    auto mesh = loadedMesh(uint32_t(state.range(0)));
    const std::wstring out = wide(QDir::temp().filePath("velar_bench_out.stl").toStdString());
    for (auto _ : state)
        if (fileIo::exportBinaryStl(out, mesh->triangles()) != 1)
            state.SkipWithError("write failed");
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_WriteAsciiStl(benchmark::State& state) {
    auto mesh = loadedMesh(uint32_t(state.range(0)));
    const std::wstring out = wide(QDir::temp().filePath("velar_bench_out_a.stl").toStdString());
    for (auto _ : state)
        if (fileIo::exportAsciiStl(out, mesh->triangles()) != 1)
            state.SkipWithError("write failed");
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_WriteGeometryFormat(benchmark::State& state) {
    auto mesh = loadedMesh(uint32_t(state.range(0)));
    fileIo::VGeoFileHandling writer;
    writer.setTarget(mesh.get());
    const std::wstring out = wide(QDir::temp().filePath("velar_bench_out.vsg").toStdString());
    for (auto _ : state)
        if (writer.writeFile(out) != 1)
            state.SkipWithError("write failed");
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReadGeometryFormat(benchmark::State& state) {
    const std::wstring path = wide(QDir::temp().filePath(QString("velar_bench_%1.vsg").arg(state.range(0))).toStdString());
    {
        auto mesh = loadedMesh(uint32_t(state.range(0)));
        fileIo::VGeoFileHandling writer;
        writer.setTarget(mesh.get());
        writer.writeFile(path);
    }
    for (auto _ : state) {
        auto mesh = std::make_unique<topolib::StlObject>();
        fileIo::VGeoFileHandling reader;
        reader.setTarget(mesh.get());
        if (reader.readFile(path) != 1)
            state.SkipWithError("read failed");
        state.PauseTiming();
        mesh.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

#define VELAR_SIZES Arg(100000)->Arg(1000000)->Arg(5000000)->Unit(benchmark::kMillisecond)->UseRealTime()

BENCHMARK(BM_ImportBinaryStl)->VELAR_SIZES;
BENCHMARK(BM_ImportAsciiStl)->VELAR_SIZES;
BENCHMARK(BM_WriteBinaryStl)->VELAR_SIZES;
BENCHMARK(BM_WriteAsciiStl)->VELAR_SIZES;
BENCHMARK(BM_WriteGeometryFormat)->VELAR_SIZES;
BENCHMARK(BM_ReadGeometryFormat)->VELAR_SIZES;

} // namespace

BENCHMARK_MAIN();
