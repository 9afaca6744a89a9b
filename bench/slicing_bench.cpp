// Z-slab index build and the time of one slice after it, on closed meshes of a
// million facets: a torus lying on the platform and a latitude-longitude sphere.

#include "MeshFixtures.h"

#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/ZSlabIndex.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

std::unique_ptr<topolib::StlObject> build(const meshfixtures::TriangleSoup& soup) {
    meshfixtures::BuildSteps steps;
    steps.shells = true;
    return meshfixtures::buildMesh(soup, steps);
}

topolib::StlObject& millionFacetTorus() {
    static std::unique_ptr<topolib::StlObject> mesh = build(meshfixtures::torus(50.0, 15.0, 1000, 500));
    return *mesh;
}

topolib::StlObject& millionFacetSphere() {
    static std::unique_ptr<topolib::StlObject> mesh = build(meshfixtures::uvSphere(50.0, 1000, 501));
    return *mesh;
}

topolib::StlObject& meshFor(const benchmark::State& state) {
    return state.range(0) == 0 ? millionFacetTorus() : millionFacetSphere();
}

void BM_ZSlabIndexBuild(benchmark::State& state) {
    topolib::StlObject& mesh = meshFor(state);
    for (auto _ : state) {
        mesh.invalidateZSlabIndex();
        mesh.buildZSlabIndex();
    }
    const topolib::ZSlabIndex* index = mesh.zSlabIndex();
    state.counters["triangles"] = mesh.triangleCount();
    state.counters["slabs"] = index ? index->slabCount() : 0;
}
BENCHMARK(BM_ZSlabIndexBuild)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("sphere")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// One slice at a random height inside the mesh, the index already built.
void BM_SliceAt(benchmark::State& state) {
    topolib::StlObject& mesh = meshFor(state);
    mesh.buildZSlabIndex();
    const double* lo = mesh.bboxMin();
    const double* hi = mesh.bboxMax();
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> height(lo[2], hi[2]);
    double points = 0.0;
    for (auto _ : state) {
        auto set = mesh.sliceAt(height(rng));
        if (set)
            for (const topolib::SliceContour& c : set->contours)
                points += static_cast<double>(c.points.size());
        benchmark::DoNotOptimize(set);
    }
    state.counters["points_per_slice"] = points / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SliceAt)->Arg(0)->Arg(1)->ArgName("sphere")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
