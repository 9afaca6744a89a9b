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
    // The cell insert files p in. False for an empty grid.
    bool cellOf(const double p[2], int64_t& i, int64_t& j) const;
    // The cells queryNeighbourhood visits for p: columns i0..i1 and rows
    // j0..j1, inclusive. False when it visits none.
    bool neighbourhoodOf(const double p[2], int64_t& i0, int64_t& i1, int64_t& j0, int64_t& j1) const;

    int32_t nx = 0;
    int32_t ny = 0;
    double cellSize = 1.0;
    double origin[3] = {0.0, 0.0, 0.0};

private:
    int64_t cellIndex(double v, double o, int32_t n, bool clamp) const;
    std::vector<std::vector<AbtShape*>> m_buckets; // column-major: i * ny + j
};

} // namespace support
