#pragma once

#include "support/SupportTypes.h"
#include "topolib/Vector3D.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace topolib {
class StlEdge;
class StlObject;
class StlTriangle;
class StlVertex;
} // namespace topolib

namespace support {

class AbtShape;
class ConeShape;
class ContactCells;
class SupportGen;
struct GridAxis;
struct GridHit;

// Region kinds; the numbers are stored in project files.
enum AreaType : int32_t {
    kAreaSupport = 0,         // overhang region
    kLowestPointSupport = 1,  // isolated lowest vertex
    kLowestCurveSupport = 2,  // chain of lowest, almost horizontal edges
    kAddedPointSupport = 3,   // point added by the user
};

// What a new cone is made with: the container's settings as they stand, taken
// as given (a cone makes its own numbers usable before it is built).
struct ConeSettings {
    SupportType type = SupportType::Cylinder;
    bool circleBase = false;   // a platform cone gets a circular base of its own
    double tipRadius = 0.5;    // contact radius; head and cross plates are 0.8 of it
    double trunkRadius = 1.0;  // the neck is 0.8 of it
    double branchRadius = 0.6; // bracing bars
    double headExtend = 5.0;
    double baseThickness = 1.0;
    double baseSize = 4.0;
};

// The settings with the head (and so the foot) half as long: a cone for a
// place with too little room below it for the preset's.
inline ConeSettings halfHead(ConeSettings settings) {
    settings.headExtend *= 0.5;
    return settings;
}

// What the regions, cones and bars of a container are placed and built with,
// fixed by the container for a whole run (SupportGen::placementParams, the one
// place that makes its numbers usable). No shape reads them back from its
// container.
struct PlacementParams {
    double spacing = 5.0;        // distance between cones, at least 1 and finite
    double tipRadius = 0.5;      // the tip radius spacing rules count by: finite, not negative
    bool removeInternal = false; // a cone standing on the model is deleted at once
    ConeSettings cone;
};

// The outline of an overhang region: its boundary edges in the order the region
// growing met them (an edge may occur twice).
class AreaOutline {
public:
    double length() const; // sum of the 3D edge lengths
    std::vector<uint32_t> edgeIds() const;

    std::deque<topolib::StlEdge*> edges;
};

// One region of an object that needs support, with the cones placed for it.
// Owned by its SupportGen; owns its shapes (always cones).
class SupportAreaAbs {
public:
    using BasePoints = std::deque<std::pair<double, double>>;

    SupportAreaAbs(AreaType kind, SupportGen* owner) : kind(kind), owner(owner) {}
    SupportAreaAbs(const SupportAreaAbs&) = delete;
    SupportAreaAbs& operator=(const SupportAreaAbs&) = delete;
    // Deletes every shape (through the container's retired list when the
    // container still lives).
    virtual ~SupportAreaAbs();

    // Deletes the shapes and places them again.
    virtual void reset(const PlacementParams& params);
    // Places the region's cones against the owner's mesh.
    virtual void placeContacts(const PlacementParams& params);
    // True when the region can be dropped (only overhang regions are asked).
    virtual bool isNegligible(const double* minArea, const double* tolerance);
    // The most cones placeContacts could make with params, found without
    // allocating (the owner checks it before any placement).
    virtual std::uint64_t coneBound(const PlacementParams&) const { return 0; }
    virtual void setAreaId(uint32_t id) { AreaID = id; }

    // Makes a cone at point with the contact normal and the settings given,
    // places it and appends it. With removeInternal a cone standing on the
    // model is deleted at once.
    ConeShape* addCone(const double point[3], const double normal[3], const ConeSettings& settings,
                       bool removeInternal);
    // Height at (p.x, p.y) of the highest live up-facing triangle (normal z above
    // sin 5 degrees) below *z + offset - 0.0001, with its normal; -1.0 when none
    // or without an octree.
    double modelHeightBelow(const double p[3], const double* z, double offset, double normalOut[3]) const;

    void deleteShapes();
    void buildShapeMeshes(const PlacementParams& params);
    void rebuildConeBars(const PlacementParams& params);
    AbtShape* shapeAt(int i) const;
    void collectBasePoints(BasePoints& out) const;
    // The mesh the region lies on; null without an owner.
    topolib::StlObject* mesh() const;

    AreaType kind;
    SupportGen* owner = nullptr;
    std::unique_ptr<AreaOutline> outline; // overhang regions only
    uint32_t AreaID = 0;
    topolib::Vector3D boxMin;
    topolib::Vector3D boxMax;
    std::vector<AbtShape*> shapes; // owned
};

// An overhang region: steep downward facets grown from a seed.
class AreaSupport : public SupportAreaAbs {
public:
    explicit AreaSupport(SupportGen* owner = nullptr) : SupportAreaAbs(kAreaSupport, owner) {}

    void reset(const PlacementParams& params) override;
    // Cones on a planar grid over the region's box, on the region's own facets
    // (selected by their group id); one fallback cone when the grid finds none.
    void placeContacts(const PlacementParams& params) override;
    // Every point of the grid (at least the fallback's one) and the most the
    // reach pass adds; none when every corner of the region's facets lies at
    // or below the platform.
    std::uint64_t coneBound(const PlacementParams& params) const override;
    // The grid placeContacts samples at the placement's spacing: false when
    // the box is not a finite, non-negative extent (no grid).
    bool coneGrid(const PlacementParams& params, GridAxis* xs, GridAxis* ys) const;
    bool isNegligible(const double* minArea, const double* tolerance) override;
    // Whether isNegligible decides by the rim walk (a region no larger than
    // minArea).
    bool walksRim(const double* minArea) const;
    // The rim walks of every overhang region of `areas` that isNegligible would
    // ask for one, answered together in time near linear in the mesh (one walk
    // per region floods a nearly flat surface again for each): entry i is 1 when
    // staysLowWithinTolerance holds for area i, 0 when not, -1 when area i asks
    // no rim walk or is left to its own walk. Marks are left as they are.
    static std::vector<int8_t> rimWalksTogether(const std::vector<SupportAreaAbs*>& areas,
                                                const double* minArea, const double* tolerance);
    // Stores the id and writes it into the group field of every own triangle.
    void setAreaId(uint32_t id) override;
    // After every region placed its cones: cones wherever an overhang region
    // hangs past the layer below out of every contact's reach (the spacing less
    // a fifth), the rims and bands narrower than the grid's step included.
    static void reachEveryOverhang(const std::vector<SupportAreaAbs*>& areas, const PlacementParams& params);

    // The region's facets in joining order (entries may be null for a project
    // that named a missing triangle; they are skipped).
    void assignTriangles(std::vector<topolib::StlTriangle*> list) { triangles = std::move(list); }
    // Replaces the outline's edges (null entries are dropped) and sets the box
    // from their vertices.
    void setBoundary(const std::deque<topolib::StlEdge*>& edges);
    std::vector<uint32_t> triangleIds() const;
    std::vector<uint32_t> boundaryEdgeIds() const;

    // Summed area of the facets whose normal z < -cos(angle degrees).
    double downFacingArea(const double* angle) const;
    // The large-region rim test of the filter.
    bool isLowestInNeighbourhood() const;
    // The small-region rim walk of the filter; clears every mark it sets.
    bool staysLowWithinTolerance(const double* tolerance) const;

    double area = 0.0;
    double Density = 5.0;
    std::vector<topolib::StlTriangle*> triangles;

private:
    class SurfaceIndex;
    void placeFallback(const PlacementParams& params);
    // A cone on the region's surface near c where one fits; whether one did.
    bool placeBeside(SurfaceIndex& surface, const double c[3], const ConeSettings& settings,
                     bool removeInternal);
    // Cones on the region's surfaces that lie over its lowest ones at the grid
    // points `lowest` and hang past the layer below; the number of grid points
    // given one.
    int placeOverHigherSurfaces(const std::vector<GridHit>& lowest, const GridAxis& xs, const GridAxis& ys,
                                SurfaceIndex& beside, const PlacementParams& params);
    class ModelProbe;
    // Cones where the region hangs past the layer below and no contact of
    // `contacts` lies within their reach: along the rim first, then over the
    // facets; each new contact joins `contacts`. `model` answers where the
    // model lies. The number made, at most reachBound.
    int placeWhereUnreached(ContactCells& contacts, ModelProbe& model, const PlacementParams& params);
    std::uint64_t reachBound(const PlacementParams& params) const;
    // A live cone at `at` on the facet, or beside it, with the preset head or
    // else one half as long; null (nothing added) when none fits.
    ConeShape* placeAt(SurfaceIndex& surface, const topolib::Vector3D& at, const topolib::StlTriangle& facet,
                       const PlacementParams& params);
};

// One cone at an isolated lowest vertex.
class LowestPointSupport : public SupportAreaAbs {
public:
    explicit LowestPointSupport(SupportGen* owner = nullptr) : SupportAreaAbs(kLowestPointSupport, owner) {}
    void reset(const PlacementParams& params) override;
    void placeContacts(const PlacementParams& params) override;
    std::uint64_t coneBound(const PlacementParams&) const override { return 1; }
    // Stores the vertex (may be null) and sets the box to its position.
    void setVertex(topolib::StlVertex* v);

    topolib::StlVertex* vertex = nullptr;
};

// Cones spaced along a chain of lowest edges.
class LowestCurveSupport : public SupportAreaAbs {
public:
    explicit LowestCurveSupport(SupportGen* owner = nullptr) : SupportAreaAbs(kLowestCurveSupport, owner) {}
    void reset(const PlacementParams& params) override;
    void placeContacts(const PlacementParams& params) override;
    // One cone per spacing along the chain and one at each end; a chain whose
    // length is not finite gets the largest count.
    std::uint64_t coneBound(const PlacementParams& params) const override;
    // Appends the chain (null entries dropped) and widens the box over it.
    void setVertices(const std::vector<topolib::StlVertex*>& vertices);
    std::vector<uint32_t> vertexIds() const;

    double Density = 5.0;
    std::vector<topolib::StlVertex*> chain;
};

// One cone at a point the user picked on a facet.
class AddedPointSupport : public SupportAreaAbs {
public:
    explicit AddedPointSupport(SupportGen* owner = nullptr) : SupportAreaAbs(kAddedPointSupport, owner) {}
    void reset(const PlacementParams& params) override;
    void placeContacts(const PlacementParams& params) override;
    std::uint64_t coneBound(const PlacementParams&) const override { return 1; }
    void setFacet(topolib::StlTriangle* t) { facet = t; }
    void setPoint(const double p[3]) { point = topolib::Vector3D(p); }

    topolib::StlTriangle* facet = nullptr;
    topolib::Vector3D point;
};

// The value a triangle's 20-bit group field reads back after it was set to id.
inline int32_t groupValue(uint32_t id) { return static_cast<int32_t>(id << 12) >> 12; }

// The unit sum of the normals of v's live incident triangles (zero when none).
topolib::Vector3D vertexNormal(const topolib::StlVertex* v);

} // namespace support
