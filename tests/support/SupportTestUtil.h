#pragma once
// Shared checks and models of the support tests.

#include "MeshFixtures.h"
#include "support/ShapeMesh.h"
#include "support/SupportGen.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <memory>
#include <vector>

namespace supporttest {

// Closed with one consistent winding (the library's own check).
inline bool closedAndConsistent(const std::vector<topolib::StlTriangle*>& ts) { return support::isClosedShapeMesh(ts); }

// Enclosed volume; positive when the triangles are wound outward.
inline double signedVolume(const std::vector<topolib::StlTriangle*>& ts) {
    double v = 0.0;
    for (const topolib::StlTriangle* t : ts) {
        const topolib::Vector3D& a = t->vertices[0]->pos;
        const topolib::Vector3D& b = t->vertices[1]->pos;
        const topolib::Vector3D& c = t->vertices[2]->pos;
        v += a.dot(b.cross(c)) / 6.0;
    }
    return v;
}

// A model with its support container.
struct Generated {
    std::unique_ptr<topolib::StlObject> mesh;
    std::unique_ptr<support::SupportGen> gen;
};

// A container for mesh with the support panel's preset parameters (sizes
// halved into radii).
inline std::unique_ptr<support::SupportGen> presetSupports(topolib::StlObject* mesh) {
    auto gen = std::make_unique<support::SupportGen>(mesh);
    gen->setTipRadius(0.5);
    gen->setTrunkRadius(1.0);
    gen->setBranchRadius(0.6);
    gen->setHeadExtend(2.5);
    gen->setDensity(5.0);
    return gen;
}

// The walk marks every support step must leave cleared.
inline bool marksClear(const topolib::StlObject& mesh) {
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        if (t->walkMark() != 0)
            return false;
    }
    for (const topolib::StlVertex* v : mesh.vertices()) {
        if (v->mark() != 0)
            return false;
    }
    for (const topolib::StlEdge* e : mesh.edges()) {
        if (e->edgeClass != topolib::kEdgeDetached && e->marks() != 0)
            return false;
    }
    return true;
}

// A beam on two pillars as one closed surface: the outline in the x-z plane
// (pillars 5 wide and 20 high at both ends of a 40 long, 5 thick beam) extruded
// 10 along y, lifted by `lift`.
inline meshfixtures::TriangleSoup bridge(double lift) {
    using meshfixtures::Point;
    const double outline[8][2] = {{0, 0}, {5, 0}, {5, 20}, {35, 20}, {35, 0}, {40, 0}, {40, 25}, {0, 25}};
    // Triangles of the outline, counter-clockwise in (x, z).
    const int caps[6][3] = {{0, 1, 2}, {0, 2, 7}, {7, 2, 3}, {7, 3, 6}, {3, 4, 5}, {3, 5, 6}};
    auto at = [&](int i, double y) { return Point{outline[i][0], y, outline[i][1] + lift}; };
    meshfixtures::TriangleSoup s;
    // The outline runs counter-clockwise seen from -y, so the y = 0 cap keeps it.
    for (const auto& c : caps)
        s.push_back({{at(c[0], 0), at(c[1], 0), at(c[2], 0)}});
    for (const auto& c : caps)
        s.push_back({{at(c[0], 10), at(c[2], 10), at(c[1], 10)}});
    for (int i = 0; i < 8; ++i) {
        const int j = (i + 1) % 8;
        s.push_back({{at(i, 0), at(j, 10), at(j, 0)}});
        s.push_back({{at(i, 0), at(i, 10), at(j, 10)}});
    }
    return s;
}

} // namespace supporttest
