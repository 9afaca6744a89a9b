// The deep copy of a mesh: every record, list, shell and the octree, made at
// the speed of copying memory rather than by building the topology again.
//
// The copy's records of each kind stand in one block in array order, so the
// copy of record i is found by arithmetic; the original's records are found
// by RecordIndex (arithmetic too for a mesh read from a file). Vertices,
// triangles, edges and the octree's leaves are copied in pieces that the
// threads take in turn; a piece writes only its own records, and its thread
// is the first to touch their pages (the system clears fresh pages on the
// core that touches them, which is a good part of a copy's time).
#include "topolib/StlObject.h"

#include "topolib/MeshOctree.h"
#include "topolib/ParallelRuns.h"
#include "topolib/PieceWork.h"
#include "topolib/RecordIndex.h"
#include "topolib/StlShell.h"
#include "topolib/TriangleCutter.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace topolib {

namespace {

// From a record of the original to the reference of its copy, record i of
// the copy standing at `first` + i.
template <typename T>
class CopyMap {
public:
    CopyMap(const RefArray<T>& original, const T* first, unsigned threads)
        : m_index(original, threads), m_first(first != nullptr ? Ref<T>(const_cast<T*>(first)).raw() : 0) {}
    Ref<T> operator()(Ref<T> r) const { return at(m_index.of(r)); }
    T* operator()(const T* p) const { return at(m_index.of(p)).get(); }
    Ref<T> at(std::size_t i) const {
        if (i == RecordIndex<T>::npos)
            return Ref<T>();
        return Ref<T>::fromRaw(m_first + static_cast<std::uint32_t>(i * (sizeof(T) / 8)));
    }

private:
    RecordIndex<T> m_index;
    std::uint32_t m_first;
};

// The octree's entries, taken to the copy's records at the same positions:
// by arithmetic when the records of both stand in array order.
class ArrayRelocation : public MeshOctree::Relocation {
public:
    ArrayRelocation(const StlObject& original, const StlObject& copy, unsigned threads)
        : m_vertices(original.vertices(), threads), m_triangles(original.triangles(), threads), m_copy(copy) {
        vertexBlock = blockOf(m_vertices, RecordIndex<StlVertex>(copy.vertices(), threads));
        triangleBlock = blockOf(m_triangles, RecordIndex<StlTriangle>(copy.triangles(), threads));
    }
    StlVertex* vertex(const StlVertex* v) const override {
        const std::size_t i = m_vertices.of(v);
        return i < m_copy.vertices().size() ? m_copy.vertices()[i].get() : nullptr;
    }
    StlTriangle* triangle(const StlTriangle* t) const override {
        const std::size_t i = m_triangles.of(t);
        return i < m_copy.triangles().size() ? m_copy.triangles()[i].get() : nullptr;
    }

private:
    // The records of the original that have a copy at the same position.
    template <typename T>
    static Block blockOf(const RecordIndex<T>& original, const RecordIndex<T>& copy) {
        Block block;
        if (original.firstInOrder() != nullptr && copy.firstInOrder() != nullptr) {
            block.first = reinterpret_cast<std::uintptr_t>(original.firstInOrder());
            block.bytes = std::min(original.size(), copy.size()) * sizeof(T);
            block.shift = reinterpret_cast<std::uintptr_t>(copy.firstInOrder()) - block.first;
        }
        return block;
    }

    RecordIndex<StlVertex> m_vertices;
    RecordIndex<StlTriangle> m_triangles;
    const StlObject& m_copy;
};

// [0, n) in pieces of work: about eight for each thread, so that the pieces
// spread evenly over threads that the machine runs unevenly, and each big
// enough that taking it costs nothing against its copy.
struct Pieces {
    Pieces(std::size_t n_, unsigned threads)
        : n(n_), size(std::clamp<std::size_t>(n_ / (8 * std::size_t(threads)), 1024, std::size_t(1) << 15)),
          count((n_ + size - 1) / size) {}
    std::size_t begin(std::size_t piece) const { return piece * size; }
    std::size_t end(std::size_t piece) const { return std::min(n, (piece + 1) * size); }
    std::size_t n;
    std::size_t size;
    std::size_t count;
};

// The copy's array of records: its n records in order, with room for
// `capacity` (as the original has, or what the caller will append), written
// once (not cleared first).
template <typename T>
void fillRecordArray(RefArray<T>& array, std::size_t n, std::size_t capacity, const CopyMap<T>& copyOf) {
    array.reserve(std::max(n, capacity));
    for (std::size_t i = 0; i < n; ++i)
        array.push_back(copyOf.at(i));
}

// Where the copy's records go: one block of each kind, in array order.
struct CopyBlocks {
    StlVertex* vertices = nullptr;
    StlTriangle* triangles = nullptr;
    StlEdge* edges = nullptr;
    AppendRoom room; // in the copy's arrays, past the copied records
};

// The copy of a mesh's records, lists and shells into blocks taken for it.
// The work comes in jobs that the threads take in turn: first those that run
// on one thread (the shells' triangle lists and the copy's record arrays,
// filled in one pass each without clearing them first), then the pieces of
// the records, which each thread maps and fills.
class RecordCopy {
public:
    RecordCopy(const StlObject& original, StlObject& copy, const CopyBlocks& blocks, unsigned threads)
        : m_original(original), m_copy(copy), m_blocks(blocks), m_threads(threads),
          m_vertexOf(original.vertices(), blocks.vertices, threads),
          m_triangleOf(original.triangles(), blocks.triangles, threads),
          m_edgeOf(original.edges(), blocks.edges, threads), m_vertexPieces(original.vertices().size(), threads),
          m_trianglePieces(original.triangles().size(), threads), m_edgePieces(original.edges().size(), threads),
          m_cutTriangles(threads) {}

    // Copies everything but the cut contexts and the octree; throws
    // std::bad_alloc when memory runs out.
    void run() {
        takeIncidentBlock();
        makeShells();
        const std::size_t shellJobs = m_original.shells().size();
        const std::size_t firstPiece = shellJobs + 3;
        const std::size_t jobs = firstPiece + m_vertexPieces.count + m_trianglePieces.count + m_edgePieces.count;
        std::atomic<bool> outOfMemory{false};
        forEachPiece(m_threads, jobs, [&](std::size_t job, unsigned thread) {
            try {
                if (job < shellJobs)
                    copyShellLists(job);
                else if (job < firstPiece)
                    fillArray(job - shellJobs);
                else if ((job -= firstPiece) < m_vertexPieces.count)
                    copyVertices(job);
                else if ((job -= m_vertexPieces.count) < m_trianglePieces.count)
                    copyTriangles(job, thread);
                else if (!copyEdges(job - m_trianglePieces.count))
                    outOfMemory = true;
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
        });
        if (outOfMemory)
            throw std::bad_alloc();
    }

    // Gives the copy's triangles the contexts the cut holds for the original's:
    // their own, filed with the same cut, with the cutting triangles and the
    // segments' ends taken at the same positions in the copy. Pieces are a
    // cut's working state and are not carried.
    void copyCutContexts(TriangleCutter& cut) const {
        for (const std::vector<std::size_t>& list : m_cutTriangles) {
            for (std::size_t i : list) {
                const TriangleCutContext* from = cut.contextOf(m_original.triangles()[i]);
                if (!from)
                    continue;
                auto context = std::make_unique<TriangleCutContext>(m_copy.triangles()[i]);
                for (const StlTriangle* c : from->cutters)
                    if (StlTriangle* copy = m_triangleOf(c))
                        context->cutters.push_back(copy);
                for (const CutSegment& s : from->segments) {
                    CutSegment copy = s;
                    copy.a = m_vertexOf(s.a);
                    copy.b = m_vertexOf(s.b);
                    if (copy.a && copy.b)
                        context->segments.push_back(copy);
                }
                context->failed = from->failed;
                cut.fileContext(m_copy.triangles()[i], std::move(context));
            }
        }
    }

private:
    // Incident lists: one block, each vertex's list exactly as long as the
    // original's count, the lists of a piece of vertices together.
    void takeIncidentBlock() {
        m_listStart.assign(m_vertexPieces.count + 1, 0);
        forEachPiece(m_threads, m_vertexPieces.count, [&](std::size_t piece, unsigned) {
            std::size_t slots = 0;
            for (std::size_t i = m_vertexPieces.begin(piece), end = m_vertexPieces.end(piece); i < end; ++i)
                slots += m_original.vertices()[i]->triangleCount();
            m_listStart[piece + 1] = slots;
        });
        for (std::size_t piece = 0; piece < m_vertexPieces.count; ++piece)
            m_listStart[piece + 1] += m_listStart[piece];
        m_incident = m_copy.newIncidentBlock(m_listStart[m_vertexPieces.count]);
    }

    // The shells come before the triangles, which name their copies. The
    // numbers are the shells' positions, as the copy of a shell carries it.
    void makeShells() {
        uint32_t ordinal = 0;
        for (StlShell* s : m_original.shells()) {
            s->number = ordinal++;
            auto* copy = new StlShell(*s);
            m_copy.shells().push_back(copy);
            copy->owner = &m_copy;
            copy->flags = s->flags;
            copy->changed = s->changed;
            copy->triangleCount = s->triangleCount;
            copy->boxMin = s->boxMin;
            copy->boxMax = s->boxMax;
            m_shellOf.emplace(s, copy);
        }
    }

    void copyShellLists(std::size_t shell) {
        const StlShell* s = m_original.shells()[shell];
        StlShell* copy = m_copy.shells()[shell];
        for (const Ref<StlTriangle>& t : s->primaryTriangles)
            copy->primaryTriangles.push_back(m_triangleOf(t));
        for (const Ref<StlTriangle>& t : s->reversedTriangles)
            copy->reversedTriangles.push_back(m_triangleOf(t));
    }

    // The copy's vertex (0), triangle (1) or edge (2) array.
    void fillArray(std::size_t kind) {
        const std::size_t nv = m_original.vertices().size();
        const std::size_t nt = m_original.triangles().size();
        const std::size_t ne = m_original.edges().size();
        const AppendRoom& room = m_blocks.room;
        if (kind == 0)
            fillRecordArray(m_copy.vertices(), nv, nv + room.vertices, m_vertexOf);
        else if (kind == 1)
            fillRecordArray(m_copy.triangles(), nt, std::max(m_original.triangles().capacity(), nt + room.triangles),
                            m_triangleOf);
        else
            fillRecordArray(m_copy.edges(), ne, std::max(m_original.edges().capacity(), ne + room.edges), m_edgeOf);
    }

    void copyVertices(std::size_t piece) {
        const std::size_t begin = m_vertexPieces.begin(piece);
        const std::size_t end = m_vertexPieces.end(piece);
        std::size_t slot = m_listStart[piece];
        touchPages(m_blocks.vertices + begin, (end - begin) * sizeof(StlVertex));
        touchPages(m_incident + slot, (m_listStart[piece + 1] - slot) * sizeof(Ref<StlTriangle>));
        for (std::size_t i = begin; i < end; ++i) {
            const StlVertex* s = m_original.vertices()[i];
            StlVertex* d = new (m_blocks.vertices + i) StlVertex(s->pos.data());
            d->index = s->index;
            d->flags = s->flags;
            if (s->hasTriangleList()) {
                d->useExternalList(m_incident + slot, s->triangleCount());
                for (const Ref<StlTriangle>& t : *s)
                    d->appendUnlisted(m_triangleOf(t));
                slot += s->triangleCount();
            }
        }
    }

    void copyTriangles(std::size_t piece, unsigned thread) {
        const std::size_t begin = m_trianglePieces.begin(piece);
        const std::size_t end = m_trianglePieces.end(piece);
        touchPages(m_blocks.triangles + begin, (end - begin) * sizeof(StlTriangle));
        const StlShell* lastShell = nullptr;
        StlShell* lastCopy = nullptr;
        for (std::size_t i = begin; i < end; ++i) {
            const StlTriangle* s = m_original.triangles()[i];
            StlTriangle* d = new (m_blocks.triangles + i) StlTriangle();
            // A clone carries a context only when the cut files one for it
            // (copyCutContexts).
            d->flags = s->flags & ~StlTriangle::kHasCutContext;
            d->id = s->id;
            d->normal = s->normal;
            for (int k = 0; k < 3; ++k) {
                d->vertices[k] = m_vertexOf(s->vertices[k]);
                d->edges[k] = m_edgeOf(s->edges[k]);
            }
            if (s->shell != lastShell) {
                lastShell = s->shell;
                const auto it = m_shellOf.find(lastShell);
                lastCopy = it == m_shellOf.end() ? nullptr : it->second;
            }
            d->shell = lastCopy;
            if (s->hasCutContext() && !s->isDeleted())
                m_cutTriangles[thread].push_back(i);
        }
    }

    // False when an edge's overflow lists could not be had.
    bool copyEdges(std::size_t piece) {
        const std::size_t begin = m_edgePieces.begin(piece);
        const std::size_t end = m_edgePieces.end(piece);
        touchPages(m_blocks.edges + begin, (end - begin) * sizeof(StlEdge));
        bool copied = true;
        for (std::size_t i = begin; i < end; ++i) {
            StlEdge* d = new (m_blocks.edges + i) StlEdge();
            if (!d->copyFrom(*m_original.edges()[i], m_vertexOf, m_triangleOf))
                copied = false;
        }
        return copied;
    }

    const StlObject& m_original;
    StlObject& m_copy;
    const CopyBlocks m_blocks;
    const unsigned m_threads;
    const CopyMap<StlVertex> m_vertexOf;
    const CopyMap<StlTriangle> m_triangleOf;
    const CopyMap<StlEdge> m_edgeOf;
    const Pieces m_vertexPieces;
    const Pieces m_trianglePieces;
    const Pieces m_edgePieces;
    // Where each piece of vertices starts its lists in the incident block.
    std::vector<std::size_t> m_listStart;
    Ref<StlTriangle>* m_incident = nullptr;
    std::unordered_map<const StlShell*, StlShell*> m_shellOf;
    // Per thread, the positions of the triangles with a cut context.
    std::vector<std::vector<std::size_t>> m_cutTriangles;
};

} // namespace

int StlObject::copyMeshTo(StlObject* target, const AppendRoom& room, TriangleCutter* cut) const {
    const ImportLoadReading load;
    if (target != this)
        target->m_name = m_name;
    if (!hasTriangleArray() || target == this)
        return 0;
    if (!target->m_records.vertices.empty() || target->hasTriangleArray() ||
        !target->m_records.edges.empty() || !target->m_records.shells.empty())
        target->releaseMesh();

    const std::size_t nv = m_records.vertices.size();
    const std::size_t nt = m_records.triangles.size();
    const std::size_t ne = m_records.edges.size();
    const unsigned threads = importThreads(nv + nt + ne);
    // The copy's records, each kind in one block. Their pages are mapped by
    // the threads that write them.
    CopyBlocks blocks;
    blocks.vertices = nv ? target->m_records.vertexPool.takeSlots(nv, false) : nullptr;
    blocks.triangles = nt ? target->m_records.trianglePool.takeSlots(nt, false) : nullptr;
    blocks.edges = ne ? target->m_records.edgePool.takeSlots(ne, false) : nullptr;
    blocks.room = room;
    RecordCopy copy(*this, *target, blocks, threads);
    copy.run();

    target->m_measures = m_measures;
    target->m_octree.minCell = m_octree.minCell;
    target->m_calibrationOffsets = m_calibrationOffsets;
    if (cut)
        copy.copyCutContexts(*cut);
    if (copyOctreeTo(target) != 0)
        throw std::bad_alloc();
    return 0;
}

int StlObject::copyOctreeTo(StlObject* target) const {
    Octree copy;
    {
        std::lock_guard<std::mutex> lock(m_octreeMutex);
        if (!m_octree.root)
            return 0;
        // The copied cells only mean something with the cube they were built
        // in: the copy takes the whole unit, with a tree of its own.
        copy = m_octree;
        try {
            copy.root = std::make_shared<MeshOctree>();
            // A copy made for records at other positions drops what it cannot
            // find, as copyFor does.
            const unsigned threads = importThreads(m_records.triangles.size() + m_records.vertices.size());
            if (!m_octree.root->relocatedCopy(ArrayRelocation(*this, *target, threads), threads, *copy.root))
                *copy.root = m_octree.root->copyFor(*target);
        } catch (const std::bad_alloc&) {
            return -1;
        }
    }
    std::lock_guard<std::mutex> lock(target->m_octreeMutex);
    target->m_octree = std::move(copy);
    return 0;
}

} // namespace topolib
