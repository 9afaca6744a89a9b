// Support generation (detection, filter, placement, thinning, linking, meshes,
// raft) with the support panel's preset on generated models lifted 5 mm off
// the platform: a bumpy sphere of about 60 mm and 70,000 triangles, a 100 mm
// plate of 500,000 triangles whose faces carry random noise, and a 60 mm noisy
// plate meshed ever finer (0.5, 2 and 5 million triangles): its nearly flat
// underside stays within the height band of the lowest-point and area-filter
// walks, so their cost shows how the generation grows with the facet count.
// Reports the cones made and the peak resident memory of the process. Run one
// benchmark per process (--benchmark_filter) for a peak that belongs to that
// model.

#include "MeshFixtures.h"

#include "support/SupportGen.h"
#include "topolib/StlObject.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <memory>
#include <random>

namespace {

double peakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

// A sphere of radius 30 with radial bumps of up to 12 %, lowest point at z = 5:
// 2 * 264 * 132 = 69,696 triangles.
meshfixtures::TriangleSoup bumpySphere() {
    meshfixtures::TriangleSoup s = meshfixtures::uvSphere(30.0, 264, 133);
    for (auto& f : s) {
        for (auto& p : f.v) {
            const double r = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
            const double th = std::acos(p[2] / r), ph = std::atan2(p[1], p[0]);
            const double k = 1.0 + 0.08 * std::sin(7 * th) * std::cos(5 * ph) + 0.04 * std::sin(13 * ph + 3 * th);
            for (double& c : p)
                c *= k;
        }
    }
    double low = 1e9;
    for (const auto& f : s)
        for (const auto& p : f.v)
            low = std::min(low, p[2]);
    return meshfixtures::translated(s, {0.0, 0.0, 5.0 - low});
}

// A size x size x 3 plate on an n x n grid with +-0.05 mm of noise on both faces
// (the rim kept straight), standing at z = 5: 4 n^2 + 8 n triangles (n = 353
// gives 501,260).
meshfixtures::TriangleSoup noisyPlate(double size, int n) {
    const double h = size / n, th = 3.0, lift = 5.0;
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> noise(-0.05, 0.05);
    std::vector<double> zb((n + 1) * (n + 1)), zt((n + 1) * (n + 1));
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
            const bool rim = i == 0 || j == 0 || i == n || j == n;
            zb[i * (n + 1) + j] = lift + (rim ? 0.0 : noise(rng));
            zt[i * (n + 1) + j] = lift + th + (rim ? 0.0 : noise(rng));
        }
    }
    using P = meshfixtures::Point;
    meshfixtures::TriangleSoup s;
    s.reserve(4 * n * n + 8 * n);
    auto at = [&](const std::vector<double>& z, int i, int j) { return P{i * h, j * h, z[i * (n + 1) + j]}; };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            s.push_back({{at(zt, i, j), at(zt, i + 1, j), at(zt, i + 1, j + 1)}});
            s.push_back({{at(zt, i, j), at(zt, i + 1, j + 1), at(zt, i, j + 1)}});
            s.push_back({{at(zb, i, j), at(zb, i + 1, j + 1), at(zb, i + 1, j)}});
            s.push_back({{at(zb, i, j), at(zb, i, j + 1), at(zb, i + 1, j + 1)}});
        }
    }
    for (int k = 0; k < n; ++k) {
        const double a = k * h, b = (k + 1) * h, lo = lift, hi = lift + th;
        const P walls[4][4] = {{{a, 0, lo}, {b, 0, lo}, {b, 0, hi}, {a, 0, hi}},
                               {{b, size, lo}, {a, size, lo}, {a, size, hi}, {b, size, hi}},
                               {{0, b, lo}, {0, a, lo}, {0, a, hi}, {0, b, hi}},
                               {{size, a, lo}, {size, b, lo}, {size, b, hi}, {size, a, hi}}};
        for (const auto& w : walls) {
            s.push_back({{w[0], w[1], w[2]}});
            s.push_back({{w[0], w[2], w[3]}});
        }
    }
    return s;
}

void runGeneration(benchmark::State& state, topolib::StlObject& mesh) {
    size_t cones = 0, triangles = 0;
    for (auto _ : state) {
        mesh.resetTriangleGroups();
        support::SupportGen gen(&mesh);
        gen.setTipRadius(0.5);
        gen.setTrunkRadius(1.0);
        gen.setBranchRadius(0.6);
        gen.setHeadExtend(2.5);
        gen.setDensity(5.0);
        gen.setBaseType(1, false);
        gen.generate();
        state.PauseTiming();
        cones = 0;
        for (auto* a : gen.areas)
            for (auto* s : a->shapes)
                cones += s->isDeleted() ? 0 : 1;
        triangles = gen.supportTriangleCount();
        state.ResumeTiming();
    }
    state.counters["model_triangles"] = mesh.triangleCount();
    state.counters["live_cones"] = double(cones);
    state.counters["support_triangles"] = double(triangles);
    state.counters["peak_rss_MB"] = peakRssMb();
}

void BM_SupportBumpySphere70k(benchmark::State& state) {
    static std::unique_ptr<topolib::StlObject> mesh = meshfixtures::buildMeshWithOctree(bumpySphere());
    runGeneration(state, *mesh);
}
BENCHMARK(BM_SupportBumpySphere70k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_SupportNoisyPlate500k(benchmark::State& state) {
    static std::unique_ptr<topolib::StlObject> mesh =
        meshfixtures::buildMeshWithOctree(noisyPlate(100.0, 353));
    runGeneration(state, *mesh);
}
BENCHMARK(BM_SupportNoisyPlate500k)->Unit(benchmark::kMillisecond)->Iterations(3);

// The 60 mm plate with about state.range(0) triangles.
void BM_SupportNoisyPlate60mm(benchmark::State& state) {
    const int n = static_cast<int>(std::lround(std::sqrt(static_cast<double>(state.range(0)) / 4.0)));
    std::unique_ptr<topolib::StlObject> mesh = meshfixtures::buildMeshWithOctree(noisyPlate(60.0, n));
    runGeneration(state, *mesh);
}
BENCHMARK(BM_SupportNoisyPlate60mm)
    ->Arg(500000)
    ->Arg(2000000)
    ->Arg(5000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
