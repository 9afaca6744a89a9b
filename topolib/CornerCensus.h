#pragma once
// What the weld's corner sort needs to know of all corners before it moves
// any: how many fall into each bin of the x key's top 16 bits, and the
// extremes of their y and z (for the weld tolerance). The sort finds both in
// a pass over the corners of its own; a reader that makes the corners one by
// one takes them in while each corner is still in the cache, so that the sort
// can start with its scatter.

#include "topolib/ParallelRuns.h"
#include "topolib/StlObject.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace topolib {

// Sort key of a float that orders like the float itself (negative zero taken as
// zero, so the two compare equal as they do in float comparison).
// Without branches: the signs of coordinates in file order follow no pattern.
inline uint32_t floatKey(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    u = f == 0.0f ? 0u : u;
    const uint32_t negative = 0u - (u >> 31); // all ones for a negative float
    return u ^ (negative | 0x80000000u);
}

// The extremes of the corners' y and z (the x extent comes from the sorted
// ends). The extremes do not depend on the order the corners are taken in,
// unless some coordinate is NaN: `unordered` then tells that the extremes may
// differ from those of another order.
struct CornerSpread {
    float lo[2] = {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity()};
    float hi[2] = {-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    bool unordered = false;
    bool found = false; // filled in (by the sort, or from a census)

    // The spread of c alone.
    static CornerSpread of(const FacetCorner& c) {
        CornerSpread spread;
        spread.lo[0] = spread.hi[0] = c.y;
        spread.lo[1] = spread.hi[1] = c.z;
        return spread;
    }
    void add(const FacetCorner& c) {
        lo[0] = std::min(lo[0], c.y);
        hi[0] = std::max(hi[0], c.y);
        lo[1] = std::min(lo[1], c.z);
        hi[1] = std::max(hi[1], c.z);
        unordered = unordered || c.y != c.y || c.z != c.z;
    }
    // add for a, b and c in turn: their own extremes first, then one step of
    // each running extreme instead of three after one another. The first of
    // equal extremes is kept, as by three adds.
    void add3(const FacetCorner& a, const FacetCorner& b, const FacetCorner& c) {
        lo[0] = std::min(lo[0], std::min(std::min(a.y, b.y), c.y));
        hi[0] = std::max(hi[0], std::max(std::max(a.y, b.y), c.y));
        lo[1] = std::min(lo[1], std::min(std::min(a.z, b.z), c.z));
        hi[1] = std::max(hi[1], std::max(std::max(a.z, b.z), c.z));
        unordered = unordered || a.y != a.y || a.z != a.z || b.y != b.y || b.z != b.z || c.y != c.y || c.z != c.z;
    }
    void merge(const CornerSpread& other) {
        for (int k = 0; k < 2; ++k) {
            lo[k] = std::min(lo[k], other.lo[k]);
            hi[k] = std::max(hi[k], other.hi[k]);
        }
        unordered = unordered || other.unordered;
    }
};

// Corners of a weld below this number are sorted whole, by comparison: no
// census serves them.
constexpr std::size_t kGroupSortFrom = 4096;

// The bins and spread of every corner added, in corner order. The bins are
// counted per part of the corners a sort on `parts` threads scatters
// (partBegin of the corner count expected), by part and then by bin. Holds
// its 256 KiB of bins a part from construction until they are taken.
class CornerCensus {
public:
    static constexpr uint32_t kBins = 1u << 16;
    static uint32_t binOf(const FacetCorner& c) { return floatKey(c.x) >> 16; }

    explicit CornerCensus(unsigned parts = 1, std::size_t expected = 0)
        : m_bins(static_cast<std::size_t>(parts) * kBins, 0), m_parts(parts), m_expected(expected),
          m_partEnd(parts > 1 ? partBegin(expected, 1, parts) : std::numeric_limits<std::size_t>::max()) {}

    void add(const FacetCorner* corners, std::size_t count) {
        // The corners up to the end of the current part, then those of the next.
        while (count > 0) {
            const std::size_t here = std::min(count, m_partEnd - m_corners);
            addToPart(corners, here);
            corners += here;
            count -= here;
            if (m_corners == m_partEnd && m_part + 1 < m_parts) {
                ++m_part;
                m_partEnd = m_part + 1 < m_parts ? partBegin(m_expected, m_part + 1, m_parts)
                                                 : std::numeric_limits<std::size_t>::max();
            }
        }
    }

    // Corners added so far.
    std::size_t corners() const { return m_corners; }
    // Whether the bins are those of the parts of n corners on `parts` threads.
    bool countsParts(std::size_t n, unsigned parts) const {
        return m_corners == n && m_parts == parts && (parts == 1 || m_expected == n);
    }
    const CornerSpread& spread() const { return m_spread; }
    // The count of each part's bins, by part and bin; the census holds no bins
    // afterwards (adds nothing more, counts nothing).
    std::vector<uint32_t> takeBins() {
        m_corners = 0;
        return std::move(m_bins);
    }

private:
    void addToPart(const FacetCorner* corners, std::size_t count) {
        uint32_t* const bins = m_bins.data() + static_cast<std::size_t>(m_part) * kBins;
        std::size_t i = 0;
        // A facet's corners, close together, mostly share their bin: one
        // step of its count then, not three that wait for one another.
        for (; i + 3 <= count; i += 3) {
            const FacetCorner* c = corners + i;
            const uint32_t b0 = binOf(c[0]), b1 = binOf(c[1]), b2 = binOf(c[2]);
            if (b0 == b1 && b1 == b2) {
                bins[b0] += 3;
            } else {
                ++bins[b0];
                ++bins[b1];
                ++bins[b2];
            }
            m_spread.add3(c[0], c[1], c[2]);
        }
        for (; i < count; ++i) {
            ++bins[binOf(corners[i])];
            m_spread.add(corners[i]);
        }
        m_corners += count;
    }

    std::vector<uint32_t> m_bins;
    CornerSpread m_spread;
    std::size_t m_corners = 0;
    unsigned m_parts;
    std::size_t m_expected;
    unsigned m_part = 0;
    std::size_t m_partEnd; // the first corner past the current part
};

} // namespace topolib
