// The deep copy of a mesh: every record, list, shell and the octree, made at
// the speed of copying memory rather than by building the topology again.
//
// The copy's records of each kind stand in one block in array order, so the
// copy of record i is found by arithmetic; the original's records are found
// by RecordIndex (arithmetic too for a mesh read from a file). Vertices,
// triangles, edges and the octree's leaves are copied on several threads;
// each thread writes only its own records.
#include "topolib/StlObject.h"

#include "topolib/HugePageAdvice.h"
#include "topolib/MeshOctree.h"
#include "topolib/ParallelRuns.h"
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
    CopyMap(const RefArray<T>& original, const T* first)
        : m_index(original), m_first(first != nullptr ? Ref<T>(const_cast<T*>(first)).raw() : 0) {}
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

// The octree's entries, taken to the copy's records at the same positions.
class ArrayRelocation : public MeshOctree::Relocation {
public:
    ArrayRelocation(const StlObject& original, const StlObject& copy)
        : m_vertices(original.vertices()), m_triangles(original.triangles()), m_copy(copy) {}
    StlVertex* vertex(const StlVertex* v) const override {
        const std::size_t i = m_vertices.of(v);
        return i < m_copy.vertices().size() ? m_copy.vertices()[i].get() : nullptr;
    }
    StlTriangle* triangle(const StlTriangle* t) const override {
        const std::size_t i = m_triangles.of(t);
        return i < m_copy.triangles().size() ? m_copy.triangles()[i].get() : nullptr;
    }

private:
    RecordIndex<StlVertex> m_vertices;
    RecordIndex<StlTriangle> m_triangles;
    const StlObject& m_copy;
};

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

    // The copy's records, each kind in one block, made by the threads below.
    // Their pages are mapped by the threads that write them.
    StlVertex* vertices = nv ? target->m_records.vertexPool.takeSlots(nv, false) : nullptr;
    StlTriangle* triangles = nt ? target->m_records.trianglePool.takeSlots(nt, false) : nullptr;
    StlEdge* edges = ne ? target->m_records.edgePool.takeSlots(ne, false) : nullptr;
    const CopyMap<StlVertex> vertexOf(m_records.vertices, vertices);
    const CopyMap<StlTriangle> triangleOf(m_records.triangles, triangles);
    const CopyMap<StlEdge> edgeOf(m_records.edges, edges);

    target->m_records.vertices.resize(nv);
    target->m_records.triangles.reserve(m_records.triangles.capacity());
    target->m_records.triangles.resize(nt);
    target->m_records.edges.reserve(m_records.edges.capacity());
    target->m_records.edges.resize(ne);

    // Incident lists: one block, each vertex's list exactly as long as the
    // original's count.
    std::vector<std::size_t> listStart(threads + 1, 0);
    runOnThreads(threads, [&](unsigned part) {
        std::size_t slots = 0;
        for (std::size_t i = partBegin(nv, part, threads), end = partBegin(nv, part + 1, threads); i < end; ++i)
            slots += m_records.vertices[i]->triangleCount();
        listStart[part + 1] = slots;
    });
    for (unsigned t = 0; t < threads; ++t)
        listStart[t + 1] += listStart[t];
    Ref<StlTriangle>* incident = target->newIncidentBlock(listStart[threads]);

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
        for (int which = 0; which < 2; ++which) {
            const StlShell::TriangleList& from = which == 0 ? s->primaryTriangles : s->reversedTriangles;
            StlShell::TriangleList& to = which == 0 ? copy->primaryTriangles : copy->reversedTriangles;
            to.resize(from.size());
            const unsigned parts = importThreads(from.size());
            forRanges(from.size(), parts, [&](std::size_t begin, std::size_t end) {
                auto out = to.begin() + static_cast<std::ptrdiff_t>(begin);
                for (auto in = from.begin() + static_cast<std::ptrdiff_t>(begin),
                          last = from.begin() + static_cast<std::ptrdiff_t>(end);
                     in != last; ++in, ++out)
                    *out = triangleOf(*in);
            });
        }
    }

    std::atomic<bool> outOfMemory{false};
    std::vector<std::vector<std::size_t>> cutTriangles(threads);
    runOnThreads(threads, [&](unsigned part) {
        std::size_t begin = partBegin(nv, part, threads);
        std::size_t end = partBegin(nv, part + 1, threads);
        std::size_t slot = listStart[part];
        // Each thread maps the pages it is about to fill, in one call per block.
        populatePages(vertices + begin, (end - begin) * sizeof(StlVertex));
        populatePages(incident + slot, (listStart[part + 1] - slot) * sizeof(Ref<StlTriangle>));
        const std::size_t tBegin = partBegin(nt, part, threads);
        populatePages(triangles + tBegin, (partBegin(nt, part + 1, threads) - tBegin) * sizeof(StlTriangle));
        const std::size_t eBegin = partBegin(ne, part, threads);
        populatePages(edges + eBegin, (partBegin(ne, part + 1, threads) - eBegin) * sizeof(StlEdge));
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
            target->m_records.vertices[i] = vertexOf.at(i);
        }

        begin = partBegin(nt, part, threads);
        end = partBegin(nt, part + 1, threads);
        const StlShell* lastShell = nullptr;
        StlShell* lastCopy = nullptr;
        try {
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
                target->m_records.triangles[i] = triangleOf.at(i);
                if (s->hasCutContext() && !s->isDeleted())
                    cutTriangles[part].push_back(i);
            }
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }

        begin = partBegin(ne, part, threads);
        end = partBegin(ne, part + 1, threads);
        for (std::size_t i = begin; i < end; ++i) {
            StlEdge* d = new (edges + i) StlEdge();
            if (!d->copyFrom(*m_records.edges[i], vertexOf, triangleOf))
                outOfMemory = true;
            target->m_records.edges[i] = edgeOf.at(i);
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
            if (!m_octree.root->relocatedCopy(
                    ArrayRelocation(*this, *target),
                    importThreads(m_records.triangles.size() + m_records.vertices.size()), *copy.root))
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
