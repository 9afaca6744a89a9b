// Time of the drain-hole boolean (MeshBoolean::subtract, including the copies it
// keeps for rolling back) on spheres of a million and of 70,000 triangles. The
// meshes are rebuilt outside the timed region for every iteration.

#include "MeshFixtures.h"

#include "topolib/MeshBoolean.h"
#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using meshfixtures::buildMeshWithOctree;
using meshfixtures::Point;
using meshfixtures::TriangleSoup;

// Parallel 32-sided holes of radius r along d through the given axis points.
TriangleSoup holes(const std::vector<Point>& centres, const Point& d, double r, double half) {
    const double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    TriangleSoup tool;
    for (const Point& c : centres)
        tool = meshfixtures::concatenated(
            tool, meshfixtures::cylinder(r, {c[0] - d[0] / l * half, c[1] - d[1] / l * half, c[2] - d[2] / l * half},
                                         {c[0] + d[0] / l * half, c[1] + d[1] / l * half, c[2] + d[2] / l * half},
                                         32));
    return tool;
}

void runBoolean(benchmark::State& state, const TriangleSoup& model, const TriangleSoup& tool) {
    std::size_t failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto a = buildMeshWithOctree(model);
        auto b = buildMeshWithOctree(tool);
        state.ResumeTiming();
        topolib::MeshBoolean op(a.get(), b.get());
        failures += op.subtract() ? 0 : 1;
        state.PauseTiming();
        a.reset();
        b.reset();
        state.ResumeTiming();
    }
    state.counters["triangles"] = double(model.size());
    state.counters["failures"] = double(failures);
}

void BM_FourHolesThroughMillionTriangleSphere(benchmark::State& state) {
    static const TriangleSoup sphere = meshfixtures::uvSphere(20.0, 1000, 501);
    static const TriangleSoup tool =
        holes({{6, 6, 0}, {-6, 6, 0}, {6, -6, 0}, {-6, -6, 0}}, {0.3, 0.2, 1.0}, 1.5, 40.0);
    runBoolean(state, sphere, tool);
}
BENCHMARK(BM_FourHolesThroughMillionTriangleSphere)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OneHoleThrough70kTriangleSphere(benchmark::State& state) {
    static const TriangleSoup sphere = meshfixtures::uvSphere(20.0, 250, 141);
    static const TriangleSoup tool = holes({{0.3, 0.2, 0}}, {0.2, 0.3, 1.0}, 1.5, 40.0);
    runBoolean(state, sphere, tool);
}
BENCHMARK(BM_OneHoleThrough70kTriangleSphere)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
