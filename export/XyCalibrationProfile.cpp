#include "export/XyCalibrationProfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cmath>
#include <locale>
#include <sstream>
#include <string>

namespace gcodeexport {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("XyCalibration", text);
}

// One number word in the C locale, whole.
bool readNumber(std::istringstream& in, double* out) {
    std::string word;
    if (!(in >> word))
        return false;
    std::istringstream number(word);
    number.imbue(std::locale::classic());
    double v = 0.0;
    number >> v;
    if (number.fail() || !number.eof() || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

} // namespace

bool XyCalibration::parse(const QString& text, XyCalibration* out, QString* error) {
    XyCalibration result;
    std::istringstream in(text.toStdString());
    in.imbue(std::locale::classic());
    std::string word;
    while (in >> word) {
        CalibrationTable* table = word == "Xval" ? &result.m_x : word == "Yval" ? &result.m_y : nullptr;
        if (!table)
            continue;
        double a = 0.0, b = 0.0;
        if (!readNumber(in, &a) || !readNumber(in, &b)) {
            *error = tr("The calibration profile holds an entry \"%1\" without two numbers.")
                         .arg(QString::fromStdString(word));
            return false;
        }
        table->emplace_back(a, b);
    }
    if (result.m_x.empty() || result.m_y.empty()) {
        *error = tr("The calibration profile needs at least one \"Xval\" and one \"Yval\" entry.");
        return false;
    }
    *out = std::move(result);
    return true;
}

bool XyCalibration::read(const QString& path, XyCalibration* out, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    QTextStream in(&file);
    const QString text = in.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return parse(text, out, error);
}

double XyCalibration::correctionAt(const CalibrationTable& table, double u) {
    const auto correction = [&table](size_t i) { return table[i].first - table[i].second; };
    const size_t last = table.size() - 1;
    if (table[0].first >= u)
        return correction(0);
    if (u >= table[last].first || last == 0)
        return correction(last);
    // The first entry from the second on beyond u; one exists because
    // u < table[last].first, and its predecessor lies at or before u (the
    // first entry does, and every earlier entry failed the test), so the span
    // is never empty, even in a table out of order.
    size_t k = 1;
    while (!(table[k].first > u))
        ++k;
    const double t = (u - table[k - 1].first) / (table[k].first - table[k - 1].first);
    return (1.0 - t) * correction(k - 1) + t * correction(k);
}

void XyCalibration::correct(const double p[3], double out[3]) const {
    out[0] = p[0] + correctionAt(m_x, p[0] - kOriginX);
    out[1] = p[1] + correctionAt(m_y, p[1] - kOriginY);
    out[2] = p[2];
}

} // namespace gcodeexport
