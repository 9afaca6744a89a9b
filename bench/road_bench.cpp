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
#include <utility>

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
        const QString project = dir.filePath("road.vpf");
        auto step = [&](const char* name, const std::function<bool()>& run) {
            QElapsedTimer t;
            t.start();
            const bool ok = run();
            state.counters[name] = double(t.nsecsElapsed()) / 1e6;
            if (!ok)
                state.SkipWithError(name);
            return ok;
        };
        step("00_write_models_ms", [&] {
            r.writeModels();
            return true;
        });
        const std::pair<const char*, std::function<bool()>> road[] = {
            {"01_start_ms", [&] { return r.start(); }},
            {"02_import_ms", [&] { return r.importModels(); }},
            {"03_select_ms", [&] { return r.selectSphere(); }},
            {"04_move_ms", [&] { return r.moveSphere(); }},
            {"05_rotate_ms", [&] { return r.rotateSphere(); }},
            {"06_undo_redo_ms",
             [&] {
                 r.undo();
                 r.undo();
                 r.redo();
                 r.redo();
                 return true;
             }},
            {"07_scale_ms", [&] { return r.scaleSphereHalf(); }},
            {"08_supports_ms", [&] { return r.generateSupports(); }},
            {"09_add_point_ms", [&] { return r.addSupportPoint(); }},
            {"10_delete_point_ms", [&] { return r.deleteSupportPoint(); }},
            {"11_hollow_ms", [&] { return r.hollowTorus(); }},
            {"12_slice_preview_ms", [&] { return r.openSlicePreview(); }},
            {"13_slice_slider_ms", [&] { return r.moveSliceSlider(20) && r.moveSliceSlider(80); }},
            {"14_save_project_ms", [&] { return r.saveProject(project); }},
            {"15_new_project_ms", [&] { return r.newProject(); }},
            {"16_open_project_ms", [&] { return r.openProject(project, 2); }},
            {"17_export_gcode_ms", [&] { return r.exportSphereGcode(dir.filePath("sphere.gcode")) > 0; }},
        };
        for (const auto& s : road)
            if (!step(s.first, s.second))
                break;
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
