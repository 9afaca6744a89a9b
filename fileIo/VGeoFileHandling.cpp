#include "fileIo/VGeoFileHandling.h"

#include "fileIo/ByteOrder.h"
#include "fileIo/KStdFile.h"
#include "fileIo/SafeFileWriter.h"

#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Layout of an entry (little-endian): 256 zero bytes, u32 T (triangles in the
// shell section), six f32 box corners; 256 zero bytes, u32 V, V vertices of
// three f32; 256 zero bytes, u32 S, S shell records; 256 zero bytes, u32 E,
// E edges of two u32 vertex indices. A shell record: 3 zero bytes, f32 |area|,
// f32 volume, u32 P, P index triples (primary class), u32 R, R index triples
// (reversed class).

namespace fileIo {

namespace {

constexpr uint32_t kPadding = 256;
constexpr uint32_t kVertexBytes = 12;
constexpr uint32_t kTriangleBytes = 12;
constexpr uint32_t kEdgeBytes = 8;
// The smallest shell record: 3 zero bytes, area, volume and two zero counts.
constexpr uint32_t kMinShellBytes = 19;
// Records read or written per block.
constexpr uint32_t kRecordsPerBlock = 4096;
// Lists are sized from their counts only up to this many entries ahead of the
// data; beyond it they grow as records actually arrive, so a forged count in
// an archive cannot make the reader reserve what the entry does not hold.
constexpr uint32_t kMaxReserve = 1u << 20;

// Reads an entry front to back and keeps track of the bytes its length
// still allows, so that every count can be checked before it sizes a list.
class EntryReader {
public:
    EntryReader(KBaseStream& stream, int64_t remaining) : stream_(stream), remaining_(remaining) {}

    bool bytes(char* out, uint32_t n) {
        if (uint64_t(remaining_) < n || !stream_.read(out, n))
            return false;
        remaining_ -= n;
        return true;
    }
    bool skip(uint32_t n) {
        char scratch[kPadding];
        while (n > 0) {
            const uint32_t take = std::min<uint32_t>(n, sizeof scratch);
            if (!bytes(scratch, take))
                return false;
            n -= take;
        }
        return true;
    }
    bool u32(uint32_t& v) {
        char b[4];
        if (!bytes(b, 4))
            return false;
        v = loadU32(b);
        return true;
    }
    bool f32(float& v) {
        char b[4];
        if (!bytes(b, 4))
            return false;
        v = loadF32(b);
        return true;
    }
    // Whether `count` records of `size` bytes fit in what is left.
    bool canHold(uint32_t count, uint32_t size) const { return uint64_t(count) * size <= uint64_t(remaining_); }

    // Reads `count` records of `size` bytes block by block; `each` gets a
    // pointer to one record and returns false to stop with failure.
    template <typename Each>
    bool records(uint32_t count, uint32_t size, Each each) {
        if (!canHold(count, size))
            return false;
        block_.resize(size_t(std::min(count, kRecordsPerBlock)) * size);
        while (count > 0) {
            const uint32_t n = std::min(count, kRecordsPerBlock);
            if (!bytes(block_.data(), n * size))
                return false;
            for (uint32_t i = 0; i < n; ++i)
                if (!each(block_.data() + size_t(i) * size))
                    return false;
            count -= n;
        }
        return true;
    }

private:
    KBaseStream& stream_;
    int64_t remaining_;
    std::vector<char> block_;
};

// Gathers the entry in memory and hands it to the stream in large blocks;
// remembers whether any write failed.
class EntryWriter {
public:
    explicit EntryWriter(KBaseStream& stream) : stream_(stream) { buffer_.reserve(kFlushAt + 64); }

    void zeros(uint32_t n) { buffer_.append(n, '\0'); }
    void u32(uint32_t v) {
        char b[4];
        storeU32(b, v);
        append(b, 4);
    }
    void f32(float v) {
        char b[4];
        storeF32(b, v);
        append(b, 4);
    }
    bool finish() {
        flush();
        return ok_;
    }

private:
    static constexpr size_t kFlushAt = 1 << 20;

    void append(const char* p, size_t n) {
        buffer_.append(p, n);
        if (buffer_.size() >= kFlushAt)
            flush();
    }
    void flush() {
        if (!buffer_.empty() && ok_)
            ok_ = stream_.write(buffer_.data(), static_cast<uint32_t>(buffer_.size()));
        buffer_.clear();
    }

    KBaseStream& stream_;
    std::string buffer_;
    bool ok_ = true;
};

void writeTriangle(EntryWriter& out, const topolib::StlTriangle* t) {
    for (int k = 0; k < 3; ++k)
        out.u32(static_cast<uint32_t>(t->vertices[k]->index));
}

// Gives up on a shell whose triangle list broke off: its triangles leave their
// vertices' incident lists (they stay in the mesh's record pool, deleted and
// without a shell) and the shell is freed.
void discardShell(topolib::StlShell* shell) {
    for (auto* list : {&shell->primaryTriangles, &shell->reversedTriangles})
        for (auto* t : *list) {
            t->detachFromVertices();
            t->setDeleted(true);
            t->shell = nullptr;
        }
    delete shell;
}

} // namespace

int VGeoFileHandling::load() {
    if (!checkBeforeLoad())
        return kFailure;
    return noteLoadResult(readFile(fileName_));
}

int VGeoFileHandling::readAscii() {
    return kFailure;
}

int VGeoFileHandling::readStream(KBaseStream* stream) {
    return readFromStream(stream);
}

int VGeoFileHandling::readBinary() {
    return readFile(fileName_);
}

int VGeoFileHandling::writeAscii() {
    return kFailure;
}

int VGeoFileHandling::writeStream(KBaseStream* stream) {
    return writeToStream(stream);
}

int VGeoFileHandling::writeBinary() {
    return writeFile(fileName_);
}

uint64_t VGeoFileHandling::estimateMemory(KBaseStream* stream) {
    char head[kPadding + 4];
    if (stream) {
        if (!stream->read(head, sizeof head))
            return 0;
    } else {
        KStdFile file(fileName_, std::ios::in | std::ios::binary);
        if (!file.isOpen() || !file.read(head, sizeof head))
            return 0;
    }
    return uint64_t(loadU32(head + kPadding)) * kBytesPerTriangle;
}

int VGeoFileHandling::readFile(const std::wstring& fileName) {
    KStdFile file(fileName, std::ios::in | std::ios::binary);
    if (!file.isOpen() || !file.good())
        return kFailure;
    return readFromStream(&file);
}

int VGeoFileHandling::writeFile(const std::wstring& fileName) {
    if (!target_)
        return kFailure;
    // An existing file is replaced only when the whole entry was written.
    SafeFileWriter file(fileName);
    if (!file.isOpen() || writeToStream(&file) != kSuccess)
        return kFailure;
    return file.commit() ? kSuccess : kFailure;
}

int VGeoFileHandling::readFromStream(KBaseStream* stream) {
    if (!stream || !target_ || stream->atEnd())
        return kFailure;
    const int64_t length = stream->size();
    streamLength_ = length > 0 ? uint64_t(length) : 0;
    if (length < 1)
        return kFailure;
    const int64_t position = stream->tell();
    EntryReader in(*stream, length - std::max<int64_t>(position, 0));
    topolib::StlObject& mesh = *target_;

    try {
        // Header: triangle count and box.
        uint32_t declaredTriangles = 0;
        float box[6];
        if (!in.skip(kPadding) || !in.u32(declaredTriangles))
            return kFailure;
        for (float& v : box)
            if (!in.f32(v))
                return kFailure;
        // The stored box is not trusted: it is computed from the vertices at the
        // end (the octree divides the box down towards the vertices, and a box
        // that is not finite would never end that division).
        const double boxMin[3] = {box[0], box[1], box[2]};
        const double boxMax[3] = {box[3], box[4], box[5]};
        if (topolib::isFiniteVector(boxMin) && topolib::isFiniteVector(boxMax))
            mesh.setBoundingBox(boxMin, boxMax);

        // Vertices.
        uint32_t vertexCount = 0;
        if (!in.skip(kPadding) || !in.u32(vertexCount) || !in.canHold(vertexCount, kVertexBytes))
            return kFailure;
        auto& vertices = mesh.vertices();
        vertices.reserve(std::min(vertexCount, kMaxReserve));
        const bool verticesRead = in.records(vertexCount, kVertexBytes, [this, &mesh](const char* r) {
            const double p[3] = {loadF32(r), loadF32(r + 4), loadF32(r + 8)};
            if (!topolib::isFiniteVector(p)) {
                failure_ = ReadFailure::NotFinite;
                return false;
            }
            mesh.appendVertex(mesh.newVertex(p));
            return true;
        });
        mesh.setVertexCount(static_cast<uint32_t>(vertices.size()));
        if (!verticesRead)
            return kFailure;

        // Shells with their two classes of triangles.
        uint32_t shellCount = 0;
        if (!in.skip(kPadding) || !in.u32(shellCount) || shellCount > kMaxShells ||
            !in.canHold(shellCount, kMinShellBytes))
            return kFailure;
        uint64_t trianglesRead = 0;
        // A shell record is made when its first triangle arrives: a record that
        // lists no triangle holds nothing for the mesh and is passed over, so
        // that every shell kept is backed by triangle records of the entry (an
        // empty shell costs a few bytes in the file but far more in memory).
        std::unique_ptr<topolib::StlShell> shell;
        float shellArea = 0, shellVolume = 0;
        auto readTriangles = [&](bool reversed) {
            uint32_t count = 0;
            if (!in.u32(count))
                return false;
            return in.records(count, kTriangleBytes, [&](const char* r) {
                const uint32_t a = loadU32(r), b = loadU32(r + 4), c = loadU32(r + 8);
                if (a >= vertexCount || b >= vertexCount || c >= vertexCount || a == b || b == c || a == c)
                    return false;
                if (!shell) {
                    shell = std::make_unique<topolib::StlShell>(&mesh);
                    shell->area = shellArea;
                    shell->volume = shellVolume;
                }
                auto* t = mesh.newTriangle();
                t->initInShell(shell.get(), vertices[a], vertices[b], vertices[c]);
                (reversed ? shell->reversedTriangles : shell->primaryTriangles).push_back(t);
                return true;
            });
        };
        for (uint32_t s = 0; s < shellCount; ++s) {
            if (!in.skip(3) || !in.f32(shellArea) || !in.f32(shellVolume))
                return kFailure;
            shell.reset();
            if (!readTriangles(false) || !readTriangles(true)) {
                if (shell)
                    discardShell(shell.release());
                return kFailure;
            }
            if (!shell)
                continue;
            for (auto* t : shell->reversedTriangles)
                t->setReversed(true);
            shell->triangleCount =
                static_cast<uint32_t>(shell->primaryTriangles.size() + shell->reversedTriangles.size());
            trianglesRead += shell->triangleCount;
            mesh.shells().push_back(shell.release());
        }

        // Edges as vertex pairs.
        uint32_t edgeCount = 0;
        if (!in.skip(kPadding) || !in.u32(edgeCount) || !in.canHold(edgeCount, kEdgeBytes))
            return kFailure;
        if (edgeCount > 0) {
            auto& edges = mesh.edges();
            edges.reserve(std::min(edgeCount, kMaxReserve));
            const bool edgesRead = in.records(edgeCount, kEdgeBytes, [&](const char* r) {
                const uint32_t a = loadU32(r), b = loadU32(r + 4);
                if (a >= vertexCount || b >= vertexCount)
                    return false;
                auto* e = mesh.newEdge(vertices[a], vertices[b]);
                e->index = static_cast<uint32_t>(edges.size());
                edges.push_back(e);
                return true;
            });
            if (!edgesRead)
                return kFailure;
        }

        // The repairs run when triangles were actually read (the declared
        // count is not trusted for that decision).
        if (trianglesRead > 0) {
            mesh.relinkEdges();
            mesh.rebuildTriangleArrayFromShells();
            mesh.computeAreaAndVolume();
        }
        if (!vertices.empty()) {
            mesh.computeBoundingBox();
            mesh.setBoundingBox(mesh.bboxMin(), mesh.bboxMax());
        }
        return kSuccess;
    } catch (const std::bad_alloc&) {
        return kFailure;
    }
}

int VGeoFileHandling::writeToStream(KBaseStream* stream) {
    if (!stream || !target_)
        return kFailure;
    topolib::StlObject& mesh = *target_;

    // Validity is tested once per record: each shell's two lists are filtered
    // into `valid` (primary then reversed, per shell), the counts come from it.
    std::vector<const topolib::StlTriangle*> valid;
    std::vector<uint32_t> listSizes;
    auto gatherShells = [&]() {
        valid.clear();
        listSizes.clear();
        for (const auto* shell : mesh.shells())
            for (const auto* list : {&shell->primaryTriangles, &shell->reversedTriangles}) {
                const size_t before = valid.size();
                for (const auto* t : *list)
                    if (mesh.isValidTriangle(t))
                        valid.push_back(t);
                listSizes.push_back(static_cast<uint32_t>(valid.size() - before));
            }
    };
    gatherShells();
    // Every valid triangle must stand in a shell, or the reader would not get
    // it back. Valid triangles that no shell lists (added since the last shell
    // search) are written as one more shell record of their own; the mesh
    // itself is not touched (its shells may be held elsewhere).
    const size_t inShells = valid.size();
    {
        const auto& all = mesh.triangles();
        std::vector<char> listed(all.size(), 0);
        for (const auto* t : valid)
            if (t->id >= 0 && static_cast<size_t>(t->id) < all.size() && all[static_cast<size_t>(t->id)] == t)
                listed[static_cast<size_t>(t->id)] = 1;
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i] && !listed[i] && mesh.isValidTriangle(all[i]))
                valid.push_back(all[i]);
    }
    const uint32_t strays = static_cast<uint32_t>(valid.size() - inShells);

    EntryWriter out(*stream);
    out.zeros(kPadding);
    out.u32(static_cast<uint32_t>(valid.size()));
    for (const double* corner : {mesh.bboxMin(), mesh.bboxMax()})
        for (int k = 0; k < 3; ++k)
            out.f32(static_cast<float>(corner[k]));

    out.zeros(kPadding);
    const auto& vertices = mesh.vertices();
    out.u32(static_cast<uint32_t>(vertices.size()));
    for (const auto* v : vertices)
        for (int k = 0; k < 3; ++k)
            out.f32(static_cast<float>(v->pos.data()[k]));

    out.zeros(kPadding);
    const auto& shells = mesh.shells();
    out.u32(static_cast<uint32_t>(shells.size()) + (strays ? 1u : 0u));
    size_t next = 0, list = 0;
    if (numbering_) {
        numbering_->triangles.assign(mesh.triangles().size(), -1);
        for (size_t k = 0; k < valid.size(); ++k) {
            const auto id = static_cast<size_t>(valid[k]->id);
            if (id < numbering_->triangles.size())
                numbering_->triangles[id] = static_cast<int32_t>(k);
        }
    }
    for (const auto* shell : shells) {
        out.zeros(3);
        out.f32(static_cast<float>(std::fabs(shell->area)));
        out.f32(static_cast<float>(shell->volume));
        for (int half = 0; half < 2; ++half, ++list) {
            out.u32(listSizes[list]);
            for (uint32_t i = 0; i < listSizes[list]; ++i)
                writeTriangle(out, valid[next++]);
        }
    }
    if (strays) {
        out.zeros(3);
        out.f32(0.0f);
        out.f32(0.0f);
        out.u32(strays);
        for (uint32_t i = 0; i < strays; ++i)
            writeTriangle(out, valid[next++]);
        out.u32(0);
    }

    out.zeros(kPadding);
    std::vector<const topolib::StlEdge*> validEdges;
    validEdges.reserve(mesh.edges().size());
    for (const auto* e : mesh.edges())
        if (e && mesh.isValidEdge(e))
            validEdges.push_back(e);
    if (numbering_) {
        numbering_->edges.assign(mesh.edges().size(), -1);
        for (size_t k = 0; k < validEdges.size(); ++k)
            if (validEdges[k]->index < numbering_->edges.size())
                numbering_->edges[validEdges[k]->index] = static_cast<int32_t>(k);
    }
    out.u32(static_cast<uint32_t>(validEdges.size()));
    for (const auto* e : validEdges) {
        out.u32(static_cast<uint32_t>(e->vertex(0)->index));
        out.u32(static_cast<uint32_t>(e->vertex(1)->index));
    }
    return out.finish() ? kSuccess : kFailure;
}

} // namespace fileIo
