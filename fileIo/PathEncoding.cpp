#include "fileIo/PathEncoding.h"

#include <QFile>
#include <QString>

namespace fileIo {

namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

bool isEscape(wchar_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

// Length of the UTF-8 sequence at s[i] when it is a valid, shortest form of a
// scalar value; 0 otherwise. *value receives the code point.
std::size_t utf8Sequence(const std::string& s, std::size_t i, char32_t* value) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    std::size_t n = 0;
    char32_t v = 0;
    if (b0 < 0x80) {
        *value = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2;
        v = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3;
        v = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4;
        v = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (byte(i + k) & 0x3F);
    }
    static const char32_t shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < shortest[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *value = v;
    return n;
}

} // namespace

std::string encodePath(const std::wstring& path) {
    std::string out;
    std::wstring run;
    auto flush = [&] {
        if (!run.empty())
            out += QFile::encodeName(QString::fromStdWString(run)).toStdString();
        run.clear();
    };
    for (wchar_t c : path) {
        if (isEscape(c)) {
            flush();
            out += static_cast<char>(c - kEscapeBase);
        } else {
            run += c;
        }
    }
    flush();
    return out;
}

std::wstring decodePath(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromStdString(bytes);
    const QString decoded = QFile::decodeName(raw);
    if (QFile::encodeName(decoded) == raw)
        return decoded.toStdWString();
    // The local encoding loses bytes of this name; file names that do not
    // decode are met under UTF-8 locales: decode UTF-8 and escape the rest.
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t v = 0;
        const std::size_t n = utf8Sequence(bytes, i, &v);
        if (n == 0) {
            out += static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            out += static_cast<wchar_t>(v);
            i += n;
        }
    }
    return out;
}

QString pathToQString(const std::wstring& path) {
    return QString::fromStdWString(path);
}

QString pathToQString(const std::string& bytes) {
    return pathToQString(decodePath(bytes));
}

std::wstring pathFromQString(const QString& path) {
    std::wstring out;
    out.reserve(static_cast<std::size_t>(path.size()));
    const int n = path.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = path.at(i);
        if (c.isHighSurrogate() && i + 1 < n && path.at(i + 1).isLowSurrogate()) {
            out += static_cast<wchar_t>(QChar::surrogateToUcs4(c, path.at(i + 1)));
            ++i;
        } else {
            out += static_cast<wchar_t>(c.unicode()); // lone surrogates included
        }
    }
    return out;
}

} // namespace fileIo
