#pragma once

#include "topolib/StlTriangle.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace topolib {

// The shell search's table of neighbours: for every live triangle of an
// array whose records lie in array order, three entries, one per side, that
// say what the search reaches across that side. Either the shell search
// writes them (StlObjectShells.cpp) or the edge build that runs just before
// it, as it joins the sides (see ShellTableHandover).
namespace neighbour {

// An entry: the index of the triangle across, with kAgainst when it runs the
// side the same way (wound against the triangle); or kNone, or kBoundary for
// a boundary edge (the shell is open).
constexpr uint32_t kAgainst = 0x80000000u;
constexpr uint32_t kIndexMask = 0x7FFFFFFFu;
constexpr uint32_t kBoundary = 0xFFFFFFFEu;
constexpr uint32_t kNone = 0xFFFFFFFFu;
// The most triangles an index of an entry can name.
constexpr uint32_t kMaxTriangles = kBoundary - 1;

// The entries kept in a triangle's own record, over its id (the first) and
// its shell pointer's bytes (the other two): no memory beyond the mesh's.
// The shell search sets both fields back as it takes the triangle.
static_assert(sizeof(StlTriangle::id) == 4 && sizeof(StlTriangle::shell) == 8, "room for three entries");

inline void storeInRecord(StlTriangle* t, const uint32_t entries[3]) {
    std::memcpy(&t->id, &entries[0], 4);
    std::memcpy(&t->shell, &entries[1], 8);
}
inline void loadFromRecord(const StlTriangle* t, uint32_t entries[3]) {
    std::memcpy(&entries[0], &t->id, 4);
    std::memcpy(&entries[1], &t->shell, 8);
}
// Entry k alone.
inline void storeOneInRecord(StlTriangle* t, int k, uint32_t entry) {
    char* field = k == 0 ? reinterpret_cast<char*>(&t->id) : reinterpret_cast<char*>(&t->shell) + 4 * (k - 1);
    std::memcpy(field, &entry, 4);
}

} // namespace neighbour

// The shell search's table as the edge build leaves it in the triangle
// records for the shell search that follows (StlObject::buildEdges with
// AfterEdges::FindShells). While `triangles` is nonzero, the live triangles
// of the mesh's array, whose records lie in array order, hold their entries
// in place of their id and shell, and usedVertices has a bit set for each
// vertex record (in array order) that a live triangle uses. The edges are
// fresh: no walk marks. Empty (triangles 0) when the build left the records
// as they were.
struct ShellTableHandover {
    uint32_t triangles = 0;
    std::vector<uint64_t> usedVertices;

    bool holdsTable() const { return triangles != 0; }
};

} // namespace topolib
