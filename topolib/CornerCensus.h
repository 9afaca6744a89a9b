#pragma once
// What the weld's corner sort needs to know of all corners before it moves
// any: how many fall into each bin of the x key's top 16 bits, and the
// extremes of their y and z (for the weld tolerance). The sort finds both in
// a pass over the corners of its own; a reader that makes the corners one by
// one takes them in while each corner is still in the cache, so that the sort
// can start with its scatter.

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

// The bins and spread of every corner added, in any order. Holds its 256 KiB
// of bins from construction until they are taken.
class CornerCensus {
public:
    static constexpr uint32_t kBins = 1u << 16;
    static uint32_t binOf(const FacetCorner& c) { return floatKey(c.x) >> 16; }

    CornerCensus() : m_bins(kBins, 0) {}

    void add(const FacetCorner* corners, std::size_t count) {
        std::size_t i = 0;
        // A facet's corners, close together, mostly share their bin: one
        // step of its count then, not three that wait for one another.
        for (; i + 3 <= count; i += 3) {
            const FacetCorner* c = corners + i;
            const uint32_t b0 = binOf(c[0]), b1 = binOf(c[1]), b2 = binOf(c[2]);
            if (b0 == b1 && b1 == b2) {
                m_bins[b0] += 3;
            } else {
                ++m_bins[b0];
                ++m_bins[b1];
                ++m_bins[b2];
            }
            m_spread.add3(c[0], c[1], c[2]);
        }
        for (; i < count; ++i) {
            ++m_bins[binOf(corners[i])];
            m_spread.add(corners[i]);
        }
        m_corners += count;
    }

    // Corners added so far.
    std::size_t corners() const { return m_corners; }
    const CornerSpread& spread() const { return m_spread; }
    // The count of each bin, by bin; the census holds no bins afterwards
    // (adds nothing more, counts nothing).
    std::vector<uint32_t> takeBins() {
        m_corners = 0;
        return std::move(m_bins);
    }

private:
    std::vector<uint32_t> m_bins;
    CornerSpread m_spread;
    std::size_t m_corners = 0;
};

} // namespace topolib
