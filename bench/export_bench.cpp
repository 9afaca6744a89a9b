// G-code export of one scene of 1,000,000 triangles (a torus of 1000 x 500
// quads lying on the platform, 16 mm high: 320 layers at 0.05 mm) with the
// shipped Tarn profile.
//
// BM_ExportRun is the whole run through the installed CuraEngine; its
// counters split it into the slicer's own time (slicer_ms) and the export's
// overhead beside it (overhead_ms = ms - slicer_ms: gathering, the STL file,
// starting the process, checking and moving the result, removing the work
// folder); each is the median over the iterations, and overhead_pct the
// median of the runs' overhead over slicer time. BM_ExportStl is the gathering and the STL file alone. Argument 1
// applies a calibration profile as the triangles are written.
#include "MeshFixtures.h"

#include "export/GcodeExport.h"
#include "export/SceneExport.h"
#include "export/XyCalibrationProfile.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <clocale>
#include <vector>

namespace {

QTemporaryDir* scratch = nullptr;

void buildScene() {
    ObjectTable* table = ObjectTable::instance();
    if (table->count() > 0)
        return;
    auto* o = new ObjectEx();
    meshfixtures::fillMesh(*o, meshfixtures::torus(20, 8, 1000, 500, {65, 65, 8}));
    o->setLoaded(true);
    table->addObject(o);
}

QString calibrationFile() {
    const QString path = scratch->filePath(QStringLiteral("bench.vcp"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write("Xval -60 -60.1\nXval 0 0.1\nXval 60 60.2\nYval -60 -59.8\nYval 0 0\nYval 60 60.3\n");
    return path;
}

void BM_ExportRun(benchmark::State& state) {
    buildScene();
    const QString appDir = QCoreApplication::applicationDirPath();
    gcodeexport::GcodeExportRequest request;
    request.applicationDir = appDir;
    request.profilePath = gcodeexport::GcodeExport::profilePath(appDir, QStringLiteral("Tarn_0.05mm"));
    request.calibrationPath = state.range(0) ? calibrationFile() : QString();
    request.targetPath = scratch->filePath(QStringLiteral("million.gcode"));
    gcodeexport::GcodeExport exporter;
    exporter.setMessageHandler([](const QString& text) { qWarning("%s", qPrintable(text)); });
    std::vector<double> ms, slicerMs, overheadMs, overheadPct;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QEventLoop loop;
        QObject::connect(&exporter, &gcodeexport::GcodeExport::finished, &loop, &QEventLoop::quit);
        if (exporter.start(request, gcodeexport::gatherExportScene(*ObjectTable::instance(), false)))
            loop.exec();
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        if (!exporter.lastResult().success) {
            state.SkipWithError("export failed");
            break;
        }
        state.SetIterationTime(elapsed / 1000.0);
        const double slicer = double(exporter.lastResult().slicerMs);
        ms.push_back(elapsed);
        slicerMs.push_back(slicer);
        overheadMs.push_back(elapsed - slicer);
        overheadPct.push_back(slicer > 0 ? 100.0 * (elapsed - slicer) / slicer : 0.0);
    }
    const auto median = [](std::vector<double> v) {
        if (v.empty())
            return 0.0;
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    state.counters["ms"] = median(ms);
    state.counters["slicer_ms"] = median(slicerMs);
    state.counters["overhead_ms"] = median(overheadMs);
    state.counters["overhead_pct"] = median(overheadPct);
    state.counters["layers"] = exporter.lastResult().layerCount;
}
BENCHMARK(BM_ExportRun)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ExportStl(benchmark::State& state) {
    buildScene();
    gcodeexport::XyCalibration calibration;
    QString error;
    QFile f(calibrationFile());
    f.open(QIODevice::ReadOnly);
    gcodeexport::XyCalibration::parse(QString::fromLatin1(f.readAll()), &calibration, &error);
    const QString path = scratch->filePath(QStringLiteral("stl2gcode.stl"));
    for (auto _ : state) {
        const gcodeexport::ExportScene scene =
            gcodeexport::gatherExportScene(*ObjectTable::instance(), false);
        if (!gcodeexport::writeExportStl(path, scene.pieces, state.range(0) ? &calibration : nullptr, &error))
            state.SkipWithError("write failed");
    }
    state.counters["triangles"] = ObjectTable::instance()->triangleCount(false);
}
BENCHMARK(BM_ExportStl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    QTemporaryDir dir;
    scratch = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    ObjectTable::instance()->deleteAllObjects();
    return 0;
}
