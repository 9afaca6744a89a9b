#pragma once

#include <cstdint>
#include <vector>

namespace support {

class AbtShape;

// A planar bucket grid over a support box that finds the cones near a point
// without testing all pairs. Holds shape pointers only.
class ShapeGrid {
public:
    // Most cells a grid allocates; a larger grid gets bigger cells instead.
    static constexpr int64_t kMaxCells = 1 << 22;

    // Grid over the box widened by h on every side (cells stretched to fit). A
    // non-finite or non-positive h, or a box too large for kMaxCells cells, is
    // made sound first: cells are never smaller than needed to stay under the cap.
    void setUp(const double boxMin[3], const double boxMax[3], double h);
    // Files shape in the cell of p (clamped into the grid).
    void insert(AbtShape* shape, const double p[2]);
    // Appends the shapes of the 3 x 3 cells around p's cell (cells outside skipped;
    // a point beyond the grid sees the border cells beside it; a non-finite one
    // sees none).
    void queryNeighbourhood(const double p[2], std::vector<AbtShape*>& out) const;

    int32_t nx = 0;
    int32_t ny = 0;
    double cellSize = 1.0;
    double origin[3] = {0.0, 0.0, 0.0};

private:
    int64_t cellIndex(double v, double o, int32_t n, bool clamp) const;
    std::vector<std::vector<AbtShape*>> m_buckets; // column-major: i * ny + j
};

} // namespace support
