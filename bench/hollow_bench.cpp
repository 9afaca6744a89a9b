// Time of the hollowing steps (the preview's stock, offset and triangulation,
// the copy of the mesh, the joining of the inner shell) and the process's peak
// resident memory. The meshes are built outside the timed region.

#include "MeshFixtures.h"

#include "src/Features/lcm/HollowContext.h"
#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>

namespace {

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// threads: the stock's worker threads (0 every core).
void runHollow(benchmark::State& state, const meshfixtures::TriangleSoup& soup, double wall, int density,
               unsigned threads = 0) {
    auto mesh = meshfixtures::buildMeshWithOctree(soup);
    lcm::HollowTimings sum;
    double copyMs = 0.0, innerTriangles = 0.0, cell = 0.0;
    for (auto _ : state) {
        lcm::HollowContext context;
        context.setThreadCount(threads);
        lcm::HollowStatus status;
        const auto start = std::chrono::steady_clock::now();
        auto result = lcm::hollowedCopy(context, *mesh, wall, density, {}, &status);
        const double total = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const lcm::HollowTimings& t = context.timings();
        sum.stock += t.stock;
        sum.offset += t.offset;
        sum.mesh += t.mesh;
        sum.assemble += t.assemble;
        copyMs += total - t.stock - t.offset - t.mesh - t.assemble - t.holes;
        innerTriangles = static_cast<double>(context.innerTriangleCount());
        cell = context.stock()->cellSize();
        state.PauseTiming();
        result.reset();
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ms_stock"] = sum.stock / n;
    state.counters["ms_offset"] = sum.offset / n;
    state.counters["ms_mesh"] = sum.mesh / n;
    state.counters["ms_assemble"] = sum.assemble / n;
    state.counters["ms_copy_other"] = copyMs / n;
    state.counters["inner_triangles"] = innerTriangles;
    state.counters["cell"] = cell;
    state.counters["peak_mb"] = peakMegabytes();
}

void BM_Hollow70kSphere60mmWall3Density50(benchmark::State& state) {
    static const meshfixtures::TriangleSoup sphere = meshfixtures::uvSphere(30.0, 250, 141);
    runHollow(state, sphere, 3.0, 50);
}
BENCHMARK(BM_Hollow70kSphere60mmWall3Density50)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_HollowMillionTorus150mmWall2Density100(benchmark::State& state) {
    static const meshfixtures::TriangleSoup torus = meshfixtures::torus(50.0, 25.0, 1000, 500);
    runHollow(state, torus, 2.0, 100, static_cast<unsigned>(state.range(0)));
}
// Argument: worker threads (0 every core, 1 a single thread).
BENCHMARK(BM_HollowMillionTorus150mmWall2Density100)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
