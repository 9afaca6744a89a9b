// The descriptor and support entries as documents: what is written is what is
// read, names that XML cannot hold still give a valid document, and hostile
// numbers are dropped or clamped.
#include "project/ProjectDescriptor.h"
#include "project/SupportEntry.h"

#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace project;

namespace {

bool wellFormed(const QByteArray& xml) {
    QXmlStreamReader r(xml);
    while (!r.atEnd())
        r.readNext();
    return !r.hasError();
}

QByteArray supportDoc(const QString& general, const QString& areas) {
    return QStringLiteral("<?xml version=\"1.0\"?><SupportGen><Header SupportVersion=\"1\"/>%1<AreaList>%2</AreaList>"
                          "</SupportGen>")
        .arg(general, areas)
        .toUtf8();
}

} // namespace

TEST(ProjectEntries, descriptorKeepsRecordsAndNamesXmlCannotHold) {
    ProjectDescriptor d;
    d.view.renderScale = 3.25;
    for (int k = 0; k < 16; ++k)
        d.view.modelView[k] = 0.1f * float(k) - 0.7f;
    d.view.renderCenter[0] = 65.123456;
    d.view.renderCenter[2] = -123456.7;
    ProjectObjectInfo o;
    o.id = 0;
    o.name = QString::fromUtf8("bad\x01name\xef\xbf\xbf") + QChar(0xD800) + QString::fromUtf8("\xc3\xa9\xf0\x9f\x98\x80");
    o.viewMode = 2;
    o.selected = o.locked = true;
    o.transparentValue = 0.35f;
    o.numberTriangles = 4000000000u;
    o.shadeColor = QColor(250, 10, 128);
    d.objects = {o, ProjectObjectInfo()};

    const QByteArray xml = writeDescriptor(d);
    ASSERT_TRUE(wellFormed(xml));
    ProjectDescriptor back;
    ASSERT_TRUE(readDescriptor(xml, back));
    EXPECT_EQ(back.docVersion, QStringLiteral("1.0"));
    ASSERT_TRUE(back.hasViewPort && back.hasScale && back.hasMatrix && back.hasCenter);
    EXPECT_DOUBLE_EQ(back.view.renderScale, 3.25);
    for (int k = 0; k < 16; ++k)
        EXPECT_NEAR(back.view.modelView[k], d.view.modelView[k], 1e-6);
    EXPECT_NEAR(back.view.renderCenter[0], 65.1235, 1e-9); // six significant digits
    EXPECT_DOUBLE_EQ(back.view.renderCenter[2], -123457.0);
    ASSERT_EQ(back.objects.size(), 2u);
    // The name comes back unit for unit; "Name" holds what XML can carry of
    // it, for readers that know no other attribute.
    EXPECT_EQ(back.objects[0].name, o.name);
    EXPECT_TRUE(xml.contains(QString::fromUtf8("Name=\"badname\xc3\xa9\xf0\x9f\x98\x80\"").toUtf8()));
    EXPECT_EQ(back.objects[1].name, QString());
    // A damaged escape falls back to that plain name.
    QByteArray damaged = xml;
    damaged.replace("%0001", "%00g1");
    ProjectDescriptor plain;
    ASSERT_TRUE(readDescriptor(damaged, plain));
    ASSERT_EQ(plain.objects.size(), 2u);
    EXPECT_EQ(plain.objects[0].name, QString::fromUtf8("badname\xc3\xa9\xf0\x9f\x98\x80"));
    EXPECT_EQ(back.objects[0].viewMode, 2);
    EXPECT_TRUE(back.objects[0].selected && back.objects[0].locked && !back.objects[0].visible);
    EXPECT_FLOAT_EQ(back.objects[0].transparentValue, 0.35f);
    EXPECT_EQ(back.objects[0].numberTriangles, 4000000000u);
    EXPECT_EQ(back.objects[0].shadeColor, QColor(250, 10, 128));
}

TEST(ProjectEntries, descriptorReaderRejectsBadVersionsAndKeepsDefaultsForAbsurdNumbers) {
    struct Case {
        const char* xml;
        bool ok;
        bool scale, matrix, center;
        size_t objects;
    };
    const Case cases[] = {
        {"<Project><Header><DocVersion>1</DocVersion></Header></Project>", false, false, false, false, 0},
        {"<Project><Header><DocVersion>1.0.0</DocVersion></Header></Project>", false, false, false, false, 0},
        {"<Project><Header><DocVersion>v1.0</DocVersion></Header></Project>", false, false, false, false, 0},
        {"<Project><Header><DocVersion>2.15</DocVersion></Header><ViewPort RenderScale=\"2\"/></Project>", true, true,
         false, false, 0},
        {"<Project><ViewPort RenderScale=\"nan\" ModelViewMatrix=\"1;0;0;0;0;1;0;0;0;0;1;0;0;0;0\" "
         "RenderCenter=\"1;inf;3\"/></Project>",
         true, false, false, false, 0},
        {"<Project><ViewPort RenderScale=\"1e300\" ModelViewMatrix=\"1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1\" "
         "RenderCenter=\"1;2;3\"/></Project>",
         true, false, true, true, 0},
        // An object before "Objects" is not a record; a document cut off
        // inside a record keeps the records before it.
        {"<Project><Object Name=\"x\"/><ViewPort RenderScale=\"-1\"/><Objects><Object Name=\"a\"/><Object Na", true,
         false, false, false, 1},
    };
    for (const Case& c : cases) {
        ProjectDescriptor d;
        EXPECT_EQ(readDescriptor(QByteArray(c.xml), d), c.ok) << c.xml;
        if (!c.ok)
            continue;
        EXPECT_EQ(d.hasScale, c.scale) << c.xml;
        EXPECT_EQ(d.hasMatrix, c.matrix) << c.xml;
        EXPECT_EQ(d.hasCenter, c.center) << c.xml;
        EXPECT_EQ(d.objects.size(), c.objects) << c.xml;
    }
    ProjectDescriptor d;
    readDescriptor("<Objects><Object ViewMode=\"9\" TransparentValue=\"-3\" ShadeColor=\"#zz\"/></Objects>", d);
    ASSERT_EQ(d.objects.size(), 1u);
    EXPECT_EQ(d.objects[0].viewMode, 0);
    EXPECT_FLOAT_EQ(d.objects[0].transparentValue, 1.0f);
    EXPECT_FALSE(d.objects[0].shadeColor.isValid());
}

TEST(ProjectEntries, supportEntryRoundTripsWithoutDeletedConesAndAsMeshIds) {
    SupportRecord s;
    s.baseType = 1;
    s.removeInternal = true;
    s.maxAngle = 33;
    s.density = 7.5;
    AreaRecord overhang;
    overhang.areaId = 4;
    overhang.density = 6;
    overhang.triangleIds = {3, 1, 2};
    overhang.edgeIds = {7, 8};
    ConeRecord c;
    c.coneId = 12;
    c.supportType = 0;
    c.generateBase = false;
    c.contactRadius = 0.25;
    c.contactPoint[0] = 12.345678;
    c.contactNormal[0] = 0.6;
    c.contactNormal[2] = -0.8;
    overhang.cones = {c, c};
    AreaRecord point;
    point.type = kAreaAddedPoint;
    point.areaId = 9;
    point.triangleId = 5;
    point.seedPoint[1] = 4.5;
    AreaRecord curve;
    curve.type = kAreaLowestCurve;
    curve.vertexIds = {0, 1, 2};
    AreaRecord lowest;
    lowest.type = kAreaLowestPoint;
    lowest.vertexId = 6;
    s.areas = {overhang, point, curve, lowest};

    const QByteArray xml = writeSupportEntry(s);
    ASSERT_TRUE(wellFormed(xml));
    const SupportRecord back = readSupportEntry(xml, MeshLimits{10, 10, 10});
    EXPECT_EQ(back.baseType, 1);
    EXPECT_TRUE(back.removeInternal);
    EXPECT_DOUBLE_EQ(back.maxAngle, 33);
    EXPECT_DOUBLE_EQ(back.density, 7.5);
    ASSERT_EQ(back.areas.size(), 4u);
    EXPECT_EQ(back.areas[0].triangleIds, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(back.areas[0].edgeIds, (std::vector<int>{7, 8}));
    ASSERT_EQ(back.areas[0].cones.size(), 2u);
    const ConeRecord& cb = back.areas[0].cones[0];
    EXPECT_EQ(cb.coneId, 12);
    EXPECT_EQ(cb.supportType, 0);
    EXPECT_FALSE(cb.generateBase);
    EXPECT_NEAR(cb.contactPoint[0], 12.345678, 1e-4);
    EXPECT_NEAR(cb.contactNormal[0], 0.6, 1e-6);
    EXPECT_EQ(back.areas[1].triangleId, 5);
    EXPECT_DOUBLE_EQ(back.areas[1].seedPoint[1], 4.5);
    EXPECT_EQ(back.areas[2].vertexIds, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(back.areas[3].vertexId, 6);
    EXPECT_TRUE(xml.contains("NumConeShape=\"2\""));
    // Written before the settings were stored: the container keeps its own.
    EXPECT_FALSE(back.settings.supportType || back.settings.tipRadius || back.settings.baseThickness);
    EXPECT_TRUE(xml.contains("<General BaseType=\"1\" RemoveExternal=\"true\" MaxAngle=\"33\" Density=\"7.5\"/>"));
    // No bar deleted: the cones are written as before.
    EXPECT_FALSE(xml.contains("DeletedBars"));

    // The settings follow the four attributes of "General", each number
    // exact; a value of six digits or fewer is written as before.
    s.settings.supportType = 0;
    s.settings.tipRadius = 0.275;
    s.settings.trunkRadius = 1.0 / 3.0;
    s.settings.branchRadius = 0.6;
    s.settings.headExtend = 2.5;
    s.settings.baseThickness = 1.5;
    s.settings.baseSize = 4.0;
    s.areas[0].cones[0].contactNormal[0] = std::sqrt(0.5);
    s.areas[0].cones[0].contactNormal[2] = -std::sqrt(0.5);
    s.areas[0].cones[1].deletedBars = {0, 4};
    const QByteArray withSettings = writeSupportEntry(s);
    EXPECT_TRUE(withSettings.contains("<General BaseType=\"1\" RemoveExternal=\"true\" MaxAngle=\"33\" "
                                      "Density=\"7.5\" SupportType=\"0\" TipRadius=\"0.275\""));
    const SupportRecord again = readSupportEntry(withSettings, MeshLimits{10, 10, 10});
    EXPECT_EQ(again.settings.supportType, 0);
    EXPECT_EQ(again.settings.tipRadius, 0.275);
    EXPECT_EQ(again.settings.trunkRadius, 1.0 / 3.0);
    EXPECT_EQ(again.settings.branchRadius, 0.6);
    EXPECT_EQ(again.settings.headExtend, 2.5);
    EXPECT_EQ(again.settings.baseThickness, 1.5);
    EXPECT_EQ(again.settings.baseSize, 4.0);
    EXPECT_EQ(again.areas[0].cones[0].contactNormal[0], std::sqrt(0.5));
    EXPECT_EQ(again.areas[0].cones[0].contactNormal[2], -std::sqrt(0.5));
    EXPECT_TRUE(again.areas[0].cones[0].deletedBars.empty());
    EXPECT_EQ(again.areas[0].cones[1].deletedBars, (std::vector<int>{0, 4}));
}

TEST(ProjectEntries, hostileSupportNumbersAreDroppedOrClamped) {
    struct Case {
        const char* what;
        QString general, areas;
        size_t areaCount, coneCount;
    };
    const QString cone = QStringLiteral("<ConeSupport ContactPoint=\"1;2;3\" ContactRadius=\"%1\" HeadExtend=\"%2\"/>");
    const Case cases[] = {
        {"ids outside the mesh leave the region empty",
         {},
         "<AreaSupport AreaType=\"0\" AreaID=\"1\" NumTriangle=\"3\" TriangleMeshIndexs=\"-1;10;99999999999\"/>",
         0,
         0},
        {"a count far above the list reads what the list holds",
         {},
         "<AreaSupport AreaType=\"0\" AreaID=\"1\" NumTriangle=\"2147483647\" TriangleMeshIndexs=\"1;2\" "
         "NumEdge=\"-5\" BoundaryEdgeIndexs=\"1\"/>",
         1,
         0},
        {"unknown kinds and region numbers are dropped",
         {},
         "<AreaSupport AreaType=\"7\" AreaID=\"1\"/><AreaSupport AreaType=\"1\" AreaID=\"-2\" VertexID=\"1\"/>"
         "<AreaSupport AreaType=\"1\" AreaID=\"9999999\" VertexID=\"1\"/>",
         0,
         0},
        {"points outside the mesh or not finite are dropped",
         {},
         "<AreaSupport AreaType=\"1\" AreaID=\"1\" VertexID=\"10\"/><AreaSupport AreaType=\"3\" AreaID=\"2\" "
         "TriangleID=\"3\" SeedPoint=\"nan;0;0\"/><AreaSupport AreaType=\"2\" AreaID=\"3\" NumVertex=\"2\" "
         "VertexIndexs=\"11;-1\"/>",
         0,
         0},
        {"cones without a finite contact point are dropped",
         {},
         "<AreaSupport AreaType=\"3\" AreaID=\"2\" TriangleID=\"3\" SeedPoint=\"0;0;0\"><ConeSupport "
         "ContactPoint=\"inf;0;0\"/><ConeSupport ContactPoint=\"1;2\"/><ConeSupport/></AreaSupport>",
         1,
         0},
        {"a document cut off keeps what was read",
         {},
         "<AreaSupport AreaType=\"3\" AreaID=\"2\" TriangleID=\"3\" SeedPoint=\"0;0;0\"><ConeSupport "
         "ContactPoint=\"1;2;3\"/><ConeSu",
         1,
         1},
    };
    const MeshLimits limits{10, 10, 10};
    for (const Case& c : cases) {
        const SupportRecord s = readSupportEntry(supportDoc(c.general, c.areas), limits);
        EXPECT_EQ(s.areas.size(), c.areaCount) << c.what;
        size_t cones = 0;
        for (const AreaRecord& a : s.areas)
            cones += a.cones.size();
        EXPECT_EQ(cones, c.coneCount) << c.what;
    }

    // Numbers: clamped to the panel's ranges, non-finite ones take the presets.
    const SupportRecord s = readSupportEntry(
        supportDoc(QStringLiteral("<General BaseType=\"77\" MaxAngle=\"1e308\" Density=\"nan\"/>"),
                   QStringLiteral("<AreaSupport AreaType=\"0\" AreaID=\"1\" NumTriangle=\"1\" TriangleMeshIndexs=\"2\" "
                                  "Density=\"-4\">%1%2</AreaSupport>")
                       .arg(cone.arg(QStringLiteral("1e9"), QStringLiteral("-inf")),
                            QStringLiteral("<ConeSupport ContactPoint=\"0;0;0\" ContactNormal=\"0;0;0\" "
                                           "DeletedBars=\"3;-1;x;3;0\"/>"))),
        limits);
    EXPECT_EQ(s.baseType, 2);
    EXPECT_DOUBLE_EQ(s.maxAngle, 60.0);
    EXPECT_DOUBLE_EQ(s.density, 5.0);
    ASSERT_EQ(s.areas.size(), 1u);
    EXPECT_DOUBLE_EQ(s.areas[0].density, 1.0);
    ASSERT_EQ(s.areas[0].cones.size(), 2u);
    EXPECT_DOUBLE_EQ(s.areas[0].cones[0].contactRadius, 5.0);
    EXPECT_DOUBLE_EQ(s.areas[0].cones[0].headExtend, 2.5);
    // Deleted bars: places that are no numbers or negative are passed over.
    EXPECT_EQ(s.areas[0].cones[1].deletedBars, (std::vector<int>{0, 3}));
    // Missing or zero contact normals point down.
    for (const ConeRecord& c : s.areas[0].cones) {
        EXPECT_DOUBLE_EQ(c.contactNormal[0], 0.0);
        EXPECT_DOUBLE_EQ(c.contactNormal[2], -1.0);
    }
}
