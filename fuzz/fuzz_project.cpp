// Project reader on arbitrary archives: entry names, the descriptor, the
// geometry entries and the support entries (read against the meshes read), as
// an open does before anything reaches the scene.
#include "project/ProjectArchiveReader.h"
#include "project/SupportEntry.h"

#include "app/MemoryCheck.h"
#include "topolib/StlObject.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        // A budget a fuzzing process can afford: forged counts are refused
        // here instead of exhausting the memory limit.
        installMemoryCheck([](const uint64_t& bytes) { return bytes < (256ull << 20); });
        return true;
    }();
    (void)installed;
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QBuffer device(&bytes);
    project::ProjectContents contents;
    const IO_ERROR r = project::readProjectArchive(
        &device, [] { return std::make_unique<topolib::StlObject>(); }, contents);
    (void)r;
    return 0;
}
