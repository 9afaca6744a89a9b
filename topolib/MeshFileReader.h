#pragma once
// The seam between the mesh and the file layer: StlObject::loadFromFile is
// handed a reader per call and asks it to fill the mesh; the mesh library
// itself knows no file format.

#include "topolib/LoadResult.h"

#include <string>

class ProgressMonitor;

namespace topolib {

class StlObject;

class MeshFileReader {
public:
    virtual ~MeshFileReader() = default;
    // Reads the file at `path` into the empty `target`: its triangles,
    // welded vertices, box, area and volume, or (the geometry format) its
    // edges and shells too. Reports to `progress` (null: the global report)
    // and stops with Cancelled once it asks to stop. Whatever
    // else the reader learns (why it failed, what to tell the user) it keeps
    // for its caller.
    virtual LoadResult read(StlObject& target, const std::wstring& path, const ProgressMonitor* progress) = 0;
};

} // namespace topolib
