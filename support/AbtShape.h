#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace topolib {
class StlTriangle;
class StlVertex;
} // namespace topolib

namespace support {

class AbtShape;
class ConeShape;
struct PlacementParams;

// The change list of setDeleted and the container of collectLive.
using ShapeDeque = std::deque<AbtShape*>;

// One piece of a support structure: a cone (support column), a link between two
// cones, or a bracing bar of a link. Every shape owns a small mesh of its own
// (vertex and triangle records that belong to no StlObject).
//
// A deleted shape stays in its owner's lists and keeps its mesh; drawing,
// picking, mesh building and the raft skip it.
class AbtShape {
public:
    enum class Kind { Cone, Link, Bar };

    AbtShape() = default;
    AbtShape(const AbtShape&) = delete;
    AbtShape& operator=(const AbtShape&) = delete;
    virtual ~AbtShape();

    virtual Kind kind() const = 0;
    ConeShape* asCone();
    const ConeShape* asCone() const;

    bool isDeleted() const { return deleted != 0; }

    // Sets the deleted state. When `changes` is given and the state really
    // changes, the shape is appended to it first (the delete and add commands undo
    // through that list). A cone passes the change on to its links.
    virtual void setDeleted(bool d, ShapeDeque* changes);
    // A cone stores whether it gets a circular base of its own on the platform.
    virtual void setCircleBase(bool on);
    // Appends the live shapes that support picking offers (a cone: itself and the
    // live bars of its live links).
    virtual void collectLive(ShapeDeque& out);
    // Rebuilds the shape's own mesh with the container's parameters; false
    // when nothing was built.
    virtual bool buildMesh(const PlacementParams& params);
    // Appends the triangles drawn for this shape (see ConeShape for `all`).
    virtual void appendTriangles(std::vector<topolib::StlTriangle*>& out, bool all) const;
    virtual void appendVertices(std::vector<topolib::StlVertex*>& out) const;
    // The planar foot point of a live cone standing on the platform (the raft's
    // input); false for every other shape.
    virtual bool baseXY(double out[2]) const;
    // A cone that stands on the model instead of the platform marks itself deleted.
    virtual void dropIfEndsOnModel();

    uint8_t deleted = 0; // 0 live, 1 deleted
    // The next shape its container retired after this one (the container's).
    AbtShape* retiredNext = nullptr;
};

} // namespace support
