#pragma once
// Between an object's support container and the records of its project entry.
#include "project/SupportEntry.h"

namespace fileIo {
struct VGeoNumbering;
}
namespace support {
class SupportGen;
}
namespace topolib {
class StlObject;
}

namespace project {

// The container as a record. Triangle and edge ids become the positions the
// geometry writer gave them (numbering), so that they name the same facets
// after the entry is read back; regions whose triangles, vertices or point
// were not written are left out, and so are deleted cones. Every cone goes
// with its placement, its live links to the cones written (in its order) and
// the bars of those it carries, the deleted ones named by their places
// among them.
SupportRecord supportRecordFrom(const support::SupportGen& gen, const fileIo::VGeoNumbering& numbering);

// Fills gen (a new, empty container of mesh) from a record that
// readSupportEntry checked against mesh, then builds the cones' meshes and
// the shape grid. When every cone comes with its placement, the cones stand
// where they were stored and get the links and bars stored, nothing placed
// or searched again: the supports are those that were saved, to the bit.
// Otherwise (an entry of an earlier version) the cones without a placement
// are placed, all are linked and braced again, and the bars the record names
// as deleted by their places are marked deleted again. Each overhang region
// writes its number into the group field of its facets again. The meshes are
// paid for through the memory check (support::ShapeMemoryCheck): throws
// std::bad_alloc when it refuses them, gen then partly filled.
void fillSupportGen(support::SupportGen& gen, topolib::StlObject& mesh, const SupportRecord& record);

} // namespace project
