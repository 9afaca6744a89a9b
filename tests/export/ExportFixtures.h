#pragma once
// Helpers of the export tests: scene objects from generated meshes, an
// application folder with the shipped slicer files, stand-in slicers, and a
// run of the export to its end with everything it reported.
#include "MeshFixtures.h"
#include "export/GcodeExport.h"

#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <vector>

class ObjectEx;

namespace exporttest {

// A ready, visible, selected scene object holding soup, added to the object list.
ObjectEx* addSceneObject(const meshfixtures::TriangleSoup& soup);
// Every vertex coordinate of every scene object, in order.
std::vector<double> sceneVertexCoordinates();

// A fresh application folder holding the shipped definitions, profiles and
// calibrations (copied from the test binary's folder).
QString makeApplicationDir(const QTemporaryDir& dir);
void writeTextFile(const QString& path, const QString& text);
QByteArray readFileBytes(const QString& path);
// An executable shell script at path.
void writeScript(const QString& path, const QString& body);

// What one export run left.
struct RunRecord {
    bool started = false;
    gcodeexport::GcodeExportResult result;
    std::vector<int> progress; // every reported value, in order
    QStringList messages;      // every message shown to the user
};

// Starts the export of the whole scene (all objects) and waits for its end;
// setUp sees the exporter just before the start.
RunRecord runExport(const gcodeexport::GcodeExportRequest& request, bool selectedOnly = false,
                    const std::function<void(gcodeexport::GcodeExport&)>& setUp = {});

// Sets VELAR_CURAENGINE for the lifetime of the object (empty: unset).
class SlicerOverride {
public:
    explicit SlicerOverride(const QString& program);
    ~SlicerOverride();

private:
    QByteArray m_old;
    bool m_hadOld;
};

} // namespace exporttest
