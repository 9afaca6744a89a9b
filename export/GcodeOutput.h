#pragma once
// The slicer's G-code on its way to the user's file. The slicer writes its
// header before it slices, with placeholders (";TIME:6666", ";MINX:2.14748e+06")
// where the print time, material and bounds belong, and prints the real header
// to its log once it is done; installGcode puts that header in place of the
// placeholders while it copies the file to the target.
//
// The copy is also the check that the output is whole: a slicer that ran out of
// disk or hit a file-size limit can exit 0 with a file cut short. The target is
// replaced only when every layer 0 .. N-1 that ";LAYER_COUNT:N" announces has
// its ";LAYER:" line, none lies beyond N, the file ends with the slicer's
// ";End of Gcode" mark, and every byte reached the target; otherwise the
// target is left as it was. A layer the slicer reported empty in its log
// ("Layer 198 is empty") may be absent: it writes no layer for the empty
// slices at the top, the tip of a cone too thin to print. Raft layers are
// numbered below 0 and are not counted.
//
// The slicer's output is read only when it is a regular file (not a link,
// pipe or device put at its path), and no further than its size when it was
// opened. Files are scanned and copied in blocks; only the lines of the
// leading comment block are looked at one by one. Lines may be of any length.
#include <QString>
#include <QStringList>

#include <vector>

namespace gcodeexport {

// The largest layer count taken from a header: a million millimetres at a
// hundredth of a millimetre is 1e8 layers; beyond that the header is damaged.
constexpr int kMaxLayerCount = 1 << 27;

// What the slicer left: the G-code file's size, its ";LAYER_COUNT:" header,
// how many of the announced layers are there and whether the end mark is.
struct GcodeFileCheck {
    qint64 bytes = -1; // -1 when the file is missing
    bool hasLayerCount = false;
    int layerCount = 0;
    int layersFound = 0;   // distinct layers 0 .. layerCount-1 in the file
    int layersMissing = 0; // of those, absent and not reported empty
    bool layerBeyondCount = false;
    bool hasEndMark = false;

    bool isWhole() const {
        return hasLayerCount && layerCount > 0 && layerCount <= kMaxLayerCount && layersFound > 0 &&
               layersMissing == 0 && !layerBeyondCount && hasEndMark;
    }
};

// Reads the whole file once and counts what it holds (nothing, bytes -1,
// when it is missing or not a regular file); emptyLayers as for installGcode.
GcodeFileCheck checkGcodeFile(const QString& path, const std::vector<bool>& emptyLayers = {});

// What the slicer's log says about its output: the header lines it printed
// after slicing (between "Gcode header after slicing:" and "End of gcode
// header.", at most kMaxHeaderLines), and the layers it reported empty.
class SlicerLogReader {
public:
    static constexpr int kMaxHeaderLines = 256;
    static constexpr int kMaxHeaderLineLength = 1024;

    // Feeds one log line of the slicer (either stream).
    void addLine(const QByteArray& line);
    const QStringList& headerLines() const { return m_lines; }
    // emptyLayers()[n] is set when layer n was reported empty.
    const std::vector<bool>& emptyLayers() const { return m_empty; }
    void clear();

private:
    bool m_inside = false;
    QStringList m_lines;
    std::vector<bool> m_empty;
};

// Copies source to target through a temporary file beside target, replacing
// each line of the leading comment block whose key (the text up to its first
// ':') has a line in header. emptyLayers: the layers the slicer reported
// empty (see SlicerLogReader). Fills *check while copying (on success its
// bytes are the target's new size). False with *error, and target untouched,
// when the file is not whole (see above), cannot be read, the target cannot
// be replaced (a folder, a pipe), the source is not a regular file or the
// copy could not be written completely.
bool installGcode(const QString& source, const QString& target, const QStringList& header,
                  const std::vector<bool>& emptyLayers, GcodeFileCheck* check, QString* error);

} // namespace gcodeexport
