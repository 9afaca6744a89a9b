#pragma once
// The cones a cone links to: of the live cones whose planar foot distance s
// from its foot lies in the link range (a < s^2 < b), the few that rank first
// (ColumnLink::rank; cones of equal rank by their place in the list given).
// The answer depends on the cones' places alone, not on any grid.
//
// The search costs about the logarithm of the number of cones however they
// are spread: cones standing at one foot point rank alike from anywhere but
// by their contact points, so only the first few of them can ever be found
// and only those are filed; the rest are searched in a balanced 2D tree whose
// boxes are passed over whole when they lie outside the link range (a crowd
// closer to the cone than the lower limit costs nothing) or cannot hold a
// cone that ranks among those found.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace support {

class ConeShape;

class NearestCones {
public:
    // Files the live cones with finite foot points, for searches of up to
    // `most` cones.
    explicit NearestCones(const std::vector<ConeShape*>& cones, std::size_t most = 4);

    // Sets out to the up to k (at most `most`) cones c links to first, in
    // rank order. When examined is given, the number of cones and boxes the
    // search looked at is added to it.
    void find(const ConeShape* c, double a, double b, std::size_t k, std::vector<ConeShape*>& out,
              std::uint64_t* examined = nullptr) const;

    // The cones filed (those beyond the first `most` at one foot point are not).
    std::size_t filed() const { return m_points.size(); }

private:
    struct Point {
        double x = 0.0, y = 0.0;
        ConeShape* cone = nullptr;
        std::uint32_t order = 0; // place in the list given: the last tie-break
    };
    struct Node {
        double minX = 0.0, minY = 0.0, maxX = 0.0, maxY = 0.0;
    };
    struct Search;
    void build(std::size_t node, std::size_t lo, std::size_t hi);
    void search(Search& s, std::size_t node, std::size_t lo, std::size_t hi) const;

    std::size_t m_most = 4;
    std::vector<Point> m_points; // in tree order: node [lo, hi) splits at (lo + hi) / 2
    std::vector<Node> m_nodes;   // the box of node n; children 2n + 1 and 2n + 2
};

} // namespace support
