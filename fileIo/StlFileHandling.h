#pragma once
// STL files, ASCII and binary: the readers hand facets to the target mesh
// (which welds them), the writers write a mesh or any list of triangles.

#include "fileIo/FileHandling.h"
#include "topolib/RecordArena.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace topolib {
class StlTriangle;
class FacetImport;
}

namespace fileIo {

struct SaveReport;

// Facets a reader passed over for their corners: those with a coordinate that
// is not a number (left out), and those reaching beyond
// ±topolib::kMaxImportCoordinate (they refuse the file), with the coordinate
// of largest magnitude among them (signed).
struct PassedOverFacets {
    uint64_t notANumber = 0;
    uint64_t beyond = 0;
    float farthest = 0.0f;
    // Counts a facet that topolib::facetCornersUsable refused.
    void add(const float facet[12]);
    void merge(const PassedOverFacets& other);
};

class StlFileHandling : public FileHandling {
public:
    // Upper bound of facets one binary file may bring in.
    static constexpr uint32_t kMaxBinaryFacets = 50000000;
    // Bytes per facet the mesh needs, for the memory estimate.
    static constexpr uint64_t kBytesPerFacet = 330;
    // Smallest total area, in mm², of the facets of a file that is taken as a
    // model: a square nanometre, far below anything a printer can make and
    // far above what a foreign file's bytes read as tiny floats enclose.
    static constexpr double kMinModelArea = 1e-12;

    // The facet count (header count for binary, "endfacet" lines for ASCII)
    // times kBytesPerFacet. The stream is ignored.
    uint64_t estimateMemory(KBaseStream* stream) override;
    // ASCII STL reader, every solid of the file. 1 when the mesh has at least
    // one valid triangle afterwards and its facets enclose area, else 0 (also
    // for an unopenable file, a first word other than "solid", a corner
    // coordinate that is not a number, which loadNotes() names with its line,
    // or one beyond ±kMaxImportCoordinate). A facet that breaks the grammar
    // ends the read: the facets before it stay, and loadNotes() names the
    // line; facet normals that are not numbers are counted there.
    int readAscii() override;
    // Binary STL reader on the handler's file; 0 when it cannot be opened,
    // else the result of readBinaryFrom.
    int readBinary() override;
    int writeAscii() override;
    int writeBinary() override;

    // Reads ASCII STL from an open stream into the target (same results as
    // readAscii).
    int readAsciiFrom(std::istream& in);
    // Reads binary STL from an open stream into the target: 1 success, 0
    // failure (no valid facet, facets that enclose no area (below
    // kMinModelArea), ASCII STL saved as UTF-16 or UTF-32, zero count, no
    // target), 4 when the memory
    // check refuses or none is installed. A count larger than the data can
    // hold is cut to the complete records present. A count that disagrees
    // with the records present is told in loadNotes() with both numbers; when
    // besides fewer than half of the records present make valid triangles,
    // the file is not binary STL (an image, an archive, a program) and the
    // read fails. Facets with a coordinate that is not finite or beyond
    // ±kMaxImportCoordinate are left out and counted in a note.
    int readBinaryFrom(std::istream& in);
    // At most this many facets of a binary file are read (kMaxBinaryFacets
    // unless set lower); a file that declares more is read up to it and told
    // in loadNotes().
    void setBinaryFacetLimit(uint32_t limit) { facetLimit_ = std::min(limit, kMaxBinaryFacets); }
    // Records per block of a binary read on `threads` threads (more than
    // one): every thread parses its part of a block and makes its triangles.
    static uint32_t recordsPerParallelBlock(unsigned threads);
    // Facets in the handler's file: the header count of a binary file
    // (uncapped), the lines holding "endfacet" of an ASCII one.
    uint32_t countFacets() const;

    // Write the target mesh's live triangles; 0 when there is no target, the
    // file cannot be opened or a write fails.
    int writeAsciiMesh(const std::wstring& fileName);
    int writeBinaryMesh(const std::wstring& fileName);

    // Wall time of the last read, split into parsing and welding (for the
    // development tools that profile imports).
    struct ReadTimings {
        double readMs = 0.0;
        double weldMs = 0.0;
    };
    const ReadTimings& lastTimings() const { return timings_; }

private:
    int finishImport(topolib::StlObject& mesh, topolib::FacetImport& facets,
                     const PassedOverFacets& passedOver);

    // The passes of readBinaryFrom (StlFileHandling.cpp says what each does).
    struct BinaryRead;
    struct BlockBuffers {
        explicit BlockBuffers(size_t records);
        size_t records = 0;
        std::unique_ptr<char[]> bytes, ahead;
        std::unique_ptr<float[]> facets, facetsAhead;
    };
    int readBinaryBlocksOnThreads(BinaryRead& read, BlockBuffers& buffers, unsigned threads,
                                  const ProgressMonitor& progress);
    int readBinaryBlocks(BinaryRead& read, uint32_t blockRecords, const ProgressMonitor& progress);
    int checkBinaryCount(const BinaryRead& read, uint32_t declared, uint64_t present, int result);

    uint32_t facetLimit_ = kMaxBinaryFacets;
    ReadTimings timings_;
    std::chrono::steady_clock::time_point readStart_;
};

// Write the live (not deleted) triangles of a list as STL. 0 when the list is
// empty (no file is created), the file cannot be replaced safely or a write
// fails (an existing file is then left as it was); else 1. The binary header
// is "Save by Velar3D" padded with zero bytes. report (optional) receives why
// a save failed and whether other hard links keep the old content.
int exportAsciiStl(const std::wstring& path, const std::vector<topolib::StlTriangle*>& triangles,
                   SaveReport* report = nullptr);
int exportBinaryStl(const std::wstring& path, const std::vector<topolib::StlTriangle*>& triangles,
                    SaveReport* report = nullptr);
// The same for a mesh's own triangle array.
int exportAsciiStl(const std::wstring& path, const topolib::RefArray<topolib::StlTriangle>& triangles,
                   SaveReport* report = nullptr);
int exportBinaryStl(const std::wstring& path, const topolib::RefArray<topolib::StlTriangle>& triangles,
                    SaveReport* report = nullptr);

} // namespace fileIo
