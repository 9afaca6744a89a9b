#include "export/GcodeOutput.h"

#include "fileIo/ReadCheck.h"
#include "fileIo/ReplacementFile.h"
#include "fileIo/SafeFileWriter.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>

#include <unistd.h>

namespace gcodeexport {

namespace {

const QByteArray kLayerCountMark(";LAYER_COUNT:");
const QByteArray kLayerMark(";LAYER:");
const QByteArray kEndMark(";End of Gcode");
// The slicer's warning for a layer it writes no moves for.
const QByteArray kEmptyLayerStart("Layer ");
const QByteArray kEmptyLayerEnd(" is empty");

// Files are read and written in pieces of this size.
constexpr qint64 kBlockBytes = 1 << 20;

QString tr(const char* text) {
    return QCoreApplication::translate("gcodeexport::GcodeExport", text);
}

// The key of a header line: ";TIME:6666" -> ";TIME".
QByteArray headerKey(const QByteArray& line) {
    const int colon = line.indexOf(':');
    return colon < 0 ? line : line.left(colon);
}

// The integer at the start of [p, end) after blanks; false when there is none.
bool leadingInt(const char* p, const char* end, long long* value) {
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    return std::from_chars(p, end, *value).ec == std::errc();
}

bool startsWith(const char* p, size_t n, const QByteArray& mark) {
    return n >= size_t(mark.size()) && std::memcmp(p, mark.constData(), size_t(mark.size())) == 0;
}

// Counts the marks of a G-code file fed in pieces of any size. Only lines
// that begin with ';' are looked at, and only their first kPrefix bytes.
class GcodeScanner {
public:
    explicit GcodeScanner(const std::vector<bool>& emptyLayers) : m_empty(emptyLayers) {}

    void feed(const char* data, size_t n) {
        const char* p = data;
        const char* const end = data + n;
        while (p < end) {
            if (m_atLineStart) {
                m_atLineStart = false;
                m_collecting = *p == ';';
                m_prefixLength = 0;
            }
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            const char* stop = nl ? nl : end;
            if (m_collecting) {
                const size_t take = std::min(size_t(stop - p), kPrefix - m_prefixLength);
                std::memcpy(m_prefix + m_prefixLength, p, take);
                m_prefixLength += take;
            }
            if (!nl)
                return;
            if (m_collecting)
                countLine();
            m_atLineStart = true;
            p = nl + 1;
        }
    }

    GcodeFileCheck finish(qint64 bytes) {
        if (!m_atLineStart && m_collecting)
            countLine();
        m_atLineStart = true;
        m_check.bytes = bytes;
        if (m_check.hasLayerCount && m_check.layerCount > 0 && m_check.layerCount <= kMaxLayerCount) {
            int missing = 0;
            for (size_t n = 0; n < m_present.size(); ++n)
                missing += !m_present[n] && !(n < m_empty.size() && m_empty[n]) ? 1 : 0;
            m_check.layersMissing = missing;
        }
        return m_check;
    }

private:
    static constexpr size_t kPrefix = 64;

    void countLine() {
        const char* p = m_prefix;
        const size_t n = m_prefixLength;
        long long value = 0;
        if (startsWith(p, n, kLayerCountMark)) {
            if (m_check.hasLayerCount)
                return;
            m_check.hasLayerCount = true;
            if (leadingInt(p + kLayerCountMark.size(), p + n, &value) && value > 0 && value <= kMaxLayerCount) {
                m_check.layerCount = int(value);
                m_present.assign(size_t(value), false);
            }
        } else if (startsWith(p, n, kLayerMark)) {
            if (!leadingInt(p + kLayerMark.size(), p + n, &value) || value < 0)
                return; // raft layers are numbered below 0
            if (value >= static_cast<long long>(m_present.size())) {
                m_check.layerBeyondCount = true;
            } else if (!m_present[size_t(value)]) {
                m_present[size_t(value)] = true;
                ++m_check.layersFound;
            }
        } else if (startsWith(p, n, kEndMark)) {
            m_check.hasEndMark = true;
        }
    }

    const std::vector<bool>& m_empty;
    GcodeFileCheck m_check;
    std::vector<bool> m_present;
    char m_prefix[kPrefix];
    size_t m_prefixLength = 0;
    bool m_atLineStart = true;
    bool m_collecting = false;
};

// The slicer's output opened for reading. Only a regular file is read, not a
// link, pipe or device put in its place (a link to /dev/zero never ends, a
// pipe blocks), and no further than its size when it was opened.
class SlicerOutput {
public:
    // False with *error when the file cannot be read as above.
    bool open(const QString& path, QString* error) {
        int64_t size = 0;
        fileIo::ReadFailure failure = fileIo::ReadFailure::None;
        const int fd = fileIo::openRegularFileNoLink(path.toStdWString(), &size, &failure);
        if (fd < 0) {
            *error = failure == fileIo::ReadFailure::Missing ? tr("The slicer wrote no G-code file.")
                     : failure == fileIo::ReadFailure::NotRegular
                         ? tr("The slicer's output is not a regular file.")
                         : tr("The slicer's G-code could not be read.");
            return false;
        }
        if (!m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            *error = tr("The slicer's G-code could not be read: %1").arg(m_file.errorString());
            return false;
        }
        m_size = m_left = size;
        return true;
    }
    // Reads the next piece into buffer at offset; the bytes read, 0 at the
    // end, -1 on an error.
    qint64 readBlock(QByteArray& buffer, qint64 offset) {
        const qint64 n = m_file.read(buffer.data() + offset, std::min(buffer.size() - offset, m_left));
        m_left -= std::max<qint64>(n, 0);
        return n;
    }
    // The file's size when it was opened.
    qint64 size() const { return m_size; }
    bool failed() const { return m_file.error() != QFileDevice::NoError; }
    QString errorString() const { return m_file.errorString(); }

private:
    QFile m_file;
    qint64 m_size = 0;
    qint64 m_left = 0;
};

QString incompleteText(const GcodeFileCheck& check) {
    if (!check.hasLayerCount || check.layersFound == 0)
        return tr("The slicer wrote no G-code layers.");
    return tr("The slicer's G-code is incomplete: %1 of %2 layers%3 (%4 bytes). The disk may be full.")
        .arg(check.layersFound)
        .arg(check.layerCount)
        .arg(check.hasEndMark ? (check.layerBeyondCount ? tr(", layers beyond the count") : QString())
                              : tr(", no end mark"))
        .arg(check.bytes);
}

} // namespace

GcodeFileCheck checkGcodeFile(const QString& path, const std::vector<bool>& emptyLayers) {
    SlicerOutput file;
    QString error;
    if (!file.open(path, &error))
        return GcodeFileCheck();
    GcodeScanner scanner(emptyLayers);
    QByteArray buffer(int(kBlockBytes), Qt::Uninitialized);
    qint64 bytes = 0;
    for (qint64 n; (n = file.readBlock(buffer, 0)) > 0; bytes += n)
        scanner.feed(buffer.constData(), size_t(n));
    return scanner.finish(bytes);
}

void SlicerLogReader::addLine(const QByteArray& line) {
    const QByteArray text = line.trimmed();
    if (text == "Gcode header after slicing:") {
        m_inside = true;
        m_lines.clear();
    } else if (text == "End of gcode header.") {
        m_inside = false;
    } else if (m_inside && text.startsWith(';')) {
        if (m_lines.size() < kMaxHeaderLines && text.size() <= kMaxHeaderLineLength)
            m_lines << QString::fromLatin1(text);
    } else {
        // "[WARNING] Layer 198 is empty (or it has empty extruder plans). ..."
        const int at = text.indexOf(kEmptyLayerStart);
        long long n = 0;
        if (at < 0 || text.indexOf(kEmptyLayerEnd, at) < 0 ||
            !leadingInt(text.constData() + at + kEmptyLayerStart.size(), text.constData() + text.size(), &n) ||
            n < 0 || n >= kMaxLayerCount)
            return;
        if (size_t(n) >= m_empty.size())
            m_empty.resize(size_t(n) + 1, false);
        m_empty[size_t(n)] = true;
    }
}

void SlicerLogReader::clear() {
    m_inside = false;
    m_lines.clear();
    m_empty.clear();
}

bool installGcode(const QString& source, const QString& target, const QStringList& header,
                  const std::vector<bool>& emptyLayers, GcodeFileCheck* check, QString* error) {
    *check = GcodeFileCheck();
    SlicerOutput in;
    if (!in.open(source, error))
        return false;
    check->bytes = in.size();
    std::map<QByteArray, QByteArray> replacement;
    for (const QString& line : header)
        replacement[headerKey(line.toLatin1())] = line.toLatin1() + '\n';

    const auto saveFailure = [&](const QString& why) {
        return tr("The G-code could not be saved as %1: %2").arg(target, why);
    };
    fileIo::SafeFileWriter out(target.toStdWString());
    if (!out.isOpen()) {
        *error = saveFailure(QString::fromUtf8(fileIo::saveFailureText(out.failure())));
        return false;
    }
    const auto write = [&](const char* data, qint64 n) {
        return n == 0 || out.write(data, static_cast<uint32_t>(n));
    };

    // The header is the comment block before the first line that is not a
    // comment; its lines are taken one by one, the rest goes on in blocks.
    GcodeScanner scanner(emptyLayers);
    QByteArray buffer(int(kBlockBytes), Qt::Uninitialized);
    QByteArray headerOut;
    bool inHeader = true;
    bool written = true;
    qint64 kept = 0; // bytes of an unfinished header line at the buffer's start
    qint64 bytes = 0;
    for (;;) {
        const qint64 n = in.readBlock(buffer, kept);
        if (n < 0)
            break;
        scanner.feed(buffer.constData() + kept, size_t(n));
        bytes += n;
        const bool atEnd = n == 0;
        const qint64 filled = kept + n;
        qint64 from = 0;
        while (inHeader && from < filled) {
            const char* line = buffer.constData() + from;
            if (*line != ';') {
                inHeader = false;
                break;
            }
            const char* nl = static_cast<const char*>(std::memchr(line, '\n', size_t(filled - from)));
            if (!nl && !atEnd && filled < buffer.size())
                break; // the line goes on in the next block
            if (!nl && !atEnd) {
                inHeader = false; // a header line longer than a block is only copied
                break;
            }
            const qint64 length = nl ? nl - line + 1 : filled - from;
            const QByteArray text = QByteArray::fromRawData(line, int(length));
            const auto it = replacement.find(headerKey(text.trimmed()));
            headerOut += it != replacement.end() ? it->second : text;
            from += length;
        }
        if (!headerOut.isEmpty()) {
            written = write(headerOut.constData(), headerOut.size());
            headerOut.clear();
        }
        if (inHeader) {
            kept = filled - from;
            std::memmove(buffer.data(), buffer.constData() + from, size_t(kept));
        } else {
            written = written && write(buffer.constData() + from, filled - from);
            kept = 0;
        }
        if (!written || atEnd)
            break;
    }
    if (!written) {
        *error = saveFailure(QString::fromUtf8(fileIo::saveFailureText(out.failure())));
        return false;
    }
    if (in.failed()) {
        *error = tr("The slicer's G-code could not be read: %1").arg(in.errorString());
        return false;
    }
    *check = scanner.finish(bytes);
    if (!check->isWhole()) {
        *error = incompleteText(*check);
        return false;
    }
    if (!out.commit()) {
        *error = saveFailure(QString::fromUtf8(fileIo::saveFailureText(out.failure())));
        return false;
    }
    check->bytes = out.size();
    return true;
}

} // namespace gcodeexport
