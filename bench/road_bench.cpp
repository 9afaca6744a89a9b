// The road a user takes through the real main window, timed step by step: each
// step's wall time in milliseconds as a counter, and the process's peak
// resident memory. The road runs once (the window is the process's one).
#include "Road.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <clocale>
#include <functional>

namespace {

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_Road(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir dir;
        road::Road r(dir.path());
        auto step = [&](const char* name, const std::function<bool()>& run) {
            QElapsedTimer t;
            t.start();
            const bool ok = run();
            state.counters[name] = double(t.nsecsElapsed()) / 1e6;
            if (!ok)
                state.SkipWithError(name);
            return ok;
        };
        step("0_write_models_ms", [&] {
            r.writeModels();
            return true;
        });
        step("1_start_ms", [&] { return r.start(); }) &&
            step("2_import_ms", [&] { return r.importModels(); }) &&
            step("3_select_ms", [&] { return r.selectSphere(); }) &&
            step("4_supports_ms", [&] { return r.generateSupports(); }) &&
            step("5_add_point_ms", [&] { return r.addSupportPoint(); }) &&
            step("6_delete_point_ms", [&] { return r.deleteSupportPoint(); }) && step("7_undo_redo_ms", [&] {
                r.undo();
                r.redo();
                return true;
            });
    }
    state.counters["peak_mb"] = peakMegabytes();
}
BENCHMARK(BM_Road)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
