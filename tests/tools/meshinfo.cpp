// meshinfo FILE: imports a mesh file the way the application does (read and
// weld, edges, shells) and prints one line of key=value pairs:
//   result= triangles= vertices= edges= shells= boundary= nonmanifold= area=
//   volume= ms_read= ms_weld= ms_edges= ms_shells= ms_total=
// boundary and nonmanifold count edges of class 2 and 3. Other tools and
// benchmarks parse this line; keep its keys and their order.
//
// With MESHINFO_IMPORT_THREADS=N in the environment every import step runs on N
// threads whatever the mesh size (1: the path of small meshes and one-core
// machines), for comparing the import's single- and multi-threaded paths.
//
// meshinfo FILE --slice Z: then cuts the mesh at height Z and prints a second line
//   slice z=Z contours=K open=J areas=A1,A2,... ms=
// with the signed area of each outline (positive counter-clockwise seen from
// above) in the order StlObject::sliceAt returns them; J counts the outlines that
// do not close; ms is the slice alone, after the z-slab index is built.
//
// meshinfo FILE --drill X Y Z NX NY NZ R [--drill ...]: then subtracts a 32-sided
// cylinder of radius R whose axis runs through (X, Y, Z) along (NX, NY, NZ), long
// enough to pass through the whole model (several --drill options make one tool
// of several shells, as the hollowing's drain holes), and prints a second line
//   drill result= triangles= shells= boundary= nonmanifold= unpaired= volume= ms=
// result 1 success, 0 failure (the model is then unchanged); triangles counts the
// live triangles, boundary and nonmanifold the edges of class 2 and 3 that still
// have a live triangle, unpaired the edges with live triangles but not exactly two;
// volume is enclosed by the live triangles; ms is the subtraction alone.
//
// meshinfo FILE --fill-holes: fills every open rim instead (meshinfo_fillholes.cpp).

#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "app/Startup.h"
#include "fileIo/FileHandlingFactory.h"
#include "fileIo/PathEncoding.h"
#include "fileIo/StlFileHandling.h"
#include "topolib/ImportSession.h"
#include "topolib/MeshBoolean.h"
#include "topolib/ParallelRuns.h"
#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <QString>

#include <algorithm>
#include <array>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Appends the 32-sided drill of one --drill to `tool` as a shell of its own.
void appendDrill(topolib::StlObject& tool, const topolib::StlObject& model, const double c[3], const double n[3],
                 double r) {
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    const double w[3] = {n[0] / len, n[1] / len, n[2] / len};
    double u[3] = {0.0, 0.0, 0.0};
    u[std::fabs(w[0]) < 0.9 ? 0 : 1] = 1.0;
    const double d = u[0] * w[0] + u[1] * w[1] + u[2] * w[2];
    double ul = 0.0;
    for (int k = 0; k < 3; ++k) {
        u[k] -= d * w[k];
        ul += u[k] * u[k];
    }
    for (double& x : u)
        x /= std::sqrt(ul);
    const double v[3] = {w[1] * u[2] - w[2] * u[1], w[2] * u[0] - w[0] * u[2], w[0] * u[1] - w[1] * u[0]};
    // Half length: from the axis point past the farthest corner of the model's box.
    double half = r + 1.0;
    for (int k = 0; k < 3; ++k) {
        const double far = std::max(std::fabs(model.bboxMin()[k] - c[k]), std::fabs(model.bboxMax()[k] - c[k]));
        half += far;
    }
    constexpr int kSides = 32;
    std::vector<double> xyz;
    std::vector<int> idx;
    for (int end = 0; end < 2; ++end) {
        const double s = end == 0 ? -half : half;
        for (int i = 0; i < kSides; ++i) {
            const double a = 2.0 * 3.141592653589793 * i / kSides;
            for (int k = 0; k < 3; ++k)
                xyz.push_back(c[k] + s * w[k] + r * (std::cos(a) * u[k] + std::sin(a) * v[k]));
        }
    }
    for (int end = 0; end < 2; ++end)
        for (int k = 0; k < 3; ++k)
            xyz.push_back(c[k] + (end == 0 ? -half : half) * w[k]);
    const int centre0 = 2 * kSides, centre1 = 2 * kSides + 1;
    for (int i = 0; i < kSides; ++i) {
        const int a0 = i, a1 = (i + 1) % kSides, b0 = kSides + i, b1 = kSides + (i + 1) % kSides;
        for (int q : {a0, a1, b1, a0, b1, b0, centre0, a1, a0, centre1, b0, b1})
            idx.push_back(q);
    }
    tool.appendMesh(static_cast<int>(xyz.size() / 3), static_cast<uint32_t>(idx.size() / 3), xyz.data(), idx.data());
}

// The drills of every --drill as one tool of several shells, ready for the
// boolean (edges, octree), as the hollowing merges its drain holes.
std::unique_ptr<topolib::StlObject> makeTool(const topolib::StlObject& model, const std::vector<std::array<double, 7>>& drills) {
    auto tool = std::make_unique<topolib::StlObject>();
    for (const std::array<double, 7>& d : drills)
        appendDrill(*tool, model, d.data(), d.data() + 3, d[6]);
    tool->computeBoundingBox();
    tool->setBoundingBox(tool->bboxMin(), tool->bboxMax());
    tool->buildEdges(false, 0, 25);
    tool->rebuildOctree();
    return tool;
}

} // namespace

int runSupport(int argc, char** argv);
int runHollow(int argc, char** argv);

int runProject(int argc, char** argv);
int runProjectHollow(int argc, char** argv);
int runOpen(int argc, char** argv);
int runGcode(int argc, char** argv);
int runScene(int argc, char** argv);
int runFillHoles(int argc, char** argv);

int main(int argc, char** argv) {
    // As the application starts: the threads share one heap under an
    // address-space limit, and a write past the file size limit fails and is
    // reported instead of ending the tool.
    shareHeapUnderAddressLimit();
    ignoreFileSizeSignal();
    if (argc >= 4 && std::strcmp(argv[2], "--gcode") == 0)
        return runGcode(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--project") == 0)
        return runProject(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--project-hollow") == 0)
        return runProjectHollow(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--open") == 0)
        return runOpen(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--scene") == 0)
        return runScene(argc, argv);
    if (argc == 3 && std::strcmp(argv[2], "--fill-holes") == 0)
        return runFillHoles(argc, argv);
    if (argc >= 3 && std::strcmp(argv[2], "--hollow") == 0)
        return runHollow(argc, argv);
    if (argc >= 3 && std::strcmp(argv[2], "--support") == 0) {
        std::setlocale(LC_ALL, "C");
        // The program's own check: supports that need more memory than the
        // machine has are refused as they are in the application.
        installMemoryCheck(hasEnoughMemory);
        return runSupport(argc, argv);
    }
    // --drill X Y Z NX NY NZ R (optional, repeatable: the drills form one tool).
    std::vector<std::array<double, 7>> drills;
    bool drill = argc >= 10 && (argc - 2) % 8 == 0;
    for (int at = 2; drill && at + 8 <= argc; at += 8) {
        std::array<double, 7> d{};
        drill = std::strcmp(argv[at], "--drill") == 0;
        for (int i = 0; drill && i < 7; ++i) {
            char* end = nullptr;
            d[i] = std::strtod(argv[at + 1 + i], &end);
            drill = end != argv[at + 1 + i] && *end == '\0';
        }
        drill = drill && d[6] > 0.0 && d[3] * d[3] + d[4] * d[4] + d[5] * d[5] > 0.0;
        drills.push_back(d);
    }
    // --slice Z (optional).
    bool slice = false;
    double sliceZ = 0.0;
    if (argc == 4 && std::strcmp(argv[2], "--slice") == 0) {
        char* end = nullptr;
        sliceZ = std::strtod(argv[3], &end);
        slice = end != argv[3] && *end == '\0';
    }
    if (argc != 2 && !slice && !drill) {
        std::fprintf(stderr, "usage: meshinfo FILE [--slice Z | --drill X Y Z NX NY NZ R ...]\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    if (const char* threads = std::getenv("MESHINFO_IMPORT_THREADS"))
        topolib::forceImportThreads(static_cast<unsigned>(std::strtoul(threads, nullptr, 10)));

    // Byte names that do not decode (Latin-1 under UTF-8) are kept exactly.
    const std::wstring path = fileIo::decodePath(argv[1]);
    topolib::StlObject mesh;
    double msRead = 0, msWeld = 0, msEdges = 0, msShells = 0;

    // The steps of topolib::StlObject::loadFromFile, timed one by one.
    const auto start = Clock::now();
    int result = fileIo::kFailure;
    topolib::ImportSession scratch;
    auto handler = fileIo::FileHandlingFactory::instance()->createForFile(path, &mesh);
    if (handler) {
        handler->setImportScratch(&scratch);
        result = handler->load();
        const auto loaded = Clock::now();
        if (auto* stl = dynamic_cast<fileIo::StlFileHandling*>(handler.get())) {
            msRead = stl->lastTimings().readMs;
            msWeld = stl->lastTimings().weldMs;
        } else {
            msRead = msBetween(start, loaded);
        }
        if (result != fileIo::kSuccess)
            std::fprintf(stderr, "meshinfo: cannot read %s: %s\n", argv[1],
                         fileIo::readFailureText(handler->lastFailure()));
        for (const std::string& note : handler->loadNotes())
            std::fprintf(stderr, "meshinfo: %s: %s\n", argv[1], note.c_str());
        // As loadFromFile: the geometry format brings its edges and shells.
        if (result == fileIo::kSuccess && mesh.edges().empty() && mesh.shells().empty()) {
            try {
                mesh.buildEdges(true, 60, 25, nullptr, topolib::StlObject::AfterEdges::FindShells, &scratch);
                const auto edgesBuilt = Clock::now();
                mesh.findShells(true, 85, nullptr, &scratch);
                const auto shellsFound = Clock::now();
                msEdges = msBetween(loaded, edgesBuilt);
                msShells = msBetween(edgesBuilt, shellsFound);
            } catch (const std::bad_alloc&) {
                // As loadFromFile: refused, and what was made given back.
                topolib::StlObject released;
                mesh.swapMeshWith(released);
                result = fileIo::kNotEnoughMemory;
                std::fprintf(stderr, "meshinfo: cannot read %s: %s\n", argv[1],
                             fileIo::readFailureText(fileIo::ReadFailure::TooLarge));
            }
        }
    }
    ProgressSink().finish();
    const double msTotal = msBetween(start, Clock::now());

    // Counted on threads: a big mesh's edge records span hundreds of megabytes.
    const unsigned countThreads = topolib::importThreads(mesh.edges().size());
    std::vector<std::array<unsigned long, 3>> counts(countThreads, {0, 0, 0});
    topolib::runOnThreads(countThreads, [&](unsigned part) {
        const std::size_t total = mesh.edges().size();
        const std::size_t end = topolib::partBegin(total, part + 1, countThreads);
        // Counted in locals: the parts' slots share cache lines.
        unsigned long live = 0, open = 0, many = 0;
        for (std::size_t i = topolib::partBegin(total, part, countThreads); i < end; ++i) {
            const topolib::StlEdge* e = mesh.edges()[i];
            if (e->edgeClass == topolib::kEdgeDetached)
                continue;
            ++live;
            open += e->edgeClass == topolib::kEdgeBoundary;
            many += e->edgeClass == topolib::kEdgeNonManifold;
        }
        counts[part] = {live, open, many};
    });
    unsigned long edges = 0, boundary = 0, nonManifold = 0;
    for (const auto& c : counts) {
        edges += c[0];
        boundary += c[1];
        nonManifold += c[2];
    }
    const unsigned long triangles = mesh.triangleCount();

    std::printf("result=%d triangles=%lu vertices=%lu edges=%lu shells=%lu boundary=%lu nonmanifold=%lu "
                "area=%.6f volume=%.6f ms_read=%.1f ms_weld=%.1f ms_edges=%.1f ms_shells=%.1f ms_total=%.1f\n",
                result, triangles, static_cast<unsigned long>(mesh.vertices().size()), edges,
                static_cast<unsigned long>(mesh.shells().size()), boundary, nonManifold, mesh.area(), mesh.volume(),
                msRead, msWeld, msEdges, msShells, msTotal);
    // A mesh whose read failed is half made (its facets lack vertices): only
    // a loaded one is cut.
    if (slice && result == fileIo::kSuccess) {
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
    if (drill && result == fileIo::kSuccess) {
        mesh.rebuildOctree();
        std::unique_ptr<topolib::StlObject> tool = makeTool(mesh, drills);
        const auto drillStart = Clock::now();
        topolib::MeshBoolean op(&mesh, tool.get());
        const bool ok = op.subtract();
        const double msDrill = msBetween(drillStart, Clock::now());
        unsigned long live = 0, openEdges = 0, overfull = 0;
        for (const topolib::StlTriangle* t : mesh.triangles())
            live += t->isDeleted() ? 0 : 1;
        for (const topolib::StlEdge* e : mesh.edges()) {
            bool used = false;
            for (const topolib::StlTriangle* t : *e)
                used = used || !t->isDeleted();
            if (!used)
                continue;
            openEdges += e->edgeClass == topolib::kEdgeBoundary;
            overfull += e->edgeClass == topolib::kEdgeNonManifold;
        }
        std::printf("drill result=%d triangles=%lu shells=%lu boundary=%lu nonmanifold=%lu unpaired=%lu volume=%.6f "
                    "ms=%.1f\n",
                    ok ? 1 : 0, live, static_cast<unsigned long>(mesh.shells().size()), openEdges, overfull,
                    static_cast<unsigned long>(topolib::countUnpairedEdges(mesh)), topolib::liveVolume(mesh), msDrill);
    }
    return result == fileIo::kSuccess ? 0 : 1;
}
