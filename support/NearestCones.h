#pragma once
// The cones a cone links to: of the live cones in the shape grid's 3 x 3 cells
// around its foot whose planar foot distance s lies in the link range
// (a < s^2 < b), the few that rank first (ColumnLink::rank). A cone keeps only
// its nearest links, so only those are looked for: a finer grid of its own is
// searched ring by ring outwards from the cone and the search stops once no
// farther cone can rank among them. Cones packed far closer than the shape
// grid's cells thus cost in proportion to their number, not its square.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace support {

class ConeShape;
class ShapeGrid;

class NearestCones {
public:
    // Files the live cones with finite foot points. grid is the container's
    // shape grid, holding the same cones; it must outlive this object.
    NearestCones(const std::vector<ConeShape*>& cones, const ShapeGrid& grid);

    // Sets out to the up to k cones c links to first, in rank order.
    void find(const ConeShape* c, double a, double b, std::size_t k, std::vector<ConeShape*>& out) const;

private:
    int64_t column(double x) const;
    int64_t row(double y) const;

    const ShapeGrid& m_grid;
    double m_minX = 0.0, m_minY = 0.0, m_cell = 1.0;
    int64_t m_nx = 0, m_ny = 0;
    std::vector<uint32_t> m_start; // cell k's cones: m_cones[m_start[k] .. m_start[k + 1])
    std::vector<ConeShape*> m_cones;
};

} // namespace support
