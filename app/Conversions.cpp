#include "app/Conversions.h"

#include "app/Constants.h"

#include <QStringList>
#include <locale>
#include <sstream>

namespace {

// Stream extraction in the C locale; the process locale (which Qt takes
// from the environment) must not turn "1.5" into 1.
template <typename T> bool extract(const QString& text, T* out) {
    if (text.trimmed().isEmpty()) {
        *out = T(0);
        return true;
    }
    std::istringstream in(text.toStdString());
    in.imbue(std::locale::classic());
    T value{};
    in >> value;
    *out = in.fail() ? T(0) : value;
    return !in.fail();
}

template <typename T> QString insert(T value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return QString::fromLatin1(out.str().c_str());
}

// QString::arg formats numbers in the C locale (only %L would localise).
QString argOf(int value) {
    return QString::number(value, 10);
}

QString argOf(double value) {
    return QStringLiteral("%1").arg(value, 0, 'g', -1);
}

template <typename T> QString join(const T* values, unsigned int count) {
    QString result = QStringLiteral("%1").arg(argOf(values[0]));
    for (unsigned int i = 1; i < count; ++i)
        result += QStringLiteral(";%1").arg(argOf(values[i]));
    return result;
}

template <typename T, typename Convert>
unsigned int split(const QString& text, T* out, unsigned int count, Convert convert) {
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts, Qt::CaseSensitive);
    if (static_cast<unsigned int>(parts.size()) < count)
        return 0;
    for (unsigned int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = convert(parts[static_cast<int>(i)], &ok);
        if (!ok)
            return 0;
    }
    return count;
}

} // namespace

bool qstringToUShort(const QString& text, unsigned short* out) {
    return extract(text, out);
}

bool qstringToInt(const QString& text, int* out) {
    return extract(text, out);
}

bool qstringToUInt(const QString& text, unsigned int* out) {
    return extract(text, out);
}

bool qstringToFloat(const QString& text, float* out) {
    return extract(text, out);
}

bool qstringToDouble(const QString& text, double* out) {
    return extract(text, out);
}

bool qstringToBool(const QString& text, bool* out) {
    if (text == QLatin1String("true") || text == QLatin1String("1")) {
        *out = true;
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0") || text.trimmed().isEmpty()) {
        *out = false;
        return true;
    }
    return false;
}

QString intToQString(int value) {
    return insert(value);
}

QString uintToQString(unsigned int value) {
    return insert(value);
}

QString floatToQString(float value) {
    return insert(value);
}

QString doubleToQString(double value) {
    return insert(value);
}

QString boolToQString(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString joinInts(const int* values, unsigned int count) {
    return join(values, count);
}

QString joinFloats(const float* values, unsigned int count) {
    // Each float is widened to double and printed with 6 significant digits.
    QString result = argOf(static_cast<double>(values[0]));
    for (unsigned int i = 1; i < count; ++i)
        result += QStringLiteral(";%1").arg(argOf(static_cast<double>(values[i])));
    return result;
}

QString joinDoubles(const double* values, unsigned int count) {
    return join(values, count);
}

unsigned int splitToInts(const QString& text, int* out, unsigned int count) {
    return split(text, out, count, [](const QString& s, bool* ok) { return s.toInt(ok, 10); });
}

unsigned int splitToFloats(const QString& text, float* out, unsigned int count) {
    return split(text, out, count, [](const QString& s, bool* ok) { return s.toFloat(ok); });
}

unsigned int splitToDoubles(const QString& text, double* out, unsigned int count) {
    return split(text, out, count, [](const QString& s, bool* ok) { return s.toDouble(ok); });
}

QString wstringToQString(const std::wstring& text) {
    if (text.size() == 1 && text[0] == L'\0')
        return NUL_STRING;
    const size_t end = text.find(L'\0');
    return QString::fromStdWString(end == std::wstring::npos ? text : text.substr(0, end));
}
