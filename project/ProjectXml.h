#pragma once
// Small pieces shared by the project's XML entries: the text that goes into
// an attribute, and the number checks of the readers.
#include <QString>
#include <QXmlStreamAttributes>

#include <cmath>

namespace project {

// text without the characters that XML 1.0 cannot hold (control characters
// other than tab, line feed and carriage return, lone surrogates, U+FFFE and
// U+FFFF); a writer would otherwise produce a document no reader accepts.
QString xmlSafeText(const QString& text);

// text with every UTF-16 unit that xmlSafeText would drop, and every "%",
// written as "%" and four hex digits, so that any text (a name made from a
// file name that is not valid UTF-8 holds lone surrogates) passes through an
// attribute unchanged; unescapeText gives it back. False from unescapeText
// for a "%" not followed by four hex digits.
QString escapeText(const QString& text);
bool unescapeText(const QStringRef& escaped, QString* text);

// The attribute's value as a double; def when it is missing, no number, not
// finite or outside [lo, hi].
double attrDouble(const QXmlStreamAttributes& a, const char* name, double def, double lo, double hi);
// The attribute's value as an int; def when missing, no number or outside [lo, hi].
int attrInt(const QXmlStreamAttributes& a, const char* name, int def, int lo, int hi);
// "true"/"1" and "false"/"0"; def for anything else.
bool attrBool(const QXmlStreamAttributes& a, const char* name, bool def);
// count doubles separated by ";" into out; false (out untouched) when there
// are fewer or any is not a finite number within +-limit.
bool attrDoubles(const QXmlStreamAttributes& a, const char* name, double* out, unsigned count, double limit);
// The ";"-separated integers; parts that are no integer are left out.
// At most maxCount values are taken.
std::vector<int> attrIntList(const QXmlStreamAttributes& a, const char* name, size_t maxCount);

inline double clampOr(double v, double lo, double hi, double def) {
    if (!std::isfinite(v))
        return def;
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace project
