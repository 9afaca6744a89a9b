#include "support/SupportParamFile.h"

#include "app/Conversions.h"
#include "app/DataFolders.h"
#include "app/Log.h"
#include "app/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace support {

namespace {

// The number boxes of the support panel: attribute, minimum, maximum, step, preset.
constexpr SupportParamRange kRanges[SupportParams::kCount] = {
    {"TipSize", 0.01, 10.0, 0.1, 1.0},      {"TrunkSize", 0.01, 20.0, 0.1, 2.0},
    {"BranchSize", 0.01, 20.0, 0.1, 1.2},   {"HeadExtend", 0.5, 20.0, 0.1, 2.5},
    {"ZOffset", 0.0, 99.99, 0.1, 5.0},      {"BottomSize", 0.01, 10.0, 0.1, 4.0},
    {"BaseThickness", 0.01, 10.0, 0.1, 1.0}, {"Density", 1.0, 99.99, 0.1, 5.0},
    {"Angle", 20.0, 60.0, 1.0, 46.0},
};
constexpr char kRemoveInternal[] = "RemoveInternal";

} // namespace

const SupportParamRange& supportParamRange(SupportParams::Index i) {
    return kRanges[i];
}

SupportParams presetSupportParams() {
    SupportParams p;
    for (int i = 0; i < SupportParams::kCount; ++i)
        p.values[i] = kRanges[i].preset;
    p.removeInternal = false;
    return p;
}

double clampSupportParam(SupportParams::Index i, double value) {
    if (std::isnan(value))
        value = 0.0;
    value = std::clamp(value, kRanges[i].minimum, kRanges[i].maximum);
    // Two decimals, as the boxes round (the range ends have two decimals).
    return std::round(value * 100.0) / 100.0;
}

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
        xml.writeAttribute(QLatin1String(kRanges[i].attribute), doubleToQString(params.values[i]));
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
            qstringToDouble(attributes.value(QLatin1String(kRanges[i].attribute)).toString(), &value);
            params.values[i] = clampSupportParam(SupportParams::Index(i), value);
        }
        bool on = params.removeInternal;
        if (qstringToBool(attributes.value(QLatin1String(kRemoveInternal)).toString(), &on))
            params.removeInternal = on;
    }
    return true;
}

} // namespace support
