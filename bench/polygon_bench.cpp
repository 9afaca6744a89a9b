// Ear clipping of a wavy, non-convex ring of 1,000 and 10,000 corners into a mesh.
#include "topolib/FillPolygon.h"
#include "topolib/StlObject.h"
#include "topolib/StlVertex.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <deque>
#include <memory>

namespace {

void earClipping(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto mesh = std::make_unique<topolib::StlObject>();
        std::deque<topolib::StlVertex*> loop;
        for (int i = 0; i < n; ++i) {
            const double a = 2.0 * 3.14159265358979 * i / n;
            // Forty waves around the ring give reflex corners all the way round.
            const double r = 100.0 + 8.0 * std::sin(40.0 * a);
            const double p[3] = {r * std::cos(a), r * std::sin(a), 0.0};
            topolib::StlVertex* v = mesh->newVertex(p);
            mesh->appendVertex(v);
            loop.push_back(v);
        }
        mesh->reserveTriangles(static_cast<uint32_t>(n));
        auto* polygon = new topolib::FillPolygon(mesh.get());
        polygon->buildFromVertices(loop);
        polygon->fitPlane();
        state.ResumeTiming();
        const bool ok = mesh->triangulateHolePolygon(polygon);
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        if (!ok || mesh->triangleCount() != static_cast<uint32_t>(n - 2))
            state.SkipWithError("triangulation incomplete");
        mesh.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(n);
}

} // namespace

BENCHMARK(earClipping)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
