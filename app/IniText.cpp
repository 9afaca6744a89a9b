#include "app/IniText.h"

#include <QDataStream>
#include <QMap>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// A key or section name: letters, digits, "_", "-" and "." as they are, "/"
// as "\", other characters as %XX or %UXXXX.
void appendEscapedKey(const QString& key, QByteArray& out) {
    for (const QChar c : key) {
        uint ch = c.unicode();
        if (ch == '/') {
            out += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                   ch == '-' || ch == '.') {
            out += char(ch);
        } else if (ch <= 0xFF) {
            out += '%';
            out += kHexDigits[ch / 16];
            out += kHexDigits[ch % 16];
        } else {
            out += "%U";
            char code[4];
            for (int i = 3; i >= 0; --i, ch >>= 4)
                code[i] = kHexDigits[ch % 16];
            out.append(code, 4);
        }
    }
}

// A string value: C escapes for control characters, quotes and backslashes,
// \x and lower-case hex for the rest outside printable ASCII (a hex digit
// right after such an escape is escaped too, or it would join it), the whole
// in quotes when it holds ";", "," or "=" or begins or ends with a blank.
void appendEscapedString(const QString& text, QByteArray& out) {
    const int start = out.size();
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar c : text) {
        const uint ch = c.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        const bool hexDigit = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
        if (escapeNextIfDigit && hexDigit) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (ch) {
        case '\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(ch);
            break;
        default:
            if (ch <= 0x1F || ch >= 0x7F) {
                out += "\\x" + QByteArray::number(ch, 16);
                escapeNextIfDigit = true;
            } else {
                out += char(ch);
            }
        }
    }
    if (needsQuotes || (start < out.size() && (out.at(start) == ' ' || out.at(out.size() - 1) == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

QString valueText(const QVariant& v) {
    switch (v.userType()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::QByteArray: {
        const QByteArray a = v.toByteArray();
        return QLatin1String("@ByteArray(") + QLatin1String(a.constData(), a.size()) + QLatin1Char(')');
    }
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
    case QMetaType::Double: {
        QString text = v.toString();
        if (text.contains(QChar::Null))
            return QLatin1String("@String(") + text + QLatin1Char(')');
        if (text.startsWith(QLatin1Char('@')))
            text.prepend(QLatin1Char('@'));
        return text;
    }
    case QMetaType::QRect: {
        const QRect r = v.toRect();
        return QString::asprintf("@Rect(%d %d %d %d)", r.x(), r.y(), r.width(), r.height());
    }
    case QMetaType::QSize: {
        const QSize s = v.toSize();
        return QString::asprintf("@Size(%d %d)", s.width(), s.height());
    }
    case QMetaType::QPoint: {
        const QPoint p = v.toPoint();
        return QString::asprintf("@Point(%d %d)", p.x(), p.y());
    }
    default: {
        const bool dateTime = v.userType() == QMetaType::QDateTime;
        QByteArray a;
        {
            QDataStream s(&a, QIODevice::WriteOnly);
            s.setVersion(dateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            s << v;
        }
        return QLatin1String(dateTime ? "@DateTime(" : "@Variant(") + QLatin1String(a.constData(), a.size()) +
               QLatin1Char(')');
    }
    }
}

void appendValue(const QVariant& v, QByteArray& out) {
    // A one-element variant list is written as its element, as QSettings does.
    if (v.userType() == QMetaType::QStringList ||
        (v.userType() == QMetaType::QVariantList && v.toList().size() != 1)) {
        const QVariantList list = v.toList();
        if (list.isEmpty())
            out += "@Invalid()";
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0)
                out += ", ";
            appendEscapedString(valueText(list.at(i)), out);
        }
    } else {
        appendEscapedString(valueText(v), out);
    }
}

} // namespace

QByteArray iniText(const QVariantMap& values) {
    QMap<QString, QVariantMap> sections;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        const int slash = it.key().indexOf(QLatin1Char('/'));
        if (slash < 0)
            sections[QString()][it.key()] = it.value();
        else
            sections[it.key().left(slash)][it.key().mid(slash + 1)] = it.value();
    }
    QByteArray out;
    bool first = true;
    for (auto s = sections.constBegin(); s != sections.constEnd(); ++s) {
        QByteArray name;
        appendEscapedKey(s.key(), name);
        if (name.isEmpty())
            name = "General";
        else if (name.compare("general", Qt::CaseInsensitive) == 0)
            name = "%General";
        if (!first)
            out += '\n';
        first = false;
        out += '[' + name + "]\n";
        for (auto k = s.value().constBegin(); k != s.value().constEnd(); ++k) {
            appendEscapedKey(k.key(), out);
            out += '=';
            appendValue(k.value(), out);
            out += '\n';
        }
    }
    return out;
}
