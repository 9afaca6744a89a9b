// The project descriptor reader on arbitrary documents. Whatever it accepts
// must survive a save: the records written back from it read back as the
// same number of records, and every part of the view state it held reads
// back as held.
#include "project/ProjectDescriptor.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<int>(size));
    project::ProjectDescriptor read;
    if (!project::readDescriptor(xml, read))
        return 0;
    project::ProjectDescriptor again;
    if (!project::readDescriptor(project::writeDescriptor(read), again))
        std::abort();
    if (again.objects.size() != read.objects.size() || !again.hasViewPort || (read.hasScale && !again.hasScale) ||
        (read.hasMatrix && !again.hasMatrix) || (read.hasCenter && !again.hasCenter))
        std::abort();
    return 0;
}
