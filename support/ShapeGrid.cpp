#include "support/ShapeGrid.h"

#include <algorithm>
#include <cmath>

namespace support {

void ShapeGrid::setUp(const double boxMin[3], const double boxMax[3], double h) {
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::isfinite(boxMin[k]) ? boxMin[k] : 0.0;
        hi[k] = std::isfinite(boxMax[k]) ? boxMax[k] : lo[k];
        if (hi[k] < lo[k])
            hi[k] = lo[k];
    }
    if (!std::isfinite(h) || h <= 0.0)
        h = 1.0;
    for (int k = 0; k < 2; ++k) {
        if (!std::isfinite(hi[k] - lo[k]))
            hi[k] = lo[k] = 0.0; // a box no grid can span: one cell block at the origin
    }
    // Keep the cell count under the cap: a box far larger than the spacing (a
    // hostile project, a huge plate) gets coarser cells, never a giant allocation.
    const double wx = hi[0] - lo[0], wy = hi[1] - lo[1];
    while ((wx / h + 2.5) * (wy / h + 2.5) > static_cast<double>(kMaxCells))
        h *= 2.0;
    for (int k = 0; k < 3; ++k)
        origin[k] = lo[k] - h;
    nx = static_cast<int32_t>((hi[0] - origin[0] + h + h / 2) / h);
    ny = static_cast<int32_t>((hi[1] - origin[1] + h + h / 2) / h);
    nx = std::max(nx, 1);
    ny = std::max(ny, 1);
    cellSize = std::max((hi[1] - origin[1] + h) / ny, (hi[0] - origin[0] + h) / nx);
    m_buckets.assign(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny), {});
}

int64_t ShapeGrid::cellIndex(double v, double o, int32_t n, bool clamp) const {
    const double c = (v - o) / cellSize;
    if (!std::isfinite(c))
        return clamp ? 0 : -3;
    // Far outside values are clamped before the conversion to an integer.
    const double limited = std::max(-4.0, std::min(c, static_cast<double>(n) + 4.0));
    int64_t i = static_cast<int64_t>(limited); // truncation, as the cell bounds say
    if (clamp)
        i = std::max<int64_t>(0, std::min<int64_t>(i, n - 1));
    return i;
}

void ShapeGrid::insert(AbtShape* shape, const double p[2]) {
    if (m_buckets.empty())
        return;
    const int64_t i = cellIndex(p[0], origin[0], nx, true);
    const int64_t j = cellIndex(p[1], origin[1], ny, true);
    m_buckets[static_cast<std::size_t>(i * ny + j)].push_back(shape);
}

bool ShapeGrid::cellOf(const double p[2], int64_t& i, int64_t& j) const {
    if (m_buckets.empty())
        return false;
    i = cellIndex(p[0], origin[0], nx, true);
    j = cellIndex(p[1], origin[1], ny, true);
    return true;
}

bool ShapeGrid::neighbourhoodOf(const double p[2], int64_t& i0, int64_t& i1, int64_t& j0, int64_t& j1) const {
    if (m_buckets.empty() || !std::isfinite(p[0]) || !std::isfinite(p[1]))
        return false;
    // A point outside the grid sees the border cells next to it, where insert
    // filed the shapes outside the box.
    const int64_t i = std::max<int64_t>(-1, std::min<int64_t>(cellIndex(p[0], origin[0], nx, false), nx));
    const int64_t j = std::max<int64_t>(-1, std::min<int64_t>(cellIndex(p[1], origin[1], ny, false), ny));
    i0 = std::max<int64_t>(i - 1, 0);
    i1 = std::min<int64_t>(i + 2, nx) - 1;
    j0 = std::max<int64_t>(j - 1, 0);
    j1 = std::min<int64_t>(j + 2, ny) - 1;
    return i0 <= i1 && j0 <= j1;
}

void ShapeGrid::queryNeighbourhood(const double p[2], std::vector<AbtShape*>& out) const {
    int64_t i0 = 0, i1 = 0, j0 = 0, j1 = 0;
    if (!neighbourhoodOf(p, i0, i1, j0, j1))
        return;
    for (int64_t a = i0; a <= i1; ++a) {
        for (int64_t b = j0; b <= j1; ++b) {
            const auto& bucket = m_buckets[static_cast<std::size_t>(a * ny + b)];
            out.insert(out.end(), bucket.begin(), bucket.end());
        }
    }
}

} // namespace support
