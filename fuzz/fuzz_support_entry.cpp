// The support entry reader on arbitrary documents, checked against a small
// mesh. Whatever it keeps must survive a save: the record written back reads
// back with the same regions and cones.
#include "project/SupportEntry.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    project::MeshLimits limits;
    limits.triangles = 64;
    limits.edges = 96;
    limits.vertices = 34;
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const project::SupportRecord read = project::readSupportEntry(xml, limits);
    const project::SupportRecord again = project::readSupportEntry(project::writeSupportEntry(read), limits);
    if (again.areas.size() != read.areas.size() || project::coneCount(again) != project::coneCount(read))
        std::abort();
    return 0;
}
