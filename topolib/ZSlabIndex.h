#pragma once

#include "topolib/RecordArena.h"

#include <cstdint>
#include <vector>

namespace topolib {

class StlTriangle;

// A mesh's z range cut into equal horizontal slabs; each slab lists the triangles
// that reach into it, so that slicing at one height looks at one slab only.
// The index holds plain pointers into its mesh and owns nothing but its lists.
// There are slabCount() + 1 buckets: the last one catches the top of the range.
class ZSlabIndex {
public:
    // Sizes the index for triangleCount triangles over [zMin, zMax]: the slab count
    // grows with the mesh (2, 10, 100, 500, 1000 slabs, above 5,000,000 triangles
    // one per 10,000), but a slab is never thinner than minSlabHeight (the mesh's
    // mean edge length), which may leave 0 slabs for a flat range.
    ZSlabIndex(std::uint32_t triangleCount, double minSlabHeight, double zMax, double zMin);

    // The slab count the index would start from for a mesh of this size, before
    // the minimum slab height is applied.
    static std::uint32_t slabCountFor(std::uint32_t triangleCount);

    // Lists the triangle in every bucket its z range reaches (its three vertices
    // must be set). A triangle entirely outside the range is not listed.
    void add(StlTriangle* t);
    // The same for a triangle whose z range the caller already knows.
    void add(StlTriangle* t, double zLow, double zHigh);
    // Lists many triangles at once, sizing every bucket exactly first; null and
    // deleted triangles are skipped.
    void addAll(const Ref<StlTriangle>* triangles, std::uint32_t count);

    // Moves the range without touching the lists: valid after a translation or
    // scaling of the mesh, which keep every triangle's relative place in z.
    void setRange(double zMin, double zMax);

    std::uint32_t slabCount() const { return slabCount_; }
    double zMin() const { return zMin_; }
    double zMax() const { return zMax_; }
    std::uint32_t bucketCount() const { return static_cast<std::uint32_t>(buckets_.size()); }

    // The bucket holding height z, or -1 when z lies outside [zMin, zMax].
    int bucketOf(double z) const;
    const std::vector<StlTriangle*>& bucket(std::uint32_t k) const { return buckets_[k]; }
    // The buckets that hold heights from zLow to zHigh (clamped to the range);
    // false when the interval misses the range.
    bool bucketSpan(double zLow, double zHigh, std::uint32_t& first, std::uint32_t& last) const;

    // The size of the mesh's triangle array when the index was built; the mesh
    // rebuilds the index when triangles were appended since.
    std::uint32_t sourceTriangleCount() const { return sourceTriangleCount_; }
    void setSourceTriangleCount(std::uint32_t n) { sourceTriangleCount_ = n; }

private:
    // First and last bucket reached by [zLow, zHigh]; first > last when none.
    void bucketRange(double zLow, double zHigh, long long& first, long long& last) const;

    std::vector<std::vector<StlTriangle*>> buckets_;
    std::uint32_t slabCount_ = 0;
    std::uint32_t sourceTriangleCount_ = 0;
    double slabHeight_ = 0.0;
    double zMin_ = 0.0;
    double zMax_ = 0.0;
};

} // namespace topolib
