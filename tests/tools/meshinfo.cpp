// meshinfo FILE: imports a mesh file the way the application does (read and
// weld, edges, shells) and prints one line of key=value pairs:
//   result= triangles= vertices= edges= shells= boundary= nonmanifold= area=
//   volume= ms_read= ms_weld= ms_edges= ms_shells= ms_total=
// boundary and nonmanifold count edges of class 2 and 3. Other tools and
// benchmarks parse this line; keep its keys and their order.
//
// meshinfo FILE --slice Z: then cuts the mesh at height Z and prints a second line
//   slice z=Z contours=K open=J areas=A1,A2,... ms=
// with the signed area of each outline (positive counter-clockwise seen from
// above) in the order StlObject::sliceAt returns them; J counts the outlines that
// do not close; ms is the slice alone, after the z-slab index is built.

#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "fileIo/FileHandlingFactory.h"
#include "fileIo/StlFileHandling.h"
#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"

#include <QString>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

} // namespace

int main(int argc, char** argv) {
    // --slice Z (optional).
    bool slice = false;
    double sliceZ = 0.0;
    if (argc == 4 && std::strcmp(argv[2], "--slice") == 0) {
        char* end = nullptr;
        sliceZ = std::strtod(argv[3], &end);
        slice = end != argv[3] && *end == '\0';
    }
    if (argc != 2 && !slice) {
        std::fprintf(stderr, "usage: meshinfo FILE [--slice Z]\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    fileIo::installFileHandlers();

    const std::wstring path = QString::fromLocal8Bit(argv[1]).toStdWString();
    topolib::StlObject mesh;
    double msRead = 0, msWeld = 0, msEdges = 0, msShells = 0;

    // The steps of topolib::StlObject::loadFromFile, timed one by one.
    const auto start = Clock::now();
    int result = fileIo::kFailure;
    auto handler = fileIo::FileHandlingFactory::instance()->createForFile(path, &mesh);
    if (handler) {
        result = handler->load();
        const auto loaded = Clock::now();
        if (auto* stl = dynamic_cast<fileIo::StlFileHandling*>(handler.get())) {
            msRead = stl->lastTimings().readMs;
            msWeld = stl->lastTimings().weldMs;
        } else {
            msRead = msBetween(start, loaded);
        }
        if (result == fileIo::kSuccess) {
            mesh.buildEdges(true, 60, 25);
            const auto edgesBuilt = Clock::now();
            mesh.findShells(true, 85);
            const auto shellsFound = Clock::now();
            msEdges = msBetween(loaded, edgesBuilt);
            msShells = msBetween(edgesBuilt, shellsFound);
        }
    }
    reportProgress(-1, 0);
    const double msTotal = msBetween(start, Clock::now());

    unsigned long edges = 0, boundary = 0, nonManifold = 0;
    for (const auto* e : mesh.edges()) {
        if (e->edgeClass == topolib::kEdgeDetached)
            continue;
        ++edges;
        boundary += e->edgeClass == topolib::kEdgeBoundary;
        nonManifold += e->edgeClass == topolib::kEdgeNonManifold;
    }
    const unsigned long triangles = mesh.triangleCount();

    std::printf("result=%d triangles=%lu vertices=%lu edges=%lu shells=%lu boundary=%lu nonmanifold=%lu "
                "area=%.6f volume=%.6f ms_read=%.1f ms_weld=%.1f ms_edges=%.1f ms_shells=%.1f ms_total=%.1f\n",
                result, triangles, static_cast<unsigned long>(mesh.vertices().size()), edges,
                static_cast<unsigned long>(mesh.shells().size()), boundary, nonManifold, mesh.area(), mesh.volume(),
                msRead, msWeld, msEdges, msShells, msTotal);
    if (slice) {
        mesh.buildZSlabIndex();
        const auto sliceStart = Clock::now();
        const std::unique_ptr<topolib::SliceContourSet> set = mesh.sliceAt(sliceZ);
        const double msSlice = msBetween(sliceStart, Clock::now());
        std::string areas;
        unsigned long contours = 0, open = 0;
        if (set) {
            for (const topolib::SliceContour& c : set->contours) {
                char text[64];
                std::snprintf(text, sizeof text, "%s%.6f", contours ? "," : "", c.signedArea());
                areas += text;
                ++contours;
                open += c.closed ? 0 : 1;
            }
        }
        std::printf("slice z=%g contours=%lu open=%lu areas=%s ms=%.3f\n", sliceZ, contours, open,
                    areas.c_str(), msSlice);
    }
    return result == fileIo::kSuccess ? 0 : 1;
}
