#pragma once

#include "topolib/Vector3D.h"

#include <vector>

namespace topolib {
class StlTriangle;
class StlVertex;
} // namespace topolib

namespace support {

// The free-standing mesh records of a support shape or the raft: vertices with
// index -1 and no mesh, triangles without edges, shell or group, registered with
// their vertices and with their normal computed from the stored order.
topolib::StlVertex* addShapeVertex(std::vector<topolib::StlVertex*>& vertices, const topolib::Vector3D& p);
topolib::StlTriangle* addShapeTriangle(std::vector<topolib::StlTriangle*>& triangles, topolib::StlVertex* a,
                                       topolib::StlVertex* b, topolib::StlVertex* c);
// Whether the triangles close up with one consistent winding: every directed
// edge (by vertex record) occurs exactly once and its reverse exactly once. False
// for an empty list.
bool isClosedShapeMesh(const std::vector<topolib::StlTriangle*>& triangles);
// Frees the records (each vertex with its incident list) and empties both lists.
void freeShapeMesh(std::vector<topolib::StlVertex*>& vertices, std::vector<topolib::StlTriangle*>& triangles);

} // namespace support
