#pragma once

#include "support/AbtShape.h"
#include "topolib/Vector3D.h"

#include <cstdint>
#include <vector>

namespace topolib {
class StlObject;
}

namespace support {

class ColumnLink;
class SupportAreaAbs;
class ShapeMemoryCheck;
class SupportGen;
struct PlacementParams;

// One support column: a head from the contact point on the model along the
// contact normal, a trunk down to the platform or onto a lower part of the model,
// and, by support type, a circular column with bracing bars (cylinder, 1) or two
// crossed plates (cross, 0). Lengths are in mm, points in the object's frame.
//
// The fields are public: the project reader and the drawing code read and write
// them by name.
class ConeShape : public AbtShape {
public:
    // The project reader's cone: unplaced (FootPoint.z = -1), placed by its first
    // buildMesh.
    ConeShape();
    // A cone of `area` touching the model at point with the contact normal normal
    // (pointing out of the model). Not placed yet: call place().
    ConeShape(SupportAreaAbs* area, const double point[3], const double normal[3]);
    // Frees the mesh and destroys the links (each unregistered from the other cone).
    ~ConeShape() override;

    Kind kind() const override { return Kind::Cone; }

    void setContactPoint(const double p[3]) { ContactPoint = topolib::Vector3D(p); }
    // Appends link to `links`.
    void addLink(ColumnLink* link);
    // The container through the area; null for a cone without one.
    SupportGen* container() const;
    // The check that pays for this cone's records: its container's, null
    // without a container or outside a generation or load.
    ShapeMemoryCheck* shapeMemoryCheck() const;

    // Computes the head, tests it against the model and finds the foot. False when
    // the head meets the model even at half length, or the trunk meets it (the
    // cone is then deleted).
    bool place();
    // Whether the cone has its head and foot: placed, given a placement by its
    // reader (markPlaced), or given a foot at or above the platform by hand.
    bool isPlaced() const { return placed || FootPoint.z >= -1e-6; }
    void markPlaced() { placed = true; }
    // Whether the head as drawn for this cone's support type meets the model.
    bool headHitsMesh(const topolib::StlObject& mesh) const;
    // Deletes the placed cone when its trunk as drawn meets the model, or runs
    // through it (runsThroughPart); false then.
    bool keepTrunkClear(const topolib::StlObject* mesh);
    // Whether the trunk's axis from `from` to `to` runs through the part where
    // its surface closes round it (asked only of a container whose surface is
    // open).
    bool runsThroughPart(const topolib::StlObject& mesh, const topolib::Vector3D& from,
                         const topolib::Vector3D& to) const;
    // For a cylinder support standing on the model: whether its trunk, as the
    // mesh draws it, would run back into the contact side or into the foot's
    // surface (a head end too close above the foot); such a cone is not drawn.
    bool trunkRunsBack() const;
    // Frees the cone's own mesh and the bars of every link it takes part in.
    void clearMesh();
    // How many links trimLinks keeps.
    static constexpr std::size_t kKeptLinks = 4;
    // The most bars buildBars makes for one link (a trunk that barely rises
    // would otherwise be walked up without end).
    static constexpr std::size_t kMaxBarSteps = 1000;
    // Keeps the four links whose foot points are nearest; the others are removed
    // from both cones and retired, or, when `removed` is given, handed to the
    // caller there (bars intact) instead.
    void trimLinks(std::vector<ColumnLink*>* removed = nullptr);
    // Makes the bracing bars of the links this cone owns (`first`) that have
    // none, spaced by params.spacing.
    void buildBars(const PlacementParams& params);
    // At least as many bars as buildBars(params) makes now (the walk up the
    // two trunks, counted without building or testing against the model), in
    // O(1) a link.
    std::size_t barBound(const PlacementParams& params) const;
    // Removes `link` from this cone's list (its first occurrence); false when absent.
    bool removeLink(const AbtShape* link);

    void setDeleted(bool d, ShapeDeque* changes) override;
    void setCircleBase(bool on) override { GenerateBase = on ? 1 : 0; }
    void collectLive(ShapeDeque& out) override;
    // Dispatches to the mesh builder of the support type and footing (and the
    // bars of a cylinder support). False for a deleted cone.
    bool buildMesh(const PlacementParams& params) override;
    // Nothing when deleted; otherwise the live bars of the live links this cone
    // owns (every live link with `all`), then its own triangles.
    void appendTriangles(std::vector<topolib::StlTriangle*>& out, bool all) const override;
    void appendVertices(std::vector<topolib::StlVertex*>& out) const override;
    bool baseXY(double out[2]) const override;
    void dropIfEndsOnModel() override;

    uint32_t ConeID = 0;
    uint32_t visited = 0; // thinning mark, 0 outside it
    SupportAreaAbs* area = nullptr;
    uint8_t ConeSupportType = 1; // 0 cross, 1 cylinder
    uint8_t GenerateBase = 1;    // a platform cone gets a circular base
    double ContactRadius = 0.5;
    double HeadRadius = 0.4;
    double HeadExtend = 5.0;
    double NeckRadius = 0.8;
    double BottomRadius = 1.2;
    double CrossRadius = 0.4;
    double FootZ = -1.0; // height of the model surface under the cone; not above 0 on the platform
    double BaseThickness = 1.0;
    double BaseSize = 4.0;
    double BeamRadius = 0.8;
    topolib::Vector3D ContactPoint;
    topolib::Vector3D TipCentre;
    topolib::Vector3D HeadEnd;
    topolib::Vector3D TrunkFoot;
    topolib::Vector3D FootTipCentre;
    topolib::Vector3D FootPoint{-1.0, -1.0, -1.0}; // z = -1: not placed yet
    topolib::Vector3D FootNormal;
    topolib::Vector3D ContactNormal{0.0, 0.0, -1.0};
    std::vector<topolib::StlVertex*> vertices;    // owned
    std::vector<topolib::StlTriangle*> triangles; // owned
    std::vector<AbtShape*> links;                 // ColumnLinks, shared with the other cone

private:
    // The mesh builder of the support type and footing; leaves the placement
    // as it was.
    void buildOwnMesh();
    void buildCylinderOnPlatform();
    void buildCylinderWithBase();
    void buildCylinderOnModel();
    void buildCrossOnPlatform();
    void buildCrossOnModel();
    void addCrossDisc();
    void addRingTube(topolib::StlVertex* const* u, int n);

    bool placed = false;
};

} // namespace support
