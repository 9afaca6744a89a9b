#include "ui/SupportParamFile.h"

#include "app/Conversions.h"
#include "app/DataFolders.h"
#include "app/Log.h"
#include "app/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace support {

namespace {

// The attributes of the ten values, in file order.
constexpr const char* kAttributes[SupportParams::kCount] = {
    "TipSize",    "TrunkSize",     "BranchSize", "HeadExtend", "ZOffset",
    "BottomSize", "BaseThickness", "Density",    "Angle",
};
constexpr char kRemoveInternal[] = "RemoveInternal";

} // namespace

QString supportParamFilePath() {
    const QString folder = getCommonAppDataDir() + QStringLiteral("/Params");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/supportParam.xml");
}

QByteArray supportParamXml(const SupportParams& params) {
    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(false);
    xml.writeStartElement(QStringLiteral("Projects"));
    xml.writeStartElement(QStringLiteral("SupportParams"));
    for (int i = 0; i < SupportParams::kCount; ++i)
        xml.writeAttribute(QLatin1String(kAttributes[i]), doubleToQString(params.values[i]));
    xml.writeAttribute(QLatin1String(kRemoveInternal), boolToQString(params.removeInternal));
    xml.writeEndElement();
    xml.writeEndElement();
    return text;
}

bool writeSupportParamFile(const QString& path, const SupportParams& params, bool* failureLogged) {
    bool logged = false;
    return writeWholeFileLogged(path, supportParamXml(params), "Support parameters",
                                failureLogged ? failureLogged : &logged);
}

bool readSupportParamFile(const QString& path, SupportParams& params) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.hasError()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("SupportParams"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        for (int i = 0; i < SupportParams::kCount; ++i) {
            double value = 0.0;
            qstringToDouble(attributes.value(QLatin1String(kAttributes[i])).toString(), &value);
            params.values[i] = clampSupportParam(SupportParams::Index(i), value);
        }
        bool on = params.removeInternal;
        if (qstringToBool(attributes.value(QLatin1String(kRemoveInternal)).toString(), &on))
            params.removeInternal = on;
    }
    return true;
}

} // namespace support
