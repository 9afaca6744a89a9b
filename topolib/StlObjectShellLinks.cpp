// The parts of the mesh object that hold, copy and count its shells.
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <algorithm>

namespace topolib {

void StlObject::releaseShells() {
    for (StlShell* s : m_records.shells)
        delete s;
    m_records.shells.clear();
}

int StlObject::rebuildTriangleArrayFromShells() {
    // Size by what the shells really hold: a stored count that falls short of
    // the lists must not let the renumbering write past the array.
    std::size_t total = 0;
    for (const StlShell* s : m_records.shells)
        total += std::max<std::size_t>(s->triangleCount, s->primaryTriangles.size() + s->reversedTriangles.size());
    RefArray<StlTriangle> array;
    array.reserve(total + 100);
    array.resize(total, nullptr);
    uint32_t next = 0;
    for (StlShell* s : m_records.shells)
        s->renumberTriangles(array.data(), next);
    array.resize(next);
    m_records.triangles.swap(array);
    m_measures.facetCount = next;
    return 0;
}

uint32_t StlObject::countValidShellTriangles() const {
    uint32_t n = 0;
    for (const StlShell* s : m_records.shells)
        n += static_cast<uint32_t>(s->countValidPrimaryTriangles() + s->countValidReversedTriangles());
    return n;
}

} // namespace topolib
