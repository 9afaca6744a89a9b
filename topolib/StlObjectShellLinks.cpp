// The parts of the mesh object that hold, copy and count its shells.
#include "topolib/StlObject.h"

namespace topolib {

void StlObject::releaseShells() { m_shells.clear(); }

void StlObject::copyShellsTo(StlObject*) const {}

void StlObject::fileCopiedTriangle(const StlTriangle&, StlTriangle&, StlObject*) const {}

int StlObject::rebuildTriangleArrayFromShells() { return 0; }

uint32_t StlObject::countValidShellTriangles() const { return 0; }

void StlObject::findShellsAfterLoad() {}

} // namespace topolib
