// Time of the hollowing steps (the preview's stock, offset and triangulation,
// the copy of the mesh, the joining of the inner shell) and the process's peak
// resident memory. The meshes are built outside the timed region.

#include "MeshFixtures.h"

#include "src/Features/lcm/HollowContext.h"
#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <vector>

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

using P = std::array<double, 3>;
P sub(const P& a, const P& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const P& a, const P& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Distance from p to the triangle abc (closest point by regions of the
// triangle's corners, sides and face).
double distanceToTriangle(const P& p, const P& a, const P& b, const P& c) {
    const P ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    auto at = [&](double v, double w) {
        const P q{a[0] + v * ab[0] + w * ac[0], a[1] + v * ab[1] + w * ac[1], a[2] + v * ab[2] + w * ac[2]};
        const P d = sub(p, q);
        return std::sqrt(dot(d, d));
    };
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0)
        return at(0, 0);
    const P bp = sub(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return at(1, 0);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return at(d1 / (d1 - d3), 0);
    const P cp = sub(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return at(0, 1);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return at(0, d2 / (d2 - d6));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        const double w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return at(1 - w, w);
    }
    const double denom = 1.0 / (va + vb + vc);
    return at(vb * denom, vc * denom);
}

// The wall the preview made (density 50), against the wall asked: the
// distance from (up to 2000 evenly picked) inner-surface points to the outer
// surface, as min, first percentile, median and max over the wall asked.
void wallAccuracy(benchmark::State& state, const meshfixtures::TriangleSoup& soup, double wall) {
    auto mesh = meshfixtures::buildMeshWithOctree(soup);
    std::vector<double> ratios;
    double cell = 0.0;
    for (auto _ : state) {
        lcm::HollowContext context;
        context.setModel(mesh.get());
        context.createPreview(wall, 50);
        cell = context.stock()->cellSize();
        const std::vector<topolib::Vector3D>& points = context.previewSurface()->points;
        ratios.clear();
        const std::size_t step = std::max<std::size_t>(1, points.size() / 2000);
        for (std::size_t i = 0; i < points.size(); i += step) {
            const P p{points[i].x, points[i].y, points[i].z};
            double best = HUGE_VAL;
            for (const meshfixtures::Facet& f : soup)
                best = std::min(best, distanceToTriangle(p, f.v[0], f.v[1], f.v[2]));
            ratios.push_back(best / wall);
        }
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["cell"] = cell;
    state.counters["wall_min"] = ratios.empty() ? 0.0 : ratios.front();
    state.counters["wall_p01"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 100];
    state.counters["wall_median"] = ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
    state.counters["wall_max"] = ratios.empty() ? 0.0 : ratios.back();
}

// Argument: the wall in tenths of a millimetre.
void BM_WallAccuracyCube40mm(benchmark::State& state) {
    static const meshfixtures::TriangleSoup cube = meshfixtures::cube(40.0);
    wallAccuracy(state, cube, state.range(0) / 10.0);
}
BENCHMARK(BM_WallAccuracyCube40mm)->Arg(10)->Arg(20)->Arg(30)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_WallAccuracySphere40mm(benchmark::State& state) {
    static const meshfixtures::TriangleSoup sphere = meshfixtures::uvSphere(20.0, 160, 81);
    wallAccuracy(state, sphere, state.range(0) / 10.0);
}
BENCHMARK(BM_WallAccuracySphere40mm)->Arg(10)->Arg(20)->Arg(30)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_WallAccuracyBumpyHead50mm(benchmark::State& state) {
    static const meshfixtures::TriangleSoup head = meshfixtures::bumpyHead(50.0, 6);
    wallAccuracy(state, head, state.range(0) / 10.0);
}
BENCHMARK(BM_WallAccuracyBumpyHead50mm)->Arg(10)->Arg(20)->Arg(30)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
