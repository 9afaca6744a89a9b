#include "support/CylinderBar.h"

#include "support/ShapeMesh.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <cmath>

namespace support {

using topolib::StlVertex;
using topolib::Vector3D;

CylinderBar::~CylinderBar() { freeMesh(); }

void CylinderBar::freeMesh() { freeShapeMesh(vertices, triangles); }

void CylinderBar::appendTriangles(std::vector<topolib::StlTriangle*>& out, bool) const {
    out.insert(out.end(), triangles.begin(), triangles.end());
}

void CylinderBar::appendVertices(std::vector<topolib::StlVertex*>& out) const {
    out.insert(out.end(), vertices.begin(), vertices.end());
}

void CylinderBar::buildPrism(ShapeMemoryCheck* check) {
    freeMesh();
    const Vector3D a = end - start;
    Vector3D e;
    const double ax = std::fabs(a.x), ay = std::fabs(a.y), az = std::fabs(a.z);
    if (ax <= ay && ax <= az)
        e = Vector3D(1, 0, 0);
    else if (ay <= az)
        e = Vector3D(0, 1, 0);
    else
        e = Vector3D(0, 0, 1);
    Vector3D v = a.cross(e);
    v.normalize();
    Vector3D u = a.cross(e).cross(a);
    u.normalize();
    StlVertex* E[6];
    StlVertex* S[6];
    for (int k = 0; k < 6; ++k) {
        const double th = k * 1.047197551;
        E[k] = addShapeVertex(vertices, end + (u * std::cos(th) + v * std::sin(th)) * radius, check);
    }
    for (int k = 0; k < 6; ++k) {
        const double th = k * 1.047197551;
        S[k] = addShapeVertex(vertices, start + (u * std::cos(th) + v * std::sin(th)) * radius, check);
    }
    for (int k = 0; k < 6; ++k) {
        const int k1 = (k + 1) % 6;
        addShapeTriangle(triangles, S[k], S[k1], E[k1], check);
        addShapeTriangle(triangles, S[k], E[k1], E[k], check);
    }
    addShapeTriangle(triangles, E[5], E[0], E[4], check);
    addShapeTriangle(triangles, E[0], E[1], E[4], check);
    addShapeTriangle(triangles, S[5], S[4], S[0], check);
    addShapeTriangle(triangles, S[0], S[4], S[1], check);
    addShapeTriangle(triangles, E[4], E[1], E[3], check);
    addShapeTriangle(triangles, E[1], E[2], E[3], check);
    addShapeTriangle(triangles, S[4], S[3], S[1], check);
    addShapeTriangle(triangles, S[1], S[3], S[2], check);
}

} // namespace support
