#pragma once
// The cones a cone links to: of the live cones whose planar foot distance s
// from its foot lies in the link range (a < s^2 < b), the few that rank first
// (ColumnLink::rank). The answer depends on the cones' places alone, not on
// their order or on any grid. A cone keeps only its nearest links, so only
// those are looked for: a grid of its own is searched ring by ring outwards
// from the cone and the search stops once no farther cone can rank among them.
// Cones packed closely thus cost in proportion to their number, not its square.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace support {

class ConeShape;

class NearestCones {
public:
    // Files the live cones with finite foot points.
    explicit NearestCones(const std::vector<ConeShape*>& cones);

    // Sets out to the up to k cones c links to first, in rank order.
    void find(const ConeShape* c, double a, double b, std::size_t k, std::vector<ConeShape*>& out) const;

private:
    int64_t column(double x) const;
    int64_t row(double y) const;

    double m_minX = 0.0, m_minY = 0.0, m_cell = 1.0;
    int64_t m_nx = 0, m_ny = 0;
    std::vector<uint32_t> m_start; // cell k's cones: m_cones[m_start[k] .. m_start[k + 1])
    std::vector<ConeShape*> m_cones;
};

} // namespace support
