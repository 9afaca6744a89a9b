#pragma once
// Small pieces shared by the project's XML entries: the text that goes into
// an attribute, and the number checks of the readers.
#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

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
// The ";"-separated doubles into out; false (out empty) when there are more
// than maxCount or any is not a finite number within +-limit.
bool attrDoubleList(const QXmlStreamAttributes& a, const char* name, size_t maxCount, double limit,
                    std::vector<double>& out);

// What one XML entry of a project may hold. A document beyond these was not
// written by the program (an element nested millions deep, a text of
// gigabytes) and is not read on: the parser would hold all of it.
struct XmlBounds {
    int depth = 16;                       // elements open at once
    qint64 tokenBytes = qint64(1) << 20;  // one token: a text, or a tag with its attributes
    qint64 entryBytes = qint64(64) << 20; // the entry as stored (inflated)
};

// Reads an XML document token by token within bounds. The source is fed to
// the parser in pieces, so the document is never held whole, and every run
// of blanks outside a tag's quoted values is cut to its first blank (the
// program's documents give those runs no meaning, and a run of megabytes
// would be one text token).
class BoundedXmlReader {
public:
    // source: open for reading, not owned, read as far as the document goes.
    BoundedXmlReader(QIODevice* source, const XmlBounds& bounds);
    // Reads the next token into xml(). False at the end of the document, on
    // an XML error (also a document cut short), when the source fails, and
    // when the document goes beyond its bounds; every later call is false too.
    bool next();
    const QXmlStreamReader& xml() const { return reader_; }
    // The text of the start element just read, to its end; the texts of child
    // elements are left out (their own tokens are passed over).
    QString elementText();
    // The document went beyond its bounds.
    bool exceeded() const { return exceeded_; }
    // The source reported an error (a damaged zip entry).
    bool sourceFailed() const { return sourceFailed_; }

private:
    void feed();

    QIODevice* source_;
    XmlBounds bounds_;
    QXmlStreamReader reader_;
    QByteArray chunk_;
    qint64 entryBytes_ = 0;
    qint64 sinceToken_ = 0;
    int depth_ = 0;
    char quote_ = 0;
    bool inTag_ = false;
    bool lastBlank_ = false;
    bool sourceEnded_ = false;
    bool sourceFailed_ = false;
    bool exceeded_ = false;
    bool done_ = false;
};

inline double clampOr(double v, double lo, double hi, double def) {
    if (!std::isfinite(v))
        return def;
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace project
