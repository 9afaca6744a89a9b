#include "project/SupportEntry.h"

#include "project/ProjectXml.h"

#include "app/Conversions.h"
#include "app/MemoryCheck.h"
#include "support/ConeShape.h"
#include "support/ShapeMesh.h"
#include "support/SupportGen.h"
#include "topolib/StlObject.h"

#include <QBuffer>
#include <QLocale>
#include <QStringList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <utility>

namespace project {

namespace {

// The support panel's ranges (radii are half the panel's sizes) and presets.
struct Range {
    double lo, hi, preset;
};
constexpr Range kContactRadius{0.005, 5.0, 0.5};
constexpr Range kBottomRadius{0.005, 10.0, 1.0};
constexpr Range kBeamRadius{0.005, 10.0, 0.6};
constexpr Range kHeadExtend{0.5, 20.0, 2.5};
constexpr Range kBaseThickness{0.01, 10.0, 1.0};
constexpr Range kBaseSize{0.01, 10.0, 4.0};
constexpr Range kDensity{1.0, 99.99, 5.0};
constexpr Range kMaxAngle{20.0, 60.0, 46.0};
// Contact and seed points lie on the model, within the program's one
// coordinate limit.
constexpr double kMaxCoordinate = topolib::kMaxImportCoordinate;
// Region numbers go into the 20-bit group field of the mesh's triangles.
constexpr int kMaxAreaId = (1 << 19) - 1;
// An entry holds at most the cones one generation may make.
constexpr size_t kMaxCones = support::SupportGen::kMaxPlannedCones;
// Bars are deleted one by one by hand; a cone's list beyond this many was not
// written by the program and is cut there.
constexpr size_t kMaxDeletedBars = 4096;
// A cone keeps at most this many links, each with at most this many bars.
constexpr size_t kMaxLinks = support::ConeShape::kKeptLinks;
constexpr size_t kMaxBarsPerLink = support::ConeShape::kMaxBarSteps;
// A cone element with its placement and the most bars it can carry, each
// number in its fewest digits (at most 25 characters with its separator).
constexpr qint64 kMaxConeElementBytes = qint64(1) << 20;
// Regions and bars are asked of the memory check this many at a time.
constexpr uint64_t kRegionBatch = 4096;
constexpr uint64_t kBarBatch = 65536;
// A bar read, and the mesh it is given (a prism of 12 vertices, 20 triangles).
const uint64_t kBarBytes = sizeof(BarRecord) + support::shapeMeshBytes(12, 20);

double clamped(const QXmlStreamAttributes& a, const char* name, const Range& r) {
    bool ok = false;
    const double v = a.value(QLatin1String(name)).trimmed().toDouble(&ok);
    return ok ? clampOr(v, r.lo, r.hi, r.preset) : r.preset;
}

// Every number of the entry is written in the fewest digits that read back as
// the same double: a contact point, a contact normal or a radius that comes
// back a rounding off would place the cone, its bars and its links elsewhere.
// Values of up to six significant digits read as before.
QString exact(double v) {
    // Zero keeps its sign too: every number reads back to the bit.
    if (v == 0.0 && std::signbit(v))
        return QStringLiteral("-0");
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

QString joinPoint(const double p[3]) {
    QStringList parts;
    for (int i = 0; i < 3; ++i)
        parts << exact(p[i]);
    return parts.join(QLatin1Char(';'));
}

// The setting when the attribute is there and a number (clamped to the
// panel's range); nothing otherwise.
std::optional<double> setting(const QXmlStreamAttributes& a, const char* name, const Range& r) {
    if (!a.hasAttribute(QLatin1String(name)))
        return std::nullopt;
    return clamped(a, name, r);
}

void writeList(QXmlStreamWriter& w, const char* count, const char* list, const std::vector<int>& ids) {
    w.writeAttribute(QLatin1String(count), intToQString(static_cast<int>(ids.size())));
    if (!ids.empty())
        w.writeAttribute(QLatin1String(list), joinInts(ids.data(), static_cast<unsigned>(ids.size())));
}

QString joinList(const std::vector<int>& values) {
    return joinInts(values.data(), static_cast<unsigned>(values.size()));
}

void writePlacement(QXmlStreamWriter& w, const ConePlacement& p, const std::vector<LinkRecord>& links) {
    w.writeAttribute(QStringLiteral("TipCentre"), joinPoint(p.tipCentre));
    w.writeAttribute(QStringLiteral("HeadEnd"), joinPoint(p.headEnd));
    w.writeAttribute(QStringLiteral("TrunkFoot"), joinPoint(p.trunkFoot));
    w.writeAttribute(QStringLiteral("FootTipCentre"), joinPoint(p.footTipCentre));
    w.writeAttribute(QStringLiteral("FootPoint"), joinPoint(p.footPoint));
    w.writeAttribute(QStringLiteral("FootNormal"), joinPoint(p.footNormal));
    w.writeAttribute(QStringLiteral("FootZ"), exact(p.footZ));
    if (links.empty())
        return;
    std::vector<int> cones, carriers, counts;
    QStringList bars;
    for (const LinkRecord& l : links) {
        cones.push_back(l.cone);
        carriers.push_back(l.carried ? 1 : 0);
        counts.push_back(static_cast<int>(l.bars.size()));
        for (const BarRecord& b : l.bars)
            bars << joinPoint(b.start) << joinPoint(b.end);
    }
    w.writeAttribute(QStringLiteral("Links"), joinList(cones));
    w.writeAttribute(QStringLiteral("LinkCarriers"), joinList(carriers));
    w.writeAttribute(QStringLiteral("BarCounts"), joinList(counts));
    if (!bars.isEmpty())
        w.writeAttribute(QStringLiteral("Bars"), bars.join(QLatin1Char(';')));
}

void writeCone(QXmlStreamWriter& w, const ConeRecord& c) {
    w.writeStartElement(QStringLiteral("ConeSupport"));
    w.writeAttribute(QStringLiteral("ConeID"), intToQString(c.coneId));
    w.writeAttribute(QStringLiteral("ConeSupportType"), intToQString(c.supportType != 0 ? 1 : 0));
    w.writeAttribute(QStringLiteral("GenerateBase"), boolToQString(c.generateBase));
    w.writeAttribute(QStringLiteral("ContactRadius"), exact(c.contactRadius));
    w.writeAttribute(QStringLiteral("BeamRadius"), exact(c.beamRadius));
    w.writeAttribute(QStringLiteral("BottomRadius"), exact(c.bottomRadius));
    w.writeAttribute(QStringLiteral("BaseThickness"), exact(c.baseThickness));
    w.writeAttribute(QStringLiteral("BaseSize"), exact(c.baseSize));
    w.writeAttribute(QStringLiteral("HeadExtend"), exact(c.headExtend));
    w.writeAttribute(QStringLiteral("ContactPoint"), joinPoint(c.contactPoint));
    w.writeAttribute(QStringLiteral("ContactNormal"), joinPoint(c.contactNormal));
    if (!c.deletedBars.empty())
        w.writeAttribute(QStringLiteral("DeletedBars"),
                         joinInts(c.deletedBars.data(), static_cast<unsigned>(c.deletedBars.size())));
    if (c.placement)
        writePlacement(w, *c.placement, c.links);
    w.writeEndElement();
}

void writeArea(QXmlStreamWriter& w, const AreaRecord& area) {
    w.writeStartElement(QStringLiteral("AreaSupport"));
    w.writeAttribute(QStringLiteral("AreaType"), intToQString(area.type));
    w.writeAttribute(QStringLiteral("AreaID"), intToQString(area.areaId));
    switch (area.type) {
    case kAreaOverhang:
        w.writeAttribute(QStringLiteral("Density"), exact(area.density));
        writeList(w, "NumTriangle", "TriangleMeshIndexs", area.triangleIds);
        writeList(w, "NumEdge", "BoundaryEdgeIndexs", area.edgeIds);
        break;
    case kAreaLowestPoint:
        w.writeAttribute(QStringLiteral("VertexID"), intToQString(area.vertexId));
        break;
    case kAreaLowestCurve:
        w.writeAttribute(QStringLiteral("Density"), exact(area.density));
        writeList(w, "NumVertex", "VertexIndexs", area.vertexIds);
        break;
    default:
        w.writeAttribute(QStringLiteral("TriangleID"), uintToQString(static_cast<unsigned>(area.triangleId)));
        w.writeAttribute(QStringLiteral("SeedPoint"), joinPoint(area.seedPoint));
        break;
    }
    w.writeAttribute(QStringLiteral("NumConeShape"), intToQString(static_cast<int>(area.cones.size())));
    for (const ConeRecord& c : area.cones)
        writeCone(w, c);
    w.writeEndElement();
}

void writeSettings(QXmlStreamWriter& w, const SupportSettings& s) {
    if (s.supportType)
        w.writeAttribute(QStringLiteral("SupportType"), intToQString(*s.supportType != 0 ? 1 : 0));
    const std::pair<const char*, const std::optional<double>*> numbers[] = {
        {"TipRadius", &s.tipRadius},         {"TrunkRadius", &s.trunkRadius}, {"BranchRadius", &s.branchRadius},
        {"HeadExtend", &s.headExtend},       {"BaseThickness", &s.baseThickness}, {"BaseSize", &s.baseSize},
    };
    for (const auto& [name, value] : numbers)
        if (*value)
            w.writeAttribute(QLatin1String(name), exact(**value));
}

SupportSettings readSettings(const QXmlStreamAttributes& a) {
    SupportSettings s;
    if (a.hasAttribute(QLatin1String("SupportType")))
        s.supportType = attrInt(a, "SupportType", 1, INT_MIN, INT_MAX) != 0 ? 1 : 0;
    s.tipRadius = setting(a, "TipRadius", kContactRadius);
    s.trunkRadius = setting(a, "TrunkRadius", kBottomRadius);
    s.branchRadius = setting(a, "BranchRadius", kBeamRadius);
    s.headExtend = setting(a, "HeadExtend", kHeadExtend);
    s.baseThickness = setting(a, "BaseThickness", kBaseThickness);
    s.baseSize = setting(a, "BaseSize", kBaseSize);
    return s;
}

// The listed ids that lie in [0, limit), at most `count` of them (a list may
// be shorter than its count says).
std::vector<int> idsWithin(const QXmlStreamAttributes& a, const char* countName, const char* listName, int limit) {
    const int count = attrInt(a, countName, 0, 0, INT_MAX);
    std::vector<int> ids = attrIntList(a, listName, static_cast<size_t>(std::min(count, std::max(limit, 0))));
    ids.erase(std::remove_if(ids.begin(), ids.end(), [limit](int id) { return id < 0 || id >= limit; }), ids.end());
    return ids;
}

// A region from its attributes; false when nothing of it is left.
bool readArea(const QXmlStreamAttributes& a, const MeshLimits& limits, AreaRecord& area) {
    area.type = attrInt(a, "AreaType", -1, 0, 3);
    if (!a.hasAttribute(QLatin1String("AreaType")))
        area.type = kAreaOverhang;
    area.areaId = attrInt(a, "AreaID", -1, 0, kMaxAreaId);
    if (area.type < 0 || area.areaId < 0)
        return false;
    switch (area.type) {
    case kAreaOverhang:
        area.density = clamped(a, "Density", kDensity);
        area.triangleIds = idsWithin(a, "NumTriangle", "TriangleMeshIndexs", limits.triangles);
        area.edgeIds = idsWithin(a, "NumEdge", "BoundaryEdgeIndexs", limits.edges);
        return !area.triangleIds.empty();
    case kAreaLowestPoint:
        area.vertexId = attrInt(a, "VertexID", -1, 0, limits.vertices - 1);
        return area.vertexId >= 0;
    case kAreaLowestCurve:
        area.density = clamped(a, "Density", kDensity);
        area.vertexIds = idsWithin(a, "NumVertex", "VertexIndexs", limits.vertices);
        return !area.vertexIds.empty();
    default:
        area.triangleId = attrInt(a, "TriangleID", -1, 0, limits.triangles - 1);
        return area.triangleId >= 0 && attrDoubles(a, "SeedPoint", area.seedPoint, 3, kMaxCoordinate);
    }
}

// The placement when every part of it is there and finite.
std::optional<ConePlacement> readPlacement(const QXmlStreamAttributes& a) {
    ConePlacement p;
    const std::pair<const char*, double*> points[] = {
        {"TipCentre", p.tipCentre},         {"HeadEnd", p.headEnd},     {"TrunkFoot", p.trunkFoot},
        {"FootTipCentre", p.footTipCentre}, {"FootPoint", p.footPoint}, {"FootNormal", p.footNormal},
    };
    for (const auto& [name, out] : points)
        if (!attrDoubles(a, name, out, 3, kMaxCoordinate))
            return std::nullopt;
    if (!attrDoubles(a, "FootZ", &p.footZ, 1, kMaxCoordinate))
        return std::nullopt;
    return p;
}

// The links as stored; none when the lists do not agree (a link that names a
// cone the entry lacks is left to the container to pass over).
std::vector<LinkRecord> readLinks(const QXmlStreamAttributes& a) {
    const std::vector<int> cones = attrIntList(a, "Links", kMaxLinks + 1);
    const std::vector<int> carriers = attrIntList(a, "LinkCarriers", kMaxLinks + 1);
    const std::vector<int> counts = attrIntList(a, "BarCounts", kMaxLinks + 1);
    if (cones.size() > kMaxLinks || carriers.size() != cones.size() || counts.size() != cones.size())
        return {};
    size_t bars = 0;
    for (size_t k = 0; k < cones.size(); ++k) {
        if (counts[k] < 0 || size_t(counts[k]) > kMaxBarsPerLink || (carriers[k] == 0 && counts[k] != 0))
            return {};
        bars += size_t(counts[k]);
    }
    std::vector<double> numbers;
    if (!attrDoubleList(a, "Bars", 6 * bars, kMaxCoordinate, numbers) || numbers.size() != 6 * bars)
        return {};
    std::vector<LinkRecord> links(cones.size());
    const double* n = numbers.data();
    for (size_t k = 0; k < cones.size(); ++k) {
        links[k].cone = cones[k];
        links[k].carried = carriers[k] != 0;
        links[k].bars.resize(size_t(counts[k]));
        for (BarRecord& b : links[k].bars) {
            std::copy(n, n + 3, b.start);
            std::copy(n + 3, n + 6, b.end);
            n += 6;
        }
    }
    return links;
}

bool readCone(const QXmlStreamAttributes& a, ConeRecord& c) {
    if (!attrDoubles(a, "ContactPoint", c.contactPoint, 3, kMaxCoordinate))
        return false;
    c.coneId = attrInt(a, "ConeID", 0, 0, INT_MAX);
    c.supportType = attrInt(a, "ConeSupportType", 1, INT_MIN, INT_MAX) != 0 ? 1 : 0;
    c.generateBase = attrBool(a, "GenerateBase", true);
    c.contactRadius = clamped(a, "ContactRadius", kContactRadius);
    c.beamRadius = clamped(a, "BeamRadius", kBeamRadius);
    c.bottomRadius = clamped(a, "BottomRadius", kBottomRadius);
    c.baseThickness = clamped(a, "BaseThickness", kBaseThickness);
    c.baseSize = clamped(a, "BaseSize", kBaseSize);
    c.headExtend = clamped(a, "HeadExtend", kHeadExtend);
    double n[3];
    if (attrDoubles(a, "ContactNormal", n, 3, kMaxCoordinate)) {
        // A unit normal (as every cone placed stores it) is kept as written:
        // dividing by a length a rounding off 1 would move the cone.
        const double len2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        const double len = std::sqrt(len2);
        if (std::fabs(len2 - 1.0) <= 1e-12)
            std::copy(n, n + 3, c.contactNormal);
        else if (len > 1e-12)
            for (int k = 0; k < 3; ++k)
                c.contactNormal[k] = n[k] / len;
    }
    // Places that name no bar are passed over when the bars are made.
    c.deletedBars = attrIntList(a, "DeletedBars", kMaxDeletedBars);
    c.deletedBars.erase(std::remove_if(c.deletedBars.begin(), c.deletedBars.end(), [](int k) { return k < 0; }),
                        c.deletedBars.end());
    std::sort(c.deletedBars.begin(), c.deletedBars.end());
    c.deletedBars.erase(std::unique(c.deletedBars.begin(), c.deletedBars.end()), c.deletedBars.end());
    c.placement = readPlacement(a);
    if (c.placement)
        c.links = readLinks(a);
    return true;
}

} // namespace

QByteArray writeSupportEntry(const SupportRecord& s) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("SupportGen"));
    w.writeStartElement(QStringLiteral("Header"));
    w.writeAttribute(QStringLiteral("SupportVersion"), intToQString(1));
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("General"));
    w.writeAttribute(QStringLiteral("BaseType"), intToQString(s.baseType));
    w.writeAttribute(QStringLiteral("RemoveExternal"), boolToQString(s.removeInternal));
    w.writeAttribute(QStringLiteral("MaxAngle"), exact(s.maxAngle));
    w.writeAttribute(QStringLiteral("Density"), exact(s.density));
    writeSettings(w, s.settings);
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("AreaList"));
    w.writeAttribute(QStringLiteral("NumberArea"), intToQString(static_cast<int>(s.areas.size())));
    for (const AreaRecord& area : s.areas)
        writeArea(w, area);
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

namespace {

// Why readEntry stopped short of the document's end, when it did.
enum class Stop { None, TooManyRegions };

SupportRecord readEntry(BoundedXmlReader& r, const MeshLimits& limits, Stop& stop) {
    SupportRecord s;
    AreaRecord area;
    bool inArea = false, areaValid = false;
    size_t cones = 0;
    int place = 0;
    uint64_t regions = 0, bars = 0;
    auto endArea = [&]() {
        if (inArea && areaValid)
            s.areas.push_back(std::move(area));
        area = AreaRecord();
        inArea = areaValid = false;
    };
    // An error ends the document, also one the reader would wait out for
    // more data (a device that stops delivering).
    while (r.next()) {
        const QXmlStreamReader::TokenType token = r.xml().tokenType();
        if (token == QXmlStreamReader::EndElement && r.xml().name() == QLatin1String("AreaSupport")) {
            endArea();
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = r.xml().name();
        const QXmlStreamAttributes a = r.xml().attributes();
        if (name == QLatin1String("General")) {
            s.baseType = attrInt(a, "BaseType", 2, 0, 2);
            s.removeInternal = attrBool(a, "RemoveExternal", false);
            s.maxAngle = clamped(a, "MaxAngle", kMaxAngle);
            s.density = clamped(a, "Density", kDensity);
            s.settings = readSettings(a);
        } else if (name == QLatin1String("AreaSupport")) {
            endArea();
            if (++regions > maxRegions(limits, cones)) {
                stop = Stop::TooManyRegions;
                break;
            }
            // Beyond the first few, what the regions take is asked for before
            // they are made.
            if (regions % kRegionBatch == 0 && MemoryCheckCallback &&
                !MemoryCheckCallback(kRegionBatch * kRegionBytes))
                throw std::bad_alloc();
            inArea = true;
            areaValid = readArea(a, limits, area);
        } else if (name == QLatin1String("ConeSupport")) {
            ConeRecord c;
            c.place = place++;
            if (inArea && areaValid && cones < kMaxCones && readCone(a, c)) {
                // The bars are asked for as they come, with the meshes they
                // will be given: a few bytes of text each, they are the most
                // an entry can hold.
                const uint64_t before = bars / kBarBatch;
                for (const LinkRecord& l : c.links)
                    bars += l.bars.size();
                if (bars / kBarBatch > before && MemoryCheckCallback &&
                    !MemoryCheckCallback(kBarBatch * kBarBytes))
                    throw std::bad_alloc();
                area.cones.push_back(std::move(c));
                ++cones;
            }
        }
    }
    // A document cut off inside a region keeps the region as read so far.
    endArea();
    return s;
}

} // namespace

uint64_t maxRegions(const MeshLimits& limits, uint64_t cones) {
    return uint64_t(std::max(limits.triangles, 0)) + uint64_t(std::max(limits.vertices, 0)) + cones +
           kMaxBareUserPoints;
}

XmlBounds supportEntryBounds(const MeshLimits& limits) {
    // An id list names each triangle, edge or vertex of the mesh at most once,
    // in up to ten digits and a separator. A cone element, its numbers written
    // exactly, takes some 500 bytes, about as much again with its placement,
    // and some 110 bytes a bar: a gigabyte holds the cones that the memory a
    // project may take can carry (some 400,000 at 24 kB each, kConeMeshBytes).
    constexpr qint64 kBytesPerId = 12;
    constexpr qint64 kBytesPerCone = 1024;
    const qint64 ids = qint64(std::max(limits.triangles, 0)) + std::max(limits.edges, 0) + std::max(limits.vertices, 0);
    XmlBounds b;
    b.depth = 8;
    b.tokenBytes = (qint64(64) << 10) + kBytesPerId * ids + kMaxConeElementBytes;
    b.entryBytes = (qint64(1) << 20) + kBytesPerId * ids + kBytesPerCone * qint64(kMaxCones);
    return b;
}

SupportRecord readSupportEntry(const QByteArray& xml, const MeshLimits& limits, bool* withinBounds,
                               std::string* refusal) {
    QBuffer buffer;
    buffer.setData(xml);
    buffer.open(QIODevice::ReadOnly);
    return readSupportEntry(&buffer, limits, withinBounds, refusal);
}

SupportRecord readSupportEntry(QIODevice* device, const MeshLimits& limits, bool* withinBounds,
                               std::string* refusal) {
    BoundedXmlReader r(device, supportEntryBounds(limits));
    Stop stop = Stop::None;
    SupportRecord s = readEntry(r, limits, stop);
    const bool within = !r.exceeded() && stop == Stop::None;
    if (withinBounds)
        *withinBounds = within;
    if (refusal) {
        if (stop == Stop::TooManyRegions)
            *refusal = "The supports hold more regions than the object's mesh can carry (at most " +
                       std::to_string(maxRegions(limits, coneCount(s))) + ").";
        else if (r.exceeded())
            *refusal = "The supports are larger than any the program writes for this object.";
        else
            refusal->clear();
    }
    if (!within)
        s = SupportRecord();
    return s;
}

size_t coneCount(const SupportRecord& s) {
    size_t n = 0;
    for (const AreaRecord& a : s.areas)
        n += a.cones.size();
    return n;
}

} // namespace project
