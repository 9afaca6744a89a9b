#pragma once
// A support entry of a project ("Support/<n>.xml"): one object's support
// container with its regions and cones, as plain values. The archive code
// fills these records from the container and builds a container from them.
#include "project/ProjectXml.h"

#include <QByteArray>

#include <optional>
#include <vector>

class QIODevice;

namespace project {

struct ConeRecord {
    int coneId = 0;
    int supportType = 1; // 0 cross support, 1 cylinder support
    bool generateBase = true;
    double contactRadius = 0.5, beamRadius = 0.6, bottomRadius = 1.0;
    double baseThickness = 1.0, baseSize = 4.0, headExtend = 2.5;
    double contactPoint[3] = {0, 0, 0};
    double contactNormal[3] = {0, 0, -1};
};

// Region kinds as stored ("AreaType").
enum AreaKind { kAreaOverhang = 0, kAreaLowestPoint = 1, kAreaLowestCurve = 2, kAreaAddedPoint = 3 };

struct AreaRecord {
    int type = kAreaOverhang;
    int areaId = 0;
    double density = 5.0;           // kinds 0 and 2
    std::vector<int> triangleIds;   // kind 0: triangle ids of the geometry entry
    std::vector<int> edgeIds;       // kind 0: outline, edge positions of the geometry entry
    int vertexId = -1;              // kind 1: vertex position
    std::vector<int> vertexIds;     // kind 2: vertex positions
    int triangleId = -1;            // kind 3
    double seedPoint[3] = {0, 0, 0}; // kind 3: the picked point
    std::vector<ConeRecord> cones;  // live cones only
};

// The container's settings beyond the four every entry holds. Entries written
// before they were stored lack them: a missing one leaves the container's
// own value.
struct SupportSettings {
    std::optional<int> supportType; // 0 cross, 1 cylinder ("SupportType")
    std::optional<double> tipRadius, trunkRadius, branchRadius; // radii, half the panel's sizes
    std::optional<double> headExtend, baseThickness, baseSize;
};

struct SupportRecord {
    int baseType = 2; // 0 none, 1 full, 2 circle
    bool removeInternal = false;
    double maxAngle = 46.0;
    double density = 5.0;
    SupportSettings settings;
    std::vector<AreaRecord> areas;
};

// Sizes of the object's mesh that the ids of an entry must fall within.
struct MeshLimits {
    int triangles = 0, edges = 0, vertices = 0;
};

// The entry's document (UTF-8, indented). "NumConeShape" is the number of
// cone elements written. Numbers are written in the fewest digits that read
// back as the same double (a value of six digits or fewer as before), so that
// a reopened cone is placed bit for bit where it stood. The settings go into
// "General" after its four attributes; a reader that does not know them
// passes them over.
QByteArray writeSupportEntry(const SupportRecord& s);

// Reads an entry. Never fails: an XML error ends the document with what was
// read; ids outside the mesh are left out, a region left without its
// triangles, vertices or point is left out, a cone without a finite contact
// point is left out; numbers are clamped to the support panel's ranges and
// those that are not finite take the panel's presets; a missing or unusable
// contact normal reads as (0, 0, -1). An entry keeps at most the cones one
// generation may make (support::SupportGen::kMaxPlannedCones); cones beyond
// are left out. A document beyond supportEntryBounds (nested deeper than the
// format, a text or tag longer than the mesh's id lists can be, more bytes
// than its ids and the most cones take) gives an empty record and, when
// withinBounds is given, false there.
SupportRecord readSupportEntry(const QByteArray& xml, const MeshLimits& limits, bool* withinBounds = nullptr);
// The same from a device open for reading, read as it arrives (the document
// is never held whole).
SupportRecord readSupportEntry(QIODevice* device, const MeshLimits& limits, bool* withinBounds = nullptr);
// What a support entry of a mesh of these sizes can hold.
XmlBounds supportEntryBounds(const MeshLimits& limits);

// The cones of all regions.
size_t coneCount(const SupportRecord& s);

} // namespace project
