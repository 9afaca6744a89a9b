#pragma once

#include "topolib/Vector3D.h"

#include <cstddef>
#include <vector>

namespace topolib {
class StlTriangle;
class StlVertex;
} // namespace topolib

namespace support {

class SupportGen;

// While one lives for a support container, the records made for its shapes
// and its raft (addShapeVertex and addShapeTriangle, handed the container's
// check) are paid for in steps asked of the program's memory check
// (MemoryCheckCallback, when one is installed) before they are made; a step it
// refuses throws std::bad_alloc. A generation or a project load whose meshes
// would take more memory than the machine has (tall columns of a model in the
// wrong unit carry thousands of bars each) then fails as a failed allocation
// does, instead of the system ending the program once its memory is gone.
// The steps grow with what was spent, from kFirstStep to kStep. A check made
// while another lives for the same container leaves the account to that one.
class ShapeMemoryCheck {
public:
    // `granted`: bytes the caller has already asked the memory check for;
    // they are spent first. The container tells its check
    // (SupportGen::shapeMemoryCheck) while this one lives.
    explicit ShapeMemoryCheck(SupportGen& gen, std::size_t granted = 0);
    ~ShapeMemoryCheck();
    ShapeMemoryCheck(const ShapeMemoryCheck&) = delete;
    ShapeMemoryCheck& operator=(const ShapeMemoryCheck&) = delete;

    // Pays for `bytes` about to be spent on records: asks the memory check for
    // the next step when what was asked for before does not cover them.
    // Throws std::bad_alloc when the memory check refuses.
    void pay(std::size_t bytes);

    static constexpr std::size_t kFirstStep = std::size_t(1) << 20;
    static constexpr std::size_t kStep = std::size_t(16) << 20;

private:
    SupportGen& m_gen;
    bool m_outermost;
    std::size_t m_paidBytes;      // asked for and not yet spent
    std::size_t m_spentBytes = 0; // spent since this check began
};

// The free-standing mesh records of a support shape or the raft: vertices with
// index -1 and no mesh, triangles without edges, shell or group, registered with
// their vertices and with their normal computed from the stored order. With a
// check (the shape's container's, see ShapeMemoryCheck), each is paid for first.
topolib::StlVertex* addShapeVertex(std::vector<topolib::StlVertex*>& vertices, const topolib::Vector3D& p,
                                   ShapeMemoryCheck* check);
topolib::StlTriangle* addShapeTriangle(std::vector<topolib::StlTriangle*>& triangles, topolib::StlVertex* a,
                                       topolib::StlVertex* b, topolib::StlVertex* c, ShapeMemoryCheck* check);

// About what a shape mesh of `vertices` and `triangles` records takes with the
// lists that hold them: what ShapeMemoryCheck charges for it.
std::size_t shapeMeshBytes(std::size_t vertices, std::size_t triangles);

// Whether the triangles close up with one consistent winding: every directed
// edge (by vertex record) occurs exactly once and its reverse exactly once. False
// for an empty list.
bool isClosedShapeMesh(const std::vector<topolib::StlTriangle*>& triangles);
// Frees the records (each vertex with its incident list) and empties both lists.
void freeShapeMesh(std::vector<topolib::StlVertex*>& vertices, std::vector<topolib::StlTriangle*>& triangles);

} // namespace support
