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

} // namespace gcodeexport
