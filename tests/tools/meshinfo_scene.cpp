// meshinfo --scene FILE... [--rotate-undo]: imports the files as one batch
// through the object list, as the application does, and prints one line per
// object and a closing line:
//   object name= triangles= min=x,y,z max=x,y,z
//   scene objects= ms_import= ms_octree= overlaps=
// ms_import runs from the start of the batch to its end-of-batch signal,
// ms_octree from there until every object's octree is built; overlaps counts
// pairs of objects whose footprints overlap. With --rotate-undo every object
// is then rotated by 90 degrees about z through a rotation command and the
// command is undone; the closing line gains
//   ms_rotate= ms_undo= max_error=
// (max_error: the largest vertex difference after the undo).

#include "app/MemoryCheck.h"
#include "fileIo/PathEncoding.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"
#include "topolib/Matrix4D.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Footprint {
    double min[3], max[3];
};

} // namespace

int runScene(int argc, char** argv) {
    QStringList files;
    bool rotateUndo = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rotate-undo") == 0)
            rotateUndo = true;
        else
            files << fileIo::pathToQString(std::string(argv[i]));
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: meshinfo --scene FILE... [--rotate-undo]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });

    ObjectTable* table = ObjectTable::instance();
    QEventLoop loop;
    bool imported = false;
    QObject::connect(table, &ObjectTable::allObjectImported, &loop, [&] {
        pushImportCommand(table->objectsBeingCalculated());
        imported = true;
        loop.quit();
    });
    const auto start = Clock::now();
    table->importObjects(files);
    if (!imported)
        loop.exec();
    const double msImport = msSince(start);
    const auto octreeStart = Clock::now();
    for (ObjectEx* obj : table->objects())
        obj->waitForJobs();
    const double msOctree = msSince(octreeStart);

    std::vector<Footprint> boxes;
    for (ObjectEx* obj : table->objects()) {
        Footprint f;
        if (!obj->readBox(f.min, f.max))
            continue;
        boxes.push_back(f);
        std::printf("object name=%s triangles=%u min=%.6f,%.6f,%.6f max=%.6f,%.6f,%.6f\n",
                    obj->name().toLocal8Bit().constData(), obj->facetCount(), f.min[0], f.min[1], f.min[2],
                    f.max[0], f.max[1], f.max[2]);
    }
    // Swept along x: a box overlaps only boxes that start before it ends.
    std::vector<Footprint> sorted = boxes;
    std::sort(sorted.begin(), sorted.end(),
              [](const Footprint& a, const Footprint& b) { return a.min[0] < b.min[0]; });
    int overlaps = 0;
    for (size_t i = 0; i < sorted.size(); ++i)
        for (size_t j = i + 1; j < sorted.size() && sorted[j].min[0] < sorted[i].max[0]; ++j)
            if (sorted[i].min[0] < sorted[j].max[0] && sorted[i].min[1] < sorted[j].max[1] &&
                sorted[j].min[1] < sorted[i].max[1])
                ++overlaps;
    std::printf("scene objects=%d ms_import=%.1f ms_octree=%.1f overlaps=%d", table->count(), msImport, msOctree,
                overlaps);

    if (rotateUndo) {
        std::vector<std::vector<topolib::Vector3D>> before;
        for (ObjectEx* obj : table->objects()) {
            std::vector<topolib::Vector3D> positions;
            for (const topolib::StlVertex* v : obj->vertices())
                positions.push_back(v->pos);
            before.push_back(std::move(positions));
            double min[3], max[3];
            obj->readBox(min, max);
            const double centre[3] = {(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, (min[2] + max[2]) / 2};
            const double quarter = M_PI / 2, axis[3] = {0.0, 0.0, 1.0};
            topolib::Matrix4D m;
            topolib::makeAxisRotationMatrix(&quarter, centre, axis, m);
            obj->setTransform(m);
            obj->setSelected(true);
        }
        auto t = Clock::now();
        sceneHost()->pushCommand(new RoateCmd(), false);
        const double msRotate = msSince(t);
        // The octree rebuild that follows runs on the workers; the undo
        // waits for it, so it is left out of both figures.
        for (ObjectEx* obj : table->objects())
            obj->waitForJobs();
        t = Clock::now();
        sceneHost()->commandManager()->undo();
        const double msUndo = msSince(t);
        double maxError = 0.0;
        for (size_t i = 0; i < before.size(); ++i) {
            ObjectEx* obj = table->objectAt(int(i));
            obj->waitForJobs();
            for (size_t k = 0; k < before[i].size(); ++k) {
                const topolib::Vector3D& a = before[i][k];
                const topolib::Vector3D& b = obj->vertices()[k]->pos;
                maxError = std::max({maxError, std::fabs(a.x - b.x), std::fabs(a.y - b.y), std::fabs(a.z - b.z)});
            }
        }
        std::printf(" ms_rotate=%.1f ms_undo=%.1f max_error=%.3g", msRotate, msUndo, maxError);
    }
    std::printf("\n");
    sceneHost()->commandManager()->clear();
    table->deleteAllObjects();
    return table->count() == 0 && !boxes.empty() ? 0 : 1;
}
