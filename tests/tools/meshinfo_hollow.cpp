// meshinfo FILE --hollow WALL DENSITY [--hole X Y Z NX NY NZ SIZE]...: imports
// the file as the application does (read, edges, shells, octree), hollows it as
// "Ok" in the hollowing panel would (preview at WALL and DENSITY, then a copy
// with the inner surface and the drain holes; a hole sits at the clicked point
// X Y Z, runs along N into the object, has the diameter SIZE, the panel's taper
// 0 and the length WALL) and prints one line
//   hollow result= triangles= inner_triangles= shells= boundary= nonmanifold=
//   volume= cell= ms_copy= ms_stock= ms_offset= ms_mesh= ms_holes= ms= peak_mb= wall=
// result 1 when an inner shell was made, 0 otherwise (the reason goes to
// stderr); triangles counts the live triangles of the result, inner_triangles
// those of the new inner shell, boundary / nonmanifold the edges with one or
// more than two live triangles; volume is the signed volume of the result;
// ms_copy is the copy of the model that receives the hollow (records, edges,
// shells and octree); ms_stock the shell roles, the cell size and the stock;
// ms_mesh the triangulation and its joining to the copy (orientation, new
// records, shells, area and volume; with drain holes, the new triangles filed
// into the copy's octree where that is sooner than ms_holes building the tree
// whole; without holes the copy's octree is left to the caller, as the
// application builds it on a worker); ms_holes the drain holes; ms is the whole
// hollowing after the import; peak_mb the process's peak resident memory; wall
// the wall made (the wall asked, or the thinnest wall the hollowing can make
// for the model when that is thicker; 0 when no inner shell was made).

#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/PathEncoding.h"
#include "src/Features/lcm/HollowContext.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <QString>

#include <sys/resource.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool parseNumbers(char** args, int count, double* out) {
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        out[i] = std::strtod(args[i], &end);
        if (end == args[i] || *end != '\0')
            return false;
    }
    return true;
}

} // namespace

int runHollow(int argc, char** argv) {
    double wallDensity[2] = {0, 0};
    bool ok = argc >= 5 && parseNumbers(argv + 3, 2, wallDensity) && wallDensity[0] > 0.0;
    std::vector<lcm::DrainHoleSpec> holes;
    for (int i = 5; ok && i < argc; i += 8) {
        double v[7];
        ok = std::strcmp(argv[i], "--hole") == 0 && i + 7 < argc && parseNumbers(argv + i + 1, 7, v) && v[6] > 0.0;
        if (ok)
            holes.push_back({{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, v[6], 0.0});
    }
    if (!ok) {
        std::fprintf(stderr, "usage: meshinfo FILE --hollow WALL DENSITY [--hole X Y Z NX NY NZ SIZE]...\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    topolib::StlObject mesh;
    if (fileIo::loadMeshFile(mesh, fileIo::decodePath(argv[1])).result != topolib::LoadResult::Success) {
        std::printf("hollow result=0 triangles=0 inner_triangles=0 shells=0 boundary=0 nonmanifold=0 volume=0 cell=0 "
                    "ms_copy=0 ms_stock=0 ms_offset=0 ms_mesh=0 ms_holes=0 ms=0 peak_mb=0 wall=0\n");
        return 1;
    }
    mesh.computeBoundingBox();
    mesh.setBoundingBox(mesh.bboxMin(), mesh.bboxMax());
    mesh.rebuildOctree();

    const auto start = std::chrono::steady_clock::now();
    lcm::HollowContext context;
    lcm::HollowStatus status = lcm::HollowStatus::Ok;
    std::unique_ptr<topolib::StlObject> result =
        lcm::hollowedCopy(context, mesh, wallDensity[0], static_cast<int>(wallDensity[1]), holes, &status);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!context.message().empty())
        std::fprintf(stderr, "%s\n", context.message().c_str());
    for (const std::string& w : context.warnings())
        std::fprintf(stderr, "%s\n", w.c_str());

    const topolib::StlObject& out = result ? *result : mesh;
    unsigned long live = 0, boundary = 0, overfull = 0;
    for (const topolib::StlTriangle* t : out.triangles())
        live += t->isDeleted() ? 0 : 1;
    for (const topolib::StlEdge* e : out.edges()) {
        int n = 0;
        for (const topolib::StlTriangle* t : *e)
            n += t->isDeleted() ? 0 : 1;
        boundary += n == 1 ? 1 : 0;
        overfull += n > 2 ? 1 : 0;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const lcm::HollowTimings& t = context.timings();
    std::printf("hollow result=%d triangles=%lu inner_triangles=%lu shells=%lu boundary=%lu nonmanifold=%lu "
                "volume=%.6f cell=%.6f ms_copy=%.1f ms_stock=%.1f ms_offset=%.1f ms_mesh=%.1f ms_holes=%.1f ms=%.1f peak_mb=%.1f wall=%.6f\n",
                result && context.innerTriangleCount() > 0 ? 1 : 0, live,
                static_cast<unsigned long>(context.innerTriangleCount()), static_cast<unsigned long>(out.shells().size()),
                boundary, overfull, topolib::liveVolume(out), context.stock() && !context.stock()->isEmpty() ? context.stock()->cellSize() : 0.0,
                t.copy, t.stock, t.offset, t.mesh + t.assemble, t.holes, ms, usage.ru_maxrss / 1024.0,
                context.wallMade());
    return status == lcm::HollowStatus::Ok ? 0 : 1;
}
