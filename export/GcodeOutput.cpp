#include "export/GcodeOutput.h"

#include "fileIo/SafeFileWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <map>

namespace gcodeexport {

namespace {

const QByteArray kLayerCountMark(";LAYER_COUNT:");
const QByteArray kLayerMark(";LAYER:");
const QByteArray kEndMark(";End of Gcode");

QString tr(const char* text) {
    return QCoreApplication::translate("gcodeexport::GcodeExport", text);
}

// The key of a header line: ";TIME:6666" -> ";TIME".
QByteArray headerKey(const QByteArray& line) {
    const int colon = line.indexOf(':');
    return colon < 0 ? line : line.left(colon);
}

// Counts one line of the file into check.
void countLine(const QByteArray& line, GcodeFileCheck* check) {
    if (line.startsWith(kLayerCountMark)) {
        if (!check->hasLayerCount) {
            bool ok = false;
            const int n = line.mid(kLayerCountMark.size()).trimmed().toInt(&ok);
            check->hasLayerCount = true;
            check->layerCount = ok ? n : 0;
        }
    } else if (line.startsWith(kLayerMark)) {
        ++check->layersFound;
    } else if (line.startsWith(kEndMark)) {
        check->hasEndMark = true;
    }
}

// Reads the next line (with its line end) into line; false at the end or on
// an error. Lines have no length limit: G-code lines are short, and a long
// one is only copied.
bool nextLine(QFile& in, QByteArray& line) {
    line = in.readLine();
    return !line.isEmpty();
}

} // namespace

GcodeFileCheck checkGcodeFile(const QString& path) {
    GcodeFileCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    check.bytes = file.size();
    QByteArray line;
    while (nextLine(file, line))
        countLine(line, &check);
    return check;
}

void SlicedHeaderCollector::addLine(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    if (text == "Gcode header after slicing:") {
        m_inside = true;
        m_lines.clear();
    } else if (text == "End of gcode header.") {
        m_inside = false;
    } else if (m_inside && text.startsWith(';')) {
        m_lines << QString::fromLatin1(text);
    }
}

void SlicedHeaderCollector::clear() {
    m_inside = false;
    m_lines.clear();
}

bool installGcode(const QString& source, const QString& target, const QStringList& header,
                  GcodeFileCheck* check, QString* error) {
    *check = GcodeFileCheck();
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = tr("The slicer wrote no G-code file.");
        return false;
    }
    check->bytes = in.size();
    if (QFileInfo(target).isDir()) {
        *error = tr("The G-code could not be saved as %1: it is a folder").arg(target);
        return false;
    }
    std::map<QByteArray, QByteArray> replacement;
    for (const QString& line : header)
        replacement[headerKey(line.toLatin1())] = line.toLatin1() + '\n';

    fileIo::SafeFileWriter out(target.toStdWString());
    if (!out.isOpen()) {
        *error = tr("The G-code could not be saved as %1: %2")
                     .arg(target, QString::fromLocal8Bit(std::strerror(errno ? errno : EIO)));
        return false;
    }
    // The header is the comment block before the first line that is not a
    // comment; only its lines are replaced.
    bool inHeader = true;
    bool written = true;
    int writeError = 0;
    QByteArray line;
    while (written && nextLine(in, line)) {
        countLine(line, check);
        if (inHeader && !line.startsWith(';'))
            inHeader = false;
        const QByteArray* bytes = &line;
        if (inHeader) {
            const auto it = replacement.find(headerKey(line.trimmed()));
            if (it != replacement.end())
                bytes = &it->second;
        }
        written = out.write(bytes->constData(), static_cast<uint32_t>(bytes->size()));
        if (!written)
            writeError = errno;
    }
    const auto saveFailure = [&](int code) {
        return tr("The G-code could not be saved as %1: %2")
            .arg(target, QString::fromLocal8Bit(std::strerror(code ? code : EIO)));
    };
    if (!written) {
        *error = saveFailure(writeError);
        return false;
    }
    if (in.error() != QFileDevice::NoError) {
        *error = tr("The slicer's G-code could not be read: %1").arg(in.errorString());
        return false;
    }
    if (!check->isWhole()) {
        if (!check->hasLayerCount || check->layersFound == 0)
            *error = tr("The slicer wrote no G-code layers.");
        else
            *error = tr("The slicer's G-code is incomplete: %1 of %2 layers%3 (%4 bytes). The disk may be full.")
                         .arg(check->layersFound)
                         .arg(check->layerCount)
                         .arg(check->hasEndMark ? QString() : tr(", no end mark"))
                         .arg(check->bytes);
        return false;
    }
    errno = 0;
    if (!out.commit()) {
        *error = saveFailure(errno);
        return false;
    }
    check->bytes = out.size();
    return true;
}

} // namespace gcodeexport
