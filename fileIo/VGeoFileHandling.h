#pragma once
// The program's own geometry format: vertices, shells with their two
// orientation classes of triangles, and edges, so that a project reopens
// without re-welding. Read and written through a byte stream (a file or one
// zip entry).

#include "fileIo/FileHandling.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fileIo {

// Where the writer put each record. The writer renumbers triangles shell by
// shell and leaves out invalid triangles and edges, so a record's position in
// the entry (which is its id or index after reading the entry back) differs
// from its id or index in the mesh that was written. triangles[id] and
// edges[index] hold that position, -1 for a record that was not written.
struct VGeoNumbering {
    std::vector<int32_t> triangles;
    std::vector<int32_t> edges;
};

class VGeoFileHandling : public FileHandling {
public:
    // Most shells an entry may hold.
    static constexpr uint32_t kMaxShells = 1000000;
    static constexpr uint64_t kBytesPerTriangle = 330;

    int load() override;
    // Triangle count of the entry times kBytesPerTriangle; reads the first
    // 260 bytes from the stream (consumed) or, without one, from the file.
    uint64_t estimateMemory(KBaseStream* stream) override;
    int readAscii() override;
    int readStream(KBaseStream* stream) override;
    int readBinary() override;
    int writeAscii() override;
    int writeStream(KBaseStream* stream) override;
    int writeBinary() override;

    // Loose vertices (of no triangle) an entry may hold beyond three per
    // triangle: a mesh keeps the vertices of deleted triangles until it is
    // compacted, and its entry holds them too.
    static constexpr uint64_t kSpareVertices = 1 << 16;
    // Whether an entry of entryBytes bytes can hold the counts its head
    // declares: every triangle and vertex takes twelve bytes, and vertices
    // are at most three per triangle (and kSpareVertices).
    static bool countsFit(uint64_t triangles, uint64_t vertices, uint64_t entryBytes) {
        return vertices <= 3 * triangles + kSpareVertices && 12 * (triangles + vertices) <= entryBytes;
    }

    int readFile(const std::wstring& fileName);
    // 1 success; 0 for an empty or short stream, counts the data cannot back
    // (countsFit; shells holding other than the declared triangle count),
    // indices out of range, a vertex position that is not finite (reason
    // NotFinite). The bounding box is computed from the vertices, not taken
    // from the entry; kNotEnoughMemory when memory (or room for the mesh
    // records) ran out. The target must be empty; after a failure it holds
    // what was read before the failure, consistently owned.
    int readFromStream(KBaseStream* stream);
    int writeFile(const std::wstring& fileName);
    // 1 success, 0 when there is no target or a write fails.
    int writeToStream(KBaseStream* stream);

    // The triangle count T an entry of mesh holds (its valid triangles), as
    // writeToStream will write it.
    static uint32_t countWrittenTriangles(const topolib::StlObject& mesh);

    // Makes the next writes fill *out (not owned; null stops it).
    void recordNumbering(VGeoNumbering* out) { numbering_ = out; }

    // Called during a read once the vertices, the triangle array (ids,
    // normals, shells) and the bounding box are final; the read goes on
    // with the edges (edge array and records, the triangles' edge slots) and
    // area and volume. The hook may start work that reads the rest, such as
    // the octree build, on another thread; that work must end before the mesh
    // is used or freed, whatever the read returns.
    void onTrianglesReady(std::function<void()> hook) { trianglesReady_ = std::move(hook); }

private:
    VGeoNumbering* numbering_ = nullptr;
    std::function<void()> trianglesReady_;
};

} // namespace fileIo
