#pragma once
// The slicer's G-code on its way to the user's file. The slicer writes its
// header before it slices, with placeholders (";TIME:6666", ";MINX:2.14748e+06")
// where the print time, material and bounds belong, and prints the real header
// to its log once it is done; installGcode puts that header in place of the
// placeholders while it copies the file to the target.
//
// The copy is also the check that the output is whole: a slicer that ran out of
// disk or hit a file-size limit can exit 0 with a file cut short. The target is
// replaced only when the file holds ";LAYER:" lines, no more than its
// ";LAYER_COUNT:" says, ends with the slicer's ";End of Gcode" mark, and every
// byte reached the target; otherwise the target is left as it was. (The
// slicer counts every slice but writes no layer for the empty ones at the top:
// the tip of a cone too thin to print. A file cut short lacks the end mark.)
#include <QString>
#include <QStringList>

namespace gcodeexport {

// What the slicer left: the G-code file's size, its ";LAYER_COUNT:" header,
// how many ";LAYER:" lines follow and whether the end mark is there.
struct GcodeFileCheck {
    qint64 bytes = -1; // -1 when the file is missing
    bool hasLayerCount = false;
    int layerCount = 0;
    int layersFound = 0;
    bool hasEndMark = false;

    bool isWhole() const {
        return hasLayerCount && layerCount > 0 && layersFound > 0 && layersFound <= layerCount && hasEndMark;
    }
};

// Reads the whole file once and counts what it holds.
GcodeFileCheck checkGcodeFile(const QString& path);

// The header lines the slicer printed after slicing, taken from its log lines
// between "Gcode header after slicing:" and "End of gcode header.".
class SlicedHeaderCollector {
public:
    // Feeds one log line of the slicer (either stream).
    void addLine(const QByteArray& line);
    const QStringList& lines() const { return m_lines; }
    void clear();

private:
    bool m_inside = false;
    QStringList m_lines;
};

// Copies source to target through a temporary file beside target, replacing
// each line of the leading comment block whose key (the text up to its first
// ':') has a line in header. Fills *check while copying (on success its
// bytes are the target's new size). False with *error,
// and target untouched, when the file is not whole (see above), cannot be
// read, or the copy could not be written completely.
bool installGcode(const QString& source, const QString& target, const QStringList& header,
                  GcodeFileCheck* check, QString* error);

} // namespace gcodeexport
