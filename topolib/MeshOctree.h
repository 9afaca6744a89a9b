#pragma once

#include "topolib/RecordArena.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <type_traits>
#include <utility>
#include <vector>

class ProgressMonitor;

namespace Misc {
class VBTruncatedCone;
}

namespace topolib {

class StlVertex;
class StlTriangle;
struct SnapRecord;
class StlObject;

// Which of the triangles given a build files (MeshOctree::build).
enum class TriangleFiling {
    NotDeleted, // those whose deleted flag is clear
    ByShape,    // those MeshOctree::filedByShape takes
};

// The spatial index of one mesh: a single octree over its vertex and triangle
// records. The tree stores no geometry: the caller passes the root cube
// (minimum corner and edge) to every operation, so a translation of the mesh
// only moves the cube it passes in. Items stand only in leaves whose edge is
// below the minimum cell edge; a triangle stands in every leaf it may touch.
//
// Storage is contiguous: nodes live in one vector and are addressed by index;
// the item lists of the leaves are chained chunks of a shared pool, so building
// the tree for a large mesh costs a handful of allocations. Lists hold borrowed
// pointers; the records belong to the mesh.
//
// A tree is not synchronised. The owning mesh builds a new tree privately and
// publishes it complete (see StlObject), so a tree that readers can see is only
// changed by the thread that owns the mesh.
class MeshOctree {
public:
    // Result of an insertion.
    enum class InsertResult {
        Stored,      // the item stands in at least one leaf
        Outside,     // no cube of the tree holds the item; nothing stored
        OutOfMemory, // an allocation failed (or the memory budget was reached); the
                     // item is not stored, everything stored before stays
    };

    // A tree whose node and list storage may not grow beyond memoryBudget bytes;
    // reaching the budget behaves like a failed allocation.
    explicit MeshOctree(std::size_t memoryBudget = std::numeric_limits<std::size_t>::max());

    // --- insertion -----------------------------------------------------------------
    // An item with a corner that is not finite, or a cube or cell size that is not
    // finite, is refused (Outside): the descent would never reach minCell.
    // Files v into the first leaf (in child order) whose cube, widened by 1e-6,
    // holds it. Vertices never split a leaf.
    InsertResult insertVertex(double minCell, const double origin[3], double edge, StlVertex* v);
    // Files t into every leaf whose cube (widened by edge/10000) it may touch; a
    // leaf past 350 triangles splits while its level is below 20, unless the split
    // would not pay (see splitPays); such a leaf tries again when its count has
    // doubled.
    InsertResult insertTriangle(double minCell, const double origin[3], double edge, StlTriangle* t);
    // Builds the tree from nothing: the result is the tree that insertVertex for
    // every vertex in order, then insertTriangle for every triangle that is not
    // deleted, in order, would make. With threads > 1 (or many triangles) the
    // cubes of the third level (a higher one when minCell stops the descent
    // sooner) are built side by side, each in storage of its own, and joined in
    // the order of their cubes, so the tree is the same whatever the number of
    // threads. A tree that holds nodes already, or has a memory budget, is
    // built by insertion on the calling thread. False when an allocation
    // failed; the tree is then incomplete.
    // With TriangleFiling::ByShape the triangles filed are those that
    // filedByShape takes, and no flags are read (another thread may be
    // writing them). A stop asked by `stop` (may be null; looked at every
    // few thousand records) ends the build: false, the tree incomplete.
    bool build(double minCell, const double origin[3], double edge, const RefArray<StlVertex>& vertices,
               const RefArray<StlTriangle>& triangles, unsigned threads,
               TriangleFiling filing = TriangleFiling::NotDeleted, const ProgressMonitor* stop = nullptr);
    // A triangle with a normal and three distinct corners: one that an
    // import's edge step keeps, when the reader deleted exactly those it left
    // without a normal.
    static bool filedByShape(const StlTriangle* t);
    // The vertex of the leaf that holds p and that equals p (Vector3D::operator==),
    // or a new one made by makeVertex(p) and filed in that leaf (*found = false).
    // Null when no cube holds p, or when makeVertex returns null, or when filing the
    // new vertex fails (then *outOfMemory is set and the vertex is still returned:
    // the caller owns it either way).
    StlVertex* findOrCreateVertex(double minCell, const double origin[3], double edge, const double p[3],
                                  bool* found, const std::function<StlVertex*(const double p[3])>& makeVertex,
                                  bool* outOfMemory = nullptr);

    // A copy of this tree whose entries point at target's records with the same
    // vertex index / triangle id. Every node of the copy has level 0. Entries whose
    // index or id does not exist in target are dropped. Throws std::bad_alloc.
    MeshOctree copyFor(const StlObject& target) const;

    // The record of a copied mesh that stands for a record of the original
    // (null when the copy has none).
    class Relocation {
    public:
        virtual ~Relocation() = default;
        virtual StlVertex* vertex(const StlVertex* v) const = 0;
        virtual StlTriangle* triangle(const StlTriangle* t) const = 0;
        // Records that moved as one block: an entry that points into
        // [first, first + bytes) moves by `shift` bytes, without a call to
        // vertex() or triangle(), which must agree. Empty unless set.
        struct Block {
            std::uintptr_t first = 0;
            std::size_t bytes = 0;
            std::uintptr_t shift = 0; // added modulo 2^64
        };
        Block vertexBlock;
        Block triangleBlock;
    };
    // This tree node for node (levels and lists as they are, so the copy
    // answers and grows as this tree does) with every entry relocated, made on
    // `threads` threads. False, out untouched, when an entry has no record in
    // the copy (copyFor then drops it instead). Throws std::bad_alloc.
    bool relocatedCopy(const Relocation& relocation, unsigned threads, MeshOctree& out) const;

    // --- queries (all take the root cube) ----------------------------------------
    // The hit farthest along d of the infinite line q + s d; best is the running
    // best point (in/out), *out receives the triangle of a better hit.
    void pickTriangleOnLine(const double origin[3], double edge, const double q[3], const double d[3],
                            double best[3], StlTriangle** out) const;
    // A live triangle whose plane projection of p lies inside it, within the cells
    // near p (tolerance tol on the cell bounds).
    bool anyTriangleUnderPoint(const double origin[3], double edge, const double p[3], double tol) const;
    // Whether the centre of some leaf, projected on the polygon's plane, lies inside
    // the polygon (points in order; the last may repeat the first).
    bool anyLeafCentreInPolygon(const double origin[3], double edge, const std::vector<const double*>& polygon,
                                const double normal[3]) const;
    // Lowest height >= -1e-6 of the triangles of group g on the vertical line through
    // p; best is in/out (unchanged when nothing is lower), *out may be null.
    void lowestTriangleAtXY(const double origin[3], double edge, const double p[3], int group, double* best,
                            StlTriangle** out) const;
    // Highest up-facing (normal z > sin 5 degrees) surface below upper on the
    // vertical line through p; best and normalOut are in/out.
    void highestUpFacingTriangleBelow(const double origin[3], double edge, const double p[3], double upper,
                                      double* best, double normalOut[3]) const;
    // Highest point below upper where a vertical column of radius r around p lands
    // on triangles outside group g facing up; best (x, y, z) and normalOut in/out.
    void highestUpFacingPointWithin(const double origin[3], double edge, int group, const double p[3], double r,
                                    double upper, double best[3], double normalOut[3]) const;
    // The support cones' landing search (MeshOctreeSupportQueries.cpp): where a
    // trunk of `radius` around centre lands on up-facing triangles outside group
    // skipGroup, below *heightBound. point (start at centre x, y, -1.0) and normal
    // are in/out; a result counts only above 1e-6.
    void lowestUpFacingTriangleAbove(const double origin[3], double edge, uint32_t skipGroup, const double centre[3],
                                     double radius, const double* heightBound, double point[3],
                                     double normal[3]) const;
    // Signed count of the crossings of the vertical line below p (+1 for an
    // up-facing triangle, -1 otherwise). Triangles through whose vertex or edge
    // the line passes are counted once: they are walk-marked (mark 1) and
    // collected in touched; the caller clears the marks. lengthScale: the
    // tolerance scale of the tree's mesh (StlObject::toleranceScale), which the
    // 0.001 below p and the triangle tests follow.
    void countCrossingsBelow(const double origin[3], double edge, const double p[3], int* count,
                             std::vector<StlTriangle*>& touched, double lengthScale = 1.0) const;
    // Whether a live triangle may cut the cylinder {radius, length, centre[3], axis[3]}.
    bool anyTriangleInCylinder(const double origin[3], double edge, const double cylinder[8]) const;
    // Whether a live triangle cuts the truncated cone.
    bool anyTriangleInTruncatedCone(const double origin[3], double edge, const Misc::VBTruncatedCone& cone) const;
    // Triangles hit by the ray q + s d (s > 0). With a set, every hit triangle is
    // inserted once and the result is whether the set is non-empty; without one,
    // the walk stops at the first hit. lengthScale: as for countCrossingsBelow,
    // handed to rayHitsTriangle.
    bool collectRayHits(const double origin[3], double edge, const double q[3], const double d[3],
                        std::set<StlTriangle*>* hits, double lengthScale = 1.0) const;

    // The drain-hole cutter's side of the pair walk: whether the pair (s, t) has been
    // recorded already, and recording it.
    class CutterSink {
    public:
        virtual ~CutterSink() = default;
        virtual bool alreadyRecorded(StlTriangle* s, StlTriangle* t) = 0;
        virtual void record(StlTriangle* s, StlTriangle* t) = 0;
    };
    // Walks the trees a and b in pairs and, for every pair of live triangles in
    // overlapping leaves: skips it when both carry walk mark 1; when the two are
    // coplanar and overlap, gives each unmarked one mark 1 and appends it to
    // *coplanar; otherwise, unless the sink has the pair already, runs the cutter's
    // coarse test (TriangleCutter::prefilterPair, which may append to *snapList)
    // and on a pass records the pair both ways and sets *found.
    static void collectIntersectionSegments(const MeshOctree& a, const double originA[3], double edgeA,
                                            const MeshOctree& b, const double originB[3], double edgeB,
                                            std::deque<SnapRecord>* snapList,
                                            std::vector<StlTriangle*>* coplanar, bool* found, CutterSink& sink);

    // Walks this tree and other at once and calls visit(s, t) for every pair of live
    // triangles s of this tree and t of other that stand in leaves whose cubes
    // overlap. The same pair can be visited more than once (triangles stand in
    // several leaves); pairs are visited as (this tree's, other's) triangle.
    using PairVisitor = std::function<void(StlTriangle* mine, StlTriangle* theirs)>;
    void forEachCandidatePair(const double origin[3], double edge, const MeshOctree& other,
                              const double otherOrigin[3], double otherEdge, const PairVisitor& visit) const;

    // --- inspection ----------------------------------------------------------------
    std::size_t nodeCount() const { return nodes_.size(); }
    std::size_t leafCount() const;
    // Bytes of node and list storage in use (capacity of the containers).
    std::size_t memoryBytes() const;
    // Calls f(origin, edge, vertices, triangles) for every leaf that holds items.
    using LeafVisitor = std::function<void(const double origin[3], double edge, const std::vector<StlVertex*>& vertices,
                                           const std::vector<StlTriangle*>& triangles)>;
    void forEachLeaf(const double origin[3], double edge, const LeafVisitor& f) const;

    static constexpr int kSplitThreshold = 350;
    static constexpr int kMaxSplitLevel = 20;

private:
    static constexpr std::uint32_t kNone = 0xffffffffu;
    static constexpr std::uint16_t kLeafBit = 1;
    static constexpr std::uint16_t kLevelBits = 0xff << 1;
    static constexpr std::uint16_t kRefusedBits = 0x3f << 9;
    static constexpr int kTriangleChunk = 15;
    static constexpr int kVertexChunk = 7;

    // A chunk's entry: a record's 32-bit reference (Ref<T>'s word), half the
    // room of a pointer. It has no default value, so that a chunk made without
    // one is left unwritten.
    template <typename T>
    struct Entry {
        std::uint32_t word;
        Entry& operator=(T* p) {
            word = Ref<T>(p).raw();
            return *this;
        }
        Entry& operator=(Ref<T> r) {
            word = r.raw();
            return *this;
        }
        operator T*() const { return Ref<T>::fromRaw(word).get(); }
    };
    template <typename T, int N>
    struct Chunk {
        using Record = T;
        Entry<T> items[N];
        std::uint32_t next;
    };
    using TriangleChunk = Chunk<StlTriangle, kTriangleChunk>;
    using VertexChunk = Chunk<StlVertex, kVertexChunk>;
    static_assert(sizeof(TriangleChunk) == 64 && sizeof(VertexChunk) == 32, "a chunk fills a cache line or half");
    static_assert(std::is_trivial_v<TriangleChunk> && std::is_trivial_v<VertexChunk>,
                  "a chunk is made without a pass over its memory and copied as bytes");

    // A list of chained chunks of one pool; count items in insertion order.
    // Lists and nodes have no member initializers, so that a join's node pool
    // is not written before the subtrees are copied into it: a new one is a
    // copy of kEmptyList or kNewNode.
    struct List {
        std::uint32_t head;
        std::uint32_t tail;
        std::uint32_t count;
    };

    struct Node {
        std::uint32_t children[8];
        List vertices;
        List triangles;
        // bit 0 leaf, bits 1-8 level, bits 9-14 the splits the leaf has refused
        std::uint16_t flags;
        bool isLeaf() const { return (flags & kLeafBit) != 0; }
        int level() const { return (flags >> 1) & 0xff; }
        void setLevel(int level) { flags = std::uint16_t((flags & ~kLevelBits) | ((level & 0xff) << 1)); }
        int refusedSplits() const { return (flags & kRefusedBits) >> 9; }
        void setRefusedSplits(int n) { flags = std::uint16_t((flags & ~kRefusedBits) | ((n & 0x3f) << 9)); }
        // The count past which the leaf tries to split: 350, doubled at each refusal.
        std::uint64_t splitCount() const { return std::uint64_t(kSplitThreshold) << refusedSplits(); }
    };
    static constexpr List kEmptyList{kNone, kNone, 0};
    // A leaf of level 0 without children or records.
    static constexpr Node kNewNode{{kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone}, kEmptyList, kEmptyList,
                                   kLeafBit};

    template <typename Pool>
    bool listAppend(Pool& pool, std::vector<std::uint32_t>& freeChunks, List& list,
                    typename Pool::value_type::Record* item);
    template <typename Pool>
    void listFree(Pool& pool, std::vector<std::uint32_t>& freeChunks, List& list);
    // Fills the empty list with item(0) .. item(n - 1), n > 0, in chunks that
    // follow one another at the end of the pool. Throws std::bad_alloc.
    template <typename Pool, typename Item>
    static void listFill(Pool& pool, List& list, std::size_t n, const Item& item);
    // Calls f(item) in list order until it returns true; returns whether it did.
    template <typename Pool, typename F>
    static bool listForEach(const Pool& pool, const List& list, F&& f) {
        using ChunkT = typename Pool::value_type;
        constexpr std::uint32_t N = sizeof(ChunkT::items) / sizeof(ChunkT::items[0]);
        std::uint32_t left = list.count;
        for (std::uint32_t c = list.head; c != kNone && left > 0; c = pool[c].next) {
            const std::uint32_t n = left < N ? left : N;
            for (std::uint32_t i = 0; i < n; ++i) {
                if (f(pool[c].items[i]))
                    return true;
            }
            left -= n;
        }
        return false;
    }

    bool ensureRoot();
    std::uint32_t makeChild(std::uint32_t node, int k, int level);
    // The node `depth` levels below the root whose child digits from the root
    // (most significant first) make up key, made with the nodes above it where
    // missing: at the level of the descent for a vertex, at level 0 for a
    // triangle, as insertion makes them. kNone when an allocation fails.
    std::uint32_t makePath(std::uint32_t key, int depth, bool byVertex);
    bool budgetAllows(std::size_t extraBytes) const;
    bool addVertex(std::uint32_t node, StlVertex* v);
    bool addTriangle(std::uint32_t node, StlTriangle* t);

    struct TriangleBox;
    InsertResult insertVertexAt(std::uint32_t node, double minCell, const double origin[3], double edge, StlVertex* v);
    InsertResult insertTriangleAt(std::uint32_t node, double minCell, const double origin[3], double edge,
                                  const TriangleBox& t);
    // insertTriangleAt, with the first levels, where the triangle's box lies
    // well inside one half of the cube on every axis, walked without the tests.
    InsertResult insertTriangleBelow(std::uint32_t node, double minCell, const double origin[3], double edge,
                                     const TriangleBox& t);
    // Whether splitting a leaf of n triangles, perChild[k] of which its child k
    // would hold, pays. It does not when the children would hold more than 5/2 n
    // entries: most triangles are then large against the children and cross
    // several of them, and every further split copies them again (a surface of
    // small facets stays below 2). Nor when one child would keep more than 7/8 of
    // them and the children more than 3/2 n: the triangles all reach one small
    // place (facets round a shared point, a stack of equal facets), which no split
    // ever separates. A dense cluster in one corner of the leaf (one child keeps
    // all, nearly without copies) still splits: the next splits separate it.
    static bool splitPays(const std::uint32_t perChild[8], std::uint32_t n);
    // Nor does a split of a leaf where most triangles are longer than this many
    // of its edges: long slivers through a small place (the blades of a fan near
    // its hub) reach as many children as the split takes from each, so every
    // split would copy all of them again, level after level.
    static constexpr double kSpanningEdges = 8.0;
    void refuseSplit(std::uint32_t node);
    bool splitNode(std::uint32_t node, const double origin[3], double edge);
    struct CellBuild;
    bool buildByCells(double minCell, const double origin[3], double edge, int levels,
                      const RefArray<StlVertex>& vertices, const RefArray<StlTriangle>& triangles,
                      unsigned threads, TriangleFiling filing, const ProgressMonitor* stop);
    StlVertex* findOrCreateAt(std::uint32_t node, double minCell, const double origin[3], double edge,
                              const double p[3], bool* found,
                              const std::function<StlVertex*(const double p[3])>& makeVertex, bool* outOfMemory);

    template <typename ChildTest, typename LeafBody>
    bool walk(std::uint32_t node, const double origin[3], double edge, ChildTest& childTest, LeafBody& leafBody) const;
    static void pairWalk(const MeshOctree& ta, std::uint32_t a, const double originA[3], double edgeA,
                         const MeshOctree& tb, std::uint32_t b, const double originB[3], double edgeB, bool swapped,
                         const PairVisitor& visit);

    // Chunks made without a value are left uninitialised (their items are only
    // read up to the list's count), so that sizing a pool that is then filled
    // costs no pass over its memory.
    template <typename T>
    struct ChunkAllocator : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = ChunkAllocator<U>;
        };
        ChunkAllocator() = default;
        template <typename U>
        ChunkAllocator(const ChunkAllocator<U>&) noexcept {}
        template <typename U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
        template <typename U, typename... Args>
        void construct(U* p, Args&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    };

    std::vector<Node, ChunkAllocator<Node>> nodes_;
    std::vector<TriangleChunk, ChunkAllocator<TriangleChunk>> triangleChunks_;
    std::vector<VertexChunk, ChunkAllocator<VertexChunk>> vertexChunks_;
    std::vector<std::uint32_t> freeTriangleChunks_;
    std::vector<std::uint32_t> freeVertexChunks_;
    std::size_t memoryBudget_;
};

} // namespace topolib
