#include "project/ProjectXml.h"

#include <QStringList>
#include <QVector>

namespace project {

namespace {

bool xmlChar(uint c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool toDouble(const QStringRef& text, double& out) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

} // namespace

QString xmlSafeText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out.append(c);
            out.append(text.at(++i));
        } else if (!c.isSurrogate() && xmlChar(c.unicode())) {
            out.append(c);
        }
    }
    return out;
}

QString escapeText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        if (pair) {
            out.append(c);
            out.append(text.at(++i));
        } else if (c != QLatin1Char('%') && !c.isSurrogate() && xmlChar(c.unicode())) {
            out.append(c);
        } else {
            out.append(QStringLiteral("%%1").arg(c.unicode(), 4, 16, QLatin1Char('0')));
        }
    }
    return out;
}

bool unescapeText(const QStringRef& escaped, QString* text) {
    QString out;
    out.reserve(escaped.size());
    for (int i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) != QLatin1Char('%')) {
            out.append(escaped.at(i));
            continue;
        }
        if (i + 4 >= escaped.size())
            return false;
        ushort unit = 0;
        for (int k = 1; k <= 4; ++k) {
            const int digit = QByteArrayLiteral("0123456789abcdef").indexOf(escaped.at(i + k).toLower().toLatin1());
            if (digit < 0)
                return false;
            unit = static_cast<ushort>(unit * 16 + digit);
        }
        out.append(QChar(unit));
        i += 4;
    }
    *text = out;
    return true;
}

double attrDouble(const QXmlStreamAttributes& a, const char* name, double def, double lo, double hi) {
    double v = 0;
    if (!a.hasAttribute(QLatin1String(name)) || !toDouble(a.value(QLatin1String(name)), v) || v < lo || v > hi)
        return def;
    return v;
}

int attrInt(const QXmlStreamAttributes& a, const char* name, int def, int lo, int hi) {
    bool ok = false;
    const qlonglong v = a.value(QLatin1String(name)).trimmed().toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return def;
    return static_cast<int>(v);
}

bool attrBool(const QXmlStreamAttributes& a, const char* name, bool def) {
    const QStringRef v = a.value(QLatin1String(name));
    if (v == QLatin1String("true") || v == QLatin1String("1"))
        return true;
    if (v == QLatin1String("false") || v == QLatin1String("0"))
        return false;
    return def;
}

bool attrDoubles(const QXmlStreamAttributes& a, const char* name, double* out, unsigned count, double limit) {
    const QVector<QStringRef> parts = a.value(QLatin1String(name)).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (parts.size() < static_cast<int>(count))
        return false;
    double values[16];
    if (count > 16)
        return false;
    for (unsigned k = 0; k < count; ++k)
        if (!toDouble(parts[static_cast<int>(k)], values[k]) || std::fabs(values[k]) > limit)
            return false;
    std::copy(values, values + count, out);
    return true;
}

std::vector<int> attrIntList(const QXmlStreamAttributes& a, const char* name, size_t maxCount) {
    std::vector<int> out;
    const QStringRef text = a.value(QLatin1String(name));
    int start = 0;
    while (start < text.size() && out.size() < maxCount) {
        int end = text.indexOf(QLatin1Char(';'), start);
        if (end < 0)
            end = text.size();
        bool ok = false;
        const int v = text.mid(start, end - start).trimmed().toInt(&ok);
        if (ok)
            out.push_back(v);
        start = end + 1;
    }
    return out;
}

bool attrDoubleList(const QXmlStreamAttributes& a, const char* name, size_t maxCount, double limit,
                    std::vector<double>& out) {
    out.clear();
    const QStringRef text = a.value(QLatin1String(name));
    for (int start = 0; start < text.size();) {
        int end = text.indexOf(QLatin1Char(';'), start);
        if (end < 0)
            end = text.size();
        double v = 0;
        if (out.size() >= maxCount || !toDouble(text.mid(start, end - start), v) || std::fabs(v) > limit) {
            out.clear();
            return false;
        }
        out.push_back(v);
        start = end + 1;
    }
    return true;
}

BoundedXmlReader::BoundedXmlReader(QIODevice* source, const XmlBounds& bounds)
    : source_(source), bounds_(bounds) {}

void BoundedXmlReader::feed() {
    constexpr int kChunk = 64 << 10;
    chunk_.resize(kChunk);
    const qint64 got = source_ ? source_->read(chunk_.data(), kChunk) : 0;
    if (got <= 0) {
        sourceFailed_ = got < 0;
        sourceEnded_ = true;
        return;
    }
    entryBytes_ += got;
    if (entryBytes_ > bounds_.entryBytes) {
        exceeded_ = true;
        return;
    }
    int kept = 0;
    for (int i = 0; i < int(got); ++i) {
        const char c = chunk_[i];
        bool blank = false;
        if (quote_ != 0) {
            quote_ = c == quote_ ? 0 : quote_;
        } else if (inTag_ && (c == '"' || c == '\'')) {
            quote_ = c;
        } else {
            blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
            inTag_ = c == '<' || (inTag_ && c != '>');
        }
        if (blank && lastBlank_)
            continue;
        lastBlank_ = blank;
        chunk_[kept++] = c;
    }
    chunk_.resize(kept);
    sinceToken_ += kept;
    reader_.addData(chunk_);
}

bool BoundedXmlReader::next() {
    while (!done_) {
        const QXmlStreamReader::TokenType token = reader_.readNext();
        if (!reader_.hasError()) {
            sinceToken_ = 0;
            if (token == QXmlStreamReader::StartElement && ++depth_ > bounds_.depth) {
                exceeded_ = done_ = true;
                return false;
            }
            if (token == QXmlStreamReader::EndElement)
                --depth_;
            done_ = token == QXmlStreamReader::EndDocument;
            return true;
        }
        // The parser waits for more of the document: a token that has grown
        // beyond its bound is not fed on.
        if (reader_.error() != QXmlStreamReader::PrematureEndOfDocumentError || sourceEnded_ ||
            sinceToken_ > bounds_.tokenBytes) {
            exceeded_ = sinceToken_ > bounds_.tokenBytes;
            done_ = true;
            return false;
        }
        feed();
        done_ = exceeded_;
    }
    return false;
}

QString BoundedXmlReader::elementText() {
    QString text;
    const int depth = depth_;
    while (depth_ >= depth && next()) {
        if (depth_ == depth && reader_.tokenType() == QXmlStreamReader::Characters)
            text += reader_.text();
        // Texts between child elements add up to one text.
        if (text.size() > bounds_.tokenBytes) {
            exceeded_ = done_ = true;
            return QString();
        }
    }
    return text;
}

} // namespace project
