#pragma once

#include "support/AbtShape.h"
#include "topolib/Vector3D.h"

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

    // Where a link from a cone to `to` of squared length lengthSq stands among
    // that cone's links: shorter first, lengths within a micron alike, and then
    // by where the other cone stands (its foot, then its contact). The rank
    // depends on the two cones alone, never on the order they were made in, so
    // generation, hand edits and a reopened project give the same links; foot
    // points that differ only by rounding keep them too.
    struct Rank {
        int64_t microns = 0;
        topolib::Vector3D foot;
        topolib::Vector3D contact;
        bool operator<(const Rank& r) const;
    };
    static Rank rank(double lengthSq, const ConeShape* to);
    // Orders cones by where they stand: foot point, then contact point.
    static bool standsBefore(const ConeShape* a, const ConeShape* b);
    Rank rankFrom(const ConeShape* c) const { return rank(lengthSq(), other(c)); }

    ConeShape* first = nullptr;
    ConeShape* second = nullptr;
    // Creation order within the container: of the links that join the same pair
    // (projects and tests may hold two), the earliest made by a cylinder cone
    // carries the pair's bars.
    uint64_t serial = 0;
    std::vector<AbtShape*> bars; // owned CylinderBars
};

} // namespace support
