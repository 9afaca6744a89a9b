#pragma once

#include "support/AbtShape.h"

#include <cstdint>
#include <vector>

namespace support {

class ConeShape;

// Joins two neighbouring cones. Registered in the `links` list of both; `first`
// (the cone that was being linked) builds and draws the bars. Owns its bars.
class ColumnLink : public AbtShape {
public:
    ColumnLink(ConeShape* first, ConeShape* second) : first(first), second(second) {}
    // Destroys the bars. Whoever destroys a link unregisters it from the cones first.
    ~ColumnLink() override;

    Kind kind() const override { return Kind::Link; }
    // The triangles of the live bars.
    void appendTriangles(std::vector<topolib::StlTriangle*>& out, bool all) const override;
    void appendVertices(std::vector<topolib::StlVertex*>& out) const override;
    // Retires every bar (through the container when there is one) and empties the list.
    void destroyBars();
    ConeShape* other(const ConeShape* c) const { return c == first ? second : first; }
    // The squared distance of the two foot points: cones keep their nearest links.
    double lengthSq() const { return footDistanceSq(first, second); }
    // What lengthSq would give for a link of a to b, before it exists.
    static double footDistanceSq(const ConeShape* a, const ConeShape* b);

    ConeShape* first = nullptr;
    ConeShape* second = nullptr;
    // Creation order within the container: of the links that join the same pair,
    // the earliest made by a cylinder cone carries the pair's bars.
    uint64_t serial = 0;
    std::vector<AbtShape*> bars; // owned CylinderBars
};

} // namespace support
