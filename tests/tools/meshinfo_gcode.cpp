// meshinfo FILE --gcode OUT.gcode [--profile P.vfg] [--calib C.vcp] [--support]:
// imports the file as the application does (with --support, lifts it to z = 5
// and generates its supports with the default parameters), exports every
// object through the same path as the export panel (work file, argument list,
// success rule) with the slicer profile P (default: the first profile in the
// tool's own "profile" folder) and the calibration profile C, and prints
//   gcode result= layers= bytes= ms= slicer_ms= scene_unchanged=
// result ok or failed; layers the G-code's ";LAYER_COUNT:" value; bytes its
// size; ms the whole export from gathering the scene to the end of the run,
// slicer_ms the slicer's own share; scene_unchanged=1 when every vertex of the
// scene is bit for bit as before. A failure's message goes to stderr.

#include "app/MemoryCheck.h"
#include "export/GcodeExport.h"
#include "export/SceneExport.h"
#include "fileIo/PathEncoding.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

std::vector<double> sceneCoordinates(const ObjectTable& table) {
    std::vector<double> out;
    for (const ObjectEx* o : table.objects())
        for (const topolib::StlVertex* v : o->vertices())
            out.insert(out.end(), {v->pos.x, v->pos.y, v->pos.z});
    return out;
}

} // namespace

int runGcode(int argc, char** argv) {
    QString file, target, profile, calib;
    bool withSupport = false;
    bool ok = argc >= 4;
    if (ok) {
        file = fileIo::pathToQString(std::string(argv[1]));
        target = QString::fromLocal8Bit(argv[3]);
    }
    for (int i = 4; ok && i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--profile") == 0 && hasValue)
            profile = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--calib") == 0 && hasValue)
            calib = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--support") == 0)
            withSupport = true;
        else
            ok = false;
    }
    if (!ok) {
        std::fprintf(
            stderr, "usage: meshinfo FILE --gcode OUT.gcode [--profile P.vfg] [--calib C.vcp] [--support]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    installMemoryCheck(hasEnoughMemory);
    const QString appDir = QCoreApplication::applicationDirPath();
    if (profile.isEmpty()) {
        const QStringList profiles = QDir(appDir + "/profile").entryList({"*.vfg"}, QDir::Files, QDir::Name);
        profile = appDir + "/profile/" + profiles.value(0);
    }

    ObjectTable* table = ObjectTable::instance();
    {
        QEventLoop loop;
        QObject::connect(table, &ObjectTable::allObjectImported, &loop, &QEventLoop::quit);
        table->importObjects({file});
        if (table->importsRunning())
            loop.exec();
    }
    if (withSupport) {
        const double z = 5.0;
        ZOffsetRecords lifted;
        table->setSelectedObjectsZOffset(&z, lifted);
        table->generateSupportForSelected();
    }
    // Jobs the import started (the octree) are not part of the export.
    for (const ObjectEx* o : table->objects())
        o->waitForJobs();
    const std::vector<double> before = sceneCoordinates(*table);

    gcodeexport::GcodeExport exporter;
    exporter.setMessageHandler([](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    gcodeexport::GcodeExportRequest request;
    request.applicationDir = appDir;
    request.profilePath = profile;
    request.calibrationPath = calib;
    request.targetPath = target;

    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QObject::connect(&exporter, &gcodeexport::GcodeExport::finished, &loop, &QEventLoop::quit);
    if (exporter.start(request, gcodeexport::gatherExportScene(*table, false)))
        loop.exec();
    const qint64 ms = clock.elapsed();
    const gcodeexport::GcodeExportResult& r = exporter.lastResult();
    const std::vector<double> after = sceneCoordinates(*table);
    const bool unchanged = after.size() == before.size() &&
                           std::memcmp(after.data(), before.data(), after.size() * sizeof(double)) == 0;
    std::printf("gcode result=%s layers=%d bytes=%lld ms=%lld slicer_ms=%lld scene_unchanged=%d\n",
                r.success ? "ok" : "failed", r.layerCount, static_cast<long long>(r.bytes),
                static_cast<long long>(ms), static_cast<long long>(r.slicerMs), unchanged ? 1 : 0);
    table->deleteAllObjects();
    return r.success ? 0 : 1;
}
