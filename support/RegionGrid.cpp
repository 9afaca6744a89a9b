// The lowest facet of an overhang region above each point of its cone grid,
// found from the region's own facets column by column of the grid.
#include "support/RegionGrid.h"

#include "topolib/OctreeKernels.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace support {

using topolib::StlTriangle;

namespace {

// The start height of the search: a facet counts only below it.
constexpr double kNoHeight = 999999999999.0;

// The grid indices whose coordinate may lie in [lo, hi]: one index more on each
// side than the division promises (the caller compares the coordinates
// themselves), clamped to the axis. False when none can.
bool indexRange(const GridAxis& a, double lo, double hi, long* first, long* last) {
    if (!(a.step > 0.0)) {
        // Every index has the same coordinate.
        if (!(a.start >= lo && a.start <= hi))
            return false;
        *first = 0;
        *last = a.last;
        return true;
    }
    const double f = std::floor((lo - a.start) / a.step) - 1.0;
    const double l = std::ceil((hi - a.start) / a.step) + 1.0;
    if (!(l >= 0.0) || !(f <= static_cast<double>(a.last)))
        return false;
    *first = static_cast<long>(std::max(f, 0.0));
    *last = static_cast<long>(std::min(l, static_cast<double>(a.last)));
    return *first <= *last;
}

// A facet and the part of the grid its box covers.
struct Span {
    const StlTriangle* facet;
    double lo[2], hi[2]; // the facet's box, widened by the reach of the height test
    long i0, i1, j0, j1;
};

// The lowest height found so far at one point of the current column, and
// whether another facet with a different normal reached exactly that height.
struct Lowest {
    double z = kNoHeight;
    StlTriangle* facet = nullptr;
    bool tied = false;
};

// Bit for bit: the cone takes the normal as it is, signs of zero included.
bool sameNormal(const StlTriangle* a, const StlTriangle* b) {
    return std::memcmp(a->normal.data(), b->normal.data(), 3 * sizeof(double)) == 0;
}

// The facets of the group with the part of the grid their box covers, by
// their first column.
std::vector<Span> spansOnGrid(const std::vector<StlTriangle*>& facets, int group, const GridAxis& x,
                              const GridAxis& y) {
    std::vector<Span> spans;
    spans.reserve(facets.size());
    for (const StlTriangle* t : facets) {
        if (t == nullptr || t->isDeleted() || t->group() != group)
            continue;
        Span s{t, {0, 0}, {0, 0}, 0, 0, 0, 0};
        bool finite = true;
        for (int k = 0; k < 2; ++k) {
            double lo = t->vertices[0]->pos[k], hi = lo;
            for (int c = 1; c < 3; ++c) {
                lo = std::min(lo, t->vertices[c]->pos[k]);
                hi = std::max(hi, t->vertices[c]->pos[k]);
            }
            finite = finite && std::isfinite(lo) && std::isfinite(hi);
            s.lo[k] = lo;
            s.hi[k] = hi;
        }
        for (int c = 0; c < 3; ++c)
            finite = finite && std::isfinite(t->vertices[c]->pos.z);
        if (!finite)
            continue;
        // The height test answers up to 1e-5 of an edge's length beyond its
        // ends (and the octree walk looks 1e-5 beyond a column's cells): no
        // point farther from the box than this gets a height from the facet.
        const double pad = 1e-5 * std::max(1.0, std::max(s.hi[0] - s.lo[0], s.hi[1] - s.lo[1]));
        for (int k = 0; k < 2; ++k) {
            s.lo[k] -= pad;
            s.hi[k] += pad;
        }
        if (indexRange(x, s.lo[0], s.hi[0], &s.i0, &s.i1) && indexRange(y, s.lo[1], s.hi[1], &s.j0, &s.j1))
            spans.push_back(s);
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.i0 < b.i0; });
    return spans;
}

} // namespace

std::vector<GridHit> facetsOnGrid(const std::vector<StlTriangle*>& facets, int group, const GridAxis& x,
                                  const GridAxis& y) {
    std::vector<GridHit> hits;
    for (const Span& s : spansOnGrid(facets, group, x, y)) {
        for (long i = s.i0; i <= s.i1; ++i) {
            const double px = x.at(i);
            if (px < s.lo[0] || px > s.hi[0])
                continue;
            for (long j = s.j0; j <= s.j1; ++j) {
                const double py = y.at(j);
                if (py < s.lo[1] || py > s.hi[1])
                    continue;
                const double h = topolib::triangleHeightAt(s.facet, px, py);
                if (h > -1e-6 && h < kNoHeight)
                    hits.push_back(GridHit{i, j, h, const_cast<StlTriangle*>(s.facet)});
            }
        }
    }
    std::sort(hits.begin(), hits.end(), [](const GridHit& a, const GridHit& b) {
        return a.i != b.i ? a.i < b.i : (a.j != b.j ? a.j < b.j : a.z < b.z);
    });
    return hits;
}

std::vector<GridHit> lowestFacetsOnGrid(const std::vector<StlTriangle*>& facets, int group, const GridAxis& x,
                                        const GridAxis& y, const ColumnSearch& columnSearch,
                                        GridSearchWork* work) {
    std::vector<GridHit> hits;
    if (work != nullptr)
        work->gridPoints += static_cast<std::uint64_t>(x.last + 1) * static_cast<std::uint64_t>(y.last + 1);
    const std::vector<Span> spans = spansOnGrid(facets, group, x, y);
    // A sweep over the columns of the grid with the facets whose box meets the
    // column: memory stays with one column and the facets.
    std::vector<const Span*> active;
    std::vector<Lowest> column(static_cast<std::size_t>(y.last + 1));
    std::size_t next = 0;
    for (long i = 0; i <= x.last; ++i) {
        if (active.empty() && next < spans.size())
            i = std::max(i, spans[next].i0);
        else if (active.empty())
            break;
        while (next < spans.size() && spans[next].i0 <= i)
            active.push_back(&spans[next++]);
        active.erase(std::remove_if(active.begin(), active.end(), [&](const Span* s) { return s->i1 < i; }),
                     active.end());
        const double px = x.at(i);
        long jLo = y.last, jHi = 0;
        for (const Span* s : active) {
            if (px < s->lo[0] || px > s->hi[0])
                continue;
            for (long j = s->j0; j <= s->j1; ++j) {
                const double py = y.at(j);
                if (py < s->lo[1] || py > s->hi[1])
                    continue;
                if (work != nullptr)
                    ++work->facetTests;
                const double h = topolib::triangleHeightAt(s->facet, px, py);
                Lowest& l = column[static_cast<std::size_t>(j)];
                if (h > -1e-6 && h < l.z) {
                    l.z = h;
                    l.facet = const_cast<StlTriangle*>(s->facet);
                    l.tied = false;
                } else if (h == l.z && l.facet != nullptr && !sameNormal(l.facet, s->facet)) {
                    l.tied = true;
                }
            }
            jLo = std::min(jLo, s->j0);
            jHi = std::max(jHi, s->j1);
        }
        for (long j = jLo; j <= jHi; ++j) {
            Lowest& l = column[static_cast<std::size_t>(j)];
            if (l.facet != nullptr) {
                GridHit hit{i, j, l.z, l.facet};
                if (l.tied) {
                    const double p[3] = {px, y.at(j), 0.0};
                    hit.z = kNoHeight;
                    hit.facet = nullptr;
                    if (work != nullptr)
                        ++work->columnSearches;
                    columnSearch(p, &hit.z, &hit.facet);
                }
                if (hit.facet != nullptr)
                    hits.push_back(hit);
            }
            l = Lowest();
        }
    }
    return hits;
}

} // namespace support
