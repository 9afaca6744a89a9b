// Inside tests of a closed 1,000,000-facet mesh through its octree: time per
// point for the upward ray and for the downward crossing count.

#include "MeshFixtures.h"

#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <random>
#include <vector>

namespace {

struct Scene {
    std::unique_ptr<topolib::StlObject> mesh;
    std::vector<std::array<double, 3>> points;
};

// A torus of 1000 × 500 quads (1,000,000 facets) standing above the platform,
// with its octree, and random points in its box.
const Scene& scene() {
    static const Scene s = [] {
        Scene out;
        meshfixtures::BuildSteps steps;
        steps.shells = false;
        out.mesh =
            meshfixtures::buildMesh(meshfixtures::torus(40.0, 12.0, 1000, 500, {0.0, 0.0, 20.0}), steps);
        out.mesh->rebuildOctree();
        double lo[3], hi[3];
        out.mesh->getBBox(lo, hi);
        std::mt19937 rng(3);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        out.points.resize(4096);
        for (auto& p : out.points)
            for (int k = 0; k < 3; ++k)
                p[k] = lo[k] + unit(rng) * (hi[k] - lo[k]);
        return out;
    }();
    return s;
}

void BM_InsideByUpwardRay(benchmark::State& state) {
    const Scene& s = scene();
    std::size_t i = 0, inside = 0;
    for (auto _ : state) {
        inside += s.mesh->isInsideByUpwardRay(s.points[i++ & 4095].data()) ? 1 : 0;
    }
    benchmark::DoNotOptimize(inside);
    state.counters["triangles"] = s.mesh->triangleCount();
}
BENCHMARK(BM_InsideByUpwardRay)->Unit(benchmark::kMicrosecond);

void BM_InsideByDownwardCount(benchmark::State& state) {
    const Scene& s = scene();
    std::size_t i = 0, inside = 0;
    for (auto _ : state) {
        inside += s.mesh->isInsideByDownwardCount(s.points[i++ & 4095].data()) ? 1 : 0;
    }
    benchmark::DoNotOptimize(inside);
    state.counters["triangles"] = s.mesh->triangleCount();
}
BENCHMARK(BM_InsideByDownwardCount)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
