#include "topolib/MeshOctree.h"

#include "app/ProgressReport.h"

#include "topolib/GeometricPredicates.h"
#include "topolib/OctreeKernels.h"
#include "topolib/ParallelRuns.h"
#include "topolib/PieceWork.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace topolib {

// The triangle as the insertion descends: its corners, normal and box are read
// once instead of once per child cube.
struct MeshOctree::TriangleBox {
    StlTriangle* t;
    const double* a;
    const double* b;
    const double* c;
    const double* n;
    double mn[3];
    double mx[3];
    double reach; // the largest magnitude of a corner coordinate

    explicit TriangleBox(StlTriangle* tri)
        : t(tri), a(tri->vertices[0]->pos.data()), b(tri->vertices[1]->pos.data()), c(tri->vertices[2]->pos.data()),
          n(tri->normal.data()), reach(0.0) {
        for (int k = 0; k < 3; ++k) {
            mn[k] = std::min(a[k], std::min(b[k], c[k]));
            mx[k] = std::max(a[k], std::max(b[k], c[k]));
            reach = std::max(reach, std::max(std::fabs(mn[k]), std::fabs(mx[k])));
        }
    }
    // Whether a corner lies inside the box (lo, E) by margin m on every axis.
    bool cornerInside(const double lo[3], double E, double m) const {
        for (const double* p : {a, b, c}) {
            if (p[0] > lo[0] + m && p[0] < lo[0] + E - m && p[1] > lo[1] + m && p[1] < lo[1] + E - m &&
                p[2] > lo[2] + m && p[2] < lo[2] + E - m)
                return true;
        }
        return false;
    }
    bool overlaps(const double origin[3], double edge) const {
        // The box rejection of triangleOverlapsCube, inline: most child cubes of a
        // descent are rejected here without the call.
        const double eps = edge * 0.0001;
        const double E = edge + 2.0 * eps;
        bool inside = true;
        for (int k = 0; k < 3; ++k) {
            const double lo = origin[k] - eps;
            if (mn[k] > lo + E || lo > mx[k])
                return false;
            inside = inside && mn[k] >= lo && mx[k] <= lo + E;
        }
        // A triangle wholly inside the box meets it; the full test would agree.
        if (inside)
            return true;
        return overlapsCrossing(origin, edge);
    }
    // overlaps for a box that reaches the widened cube without lying inside it.
    bool overlapsCrossing(const double origin[3], double edge) const {
        // A triangle with a corner inside the box by a margin far above the
        // rounding of the full test (a few units in the last place of the
        // largest coordinate it handles) meets it: the full test would accept
        // it too. Most triangles that cross a cube's face have a corner on
        // each side.
        const double eps = edge * 0.0001;
        const double E = edge + 2.0 * eps;
        const double lo[3] = {origin[0] - eps, origin[1] - eps, origin[2] - eps};
        const double far = std::max(reach, std::max(std::fabs(lo[0]), std::max(std::fabs(lo[1]), std::fabs(lo[2]))));
        if (cornerInside(lo, E, 1e-12 * (far + 2.0 * E)))
            return true;
        return meets(origin, edge);
    }
    // The full test alone, for a cube known to hold no corner: the shortcut of
    // overlapsCrossing would only come to the same answer later.
    bool meets(const double origin[3], double edge) const {
        return triangleOverlapsCube(a, b, c, n, mn, mx, origin, edge);
    }
};

namespace {

// The point lies in the closed cube widened by 1e-6.
inline bool cubeHolds(const double origin[3], double edge, const double p[3]) {
    return p[0] >= origin[0] - 1e-6 && classifyPointInCell(p, origin, &edge) != -1;
}

// Makes the cube (minimum corner cur, edge) its child k.
inline void stepToChild(double cur[3], double& edge, int k) {
    double o[3];
    childOrigin(cur, edge, k, o);
    std::copy(o, o + 3, cur);
    edge *= 0.5;
}

// The child of the cube (minimum corner cur, edge) in which the descent of a
// vertex at p goes on: the first in child order whose cube, closed and widened by
// 1e-6, holds p. The order runs ix, iy, iz, so that is the lower half on each
// axis that holds it. Returns the child's index with its corner in o, or -1 when
// no child holds p.
inline int vertexChild(const double p[3], const double cur[3], double edge, double o[3]) {
    const double half = edge * 0.5;
    int k = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const double lower = cur[axis];
        const double upper = cur[axis] + half;
        int i;
        if (p[axis] >= lower - 1e-6 && !(p[axis] > lower + half + 1e-6))
            i = 0;
        else if (p[axis] >= upper - 1e-6 && !(p[axis] > upper + half + 1e-6))
            i = 1;
        else
            return -1;
        k = k * 2 + i;
        o[axis] = i ? upper : lower;
    }
    return k;
}

// Calls f(k, childOrigin, childEdge) in child order for every child cube of the
// cube (origin, edge) that the triangle t (a TriangleBox) may touch. The box
// test of the widened child cubes first picks the halves of each axis that the
// triangle's box reaches, so that only those children are looked at.
template <typename Box, typename F, typename Crossing>
inline void forEachChildReached(const Box& t, const double origin[3], double edge, F&& f, Crossing&& crossing) {
    const double half = edge * 0.5;
    const double eps = half * 0.0001;
    const double E = half + 2.0 * eps;
    bool reach[3][2];
    bool inside[3][2];
    for (int axis = 0; axis < 3; ++axis) {
        for (int i = 0; i < 2; ++i) {
            const double lo = origin[axis] + i * half - eps;
            reach[axis][i] = !(t.mn[axis] > lo + E || lo > t.mx[axis]);
            inside[axis][i] = t.mn[axis] >= lo && t.mx[axis] <= lo + E;
        }
    }
    // The reached children in child order (ix outer, iy, iz inner). A child
    // whose widened cube holds the triangle's box is met without the full
    // test, which would answer the same; the others go on past the box tests
    // of TriangleBox::overlaps, which these are, operation for operation.
    for (int ix = reach[0][0] ? 0 : 1; ix <= (reach[0][1] ? 1 : 0); ++ix) {
        for (int iy = reach[1][0] ? 0 : 1; iy <= (reach[1][1] ? 1 : 0); ++iy) {
            for (int iz = reach[2][0] ? 0 : 1; iz <= (reach[2][1] ? 1 : 0); ++iz) {
                const int k = (ix * 2 + iy) * 2 + iz;
                double o[3];
                childOrigin(origin, edge, k, o);
                if ((inside[0][ix] && inside[1][iy] && inside[2][iz]) || crossing(k, o, half))
                    f(k, o, half);
            }
        }
    }
}

// forEachChildReached with the full test of TriangleBox::overlapsCrossing.
template <typename Box, typename F>
inline void forEachChildReached(const Box& t, const double origin[3], double edge, F&& f) {
    forEachChildReached(t, origin, edge, std::forward<F>(f),
                        [&](int, const double o[3], double half) { return t.overlapsCrossing(o, half); });
}

// The finest grid the walks below use: 2^30 cells a side.
constexpr int kMostGridSteps = 30;

// The halvings from a cube of `edge` to the first edge below minCell, which
// *leaf receives; kMostGridSteps when that takes more (no grid walk then).
int gridStepsBelow(double minCell, double edge, double* leaf) {
    int steps = 0;
    *leaf = edge;
    while (!(minCell > *leaf) && steps < kMostGridSteps) {
        *leaf *= 0.5;
        ++steps;
    }
    return steps;
}

// The cell that holds a grid coordinate a (in cells) of a grid `cells` a side,
// when a lies inside the grid and farther than `margin` from the cell's walls.
inline bool clearCellOf(double a, double margin, double cells, std::int64_t* index) {
    if (!(a >= 0.0 && a < cells))
        return false;
    // a >= 0: the conversion floors it (and costs less than std::floor).
    const auto i = static_cast<std::int64_t>(a);
    const double fa = static_cast<double>(i);
    if (!(a - fa > margin && fa + 1.0 - a > margin))
        return false;
    *index = i;
    return true;
}

// The grid coordinates below are taken by one reciprocal of the cell edge
// instead of a division each: the products stray from the quotients by a few
// units in the last place of coordinates below `cells`, which the margins take
// in.
inline double reciprocalSlack(double cells) { return cells * 4e-15; }

// The margin, in cells of the grid of `cells` cells a side and 1/perCell
// long, that a coordinate keeps from the grid's lines for the cube tests to
// fall on one side of them: the widening of the cubes, a bound on the
// rounding of coordinates up to `far` from zero in a cube of `edge`, and the
// reciprocal's slack.
inline double gridMargin(double widening, double far, double edge, double perCell, double cells) {
    return (widening + 1e-12 * (far + 2.0 * edge)) * perCell + reciprocalSlack(cells);
}

// The cells of the grid of 2^steps cells a side and edge `cell` below the cube
// (origin, edge) that hold the two corners of t's box (lo, hi: their indices
// on each axis), when every box coordinate lies inside the grid and farther
// from its lines than four times the widening of the cubes (edge/20000 at
// most, for the halves of the cube itself) plus a bound on the rounding of
// their corners. Then the box tests of forEachChildReached fall on the same side of
// every half of a cube of the grid's levels: a box whose two ends lie in the
// same half of a cube on every axis reaches that one child and lies inside
// its widened cube.
template <typename Box>
inline bool clearOfGrid(const Box& t, const double origin[3], double edge, double cell, int steps,
                        std::int64_t lo[3], std::int64_t hi[3]) {
    if (steps <= 0)
        return false;
    const double far = std::max(
        t.reach, std::max(std::fabs(origin[0]), std::max(std::fabs(origin[1]), std::fabs(origin[2]))));
    const double perCell = 1.0 / cell;
    const double cells = static_cast<double>(std::int64_t(1) << steps);
    const double margin = gridMargin(edge * 0.0002, far, edge, perCell, cells);
    for (int k = 0; k < 3; ++k)
        if (!clearCellOf((t.mn[k] - origin[k]) * perCell, margin, cells, &lo[k]) ||
            !clearCellOf((t.mx[k] - origin[k]) * perCell, margin, cells, &hi[k]))
            return false;
    return true;
}

// The cell of the grid of clearOfGrid that holds the point p (at: its indices),
// when p lies inside the grid and on every axis farther from the grid's lines
// than twice the widening of the cubes for vertices (1e-6) plus a bound on the
// rounding of their corners. Then vertexChild picks the child whose half holds p at
// every level of the grid.
inline bool pointClearOfGrid(const double p[3], const double origin[3], double edge, double cell, int steps,
                             std::int64_t at[3]) {
    if (steps <= 0)
        return false;
    double far = 0.0;
    for (int k = 0; k < 3; ++k)
        far = std::max(far, std::max(std::fabs(p[k]), std::fabs(origin[k])));
    const double perCell = 1.0 / cell;
    const double cells = static_cast<double>(std::int64_t(1) << steps);
    const double margin = gridMargin(2e-6, far, edge, perCell, cells);
    for (int k = 0; k < 3; ++k)
        if (!clearCellOf((p[k] - origin[k]) * perCell, margin, cells, &at[k]))
            return false;
    return true;
}

// The child that both corners of a box clear of the grid (clearOfGrid) lie in,
// for the cube `shift` levels above the grid's cells; -1 when they lie in
// different children.
inline int childOfClearBox(const std::int64_t lo[3], const std::int64_t hi[3], int shift) {
    int k = 0;
    for (int axis = 0; axis < 3; ++axis) {
        if ((lo[axis] >> shift) != (hi[axis] >> shift))
            return -1;
        k = k * 2 + static_cast<int>((lo[axis] >> shift) & 1);
    }
    return k;
}

} // namespace

MeshOctree::MeshOctree(std::size_t memoryBudget) : memoryBudget_(memoryBudget) {}

bool MeshOctree::budgetAllows(std::size_t extraBytes) const {
    const std::size_t used = nodes_.size() * sizeof(Node) + triangleChunks_.size() * sizeof(TriangleChunk) +
                             vertexChunks_.size() * sizeof(VertexChunk);
    return used + extraBytes <= memoryBudget_;
}

std::size_t MeshOctree::memoryBytes() const {
    return nodes_.capacity() * sizeof(Node) + triangleChunks_.capacity() * sizeof(TriangleChunk) +
           vertexChunks_.capacity() * sizeof(VertexChunk) +
           (freeTriangleChunks_.capacity() + freeVertexChunks_.capacity()) * sizeof(std::uint32_t);
}

std::size_t MeshOctree::leafCount() const {
    return static_cast<std::size_t>(
        std::count_if(nodes_.begin(), nodes_.end(), [](const Node& n) { return n.isLeaf(); }));
}

// ---- pooled lists ---------------------------------------------------------------------

template <typename Pool>
bool MeshOctree::listAppend(Pool& pool, std::vector<std::uint32_t>& freeChunks, List& list,
                            typename Pool::value_type::Record* item) {
    using ChunkT = typename Pool::value_type;
    constexpr std::uint32_t N = sizeof(ChunkT::items) / sizeof(ChunkT::items[0]);
    const std::uint32_t slot = list.count % N;
    if (list.tail == kNone || slot == 0) {
        std::uint32_t fresh;
        if (!freeChunks.empty()) {
            fresh = freeChunks.back();
            freeChunks.pop_back();
        } else {
            if (!budgetAllows(sizeof(ChunkT)) || pool.size() >= kNone - 1)
                return false;
            try {
                pool.emplace_back();
            } catch (const std::bad_alloc&) {
                return false;
            }
            fresh = static_cast<std::uint32_t>(pool.size() - 1);
        }
        pool[fresh].next = kNone;
        if (list.tail == kNone)
            list.head = fresh;
        else
            pool[list.tail].next = fresh;
        list.tail = fresh;
    }
    pool[list.tail].items[slot] = item;
    ++list.count;
    return true;
}

template <typename Pool>
void MeshOctree::listFree(Pool& pool, std::vector<std::uint32_t>& freeChunks, List& list) {
    for (std::uint32_t c = list.head; c != kNone; c = pool[c].next) {
        // The free list never needs more room than the pool has chunks; a failure
        // to grow it only leaks the chunk until the tree goes.
        try {
            freeChunks.push_back(c);
        } catch (const std::bad_alloc&) {
        }
    }
    list = kEmptyList;
}

template <typename Pool, typename Item>
void MeshOctree::listFill(Pool& pool, List& list, std::size_t n, const Item& item) {
    using ChunkT = typename Pool::value_type;
    constexpr std::size_t N = sizeof(ChunkT::items) / sizeof(ChunkT::items[0]);
    const std::size_t first = pool.size();
    const std::size_t chunks = (n + N - 1) / N;
    pool.resize(first + chunks);
    for (std::size_t c = 0; c < chunks; ++c) {
        ChunkT& chunk = pool[first + c];
        const std::size_t begin = c * N;
        const std::size_t end = std::min(n, begin + N);
        for (std::size_t j = begin; j < end; ++j)
            chunk.items[j - begin] = item(j);
        chunk.next = c + 1 < chunks ? static_cast<std::uint32_t>(first + c + 1) : kNone;
    }
    list.head = static_cast<std::uint32_t>(first);
    list.tail = static_cast<std::uint32_t>(first + chunks - 1);
    list.count = static_cast<std::uint32_t>(n);
}

bool MeshOctree::addVertex(std::uint32_t node, StlVertex* v) {
    List list = nodes_[node].vertices;
    if (!listAppend(vertexChunks_, freeVertexChunks_, list, v))
        return false;
    nodes_[node].vertices = list;
    return true;
}

bool MeshOctree::addTriangle(std::uint32_t node, StlTriangle* t) {
    List list = nodes_[node].triangles;
    if (!listAppend(triangleChunks_, freeTriangleChunks_, list, t))
        return false;
    nodes_[node].triangles = list;
    return true;
}

// ---- nodes ------------------------------------------------------------------------------

bool MeshOctree::ensureRoot() {
    if (!nodes_.empty())
        return true;
    if (!budgetAllows(sizeof(Node)))
        return false;
    try {
        nodes_.push_back(kNewNode);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::uint32_t MeshOctree::makeChild(std::uint32_t node, int k, int level) {
    if (!budgetAllows(sizeof(Node)) || nodes_.size() >= kNone - 1)
        return kNone;
    try {
        nodes_.push_back(kNewNode);
    } catch (const std::bad_alloc&) {
        return kNone;
    }
    const auto child = static_cast<std::uint32_t>(nodes_.size() - 1);
    nodes_[child].setLevel(level);
    nodes_[node].children[k] = child;
    nodes_[node].flags &= std::uint16_t(~kLeafBit);
    return child;
}

std::uint32_t MeshOctree::makePath(std::uint32_t key, int depth, bool byVertex) {
    std::uint32_t node = 0;
    for (int d = depth - 1; d >= 0; --d) {
        const int k = static_cast<int>((key >> (3 * d)) & 7);
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, byVertex ? nodes_[node].level() + 1 : 0);
            if (child == kNone)
                return kNone;
        }
        node = child;
    }
    return node;
}

// ---- insertion ----------------------------------------------------------------------------

namespace {

// The descent halves the cube until it is smaller than minCell: a cube, cell
// size or point that is not finite would never end it.
bool finiteCube(double minCell, const double origin[3], double edge) {
    return std::isfinite(minCell) && std::isfinite(edge) && isFiniteVector(origin);
}

} // namespace

MeshOctree::InsertResult MeshOctree::insertVertex(double minCell, const double origin[3], double edge, StlVertex* v) {
    if (!finiteCube(minCell, origin, edge) || !isFiniteVector(v->pos.data()))
        return InsertResult::Outside;
    if (!ensureRoot())
        return InsertResult::OutOfMemory;
    return insertVertexAt(0, minCell, origin, edge, v);
}

MeshOctree::InsertResult MeshOctree::insertVertexAt(std::uint32_t node, double minCell, const double origin[3],
                                                    double edge, StlVertex* v) {
    const double* p = v->pos.data();
    double cur[3] = {origin[0], origin[1], origin[2]};
    // Down the levels above the leaves by the cell that holds p, when p lies
    // clear of the grid of the leaves' edge.
    double leaf = 0;
    const int steps = gridStepsBelow(minCell, edge, &leaf);
    std::int64_t at[3];
    if (steps < kMostGridSteps && pointClearOfGrid(p, origin, edge, leaf, steps, at)) {
        for (int shift = steps - 1; !(minCell > edge); --shift) {
            const int k = childOfClearBox(at, at, shift);
            std::uint32_t child = nodes_[node].children[k];
            if (child == kNone) {
                child = makeChild(node, k, nodes_[node].level() + 1);
                if (child == kNone)
                    return InsertResult::OutOfMemory;
            }
            stepToChild(cur, edge, k);
            node = child;
        }
    }
    for (;;) {
        if (nodes_[node].isLeaf() && minCell > edge)
            return addVertex(node, v) ? InsertResult::Stored : InsertResult::OutOfMemory;
        double o[3];
        const int k = vertexChild(p, cur, edge, o);
        if (k < 0) {
            nodes_[node].flags &= std::uint16_t(~kLeafBit);
            return InsertResult::Outside;
        }
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, nodes_[node].level() + 1);
            if (child == kNone)
                return InsertResult::OutOfMemory;
        }
        node = child;
        std::copy(o, o + 3, cur);
        edge *= 0.5;
    }
}

MeshOctree::InsertResult MeshOctree::insertTriangle(double minCell, const double origin[3], double edge,
                                                    StlTriangle* t) {
    if (!finiteCube(minCell, origin, edge))
        return InsertResult::Outside;
    for (const StlVertex* v : t->vertices)
        if (!isFiniteVector(v->pos.data()))
            return InsertResult::Outside;
    if (!ensureRoot())
        return InsertResult::OutOfMemory;
    const TriangleBox box(t);
    return insertTriangleBelow(0, minCell, origin, edge, box);
}

// The walk down the levels where the triangle's box lies clear of the grid of
// the cubes of the first edge below minCell and within one child of each cube:
// there the descent goes to that child without a test. The rest of the way is
// insertTriangleAt's.
MeshOctree::InsertResult MeshOctree::insertTriangleBelow(std::uint32_t node, double minCell,
                                                         const double origin[3], double edge,
                                                         const TriangleBox& t) {
    double leaf = 0;
    const int steps = gridStepsBelow(minCell, edge, &leaf);
    std::int64_t lo[3];
    std::int64_t hi[3];
    bool clear = steps < kMostGridSteps && clearOfGrid(t, origin, edge, leaf, steps, lo, hi);
    double cur[3] = {origin[0], origin[1], origin[2]};
    for (int shift = steps - 1; clear && !(minCell > edge); --shift) {
        const int k = childOfClearBox(lo, hi, shift);
        if (k < 0)
            break;
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone)
            child = makeChild(node, k, 0);
        nodes_[node].flags &= std::uint16_t(~kLeafBit);
        if (child == kNone)
            return InsertResult::OutOfMemory;
        stepToChild(cur, edge, k);
        node = child;
    }
    return insertTriangleAt(node, minCell, cur, edge, t);
}

MeshOctree::InsertResult MeshOctree::insertTriangleAt(std::uint32_t node, double minCell, const double origin[3],
                                                      double edge, const TriangleBox& t) {
    if (minCell > edge && nodes_[node].isLeaf()) {
        if (!addTriangle(node, t.t))
            return InsertResult::OutOfMemory;
        if (nodes_[node].triangles.count > nodes_[node].splitCount() && nodes_[node].level() < kMaxSplitLevel)
            splitNode(node, origin, edge); // a refused or failed split keeps the leaf whole
        return InsertResult::Stored;
    }
    bool stored = false;
    bool failed = false;
    forEachChildReached(t, origin, edge, [&](int k, const double o[3], double half) {
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, 0);
            if (child == kNone) {
                failed = true;
                return;
            }
        }
        switch (insertTriangleAt(child, minCell, o, half, t)) {
        case InsertResult::Stored:
            stored = true;
            break;
        case InsertResult::OutOfMemory:
            failed = true;
            break;
        case InsertResult::Outside:
            break;
        }
    });
    nodes_[node].flags &= std::uint16_t(~kLeafBit);
    if (failed)
        return InsertResult::OutOfMemory;
    return stored ? InsertResult::Stored : InsertResult::Outside;
}

bool MeshOctree::splitPays(const std::uint32_t perChild[8], std::uint32_t n) {
    std::uint64_t most = 0;
    std::uint64_t sum = 0;
    for (int k = 0; k < 8; ++k) {
        most = std::max<std::uint64_t>(most, perChild[k]);
        sum += perChild[k];
    }
    const std::uint64_t all = n;
    if (sum * 2 > all * 5)
        return false;
    return most * 8 <= all * 7 || sum * 2 <= all * 3;
}

// Waiting until the count doubles keeps the cost of asking again in proportion
// to the triangles filed.
void MeshOctree::refuseSplit(std::uint32_t node) {
    nodes_[node].setRefusedSplits(std::min(nodes_[node].refusedSplits() + 1, 24));
}

bool MeshOctree::splitNode(std::uint32_t node, const double origin[3], double edge) {
    const List tris = nodes_[node].triangles;
    const List verts = nodes_[node].vertices;
    // The children each triangle reaches (bit k: child k), found once for the
    // decision and for the split itself.
    std::vector<std::uint8_t> reach;
    try {
        reach.reserve(tris.count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // A leaf of mostly triangles far longer than itself does not split (see
    // kSpanningEdges): told before the children are tested, by a count that
    // stops once it has a majority either way.
    std::uint64_t spanning = 0, shorter = 0;
    const double longSide = kSpanningEdges * edge;
    listForEach(triangleChunks_, tris, [&](StlTriangle* t) {
        const TriangleBox box(t);
        if (box.mx[0] - box.mn[0] > longSide || box.mx[1] - box.mn[1] > longSide ||
            box.mx[2] - box.mn[2] > longSide)
            ++spanning;
        else
            ++shorter;
        return 2 * spanning > tris.count || 2 * shorter >= tris.count;
    });
    if (2 * spanning > tris.count) {
        refuseSplit(node);
        return false;
    }
    std::uint32_t perChild[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const double half = edge * 0.5;
    listForEach(triangleChunks_, tris, [&](StlTriangle* t) {
        const TriangleBox box(t);
        std::uint8_t bits = 0;
        for (int k = 0; k < 8; ++k) {
            double o[3];
            childOrigin(origin, edge, k, o);
            if (box.overlaps(o, half)) {
                bits = std::uint8_t(bits | (1u << k));
                ++perChild[k];
            }
        }
        reach.push_back(bits);
        return false;
    });
    if (!splitPays(perChild, tris.count)) {
        refuseSplit(node);
        return false;
    }
    // A leaf has no children, so every node made here is new and sits at the end
    // of the node vector: a failure can undo the split completely.
    const std::size_t firstNew = nodes_.size();
    const int level = nodes_[node].level() + 1;
    bool ok = true;
    for (int k = 0; k < 8 && ok; ++k) {
        double o[3];
        childOrigin(origin, edge, k, o);
        std::size_t i = 0;
        listForEach(triangleChunks_, tris, [&](StlTriangle* t) {
            if (!(reach[i++] & (1u << k)))
                return false;
            std::uint32_t child = nodes_[node].children[k];
            if (child == kNone)
                child = makeChild(node, k, level);
            if (child == kNone || !addTriangle(child, t)) {
                ok = false;
                return true;
            }
            return false;
        });
        if (!ok)
            break;
        listForEach(vertexChunks_, verts, [&](StlVertex* v) {
            if (!cubeHolds(o, half, v->pos.data()))
                return false;
            std::uint32_t child = nodes_[node].children[k];
            if (child == kNone)
                child = makeChild(node, k, level);
            if (child == kNone || !addVertex(child, v)) {
                ok = false;
                return true;
            }
            return false;
        });
    }
    if (!ok) {
        for (std::size_t i = firstNew; i < nodes_.size(); ++i) {
            listFree(triangleChunks_, freeTriangleChunks_, nodes_[i].triangles);
            listFree(vertexChunks_, freeVertexChunks_, nodes_[i].vertices);
        }
        nodes_.resize(firstNew);
        for (std::uint32_t& c : nodes_[node].children)
            c = kNone;
        nodes_[node].flags |= kLeafBit;
        return false;
    }
    listFree(triangleChunks_, freeTriangleChunks_, nodes_[node].triangles);
    listFree(vertexChunks_, freeVertexChunks_, nodes_[node].vertices);
    nodes_[node].flags &= std::uint16_t(~kLeafBit);
    return true;
}

StlVertex* MeshOctree::findOrCreateVertex(double minCell, const double origin[3], double edge, const double p[3],
                                          bool* found, const std::function<StlVertex*(const double p[3])>& makeVertex,
                                          bool* outOfMemory) {
    if (outOfMemory)
        *outOfMemory = false;
    if (!ensureRoot()) {
        if (outOfMemory)
            *outOfMemory = true;
        return nullptr;
    }
    return findOrCreateAt(0, minCell, origin, edge, p, found, makeVertex, outOfMemory);
}

StlVertex* MeshOctree::findOrCreateAt(std::uint32_t node, double minCell, const double origin[3], double edge,
                                      const double p[3], bool* found,
                                      const std::function<StlVertex*(const double p[3])>& makeVertex,
                                      bool* outOfMemory) {
    if (nodes_[node].isLeaf() && minCell > edge) {
        const Vector3D q(p);
        StlVertex* hit = nullptr;
        listForEach(vertexChunks_, nodes_[node].vertices, [&](StlVertex* v) {
            if (v->pos == q) {
                hit = v;
                return true;
            }
            return false;
        });
        if (hit) {
            *found = true;
            return hit;
        }
        *found = false;
        StlVertex* v = makeVertex(p);
        if (v && !addVertex(node, v) && outOfMemory)
            *outOfMemory = true;
        return v;
    }
    const double half = edge * 0.5;
    for (int k = 0; k < 8; ++k) {
        double o[3];
        childOrigin(origin, edge, k, o);
        if (!cubeHolds(o, half, p))
            continue;
        std::uint32_t child = nodes_[node].children[k];
        if (child == kNone) {
            child = makeChild(node, k, 0);
            if (child == kNone) {
                if (outOfMemory)
                    *outOfMemory = true;
                return nullptr;
            }
        }
        if (StlVertex* v = findOrCreateAt(child, minCell, o, half, p, found, makeVertex, outOfMemory))
            return v;
        if (outOfMemory && *outOfMemory)
            return nullptr;
    }
    return nullptr;
}

// ---- building from nothing ------------------------------------------------------------------

namespace {

// The levels above the cubes that a parallel build gives to its threads (its
// cells): at most three, so 512 cells at most.
constexpr int kCellLevels = 3;
constexpr std::uint8_t kReached = 1;  // some record passes through the cube
constexpr std::uint8_t kByVertex = 2; // a vertex does

// isFiniteVector inline, without a branch a coordinate: p - p is 0 exactly
// for a finite coordinate and NaN for any other.
inline bool finitePoint(const double p[3]) { return (p[0] - p[0]) + (p[1] - p[1]) + (p[2] - p[2]) == 0.0; }

bool finiteCorners(const StlTriangle* t) {
    return finitePoint(t->vertices[0]->pos.data()) && finitePoint(t->vertices[1]->pos.data()) &&
           finitePoint(t->vertices[2]->pos.data());
}

// The positions of a mesh's vertices lie all over memory and the build would wait
// for each one in turn: records are asked for this far ahead of their insertion.
constexpr std::size_t kPrefetchDistance = 8;

inline void prefetchPosition(const StlVertex* v) { __builtin_prefetch(v->pos.data()); }

inline void prefetchCorners(const StlTriangle* t) {
    for (const StlVertex* v : t->vertices)
        prefetchPosition(v);
}

// For the triangle at position j of a list of n (at(i): the triangle at i): the
// corners of the one kPrefetchDistance ahead, and the record of the one twice
// as far ahead, whose corner references the former step then reads without
// waiting (a cell's triangles lie apart in memory).
template <typename At>
inline void prefetchTrianglesAhead(std::size_t j, std::size_t n, const At& at) {
    if (j + 2 * kPrefetchDistance < n)
        __builtin_prefetch(&at(j + 2 * kPrefetchDistance)->vertices);
    if (j + kPrefetchDistance < n)
        prefetchCorners(at(j + kPrefetchDistance));
}

// How often a build asks whether to stop: every this many records.
constexpr std::size_t kCancelStride = 4096;

inline bool raised(const ProgressMonitor* stop) {
    return stop != nullptr && stop->stopRequested();
}

// The child digits (most significant first) from a cube down to the cube
// `digits` levels below it whose index (on each axis, in cubes of that level,
// counted from the first's corner) is at.
inline std::uint32_t keyOfCube(const std::int64_t at[3], int digits) {
    if (digits <= 10) {
        // The low `digits` bits of each index, interleaved x, y, z from the
        // most significant digit down: the same key as digit by digit.
        const std::uint32_t mask = (std::uint32_t(1) << digits) - 1;
        auto spread = [mask](std::int64_t a) {
            std::uint32_t v = static_cast<std::uint32_t>(a) & mask;
            v = (v | (v << 16)) & 0x030000FFu;
            v = (v | (v << 8)) & 0x0300F00Fu;
            v = (v | (v << 4)) & 0x030C30C3u;
            v = (v | (v << 2)) & 0x09249249u;
            return v;
        };
        return (spread(at[0]) << 2) | (spread(at[1]) << 1) | spread(at[2]);
    }
    std::uint32_t key = 0;
    for (int d = digits - 1; d >= 0; --d)
        key = key * 8 + static_cast<std::uint32_t>((((at[0] >> d) & 1) << 2) | (((at[1] >> d) & 1) << 1) |
                                                   ((at[2] >> d) & 1));
    return key;
}

// Corner and edge of the cube of the given level whose child digits from the
// root (most significant first) make up slot.
void cubeOfSlot(const double origin[3], double edge, int level, std::size_t slot, double o[3], double* e) {
    std::copy(origin, origin + 3, o);
    *e = edge;
    for (int l = level - 1; l >= 0; --l) {
        double child[3];
        childOrigin(o, *e, static_cast<int>((slot >> (3 * l)) & 7), child);
        std::copy(child, child + 3, o);
        *e *= 0.5;
    }
}

// Whether a build files t (see TriangleFiling).
bool filed(const StlTriangle* t, TriangleFiling filing) {
    return filing == TriangleFiling::ByShape ? MeshOctree::filedByShape(t) : !t->isDeleted();
}

} // namespace

bool MeshOctree::filedByShape(const StlTriangle* t) {
    const Vector3D& n = t->normal;
    const auto& v = t->vertices;
    return (n.x != 0.0 || n.y != 0.0 || n.z != 0.0) && v[0] != v[1] && v[1] != v[2] && v[2] != v[0];
}

bool MeshOctree::build(double minCell, const double origin[3], double edge,
                       const RefArray<StlVertex>& vertices, const RefArray<StlTriangle>& triangles,
                       unsigned threads, TriangleFiling filing, const ProgressMonitor* stop) {
    // The cubes above the cells must only pass records on: none may be below minCell.
    int levels = 0;
    if (finiteCube(minCell, origin, edge)) {
        for (double e = edge; levels < kCellLevels && !(minCell > e); e *= 0.5)
            ++levels;
    }
    // On one thread the cells' build pays for its passes from about this many
    // triangles on: it reads each triangle once and files every leaf's list at
    // once, where insertion reads it twice and appends entry by entry.
    constexpr std::size_t kCellBuildAlone = 100000;
    if ((threads > 1 || triangles.size() >= kCellBuildAlone) && levels > 0 && nodes_.empty() &&
        memoryBudget_ == std::numeric_limits<std::size_t>::max() && vertices.size() < kNone &&
        triangles.size() < kNone)
        return buildByCells(minCell, origin, edge, levels, vertices, triangles, threads, filing, stop);
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        if (i % kCancelStride == 0 && raised(stop))
            return false;
        if (i + kPrefetchDistance < vertices.size())
            prefetchPosition(vertices[i + kPrefetchDistance]);
        if (insertVertex(minCell, origin, edge, vertices[i]) == InsertResult::OutOfMemory)
            return false;
    }
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        if (i % kCancelStride == 0 && raised(stop))
            return false;
        prefetchTrianglesAhead(i, triangles.size(), [&](std::size_t at) { return triangles[at]; });
        StlTriangle* t = triangles[i];
        if (filed(t, filing) && insertTriangle(minCell, origin, edge, t) == InsertResult::OutOfMemory)
            return false;
    }
    // Grown one record at a time, the pools hold up to twice what they use: a
    // scene of many small objects would keep that room for nothing.
    nodes_.shrink_to_fit();
    triangleChunks_.shrink_to_fit();
    vertexChunks_.shrink_to_fit();
    return true;
}

// Every record passes through the cubes above the cells, none of which is below
// minCell, so the cells a record reaches do not depend on the tree. Nor do the
// cubes of the leaf level (the first edge below minCell) it reaches below its
// cell: the descent to them tests geometry only, and a cube of that level is a
// leaf until it splits. What happens there depends only on the records that
// reach the cube, in their order: the vertices, then the triangles, one of which
// may split it once it holds more than the split count.
//
// The build runs in passes over the state below: it routes the records to the
// cells, each thread a contiguous range of them, and notes for each the cubes of
// the leaf level below its cell that it reaches (the triangle's box and corners
// are read once for both); builds the subtree of every cell into storage of its
// own, grouping its records by leaf cube in their order (a stable sort) and
// filing each group at once, or inserting it one by one where a split may come;
// numbers the nodes above the cells and the subtrees behind them in the order of
// their cells; and joins them into the tree. Where the leaf level lies too far
// below the cells for the keys, each cell's records are inserted one by one.
struct MeshOctree::CellBuild {
    // A record filed in a cell, with the cube of the leaf level below the cell
    // that it reaches: its child digits from the cell, most significant first
    // (a triangle is filed once for every such cube it reaches).
    struct Filed {
        std::uint32_t index;
        std::uint32_t leaf;
    };
    // A cube above the leaf level where a descent ends, no child cube taking
    // the record: its digits from the cell and its depth below it.
    struct DeadEnd {
        std::uint32_t key;
        std::uint8_t depth;
        bool byVertex;
    };
    // What one range of records sends to each cell, and which cube of each level
    // (index: its child digits from the root) they pass through.
    // Each on cache lines of its own: each range's thread writes its own.
    struct alignas(64) Routes {
        std::vector<std::vector<Filed>> vertices;
        std::vector<std::vector<Filed>> triangles;
        std::vector<std::vector<DeadEnd>> deadEnds;
        std::vector<std::uint8_t> reached[kCellLevels + 1];
    };

    double minCell;
    const double* origin;
    double edge;
    int levels;
    const RefArray<StlVertex>& vertices;
    const RefArray<StlTriangle>& triangles;
    unsigned threads;
    TriangleFiling filing;
    const ProgressMonitor* stop;
    std::size_t cellCount;
    double cellEdge;    // the edge of the cubes of the cells
    double leafEdge;    // the first edge below minCell
    double perLeaf;     // 1 / leafEdge
    int leafSteps;      // the levels from a cell down to the leaf level
    bool byLeaves;      // whether the leaf keys fit (leafSteps <= kMostLeafSteps)
    double originReach; // the largest magnitude of a coordinate of origin
    // The grids of the cells and of the leaf level from the root's corner:
    // cells a side, and the factors from leaf units to cell units and from
    // length to cell units (powers of two apart, so exact).
    double cellsPerSide;
    double leavesPerSide;
    double toCells;
    double perCell;
    // Triangles whose corners all lie closer to zero than this are taken to
    // meet every cube that holds one of their corners' leaf cells (see
    // LeafDescent).
    double cornerReach;
    std::vector<double> cellOrigins; // the corner of each cell's cube, as the descent reaches it

    std::vector<Routes> routes;                        // one per range of records
    std::vector<std::uint8_t> reached[kCellLevels + 1]; // the ranges' marks joined
    std::vector<std::size_t> cells;                    // the reached cells, heaviest first
    std::vector<MeshOctree> subtrees;                  // by cell
    // Node numbers of the cubes of each level (the cells: their subtree's root),
    // and the first chunk of each cell's subtree in the joined pools.
    std::vector<std::uint32_t> index[kCellLevels + 1];
    std::vector<std::uint32_t> triangleBase;
    std::vector<std::uint32_t> vertexBase;
    std::size_t nodeCount = 0;
    std::size_t triangleChunkCount = 0;
    std::size_t vertexChunkCount = 0;

    // Leaf keys hold three bits a level in 32 bits.
    static constexpr int kMostLeafSteps = 10;
    // The margin of clearOfBothGrids from a line of the leaf grid inside a
    // cell whose index (in leaf edges) has z trailing zero bits, less the
    // rounding: four times the widening (1/10000 of the edge) of the largest
    // cubes with a face on it, those of 2^z leaf edges (the halves of the
    // cubes of the level above). z stops at leafSteps - 1, the cell's halves.
    double leafWidening[kMostLeafSteps + 1];

    CellBuild(double minCell_, const double* origin_, double edge_, int levels_, const RefArray<StlVertex>& v,
              const RefArray<StlTriangle>& t, unsigned threads_, TriangleFiling filing_,
              const ProgressMonitor* stop_)
        : minCell(minCell_), origin(origin_), edge(edge_), levels(levels_), vertices(v), triangles(t),
          threads(threads_), filing(filing_), stop(stop_), cellCount(std::size_t(1) << (3 * levels_)),
          cellEdge(edge_) {
        for (int l = 0; l < levels; ++l)
            cellEdge *= 0.5;
        leafSteps = gridStepsBelow(minCell, cellEdge, &leafEdge);
        perLeaf = 1.0 / leafEdge;
        byLeaves = leafSteps <= kMostLeafSteps;
        originReach = std::max(std::fabs(origin[0]), std::max(std::fabs(origin[1]), std::fabs(origin[2])));
        cellsPerSide = static_cast<double>(std::int64_t(1) << levels);
        leavesPerSide = static_cast<double>(std::int64_t(1) << (levels + leafSteps));
        toCells = std::ldexp(1.0, -leafSteps);
        perCell = perLeaf * toCells; // 1 / cellEdge, to the bit
        for (int z = 0; z <= kMostLeafSteps; ++z)
            leafWidening[z] =
                std::ldexp(cellEdge * 0.0002, std::min(z, leafSteps - 1) + 1 - leafSteps) * perLeaf;
        cornerReach = leafEdge * 1e6 - originReach - 4.0 * edge;
        cornerMargins = bothGridMargins(0.0);
        cellOrigins.resize(3 * cellCount);
        for (std::size_t c = 0; c < cellCount; ++c) {
            double e;
            cubeOfSlot(origin, edge, levels, c, &cellOrigins[3 * c], &e);
        }
    }

    // Marks the cube of every level from the root down to the cell (its
    // coordinates at the cells' level, its key slot) with `marks`. A cell is
    // only ever marked together with every cube above it, so a cell that has
    // the marks already has them all the way up.
    void markCubesDownTo(Routes& out, const std::int64_t cell[3], std::size_t slot,
                         std::uint8_t marks) const {
        if ((out.reached[levels][slot] & marks) == marks)
            return;
        for (int l = 0; l < levels; ++l) {
            const std::int64_t cube[3] = {cell[0] >> (levels - l), cell[1] >> (levels - l), cell[2] >> (levels - l)};
            out.reached[l][keyOfCube(cube, l)] |= marks;
        }
        out.reached[levels][slot] |= marks;
    }
    void routeVertex(Routes& out, std::size_t i) const;
    void routeTriangle(Routes& out, const TriangleBox& box, std::uint32_t i, int level, std::size_t slot,
                       const double o[3], double e) const;
    void fileVertex(Routes& out, std::size_t slot, std::uint32_t i, const double p[3], const double o[3]) const;
    void fileTriangle(Routes& out, std::size_t slot, std::uint32_t i, const TriangleBox& box,
                      const double o[3]) const;
    struct LeafDescent;
    void reachLeaves(Routes& out, std::size_t slot, std::uint32_t i, const LeafDescent& t, const double o[3],
                     double e, int depth, std::uint32_t key, const std::int64_t at[3]) const;
    bool reachLeafCells(Routes& out, std::size_t slot, std::uint32_t i, const LeafDescent& t,
                        const double cellOrigin[3], int split) const;
    void descendInCell(Routes& out, std::size_t slot, std::uint32_t i, LeafDescent& t, const double o[3]) const;
    // The margins of clearOfBothGrids for a box reaching `reach` from zero: of
    // the cells' grid, and the rounding added to the leaf grid's.
    struct GridMargins {
        double cell;
        double rounding;
    };
    GridMargins bothGridMargins(double reach) const;
    GridMargins cornerMargins{}; // bothGridMargins(0): for boxes no farther from zero than origin
    bool clearOfBothGrids(const TriangleBox& box, std::int64_t lo[3], std::int64_t hi[3]) const;
    int clearLevels(const TriangleBox& box, const double o[3], std::int64_t lo[3], std::int64_t hi[3]) const;
    bool routeClearTriangle(Routes& out, const TriangleBox& box, std::uint32_t i) const;
    bool routeRecords();
    void joinReachedMarks();
    void orderCellsByWeight();
    bool buildCellSubtree(std::size_t c);
    bool buildCellByLeaves(std::size_t c);
    void releaseCell(std::size_t c);
    bool buildSubtrees();
    bool numberNodes();
    bool join(MeshOctree& tree);
};

// A vertex goes down the first child that holds it at every level (as
// insertVertexAt does), marking the cubes it passes.
void MeshOctree::CellBuild::routeVertex(Routes& out, std::size_t i) const {
    const double* p = vertices[i]->pos.data();
    if (!finitePoint(p))
        return;
    // A vertex clear of the leaf grid goes down by the leaf cell that holds it
    // (as insertVertexAt from the root does), cells and leaf cube at once.
    std::int64_t at[3];
    if (byLeaves && pointClearOfGrid(p, origin, edge, leafEdge, levels + leafSteps, at)) {
        const std::int64_t mask = (std::int64_t(1) << leafSteps) - 1;
        const std::int64_t leaf[3] = {at[0] & mask, at[1] & mask, at[2] & mask};
        const std::int64_t cell[3] = {at[0] >> leafSteps, at[1] >> leafSteps, at[2] >> leafSteps};
        const std::size_t slot = keyOfCube(cell, levels);
        markCubesDownTo(out, cell, slot, kReached | kByVertex);
        out.vertices[slot].push_back(
            {static_cast<std::uint32_t>(i), keyOfCube(leaf, leafSteps)});
        return;
    }
    double cur[3] = {origin[0], origin[1], origin[2]};
    double e = edge;
    std::size_t slot = 0;
    for (int l = 0;; ++l) {
        out.reached[l][slot] |= kReached | kByVertex;
        if (l == levels) {
            fileVertex(out, slot, static_cast<std::uint32_t>(i), p, cur);
            return;
        }
        double o[3];
        const int k = vertexChild(p, cur, e, o);
        if (k < 0)
            return;
        slot = slot * 8 + static_cast<std::size_t>(k);
        std::copy(o, o + 3, cur);
        e *= 0.5;
    }
}

// A triangle goes down every child it may touch (as insertTriangleAt does).
void MeshOctree::CellBuild::routeTriangle(Routes& out, const TriangleBox& box, std::uint32_t i, int level,
                                          std::size_t slot, const double o[3], double e) const {
    if (level > kCellLevels)
        return; // never: levels is at most kCellLevels
    out.reached[level][slot] |= kReached;
    if (level >= levels) {
        fileTriangle(out, slot, i, box, o);
        return;
    }
    forEachChildReached(box, o, e, [&](int k, const double co[3], double half) {
        routeTriangle(out, box, i, level + 1, slot * 8 + static_cast<std::size_t>(k), co, half);
    });
}

// The leaf cube that insertVertexAt, started at the cell's cube (corner o),
// files the vertex in, or where its descent ends.
void MeshOctree::CellBuild::fileVertex(Routes& out, std::size_t slot, std::uint32_t i, const double p[3],
                                       const double o[3]) const {
    std::uint32_t key = 0;
    if (!byLeaves) {
        out.vertices[slot].push_back({i, key});
        return;
    }
    int depth = 0;
    std::int64_t at[3];
    if (pointClearOfGrid(p, o, cellEdge, leafEdge, leafSteps, at)) {
        out.vertices[slot].push_back({i, keyOfCube(at, leafSteps)});
        return;
    }
    double cur[3] = {o[0], o[1], o[2]};
    double e = cellEdge;
    for (; depth < leafSteps; ++depth) {
        double next[3];
        const int k = vertexChild(p, cur, e, next);
        if (k < 0) {
            out.deadEnds[slot].push_back({key, static_cast<std::uint8_t>(depth), true});
            return;
        }
        key = key * 8 + static_cast<std::uint32_t>(k);
        std::copy(next, next + 3, cur);
        e *= 0.5;
    }
    out.vertices[slot].push_back({i, key});
}

// A triangle on its way from a cell's cube down to the leaf level, with what
// spares the descent its tests. When its box lies clear of the leaf grid (lo,
// hi: the box's leaf cells, counted from the cell's corner), the box tests of
// forEachChildReached come out as the cells' indices do. And a cube that holds
// the leaf cell of one of its corners holds that corner (to the rounding of the
// cell's index) and, widened by at least 1/10000 of the leaf edge, holds it with
// room far above the margin of TriangleBox::cornerInside when the corners and
// the cube lie within 10^6 leaf edges of zero (cornerReach): overlapsCrossing
// would say it meets the triangle.
struct MeshOctree::CellBuild::LeafDescent {
    explicit LeafDescent(const TriangleBox& b) : box(b) {}
    const TriangleBox& box;
    bool clear = false;
    std::int64_t lo[3];
    std::int64_t hi[3];
    bool cornersKnown = false;
    std::int64_t corner[3][3]; // [corner][axis]

    // Whether a corner's leaf cell lies in the cube with index at (its cells
    // are those whose index shifted right by `shift` is at).
    bool cornerIn(const std::int64_t at[3], int shift) const {
        if (!cornersKnown)
            return false;
        for (const std::int64_t* c : corner)
            if ((c[0] >> shift) == at[0] && (c[1] >> shift) == at[1] && (c[2] >> shift) == at[2])
                return true;
        return false;
    }
};

// The leaf cubes that insertTriangleBelow, started at the cell's cube (corner
// o), files the triangle in: down the levels where its box lies clear of the
// leaf grid within one child, then by the tests.
void MeshOctree::CellBuild::fileTriangle(Routes& out, std::size_t slot, std::uint32_t i, const TriangleBox& box,
                                         const double o[3]) const {
    std::uint32_t key = 0;
    if (!byLeaves) {
        out.triangles[slot].push_back({i, key});
        return;
    }
    LeafDescent t(box);
    t.clear = clearOfGrid(box, o, cellEdge, leafEdge, leafSteps, t.lo, t.hi);
    descendInCell(out, slot, i, t, o);
}

// The rest of fileTriangle, once whether the box lies clear of the leaf grid
// below the cell (t.clear; t.lo, t.hi) is known.
void MeshOctree::CellBuild::descendInCell(Routes& out, std::size_t slot, std::uint32_t i, LeafDescent& t,
                                          const double o[3]) const {
    const TriangleBox& box = t.box;
    std::int64_t lo[3];
    std::int64_t hi[3];
    const int walkable = t.clear ? leafSteps : clearLevels(box, o, lo, hi);
    const std::int64_t* from = t.clear ? t.lo : lo;
    const std::int64_t* to = t.clear ? t.hi : hi;
    // Down the levels where both ends of the box lie in one child: as far as
    // their leaf cells' indices agree in their leading bits.
    int depth = 0;
    if (walkable > 0) {
        const auto differ = static_cast<std::uint64_t>((from[0] ^ to[0]) | (from[1] ^ to[1]) | (from[2] ^ to[2]));
        depth = std::min(walkable, differ == 0 ? leafSteps : leafSteps - (64 - __builtin_clzll(differ)));
    }
    std::int64_t at[3] = {0, 0, 0};
    if (depth > 0) {
        for (int axis = 0; axis < 3; ++axis)
            at[axis] = from[axis] >> (leafSteps - depth);
    }
    const std::uint32_t key = keyOfCube(at, depth);
    if (depth >= leafSteps) {
        out.triangles[slot].push_back({i, key});
        return;
    }
    if (box.reach < cornerReach) {
        const double cells = static_cast<double>(std::int64_t(1) << leafSteps);
        const double* corners[3] = {box.a, box.b, box.c};
        for (int j = 0; j < 3; ++j) {
            for (int axis = 0; axis < 3; ++axis) {
                const double a = (corners[j][axis] - o[axis]) * perLeaf;
                t.corner[j][axis] = a >= 0.0 && a < cells ? static_cast<std::int64_t>(a) : -1;
            }
        }
        t.cornersKnown = true;
    }
    if (t.clear && t.cornersKnown && reachLeafCells(out, slot, i, t, o, depth))
        return;
    double cur[3];
    double e;
    cubeOfSlot(o, cellEdge, depth, key, cur, &e);
    reachLeaves(out, slot, i, t, cur, e, depth, key, at);
}

// reachLeaves for a box clear of the leaf grid, below the cube `split` levels
// under the cell where its leaf cells stop sharing one cube, by the leaf cells
// the box covers (when they are few) instead of level by level. A leaf cell
// goes down every cube above it that the box reaches without lying inside it;
// each is met when it holds a corner's leaf cell (so every cube above a leaf
// cell that holds one is met) and otherwise as overlapsCrossing says. The
// descent to a leaf cell stops at the first cube not met; the cube above it
// ends a descent when no leaf cell below it goes further. False (nothing
// noted) when the box covers too many leaf cells.
bool MeshOctree::CellBuild::reachLeafCells(Routes& out, std::size_t slot, std::uint32_t i, const LeafDescent& t,
                                           const double cellOrigin[3], int split) const {
    constexpr int kMostCells = 8;
    struct Cell {
        std::int64_t at[3];
        int met; // the depth of the last cube above it that the descent meets
    };
    Cell cells[kMostCells];
    int n = 0;
    const std::int64_t count =
        (t.hi[0] - t.lo[0] + 1) * (t.hi[1] - t.lo[1] + 1) * (t.hi[2] - t.lo[2] + 1);
    if (count > kMostCells)
        return false;
    // Two cells side by side, each with a corner's leaf cell (as they mostly
    // are): both are met.
    if (count == 2 && t.cornerIn(t.lo, 0) && t.cornerIn(t.hi, 0)) {
        std::vector<Filed>& filed = out.triangles[slot];
        filed.push_back({i, keyOfCube(t.lo, leafSteps)});
        filed.push_back({i, keyOfCube(t.hi, leafSteps)});
        return true;
    }
    for (std::int64_t x = t.lo[0]; x <= t.hi[0]; ++x)
        for (std::int64_t y = t.lo[1]; y <= t.hi[1]; ++y)
            for (std::int64_t z = t.lo[2]; z <= t.hi[2]; ++z)
                cells[n++] = {{x, y, z}, leafSteps};
    for (int j = 0; j < n; ++j) {
        Cell& cell = cells[j];
        if (t.cornerIn(cell.at, 0))
            continue;
        for (int depth = split + 1; depth <= leafSteps; ++depth) {
            const int shift = leafSteps - depth;
            const std::int64_t cube[3] = {cell.at[0] >> shift, cell.at[1] >> shift, cell.at[2] >> shift};
            if (t.cornerIn(cube, shift))
                continue;
            double o[3];
            double e;
            cubeOfSlot(cellOrigin, cellEdge, depth, keyOfCube(cube, depth), o, &e);
            if (!t.box.meets(o, e)) {
                cell.met = depth - 1;
                break;
            }
        }
    }
    for (int j = 0; j < n; ++j) {
        const Cell& cell = cells[j];
        if (cell.met == leafSteps) {
            out.triangles[slot].push_back({i, keyOfCube(cell.at, leafSteps)});
            continue;
        }
        const int shift = leafSteps - cell.met;
        bool deeper = false;
        for (int m = 0; m < n && !deeper; ++m)
            deeper = cells[m].met > cell.met && (cells[m].at[0] >> shift) == (cell.at[0] >> shift) &&
                     (cells[m].at[1] >> shift) == (cell.at[1] >> shift) &&
                     (cells[m].at[2] >> shift) == (cell.at[2] >> shift);
        if (!deeper) {
            const std::int64_t cube[3] = {cell.at[0] >> shift, cell.at[1] >> shift, cell.at[2] >> shift};
            out.deadEnds[slot].push_back({keyOfCube(cube, cell.met), static_cast<std::uint8_t>(cell.met), false});
        }
    }
    return true;
}

// insertTriangleAt's descent from the cube (o, e), `depth` levels below the
// cell with digits key and index at (on each axis, in cubes of its level), to
// the leaf level, noting where it ends short of it.
void MeshOctree::CellBuild::reachLeaves(Routes& out, std::size_t slot, std::uint32_t i, const LeafDescent& t,
                                        const double o[3], double e, int depth, std::uint32_t key,
                                        const std::int64_t at[3]) const {
    if (depth >= leafSteps) {
        out.triangles[slot].push_back({i, key});
        return;
    }
    const int shift = leafSteps - depth - 1; // from leaf cells to the children's cubes
    bool any = false;
    // The leaf cells of child k (its cell index at the children's level).
    auto childAt = [&](int k, std::int64_t child[3]) {
        child[0] = 2 * at[0] + ((k >> 2) & 1);
        child[1] = 2 * at[1] + ((k >> 1) & 1);
        child[2] = 2 * at[2] + (k & 1);
    };
    auto reached = [&](int k, const double co[3], double half) {
        any = true;
        std::int64_t child[3];
        childAt(k, child);
        reachLeaves(out, slot, i, t, co, half, depth + 1, key * 8 + static_cast<std::uint32_t>(k), child);
    };
    if (!t.clear) {
        forEachChildReached(t.box, o, e, reached, [&](int k, const double co[3], double half) {
            std::int64_t child[3];
            childAt(k, child);
            return t.cornerIn(child, shift) || t.box.overlapsCrossing(co, half);
        });
    } else {
        // The children the box reaches, in child order; one that holds the
        // whole box is met without a test.
        std::int64_t first[3];
        std::int64_t last[3];
        bool inside = true;
        for (int axis = 0; axis < 3; ++axis) {
            first[axis] = std::max(2 * at[axis], t.lo[axis] >> shift);
            last[axis] = std::min(2 * at[axis] + 1, t.hi[axis] >> shift);
            inside = inside && (t.lo[axis] >> shift) == (t.hi[axis] >> shift);
        }
        const double half = e * 0.5;
        for (std::int64_t x = first[0]; x <= last[0]; ++x) {
            for (std::int64_t y = first[1]; y <= last[1]; ++y) {
                for (std::int64_t z = first[2]; z <= last[2]; ++z) {
                    const std::int64_t child[3] = {x, y, z};
                    const int k = static_cast<int>(((x - 2 * at[0]) * 2 + (y - 2 * at[1])) * 2 + (z - 2 * at[2]));
                    double co[3];
                    childOrigin(o, e, k, co);
                    if (inside || t.cornerIn(child, shift) || t.box.overlapsCrossing(co, half))
                        reached(k, co, half);
                }
            }
        }
    }
    if (!any)
        out.deadEnds[slot].push_back({key, static_cast<std::uint8_t>(depth), false});
}

// For a box that is not clear of the leaf grid below the cell (corner o): the
// levels below the cell down which the descent goes by the box's leaf cells
// (lo, hi): those whose children's faces lie on lines of the leaf grid that
// every box coordinate keeps clearOfGrid's margin from (a line of the finest
// level bounds only the leaf cubes; one of the next, those and the cubes above
// them; and so on).
int MeshOctree::CellBuild::clearLevels(const TriangleBox& box, const double o[3], std::int64_t lo[3],
                                       std::int64_t hi[3]) const {
    if (leafSteps <= 0)
        return 0;
    const double far = std::max(box.reach, std::max(std::fabs(o[0]), std::max(std::fabs(o[1]), std::fabs(o[2]))));
    const double cells = static_cast<double>(std::int64_t(1) << leafSteps);
    const double margin = gridMargin(cellEdge * 0.0002, far, cellEdge, perLeaf, cells);
    int clearDepth = leafSteps + 1; // the shallowest level whose cubes' faces the box comes near
    for (int k = 0; k < 3; ++k) {
        for (int end = 0; end < 2; ++end) {
            const double a = ((end ? box.mx[k] : box.mn[k]) - o[k]) * perLeaf;
            if (!(a > margin && a < cells - margin))
                return 0; // near or past the cell's faces
            (end ? hi : lo)[k] = static_cast<std::int64_t>(a);
            const double line = static_cast<double>(static_cast<std::int64_t>(a + 0.5));
            if (std::fabs(a - line) <= margin) {
                const auto j = static_cast<std::uint64_t>(line);
                clearDepth = std::min(clearDepth, leafSteps - __builtin_ctzll(j));
            }
        }
    }
    return clearDepth - 1;
}

MeshOctree::CellBuild::GridMargins MeshOctree::CellBuild::bothGridMargins(double reach) const {
    const double far = std::max(reach, originReach);
    return {gridMargin(edge * 0.0002, far, edge, perCell, cellsPerSide),
            (1e-12 * (far + edge + 2.0 * cellEdge) + 1e-14 * (far + 2.0 * edge)) * perLeaf +
                reciprocalSlack(leavesPerSide)};
}

// Whether the triangle's box lies clear of the grid of the cells as
// clearOfGrid from the root finds it (the same products and margin) and clear
// of the leaf grid as clearOfGrid from a cell's cube would find it: with that
// cube's margin (its corner lies at most `edge` farther from zero than the
// root's) widened by far more than the rounding of the cube's corner and of the
// coordinates taken from the root's corner instead. lo and hi receive the
// box's leaf cells, counted from the root's corner.
//
// The widening in that margin is the one of the cell's halves, the largest
// cubes below the cell. A line of the leaf grid inside the cell bounds only
// the cubes of its level and the smaller ones below: its margin takes the
// widening of its own level's cubes (leafWidening), which spares the descent
// most boxes that merely come near a line of the finest levels.
bool MeshOctree::CellBuild::clearOfBothGrids(const TriangleBox& box, std::int64_t lo[3],
                                             std::int64_t hi[3]) const {
    if (leafSteps <= 0)
        return false;
    // Most boxes lie nearer zero than the root's corner: their margins are
    // those of the corner, worked out once.
    const GridMargins margins = box.reach <= originReach ? cornerMargins : bothGridMargins(box.reach);
    const double cellMargin = margins.cell;
    const double rounding = margins.rounding;
    const std::int64_t inCell = (std::int64_t(1) << leafSteps) - 1;
    // The margin of the leaf grid's line j.
    auto lineMargin = [&](std::int64_t j) {
        const int level = (j & inCell) == 0 ? leafSteps - 1 : __builtin_ctzll(static_cast<std::uint64_t>(j));
        return leafWidening[level] + rounding;
    };
    // The largest of those margins, which most coordinates keep from both
    // lines round them.
    const double widest = leafWidening[leafSteps - 1] + rounding;
    for (int k = 0; k < 3; ++k) {
        for (int end = 0; end < 2; ++end) {
            const double a = ((end ? box.mx[k] : box.mn[k]) - origin[k]) * perLeaf;
            if (!(a >= 0.0 && a < leavesPerSide))
                return false;
            // a >= 0: the conversion floors it.
            const auto i = static_cast<std::int64_t>(a);
            const double fa = static_cast<double>(i);
            const double below = a - fa;
            const double above = fa + 1.0 - a;
            std::int64_t cell;
            const bool clearBelow = below > widest || below > lineMargin(i);
            const bool clearAbove = above > widest || above > lineMargin(i + 1);
            if (!clearBelow || !clearAbove)
                return false;
            // A leaf cell with others of its cell on both sides lies a leaf
            // edge (toCells) or more from the cell's walls.
            const std::int64_t inside = i & inCell;
            if ((inside == 0 || inside == inCell || cellMargin >= toCells) &&
                !clearCellOf(a * toCells, cellMargin, cellsPerSide, &cell))
                return false;
            (end ? hi : lo)[k] = i;
        }
    }
    return true;
}

// A triangle whose box lies clear of both grids within one cell goes to that
// cell and on below it without a second look at the grid. False (nothing
// noted) for any other.
bool MeshOctree::CellBuild::routeClearTriangle(Routes& out, const TriangleBox& box, std::uint32_t i) const {
    std::int64_t lo[3];
    std::int64_t hi[3];
    if (!byLeaves || !clearOfBothGrids(box, lo, hi))
        return false;
    const std::int64_t cell[3] = {lo[0] >> leafSteps, lo[1] >> leafSteps, lo[2] >> leafSteps};
    for (int k = 0; k < 3; ++k)
        if ((hi[k] >> leafSteps) != cell[k])
            return false;
    const std::size_t slot = keyOfCube(cell, levels);
    markCubesDownTo(out, cell, slot, kReached);
    LeafDescent t(box);
    t.clear = true;
    const std::int64_t mask = (std::int64_t(1) << leafSteps) - 1;
    for (int k = 0; k < 3; ++k) {
        t.lo[k] = lo[k] & mask;
        t.hi[k] = hi[k] & mask;
    }
    descendInCell(out, slot, i, t, &cellOrigins[3 * slot]);
    return true;
}

// Pass 1: each thread routes one contiguous range of the vertices and of the
// triangles to the cells, in record order.
bool MeshOctree::CellBuild::routeRecords() {
    const unsigned ranges = threads;
    routes.resize(ranges);
    std::atomic<bool> failed{false};
    forEachPiece(threads, ranges, [&](std::size_t r, unsigned) {
        try {
            Routes& out = routes[r];
            out.vertices.resize(cellCount);
            out.triangles.resize(cellCount);
            out.deadEnds.resize(cellCount);
            for (int l = 0; l <= levels; ++l)
                out.reached[l].assign(std::size_t(1) << (3 * l), 0);
            const std::size_t vEnd = vertices.size() * (r + 1) / ranges;
            for (std::size_t i = vertices.size() * r / ranges; i < vEnd; ++i) {
                if (i % kCancelStride == 0 && raised(stop)) {
                    failed = true;
                    return;
                }
                if (i + kPrefetchDistance < vEnd)
                    prefetchPosition(vertices[i + kPrefetchDistance]);
                routeVertex(out, i);
            }
            const std::size_t tEnd = triangles.size() * (r + 1) / ranges;
            for (std::size_t i = triangles.size() * r / ranges; i < tEnd; ++i) {
                if (i % kCancelStride == 0 && raised(stop)) {
                    failed = true;
                    return;
                }
                prefetchTrianglesAhead(i, tEnd, [&](std::size_t at) { return triangles[at]; });
                StlTriangle* t = triangles[i];
                if (!filed(t, filing) || !finiteCorners(t))
                    continue;
                const TriangleBox box(t);
                if (routeClearTriangle(out, box, static_cast<std::uint32_t>(i)))
                    continue;
                std::int64_t lo[3];
                std::int64_t hi[3];
                // Down the one child of every level that the box lies in (the
                // descent would take that one child without a test), then the
                // way the descent goes from the first cube whose children
                // share the box.
                std::size_t slot = 0;
                double cur[3] = {origin[0], origin[1], origin[2]};
                double e = edge;
                int l = 0;
                if (clearOfGrid(box, origin, edge, cellEdge, levels, lo, hi)) {
                    for (; l < levels; ++l) {
                        const int k = childOfClearBox(lo, hi, levels - 1 - l);
                        if (k < 0)
                            break;
                        out.reached[l][slot] |= kReached;
                        slot = slot * 8 + static_cast<std::size_t>(k);
                        stepToChild(cur, e, k);
                    }
                    if (l == levels) {
                        out.reached[l][slot] |= kReached;
                        fileTriangle(out, slot, static_cast<std::uint32_t>(i), box, cur);
                        continue;
                    }
                }
                routeTriangle(out, box, static_cast<std::uint32_t>(i), l, slot, cur, e);
            }
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    return !failed;
}

// Pass 2: the cubes that any range reached.
void MeshOctree::CellBuild::joinReachedMarks() {
    for (int l = 0; l <= levels; ++l) {
        reached[l] = std::move(routes[0].reached[l]);
        for (std::size_t r = 1; r < routes.size(); ++r)
            for (std::size_t i = 0; i < reached[l].size(); ++i)
                reached[l][i] |= routes[r].reached[l][i];
    }
}

// Pass 3: the reached cells, largest first so that no thread is left with a big
// one at the end.
void MeshOctree::CellBuild::orderCellsByWeight() {
    std::vector<std::size_t> weight(cellCount, 0);
    for (std::size_t c = 0; c < cellCount; ++c) {
        if (!reached[levels][c])
            continue;
        cells.push_back(c);
        for (const Routes& r : routes)
            weight[c] += r.vertices[c].size() + 2 * r.triangles[c].size();
    }
    std::stable_sort(cells.begin(), cells.end(), [&](std::size_t a, std::size_t b) { return weight[a] > weight[b]; });
}

// The subtree of cell c: its vertices, then its triangles, each in record order
// (the ranges are in record order), inserted below the cell's cube.
bool MeshOctree::CellBuild::buildCellSubtree(std::size_t c) {
    MeshOctree& sub = subtrees[c];
    const double* o = &cellOrigins[3 * c];
    const double e = cellEdge;
    // Room for a typical surface mesh's subtree (a nine-node, four-chunk share
    // per triangle), so that the pools seldom move as they grow.
    std::size_t cellVertices = 0;
    std::size_t cellTriangles = 0;
    for (const Routes& r : routes) {
        cellVertices += r.vertices[c].size();
        cellTriangles += r.triangles[c].size();
    }
    sub.nodes_.reserve(cellTriangles / 8 + 1);
    sub.triangleChunks_.reserve(cellTriangles / 4 + 1);
    sub.vertexChunks_.reserve(cellVertices / 4 + 1);
    sub.nodes_.push_back(kNewNode);
    // Vertices go in first, so a cube that a vertex reaches was made by one.
    sub.nodes_[0].setLevel((reached[levels][c] & kByVertex) ? levels : 0);
    for (const Routes& r : routes) {
        const std::vector<Filed>& list = r.vertices[c];
        for (std::size_t j = 0; j < list.size(); ++j) {
            if (j + kPrefetchDistance < list.size())
                prefetchPosition(vertices[list[j + kPrefetchDistance].index]);
            if (sub.insertVertexAt(0, minCell, o, e, vertices[list[j].index]) == InsertResult::OutOfMemory)
                return false;
        }
    }
    for (const Routes& r : routes) {
        const std::vector<Filed>& list = r.triangles[c];
        for (std::size_t j = 0; j < list.size(); ++j) {
            if (j % kCancelStride == 0 && raised(stop))
                return false;
            prefetchTrianglesAhead(j, list.size(), [&](std::size_t at) { return triangles[list[at].index]; });
            if (sub.insertTriangleBelow(0, minCell, o, e, TriangleBox(triangles[list[j].index])) ==
                InsertResult::OutOfMemory)
                return false;
        }
    }
    releaseCell(c);
    return true;
}

namespace {

// Sorts records by their leaf key (its low `bits` bits), keeping the order of
// records with the same key: a radix sort, scratch its room.
template <typename Filed>
void sortByLeaf(std::vector<Filed>& items, std::vector<Filed>& scratch, int bits) {
    constexpr int kDigitBits = 11;
    constexpr std::uint32_t kDigits = 1u << kDigitBits;
    scratch.resize(items.size());
    std::vector<std::uint32_t> start(kDigits + 1);
    for (int shift = 0; shift < bits; shift += kDigitBits) {
        std::fill(start.begin(), start.end(), 0u);
        for (const Filed& f : items)
            ++start[((f.leaf >> shift) & (kDigits - 1)) + 1];
        if (std::find(start.begin(), start.end(), static_cast<std::uint32_t>(items.size())) != start.end())
            continue; // one digit for all: already in order
        for (std::uint32_t d = 0; d < kDigits; ++d)
            start[d + 1] += start[d];
        for (const Filed& f : items)
            scratch[start[(f.leaf >> shift) & (kDigits - 1)]++] = f;
        items.swap(scratch);
    }
}

// Calls f(begin, end) for every run of records with the same leaf key.
template <typename Filed, typename F>
void forEachLeafRun(const std::vector<Filed>& items, F&& f) {
    for (std::size_t b = 0; b < items.size();) {
        std::size_t e = b + 1;
        while (e < items.size() && items[e].leaf == items[b].leaf)
            ++e;
        f(b, e);
        b = e;
    }
}

} // namespace

// The subtree of cell c from the leaf cubes its records reach: the cubes that
// vertices reach made first (their levels are the descent's), then the others;
// every leaf's vertices, then its triangles filed at once in record order. A
// leaf that gets more triangles than the split count takes them one by one,
// splitting as insertion would.
bool MeshOctree::CellBuild::buildCellByLeaves(std::size_t c) {
    MeshOctree& sub = subtrees[c];
    std::vector<Filed> cellVertices;
    std::vector<Filed> cellTriangles;
    std::vector<DeadEnd> ends;
    {
        std::size_t nv = 0;
        std::size_t nt = 0;
        std::size_t ne = 0;
        for (const Routes& r : routes) {
            nv += r.vertices[c].size();
            nt += r.triangles[c].size();
            ne += r.deadEnds[c].size();
        }
        cellVertices.reserve(nv);
        cellTriangles.reserve(nt);
        ends.reserve(ne);
        for (const Routes& r : routes) {
            cellVertices.insert(cellVertices.end(), r.vertices[c].begin(), r.vertices[c].end());
            cellTriangles.insert(cellTriangles.end(), r.triangles[c].begin(), r.triangles[c].end());
            ends.insert(ends.end(), r.deadEnds[c].begin(), r.deadEnds[c].end());
        }
    }
    releaseCell(c);
    {
        std::vector<Filed> scratch;
        sortByLeaf(cellVertices, scratch, 3 * leafSteps);
        sortByLeaf(cellTriangles, scratch, 3 * leafSteps);
    }
    if (raised(stop))
        return false;
    sub.nodes_.push_back(kNewNode);
    sub.nodes_[0].setLevel((reached[levels][c] & kByVertex) ? levels : 0);
    // The leaf cubes: (node, first record, end) of each run.
    struct Run {
        std::uint32_t node;
        std::size_t begin;
        std::size_t end;
    };
    std::vector<Run> vertexRuns;
    std::vector<Run> triangleRuns;
    bool ok = true;
    forEachLeafRun(cellVertices, [&](std::size_t b, std::size_t e) {
        const std::uint32_t node = sub.makePath(cellVertices[b].leaf, leafSteps, true);
        ok = ok && node != kNone;
        vertexRuns.push_back({node, b, e});
    });
    for (bool byVertex : {true, false}) {
        for (const DeadEnd& end : ends) {
            if (end.byVertex != byVertex)
                continue;
            const std::uint32_t node = sub.makePath(end.key, end.depth, byVertex);
            if (node == kNone)
                return false;
            sub.nodes_[node].flags &= std::uint16_t(~kLeafBit);
        }
    }
    forEachLeafRun(cellTriangles, [&](std::size_t b, std::size_t e) {
        const std::uint32_t node = sub.makePath(cellTriangles[b].leaf, leafSteps, false);
        ok = ok && node != kNone;
        triangleRuns.push_back({node, b, e});
    });
    if (!ok)
        return false;
    constexpr std::size_t kVertexChunkItems = kVertexChunk;
    constexpr std::size_t kTriangleChunkItems = kTriangleChunk;
    std::size_t vertexChunks = 0;
    std::size_t triangleChunks = 0;
    for (const Run& run : vertexRuns)
        vertexChunks += (run.end - run.begin + kVertexChunkItems - 1) / kVertexChunkItems;
    for (const Run& run : triangleRuns)
        triangleChunks += (run.end - run.begin + kTriangleChunkItems - 1) / kTriangleChunkItems;
    sub.vertexChunks_.reserve(vertexChunks);
    sub.triangleChunks_.reserve(triangleChunks);
    for (const Run& run : vertexRuns)
        listFill(sub.vertexChunks_, sub.nodes_[run.node].vertices, run.end - run.begin,
                 [&](std::size_t j) { return vertices[cellVertices[run.begin + j].index]; });
    const double* cellOrigin = &cellOrigins[3 * c];
    const double e = cellEdge;
    for (const Run& run : triangleRuns) {
        if (run.end - run.begin <= std::size_t(kSplitThreshold)) {
            listFill(sub.triangleChunks_, sub.nodes_[run.node].triangles, run.end - run.begin,
                     [&](std::size_t j) { return triangles[cellTriangles[run.begin + j].index]; });
            continue;
        }
        double o[3];
        double leaf;
        cubeOfSlot(cellOrigin, e, leafSteps, cellTriangles[run.begin].leaf, o, &leaf);
        for (std::size_t j = run.begin; j < run.end; ++j) {
            const TriangleBox box(triangles[cellTriangles[j].index]);
            if (sub.insertTriangleAt(run.node, minCell, o, leaf, box) == InsertResult::OutOfMemory)
                return false;
        }
    }
    return true;
}

// Frees what the ranges sent to cell c.
void MeshOctree::CellBuild::releaseCell(std::size_t c) {
    for (Routes& r : routes) {
        std::vector<Filed>().swap(r.vertices[c]);
        std::vector<Filed>().swap(r.triangles[c]);
        std::vector<DeadEnd>().swap(r.deadEnds[c]);
    }
}

// Pass 4: the subtrees of the cells, side by side; the routes go afterwards.
bool MeshOctree::CellBuild::buildSubtrees() {
    subtrees.resize(cellCount);
    std::atomic<bool> failed{false};
    forEachPiece(threads, cells.size(), [&](std::size_t j, unsigned) {
        if (raised(stop)) {
            failed = true;
            return;
        }
        try {
            if (!(byLeaves ? buildCellByLeaves(cells[j]) : buildCellSubtree(cells[j])))
                failed = true;
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    });
    routes.clear();
    return !failed;
}

// Pass 5: node numbers, the cubes above the cells level by level, the root
// first, then the subtrees in the order of their cells; and where each
// subtree's chunks start. False when a count overflows the 32-bit numbers.
bool MeshOctree::CellBuild::numberNodes() {
    for (int l = 0; l < levels; ++l) {
        index[l].assign(reached[l].size(), kNone);
        for (std::size_t c = 0; c < reached[l].size(); ++c)
            if (reached[l][c])
                index[l][c] = static_cast<std::uint32_t>(nodeCount++);
    }
    index[levels].assign(cellCount, kNone);
    triangleBase.assign(cellCount, 0);
    vertexBase.assign(cellCount, 0);
    for (std::size_t c = 0; c < cellCount; ++c) {
        if (!reached[levels][c])
            continue;
        index[levels][c] = static_cast<std::uint32_t>(nodeCount);
        triangleBase[c] = static_cast<std::uint32_t>(triangleChunkCount);
        vertexBase[c] = static_cast<std::uint32_t>(vertexChunkCount);
        nodeCount += subtrees[c].nodes_.size();
        triangleChunkCount += subtrees[c].triangleChunks_.size();
        vertexChunkCount += subtrees[c].vertexChunks_.size();
        if (nodeCount >= kNone - 1 || triangleChunkCount >= kNone - 1 || vertexChunkCount >= kNone - 1)
            return false;
    }
    return true;
}

// Pass 6: the tree's storage, the nodes above the cells, and every subtree
// copied behind them with its numbers shifted (one cell per task; each subtree's
// storage is freed on the thread that copied it).
bool MeshOctree::CellBuild::join(MeshOctree& tree) {
    try {
        tree.nodes_.resize(nodeCount);
        tree.triangleChunks_.resize(triangleChunkCount);
        tree.vertexChunks_.resize(vertexChunkCount);
        for (std::size_t c : cells) {
            for (std::uint32_t f : subtrees[c].freeTriangleChunks_)
                tree.freeTriangleChunks_.push_back(f + triangleBase[c]);
            for (std::uint32_t f : subtrees[c].freeVertexChunks_)
                tree.freeVertexChunks_.push_back(f + vertexBase[c]);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int l = 0; l < levels; ++l) {
        for (std::size_t c = 0; c < reached[l].size(); ++c) {
            if (!reached[l][c])
                continue;
            // Every record that reached the cube went on below it, or was refused
            // there: the cube is no leaf, whether or not it has children.
            Node& n = tree.nodes_[index[l][c]];
            n = kNewNode;
            n.flags = 0;
            n.setLevel((reached[l][c] & kByVertex) ? l : 0);
            for (int k = 0; k < 8; ++k)
                n.children[k] = index[l + 1][c * 8 + static_cast<std::size_t>(k)];
        }
    }
    forEachPiece(threads, cells.size(), [&](std::size_t j, unsigned) {
        const std::size_t c = cells[j];
        MeshOctree& sub = subtrees[c];
        const std::uint32_t nodeBase = index[levels][c];
        auto shift = [](std::uint32_t i, std::uint32_t base) { return i == kNone ? kNone : i + base; };
        auto shiftList = [&](List& list, std::uint32_t base) {
            list.head = shift(list.head, base);
            list.tail = shift(list.tail, base);
        };
        for (std::size_t i = 0; i < sub.nodes_.size(); ++i) {
            Node n = sub.nodes_[i];
            for (std::uint32_t& child : n.children)
                child = shift(child, nodeBase);
            shiftList(n.triangles, triangleBase[c]);
            shiftList(n.vertices, vertexBase[c]);
            tree.nodes_[nodeBase + i] = n;
        }
        for (std::size_t i = 0; i < sub.triangleChunks_.size(); ++i) {
            TriangleChunk& chunk = tree.triangleChunks_[triangleBase[c] + i];
            chunk = sub.triangleChunks_[i];
            chunk.next = shift(chunk.next, triangleBase[c]);
        }
        for (std::size_t i = 0; i < sub.vertexChunks_.size(); ++i) {
            VertexChunk& chunk = tree.vertexChunks_[vertexBase[c] + i];
            chunk = sub.vertexChunks_[i];
            chunk.next = shift(chunk.next, vertexBase[c]);
        }
        sub = MeshOctree();
    });
    return true;
}

bool MeshOctree::buildByCells(double minCell, const double origin[3], double edge, int levels,
                              const RefArray<StlVertex>& vertices, const RefArray<StlTriangle>& triangles,
                              unsigned threads, TriangleFiling filing, const ProgressMonitor* stop) {
    CellBuild build(minCell, origin, edge, levels, vertices, triangles, threads, filing, stop);
    if (!build.routeRecords())
        return false;
    build.joinReachedMarks();
    build.orderCellsByWeight();
    return build.buildSubtrees() && build.numberNodes() && build.join(*this);
}

// ---- copy -------------------------------------------------------------------------------

MeshOctree MeshOctree::copyFor(const StlObject& target) const {
    MeshOctree copy(memoryBudget_);
    copy.nodes_.reserve(nodes_.size());
    const RefArray<StlVertex>& targetVertices = target.vertices();
    const std::size_t targetTriangles = target.triangleCount();
    for (const Node& src : nodes_) {
        Node dst = kNewNode;
        std::copy(std::begin(src.children), std::end(src.children), std::begin(dst.children));
        dst.flags = src.flags;
        dst.setLevel(0);
        copy.nodes_.push_back(dst);
    }
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const Node& src = nodes_[i];
        if (!src.isLeaf())
            continue;
        const auto index = static_cast<std::uint32_t>(i);
        listForEach(vertexChunks_, src.vertices, [&](StlVertex* v) {
            if (v->index >= 0 && static_cast<std::size_t>(v->index) < targetVertices.size()) {
                if (!copy.addVertex(index, targetVertices[static_cast<std::size_t>(v->index)]))
                    throw std::bad_alloc();
            }
            return false;
        });
        listForEach(triangleChunks_, src.triangles, [&](StlTriangle* t) {
            if (t->id >= 0 && static_cast<std::size_t>(t->id) < targetTriangles) {
                if (!copy.addTriangle(index, target.triangle(static_cast<std::size_t>(t->id))))
                    throw std::bad_alloc();
            }
            return false;
        });
    }
    return copy;
}

bool MeshOctree::relocatedCopy(const Relocation& relocation, unsigned threads, MeshOctree& out) const {
    MeshOctree copy(memoryBudget_);
    // The pools are sized without a pass over their memory: the pieces below
    // write every chunk that a list holds, where it stands in this tree (the
    // links stay valid: the numbering is the same), and the contents of free
    // chunks are never read.
    copy.triangleChunks_.resize(triangleChunks_.size());
    copy.vertexChunks_.resize(vertexChunks_.size());
    std::atomic<bool> lost{false};
    std::atomic<bool> outOfMemory{false};
    // A block in reference words: an entry whose word lies in [first, first +
    // words) moves by `shift` words. Empty unless the block and where it moves
    // to both lie in the record window.
    struct WordBlock {
        std::uint32_t first = 0;
        std::uint32_t words = 0;
        std::uint32_t shift = 0; // added modulo 2^32
    };
    auto inWords = [](const Relocation::Block& b) {
        WordBlock w;
        const auto base = reinterpret_cast<std::uintptr_t>(arena::base());
        const std::uintptr_t from = b.first - base;
        const std::uintptr_t to = b.first + b.shift - base;
        if (b.bytes == 0 || base == 0 || from >= arena::kMaxWindowBytes || to >= arena::kMaxWindowBytes ||
            b.bytes > arena::kMaxWindowBytes - from || b.bytes > arena::kMaxWindowBytes - to ||
            (from | to | b.bytes) % 8 != 0)
            return w;
        w.first = static_cast<std::uint32_t>(from >> 3);
        w.words = static_cast<std::uint32_t>(b.bytes >> 3);
        w.shift = static_cast<std::uint32_t>((to >> 3) - (from >> 3));
        return w;
    };
    const WordBlock vertexBlock = inWords(relocation.vertexBlock);
    const WordBlock triangleBlock = inWords(relocation.triangleBlock);
    auto copyList = [&](const auto& from, auto& to, const List& list, const WordBlock& block, auto&& call) {
        using ChunkT = typename std::decay_t<decltype(from)>::value_type;
        using Record = typename ChunkT::Record;
        constexpr std::uint32_t N = sizeof(ChunkT::items) / sizeof(ChunkT::items[0]);
        std::uint32_t left = list.count;
        for (std::uint32_t c = list.head; c != kNone && left > 0; c = from[c].next) {
            const std::uint32_t n = left < N ? left : N;
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint32_t word = from[c].items[i].word;
                if (word - block.first < block.words) {
                    to[c].items[i].word = word + block.shift;
                    continue;
                }
                Record* moved = call(static_cast<const Record*>(from[c].items[i]));
                if (moved == nullptr)
                    lost.store(true, std::memory_order_relaxed);
                to[c].items[i] = moved;
            }
            to[c].next = from[c].next;
            left -= n;
        }
    };
    // Job 0 copies the nodes and the free lists; the others each copy the
    // lists of a piece of the nodes (only leaves hold entries).
    constexpr std::size_t kPieceNodes = std::size_t(1) << 14;
    const std::size_t pieces = (nodes_.size() + kPieceNodes - 1) / kPieceNodes;
    forEachPiece(threads, pieces + 1, [&](std::size_t job, unsigned) {
        if (job == 0) {
            try {
                copy.nodes_ = nodes_;
                copy.freeTriangleChunks_ = freeTriangleChunks_;
                copy.freeVertexChunks_ = freeVertexChunks_;
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
            return;
        }
        const std::size_t end = std::min(nodes_.size(), job * kPieceNodes);
        for (std::size_t i = (job - 1) * kPieceNodes; i < end; ++i) {
            const Node& n = nodes_[i];
            copyList(vertexChunks_, copy.vertexChunks_, n.vertices, vertexBlock,
                     [&](const StlVertex* v) { return relocation.vertex(v); });
            copyList(triangleChunks_, copy.triangleChunks_, n.triangles, triangleBlock,
                     [&](const StlTriangle* t) { return relocation.triangle(t); });
        }
    });
    if (outOfMemory)
        throw std::bad_alloc();
    if (lost.load())
        return false;
    out = std::move(copy);
    return true;
}

} // namespace topolib
