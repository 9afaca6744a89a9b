// Slicing a mesh into outlines at one height, through its z-slab index.
//
// The cut is taken with every vertex classified strictly: a vertex counts as
// above the plane when it lies at least 1e-6 (times the mesh's tolerance scale,
// so that the decision does not depend on the model's size) above it, otherwise
// as below (a vertex that close to the plane thus lies "just below" it). With no vertex on
// the plane, every triangle that the plane cuts has exactly two crossed sides,
// every crossed side is shared by the triangles on both sides of it, and the
// crossings chain into outlines by walking from triangle to neighbouring triangle.
// A crossed side whose lower end lies on the plane crosses at that vertex; the
// walk then passes through the vertex once (consecutive crossings at the same
// vertex give one point). Triangles lying in the plane, and triangles that only
// touch it, are cut nowhere, so they add no stray segments: a box resting on
// z = 0 cut at 0 gives its footprint, cut at its top height it gives nothing.
// Where the mesh is open, a cut runs from border to border and gives one open
// outline.

#include "topolib/SliceContour.h"
#include "topolib/StlObject.h"
#include "topolib/ZSlabIndex.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

namespace topolib {

namespace {

// Vertices closer to the plane than this (times the mesh's tolerance scale) lie
// on it.
constexpr double kOnPlane = 1e-6;
// Extra reach of the bucket lookup, so that a triangle whose lowest vertex lies
// just above the plane (on it within kOnPlane) is found even across a slab border.
constexpr double kBucketReach = 2.0 * kOnPlane;

// Where the cut crosses a triangle side: strictly inside the side from `low` to
// `high`, or at `low` itself (high null) when that end lies on the plane. Both
// triangles of a side compute the same key and the same point.
struct CrossingKey {
    const StlVertex* low = nullptr;
    const StlVertex* high = nullptr;
    bool operator==(const CrossingKey& o) const { return low == o.low && high == o.high; }
};

struct Crossing {
    CrossingKey key;
    SlicePoint point;
};

// One slice of one mesh. All state lives here, so slicing needs no marks on the
// mesh's records and leaves nothing behind for the next slice.
class ContourWalker {
public:
    ContourWalker(const StlObject& mesh, const ZSlabIndex& index, double z)
        : mesh_(mesh), index_(index), z_(z), onPlane_(kOnPlane * mesh.toleranceScale()),
          visited_(mesh.triangleCount(), 0) {}

    void run(SliceContourSet& out) {
        if (!(z_ >= index_.zMin() && z_ <= index_.zMax()))
            return;
        collectStarts();
        orderByShell();
        for (StlTriangle* t : starts_)
            if (!isVisited(t))
                traceFrom(t, out);
    }

private:
    bool above(const StlVertex* v) const { return v->pos.z - z_ >= onPlane_; }
    bool onPlane(const StlVertex* v) const { return std::fabs(v->pos.z - z_) < onPlane_; }

    // Bit k set when vertex k lies above the plane.
    unsigned aboveMask(const StlTriangle* t) const {
        return (above(t->vertices[0]) ? 1u : 0u) | (above(t->vertices[1]) ? 2u : 0u) |
               (above(t->vertices[2]) ? 4u : 0u);
    }
    static bool isCut(unsigned mask) { return mask != 0u && mask != 7u; }
    // Side k (vertex k to vertex k + 1) is crossed when its ends lie on opposite sides.
    static bool sideCrossed(unsigned mask, int k) {
        return (((mask >> k) ^ (mask >> ((k + 1) % 3))) & 1u) != 0u;
    }

    // Visited marks by triangle id. A triangle whose id does not index the mesh's
    // array cannot be marked and counts as visited, so no walk enters it.
    bool isVisited(const StlTriangle* t) const {
        const auto id = static_cast<std::size_t>(t->id);
        return t->id < 0 || id >= visited_.size() || visited_[id] != 0;
    }
    void markVisited(const StlTriangle* t) {
        const auto id = static_cast<std::size_t>(t->id);
        if (t->id >= 0 && id < visited_.size())
            visited_[id] = 1;
    }

    // The live triangles that the plane cuts, from the buckets around z, in bucket
    // order. A triangle listed in two buckets appears twice; the second copy is
    // skipped as visited.
    void collectStarts() {
        std::uint32_t first = 0, last = 0;
        const double reach = kBucketReach * mesh_.toleranceScale();
        if (!index_.bucketSpan(z_ - reach, z_ + reach, first, last))
            return;
        for (std::uint32_t k = first; k <= last; ++k)
            for (StlTriangle* t : index_.bucket(k))
                if (!t->isDeleted() && !isVisited(t) && isCut(aboveMask(t)))
                    starts_.push_back(t);
    }

    // Outlines are started shell by shell, in the mesh's shell order, and within a
    // shell in bucket order. Triangles of no known shell come last.
    void orderByShell() {
        if (starts_.empty())
            return;
        const StlShell* firstShell = starts_.front()->shell;
        const bool oneShell = std::all_of(starts_.begin(), starts_.end(),
                                          [&](const StlTriangle* t) { return t->shell == firstShell; });
        if (oneShell)
            return;
        // Rank only the shells that occur here: one pass over the shell sequence.
        std::vector<const StlShell*> present;
        present.reserve(starts_.size());
        for (const StlTriangle* t : starts_)
            present.push_back(t->shell);
        std::sort(present.begin(), present.end());
        present.erase(std::unique(present.begin(), present.end()), present.end());
        const std::uint32_t unknown = static_cast<std::uint32_t>(mesh_.shells().size());
        std::vector<std::uint32_t> rank(present.size(), unknown);
        std::uint32_t position = 0;
        for (const StlShell* s : mesh_.shells()) {
            const auto it = std::lower_bound(present.begin(), present.end(), s);
            if (s && it != present.end() && *it == s) {
                std::uint32_t& r = rank[static_cast<std::size_t>(it - present.begin())];
                r = std::min(r, position);
            }
            ++position;
        }
        auto rankOf = [&](const StlTriangle* t) {
            const auto it = std::lower_bound(present.begin(), present.end(), t->shell);
            return rank[static_cast<std::size_t>(it - present.begin())];
        };
        std::vector<std::pair<std::uint32_t, StlTriangle*>> keyed;
        keyed.reserve(starts_.size());
        for (StlTriangle* t : starts_)
            keyed.emplace_back(rankOf(t), t);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < keyed.size(); ++i)
            starts_[i] = keyed[i].second;
    }

    // The crossing of side k of t: its key and its point.
    Crossing crossingOf(const StlTriangle* t, int k) const {
        const StlVertex* u = t->vertices[k];
        const StlVertex* w = t->vertices[(k + 1) % 3];
        const StlVertex* low = above(u) ? w : u;
        const StlVertex* high = above(u) ? u : w;
        Crossing c;
        c.key = CrossingKey{low, onPlane(low) ? nullptr : high};
        if (!c.key.high) {
            c.point.x = static_cast<float>(low->pos.x);
            c.point.y = static_cast<float>(low->pos.y);
        } else {
            // Interpolated from the lower end, so both triangles of the side agree
            // to the last bit; high lies at least onPlane_ above and low not above the
            // plane, so the denominator is never zero.
            const double s = (z_ - low->pos.z) / (high->pos.z - low->pos.z);
            c.point.x = static_cast<float>(low->pos.x + s * (high->pos.x - low->pos.x));
            c.point.y = static_cast<float>(low->pos.y + s * (high->pos.y - low->pos.y));
        }
        return c;
    }

    // Appends a crossing unless it is the one just appended (the walk passing
    // through a vertex on the plane meets it on several sides in a row).
    static void append(std::vector<Crossing>& to, const Crossing& c) {
        if (to.empty() || !(to.back().key == c.key))
            to.push_back(c);
    }

    // Side index (0, 1, 2) of t joining a and b in either order, -1 when none.
    static int sideOf(const StlTriangle* t, const StlVertex* a, const StlVertex* b) {
        for (int j = 0; j < 3; ++j) {
            const StlVertex* p = t->vertices[j];
            const StlVertex* q = t->vertices[(j + 1) % 3];
            if ((p == a && q == b) || (p == b && q == a))
                return j;
        }
        return -1;
    }

    // The triangle on the other side of side k of t: the first live one of the same
    // shell, else (a drain-hole cut splits shells along the cut, so outlines cross
    // from one shell to the next) the first live one of another shell, preferring
    // one not yet visited. Found through the side's edge, or through the incident
    // triangles of its first vertex when edges are not built. Null at a border.
    StlTriangle* acrossSide(const StlTriangle* t, int k) const {
        const StlVertex* a = t->vertices[k];
        const StlVertex* b = t->vertices[(k + 1) % 3];
        StlTriangle* other = nullptr;
        auto sameShell = [&](StlTriangle* u) {
            if (!u || u == t || u->isDeleted() || sideOf(u, a, b) < 0)
                return false;
            if (u->shell == t->shell)
                return true;
            if (!other || (isVisited(other) && !isVisited(u)))
                other = u;
            return false;
        };
        if (const StlEdge* e = t->edges[k]) {
            for (StlTriangle* u : *e)
                if (sameShell(u))
                    return u;
        } else if (a->hasTriangleList()) {
            for (StlTriangle* u : *a)
                if (sameShell(u))
                    return u;
        }
        return other;
    }

    enum class WalkEnd { Border, Start, Taken };

    // Follows the cut from triangle `from` across its side `side`, triangle by
    // triangle, appending the crossing where the cut leaves each one, until it
    // reaches the mesh's border, comes back to `start` or meets a triangle an
    // earlier walk took.
    WalkEnd follow(const StlTriangle* start, const StlTriangle* from, int side, std::vector<Crossing>& to) {
        const StlTriangle* current = from;
        for (;;) {
            StlTriangle* next = acrossSide(current, side);
            if (!next)
                return WalkEnd::Border;
            if (isVisited(next))
                return next == start ? WalkEnd::Start : WalkEnd::Taken;
            markVisited(next);
            const int in = sideOf(next, current->vertices[side], current->vertices[(side + 1) % 3]);
            const unsigned nextMask = aboveMask(next);
            int out = -1;
            for (int j = 0; j < 3 && in >= 0; ++j)
                if (j != in && sideCrossed(nextMask, j))
                    out = j;
            if (out < 0)
                return WalkEnd::Taken; // not reached on a consistent mesh
            append(to, crossingOf(next, out));
            current = next;
            side = out;
        }
    }

    // Traces the outline through one start triangle. A closed outline ends with its
    // first point again. When the cut runs into the mesh's border, the part before
    // the start triangle is traced backwards as well, so an open cut gives one
    // outline from border to border. Kept when it has more than 3 points (the
    // smallest closed outline is a triangle).
    void traceFrom(StlTriangle* start, SliceContourSet& out) {
        const unsigned mask = aboveMask(start);
        int entry = -1, exit = -1;
        for (int k = 0; k < 3; ++k) {
            const bool fromAbove = ((mask >> k) & 1u) != 0u;
            const bool toAbove = ((mask >> ((k + 1) % 3)) & 1u) != 0u;
            if (fromAbove && !toAbove)
                entry = k; // the outline, followed in vertex order, passes downwards
            else if (!fromAbove && toAbove)
                exit = k; // ... and back up: material lies to the left seen from above
        }
        markVisited(start);
        if (entry < 0 || exit < 0)
            return;
        forward_.clear();
        backward_.clear();
        append(forward_, crossingOf(start, entry));
        append(forward_, crossingOf(start, exit));
        const WalkEnd end = follow(start, start, exit, forward_);
        if (end == WalkEnd::Border) {
            backward_.push_back(forward_.front());
            follow(start, start, entry, backward_);
        }
        SliceContour contour;
        contour.closed = end == WalkEnd::Start;
        contour.points.reserve(backward_.size() + forward_.size());
        for (std::size_t i = backward_.size(); i-- > 1;)
            contour.points.push_back(backward_[i].point);
        for (const Crossing& c : forward_)
            contour.points.push_back(c.point);
        if (contour.points.size() > 3)
            out.contours.push_back(std::move(contour));
    }

    const StlObject& mesh_;
    const ZSlabIndex& index_;
    const double z_;
    const double onPlane_;
    std::vector<unsigned char> visited_;
    std::vector<StlTriangle*> starts_;
    std::vector<Crossing> forward_;
    std::vector<Crossing> backward_;
};

} // namespace

void StlObject::invalidateZSlabIndex(bool rangeOnly) {
    if (!rangeOnly)
        m_derived.slabState = 2;
    else if (m_derived.slabState == 0)
        m_derived.slabState = 1;
}

void StlObject::buildZSlabIndex() {
    const std::uint32_t count = triangleCount();
    // Triangles appended since the last build are not listed: rebuild.
    if (m_derived.slabIndex && m_derived.slabIndex->sourceTriangleCount() != count)
        m_derived.slabState = 2;
    if (m_derived.slabIndex && m_derived.slabState == 0)
        return;
    // The range is taken from the vertices rather than the bounding box: edits
    // do not update the box, and triangles added beyond it would otherwise fall
    // outside every slab. Translations and scalings move the vertices' range as
    // they move the listed triangles, so a range refresh stays consistent too.
    double lowZ = 0.0, highZ = 0.0;
    bool any = false;
    for (const StlVertex* v : m_records.vertices) {
        const double z = v->pos.z;
        if (!std::isfinite(z))
            continue;
        lowZ = any ? std::min(lowZ, z) : z;
        highZ = any ? std::max(highZ, z) : z;
        any = true;
    }
    const double pad = kOnPlane * toleranceScale();
    const double zMin = lowZ - pad;
    const double zMax = highZ + pad;
    // A range refresh keeps the lists, which holds as long as the transform kept
    // the triangles' order in z; a mirrored (inverted) range does not.
    if (m_derived.slabIndex && m_derived.slabState == 1 && zMin <= zMax) {
        m_derived.slabIndex->setRange(zMin, zMax);
        m_derived.slabState = 0;
        return;
    }
    m_derived.slabIndex.reset();
    auto index = std::make_shared<ZSlabIndex>(count, averageEdgeLength(), zMax, zMin);
    index->addAll(m_records.triangles.data(), count);
    index->setSourceTriangleCount(count);
    m_derived.slabIndex = std::move(index);
    m_derived.slabState = 0;
}

std::unique_ptr<SliceContourSet> StlObject::sliceAt(double z) {
    // The height is carried in single precision; one outside float's range (or not
    // a number) cannot meet a mesh.
    if (!(std::fabs(z) <= static_cast<double>(FLT_MAX)))
        return nullptr;
    buildZSlabIndex();
    auto result = std::make_unique<SliceContourSet>();
    result->tolerance = 0.025f;
    result->z = static_cast<float>(z);
    if (m_derived.slabIndex) {
        ContourWalker walker(*this, *m_derived.slabIndex, static_cast<double>(result->z));
        walker.run(*result);
    }
    if (result->contours.empty())
        return nullptr;
    return result;
}

} // namespace topolib
