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
#include "topolib/TriangleCutContexts.h"
#include "topolib/TriangleCutter.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <unordered_map>
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
// `capacity` (as the original has), written once (not cleared first).
template <typename T>
void fillRecordArray(RefArray<T>& array, std::size_t n, std::size_t capacity, const CopyMap<T>& copyOf) {
    array.reserve(std::max(n, capacity));
    for (std::size_t i = 0; i < n; ++i)
        array.push_back(copyOf.at(i));
}

} // namespace

int StlObject::copyMeshTo(StlObject* target) const {
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

    // The copy's records, each kind in one block, made by the pieces below.
    // Their pages are mapped by the threads that write them.
    StlVertex* vertices = nv ? target->m_records.vertexPool.takeSlots(nv, false) : nullptr;
    StlTriangle* triangles = nt ? target->m_records.trianglePool.takeSlots(nt, false) : nullptr;
    StlEdge* edges = ne ? target->m_records.edgePool.takeSlots(ne, false) : nullptr;
    const CopyMap<StlVertex> vertexOf(m_records.vertices, vertices, threads);
    const CopyMap<StlTriangle> triangleOf(m_records.triangles, triangles, threads);
    const CopyMap<StlEdge> edgeOf(m_records.edges, edges, threads);
    const Pieces vertexPieces(nv, threads);
    const Pieces trianglePieces(nt, threads);
    const Pieces edgePieces(ne, threads);

    // Incident lists: one block, each vertex's list exactly as long as the
    // original's count, the lists of a piece of vertices together.
    std::vector<std::size_t> listStart(vertexPieces.count + 1, 0);
    forEachPiece(threads, vertexPieces.count, [&](std::size_t piece, unsigned) {
        std::size_t slots = 0;
        for (std::size_t i = vertexPieces.begin(piece), end = vertexPieces.end(piece); i < end; ++i)
            slots += m_records.vertices[i]->triangleCount();
        listStart[piece + 1] = slots;
    });
    for (std::size_t piece = 0; piece < vertexPieces.count; ++piece)
        listStart[piece + 1] += listStart[piece];
    Ref<StlTriangle>* incident = target->newIncidentBlock(listStart[vertexPieces.count]);

    // Shells first: the triangles name their copies. The numbers are the
    // shells' positions, as the copy of a shell carries it.
    std::unordered_map<const StlShell*, StlShell*> shellOf;
    uint32_t ordinal = 0;
    for (StlShell* s : m_records.shells) {
        s->number = ordinal++;
        auto* copy = new StlShell(*s);
        target->m_records.shells.push_back(copy);
        copy->owner = target;
        copy->flags = s->flags;
        copy->changed = s->changed;
        copy->triangleCount = s->triangleCount;
        copy->boxMin = s->boxMin;
        copy->boxMax = s->boxMax;
        shellOf.emplace(s, copy);
    }

    // The work, taken in turn by the threads: the jobs that run on one
    // thread first (the shells' triangle lists and the copy's record
    // arrays, filled in one pass each without clearing them first), then
    // the pieces of the records, which each thread maps and fills.
    const std::size_t shellJobs = m_records.shells.size();
    const std::size_t arrayJobs = 3;
    const std::size_t firstPiece = shellJobs + arrayJobs;
    const std::size_t jobs = firstPiece + vertexPieces.count + trianglePieces.count + edgePieces.count;
    std::atomic<bool> outOfMemory{false};
    std::vector<std::vector<std::size_t>> cutTriangles(threads);
    auto copyVertices = [&](std::size_t piece) {
        const std::size_t begin = vertexPieces.begin(piece);
        const std::size_t end = vertexPieces.end(piece);
        std::size_t slot = listStart[piece];
        touchPages(vertices + begin, (end - begin) * sizeof(StlVertex));
        touchPages(incident + slot, (listStart[piece + 1] - slot) * sizeof(Ref<StlTriangle>));
        for (std::size_t i = begin; i < end; ++i) {
            const StlVertex* s = m_records.vertices[i];
            StlVertex* d = new (vertices + i) StlVertex(s->pos.data());
            d->index = s->index;
            d->flags = s->flags;
            if (s->hasTriangleList()) {
                d->useExternalList(incident + slot, s->triangleCount());
                for (const Ref<StlTriangle>& t : *s)
                    d->appendUnlisted(triangleOf(t));
                slot += s->triangleCount();
            }
        }
    };
    auto copyTriangles = [&](std::size_t piece, unsigned thread) {
        const std::size_t begin = trianglePieces.begin(piece);
        const std::size_t end = trianglePieces.end(piece);
        touchPages(triangles + begin, (end - begin) * sizeof(StlTriangle));
        const StlShell* lastShell = nullptr;
        StlShell* lastCopy = nullptr;
        for (std::size_t i = begin; i < end; ++i) {
            const StlTriangle* s = m_records.triangles[i];
            StlTriangle* d = new (triangles + i) StlTriangle();
            // A cut context goes with its table entry, made below.
            d->flags = s->flags & ~StlTriangle::kHasCutContext;
            d->id = s->id;
            d->normal = s->normal;
            for (int k = 0; k < 3; ++k) {
                d->vertices[k] = vertexOf(s->vertices[k]);
                d->edges[k] = edgeOf(s->edges[k]);
            }
            if (s->shell != lastShell) {
                lastShell = s->shell;
                const auto it = shellOf.find(lastShell);
                lastCopy = it == shellOf.end() ? nullptr : it->second;
            }
            d->shell = lastCopy;
            if (s->hasCutContext() && !s->isDeleted())
                cutTriangles[thread].push_back(i);
        }
    };
    auto copyEdges = [&](std::size_t piece) {
        const std::size_t begin = edgePieces.begin(piece);
        const std::size_t end = edgePieces.end(piece);
        touchPages(edges + begin, (end - begin) * sizeof(StlEdge));
        for (std::size_t i = begin; i < end; ++i) {
            StlEdge* d = new (edges + i) StlEdge();
            if (!d->copyFrom(*m_records.edges[i], vertexOf, triangleOf))
                outOfMemory = true;
        }
    };
    forEachPiece(threads, jobs, [&](std::size_t job, unsigned thread) {
        try {
            if (job < shellJobs) {
                const StlShell* s = m_records.shells[job];
                StlShell* copy = target->m_records.shells[job];
                for (const Ref<StlTriangle>& t : s->primaryTriangles)
                    copy->primaryTriangles.push_back(triangleOf(t));
                for (const Ref<StlTriangle>& t : s->reversedTriangles)
                    copy->reversedTriangles.push_back(triangleOf(t));
            } else if (job == shellJobs) {
                fillRecordArray(target->m_records.vertices, nv, nv, vertexOf);
            } else if (job == shellJobs + 1) {
                fillRecordArray(target->m_records.triangles, nt, m_records.triangles.capacity(), triangleOf);
            } else if (job == shellJobs + 2) {
                fillRecordArray(target->m_records.edges, ne, m_records.edges.capacity(), edgeOf);
            } else if (job < firstPiece + vertexPieces.count) {
                copyVertices(job - firstPiece);
            } else if (job < firstPiece + vertexPieces.count + trianglePieces.count) {
                copyTriangles(job - firstPiece - vertexPieces.count, thread);
            } else {
                copyEdges(job - firstPiece - vertexPieces.count - trianglePieces.count);
            }
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    });
    if (outOfMemory)
        throw std::bad_alloc();

    target->m_measures = m_measures;
    target->m_octree.minCell = m_octree.minCell;
    target->m_calibrationOffsets = m_calibrationOffsets;

    // Cut contexts: the clone gets its own, with the cutting triangles and the
    // segments' ends taken at the same positions in the copy. Pieces are a
    // cut's working state and are not carried.
    for (const std::vector<std::size_t>& list : cutTriangles) {
        for (std::size_t i : list) {
            const TriangleCutContext* from = cutContext(m_records.triangles[i]);
            if (!from)
                continue;
            auto context = std::make_unique<TriangleCutContext>(target->m_records.triangles[i]);
            for (const StlTriangle* c : from->cutters)
                if (StlTriangle* copy = triangleOf(c))
                    context->cutters.push_back(copy);
            for (const CutSegment& s : from->segments) {
                CutSegment copy = s;
                copy.a = vertexOf(s.a);
                copy.b = vertexOf(s.b);
                if (copy.a && copy.b)
                    context->segments.push_back(copy);
            }
            context->failed = from->failed;
            setCutContext(target->m_records.triangles[i], context.release());
        }
    }

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
