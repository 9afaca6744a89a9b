// meshinfo FILE --fill-holes: imports the file as the application does (read and
// weld, edges, shells), then fills every open rim the way the hollowing closes
// its stray holes (StlObject::fillHole on each untraced boundary edge, then
// triangulateHolePolygon) and prints one line
//   fill holes= unclosed= nodes= polygons_hash= marks_hash= triangles= boundary=
//   area= volume= hash= ms=
// holes counts the polygons made, unclosed those of state 1, nodes their nodes;
// polygons_hash covers each polygon's state, node vertex indices and rim
// triangles in order, marks_hash every vertex's flags after the run; triangles
// and boundary count the live triangles and the edges with exactly one; area and
// volume are recomputed; hash is the whole mesh state (tests/tools/meshhash). Two
// builds that fill the same way print the same line but for ms.

#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/PathEncoding.h"
#include "tests/common/MeshStateHash.h"
#include "topolib/FillPolygon.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <chrono>
#include <clocale>
#include <cstdio>

int runFillHoles(int, char** argv) {
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    topolib::StlObject mesh;
    if (fileIo::loadMeshFile(mesh, fileIo::decodePath(argv[1])).result != topolib::LoadResult::Success) {
        std::printf(
            "fill holes=0 unclosed=0 nodes=0 polygons_hash=0 marks_hash=0 triangles=0 boundary=0 area=0 "
            "volume=0 hash=0 ms=0\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    unsigned long holes = 0, unclosed = 0, nodes = 0;
    meshstate::Hash polygons;
    // Triangulating adds edges; those are closed and need no visit.
    const std::size_t edgeCount = mesh.edges().size();
    for (std::size_t i = 0; i < edgeCount; ++i) {
        topolib::StlEdge* e = mesh.edges()[i];
        if (!e || e->edgeClass != topolib::kEdgeBoundary || e->marks() != 0)
            continue;
        topolib::FillPolygon* polygon = mesh.fillHole(e);
        if (!polygon)
            continue;
        ++holes;
        unclosed += polygon->state == 1 ? 1 : 0;
        nodes += polygon->nodeCount();
        polygons.add(polygon->state);
        for (const topolib::FillPolygonNode* n : polygon->nodes())
            polygons.add(meshstate::vertexIndex(n->vertex));
        for (const topolib::StlTriangle* t : polygon->rimTriangles)
            polygons.add(meshstate::triangleId(t));
        mesh.triangulateHolePolygon(polygon);
    }
    for (topolib::StlEdge* e : mesh.edges())
        if (e)
            e->clearMarks();
    mesh.clearTriangleMarks();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

    meshstate::Hash marks;
    for (const topolib::StlVertex* v : mesh.vertices())
        marks.add(v->flags);
    unsigned long live = 0, boundary = 0;
    for (const topolib::StlTriangle* t : mesh.triangles())
        live += t->isDeleted() ? 0 : 1;
    for (const topolib::StlEdge* e : mesh.edges()) {
        int n = 0;
        if (e)
            for (const topolib::StlTriangle* t : *e)
                n += t->isDeleted() ? 0 : 1;
        boundary += n == 1 ? 1 : 0;
    }
    mesh.computeAreaAndVolume();
    std::printf("fill holes=%lu unclosed=%lu nodes=%lu polygons_hash=%016llx marks_hash=%016llx triangles=%lu "
                "boundary=%lu area=%.9g volume=%.9g hash=%016llx ms=%.1f\n",
                holes, unclosed, nodes, static_cast<unsigned long long>(polygons.h),
                static_cast<unsigned long long>(marks.h), live, boundary, mesh.area(), mesh.volume(),
                static_cast<unsigned long long>(meshstate::stateHash(mesh)), ms);
    return 0;
}
