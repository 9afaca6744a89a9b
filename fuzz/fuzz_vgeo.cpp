// Geometry-format reader on arbitrary entries, twice: from a stream, and as a
// file opened the way the application opens one (StlObject::loadFromFile with
// the file handlers, which must keep the edges and shells as read). What is
// accepted is written back, which walks the shells and edges once more, and
// every triangle's edges must be records of the mesh's own edge list.
#include "tests/fileIo/MemoryStream.h"

#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/VGeoFileHandling.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// One file per fuzzing process, removed at exit.
const std::string& scratchFile() {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_vgeo_XXXXXX.vsg";
        const int fd = mkstemps(name, 4);
        if (fd >= 0)
            close(fd);
        std::atexit([] { std::remove(scratchFile().c_str()); });
        return std::string(name);
    }();
    return path;
}

void checkEdgesAreOwn(const topolib::StlObject& mesh) {
    for (const topolib::StlTriangle* t : mesh.triangles())
        for (const topolib::StlEdge* e : t->edges)
            if (e && !t->isDeleted() && (e->index >= mesh.edges().size() || mesh.edges()[e->index] != e))
                std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        installMemoryCheck([](const uint64_t&) { return true; });
        return true;
    }();
    (void)installed;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes);
    topolib::StlObject mesh;
    fileIo::VGeoFileHandling handler;
    handler.setTarget(&mesh);
    if (handler.readStream(&in) == fileIo::kSuccess) {
        MemoryStream out;
        handler.writeStream(&out);
    }

    if (FILE* f = std::fopen(scratchFile().c_str(), "wb")) {
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (std::fclose(f) == 0 && written) {
            topolib::StlObject opened;
            const std::string& path = scratchFile();
            if (fileIo::loadMeshFile(opened, std::wstring(path.begin(), path.end())).result ==
                topolib::LoadResult::Success) {
                checkEdgesAreOwn(opened);
                MemoryStream out;
                fileIo::VGeoFileHandling writer;
                writer.setTarget(&opened);
                writer.writeStream(&out);
            }
        }
    }
    return 0;
}
