#pragma once
// What an export takes from the scene: the triangles to write (each object's
// mesh, then its supports) and the figures that pace the progress.
#include "export/ExportStl.h"

class ObjectTable;

namespace gcodeexport {

struct ExportScene {
    // Every ready object (the selected ones only when asked), visible or not:
    // its live mesh triangles (calibrated) and then its support triangles (not).
    std::vector<ExportPiece> pieces;
    // Triangles and height range of the visible objects among them.
    int triangleCount = 0;
    bool hasHeight = false;
    double zMin = 0.0;
    double zMax = 0.0;

    bool isEmpty() const;
};

// Gathers from table (GUI thread; waits for each object's running jobs). The
// pointers stay valid until the scene changes.
ExportScene gatherExportScene(ObjectTable& table, bool selectedOnly);

} // namespace gcodeexport
