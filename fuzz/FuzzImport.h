#pragma once
// What every STL fuzz input goes through: the reader, then the edge and shell
// building of an import, as for a file the user opens.

#include "app/MemoryCheck.h"
#include "fileIo/StlFileHandling.h"
#include "topolib/StlObject.h"

#include <sstream>
#include <string>

inline void fuzzStlImport(const uint8_t* data, size_t size, bool ascii) {
    static const bool installed = [] {
        installMemoryCheck([](const uint64_t&) { return true; });
        return true;
    }();
    (void)installed;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    topolib::StlObject mesh;
    fileIo::StlFileHandling handler;
    handler.setTarget(&mesh);
    const int result = ascii ? handler.readAsciiFrom(in) : handler.readBinaryFrom(in);
    if (result == fileIo::kSuccess) {
        mesh.buildEdges(false, 60, 25);
        mesh.findShells(false, 85);
    }
}
