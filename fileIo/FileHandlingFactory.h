#pragma once
// Makes the handler for a format code or for a file name.

#include "fileIo/FileHandling.h"

#include <cstdint>
#include <memory>
#include <string>

namespace fileIo {

// Format codes from a file's extension; they are not positions in the
// application's file-type table.
using MeshFileType = int32_t;
constexpr MeshFileType kMeshStl = 0;
constexpr MeshFileType kMeshPly = 1;
constexpr MeshFileType kMeshSlc = 2;
constexpr MeshFileType kMesh3ds = 3;
constexpr MeshFileType kMeshVsg = 4;
constexpr MeshFileType kMeshKav = 5;
constexpr MeshFileType kMeshObj = 6;
constexpr MeshFileType kMeshUnknown = -1;

// The code of the three letters after the last '.' of the whole name, case
// ignored; -1 for anything else (also when the last dot lies in a folder name).
MeshFileType fileTypeFromName(const std::wstring& fileName);

class FileHandlingFactory {
public:
    static FileHandlingFactory* instance();

    // A new handler for STL (0) or the geometry format (4), with no file name
    // and no target; null for every other code.
    std::unique_ptr<FileHandling> create(MeshFileType code) const;
    // The handler for the name's format with the name and target set; null
    // when the format has no handler.
    std::unique_ptr<FileHandling> createForFile(const std::wstring& fileName, topolib::StlObject* target) const;
};

} // namespace fileIo
