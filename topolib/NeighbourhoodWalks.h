#pragma once

// Local questions about the neighbourhood of one vertex, answered by short walks
// over the mesh records. The rim and lowest-edge steps are members of StlVertex
// (declared with it); this header adds the lowest-point test of the supports.
//
// The walks keep their visited state in the records' own flag bits (vertex mark
// bit 0, triangle walk mark, edge flag bits 0-3), so two walks must never run on
// the same mesh at once.

#include <cstdint>
#include <vector>

namespace topolib {

class StlObject;
class StlVertex;

// Whether v is the lowest point of a pit that needs a support: v lies at least
// 1e-6 below every neighbour, its steepest live facet faces downward, and no
// vertex more than 9e-6 below v can be reached from v through vertices less than
// `depth` above it. A vertex without a live triangle is never a lowest point.
// Leaves no vertex mark or walk mark behind (marks set on entry by another walk
// count as visited).
bool isLocalLowestVertex(StlVertex* v, double depth);

// isLocalLowestVertex of every vertex of the mesh, as a pass that goes through
// the vertex array in order asks it: each vertex that carries neither mark bit
// and has an incident list is tested, and the pass clears each vertex's two mark
// bits right after its turn, so that a vertex marked by an earlier walk (one of
// a lowest chain) is visited for the tests of the vertices before it only.
// Entry i is 1 when vertex i is a local lowest point, 0 otherwise (also for the
// vertices not tested). The answers are those of the tests one by one, found in
// time near linear in the mesh (BandReach); the marks are left as they are.
std::vector<uint8_t> localLowestVerticesInTurn(StlObject& mesh, double depth);

} // namespace topolib
