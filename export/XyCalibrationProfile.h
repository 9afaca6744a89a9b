#pragma once
// XY calibration profiles (".vcp"): two tables that map positions along X
// and along Y, measured from the calibration origin (65, 65), to the
// positions at which the printer reproduces them.
//
// The file is a sequence of words separated by white space, lines do not
// count: "Xval a b" adds (a, b) to the X table, "Yval a b" to the Y table
// (keywords case-sensitive, numbers in the C locale); any other word is
// skipped. The correction at an entry is a - b; between entries it is
// interpolated linearly, outside the table the end entry's correction holds.
#include <QString>

#include <utility>
#include <vector>

namespace gcodeexport {

using CalibrationTable = std::vector<std::pair<double, double>>;

class XyCalibration {
public:
    // Parses profile text. False and *error set when a keyword is not followed
    // by two numbers or when a table stays empty; such a profile is unusable.
    static bool parse(const QString& text, XyCalibration* out, QString* error);
    // Reads and parses the file; the file's error text when it cannot be read.
    static bool read(const QString& path, XyCalibration* out, QString* error);

    const CalibrationTable& xTable() const { return m_x; }
    const CalibrationTable& yTable() const { return m_y; }
    static constexpr double kOriginX = 65.0;
    static constexpr double kOriginY = 65.0;

    // The corrected position of p (x and y shifted, z kept). Needs both tables
    // non-empty, which parse guarantees. Inline: the export calls it for every
    // corner it writes.
    void correct(const double p[3], double out[3]) const {
        out[0] = p[0] + correctionAt(m_x, p[0] - kOriginX);
        out[1] = p[1] + correctionAt(m_y, p[1] - kOriginY);
        out[2] = p[2];
    }

    // The correction at position u (relative to the origin) of a non-empty table.
    static double correctionAt(const CalibrationTable& table, double u) {
        const size_t last = table.size() - 1;
        if (table[0].first >= u)
            return table[0].first - table[0].second;
        if (u >= table[last].first || last == 0)
            return table[last].first - table[last].second;
        // The first entry from the second on beyond u; one exists because
        // u < table[last].first, and its predecessor lies at or before u (the
        // first entry does, and every earlier entry failed the test), so the
        // span is never empty, even in a table out of order.
        size_t k = 1;
        while (!(table[k].first > u))
            ++k;
        const std::pair<double, double>& lo = table[k - 1];
        const std::pair<double, double>& hi = table[k];
        const double t = (u - lo.first) / (hi.first - lo.first);
        return (1.0 - t) * (lo.first - lo.second) + t * (hi.first - hi.second);
    }

private:
    CalibrationTable m_x;
    CalibrationTable m_y;
};

} // namespace gcodeexport
