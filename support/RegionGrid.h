#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace topolib {
class StlTriangle;
} // namespace topolib

namespace support {

// One axis of a region's planar cone grid: the points start + i * step for
// i = 0 .. last (step >= 0; a zero step repeats the same coordinate).
struct GridAxis {
    double start = 0.0;
    double step = 0.0;
    long last = 0;

    // Computed as the placement always has, so that the points are bit for bit
    // those of a per-point search.
    double at(long i) const { return start + static_cast<double>(i) * step; }
};

// What the grid search of the cone placement cost: points of the grids, facet
// heights evaluated and vertical-column searches of the mesh's octree. A
// soup of large, overlapping facets makes every column of the octree crowded,
// so the searches are kept to the rare points that need one.
struct GridSearchWork {
    std::uint64_t gridPoints = 0;
    std::uint64_t facetTests = 0;
    std::uint64_t columnSearches = 0;
};

// The lowest facet above one grid point: height (z) and facet.
struct GridHit {
    long i = 0;
    long j = 0;
    double z = 0.0;
    topolib::StlTriangle* facet = nullptr;
};

// For every point of the grid x by y, in the order i, then j, the facet of
// `facets` that lies lowest on the vertical line through the point (its height
// at least -1e-6, as topolib::triangleHeightAt gives it), among the live
// facets whose group is `group`. Points that no facet covers are left out.
//
// The answer is that of the octree's lowestTriangleAtXY over the facets of the
// group, without walking a column of the whole mesh for every point: each
// facet is tested at the grid points of its own box only, so the cost follows
// the facets and the points they cover. When facets with different normals
// share the lowest height exactly, the octree's visiting order decides between
// them; such a point is handed to columnSearch (the per-point search), whose
// answer stands. Null entries and facets with a corner that is not finite (the
// octree holds none) are skipped.
using ColumnSearch = std::function<void(const double p[3], double* z, topolib::StlTriangle** hit)>;
std::vector<GridHit> lowestFacetsOnGrid(const std::vector<topolib::StlTriangle*>& facets, int group,
                                        const GridAxis& x, const GridAxis& y,
                                        const ColumnSearch& columnSearch, GridSearchWork* work = nullptr);

// Every facet of `facets` with the group `group` over every point of the grid
// x by y (its height at least -1e-6, as topolib::triangleHeightAt gives it),
// ordered by i, then j, then rising height.
std::vector<GridHit> facetsOnGrid(const std::vector<topolib::StlTriangle*>& facets, int group,
                                  const GridAxis& x, const GridAxis& y);

} // namespace support
