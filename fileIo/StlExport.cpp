// Writing lists of triangles as STL (the scene's "Save Object" and the file
// handed to the external slicer).

#include "fileIo/StlFileHandling.h"
#include "fileIo/StlWriter.h"

#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <string>

namespace fileIo {

namespace {

template <typename List>
uint32_t countLive(const List& triangles) {
    uint32_t n = 0;
    for (const topolib::StlTriangle* t : triangles)
        if (t && !t->isDeleted())
            ++n;
    return n;
}

template <typename Writer, typename List>
void addLive(Writer& writer, const List& triangles) {
    for (const topolib::StlTriangle* t : triangles)
        if (t && !t->isDeleted())
            writer.addFacet(t->normalData(), t->vertices[0]->pos.data(), t->vertices[1]->pos.data(),
                            t->vertices[2]->pos.data());
}

template <typename Writer>
int finishAndReport(Writer& writer, SaveReport* report) {
    const bool done = writer.isOpen() && writer.finish();
    if (report)
        *report = writer.report();
    return done ? kSuccess : kFailure;
}

template <typename List>
int writeAscii(const std::wstring& path, const List& triangles, SaveReport* report) {
    if (triangles.empty())
        return kFailure;
    AsciiStlWriter writer(path);
    if (writer.isOpen()) {
        writer.begin();
        addLive(writer, triangles);
    }
    return finishAndReport(writer, report);
}

template <typename List>
int writeBinary(const std::wstring& path, const List& triangles, SaveReport* report) {
    if (triangles.empty())
        return kFailure;
    BinaryStlWriter writer(path);
    if (writer.isOpen()) {
        // The header text with its terminating zero; the writer pads to 80 bytes.
        writer.begin(std::string("Save by Velar3D"), countLive(triangles));
        addLive(writer, triangles);
    }
    return finishAndReport(writer, report);
}

} // namespace

int exportAsciiStl(const std::wstring& path, const std::vector<topolib::StlTriangle*>& triangles, SaveReport* report) {
    return writeAscii(path, triangles, report);
}
int exportAsciiStl(const std::wstring& path, const topolib::RefArray<topolib::StlTriangle>& triangles, SaveReport* report) {
    return writeAscii(path, triangles, report);
}
int exportBinaryStl(const std::wstring& path, const std::vector<topolib::StlTriangle*>& triangles, SaveReport* report) {
    return writeBinary(path, triangles, report);
}
int exportBinaryStl(const std::wstring& path, const topolib::RefArray<topolib::StlTriangle>& triangles, SaveReport* report) {
    return writeBinary(path, triangles, report);
}

} // namespace fileIo
