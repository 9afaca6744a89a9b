#pragma once

#include <cstddef>
#include <cstdint>

namespace topolib {

class StlObject;
class TriangleCutter;

// Subtracts a closed tool mesh (the merged drain holes) from a model: the model
// keeps its surface outside the tool, loses its surface inside it and gains the
// tool's surface inside the model, facing into the hole.
//
// Both meshes need their octrees (vertex and triangle), edges and shells. The
// work is all or nothing: when any step cannot finish (a cut piece that cannot be
// split or covered, crossings that do not settle, or a result that would leave
// the model with more open edges than before), subtract returns false and both
// meshes are exactly as they were before the call. Tool shells that repeat
// another shell exactly (a hole placed twice) are cut once; tool shells that
// overlap each other (holes that cross) are cut one after the other. Besides
// open edges, the result is refused when, welded by position as a saved file
// would be, a triangle side near the tool is not shared by exactly two sides,
// when the cut leaves more shells of next to no volume than the model had
// (tiny closed pockets elsewhere in the model do not stop it), or when the volume
// is not between the model's and the model's minus the tool's. The tool is
// consumed on success: the caller deletes it.
class MeshBoolean {
public:
    enum class Failure : uint32_t {
        None = 0,
        NoOctree,           // a mesh has no octree
        UnresolvedCrossing, // the crossings of one triangle did not settle
        Retriangulation,    // a cut triangle could not be replaced by pieces
        OpenResult,         // the result would have more open edges than the model
        BrokenResult,       // sides not paired by position, sliver shells, or a
                            // volume no subtraction of the tool can give
    };

    MeshBoolean(StlObject* target, StlObject* tool) : target(target), tool(tool) {}

    StlObject* target; // the model, changed in place
    StlObject* tool;   // the merged holes

    // Runs the subtraction. True on success, also when the meshes do not meet
    // (nothing changes then); false on failure, with both meshes unchanged
    // (the target only while it keeps its copy, below).
    bool subtract();

    // Whether subtract takes a copy of the whole target before it cuts, to
    // bring it back on failure (the default). A caller that can make the
    // target again (a fresh copy of a mesh it still holds) turns this off and
    // spares a copy as big as the model; a failed subtract then leaves the
    // target unusable until the caller replaces its mesh.
    void setKeepsTargetCopy(bool keep) { m_keepsTargetCopy = keep; }

    // What the last subtract did.
    Failure failure() const { return m_failure; }
    std::size_t cutTargetTriangles() const { return m_cutTarget; }
    std::size_t keptToolTriangles() const { return m_keptTool; }

    // Steps allowed to the crossing resolution of one triangle; 0 for the default
    // budget, which grows with the square of the triangle's segment count.
    void setCrossingStepBudget(std::size_t steps) { m_crossingBudget = steps; }

private:
    // subtract at the meshes' present size.
    bool subtractHere();
    bool run(StlObject& cutTool, TriangleCutter& cutter);

    Failure m_failure = Failure::None;
    std::size_t m_cutTarget = 0;
    std::size_t m_cutTool = 0;
    std::size_t m_keptTool = 0;
    std::size_t m_crossingBudget = 0;
    bool m_keepsTargetCopy = true;
};

// Number of edges with at least one live triangle that do not have exactly two
// live triangles (open or over-full edges, whatever their class).
std::size_t countUnpairedEdges(const StlObject& mesh);
// Signed volume enclosed by the live triangles (positive for outward normals).
double liveVolume(const StlObject& mesh);

} // namespace topolib
