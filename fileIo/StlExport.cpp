// Writing lists of triangles as STL (the scene's "Save Object" and the file
// handed to the external slicer).

#include "fileIo/StlFileHandling.h"
#include "fileIo/StlWriter.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <string>

namespace fileIo {

namespace {

uint32_t countLive(const std::vector<topolib::StlTriangle*>& triangles) {
    uint32_t n = 0;
    for (const auto* t : triangles)
        if (t && !t->isDeleted())
            ++n;
    return n;
}

template <typename Writer>
void addLive(Writer& writer, const std::vector<topolib::StlTriangle*>& triangles) {
    for (const auto* t : triangles)
        if (t && !t->isDeleted())
            writer.addFacet(t->normalData(), t->vertices[0]->pos.data(), t->vertices[1]->pos.data(),
                            t->vertices[2]->pos.data());
}

} // namespace

int exportAsciiStl(const std::wstring& path, const std::vector<topolib::StlTriangle*>& triangles) {
    if (triangles.empty())
        return kFailure;
    AsciiStlWriter writer(path);
    if (!writer.isOpen())
        return kFailure;
    writer.begin();
    addLive(writer, triangles);
    return writer.finish() ? kSuccess : kFailure;
}

int exportBinaryStl(const std::wstring& path, const std::vector<topolib::StlTriangle*>& triangles) {
    if (triangles.empty())
        return kFailure;
    BinaryStlWriter writer(path);
    if (!writer.isOpen())
        return kFailure;
    // The header text with its terminating zero; the writer pads to 80 bytes.
    writer.begin(std::string("Save by Velar3D"), countLive(triangles));
    addLive(writer, triangles);
    return writer.finish() ? kSuccess : kFailure;
}

} // namespace fileIo
