#pragma once
// The import's facets made into triangles in bulk: a run of facets taken one
// by one whose normals and sums are set at its end (setLaterNormals), and
// blocks of facets made on threads (FacetBlock). For the mesh library's
// import session (FacetImport) alone; no other library sees this header.

#include "topolib/StlObject.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace topolib {

// ---- One facet ----------------------------------------------------------------

inline const float* cornerPoint(const FacetCorner& c) {
    return &c.x;
}

// Corner k of facet i of an array of facets (twelve floats each, as a record's).
inline const float* facetCorner(const float* facets, std::size_t i, int k) {
    return facets + 12 * i + 3 + 3 * k;
}

// A facet with two corners at the same point makes no triangle (facet: the
// twelve floats of a record).
inline bool cornersCoincide(const float* facet) {
    const float* p0 = facet + 3;
    const float* p1 = facet + 6;
    const float* p2 = facet + 9;
    return floatPointsSame(p0, p1) || floatPointsSame(p0, p2) || floatPointsSame(p2, p1);
}

// The three corners a0, a1, a2 are those of b (b: nine floats, as a record's).
inline bool sameFacet(const float* a0, const float* a1, const float* a2, const float* b) {
    return floatPointsSame(a0, b) && floatPointsSame(a1, b + 3) && floatPointsSame(a2, b + 6);
}

// The normal of a taken facet's triangle, and the facet's doubled area and six
// times its volume against `reference`. A facet with distinct but collinear
// corners gives false: its triangle is kept (it takes part in welding) but
// deleted, so that no live query sees a triangle without area.
inline bool setFacetNormal(StlTriangle* t, const float* p0, const float* p1, const float* p2,
                           const double reference[3], double* area, double* volume) {
    const Vector3D q0(p0[0], p0[1], p0[2]);
    const Vector3D q1(p1[0], p1[1], p1[2]);
    const Vector3D q2(p2[0], p2[1], p2[2]);
    Vector3D normal = (q1 - q0).cross(q2 - q0);
    // Vector3D::normalize's own steps for a usual length (the same bits),
    // normalizeAnyLength for the rest.
    const double q = normal.x * normal.x + normal.y * normal.y + normal.z * normal.z;
    double len;
    if (q >= 1e-15 && !(std::fabs(q - 1.0) < 1e-12)) {
        len = std::sqrt(q);
        normal.x /= len;
        normal.y /= len;
        normal.z /= len;
    } else {
        len = normal.normalizeAnyLength();
    }
    t->normal = normal;
    if (len == 0.0) {
        t->setDeleted(true);
        return false;
    }
    *area = len;
    *volume = (q0 - Vector3D(reference)).dot(normal) * len;
    return true;
}

// ---- A run of facets ----------------------------------------------------------

// Sets what StlObject::addFacet left for later for the triangles of `mesh`
// from `first` on (all made by addFacet with normalLater, appending, against
// this `reference` and `corners`): their normals, and the sums, added in
// triangle order.
void setLaterNormals(StlObject& mesh, std::size_t first, const std::vector<FacetCorner>& corners,
                     const double reference[3]);

// ---- Blocks of facets on threads ------------------------------------------------

// What StlObject::addFacet (appending) does, for a block of facets in order,
// on the block's threads, in passes a reader runs (runOnThreads) so that one
// pass can make the triangles of one block and parse the next:
//   decideFacets(parse, t) for every part t: the reader's parse(t, begin,
//     end) writes facets [begin, end) of the block, then the part's facets
//     are decided;
//   settleFacets(mesh, reference, corners) once, on the calling thread: the
//     parts' first facets are decided against the facets before them and
//     the triangles' room is taken (reference: the point the sums are taken
//     against);
//   makeFacets(mesh, corners, t) for every part t: its triangles, corners
//     and normals;
//   sumFacets(mesh, cornerCounter) once, in block order: the sums and the
//   corner count.
// Facet i is facets[12 i, 12 i + 12). A facet whose corners are not usable
// (facetCornersUsable) is passed over. The mesh's record pool must have room
// for the facets (StlObject::reserveTriangles), and `corners` the room for
// their corners. Every settled block must be made and summed before the next
// is settled, and before the mesh is read or released.
struct FacetBlock {
    using Parse = std::function<void(unsigned part, std::size_t begin, std::size_t end)>;

    // Room for blocks of up to `room` facets: nothing is allocated while a
    // block passes through the steps.
    FacetBlock(std::size_t room, unsigned threads);
    void start(const float* blockFacets, std::size_t blockCount) {
        facets = blockFacets;
        count = blockCount;
    }

    void decideFacets(const Parse& parse, unsigned part);
    // The number of triangles the block makes.
    std::size_t settleFacets(StlObject& mesh, const double reference[3], std::vector<FacetCorner>& corners);
    void makeFacets(StlObject& mesh, std::vector<FacetCorner>& corners, unsigned part);
    void sumFacets(StlObject& mesh, uint32_t* cornerCounter) const;

    const float* facets = nullptr;
    std::size_t count = 0;
    unsigned threads;
    static constexpr std::size_t kNoFacet = std::size_t(-1);
    struct Part {
        std::size_t made = 0;
        std::size_t firstUsable = kNoFacet; // facets of the block; kNoFacet: the part has no usable one
        std::size_t lastUsable = kNoFacet;
    };
    std::size_t room;
    std::unique_ptr<uint8_t[]> taken; // facet i becomes a triangle (written before it is read)
    std::vector<Part> parts;
    std::vector<std::size_t> partTaken; // the triangles of the parts before each
    std::size_t first = 0;              // the mesh's triangle count before the block
    std::size_t made = 0;
    StlTriangle* records = nullptr;
    const double* reference = nullptr;
    std::unique_ptr<double[]> sums; // doubled area and six times the volume of each triangle
};

} // namespace topolib
