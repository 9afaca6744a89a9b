#pragma once
// A support entry of a project ("Support/<n>.xml"): one object's support
// container with its regions and cones, as plain values. The archive code
// fills these records from the container and builds a container from them.
#include "project/ProjectXml.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QIODevice;

namespace project {

// Where a cone stands, as its placement left it: stored so that a cone read
// back stands where it stood without being placed again (placing depends on
// the model's surface and on the generator, both of which may answer a hair
// differently).
struct ConePlacement {
    double tipCentre[3] = {0, 0, 0};
    double headEnd[3] = {0, 0, 0};
    double trunkFoot[3] = {0, 0, 0};
    double footTipCentre[3] = {0, 0, 0};
    double footPoint[3] = {0, 0, 0};
    double footNormal[3] = {0, 0, 1};
    double footZ = -1.0;
};

// One bracing bar, from the trunk of the cone that carries it to the other.
struct BarRecord {
    double start[3] = {0, 0, 0};
    double end[3] = {0, 0, 0};
};

// One link of a cone: the other cone by its place among the entry's cones,
// whether this cone carries the link's bars, and those bars.
struct LinkRecord {
    int cone = -1;
    bool carried = false;
    std::vector<BarRecord> bars; // only when carried
};

struct ConeRecord {
    // The cone's place among the cone elements of the entry (every one
    // counts, also one that is left out): how links name it.
    int place = 0;
    int coneId = 0;
    int supportType = 1; // 0 cross support, 1 cylinder support
    bool generateBase = true;
    double contactRadius = 0.5, beamRadius = 0.6, bottomRadius = 1.0;
    double baseThickness = 1.0, baseSize = 4.0, headExtend = 2.5;
    double contactPoint[3] = {0, 0, 0};
    double contactNormal[3] = {0, 0, -1};
    // Bars the user deleted: their places among the bars of the links the cone
    // carries (its live links in list order, each link's bars in order),
    // ascending. Stored as "DeletedBars" only when there are any.
    std::vector<int> deletedBars;
    // Entries written by earlier versions have neither: the cone is placed,
    // linked and braced again when it is read.
    std::optional<ConePlacement> placement;
    std::vector<LinkRecord> links; // in the cone's order; stored with the placement
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
// back as the same double (a value of six digits or fewer as before). The
// settings go into "General" after its four attributes; after a cone's own
// attributes come its deleted bars ("DeletedBars"), its placement
// ("TipCentre", "HeadEnd", "TrunkFoot", "FootTipCentre", "FootPoint",
// "FootNormal", "FootZ") and, with the placement, its links ("Links": the
// other cones' places; "LinkCarriers": 1 for each link whose bars it carries;
// "BarCounts": the bars it stores for each; "Bars": six numbers a bar, its
// start and end). A reader that does not know them passes them over.
QByteArray writeSupportEntry(const SupportRecord& s);

// Reads an entry. An XML error ends the document with what was read; ids
// outside the mesh are left out, a region left without its triangles,
// vertices or point is left out, a cone without a finite contact point is
// left out, and so is a placement that is not whole and finite and the links
// of a cone whose lists do not agree; numbers are clamped to the support
// panel's ranges and those that are not finite take the panel's presets; a
// missing or unusable contact normal reads as (0, 0, -1). An entry keeps at
// most the cones one generation may make (support::SupportGen::kMaxPlannedCones)
// and the bars one link may have (support::ConeShape::kMaxBarSteps); cones and
// bars beyond are left out. An entry is refused, giving an empty record and,
// when withinBounds is given, false there (and why in refusal, when given):
// - a document beyond supportEntryBounds (nested deeper than the format, a
//   text or tag longer than the mesh's id lists and a cone's bars can be,
//   more bytes than its ids and the most cones take);
// - more regions than the mesh can carry (maxRegions);
// - regions the memory check refuses (they are asked for as they are read).
SupportRecord readSupportEntry(const QByteArray& xml, const MeshLimits& limits, bool* withinBounds = nullptr,
                               std::string* refusal = nullptr);
// The same from a device open for reading, read as it arrives (the document
// is never held whole).
SupportRecord readSupportEntry(QIODevice* device, const MeshLimits& limits, bool* withinBounds = nullptr,
                               std::string* refusal = nullptr);
// The most regions an entry of a mesh of these sizes holding `cones` cones
// can have: an overhang region takes facets no other region takes, a lowest
// point or curve vertices, and a point the user added held a cone, though
// the user may have deleted it since (kMaxBareUserPoints of those).
uint64_t maxRegions(const MeshLimits& limits, uint64_t cones);
constexpr uint64_t kMaxBareUserPoints = 65536;
// Memory a region read takes until its container is built, asked of the
// memory check as the regions are read.
constexpr uint64_t kRegionBytes = 512;
// What a support entry of a mesh of these sizes can hold.
XmlBounds supportEntryBounds(const MeshLimits& limits);

// The cones of all regions.
size_t coneCount(const SupportRecord& s);

} // namespace project
