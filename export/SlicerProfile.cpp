#include "export/SlicerProfile.h"

#include <QFile>
#include <QTextStream>
#include <QVector>

#include <cmath>
#include <locale>
#include <sstream>
#include <string>

namespace gcodeexport {

namespace {

// The number in text (blanks around it allowed) in the C locale; false when
// text holds anything else.
bool parseLocaleFreeDouble(const QString& text, double* out) {
    std::istringstream in(text.trimmed().toStdString());
    in.imbue(std::locale::classic());
    double v = 0.0;
    in >> v;
    if (in.fail() || text.trimmed().isEmpty())
        return false;
    in >> std::ws;
    if (!in.eof())
        return false;
    *out = v;
    return true;
}

} // namespace

SlicerProfile parseSlicerProfile(const QString& text) {
    SlicerProfile profile;
    double layerHeight = 0.0;
    bool layerHeightUsable = false;
    const QVector<QStringRef> lines = text.splitRef(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QStringRef line = lines[i];
        // Text after the last line feed is a line only when it is not empty.
        if (i == lines.size() - 1 && line.isEmpty())
            break;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const int lastEquals = line.lastIndexOf(QLatin1Char('='));
        if (lastEquals < 0)
            continue;
        profile.settingLines.append(line.toString());
        if (line.left(lastEquals) == QLatin1String("layer_height")) {
            double v = 0.0;
            layerHeightUsable =
                parseLocaleFreeDouble(line.mid(lastEquals + 1).toString(), &v) && std::isfinite(v) && v > 0.0;
            layerHeight = v;
        }
    }
    if (layerHeightUsable) {
        profile.layerHeight = layerHeight;
        profile.layerHeightGiven = true;
    }
    return profile;
}

bool readSlicerProfile(const QString& path, SlicerProfile* out, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QTextStream in(&file); // the system's local encoding
    const QString text = in.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    *out = parseSlicerProfile(text);
    return true;
}

QStringList slicerArguments(const QString& definitionPath, const QStringList& settingLines,
                            const QString& gcodePath, const QString& stlPath) {
    QStringList args{QStringLiteral("slice"), QStringLiteral("-v"), QStringLiteral("-j"), definitionPath};
    for (const QString& line : settingLines)
        args << QStringLiteral("-s") << line;
    args << QStringLiteral("-o") << gcodePath << QStringLiteral("-e0") << QStringLiteral("-l") << stlPath;
    return args;
}

} // namespace gcodeexport
