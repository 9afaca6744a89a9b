// The import's facets made into triangles in bulk (FacetBlocks.h).
#include "topolib/FacetBlocks.h"

#include "topolib/ParallelRuns.h"

#include <algorithm>
#include <cassert>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace topolib {

namespace {

// setFacetNormal for the `count` triangles from `records` on, whose corners
// are corners[3 i, 3 i + 3): sums[2 i] gets triangle i's doubled area (NaN
// when it is collinear: not counted) and sums[2 i + 1] six times its volume.
// Two triangles at a time where both have a usual length: the square roots
// and divisions, most of the work, are then done pairwise, with the same
// rounding as one at a time.
void setFacetNormals(StlTriangle* records, const FacetCorner* corners, std::size_t count,
                     const double reference[3], double* sums) {
    auto one = [&](std::size_t i) {
        const FacetCorner* c = corners + 3 * i;
        if (!setFacetNormal(records + i, cornerPoint(c[0]), cornerPoint(c[1]), cornerPoint(c[2]), reference,
                            &sums[2 * i], &sums[2 * i + 1]))
            sums[2 * i] = std::numeric_limits<double>::quiet_NaN();
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128d rx = _mm_set1_pd(reference[0]), ry = _mm_set1_pd(reference[1]),
                  rz = _mm_set1_pd(reference[2]);
    const __m128d small = _mm_set1_pd(1e-15), unit = _mm_set1_pd(1.0), nearUnit = _mm_set1_pd(1e-12);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    for (; i + 2 <= count; i += 2) {
        const FacetCorner* a = corners + 3 * i;
        const FacetCorner* b = a + 3;
        auto pair = [](float x, float y) {
            return _mm_set_pd(static_cast<double>(y), static_cast<double>(x));
        };
        const __m128d x0 = pair(a[0].x, b[0].x), y0 = pair(a[0].y, b[0].y), z0 = pair(a[0].z, b[0].z);
        const __m128d ux = _mm_sub_pd(pair(a[1].x, b[1].x), x0), uy = _mm_sub_pd(pair(a[1].y, b[1].y), y0),
                      uz = _mm_sub_pd(pair(a[1].z, b[1].z), z0);
        const __m128d vx = _mm_sub_pd(pair(a[2].x, b[2].x), x0), vy = _mm_sub_pd(pair(a[2].y, b[2].y), y0),
                      vz = _mm_sub_pd(pair(a[2].z, b[2].z), z0);
        __m128d nx = _mm_sub_pd(_mm_mul_pd(uy, vz), _mm_mul_pd(uz, vy));
        __m128d ny = _mm_sub_pd(_mm_mul_pd(uz, vx), _mm_mul_pd(ux, vz));
        __m128d nz = _mm_sub_pd(_mm_mul_pd(ux, vy), _mm_mul_pd(uy, vx));
        const __m128d q = _mm_add_pd(_mm_add_pd(_mm_mul_pd(nx, nx), _mm_mul_pd(ny, ny)), _mm_mul_pd(nz, nz));
        // The usual length: q >= 1e-15 and not |q - 1| < 1e-12 (both lanes).
        const __m128d usual = _mm_andnot_pd(
            _mm_cmplt_pd(_mm_and_pd(_mm_sub_pd(q, unit), magnitude), nearUnit), _mm_cmpge_pd(q, small));
        if (_mm_movemask_pd(usual) != 3) {
            one(i);
            one(i + 1);
            continue;
        }
        const __m128d len = _mm_sqrt_pd(q);
        nx = _mm_div_pd(nx, len);
        ny = _mm_div_pd(ny, len);
        nz = _mm_div_pd(nz, len);
        const __m128d volume = _mm_mul_pd(
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_sub_pd(x0, rx), nx), _mm_mul_pd(_mm_sub_pd(y0, ry), ny)),
                       _mm_mul_pd(_mm_sub_pd(z0, rz), nz)),
            len);
        double n[3][2];
        _mm_storeu_pd(n[0], nx);
        _mm_storeu_pd(n[1], ny);
        _mm_storeu_pd(n[2], nz);
        records[i].normal = Vector3D(n[0][0], n[1][0], n[2][0]);
        records[i + 1].normal = Vector3D(n[0][1], n[1][1], n[2][1]);
        _mm_storeu_pd(&sums[2 * i], _mm_unpacklo_pd(len, volume));
        _mm_storeu_pd(&sums[2 * i + 2], _mm_unpackhi_pd(len, volume));
    }
#endif
    for (; i < count; ++i)
        one(i);
}

} // namespace

void setLaterNormals(StlObject& mesh, std::size_t first, const std::vector<FacetCorner>& corners,
                     const double reference[3]) {
    // In steps whose sums stay on the stack and in the cache.
    constexpr std::size_t kStep = 256;
    double sums[2 * kStep];
    const std::vector<Ref<StlTriangle>>& triangles = mesh.triangles();
    const std::size_t end = triangles.size();
    // Summed in locals, in triangle order (the same sums as into the measures).
    uint32_t facetCount = mesh.facetCount();
    double area = mesh.area(), volume = mesh.volume();
    assert(corners.size() >= 3 * end);
    for (std::size_t from = first; from < end;) {
        // The triangles of one addFacet after another lie side by side in the
        // pool unless a new block began between them.
        StlTriangle* const records = triangles[from];
        std::size_t n = 1;
        while (n < kStep && from + n < end && triangles[from + n] == records + n)
            ++n;
        setFacetNormals(records, &corners[3 * from], n, reference, sums);
        for (std::size_t i = 0; i < n; ++i) {
            if (std::isnan(sums[2 * i]))
                continue; // collinear: deleted, not counted
            ++facetCount;
            area += sums[2 * i];
            volume += sums[2 * i + 1];
        }
        from += n;
    }
    mesh.setFacetCount(facetCount);
    mesh.setArea(area);
    mesh.setVolume(volume);
}

FacetBlock::FacetBlock(std::size_t room, unsigned threads)
    : threads(std::max(threads, 1u)), room(room), taken(new uint8_t[room]), parts(this->threads),
      partTaken(this->threads + 1, 0), sums(new double[2 * room]) {}

// addFacet compares a facet with the last facet it took; that one has the
// corners of the last facet before it that was usable at all (a repeat has
// the corners of the facet it repeats). Each part decides its facets against
// the usable ones before them in the part; its first usable one is decided by
// settleFacets, against the last usable facet of the parts before, or the
// last triangle before the block.
void FacetBlock::decideFacets(const Parse& parse, unsigned t) {
    if (count > room)
        return; // more than the block's room: settleFacets makes nothing of it
    const std::size_t begin = partBegin(count, t, threads);
    const std::size_t end = partBegin(count, t + 1, threads);
    if (parse)
        parse(t, begin, end);
    const float* const block = facets;
    auto usable = [block](std::size_t i) {
        return facetCornersUsable(block + 12 * i) && !cornersCoincide(block + 12 * i);
    };
    Part& part = parts[t];
    part = Part();
    const float* last = nullptr; // the three corners of the last usable facet
    for (std::size_t i = begin; i < end; ++i) {
        taken[i] = 0;
        if (!usable(i))
            continue;
        if (!last || !sameFacet(last, last + 3, last + 6, facetCorner(block, i, 0))) {
            taken[i] = 1;
            ++part.made;
        }
        if (!last)
            part.firstUsable = i;
        last = facetCorner(block, i, 0);
        part.lastUsable = i;
    }
}

std::size_t FacetBlock::settleFacets(StlObject& mesh, const double blockReference[3],
                                     std::vector<FacetCorner>& corners) {
    std::vector<Ref<StlTriangle>>& triangles = mesh.triangles();
    first = triangles.size();
    made = 0;
    reference = blockReference;
    if (count == 0 || count > room || corners.size() != 3 * first)
        return 0;
    {
        float lastTaken[9];
        const float* last = nullptr;
        if (first > 0) {
            const FacetCorner* prev = &corners[3 * (first - 1)];
            for (int k = 0; k < 3; ++k) {
                lastTaken[3 * k] = prev[k].x;
                lastTaken[3 * k + 1] = prev[k].y;
                lastTaken[3 * k + 2] = prev[k].z;
            }
            last = lastTaken;
        }
        for (unsigned t = 0; t < threads; ++t) {
            Part& part = parts[t];
            if (part.firstUsable == kNoFacet)
                continue;
            if (last && sameFacet(last, last + 3, last + 6, facetCorner(facets, part.firstUsable, 0))) {
                taken[part.firstUsable] = 0;
                --part.made;
            }
            last = facetCorner(facets, part.lastUsable, 0);
        }
        for (unsigned t = 0; t < threads; ++t)
            partTaken[t + 1] = partTaken[t] + parts[t].made;
    }
    const std::size_t total = partTaken[threads];
    if (total == 0)
        return 0;
    // The triangles' array entries, corners and record slots; out of memory,
    // the mesh is left as it was.
    triangles.resize(first + total);
    corners.resize(3 * (first + total));
    try {
        records = mesh.m_records.trianglePool.takeSlots(total);
    } catch (...) {
        triangles.resize(first);
        corners.resize(3 * first);
        throw;
    }
    made = total;
    return made;
}

// The part's triangles in record slots and array entries by number, their
// corners and normals.
void FacetBlock::makeFacets(StlObject& mesh, std::vector<FacetCorner>& corners, unsigned t) {
    if (made == 0)
        return;
    std::vector<Ref<StlTriangle>>& triangles = mesh.triangles();
    std::size_t number = partTaken[t];
    const std::size_t end = partBegin(count, t + 1, threads);
    for (std::size_t i = partBegin(count, t, threads); i < end; ++i) {
        if (!taken[i])
            continue;
        const std::size_t n = first + number;
        StlTriangle* tri = new (records + number) StlTriangle();
        tri->id = static_cast<int32_t>(n);
        triangles[n] = tri;
        for (int k = 0; k < 3; ++k) {
            const float* p = facetCorner(facets, i, k);
            corners[3 * n + static_cast<std::size_t>(k)] = {
                p[0], p[1], p[2], static_cast<int32_t>(3 * n + static_cast<std::size_t>(k))};
        }
        ++number;
    }
    // The part's corners are in the cache still.
    const std::size_t from = partTaken[t];
    setFacetNormals(records + from, &corners[3 * (first + from)], number - from, reference, &sums[2 * from]);
}

// Summed in locals, in facet order (the same sums as one by one into the
// measures, without a store and a load between one step and the next).
void FacetBlock::sumFacets(StlObject& mesh, uint32_t* cornerCounter) const {
    uint32_t facetCount = mesh.facetCount();
    double area = mesh.area(), volume = mesh.volume();
    for (std::size_t number = 0; number < made; ++number) {
        if (std::isnan(sums[2 * number]))
            continue;
        ++facetCount;
        area += sums[2 * number];
        volume += sums[2 * number + 1];
    }
    mesh.setFacetCount(facetCount);
    mesh.setArea(area);
    mesh.setVolume(volume);
    *cornerCounter += static_cast<uint32_t>(3 * made);
}

} // namespace topolib
