// Turning loose facets into topology: facets, welding, edges and their classes,
// the file entry point, the repairs after reading the geometry format, validity
// counts and the lookups of the project reader.
#include "topolib/StlObject.h"

#include "app/ProgressReport.h"
#include "topolib/CornerCensus.h"
#include "topolib/FacetBlocks.h"
#include "topolib/HugePageAdvice.h"
#include "topolib/ImportSession.h"
#include "topolib/NeighbourEntries.h"
#include "topolib/ParallelRuns.h"
#include "topolib/RecordIndex.h"
#include "topolib/WeldRuns.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace topolib {

namespace {

inline bool cornerLess(const FacetCorner& a, const FacetCorner& b) {
    const uint32_t ax = floatKey(a.x), bx = floatKey(b.x);
    if (ax != bx)
        return ax < bx;
    const uint32_t ay = floatKey(a.y), by = floatKey(b.y);
    if (ay != by)
        return ay < by;
    return floatKey(a.z) < floatKey(b.z);
}

// Longest run of equal x that sortShortRun takes.
constexpr std::size_t kShortRun = 32;

// Sorts a run of at most kShortRun corners of equal x by y, then z, keeping the
// order of corners with equal y and z: what a stable sort by y followed by a
// sort by z of each run of equal y gives while those runs are at most 16 long
// (a sort of at most 16 elements is an insertion sort, which keeps the order of
// equal ones). False, the run unchanged, when a run of equal y is longer.
bool sortShortRun(FacetCorner* run, std::size_t length) {
    uint64_t key[kShortRun];
    bool sorted = true;
    for (std::size_t j = 0; j < length; ++j) {
        key[j] = (uint64_t(floatKey(run[j].y)) << 32) | floatKey(run[j].z);
        sorted = sorted && (j == 0 || key[j] >= key[j - 1]);
    }
    if (sorted && length <= 16)
        return true;

    // Where the run holds few distinct points (the corners of a few vertices,
    // as in meshes with mirror symmetry), each corner goes to the place of its
    // point, in the order it comes: a stable sort in two passes. Otherwise an
    // insertion sort.
    constexpr int kFewPoints = 8;
    uint64_t point[kFewPoints];
    uint8_t pointOf[kShortRun];
    uint8_t place[kFewPoints + 1];
    int points = 0;
    for (std::size_t j = 0; j < length && points <= kFewPoints; ++j) {
        int g = 0;
        while (g < points && point[g] != key[j])
            ++g;
        if (g == points) {
            if (points == kFewPoints) {
                points = kFewPoints + 1; // too many: insertion sort below
                break;
            }
            point[points++] = key[j];
        }
        pointOf[j] = static_cast<uint8_t>(g);
    }

    uint8_t order[kShortRun]; // the run position that goes to each place
    if (points <= kFewPoints) {
        // Rank the distinct points, then give each its block of places.
        uint8_t rank[kFewPoints];
        uint8_t count[kFewPoints] = {};
        for (std::size_t j = 0; j < length; ++j)
            ++count[pointOf[j]];
        uint8_t byRank[kFewPoints];
        for (int g = 0; g < points; ++g) {
            int m = g;
            for (; m > 0 && point[g] < point[byRank[m - 1]]; --m)
                byRank[m] = byRank[m - 1];
            byRank[m] = static_cast<uint8_t>(g);
        }
        uint8_t next = 0;
        for (int r = 0; r < points; ++r) {
            rank[byRank[r]] = static_cast<uint8_t>(r);
            place[byRank[r]] = next;
            next = static_cast<uint8_t>(next + count[byRank[r]]);
        }
        if (length > 16) {
            // Runs of equal y: consecutive ranks with the same y.
            std::size_t yLength = 0;
            for (int r = 0; r < points; ++r) {
                if (r > 0 && (point[byRank[r]] >> 32) != (point[byRank[r - 1]] >> 32))
                    yLength = 0;
                yLength += count[byRank[r]];
                if (yLength > 16)
                    return false;
            }
        }
        (void)rank;
        if (sorted)
            return true;
        for (std::size_t j = 0; j < length; ++j)
            order[place[pointOf[j]]++] = static_cast<uint8_t>(j);
    } else {
        for (std::size_t j = 0; j < length; ++j)
            order[j] = static_cast<uint8_t>(j);
        for (std::size_t j = 1; j < length; ++j) {
            const uint64_t k = key[j];
            if (k >= key[j - 1])
                continue;
            const uint8_t o = order[j];
            std::size_t m = j;
            for (; m > 0 && k < key[m - 1]; --m) {
                key[m] = key[m - 1];
                order[m] = order[m - 1];
            }
            key[m] = k;
            order[m] = o;
        }
        if (length > 16) {
            std::size_t yBegin = 0;
            while (yBegin < length) {
                std::size_t yEnd = yBegin + 1;
                while (yEnd < length && (key[yEnd] >> 32) == (key[yBegin] >> 32))
                    ++yEnd;
                if (yEnd - yBegin > 16)
                    return false;
                yBegin = yEnd;
            }
        }
        if (sorted)
            return true;
    }
    FacetCorner copy[kShortRun];
    std::memcpy(copy, run, length * sizeof(FacetCorner));
    for (std::size_t j = 0; j < length; ++j)
        run[j] = copy[order[j]];
    return true;
}

// Sorts each run of equal x in all[begin, n) by y, then z (the second stage of
// sortCorners; runs of equal x never cross a range of equal top x digits).
void sortEqualXRuns(FacetCorner* const all, std::size_t begin, std::size_t n) {
    auto yLess = [](const FacetCorner& a, const FacetCorner& b) { return floatKey(a.y) < floatKey(b.y); };
    auto zLess = [](const FacetCorner& a, const FacetCorner& b) { return floatKey(a.z) < floatKey(b.z); };
    std::size_t xBegin = begin;
    while (xBegin < n) {
        const uint32_t xKey = floatKey(all[xBegin].x);
        std::size_t xEnd = xBegin + 1;
        while (xEnd < n && floatKey(all[xEnd].x) == xKey)
            ++xEnd;
        if (xEnd - xBegin > 1 && xEnd - xBegin <= kShortRun && sortShortRun(all + xBegin, xEnd - xBegin)) {
            // done
        } else if (xEnd - xBegin > 1) {
            FacetCorner* run = all + xBegin;
            const std::size_t length = xEnd - xBegin;
            if (length > 32) {
                std::stable_sort(run, run + length, yLess);
            } else {
                for (std::size_t j = 1; j < length; ++j) {
                    const FacetCorner c = run[j];
                    std::size_t m = j;
                    for (; m > 0 && yLess(c, run[m - 1]); --m)
                        run[m] = run[m - 1];
                    run[m] = c;
                }
            }
            // z order inside runs of equal (x, y).
            std::size_t yBegin = 0;
            while (yBegin < length) {
                const uint32_t yKey = floatKey(run[yBegin].y);
                std::size_t yEnd = yBegin + 1;
                while (yEnd < length && floatKey(run[yEnd].y) == yKey)
                    ++yEnd;
                if (yEnd - yBegin > 1)
                    std::sort(run + yBegin, run + yEnd, zLess);
                yBegin = yEnd;
            }
        }
        xBegin = xEnd;
    }
}

// Sorts data[0, m) stably by the x key, through buffer[0, m): a counting pass
// for each 11-bit digit of the key that is not the same in every corner, the
// least significant first. Returns where the sorted corners are: data after an
// even number of passes, buffer after an odd one.
FacetCorner* sortRangeByX(FacetCorner* data, FacetCorner* buffer, std::size_t m) {
    if (m <= 64) {
        for (std::size_t j = 1; j < m; ++j) {
            const FacetCorner c = data[j];
            const uint32_t k = floatKey(c.x);
            std::size_t i = j;
            for (; i > 0 && k < floatKey(data[i - 1].x); --i)
                data[i] = data[i - 1];
            data[i] = c;
        }
        return data;
    }
    constexpr int kBits = 11;
    constexpr uint32_t kRadix = 1u << kBits;
    uint32_t counts[3][kRadix] = {};
    for (std::size_t i = 0; i < m; ++i) {
        readAhead(data, i, m);
        const uint32_t k = floatKey(data[i].x);
        ++counts[0][k & (kRadix - 1)];
        ++counts[1][(k >> kBits) & (kRadix - 1)];
        ++counts[2][k >> (2 * kBits)];
    }
    const uint32_t first = floatKey(data[0].x);
    FacetCorner* from = data;
    FacetCorner* to = buffer;
    for (int p = 0; p < 3; ++p) {
        uint32_t* c = counts[p];
        const int shift = p * kBits;
        if (c[(first >> shift) & (kRadix - 1)] == m)
            continue; // every corner has this digit
        uint32_t sum = 0;
        for (uint32_t d = 0; d < kRadix; ++d) {
            const uint32_t k = c[d];
            c[d] = sum;
            sum += k;
        }
        for (std::size_t i = 0; i < m; ++i)
            to[c[(floatKey(from[i].x) >> shift) & (kRadix - 1)]++] = from[i];
        std::swap(from, to);
    }
    return from;
}

// The groups of sortCornersInGroups: runs of consecutive values of the x
// key's top 16 bits holding about 1/1024 of the corners each (a value held by
// more stays a group alone), and where each part of the corners scatters its
// corners of each group.
class KeyGroups {
public:
    static constexpr uint32_t kBins = CornerCensus::kBins;
    static uint32_t binOf(const FacetCorner& c) { return CornerCensus::binOf(c); }

    // Counts the bins of parts [partBegin(n, t, threads), ...) on the threads,
    // finding the corners' spread in the same pass, or takes both from the
    // corners' census when it counted these parts.
    KeyGroups(const FacetCorner* corners, std::size_t n, unsigned threads, CornerCensus* census,
              CornerSpread& spread)
        : m_groupOf(kBins) {
        if (census && census->countsParts(n, threads)) {
            spread.merge(census->spread());
            m_bins = census->takeBins();
        } else {
            m_bins.assign(static_cast<std::size_t>(threads) * kBins, 0);
            countBins(corners, n, threads, spread);
        }
        spread.found = true;
        const std::size_t groupSize = std::max<std::size_t>(4096, n / 1024);
        std::size_t inGroup = 0;
        m_groupBegin.push_back(0);
        for (uint32_t b = 0; b < kBins; ++b) {
            std::size_t inBin = 0;
            for (unsigned t = 0; t < threads; ++t)
                inBin += m_bins[static_cast<std::size_t>(t) * kBins + b];
            if (inGroup > 0 && inGroup + inBin > groupSize) {
                m_groupBegin.push_back(m_groupBegin.back() + inGroup);
                inGroup = 0;
            }
            m_groupOf[b] = static_cast<uint16_t>(m_groupBegin.size() - 1);
            inGroup += inBin;
        }
        m_groupBegin.push_back(n);
        // Each part's first place in each group: the parts before it in the
        // group come first, so that equal keys keep their order.
        const std::size_t groups = m_groupBegin.size() - 1;
        m_next.assign(static_cast<std::size_t>(threads) * groups, 0);
        for (unsigned t = 0; t < threads; ++t)
            for (uint32_t b = 0; b < kBins; ++b)
                m_next[static_cast<std::size_t>(t) * groups + m_groupOf[b]] += m_bins[static_cast<std::size_t>(t) * kBins + b];
        for (std::size_t g = 0; g < groups; ++g) {
            std::size_t place = m_groupBegin[g];
            for (unsigned t = 0; t < threads; ++t) {
                std::size_t& next = m_next[static_cast<std::size_t>(t) * groups + g];
                const std::size_t count = next;
                next = place;
                place += count;
            }
        }
    }

    std::size_t groups() const { return m_groupBegin.size() - 1; }
    std::size_t begin(std::size_t g) const { return m_groupBegin[g]; }
    std::size_t end(std::size_t g) const { return m_groupBegin[g + 1]; }
    // The place of part t's next corner in bin b.
    std::size_t& next(unsigned t, uint32_t bin) { return m_next[static_cast<std::size_t>(t) * groups() + m_groupOf[bin]]; }
    // The end of bin b's group.
    std::size_t endOfBin(uint32_t bin) const { return m_groupBegin[m_groupOf[bin] + std::size_t(1)]; }

private:
    void countBins(const FacetCorner* corners, std::size_t n, unsigned threads, CornerSpread& spread) {
        std::vector<CornerSpread> partSpread(threads);
        runOnThreads(threads, [&](unsigned t) {
            uint32_t* bins = &m_bins[static_cast<std::size_t>(t) * kBins];
            CornerSpread own;
            const std::size_t end = partBegin(n, t + 1, threads);
            for (std::size_t i = partBegin(n, t, threads); i < end; ++i) {
                readAhead(corners, i, end);
                ++bins[binOf(corners[i])];
                own.add(corners[i]);
            }
            partSpread[t] = own;
        });
        for (const CornerSpread& part : partSpread)
            spread.merge(part);
    }

    std::vector<uint32_t> m_bins; // per part and bin
    std::vector<uint16_t> m_groupOf;
    std::vector<std::size_t> m_groupBegin;
    std::vector<std::size_t> m_next; // per part and group
};

// Sorts the n corners of `from` by x, then y, then z. Each part of the corners
// (one per thread) scatters its corners stably into `to` by groups of their x
// key (KeyGroups), so that corners of equal key keep their order; each group
// is then sorted by the whole key (sortRangeByX) and its runs of equal x by y
// and z, the groups taken by the threads largest first. Groups follow the key
// and runs of equal x never cross them: a stable sort of each is a stable
// sort of all. One pass over all corners, whose scattered writes miss the
// address translation cache, and then sorts that stay in the cache.
// With `release` the sorted corners end in `to` and the pages of `from` go
// back to the system as the scatter leaves them behind (they are not read
// again); otherwise they end in `from`, which serves as the groups' second
// buffer.
void sortCornersInGroups(FacetCorner* const from, FacetCorner* const to, std::size_t n, unsigned threads,
                         bool release, CornerCensus* census, CornerSpread& spread) {
    KeyGroups groups(from, n, threads, census, spread);
    runOnThreads(threads, [&](unsigned t) {
        constexpr std::size_t kReleaseStep = (std::size_t(4) << 20) / sizeof(FacetCorner);
        const std::size_t begin = partBegin(n, t, threads), end = partBegin(n, t + 1, threads);
        std::size_t released = begin;
        for (std::size_t i = begin; i < end; ++i) {
            readAhead(from, i, end);
            const uint32_t bin = KeyGroups::binOf(from[i]);
            // Past its group only when a census did not hold these corners.
            assert(groups.next(t, bin) < groups.endOfBin(bin));
            to[groups.next(t, bin)++] = from[i];
            if (release && i + 1 - released >= kReleaseStep) {
                releasePages(from + released, (i + 1 - released) * sizeof(FacetCorner));
                released = i + 1;
            }
        }
    });
    std::vector<uint32_t> order(groups.groups());
    for (uint32_t g = 0; g < order.size(); ++g)
        order[g] = g;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return groups.end(a) - groups.begin(a) > groups.end(b) - groups.begin(b);
    });
    // Released, `from` cannot serve as the second buffer: each thread takes a
    // buffer of the size of the first group it sorts, the largest it will
    // sort. The threads' first groups are different ones, so the largest
    // groups, one for each thread, hold room enough.
    std::size_t bufferRoom = 0;
    for (std::size_t r = 0; release && r < std::min<std::size_t>(threads, order.size()); ++r)
        bufferRoom += groups.end(order[r]) - groups.begin(order[r]);
    std::vector<FacetCorner> buffers(bufferRoom);
    std::atomic<std::size_t> bufferTaken{0};
    FacetCorner* const sorted = release ? to : from;
    std::atomic<std::size_t> next{0};
    runOnThreads(threads, [&](unsigned) {
        FacetCorner* buffer = nullptr;
        for (std::size_t r = next++; r < order.size(); r = next++) {
            const std::size_t b = groups.begin(order[r]), m = groups.end(order[r]) - b;
            if (release && buffer == nullptr)
                buffer = buffers.data() + bufferTaken.fetch_add(m);
            const FacetCorner* result = sortRangeByX(to + b, release ? buffer : from + b, m);
            if (result != sorted + b)
                std::memcpy(sorted + b, result, m * sizeof(FacetCorner));
            sortEqualXRuns(sorted, b, b + m);
        }
    });
}

// Sorts the corners by x, then y, then z (sortCornersInGroups; a comparison
// sort for a few). Runs of equal x are short in all but flat, axis-aligned
// parts. Streaming passes instead of comparisons keep a million-facet weld at
// a fraction of a comparison sort. Corners with identical points come out in
// the order of the corner numbers, except inside runs of more than 16 equal
// (x, y), where the sort by z decides.
// `room`, when given, holds n corners and serves as the scatter buffer.
// Returns where the sorted corners are: in the corners' array, or (on one
// thread, or with `endInRoom`) in the room, the corners' array then holding
// nothing of use. The sort of many corners finds their spread on its way, or
// takes it (and its first counts) from `census` (of these corners, or null;
// used up).
FacetCorner* sortCorners(std::vector<FacetCorner>& corners, FacetCorner* room, bool endInRoom,
                         CornerCensus* census, CornerSpread& spread) {
    const std::size_t n = corners.size();
    if (n < kGroupSortFrom) {
        std::sort(corners.begin(), corners.end(),
                  [](const FacetCorner& a, const FacetCorner& b) { return cornerLess(a, b); });
        return corners.data();
    }
    const unsigned threads = importThreads(n);
    std::vector<FacetCorner> scratch(room ? 0 : n); // (not cleared: FacetCorner leaves its fields unset)
    FacetCorner* const to = room ? room : scratch.data();
    const bool release = threads == 1 || (room && endInRoom);
    sortCornersInGroups(corners.data(), to, n, threads, release, census, spread);
    if (room)
        return release ? room : corners.data();
    if (threads > 1)
        return corners.data();
    corners.swap(scratch);
    return corners.data();
}

// Crease angle of an import, in degrees.
constexpr double kImportCreaseAngle = 25.0;

// Cosine below which two unit normals meet at a crease.
inline double creaseCosine(double angleDegrees) { return std::cos(angleDegrees * 3.141592653 / 180.0); }

// Adds t to e; an edge that has just reached two triangles gets its crease
// class while both are in the cache, one that goes on to a third becomes
// class 3 and leaves the crease test, as in classifyEdges. Returns e's count
// of triangles, 0 when e was full (t not added).
inline uint32_t joinEdge(StlEdge* e, StlTriangle* t, double creaseLimit) {
    const uint32_t count = e->addTriangle(t);
    if (count == 2 && e->edgeClass == kEdgeSmooth)
        e->edgeClass = creaseLimit > e->triangle(0)->normal.dot(t->normal) ? kEdgeSharp : kEdgeSmooth;
    return count;
}

} // namespace

// ---- Facets and welding --------------------------------------------------------

void StlObject::reserveTriangles(uint32_t count, bool mapAhead) {
    // A reservation for an empty mesh is all that a reader (binary STL) or a
    // whole-mesh append is about to add: its records' pages are mapped ahead.
    // Later, stepwise reservations may outrun what comes and are not.
    const bool whole = m_records.triangles.empty();
    if (m_records.triangles.capacity() < m_records.triangles.size() + count) {
        m_records.triangles.reserve(m_records.triangles.size() + count);
    }
    m_records.trianglePool.reserve(count, whole && mapAhead);
}

int StlObject::addFacet(uint32_t* cornerCounter, const double reference[3], const float facet[12],
                        std::vector<FacetCorner>& corners, bool append, bool normalLater) {
    const float* p0 = facet + 3;
    const float* p1 = facet + 6;
    const float* p2 = facet + 9;
    // Only exact repeats are dropped here: the mesh's size, which scales the
    // weld tolerance, is not known before every facet is read. Corners that the
    // weld joins leave a triangle that edge building deletes.
    if (cornersCoincide(facet))
        return 0;
    const std::size_t n = m_records.triangles.size();
    if (n >= 1 && corners.size() >= 3 * n) {
        const FacetCorner* prev = &corners[3 * (n - 1)];
        if (sameFacet(cornerPoint(prev[0]), cornerPoint(prev[1]), cornerPoint(prev[2]), p0))
            return 0;
    }
    if (!append && corners.size() < static_cast<std::size_t>(*cornerCounter) + 3)
        return 0;

    StlTriangle* t = newTriangle();
    t->id = static_cast<int32_t>(n);
    m_records.triangles.push_back(t);
    // The records and corners are written in order.
    writeAhead(t);
    writeAhead(corners.data() + corners.size());
    const float* p[3] = {p0, p1, p2};
    if (append && corners.size() == *cornerCounter) {
        // The usual append: straight onto the end (no clearing of new slots).
        for (int k = 0; k < 3; ++k)
            corners.emplace_back(p[k][0], p[k][1], p[k][2], static_cast<int32_t>(3 * n + static_cast<std::size_t>(k)));
    } else {
        if (append)
            corners.resize(corners.size() + 3);
        for (int k = 0; k < 3; ++k) {
            FacetCorner& c = corners[*cornerCounter + static_cast<uint32_t>(k)];
            c.x = p[k][0];
            c.y = p[k][1];
            c.z = p[k][2];
            c.corner = static_cast<int32_t>(3 * n + static_cast<std::size_t>(k));
        }
    }
    *cornerCounter += 3;
    if (normalLater)
        return 0;

    double area = 0.0, volume = 0.0;
    if (!setFacetNormal(t, p0, p1, p2, reference, &area, &volume))
        return 0;
    ++m_measures.facetCount;
    m_measures.area += area;
    m_measures.volume += volume;
    return 0;
}


namespace {

// The spread of corners sorted by x: each part's extremes, then the parts' in
// order, starting from the first corner (the extremes of one pass over them,
// whatever they hold).
CornerSpread spreadOfSorted(const FacetCorner* const all, std::size_t cornerTotal, unsigned threads) {
    std::vector<CornerSpread> parts(threads);
    runOnThreads(threads, [&](unsigned t) {
        const std::size_t begin = partBegin(cornerTotal, t, threads), end = partBegin(cornerTotal, t + 1, threads);
        if (begin == end)
            return;
        CornerSpread part = CornerSpread::of(all[begin]);
        for (std::size_t i = begin; i < end; ++i)
            part.add(all[i]);
        parts[t] = part;
    });
    CornerSpread spread = CornerSpread::of(all[0]);
    for (const CornerSpread& part : parts)
        spread.merge(part);
    spread.found = true;
    return spread;
}

// The weld's tolerance scale for corners sorted by x: toleranceScaleFor the
// diagonal of their box. The x extent is the ends'; y and z come from the
// spread the sort found, or else from a pass over the sorted corners.
double weldScaleOf(const FacetCorner* const all, std::size_t cornerTotal, unsigned threads, CornerSpread spread) {
    if (!spread.found || spread.unordered)
        spread = spreadOfSorted(all, cornerTotal, threads);
    const double dx = static_cast<double>(all[cornerTotal - 1].x) - static_cast<double>(all[0].x);
    const double dy = static_cast<double>(spread.hi[0]) - static_cast<double>(spread.lo[0]);
    const double dz = static_cast<double>(spread.hi[1]) - static_cast<double>(spread.lo[1]);
    return StlObject::toleranceScaleFor(std::sqrt(dx * dx + dy * dy + dz * dz));
}

} // namespace

namespace {

// One thread's share of the weld: its runs of corners (one vertex each) and
// where its vertices and incident list slots begin among all parts'.
struct WeldPart {
    WeldRuns runs;
    std::size_t firstVertex = 0;
    std::size_t firstSlot = 0;
    std::size_t slots = 0; // incident list slots its vertices take
    bool capped = false;   // some run is longer than a vertex's list can be
};

// What the runs make: a part per thread, the vertex count, and the slots of
// every incident list, which one block holds.
struct WeldLayout {
    std::vector<WeldPart> parts;
    std::size_t vertexTotal = 0;
    std::size_t slots = 0;
    bool capped = false;
};

// A run of k corners gives its vertex room for k triangles (capped at the
// per-vertex limit).
void countSlots(WeldPart& part) {
    const std::vector<uint32_t>& runStart = part.runs.runStarts();
    part.slots = 0;
    part.capped = false;
    for (std::size_t r = 0; r + 1 < runStart.size(); ++r) {
        const std::size_t length = runStart[r + 1] - runStart[r];
        part.slots += std::min<std::size_t>(length, StlVertex::kMaxTriangles);
        part.capped = part.capped || length > StlVertex::kMaxTriangles;
    }
}

// Cuts the sorted corners into runs, one per vertex, on `threads` threads
// (WeldRuns): a corner that is near no earlier representative of its window
// starts the next vertex. Comparing with representatives (not with the
// neighbour) keeps a chain of near points from collapsing into one vertex. A
// corner whose x lies beyond the tolerance from the previous corner's starts
// a run whatever came before (the representatives lie at or below that x):
// each part's runs begin at the first such corner in it and go on to the next
// part's, so the parts find the runs of one pass. May regroup the corners.
WeldLayout findWeldRuns(FacetCorner* sorted, std::size_t cornerTotal, double scale, unsigned threads) {
    WeldLayout layout;
    layout.parts.reserve(threads);
    for (unsigned t = 0; t < threads; ++t)
        layout.parts.push_back(WeldPart{WeldRuns(sorted, scale)});
    runOnThreads(threads, [&](unsigned t) {
        WeldPart& part = layout.parts[t];
        const std::size_t partEnd = partBegin(cornerTotal, t + 1, threads);
        std::size_t i = partBegin(cornerTotal, t, threads);
        if (i > 0)
            while (i < cornerTotal && !part.runs.startsAnyRun(i))
                ++i;
        if (i >= partEnd)
            return; // the part before goes on to the first run of a part after
        part.runs.cut(i, partEnd, cornerTotal);
        countSlots(part);
    });
    // Rare (corners of one point that the order by x set apart): every part
    // has read the corners it needs before any is moved.
    for (WeldPart& part : layout.parts)
        if (part.runs.regroup())
            countSlots(part);
    for (WeldPart& part : layout.parts) {
        part.firstVertex = layout.vertexTotal;
        part.firstSlot = layout.slots;
        const std::size_t runBoundaries = part.runs.runStarts().size();
        layout.vertexTotal += runBoundaries == 0 ? 0 : runBoundaries - 1;
        layout.slots += part.slots;
        layout.capped = layout.capped || part.capped;
    }
    return layout;
}

// Makes the vertices of the weld's runs, part by part, and links every corner's
// triangle to its vertex: the triangle's vertex slot, the vertex's incident
// list (each triangle once) and, when asked, the corner's vertex number.
class WeldedVertexMaking {
public:
    struct Target {
        std::vector<Ref<StlVertex>>& vertices; // sized already; the new ones from firstIndex
        std::size_t firstIndex;
        StlVertex* records;      // slots for the new vertices, by number
        Ref<StlTriangle>* lists; // the incident list block
        const std::vector<Ref<StlTriangle>>& triangles;
        uint32_t* welded; // the corners' vertex numbers, or null
    };
    // The pages of the corners from `releaseFrom` on go back once passed
    // (cornerTotal: none do).
    WeldedVertexMaking(const FacetCorner* all, std::size_t cornerTotal, unsigned threads, std::size_t releaseFrom,
                       const Target& target)
        : m_all(all), m_cornerTotal(cornerTotal), m_threads(threads), m_releaseFrom(releaseFrom), m_to(target),
          m_triangleTotal(target.triangles.size()),
          m_firstTriangle(RecordIndex<StlTriangle>(target.triangles, threads).firstInOrder()) {}

    // One thread's part; the parts run at once.
    void makePart(const WeldPart& part);
    // Whether some corner named no triangle of the mesh.
    bool unnumbered() const { return m_unnumbered.load(); }

private:
    // Long runs on several threads: which corners' triangles came earlier in the run.
    struct RunScratch {
        std::vector<std::pair<uint32_t, uint32_t>> inRun; // (triangle, corner) of a long run
        std::vector<uint8_t> repeated;
    };
    static constexpr uint32_t kShortRunLength = 16;
    static constexpr std::size_t kMargin = 64; // corners a part reads ahead of its run

    void releasePassedCorners(uint32_t runBegin, std::size_t& releasedTo) const;
    void markRepeatedTriangles(uint32_t runBegin, uint32_t runEnd, RunScratch& scratch) const;
    void linkCorner(uint32_t i, uint32_t runBegin, bool shortRun, const RunScratch& scratch, StlVertex* v,
                    std::size_t number);
    StlTriangle* triangle(std::size_t ti) const {
        return m_firstTriangle ? const_cast<StlTriangle*>(m_firstTriangle) + ti : m_to.triangles[ti].get();
    }

    const FacetCorner* const m_all;
    const std::size_t m_cornerTotal;
    const unsigned m_threads;
    const std::size_t m_releaseFrom;
    const Target m_to;
    const std::size_t m_triangleTotal;
    // Triangle 0 when the triangles' records stand in array order (as a read
    // makes them): a corner's triangle is then found without reading the
    // array entry, a read from anywhere in it. Null otherwise.
    const StlTriangle* const m_firstTriangle;
    std::atomic<bool> m_unnumbered{false};
};

// The corners a part has passed are not read again (the part before reads up
// to this part's first run, and every part reads at most kMargin corners
// ahead): whole big pages of them go back, the rest of the last one with the
// next step.
void WeldedVertexMaking::releasePassedCorners(uint32_t runBegin, std::size_t& releasedTo) const {
    constexpr std::size_t kReleaseStep = (std::size_t(4) << 20) / sizeof(FacetCorner);
    if (m_releaseFrom >= m_cornerTotal || runBegin < releasedTo + kReleaseStep + kMargin)
        return;
    const std::size_t end = runBegin - kMargin;
    releasePages(const_cast<FacetCorner*>(m_all) + releasedTo, (end - releasedTo) * sizeof(FacetCorner));
    const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(m_all);
    const std::uintptr_t pageEnd = reinterpret_cast<std::uintptr_t>(m_all + end) & ~((std::uintptr_t(2) << 20) - 1);
    if (pageEnd > from)
        releasedTo = std::max(releasedTo, static_cast<std::size_t>((pageEnd - from) / sizeof(FacetCorner)));
}

// A triangle is listed twice only when two of its corners fall into one run:
// for a long run on several threads, marks the later corner of each such pair.
void WeldedVertexMaking::markRepeatedTriangles(uint32_t runBegin, uint32_t runEnd, RunScratch& scratch) const {
    scratch.inRun.clear();
    for (uint32_t i = runBegin; i < runEnd; ++i)
        scratch.inRun.push_back({static_cast<uint32_t>(m_all[i].corner) / 3, i - runBegin});
    std::sort(scratch.inRun.begin(), scratch.inRun.end());
    scratch.repeated.assign(runEnd - runBegin, 0);
    for (std::size_t m = 1; m < scratch.inRun.size(); ++m)
        if (scratch.inRun[m].first == scratch.inRun[m - 1].first)
            scratch.repeated[scratch.inRun[m].second] = 1;
}

void WeldedVertexMaking::linkCorner(uint32_t i, uint32_t runBegin, bool shortRun, const RunScratch& scratch,
                                    StlVertex* v, std::size_t number) {
    // The triangles come in corner order, far apart in memory: ask for the
    // array entries of the ones far ahead (unless the records stand in array
    // order), and for the records of the ones nearer ahead (their entries
    // have arrived by then).
    if (!m_firstTriangle && i + 64 < m_cornerTotal) {
        const uint32_t ahead = static_cast<uint32_t>(m_all[i + 64].corner) / 3;
        if (ahead < m_triangleTotal)
            __builtin_prefetch(&m_to.triangles[ahead]);
    }
    if (i + 32 < m_cornerTotal) {
        const uint32_t ahead = static_cast<uint32_t>(m_all[i + 32].corner) / 3;
        if (ahead < m_triangleTotal)
            __builtin_prefetch(triangle(ahead), 1);
    }
    const uint32_t corner = static_cast<uint32_t>(m_all[i].corner);
    const std::size_t ti = corner / 3;
    if (ti >= m_triangleTotal) {
        m_unnumbered.store(true, std::memory_order_relaxed);
        return;
    }
    StlTriangle* t = triangle(ti);
    const uint32_t slot = corner % 3;
    // The later corner of a triangle in this run finds the earlier one (on
    // one thread, in the triangle's other slots, which hold v only then).
    bool listed;
    if (m_threads == 1) {
        listed = t->vertices[(slot + 1) % 3] == v || t->vertices[(slot + 2) % 3] == v;
    } else if (shortRun) {
        listed = false;
        for (uint32_t j = runBegin; j < i && !listed; ++j)
            listed = static_cast<uint32_t>(m_all[j].corner) / 3 == ti;
    } else {
        listed = scratch.repeated[i - runBegin] != 0;
    }
    t->vertices[slot] = v;
    if (m_to.welded)
        m_to.welded[corner] = t->isDeleted() ? 0xFFFFFFFFu : static_cast<uint32_t>(number);
    if (!listed && !v->appendUnlisted(t))
        v->addTriangle(t);
}

void WeldedVertexMaking::makePart(const WeldPart& part) {
    Ref<StlTriangle>* lists = m_to.lists + part.firstSlot;
    RunScratch scratch;
    const std::vector<uint32_t>& runStart = part.runs.runStarts();
    std::size_t releasedTo = std::max<std::size_t>(runStart.empty() ? 0 : runStart.front() + kMargin, m_releaseFrom);
    for (std::size_t r = 0; r + 1 < runStart.size(); ++r) {
        const uint32_t runBegin = runStart[r], runEnd = runStart[r + 1];
        releasePassedCorners(runBegin, releasedTo);
        const FacetCorner& first = m_all[runBegin];
        const double pos[3] = {first.x, first.y, first.z};
        const std::size_t number = part.firstVertex + r;
        StlVertex* v = new (m_to.records + number) StlVertex(pos);
        v->index = static_cast<int32_t>(m_to.firstIndex + number);
        m_to.vertices[m_to.firstIndex + number] = v;
        const std::size_t runLength = std::min<std::size_t>(runEnd - runBegin, StlVertex::kMaxTriangles);
        v->useExternalList(lists, static_cast<uint32_t>(runLength));
        lists += runLength;
        const bool shortRun = runEnd - runBegin <= kShortRunLength;
        if (m_threads > 1 && !shortRun)
            markRepeatedTriangles(runBegin, runEnd, scratch);
        for (uint32_t i = runBegin; i < runEnd; ++i)
            linkCorner(i, runBegin, shortRun, scratch, v, number);
    }
}

} // namespace

namespace {

// The most threads on which a mesh fresh from a threaded weld still has its
// sides taken in triangle order through the chains. The threaded build does
// about twice the work (each side walks an incident list, and the records are
// passed twice), so on two threads it takes as long as the chained build on
// one, and on three it is done at most a little sooner on idle processors and
// no sooner on busy ones, for some 0.4 s more processor time at 5M facets.
// From four threads on it is done clearly sooner.
constexpr unsigned kChainedBuildThreads = 3;

} // namespace

// A big mesh welded from empty gets its edges next: the room of its edge
// records (one and a half per triangle when it is closed, the import session's)
// serves first as the sort's scatter buffer. Where the edges are then built
// on threads (an import that hands the weld's numbers over through its
// session) it holds the corners' vertex numbers next, so that those pages
// are mapped once, not three times. Otherwise (one thread, edges built on one
// after a weld on a few, or no session) the sorted corners end in the room
// (the corners' own array goes while they are sorted) and the edges take its
// front once the vertices are made.
int StlObject::weldFacetCorners(std::vector<FacetCorner>& corners, CornerCensus* census,
                                ImportSession* session) {
    const ImportLoadReading load; // the sort, its room and the vertices are sized by one count
    if (session)
        session->end();
    const bool useEdgeRoom =
        m_records.vertices.empty() && m_records.edges.empty() && m_records.edgePool.size() == 0;
    const std::size_t cornerTotal = corners.size();
    const std::size_t triangleTotal = m_records.triangles.size();
    const bool sortInRoom = useEdgeRoom && cornerTotal >= kGroupSortFrom;
    const bool sortOnThreads = importThreads(cornerTotal) > 1;
    // The edges are built on threads only from the numbers a session hands over.
    const bool edgesOnThreads = session && importThreads(triangleTotal) > kChainedBuildThreads;
    const bool sortedInRoom = sortInRoom && (!sortOnThreads || !edgesOnThreads);
    CornerSpread spread;
    void* const room =
        sortInRoom ? ImportSession::edgeRoom(m_records.edgePool, cornerTotal, triangleTotal) : nullptr;
    FacetCorner* const sorted =
        sortCorners(corners, static_cast<FacetCorner*>(room), sortedInRoom, census, spread);
    if (cornerTotal == 0)
        return 0;
    if (sorted != corners.data())
        std::vector<FacetCorner>().swap(corners);
    // Sorted into the corners' own array, the room holds at most their vertex
    // numbers until the edges are made there: the rest of its pages go back
    // now, so that they do not add to the vertices made next.
    if (sortInRoom && !sortedInRoom)
        ImportSession::releaseRoomPast(m_records.edgePool, cornerTotal, triangleTotal,
                                       cornerTotal * sizeof(uint32_t));
    m_measures.vertexCount = 0;
    const unsigned threads = importThreads(cornerTotal);
    const WeldLayout layout = findWeldRuns(sorted, cornerTotal, weldScaleOf(sorted, cornerTotal, threads, spread), threads);
    const std::size_t vertexTotal = layout.vertexTotal;

    Ref<StlTriangle>* const block = newIncidentBlock(layout.slots);
    const std::size_t firstIndex = m_records.vertices.size();
    if (m_records.vertices.capacity() < firstIndex + vertexTotal)
        m_records.vertices.reserve(firstIndex + vertexTotal);
    // A big mesh gives the passed corners' pages back while its vertices are
    // made, so that the corners and the new records do not peak together. Its
    // threads then map the new records' pages as they go; otherwise they are
    // mapped ahead, as the incident lists and the vertex array are filled from
    // their fronts.
    const bool release = threads > 1 && cornerTotal >= (std::size_t(1) << 18);
    PagePopulator populator;
    if (!release)
        populator.start({{block, layout.slots * sizeof(Ref<StlTriangle>)},
                         {m_records.vertices.data() + firstIndex, vertexTotal * sizeof(StlVertex*)}});
    m_records.vertices.resize(firstIndex + vertexTotal);
    StlVertex* const records = m_records.vertexPool.takeSlots(vertexTotal, !release);
    // The corners' vertex numbers for the edges built on threads.
    uint32_t* welded = nullptr;
    if (useEdgeRoom && !layout.capped && threads > 1 && cornerTotal == 3 * triangleTotal && edgesOnThreads &&
        vertexTotal < (std::size_t(1) << 31))
        welded = session->holdWeldedCorners(m_records.edgePool, cornerTotal, triangleTotal);
    // The corners passed go back: those in the room past the edges of a
    // closed mesh (read last), so that the vertices' records do not add to
    // the whole room, or, on threads, all of them in their own array.
    const std::size_t edgeBytes = (3 * triangleTotal) / 2 * sizeof(StlEdge);
    const std::size_t releaseFrom =
        sortedInRoom ? std::min(cornerTotal, (edgeBytes + sizeof(FacetCorner) - 1) / sizeof(FacetCorner))
        : release    ? 0
                     : cornerTotal;
    WeldedVertexMaking making(sorted, cornerTotal, threads, releaseFrom,
                              {m_records.vertices, firstIndex, records, block, m_records.triangles, welded});
    runOnThreads(threads, [&](unsigned t) { making.makePart(layout.parts[t]); });
    if (welded && making.unnumbered())
        session->dropWeldedCorners(); // some triangle's corner is missing
    // Sorted into the room, the corners are not read again: the rest of the
    // room's pages past the edges go back (the edges are made over the front).
    if (sortedInRoom)
        ImportSession::releaseRoomPast(m_records.edgePool, cornerTotal, triangleTotal, edgeBytes);
    m_measures.vertexCount = static_cast<uint32_t>(vertexTotal);
    return 0;
}

// ---- Edges -----------------------------------------------------------------------

namespace {

// The progress of a pass over n triangles, reported from `base` over `span`
// in steps of a percent (none when not asked for).
class TriangleProgress {
public:
    TriangleProgress(const ProgressMonitor& sink, bool report, uint32_t base, uint32_t span, std::size_t n)
        : m_sink(sink), m_report(report), m_base(base), m_step(span ? span : 1), m_stepSize(n / m_step),
          m_n(n) {}
    void passTriangle() {
        if (m_report && ++m_counter > m_stepSize) {
            m_counter = 0;
            m_sink.report(static_cast<int>(m_base + m_running / m_n) / 100.0);
        }
        m_running += m_step;
    }

private:
    const ProgressMonitor& m_sink;
    const bool m_report;
    const uint32_t m_base;
    const uint64_t m_step;
    const uint64_t m_stepSize;
    const std::size_t m_n;
    uint64_t m_running = 0;
    uint64_t m_counter = 0;
};

// The edge array and records as a build over n triangles makes them in side
// order: the array is sized for a closed mesh (1.5 edges per triangle) and
// grows with what is left; its pages are mapped ahead until it first grows.
class EdgeMaking {
public:
    EdgeMaking(RefArray<StlEdge>& edges, RecordPool<StlEdge>& pool, std::size_t n)
        : m_edges(edges), m_pool(pool), m_n(n) {
        m_edges = RefArray<StlEdge>();
        m_edges.reserve((3 * n) / 2);
        m_pool.reserve((3 * n) / 2, true);
        m_populator.start({{m_edges.data(), m_edges.capacity() * sizeof(StlEdge*)}});
    }
    // The new edge a-b of side k of triangle i, t, numbered next, with t as its
    // one triangle (class boundary).
    StlEdge* make(StlVertex* a, StlVertex* b, StlTriangle* t, std::size_t i, int k) {
        if (m_edges.size() >= m_edges.capacity()) {
            m_populator.stop();
            const std::size_t left = m_n - i;
            const std::size_t more =
                k == 0 ? left : static_cast<std::size_t>(1.8 * static_cast<double>(left));
            m_edges.reserve(m_edges.size() + std::max<std::size_t>(more, 1));
        }
        StlEdge* e = m_pool.create(a, b);
        writeAhead(e);
        e->addTriangle(t);
        e->index = static_cast<uint32_t>(m_edges.size());
        m_edges.push_back(e);
        return e;
    }

private:
    RefArray<StlEdge>& m_edges;
    RecordPool<StlEdge>& m_pool;
    const std::size_t m_n;
    PagePopulator m_populator;
};

// The shell search's table of neighbours (NeighbourEntries.h), written into
// the triangle records while the chained build joins the sides in triangle
// order: when a side joins the edge that an earlier triangle's side made,
// both triangles and the edge are at hand. Until some edge gets a third
// triangle, an edge of two triangles leads from each to the other (its class,
// smooth or sharp, is crossed either way) and an edge of one is a boundary;
// a triangle deleted at a later side of its own leaves the triangle across
// an earlier one without a neighbour there. A triangle's own entries and
// those it gives the triangles across wait until it has passed all its
// sides, so that a deleted triangle's record keeps its id and shell.
//
// The table is given up, and the records it wrote set back (id = index, no
// shell), when an edge gets a third triangle (which of its triangles lead
// across depends on which of them stay live), or when a record is not in
// array order or not as an import leaves it (id = index, no shell); the
// shell search then builds its table itself.
class TableInRecords {
public:
    // For the triangles of `triangles` (none deleted yet by the build: those
    // deleted before it are skipped) and `vertexCount` vertex records.
    TableInRecords(const std::vector<Ref<StlTriangle>>& triangles, std::size_t vertexCount)
        : m_triangles(triangles) {
        const std::size_t n = triangles.size();
        m_firstRaw = n ? triangles[0].raw() : 0;
        m_active = n != 0 && n <= neighbour::kMaxTriangles && (m_firstRaw & arena::kOutsideBit) == 0 &&
                   uint64_t(m_firstRaw) + uint64_t(n) * kTriangleUnits < arena::kOutsideBit;
        if (m_active)
            m_used.assign((vertexCount + 63) / 64, 0);
    }
    bool active() const { return m_active; }

    // Triangle i (live), t, comes next.
    void begin(std::size_t i, const StlTriangle* t) {
        m_joins = 0;
        if (m_active && (m_triangles[i].raw() != m_firstRaw + static_cast<uint32_t>(i * kTriangleUnits) ||
                         t->id != static_cast<int32_t>(i) || t->shell != nullptr))
            giveUp(i);
    }
    // t's side k has made its edge.
    void made(int k) { m_own[k] = neighbour::kBoundary; }
    // t's side k, of triangle i, has joined e, which now has `count`
    // triangles (0: e was full).
    void joined(std::size_t i, StlTriangle* t, int k, const StlEdge* e, uint32_t count) {
        if (!m_active)
            return;
        if (count != 2) {
            giveUp(i);
            return;
        }
        // The first triangle made the edge: it runs the side from the edge's
        // first vertex.
        const uint32_t uRaw = e->triangles()[0].raw();
        StlTriangle* u = e->triangle(0);
        const uint32_t against = t->vertices[k].raw() == e->vertices()[0].raw() ? neighbour::kAgainst : 0;
        m_own[k] = ((uRaw - m_firstRaw) / kTriangleUnits) | against;
        int uSide = 0;
        while (uSide < 2 && u->edges[uSide].get() != e)
            ++uSide;
        m_pending[m_joins++] = Pending{u, uSide, static_cast<uint32_t>(i) | against};
    }
    // The triangle, t, has been deleted after the sides it has joined so far
    // (one of which may have joined an edge that an earlier side of its own
    // made).
    void deleted(const StlTriangle* t) {
        if (!m_active)
            return;
        for (int j = 0; j < m_joins; ++j)
            if (m_pending[j].u != t)
                neighbour::storeOneInRecord(m_pending[j].u, m_pending[j].side, neighbour::kNone);
    }
    // The triangle, t, stays live with its three sides passed; its corners
    // are the vertex records `corners` (numbers in array order).
    void finish(StlTriangle* t, const std::size_t corners[3]) {
        if (!m_active)
            return;
        neighbour::storeInRecord(t, m_own);
        for (int j = 0; j < m_joins; ++j)
            neighbour::storeOneInRecord(m_pending[j].u, m_pending[j].side, m_pending[j].entry);
        for (int c = 0; c < 3; ++c)
            m_used[corners[c] >> 6] |= uint64_t(1) << (corners[c] & 63);
    }
    // The hand-over to the shell search once every triangle has passed.
    ShellTableHandover handOver() {
        ShellTableHandover table;
        if (m_active) {
            table.triangles = static_cast<uint32_t>(m_triangles.size());
            table.usedVertices = std::move(m_used);
        }
        m_active = false;
        return table;
    }

private:
    static constexpr uint32_t kTriangleUnits = sizeof(StlTriangle) / 8; // a reference counts units of eight bytes

    // Sets back the records of triangles [0, end) that the table has written.
    void giveUp(std::size_t end) {
        m_active = false;
        for (std::size_t j = 0; j < end; ++j) {
            StlTriangle* t = m_triangles[j];
            if (!t->isDeleted()) {
                t->id = static_cast<int32_t>(j);
                t->shell = nullptr;
            }
        }
        std::vector<uint64_t>().swap(m_used);
    }

    // An entry for a triangle across, written when the triangle at hand stays live.
    struct Pending {
        StlTriangle* u;
        int side;
        uint32_t entry;
    };
    const std::vector<Ref<StlTriangle>>& m_triangles;
    uint32_t m_firstRaw = 0;
    bool m_active = false;
    std::vector<uint64_t> m_used; // a bit per vertex record that a live triangle uses
    uint32_t m_own[3] = {0, 0, 0};
    Pending m_pending[3] = {};
    int m_joins = 0;
};

// The edges of the sides in triangle order, each side looked up among the
// edges made before it through a table of the vertices: every edge made is
// chained to the lower-numbered of its two ends (the table holds a vertex's
// newest edge; until the build ends, an edge's index field holds the reference
// of the edge chained before it). A side so reads a short table entry and the
// few edges of its lower end, made shortly before in a file whose facets come
// in order.
//
// A side finds the edge that a live triangle earlier in the array links at a
// side with the same two ends. Such an edge stays live with the triangle whose
// side made it, so a triangle deleted at a side whose ends are one vertex
// takes the edges its own earlier sides made out of their chains again. The
// chains hold every earlier side, also where a vertex is shared by more
// triangles than its incident list can hold. A vertex's table entry is found
// by arithmetic when the vertex records stand in array order (a mesh read from
// a file), else through the record's position in the array, and for a record
// that is not in the array through its reference.
//
// A vertex whose chain grows long (the hub of a fan: a finely divided cone or
// disc has tens of thousands of edges at one vertex) has its edges moved to a
// table by their two ends, so that a side there costs one lookup instead of a
// walk along every edge made at the hub before it.
class ChainedEdgeBuild {
public:
    ChainedEdgeBuild(const std::vector<Ref<StlVertex>>& vertices,
                     const std::vector<Ref<StlTriangle>>& triangles)
        : m_vertexIndex(vertices), m_triangles(triangles) {}

    // Whether the vertex records stand in array order.
    bool verticesInOrder() const { return m_vertexIndex.inOrder(); }
    // Links every side of the live triangles to its edge, made through `making`
    // into `edges`; a triangle with a side whose ends are one vertex is deleted
    // there. The edges have their numbers in their index fields when it returns.
    // With `table`, also writes the shell search's table into the records
    // (TableInRecords), to be handed over by the caller.
    void run(EdgeMaking& making, const RefArray<StlEdge>& edges, TriangleProgress& progress,
             double creaseLimit, TableInRecords* table);

private:
    static constexpr std::size_t kAhead = 16; // triangles whose table entries are fetched ahead

    // The table entry of the side a-b's lower end (the one of lower reference:
    // vertex records in array order have their references in that order).
    uint32_t& chainOf(uint32_t a, uint32_t b) {
        const uint32_t low = std::min(a, b);
        if (m_vertexIndex.inOrder()) {
            assert(low >= m_firstVertex && (low - m_firstVertex) / kVertexUnits < m_chains.size());
            return m_chains[(low - m_firstVertex) / kVertexUnits];
        }
        const std::size_t at = m_vertexIndex.of(Ref<StlVertex>::fromRaw(low));
        return at != RecordIndex<StlVertex>::npos ? m_chains[at] : m_strays[low];
    }
    // The edge joining a and b, found through the table entry `chain` of their
    // lower end, or null. A chain walked to its end past kLongChain edges goes
    // to the table by ends.
    StlEdge* findSide(uint32_t& chain, uint32_t a, uint32_t b) {
        if (__builtin_expect(chain == kInTable, 0))
            return findInTable(a, b);
        uint32_t walked = 0;
        for (uint32_t link = chain; link != 0; ++walked) {
            StlEdge* e = Ref<StlEdge>::fromRaw(link).get();
            const uint32_t e0 = e->vertices()[0].raw(), e1 = e->vertices()[1].raw();
            if ((e0 == a && e1 == b) || (e0 == b && e1 == a))
                return e;
            link = e->index;
        }
        if (walked > kLongChain)
            moveChainToTable(chain);
        return nullptr;
    }
    StlEdge* findInTable(uint32_t a, uint32_t b) const {
        const auto it = m_sides.find(sideKey(a, b));
        return it == m_sides.end() ? nullptr : Ref<StlEdge>::fromRaw(it->second).get();
    }
    // Files edge e (ends a, b) under the table entry `chain` of its lower end.
    void fileSide(uint32_t& chain, uint32_t a, uint32_t b, StlEdge* e) {
        if (chain == kInTable) {
            e->index = 0;
            m_sides.emplace(sideKey(a, b), Ref<StlEdge>(e).raw());
            return;
        }
        e->index = chain;
        chain = Ref<StlEdge>(e).raw();
    }
    void moveChainToTable(uint32_t& chain) {
        for (uint32_t link = chain; link != 0;) {
            StlEdge* e = Ref<StlEdge>::fromRaw(link).get();
            m_sides.emplace(sideKey(e->vertices()[0].raw(), e->vertices()[1].raw()), link);
            link = e->index;
        }
        chain = kInTable;
    }
    static uint64_t sideKey(uint32_t a, uint32_t b) {
        return a < b ? (uint64_t(a) << 32 | b) : (uint64_t(b) << 32 | a);
    }
    // The sides of every triangle; the table written when writesTable (then not null).
    template <bool writesTable>
    void linkSides(EdgeMaking& making, TriangleProgress& progress, double creaseLimit, TableInRecords* written);
    void fetchAhead(std::size_t i);
    // Takes the edges made by the first sides of t (bits of `made`) out of their chains.
    void unchainMade(const StlTriangle* t, uint32_t made);

    static constexpr uint32_t kVertexUnits = sizeof(StlVertex) / 8; // a reference counts units of eight bytes
    // A table entry whose vertex has its edges in m_sides. No edge has this
    // reference: the edges are pool records, inside the record window.
    static constexpr uint32_t kInTable = 0xFFFFFFFFu;
    static constexpr uint32_t kLongChain = 32;
    const RecordIndex<StlVertex> m_vertexIndex;
    const std::vector<Ref<StlTriangle>>& m_triangles;
    uint32_t m_firstVertex = 0;
    std::vector<uint32_t> m_chains; // per vertex: the reference of its newest edge (0 for none)
    std::unordered_map<uint32_t, uint32_t> m_strays; // the same for vertices outside the array
    std::unordered_map<uint64_t, uint32_t> m_sides;  // the edges of long chains, by their ends (sideKey)
};

// The triangles are read in array order and their records follow one
// another: fetch the records far ahead, the table entries of their sides some
// triangles ahead, and the newest edge of each a few triangles later.
void ChainedEdgeBuild::fetchAhead(std::size_t i) {
    const std::size_t n = m_triangles.size();
    if (i + 4 * kAhead < n)
        __builtin_prefetch(m_triangles[i + 4 * kAhead].get(), 1);
    if (i + kAhead < n) {
        const StlTriangle* t = m_triangles[i + kAhead];
        const uint32_t v0 = t->vertices[0].raw(), v1 = t->vertices[1].raw(), v2 = t->vertices[2].raw();
        __builtin_prefetch(&chainOf(v0, v1));
        __builtin_prefetch(&chainOf(v1, v2));
        __builtin_prefetch(&chainOf(v2, v0));
    }
    if (i + kAhead / 2 < n) {
        const StlTriangle* t = m_triangles[i + kAhead / 2];
        const uint32_t v0 = t->vertices[0].raw(), v1 = t->vertices[1].raw(), v2 = t->vertices[2].raw();
        for (const uint32_t newest : {chainOf(v0, v1), chainOf(v1, v2), chainOf(v2, v0)})
            if (newest != 0 && newest != kInTable)
                __builtin_prefetch(Ref<StlEdge>::fromRaw(newest).get());
    }
}

void ChainedEdgeBuild::unchainMade(const StlTriangle* t, uint32_t made) {
    for (int k = 0; k < 3; ++k) {
        if (!(made >> k & 1u))
            continue;
        const uint32_t own = t->edges[k].raw();
        const uint32_t a = t->vertices[k].raw(), b = t->vertices[(k + 1) % 3].raw();
        uint32_t* link = &chainOf(a, b);
        if (*link == kInTable) {
            m_sides.erase(sideKey(a, b));
            continue;
        }
        while (*link != own)
            link = &Ref<StlEdge>::fromRaw(*link).get()->index;
        *link = t->edges[k]->index;
    }
}

void ChainedEdgeBuild::run(EdgeMaking& making, const RefArray<StlEdge>& edges, TriangleProgress& progress,
                           double creaseLimit, TableInRecords* table) {
    if (m_vertexIndex.inOrder())
        m_firstVertex = Ref<StlVertex>(const_cast<StlVertex*>(m_vertexIndex.firstInOrder())).raw();
    m_chains.assign(m_vertexIndex.size(), 0);
    if (table && table->active())
        linkSides<true>(making, progress, creaseLimit, table);
    else
        linkSides<false>(making, progress, creaseLimit, nullptr);
    std::vector<uint32_t>().swap(m_chains);
    m_strays.clear();
    m_sides.clear();
    for (std::size_t i = 0; i < edges.size(); ++i)
        edges[i]->index = static_cast<uint32_t>(i);
}

template <bool writesTable>
void ChainedEdgeBuild::linkSides(EdgeMaking& making, TriangleProgress& progress, double creaseLimit,
                                 TableInRecords* written) {
    const std::size_t n = m_triangles.size();
    for (std::size_t i = 0; i < n; ++i) {
        progress.passTriangle();
        fetchAhead(i);
        StlTriangle* t = m_triangles[i];
        if (t->isDeleted())
            continue;
        if (writesTable)
            written->begin(i, t);
        uint32_t made = 0;
        for (int k = 0; k < 3; ++k) {
            const uint32_t a = t->vertices[k].raw(), b = t->vertices[(k + 1) % 3].raw();
            if (a == b) {
                // Two corners welded into one vertex: no side, no triangle.
                t->setDeleted(true);
                unchainMade(t, made);
                if (writesTable)
                    written->deleted(t);
                break;
            }
            uint32_t& chain = chainOf(a, b);
            StlEdge* e = findSide(chain, a, b);
            if (e) {
                const uint32_t count = joinEdge(e, t, creaseLimit);
                if (writesTable)
                    written->joined(i, t, k, e, count);
            } else {
                e = making.make(t->vertices[k], t->vertices[(k + 1) % 3], t, i, k);
                fileSide(chain, a, b, e);
                made |= 1u << k;
                if (writesTable)
                    written->made(k);
            }
            t->edges[k] = e;
        }
        if (writesTable && !t->isDeleted() && written->active()) {
            std::size_t corners[3];
            for (int c = 0; c < 3; ++c)
                corners[c] = (t->vertices[c].raw() - m_firstVertex) / kVertexUnits;
            written->finish(t, corners);
        }
    }
}

} // namespace

// A big mesh fresh from a weld on more than three threads has its sides decided
// on threads (buildEdgesOnThreads); otherwise they are taken in triangle order
// through the vertices' chains of edges (ChainedEdgeBuild). Both give the same
// edges, lists and classes; the threaded build reads the incident lists, so
// the weld hands its corners' vertex numbers over only while no list is full.
int StlObject::buildEdges(bool report, uint32_t progressBase, uint32_t progressSpan,
                          const ProgressMonitor* progress, AfterEdges after, ImportSession* session) {
    const ImportLoadReading load;
    const ProgressMonitor& sink = monitorOrDialog(progress);
    const std::size_t n = m_records.triangles.size();
    // The corners' vertex numbers the weld left, if any.
    const uint32_t* welded = session ? session->endTakingWeldedCorners(m_records.edgePool) : nullptr;
    // Where the shell search's table goes, when the build leaves it.
    ImportSession* const shellTable = after == AfterEdges::FindShells ? session : nullptr;
    if (n == 0)
        return 0;
    const unsigned threads = importThreads(n);
    if (welded && threads > kChainedBuildThreads) {
        if (report)
            sink.report(progressBase / 100.0);
        if (buildEdgesOnThreads(threads, welded, shellTable)) {
            if (report)
                sink.report((progressBase + progressSpan) / 100.0);
            return 0;
        }
    }
    EdgeMaking making(m_records.edges, m_records.edgePool, n);
    TriangleProgress steps(sink, report, progressBase, progressSpan, n);
    const double creaseLimit = creaseCosine(kImportCreaseAngle);
    ChainedEdgeBuild chained(m_records.vertices, m_records.triangles);
    // On up to kChainedBuildThreads threads the shell search takes the table
    // written here, for vertex records in array order (a mesh read from a
    // file), whose used ones it then knows by their numbers; on more it fills
    // a table of its own side by side. Its own table would cost a third more
    // processor time and twelve bytes a triangle more memory, for the same
    // wall time on two threads and a few percent less on three idle ones.
    if (shellTable && threads <= kChainedBuildThreads && chained.verticesInOrder()) {
        TableInRecords table(m_records.triangles, m_records.vertices.size());
        chained.run(making, m_records.edges, steps, creaseLimit, &table);
        shellTable->holdShellTable(table.handOver());
    } else {
        chained.run(making, m_records.edges, steps, creaseLimit, nullptr);
    }
    // The crease classes were given on the way, when each edge reached its second
    // triangle: the result of classifyEdges(kImportCreaseAngle) without another
    // pass over every edge and its two triangles.
    return 0;
}

namespace {

constexpr uint32_t kNoEntry = 0xFFFFFFFFu;      // a side that is not walked; a corner without vertex
constexpr uint32_t kMakerMask = (1u << 30) - 1; // the making side in a side's entry

// The threaded edge build of a mesh fresh from the weld, pass by pass (the
// order and the reasons are in buildEdgesOnThreads). It reads the corners'
// vertex numbers the weld left and the vertices' complete incident lists, and
// keeps one integer per side in the triangles' empty edge slots.
class ThreadedEdgeBuild {
public:
    // Pass 1's result for a side: the side that makes its edge and its place in
    // the edge's triangle list (0, 1, or 2 for any later place).
    static uint32_t sideEntry(uint32_t maker, uint32_t place) {
        return (std::min<uint32_t>(place, 2) << 30) | maker;
    }
    // Whether a walked side's entry makes the side's edge: place 0 (pass 1
    // gives place 0 only to a side that makes its edge), or the link of a
    // making side on a chain, place 3 once another side took the edge.
    static bool isMakingEntry(uint32_t entry) {
        const uint32_t place = entry >> 30;
        return place == 0 || place == 3;
    }

    ThreadedEdgeBuild(const std::vector<Ref<StlVertex>>& vertices,
                      const std::vector<Ref<StlTriangle>>& triangles, const uint32_t* corner,
                      unsigned threads)
        : m_vertices(vertices), m_corner(corner), m_n(triangles.size()), m_threads(threads),
          m_first(triangles.front().get()), m_entries(m_first) {}

    // Whether the triangle records lie in array order in one block (a
    // triangle's number then follows from its address).
    bool recordsInArrayOrder(const std::vector<Ref<StlTriangle>>& triangles);
    // Whether the triangles around a vertex lie far apart in the array (a file
    // whose facets come in no particular order), judged on a sample.
    bool trianglesScattered() const;

    // Pass 1, in triangle order or vertex by vertex: every side's entry.
    // Returns the making sides per part of the triangles, as makers[t + 1].
    std::vector<std::size_t> decideSidesInTriangleOrder();
    std::vector<std::size_t> decideSidesByVertex();
    // False when a list named a triangle the build does not know (its slots
    // must then be emptied: clearEntries).
    bool usable() const { return m_usable.load(); }
    void clearEntries();

    // Pass 2: the making sides make the edge records `records[makers[t]...]`
    // (makers summed up to part t) with their first triangle, in side order,
    // and mark themselves in the triangle's walk mark.
    void makeEdgeRecords(const std::vector<std::size_t>& makers, StlEdge* records, std::vector<Ref<StlEdge>>& edges);

    // Passes 2 and 3 in one, in triangle order, for triangles whose sides
    // mostly have their making side in the same part (a file whose facets
    // come in order): each part makes its making sides' edges as
    // makeEdgeRecords does and links its other sides in side order, except
    // those whose making side lies in an earlier part (another thread makes
    // that edge); these are linked afterwards, part by part in side order,
    // which keeps each edge's triangle list in side order.
    void buildInTriangleOrder(const std::vector<std::size_t>& makers, StlEdge* records,
                              std::vector<Ref<StlEdge>>& edges, double creaseLimit);

    // Asks buildInTriangleOrder to write the shell search's table into the
    // records as it links the sides, as the chained build does
    // (TableInRecords): each side joined to its edge's making side is the
    // neighbour of that side while both triangles are at hand. Only for
    // vertex records in array order from `firstVertex` (`vertexCount` of
    // them, as a weld into an empty mesh makes them).
    void writeShellTable(const StlVertex* firstVertex, std::size_t vertexCount);
    // The table once the build is done, or an empty hand-over when some
    // record could not hold it (a triangle deleted by the build, an edge of
    // more than two triangles, a record not fresh from the read): the
    // records then hold their ids and shells as before.
    ShellTableHandover shellTable();

    // Pass 3 (after makeEdgeRecords), vertex by vertex: the other sides are
    // linked to their edges; the sides at place 2 or later come out in
    // later[0], sorted.
    void linkSidesByVertex(double creaseLimit, std::vector<std::vector<uint32_t>>& later);
    // Adds the later sides' triangles to their edges in the order given.
    void addLaterSides(const std::vector<std::vector<uint32_t>>& later);

private:
    struct Earlier {
        uint32_t triangle;
        uint32_t sides;
    };

    std::size_t numberOf(const StlTriangle* t) const {
        return static_cast<std::size_t>(reinterpret_cast<const char*>(t) - reinterpret_cast<const char*>(m_first)) /
               sizeof(StlTriangle);
    }
    StlTriangle* triangleAt(std::size_t i) const { return m_first + i; }
    // fetch(vertex number) for each corner of triangle i that has a vertex.
    template <typename Fetch>
    void fetchCorners(std::size_t i, const Fetch& fetch) const {
        for (uint32_t k = 0; k < 3; ++k)
            if (const uint32_t c = m_corner[3 * i + k]; c != kNoEntry)
                fetch(c);
    }
    // Sides buildEdges walks in triangle i: up to the first whose ends are one vertex.
    uint32_t walkedSides(std::size_t i) const {
        const uint32_t* c = &m_corner[3 * i];
        if (c[0] == kNoEntry)
            return 0;
        return c[0] == c[1] ? 0 : c[1] == c[2] ? 1 : c[2] == c[0] ? 2 : 3;
    }
    bool joins(std::size_t i, uint32_t j, uint32_t a, uint32_t b) const {
        const uint32_t s0 = m_corner[3 * i + j], s1 = m_corner[3 * i + (j == 2 ? 0 : j + 1)];
        return (s0 == a && s1 == b) || (s0 == b && s1 == a);
    }
    bool decideSide(std::size_t i, uint32_t k, std::vector<Earlier>& earlier);
    std::size_t decideTriangle(std::size_t i, std::vector<Earlier>& earlier);

    // Pass 1 in triangle order takes most sides through chains instead of
    // lists (decideSidesInTriangleOrder). A vertex whose triangles all lie in
    // one part chains the sides that make the edges it holds: those whose
    // lower end it is, or whose lower end is shared between parts. Every side
    // of such an edge lies in that part. The making side of each chained edge
    // keeps, in its entry, the next making side on the chain and whether
    // another side has taken the edge (kTakenOnChain): its entry as a making
    // side is its place 0, or 3 when taken (isMakingEntry).
    static constexpr uint32_t kSharedEnd = 0xFFFFFFFEu;  // triangles in more than one part
    static constexpr uint32_t kCrowdedEnd = 0xFFFFFFFDu; // more edges than a chain walks
    static constexpr uint32_t kChainEnd = kMakerMask - 1; // an empty chain; the last side of one
    static constexpr uint32_t kTakenOnChain = 3u << 30;
    static constexpr uint32_t kLongChain = 32;
    // Every vertex's chain empty, or kSharedEnd; none when there is no room.
    void findChainStates();
    // Side k of triangle i on the chains: the chain of its edge (null when
    // the edge's sides are decided from the lists), the edge's chained making
    // side (kChainEnd when none) and the sides the walk passed.
    struct OnChain {
        uint32_t* chain = nullptr;
        uint32_t maker = kChainEnd;
        uint32_t walked = 0;
    };
    OnChain lookUpOnChain(std::size_t i, uint32_t k) const;
    // Pass 1 over the triangles [begin, end) of a part: through the chains,
    // or every side from the lists. Returns the making sides.
    std::size_t decidePartOnChains(std::size_t begin, std::size_t end, std::vector<Earlier>& earlier);
    std::size_t decidePartFromLists(std::size_t begin, std::size_t end, std::vector<Earlier>& earlier);
    // Decides side k of triangle i, a live one (its three sides walked).
    bool decideChained(std::size_t i, uint32_t k, std::vector<Earlier>& earlier);
    // Counts the walked sides of triangle i (not live) on their edges' chains.
    void countOnChains(std::size_t i, uint32_t walked);
    void linkTriangle(std::size_t i, double creaseLimit, std::vector<uint32_t>& laterSides);
    // Makes the edge of side k of tri, with tri as its first triangle, in
    // `record`: edge number `number`.
    static void makeEdge(StlEdge* record, StlTriangle* tri, uint32_t k, uint32_t number,
                         std::vector<Ref<StlEdge>>& edges) {
        StlEdge* e = new (record) StlEdge(tri->vertices[k], tri->vertices[k == 2 ? 0 : k + 1]);
        e->addTriangle(tri);
        e->index = number;
        edges[number] = e;
        tri->edges[k] = e;
    }
    // A triangle with a side that is not walked is deleted: no edges from it on.
    static void deleteFromSide(StlTriangle* tri, uint32_t k) {
        tri->setDeleted(true); // (already so when it was deleted before)
        for (uint32_t j = k; j < 3; ++j)
            tri->edges[j] = nullptr;
    }

    // The entries of side k of triangle i, joined to edge e made by side
    // `maker`, and of that side: each names the other's triangle.
    void joinInTable(std::size_t i, uint32_t k, const StlEdge* e, uint32_t maker, uint32_t info);
    // Sets the records of the triangles that passed the table's check in
    // part t back to their ids and no shell (as they were).
    void restoreRecords(unsigned t);

    const std::vector<Ref<StlVertex>>& m_vertices;
    const uint32_t* const m_corner; // the corners' vertex numbers
    const std::size_t m_n;           // triangles
    const unsigned m_threads;
    StlTriangle* const m_first;
    const ImportSession::SideEntries m_entries;
    std::atomic<bool> m_usable{true};
    // The shell search's table (writeShellTable): whether it is written and
    // still whole, per part the end of the triangles whose records it has
    // checked and the vertices its live triangles use (a bit per vertex).
    bool m_tableWritten = false;
    std::atomic<bool> m_tableWhole{false};
    std::vector<std::size_t> m_tableChecked;
    std::vector<std::vector<uint64_t>> m_tableUsed;
    const StlVertex* m_tableFirstVertex = nullptr;
    // Per vertex while pass 1 runs in triangle order: the newest side on its
    // chain, or one of the k...End states.
    std::unique_ptr<uint32_t[]> m_chainOf;
};

bool ThreadedEdgeBuild::recordsInArrayOrder(const std::vector<Ref<StlTriangle>>& triangles) {
    std::atomic<bool> inOrder{true};
    runOnThreads(m_threads, [&](unsigned t) {
        const std::size_t end = partBegin(m_n, t + 1, m_threads);
        for (std::size_t i = partBegin(m_n, t, m_threads); i < end; ++i)
            if (triangles[i] != triangleAt(i)) {
                inOrder.store(false, std::memory_order_relaxed);
                return;
            }
    });
    return inOrder.load();
}

bool ThreadedEdgeBuild::trianglesScattered() const {
    constexpr std::size_t kSamples = 1024;
    constexpr uint32_t kSampledPerList = 32;
    const std::size_t window = std::min<std::size_t>(std::max<std::size_t>(m_n / 64, 64), 65536);
    std::size_t near = 0, far = 0;
    for (std::size_t i = 0; i < m_n; i += std::max<std::size_t>(1, m_n / kSamples)) {
        if (m_corner[3 * i] == kNoEntry)
            continue;
        // The first few of a list are sample enough (the hub of a fan has
        // tens of thousands).
        const StlVertex& v = *m_vertices[m_corner[3 * i]];
        const uint32_t sampled = std::min<uint32_t>(v.triangleCount(), kSampledPerList);
        for (uint32_t j = 0; j < sampled; ++j) {
            const std::size_t ui = numberOf(v.begin()[j]);
            (ui + window > i && ui < i + window ? near : far) += 1;
        }
    }
    return far > near;
}

// Decides the entry of side k of triangle i, a walked side, looking for the
// triangles with both its ends in the list of its first end, or in the other
// end's when the first end's is long and that one shorter (every such triangle
// is in both: the lists are complete here), so that the sides round the hub of
// a fan do not each read the hub's whole list; true when the side makes its
// edge.
bool ThreadedEdgeBuild::decideSide(std::size_t i, uint32_t k, std::vector<Earlier>& earlier) {
    const uint32_t a = m_corner[3 * i + k], b = m_corner[3 * i + (k == 2 ? 0 : k + 1)];
    earlier.clear();
    std::size_t firstLive = kNoEntry;
    uint32_t firstLiveSide = 0;
    const bool fromB = StlVertex::readsFarEnd(*m_vertices[a], *m_vertices[b]);
    const uint32_t other = fromB ? a : b;
    for (const StlTriangle* u : *m_vertices[fromB ? b : a]) {
        const std::size_t ui = numberOf(u);
        if (ui >= i) {
            if (ui >= m_n)
                m_usable.store(false, std::memory_order_relaxed);
            continue;
        }
        // u has one end; most do not have the other.
        const uint32_t* uc = &m_corner[3 * ui];
        if (uc[0] != other && uc[1] != other && uc[2] != other)
            continue;
        const uint32_t uWalked = walkedSides(ui);
        uint32_t count = 0, first = 0;
        for (uint32_t j = 0; j < uWalked; ++j)
            if (joins(ui, j, a, b) && count++ == 0)
                first = j;
        if (count == 0)
            continue;
        earlier.push_back({static_cast<uint32_t>(ui), count});
        if (uWalked == 3 && (firstLive == kNoEntry || ui < firstLive)) {
            firstLive = ui;
            firstLiveSide = first;
        }
    }
    uint32_t own = 0, ownFirst = 0;
    for (uint32_t j = 0; j < k; ++j)
        if (joins(i, j, a, b) && own++ == 0)
            ownFirst = j;
    uint32_t maker, place = own;
    if (firstLive != kNoEntry) {
        maker = static_cast<uint32_t>(3 * firstLive + firstLiveSide);
        for (const Earlier& e : earlier)
            if (e.triangle >= firstLive)
                place += e.sides;
    } else {
        maker = static_cast<uint32_t>(3 * i + (own ? ownFirst : k));
    }
    m_entries.set(3 * i + k, sideEntry(maker, place));
    return maker == 3 * i + k;
}

// Decides the entries of triangle i's sides; returns how many make their edge.
std::size_t ThreadedEdgeBuild::decideTriangle(std::size_t i, std::vector<Earlier>& earlier) {
    std::size_t made = 0;
    const uint32_t walked = walkedSides(i);
    for (uint32_t k = walked; k < 3; ++k)
        m_entries.set(3 * i + k, kNoEntry);
    for (uint32_t k = 0; k < walked; ++k)
        made += decideSide(i, k, earlier);
    return made;
}

std::vector<std::size_t> ThreadedEdgeBuild::decideSidesInTriangleOrder() {
    findChainStates();
    std::vector<std::size_t> makers(m_threads + 1, 0);
    runOnThreads(m_threads, [&](unsigned t) {
        std::vector<Earlier> earlier;
        const std::size_t begin = partBegin(m_n, t, m_threads), end = partBegin(m_n, t + 1, m_threads);
        makers[t + 1] = m_chainOf ? decidePartOnChains(begin, end, earlier) : decidePartFromLists(begin, end, earlier);
    });
    m_chainOf.reset();
    return makers;
}

std::size_t ThreadedEdgeBuild::decidePartOnChains(std::size_t begin, std::size_t end, std::vector<Earlier>& earlier) {
    std::size_t made = 0;
    for (std::size_t i = begin; i < end; ++i) {
        // The vertices lie in welding order: fetch the chains of a
        // triangle's vertices some steps ahead.
        if (i + 8 < end)
            fetchCorners(i + 8, [&](uint32_t c) { __builtin_prefetch(&m_chainOf[c]); });
        const uint32_t walked = walkedSides(i);
        if (walked < 3) {
            made += decideTriangle(i, earlier);
            countOnChains(i, walked);
            continue;
        }
        for (uint32_t k = 0; k < 3; ++k)
            made += decideChained(i, k, earlier);
    }
    return made;
}

std::size_t ThreadedEdgeBuild::decidePartFromLists(std::size_t begin, std::size_t end, std::vector<Earlier>& earlier) {
    std::size_t made = 0;
    for (std::size_t i = begin; i < end; ++i) {
        // Fetch the array entries of a triangle's vertices far ahead, the
        // vertices some steps ahead, then their lists a little later.
        if (i + 16 < end)
            fetchCorners(i + 16, [&](uint32_t c) { __builtin_prefetch(&m_vertices[c]); });
        if (i + 8 < end)
            fetchCorners(i + 8, [&](uint32_t c) { __builtin_prefetch(m_vertices[c]); });
        if (i + 4 < end)
            fetchCorners(i + 4, [&](uint32_t c) { __builtin_prefetch(m_vertices[c]->triangles()); });
        made += decideTriangle(i, earlier);
    }
    return made;
}

void ThreadedEdgeBuild::findChainStates() {
    const std::size_t vertexTotal = m_vertices.size();
    try {
        m_chainOf.reset(new uint32_t[vertexTotal]);
    } catch (const std::bad_alloc&) {
        return; // every side from the lists
    }
    std::vector<std::size_t> bounds(m_threads + 1);
    for (unsigned t = 0; t <= m_threads; ++t)
        bounds[t] = partBegin(m_n, t, m_threads);
    forRanges(vertexTotal, m_threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t v = begin; v < end; ++v) {
            if (v + 4 < end)
                __builtin_prefetch(m_vertices[v + 4]->triangles());
            std::size_t lowest = m_n, highest = 0;
            for (const StlTriangle* u : *m_vertices[v]) {
                const std::size_t ui = numberOf(u);
                lowest = std::min(lowest, ui);
                highest = std::max(highest, ui);
            }
            uint32_t state = kSharedEnd;
            if (highest >= m_n) {
                m_usable.store(false, std::memory_order_relaxed); // a triangle the build does not know
            } else if (lowest <= highest) {
                const std::size_t part = std::upper_bound(bounds.begin(), bounds.end(), lowest) - bounds.begin() - 1;
                if (highest < bounds[part + 1])
                    state = kChainEnd;
            }
            m_chainOf[v] = state;
        }
    });
}

ThreadedEdgeBuild::OnChain ThreadedEdgeBuild::lookUpOnChain(std::size_t i, uint32_t k) const {
    const uint32_t a = m_corner[3 * i + k], b = m_corner[3 * i + (k == 2 ? 0 : k + 1)];
    // The lower end's chain, or the upper end's where the lower one is shared.
    uint32_t v = std::min(a, b);
    if (m_chainOf[v] == kSharedEnd)
        v = std::max(a, b);
    OnChain at;
    if (m_chainOf[v] == kSharedEnd || m_chainOf[v] == kCrowdedEnd)
        return at;
    at.chain = &m_chainOf[v];
    for (uint32_t side = *at.chain; side != kChainEnd; ++at.walked) {
        if (joins(side / 3, side % 3, a, b)) {
            at.maker = side;
            break;
        }
        side = m_entries.get(side) & kMakerMask;
    }
    return at;
}

bool ThreadedEdgeBuild::decideChained(std::size_t i, uint32_t k, std::vector<Earlier>& earlier) {
    const OnChain at = lookUpOnChain(i, k);
    if (at.chain == nullptr)
        return decideSide(i, k, earlier);
    const uint32_t side = static_cast<uint32_t>(3 * i + k);
    if (at.maker != kChainEnd) {
        // A live triangle has one side at the edge: this is its second side
        // or a later one.
        const uint32_t link = m_entries.get(at.maker);
        m_entries.set(side, sideEntry(at.maker, (link & kTakenOnChain) == kTakenOnChain ? 2 : 1));
        m_entries.set(at.maker, link | kTakenOnChain);
        return false;
    }
    if (at.walked > kLongChain) {
        // A hub: its later edges are decided from the lists (those chained
        // so far keep their links).
        *at.chain = kCrowdedEnd;
        return decideSide(i, k, earlier);
    }
    m_entries.set(side, *at.chain);
    *at.chain = side;
    return true;
}

void ThreadedEdgeBuild::countOnChains(std::size_t i, uint32_t walked) {
    for (uint32_t k = 0; k < walked; ++k)
        if (const OnChain at = lookUpOnChain(i, k); at.chain != nullptr && at.maker != kChainEnd)
            m_entries.set(at.maker, m_entries.get(at.maker) | kTakenOnChain);
}

// The sides are taken vertex by vertex (each at its first end), so that the
// triangles around a vertex, whose corners every side there looks at, are
// taken together while those are at hand. The entries do not depend on the
// order they are decided in.
std::vector<std::size_t> ThreadedEdgeBuild::decideSidesByVertex() {
    const unsigned threads = m_threads;
    const std::size_t vertexTotal = m_vertices.size();
    std::vector<std::size_t> madeIn(static_cast<std::size_t>(threads) * threads, 0);
    auto partOf = [&](std::size_t i) {
        unsigned p = 0;
        while (p + 1 < threads && i >= partBegin(m_n, p + 1, threads))
            ++p;
        return p;
    };
    runOnThreads(threads, [&](unsigned t) {
        std::vector<Earlier> earlier;
        std::size_t* made = &madeIn[static_cast<std::size_t>(t) * threads];
        const std::size_t end = partBegin(vertexTotal, t + 1, threads);
        for (std::size_t v = partBegin(vertexTotal, t, threads); v < end; ++v) {
            if (v + 4 < end)
                __builtin_prefetch(m_vertices[v + 4]->triangles());
            if (v + 2 < end)
                for (const StlTriangle* u : *m_vertices[v + 2]) {
                    const std::size_t ui = numberOf(u);
                    if (ui < m_n)
                        __builtin_prefetch(&m_corner[3 * ui]);
                }
            // Each side at its first end: the triangles it looks at are v's
            // own, whose corners are at hand.
            for (const StlTriangle* u : *m_vertices[v]) {
                const std::size_t ui = numberOf(u);
                if (ui >= m_n) {
                    m_usable.store(false, std::memory_order_relaxed);
                    continue;
                }
                const uint32_t walked = walkedSides(ui);
                for (uint32_t k = 0; k < 3; ++k) {
                    if (m_corner[3 * ui + k] != v)
                        continue;
                    if (k >= walked)
                        m_entries.set(3 * ui + k, kNoEntry);
                    else if (decideSide(ui, k, earlier))
                        ++made[partOf(ui)];
                }
            }
        }
    });
    // Deleted triangles are in no list by their corner numbers.
    forRanges(m_n, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            if (m_corner[3 * i] == kNoEntry)
                for (uint32_t k = 0; k < 3; ++k)
                    m_entries.set(3 * i + k, kNoEntry);
    });
    std::vector<std::size_t> makers(threads + 1, 0);
    for (unsigned t = 0; t < threads; ++t)
        for (unsigned p = 0; p < threads; ++p)
            makers[p + 1] += madeIn[static_cast<std::size_t>(t) * threads + p];
    return makers;
}

void ThreadedEdgeBuild::clearEntries() {
    forRanges(m_n, m_threads, [&](std::size_t begin, std::size_t end) { m_entries.clear(begin, end); });
}

void ThreadedEdgeBuild::makeEdgeRecords(const std::vector<std::size_t>& makers, StlEdge* records,
                                        std::vector<Ref<StlEdge>>& edges) {
    runOnThreads(m_threads, [&](unsigned t) {
        uint32_t number = static_cast<uint32_t>(makers[t]);
        const std::size_t end = partBegin(m_n, t + 1, m_threads);
        for (std::size_t i = partBegin(m_n, t, m_threads); i < end; ++i) {
            StlTriangle* tri = triangleAt(i);
            uint32_t making = 0;
            for (uint32_t k = 0; k < 3; ++k) {
                if (m_entries.get(3 * i + k) != 3 * i + k) // not walked, or another side makes the edge
                    continue;
                makeEdge(records + number, tri, k, number, edges);
                ++number;
                making |= 1u << k;
            }
            tri->setWalkMark(making);
        }
    });
}

void ThreadedEdgeBuild::buildInTriangleOrder(const std::vector<std::size_t>& makers, StlEdge* records,
                                             std::vector<Ref<StlEdge>>& edges, double creaseLimit) {
    std::vector<std::vector<uint32_t>> fromEarlierPart(m_threads);
    runOnThreads(m_threads, [&](unsigned t) {
        uint32_t number = static_cast<uint32_t>(makers[t]);
        const std::size_t begin = partBegin(m_n, t, m_threads), end = partBegin(m_n, t + 1, m_threads);
        // A part writes the table into its own triangles' records only: a
        // side's making side lies in this part, or its entries wait below.
        uint64_t* used = m_tableWritten ? m_tableUsed[t].data() : nullptr;
        std::size_t checked = begin; // (kept here: the parts' ends share a cache line)
        for (std::size_t i = begin; i < end; ++i) {
            readAhead(m_first, i, end);
            StlTriangle* tri = triangleAt(i);
            // Every record up to `checked` holds its id and no shell before
            // the table is written (restoreRecords); one deleted before the
            // build gets no entries.
            bool table = m_tableWritten && m_tableWhole.load(std::memory_order_relaxed);
            if (table) {
                if (tri->id == static_cast<int32_t>(i) && tri->shell == nullptr) {
                    checked = i + 1;
                } else {
                    m_tableWhole.store(false, std::memory_order_relaxed);
                    table = false;
                }
            }
            table = table && !tri->isDeleted();
            for (uint32_t k = 0; k < 3; ++k) {
                const uint32_t side = static_cast<uint32_t>(3 * i + k);
                const uint32_t info = m_entries.get(side);
                if (info == kNoEntry) {
                    if (table)
                        m_tableWhole.store(false, std::memory_order_relaxed);
                    deleteFromSide(tri, k);
                    table = false;
                    break;
                }
                const uint32_t maker = info & kMakerMask;
                if (isMakingEntry(info)) {
                    makeEdge(records + number, tri, k, number, edges);
                    ++number;
                    if (table)
                        neighbour::storeOneInRecord(tri, static_cast<int>(k), neighbour::kBoundary);
                } else if (maker < 3 * begin) {
                    fromEarlierPart[t].push_back(side); // (the slot keeps the entry)
                } else {
                    StlEdge* e = m_entries.slot(maker); // made before, by this thread
                    tri->edges[k] = e;
                    joinEdge(e, tri, creaseLimit);
                    if (table)
                        joinInTable(i, k, e, maker, info);
                }
            }
            if (table)
                for (const Ref<StlVertex>& v : tri->vertices) {
                    const std::size_t number = static_cast<std::size_t>(v.get() - m_tableFirstVertex);
                    used[number >> 6] |= uint64_t(1) << (number & 63);
                }
        }
        if (m_tableWritten)
            m_tableChecked[t] = checked;
    });
    for (const std::vector<uint32_t>& sides : fromEarlierPart)
        for (const uint32_t side : sides) {
            const uint32_t info = m_entries.get(side);
            StlEdge* e = m_entries.slot(info & kMakerMask);
            m_entries.slot(side) = e;
            joinEdge(e, triangleAt(side / 3), creaseLimit);
            if (m_tableWritten && m_tableWhole.load(std::memory_order_relaxed))
                joinInTable(side / 3, side % 3, e, info & kMakerMask, info);
        }
}

void ThreadedEdgeBuild::joinInTable(std::size_t i, uint32_t k, const StlEdge* e, uint32_t maker, uint32_t info) {
    if (info >> 30 != 1) {
        m_tableWhole.store(false, std::memory_order_relaxed); // a third triangle at the edge
        return;
    }
    // The making side runs from the edge's first vertex: a side that runs
    // from it too meets it against the winding.
    StlTriangle* tri = triangleAt(i);
    const uint32_t against = tri->vertices[k].raw() == e->vertices()[0].raw() ? neighbour::kAgainst : 0;
    neighbour::storeOneInRecord(tri, static_cast<int>(k), static_cast<uint32_t>(maker / 3) | against);
    neighbour::storeOneInRecord(triangleAt(maker / 3), static_cast<int>(maker % 3), static_cast<uint32_t>(i) | against);
}

void ThreadedEdgeBuild::writeShellTable(const StlVertex* firstVertex, std::size_t vertexCount) {
    if (m_n > neighbour::kMaxTriangles || firstVertex == nullptr)
        return;
    try {
        m_tableChecked.assign(m_threads, 0); // each part sets its own
        m_tableUsed.assign(m_threads, std::vector<uint64_t>((vertexCount + 63) / 64, 0));
    } catch (const std::bad_alloc&) {
        m_tableUsed.clear();
        return; // the search fills a table of its own
    }
    m_tableWritten = true;
    m_tableFirstVertex = firstVertex;
    m_tableWhole.store(true);
}

void ThreadedEdgeBuild::restoreRecords(unsigned t) {
    for (std::size_t i = partBegin(m_n, t, m_threads); i < m_tableChecked[t]; ++i) {
        triangleAt(i)->id = static_cast<int32_t>(i);
        triangleAt(i)->shell = nullptr;
    }
}

ShellTableHandover ThreadedEdgeBuild::shellTable() {
    ShellTableHandover table;
    if (!m_tableWritten)
        return table;
    m_tableWritten = false;
    if (!m_tableWhole.load()) {
        runOnThreads(m_threads, [&](unsigned t) { restoreRecords(t); });
        m_tableUsed.clear();
        return table;
    }
    std::vector<uint64_t>& used = m_tableUsed[0];
    forRanges(used.size(), m_threads, [&](std::size_t begin, std::size_t end) {
        for (unsigned t = 1; t < m_threads; ++t)
            for (std::size_t w = begin; w < end; ++w)
                used[w] |= m_tableUsed[t][w];
    });
    table.triangles = static_cast<uint32_t>(m_n);
    table.usedVertices = std::move(used);
    m_tableUsed.clear();
    return table;
}

// Links triangle i's sides that do not make their edge; a triangle with a side
// whose ends were welded into one vertex is deleted.
void ThreadedEdgeBuild::linkTriangle(std::size_t i, double creaseLimit, std::vector<uint32_t>& laterSides) {
    StlTriangle* tri = triangleAt(i);
    const uint32_t making = tri->walkMark();
    tri->setWalkMark(0);
    for (uint32_t k = 0; k < 3; ++k) {
        if (making >> k & 1u)
            continue;
        const uint32_t info = m_entries.get(3 * i + k);
        if (info == kNoEntry) {
            deleteFromSide(tri, k);
            break;
        }
        StlEdge* e = m_entries.slot(info & kMakerMask); // the making side's edge
        tri->edges[k] = e;
        if (info >> 30 == 2)
            laterSides.push_back(static_cast<uint32_t>(3 * i + k));
        else
            joinEdge(e, tri, creaseLimit);
    }
}

// Vertex by vertex, as the sides were decided: a side's making side lies in a
// triangle next to it, at hand. Every triangle is in the incident list of its
// first vertex (lists are complete here) and is linked there.
void ThreadedEdgeBuild::linkSidesByVertex(double creaseLimit, std::vector<std::vector<uint32_t>>& later) {
    const std::size_t vertexTotal = m_vertices.size();
    runOnThreads(m_threads, [&](unsigned t) {
        const std::size_t end = partBegin(vertexTotal, t + 1, m_threads);
        for (std::size_t v = partBegin(vertexTotal, t, m_threads); v < end; ++v) {
            const StlVertex* vertex = m_vertices[v];
            if (v + 2 < end)
                __builtin_prefetch(m_vertices[v + 2]->triangles());
            for (const StlTriangle* u : *vertex)
                if (u->vertices[0] == vertex)
                    linkTriangle(numberOf(u), creaseLimit, later[t]);
        }
    });
    // The later sides are added in side order.
    std::vector<uint32_t>& all = later[0];
    for (unsigned t = 1; t < m_threads; ++t)
        all.insert(all.end(), later[t].begin(), later[t].end());
    std::sort(all.begin(), all.end());
    for (unsigned t = 1; t < m_threads; ++t)
        later[t].clear();
}

void ThreadedEdgeBuild::addLaterSides(const std::vector<std::vector<uint32_t>>& later) {
    for (const std::vector<uint32_t>& sides : later)
        for (const uint32_t side : sides)
            m_entries.slot(side)->addTriangle(triangleAt(side / 3));
}

} // namespace

// The sides that buildEdges walks in order, grouped by the pair of vertices
// they join: a side (triangle i, slot k) takes the edge of an earlier side of
// its pair when that side's triangle is i itself or a triangle that stays live
// (all of those share one edge), and makes a new edge otherwise; a triangle is
// walked up to its first side whose ends are one vertex, and is then deleted.
// Each pair is decided by the thread that owns its lower vertex, from that
// vertex's incident list; the edges are numbered in the order of the sides
// that make them and filled by the same threads, each edge's triangles in side
// order, so the classes come out as in buildEdges.
//
// Pass 1 gives each walked side its entry: the side that makes its edge and
// its place in the edge's triangle list. A side takes the edge that a triangle
// before i which stays live has (all such share one edge: the one the first of
// them made), else the edge of an earlier side of i itself, else makes one;
// its place counts the sides of the pair before it that took the same edge.
// A side finds the earlier sides of its pair in an incident list of its ends;
// in a file in facet order, where nearly every vertex has its triangles in one
// part, the part's thread chains the pairs of such vertices as it goes (a
// pass over the sides much like buildEdges' own) and looks in the lists only
// for pairs whose ends both have triangles in other parts.
// Pass 2 makes the records; pass 3 links the other sides to them. A file in
// facet order has nearly every side's making side in the same part: both
// passes then go as one over the triangles.
bool StlObject::buildEdgesOnThreads(unsigned threads, const uint32_t* welded, ImportSession* shellTable) {
    const std::size_t n = m_records.triangles.size();
    // (Side numbers stay below the chains' ends.)
    if (n == 0 || 3 * n >= (std::size_t(1) << 30) - 1)
        return false;
    ThreadedEdgeBuild build(m_records.vertices, m_records.triangles, welded, threads);
    if (!build.recordsInArrayOrder(m_records.triangles))
        return false;
    const bool scattered = build.trianglesScattered();
    // The edge array and the part of the records' room the corner sort did
    // not use get their pages on a helper while the sides are decided.
    m_records.edges = RefArray<StlEdge>();
    m_records.edges.reserve((3 * n) / 2);
    PagePopulator mapping;
    {
        // (The room lent to the weld, which holds the vertex numbers.)
        char* const room = static_cast<char*>(m_records.edgePool.lentRoom());
        const std::size_t sorted = 3 * n * sizeof(FacetCorner), needed = (3 * n) / 2 * sizeof(StlEdge);
        mapping.start({{m_records.edges.data(), m_records.edges.capacity() * sizeof(StlEdge*)},
                       {room && needed > sorted ? room + sorted : nullptr, needed > sorted ? needed - sorted : 0}});
    }
    std::vector<std::size_t> makers = scattered ? build.decideSidesByVertex() : build.decideSidesInTriangleOrder();
    if (!build.usable()) {
        build.clearEntries(); // empty slots for buildEdges
        return false;
    }
    for (unsigned t = 0; t < threads; ++t)
        makers[t + 1] += makers[t];
    const std::size_t edgeTotal = makers[threads];

    // The records take the room of the corners' vertex numbers from here.
    mapping.stop();
    if (m_records.edges.capacity() < edgeTotal) {
        m_records.edges = RefArray<StlEdge>();
        m_records.edges.reserve(edgeTotal);
    }
    m_records.edges.resize(edgeTotal);
    StlEdge* const records = edgeTotal ? m_records.edgePool.takeSlots(edgeTotal) : nullptr;
    const double creaseLimit = creaseCosine(kImportCreaseAngle);
    if (!scattered) {
        // The shell search then takes the table written on the way instead
        // of filling one of its own on the threads: writing it here, where
        // both triangles of a side are at hand, costs a fraction of a pass
        // that looks every side up again, and the search needs no twelve
        // bytes a triangle beside the mesh (the peak of a big import). Its
        // walk then runs on one thread only: a few percent more wall time on
        // idle processors for some 7% less processor time in all.
        if (shellTable)
            build.writeShellTable(RecordIndex<StlVertex>(m_records.vertices, threads).firstInOrder(),
                                  m_records.vertices.size());
        build.buildInTriangleOrder(makers, records, m_records.edges, creaseLimit);
        ShellTableHandover table = build.shellTable();
        if (table.holdsTable())
            shellTable->holdShellTable(std::move(table));
        return true;
    }
    build.makeEdgeRecords(makers, records, m_records.edges);
    std::vector<std::vector<uint32_t>> later(threads);
    build.linkSidesByVertex(creaseLimit, later);
    build.addLaterSides(later);
    return true;
}

int StlObject::classifyEdges(double creaseAngleDegrees) {
    const double limit = creaseCosine(creaseAngleDegrees);
    for (StlEdge* e : m_records.edges) {
        if (e->edgeClass == kEdgeBoundary || e->edgeClass == kEdgeDetached || e->triangleCount() != 2)
            continue;
        const StlTriangle* u = e->triangle(0);
        const StlTriangle* w = e->triangle(1);
        if (w == nullptr) {
            e->edgeClass = kEdgeBoundary;
            continue;
        }
        e->edgeClass = limit > u->normal.dot(w->normal) ? kEdgeSharp : kEdgeSmooth;
    }
    return 0;
}

// ---- Loading a file --------------------------------------------------------------

namespace {

// Joins the side work of a load when the load leaves the step that runs
// beside it, also by an exception.
class SideWorkJoin {
public:
    explicit SideWorkJoin(const StlObject::SideWork* beside) : m_beside(beside) {
        if (m_beside)
            m_beside->start();
    }
    ~SideWorkJoin() {
        if (m_beside)
            m_beside->join();
    }
    SideWorkJoin(const SideWorkJoin&) = delete;
    SideWorkJoin& operator=(const SideWorkJoin&) = delete;

private:
    const StlObject::SideWork* m_beside;
};

} // namespace

LoadResult StlObject::loadFromFile(const std::wstring& path, MeshFileReader& reader,
                                   const ProgressMonitor* progress, const SideWork* beside) {
    const ProgressMonitor& monitor = monitorOrDialog(progress);
    auto cancelled = [&monitor] { return monitor.stopRequested(); };
    LoadResult result = LoadResult::NotEnoughMemory;
    try {
        // What the weld hands to the edge build and the edge build to the
        // shell search; it lives as long as the load.
        ImportSession scratch;
        result = reader.read(*this, path, progress, &scratch);
        // A mesh file (STL) brings loose facets; the geometry format brings its
        // edges and shells, which must stay exactly as written (the triangles
        // point at those edges).
        if (result == LoadResult::Success && m_records.edges.empty() && m_records.shells.empty()) {
            const SideWorkJoin sideWork(beside && !cancelled() ? beside : nullptr);
            if (!cancelled())
                buildEdges(true, 60, 25, progress, AfterEdges::FindShells, &scratch);
            if (!cancelled())
                findShells(true, 85, progress, &scratch);
        }
    } catch (const std::bad_alloc&) {
        // The scratch and the side work are gone; what the mesh holds goes below.
        result = LoadResult::NotEnoughMemory;
    }
    if (cancelled())
        result = LoadResult::Cancelled;
    if (result == LoadResult::Cancelled || result == LoadResult::NotEnoughMemory)
        releaseMesh();
    monitor.end();
    return result;
}

// ---- Repairs after reading the geometry format -----------------------------------

int StlObject::relinkEdges() {
    for (StlEdge* e : m_records.edges) {
        if (e == nullptr || e->vertexCount() < 2)
            continue;
        StlVertex* a = e->vertex(0);
        StlVertex* b = e->vertex(1);
        if (a == nullptr || b == nullptr)
            continue;
        for (StlTriangle* t : *a) {
            if (t->isDeleted())
                continue;
            for (int k = 0; k < 3; ++k) {
                const StlVertex* s0 = t->vertices[k];
                const StlVertex* s1 = t->vertices[(k + 1) % 3];
                if ((s0 == a && s1 == b) || (s0 == b && s1 == a)) {
                    t->edges[k] = e;
                    e->addTriangle(t);
                    break;
                }
            }
        }
    }
    return 0;
}

int StlObject::computeAreaAndVolume() {
    if (m_records.vertices.empty())
        return 0;
    m_measures.volumeReference = m_records.vertices.front()->pos;
    double area = 0.0, volume = 0.0;
    for (const StlTriangle* t : m_records.triangles) {
        if (t->isDeleted())
            continue;
        double volumeTerm = 0.0;
        area += areaAndVolumeTerms(t, m_measures.volumeReference, &volumeTerm);
        volume += volumeTerm;
    }
    m_measures.area = area / 2.0;
    m_measures.volume = volume / 6.0;
    return 0;
}

// ---- Validity ------------------------------------------------------------------------

namespace {

// A vertex the geometry format can store: placed, linked and finite. A vertex
// used by every triangle of the mesh (a single facet, a fan) is valid; only an
// incident count above the triangle count marks a broken record.
bool vertexValid(const StlVertex* v, uint32_t vertexCount, uint32_t triangleCount) {
    return v != nullptr && static_cast<int64_t>(v->index) < static_cast<int64_t>(vertexCount) &&
           v->hasTriangleList() && v->triangleCount() <= triangleCount && isFiniteVector(v->pos.data());
}

} // namespace

bool StlObject::isValidTriangle(const StlTriangle* t) const {
    if (t->isDeleted())
        return false;
    for (const StlVertex* v : t->vertices)
        if (!vertexValid(v, m_measures.vertexCount, triangleCount()))
            return false;
    const double s = toleranceScale();
    if (!(triangleArea(t) > 1e-10 * s * s))
        return false;
    const Vector3D& n = t->normal;
    if (std::fabs(n.x) <= 1e-6 && std::fabs(n.y) <= 1e-6 && std::fabs(n.z) <= 1e-6)
        return false;
    return std::sqrt(n.dot(n)) > 1e-6;
}

bool StlObject::isValidEdge(const StlEdge* e) const {
    if (e->edgeClass == kEdgeDetached || e->vertexCount() < 2)
        return false;
    const StlVertex* a = e->vertex(0);
    const StlVertex* b = e->vertex(1);
    if (!vertexValid(a, m_measures.vertexCount, triangleCount()) ||
        !vertexValid(b, m_measures.vertexCount, triangleCount()))
        return false;
    return a != b && a->index != b->index;
}

uint32_t StlObject::countValidEdges() const {
    uint32_t invalid = 0;
    for (const StlEdge* e : m_records.edges)
        if (e == nullptr || !isValidEdge(e))
            ++invalid;
    return edgeCount() - invalid;
}

// ---- Lookups of the project reader ------------------------------------------------

StlTriangle* StlObject::findTriangleById(int id) const {
    for (StlTriangle* t : m_records.triangles)
        if (t->id == id)
            return t;
    return nullptr;
}

void StlObject::collectEdgesByIndex(const int* indices, int count, std::deque<StlEdge*>& out) const {
    out.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    for (int i = 0; i < count; ++i) {
        const int idx = indices[i];
        out[static_cast<std::size_t>(i)] = idx >= 0 && static_cast<std::size_t>(idx) < m_records.edges.size()
                                               ? m_records.edges[static_cast<std::size_t>(idx)]
                                               : nullptr;
    }
}

} // namespace topolib
