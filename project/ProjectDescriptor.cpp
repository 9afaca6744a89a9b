#include "project/ProjectDescriptor.h"

#include "project/ProjectXml.h"

#include "app/Constants.h"
#include "app/Conversions.h"
#include "topolib/StlObject.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace project {

namespace {

// The view accepts zoom factors and coordinates far inside these; anything
// beyond them is a damaged file, not a view somebody left.
constexpr double kMaxScale = 1e6;
constexpr double kMaxCoordinate = topolib::kMaxImportCoordinate;
constexpr double kMaxMatrixValue = 1e7;
constexpr int kMaxMousePos = 1000000;

void readViewPort(const QXmlStreamAttributes& a, ProjectDescriptor& d) {
    d.hasViewPort = true;
    d.view = ProjectGLInfo();
    d.hasScale = d.hasMatrix = d.hasCenter = false;
    const double scale = attrDouble(a, "RenderScale", 0, 0, kMaxScale);
    if (scale > 0) {
        d.view.renderScale = scale;
        d.hasScale = true;
    }
    double m[16];
    if (attrDoubles(a, "ModelViewMatrix", m, 16, kMaxMatrixValue)) {
        std::copy(m, m + 16, d.view.modelView);
        d.hasMatrix = true;
    }
    d.view.lastPosX = attrInt(a, "LastPosX", 0, -kMaxMousePos, kMaxMousePos);
    d.view.lastPosY = attrInt(a, "LastPosY", 0, -kMaxMousePos, kMaxMousePos);
    d.hasCenter = attrDoubles(a, "RenderCenter", d.view.renderCenter, 3, kMaxCoordinate);
}

ProjectObjectInfo readObject(const QXmlStreamAttributes& a, bool readType) {
    ProjectObjectInfo o;
    if (readType)
        o.type = attrInt(a, "Type", 0, INT_MIN, INT_MAX);
    // The exact name when the writer had to escape it; "Name" holds what
    // XML could carry of it, for readers that know no other.
    if (!a.hasAttribute(QLatin1String("EscapedName")) ||
        !unescapeText(a.value(QLatin1String("EscapedName")), &o.name))
        o.name = a.value(QLatin1String("Name")).toString();
    o.id = static_cast<unsigned>(attrInt(a, "ID", 0, 0, INT_MAX));
    o.viewMode = static_cast<unsigned short>(attrInt(a, "ViewMode", 0, 0, 2));
    o.transparency = attrBool(a, "Transparency", false);
    o.selected = attrBool(a, "Selected", false);
    o.visible = attrBool(a, "Visible", false);
    o.pointed = attrBool(a, "Pointed", false);
    o.locked = attrBool(a, "Locked", false);
    o.transparentValue = static_cast<float>(attrDouble(a, "TransparentValue", 1.0, 0.0, 1.0));
    bool ok = false;
    const uint n = a.value(QLatin1String("NumberTriangles")).trimmed().toUInt(&ok);
    o.numberTriangles = ok ? n : 0;
    o.shadeColor = QColor(a.value(QLatin1String("ShadeColor")).toString());
    return o;
}

} // namespace

QByteArray writeDescriptor(const ProjectDescriptor& d) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("Project"));
    w.writeStartElement(QStringLiteral("Header"));
    w.writeTextElement(QStringLiteral("DocName"), PROJECT_DESC_TITLE);
    w.writeTextElement(QStringLiteral("DocVersion"), PROJECT_DESC_VERSION);
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("Application"));
    w.writeAttribute(QStringLiteral("Name"), APP_NAME);
    w.writeAttribute(QStringLiteral("Version"), QStringLiteral("1.0.0.0"));
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("General"));
    w.writeStartElement(QStringLiteral("ViewPort"));
    w.writeAttribute(QStringLiteral("RenderScale"), doubleToQString(d.view.renderScale));
    w.writeAttribute(QStringLiteral("ModelViewMatrix"), joinFloats(d.view.modelView, 16));
    w.writeAttribute(QStringLiteral("LastPosX"), intToQString(d.view.lastPosX));
    w.writeAttribute(QStringLiteral("LastPosY"), intToQString(d.view.lastPosY));
    w.writeAttribute(QStringLiteral("RenderCenter"), joinDoubles(d.view.renderCenter, 3));
    w.writeEndElement();
    w.writeEndElement();
    w.writeStartElement(QStringLiteral("Objects"));
    w.writeAttribute(QStringLiteral("TotalObjectNo"), intToQString(static_cast<int>(d.objects.size())));
    for (const ProjectObjectInfo& o : d.objects) {
        w.writeStartElement(QStringLiteral("Object"));
        w.writeAttribute(QStringLiteral("Type"), intToQString(o.type));
        const QString safeName = xmlSafeText(o.name);
        w.writeAttribute(QStringLiteral("Name"), safeName);
        if (safeName != o.name)
            w.writeAttribute(QStringLiteral("EscapedName"), escapeText(o.name));
        w.writeAttribute(QStringLiteral("ID"), intToQString(static_cast<int>(o.id)));
        w.writeAttribute(QStringLiteral("ViewMode"), intToQString(o.viewMode));
        w.writeAttribute(QStringLiteral("Transparency"), boolToQString(o.transparency));
        w.writeAttribute(QStringLiteral("Selected"), boolToQString(o.selected));
        w.writeAttribute(QStringLiteral("Visible"), boolToQString(o.visible));
        w.writeAttribute(QStringLiteral("Pointed"), boolToQString(o.pointed));
        w.writeAttribute(QStringLiteral("Locked"), boolToQString(o.locked));
        w.writeAttribute(QStringLiteral("TransparentValue"), floatToQString(o.transparentValue));
        w.writeAttribute(QStringLiteral("ShadeColor"), o.shadeColor.name());
        w.writeAttribute(QStringLiteral("NumberTriangles"), uintToQString(o.numberTriangles));
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

// A descriptor is three elements deep; an object record, names included, is
// far below a kilobyte or two.
XmlBounds descriptorBounds() {
    XmlBounds b;
    b.depth = 8;
    b.tokenBytes = qint64(1) << 20;
    b.entryBytes = (qint64(1) << 20) + qint64(kMaxProjectObjects) * 4096;
    return b;
}

bool readDescriptor(const QByteArray& xml, ProjectDescriptor& out) {
    QBuffer buffer;
    buffer.setData(xml);
    buffer.open(QIODevice::ReadOnly);
    return readDescriptor(&buffer, out);
}

bool readDescriptor(QIODevice* device, ProjectDescriptor& out) {
    static const QRegularExpression versionForm(QStringLiteral("^[0-9]+(\\.[0-9]+){1,1}$"));
    BoundedXmlReader r(device, descriptorBounds());
    bool inObjects = false;
    while (r.next()) {
        if (r.xml().tokenType() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = r.xml().name();
        if (!inObjects && name == QLatin1String("DocVersion")) {
            out.docVersion = r.elementText();
            if (r.exceeded() || !versionForm.match(out.docVersion).hasMatch())
                return false;
        } else if (!inObjects && name == QLatin1String("ViewPort")) {
            readViewPort(r.xml().attributes(), out);
        } else if (name == QLatin1String("Objects")) {
            // Everything from here to the end of the document is object records.
            inObjects = true;
        } else if (inObjects && name == QLatin1String("Object")) {
            if (out.objects.size() >= kMaxProjectObjects)
                return false;
            out.objects.push_back(readObject(r.xml().attributes(), out.docVersion != PROJECT_DESC_VERSION));
        }
    }
    // An XML error ends the document; what was read stands.
    return !r.exceeded();
}

} // namespace project
