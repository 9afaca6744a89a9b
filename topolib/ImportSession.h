#pragma once

#include "topolib/NeighbourEntries.h"
#include "topolib/RecordArena.h"
#include "topolib/RecordPool.h"
#include "topolib/StlTriangle.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace topolib {

class StlEdge;

// The scratch memory of one import of loose facets, from the weld to the edge
// build, and what the edge build hands to the shell search. A big mesh welded
// from empty borrows the room of its future edge records from the edge pool
// (RecordPool::lendRoom): the corner sort scatters into it, then the weld
// leaves there the corners' vertex numbers, which the edge build reads on
// several threads before it makes the edges over them; the pages are so mapped
// once, and the edges lie where the scratch was. The room stays the pool's:
// its loan ends when the first edge record is made, and the numbers are valid
// only while it lasts. The session keeps no reference to the pool (a mesh's
// records move between meshes as a unit) and is handed it.
//
// The import owns its session (StlObject::loadFromFile, for the length of one
// load) and passes it to StlObject::weldFacetCorners, buildEdges and
// findShells in turn; the mesh keeps none. Used by one thread.
class ImportSession {
public:
    // The edge pool's room for `cornerTotal` corners and for the edges of a
    // closed mesh of `triangleTotal` triangles, whichever is larger; the same
    // address again while the loan lasts. The weld's sort scatters into it
    // with or without a session.
    static void* edgeRoom(RecordPool<StlEdge>& edgePool, std::size_t cornerTotal, std::size_t triangleTotal);

    // Gives back the pages of that room from byte `keep` to the end of the
    // corners' part (what the scratch no longer needs before the edges come).
    static void releaseRoomPast(RecordPool<StlEdge>& edgePool, std::size_t cornerTotal,
                                std::size_t triangleTotal, std::size_t keep);

    // The weld writes the vertex number of every corner (3 × triangle + slot;
    // 0xFFFFFFFF for the corners of a deleted triangle) into the room: the
    // array it fills, one entry per corner.
    uint32_t* holdWeldedCorners(RecordPool<StlEdge>& edgePool, std::size_t cornerTotal, std::size_t triangleTotal) {
        m_weldedCorners = static_cast<uint32_t*>(edgeRoom(edgePool, cornerTotal, triangleTotal));
        return m_weldedCorners;
    }
    // The numbers are incomplete (some corner had none): the edge build must
    // not use them.
    void dropWeldedCorners() { m_weldedCorners = nullptr; }

    // Ends the session: the corners' vertex numbers the weld left, while the
    // pool's loan of their room lasts (no edge record made since); null
    // otherwise. The caller reads them before it makes an edge record.
    const uint32_t* endTakingWeldedCorners(const RecordPool<StlEdge>& edgePool) {
        const uint32_t* welded = edgePool.lentRoom() == m_weldedCorners ? m_weldedCorners : nullptr;
        end();
        return welded;
    }
    // Ends the session without using what it holds (a new weld).
    void end() {
        m_weldedCorners = nullptr;
        m_shellTable = ShellTableHandover();
    }

    // The edge build leaves the shell search's table in the records (the
    // caller of buildEdges asked for it and runs findShells next).
    void holdShellTable(ShellTableHandover table) { m_shellTable = std::move(table); }
    // The shell search takes it: the table, or an empty hand-over when the
    // records hold their ids and shells.
    ShellTableHandover takeShellTable() { return std::exchange(m_shellTable, ShellTableHandover()); }

    // The integer the threaded edge build keeps for each side (3 × triangle +
    // slot) until the side gets its edge. The entries live in the triangles'
    // edge slots, which are there and still empty (no array of their own), as
    // raw references; the triangle records lie in array order from `first`.
    // A slot holds either an entry or an edge, never both: the build replaces
    // each entry by the side's edge, or clear() empties the slots again.
    class SideEntries {
    public:
        explicit SideEntries(StlTriangle* first) : m_first(first) {}
        Ref<StlEdge>& slot(std::size_t side) const { return m_first[side / 3].edges[side % 3]; }
        uint32_t get(std::size_t side) const { return slot(side).raw(); }
        void set(std::size_t side, uint32_t value) const { slot(side) = Ref<StlEdge>::fromRaw(value); }
        // Empties the slots of triangles [begin, end).
        void clear(std::size_t begin, std::size_t end) const {
            for (std::size_t i = begin; i < end; ++i)
                for (Ref<StlEdge>& e : m_first[i].edges)
                    e = nullptr;
        }

    private:
        StlTriangle* m_first;
    };

private:
    uint32_t* m_weldedCorners = nullptr; // in the edge pool's lent room
    ShellTableHandover m_shellTable;
};

} // namespace topolib
