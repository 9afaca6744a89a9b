#pragma once
// The binary STL file handed to the slicer: the triangles of the exported
// objects and their supports, in one file, with the XY calibration applied to
// the object meshes' coordinates as they are written. The scene's meshes are
// only read, so their vertices stay bit for bit as they were, whatever
// happens to the write.
#include <QString>

#include <vector>

namespace topolib {
class StlTriangle;
}

namespace gcodeexport {

class XyCalibration;

// Triangles written together, and whether the calibration applies to them
// (object meshes: yes; supports: no, they are written as they are).
struct ExportPiece {
    std::vector<const topolib::StlTriangle*> triangles; // live triangles only
    bool calibrated = false;
};

// Writes every triangle of the pieces as one binary STL file. With a
// calibration the corners of calibrated pieces are corrected and their
// normals recomputed from the corrected corners. False (with *error) when
// there is nothing to write or any byte could not be written; an existing
// file at path is then left as it was.
bool writeExportStl(const QString& path, const std::vector<ExportPiece>& pieces,
                    const XyCalibration* calibration, QString* error);

} // namespace gcodeexport
