// meshhash FILE...: imports each file the way the application does (read and
// weld, edges, shells) and prints one line per file:
//   FILE hash=<16 hex digits> triangles= vertices= edges= shells=
// The hash covers the whole imported state: every vertex's position, order and
// incident triangle list; every triangle's flags, id, normal, vertex and edge
// indices; every edge's index, flags, class, vertices and triangles in order;
// every shell's flags, counts, box and its primary and reversed triangle lists;
// the facet, vertex counts, area and volume. Two builds that import a file into
// the same state print the same hash, so a change to the import can be checked
// for identical results on a set of files.
// meshhash --octree FILE... also builds each mesh's octree as the scene does
// after an import and adds octree=<16 hex digits> (every leaf's cube and its
// vertex and triangle lists in order, see meshstate::octreeHash).
// meshhash --octree-beside FILE... prints the same line with the octree that
// the scene's import builds beside the edge and shell steps (topolib::OctreeBeside);
// octree=none when that tree was not published.

#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/PathEncoding.h"
#include "tests/common/MeshStateHash.h"
#include "topolib/OctreeBeside.h"
#include "topolib/ParallelRuns.h"

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    // As in meshinfo: MESHINFO_IMPORT_THREADS=N runs every import step on N threads.
    if (const char* threads = std::getenv("MESHINFO_IMPORT_THREADS"))
        topolib::forceImportThreads(static_cast<unsigned>(std::strtoul(threads, nullptr, 10)));
    const bool beside = argc >= 2 && std::strcmp(argv[1], "--octree-beside") == 0;
    const bool withOctree = beside || (argc >= 2 && std::strcmp(argv[1], "--octree") == 0);
    if (argc < (withOctree ? 3 : 2)) {
        std::fprintf(stderr, "usage: meshhash [--octree | --octree-beside] FILE...\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    int status = 0;
    for (int i = withOctree ? 2 : 1; i < argc; ++i) {
        topolib::StlObject mesh;
        std::unique_ptr<topolib::OctreeBeside> tree;
        const topolib::StlObject::SideWork side{[&] { tree = std::make_unique<topolib::OctreeBeside>(mesh); },
                                                [&] { tree->join(); }};
        const int result = static_cast<int>(fileIo::loadMeshFile(mesh, fileIo::decodePath(argv[i]),
                                                                 {nullptr, beside ? &side : nullptr})
                                                .result);
        const bool published = tree && tree->publish(mesh);
        std::printf("%s result=%d hash=%016llx triangles=%u vertices=%u edges=%u shells=%zu", argv[i], result,
                    static_cast<unsigned long long>(meshstate::stateHash(mesh)), mesh.triangleCount(), mesh.vertexCount(),
                    mesh.edgeCount(), mesh.shells().size());
        if (beside) {
            if (published)
                std::printf(" octree=%016llx", static_cast<unsigned long long>(meshstate::octreeHash(mesh)));
            else
                std::printf(" octree=none");
        } else if (withOctree) {
            mesh.computeBoundingBox();
            mesh.setBoundingBox(mesh.bboxMin(), mesh.bboxMax());
            mesh.buildOctree();
            std::printf(" octree=%016llx", static_cast<unsigned long long>(meshstate::octreeHash(mesh)));
        }
        std::printf("\n");
        if (result != static_cast<int>(topolib::LoadResult::Success))
            status = 1;
    }
    return status;
}
