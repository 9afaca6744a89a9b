#include "topolib/ZSlabIndex.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <cmath>

namespace topolib {

std::uint32_t ZSlabIndex::slabCountFor(std::uint32_t triangleCount) {
    if (triangleCount < 1000u)
        return 2;
    if (triangleCount < 10000u)
        return 10;
    if (triangleCount < 100000u)
        return 100;
    if (triangleCount < 1000000u)
        return 500;
    if (triangleCount < 5000000u)
        return 1000;
    return triangleCount / 10000u;
}

ZSlabIndex::ZSlabIndex(std::uint32_t triangleCount, double minSlabHeight, double zMax, double zMin)
    : zMin_(zMin), zMax_(zMax) {
    std::uint32_t n = slabCountFor(triangleCount);
    const double range = zMax - zMin;
    double height = range / n;
    if (minSlabHeight > height) {
        height = minSlabHeight;
        // Cut towards zero; a range thinner than one slab leaves 0 slabs and the
        // single bucket then holds everything.
        const double slabs = range / height;
        n = (std::isfinite(slabs) && slabs > 0.0) ? static_cast<std::uint32_t>(std::fmin(slabs, 4.0e9)) : 0u;
    }
    slabCount_ = n;
    slabHeight_ = height;
    buckets_.resize(static_cast<std::size_t>(n) + 1);
}

void ZSlabIndex::setRange(double zMin, double zMax) {
    zMin_ = zMin;
    zMax_ = zMax;
    slabHeight_ = slabCount_ > 0 ? (zMax - zMin) / slabCount_ : (zMax - zMin);
}

void ZSlabIndex::bucketRange(double zLow, double zHigh, long long& first, long long& last) const {
    const long long n = slabCount_;
    // A degenerate height (an empty or inverted range) puts everything in bucket 0.
    if (!(slabHeight_ > 0.0) || !std::isfinite(slabHeight_) || n == 0) {
        first = 0;
        last = 0;
        return;
    }
    // Rounded down, so that a triangle entirely below the range is listed nowhere.
    // Clamped in double before converting, so that far-off or non-finite heights
    // never reach an undefined conversion.
    auto slabOf = [&](double z) {
        double s = std::floor((z - zMin_) / slabHeight_);
        if (!(s > -1.0))
            s = -1.0; // also catches NaN
        if (s > static_cast<double>(n) + 1.0)
            s = static_cast<double>(n) + 1.0;
        return static_cast<long long>(s);
    };
    first = slabOf(zLow);
    last = slabOf(zHigh);
    if (first < 0)
        first = 0;
    if (last > n)
        last = n;
}

int ZSlabIndex::bucketOf(double z) const {
    if (!(z >= zMin_ && z <= zMax_))
        return -1;
    long long first = 0, last = 0;
    bucketRange(z, z, first, last);
    if (first > last)
        return -1;
    return static_cast<int>(first);
}

bool ZSlabIndex::bucketSpan(double zLow, double zHigh, std::uint32_t& first, std::uint32_t& last) const {
    long long f = 0, l = 0;
    bucketRange(zLow, zHigh, f, l);
    if (f > l || buckets_.empty())
        return false;
    first = static_cast<std::uint32_t>(f);
    last = static_cast<std::uint32_t>(l);
    return true;
}

void ZSlabIndex::add(StlTriangle* t, double zLow, double zHigh) {
    long long first = 0, last = 0;
    bucketRange(zLow, zHigh, first, last);
    for (long long k = first; k <= last; ++k)
        buckets_[static_cast<std::size_t>(k)].push_back(t);
}

namespace {

void zRangeOf(const StlTriangle* t, double& lo, double& hi) {
    const double a = t->vertices[0]->pos.z;
    const double b = t->vertices[1]->pos.z;
    const double c = t->vertices[2]->pos.z;
    lo = std::min(a, std::min(b, c));
    hi = std::max(a, std::max(b, c));
}

} // namespace

void ZSlabIndex::add(StlTriangle* t) {
    double lo = 0.0, hi = 0.0;
    zRangeOf(t, lo, hi);
    add(t, lo, hi);
}

void ZSlabIndex::addAll(const Ref<StlTriangle>* triangles, std::uint32_t count) {
    // Two passes: count every bucket's entries, reserve exactly, then fill. The
    // bucket range of each triangle is kept between the passes so the vertices are
    // read once.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges(count);
    std::vector<std::uint32_t> sizes(buckets_.size(), 0u);
    for (std::uint32_t i = 0; i < count; ++i) {
        const StlTriangle* t = triangles[i];
        ranges[i] = {1u, 0u};
        if (!t || t->isDeleted())
            continue;
        double lo = 0.0, hi = 0.0;
        zRangeOf(t, lo, hi);
        long long first = 0, last = 0;
        bucketRange(lo, hi, first, last);
        if (first > last)
            continue;
        ranges[i] = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)};
        for (long long k = first; k <= last; ++k)
            ++sizes[static_cast<std::size_t>(k)];
    }
    for (std::size_t k = 0; k < buckets_.size(); ++k)
        buckets_[k].reserve(buckets_[k].size() + sizes[k]);
    for (std::uint32_t i = 0; i < count; ++i)
        for (std::uint32_t k = ranges[i].first; k <= ranges[i].second; ++k)
            buckets_[k].push_back(triangles[i]);
}

} // namespace topolib
