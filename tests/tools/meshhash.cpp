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

#include "app/MemoryCheck.h"
#include "fileIo/FileHandlingFactory.h"
#include "fileIo/PathEncoding.h"
#include "tests/common/MeshStateHash.h"
#include "topolib/ParallelRuns.h"

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // As in meshinfo: MESHINFO_IMPORT_THREADS=N runs every import step on N threads.
    if (const char* threads = std::getenv("MESHINFO_IMPORT_THREADS"))
        topolib::forceImportThreads(static_cast<unsigned>(std::strtoul(threads, nullptr, 10)));
    if (argc < 2) {
        std::fprintf(stderr, "usage: meshhash FILE...\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C");
    installMemoryCheck([](const uint64_t&) { return true; });
    fileIo::installFileHandlers();
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        topolib::StlObject mesh;
        const int result = static_cast<int>(mesh.loadFromFile(fileIo::decodePath(argv[i])));
        std::printf("%s result=%d hash=%016llx triangles=%u vertices=%u edges=%u shells=%zu\n", argv[i], result,
                    static_cast<unsigned long long>(meshstate::stateHash(mesh)), mesh.triangleCount(), mesh.vertexCount(),
                    mesh.edgeCount(), mesh.shells().size());
        if (result != static_cast<int>(topolib::LoadResult::Success))
            status = 1;
    }
    return status;
}
