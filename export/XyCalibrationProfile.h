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
    // non-empty, which parse guarantees.
    void correct(const double p[3], double out[3]) const;

    // The correction at position u (relative to the origin) of a non-empty table.
    static double correctionAt(const CalibrationTable& table, double u);

private:
    CalibrationTable m_x;
    CalibrationTable m_y;
};

} // namespace gcodeexport
