#pragma once
// Slicer profiles (".vfg") and the slicer's command line.
//
// A profile is text; a line feed, alone or after a carriage return, ends a
// line. Every line holding "=" is handed to the slicer whole, as one "-s"
// setting; other lines are notes and are skipped. Of the settings only the
// layer height is read here: a line whose key (the text before its last "=",
// untrimmed and case-sensitive) is "layer_height" sets it to the number after
// the last "=" (blanks around it allowed); a later such line replaces an
// earlier one.
#include <QString>
#include <QStringList>

namespace gcodeexport {

// The layer height used when a profile gives no usable one (absent, zero,
// negative or not a number).
constexpr double kDefaultLayerHeight = 0.05;

struct SlicerProfile {
    QStringList settingLines; // every line holding "=", in file order
    double layerHeight = kDefaultLayerHeight;
    bool layerHeightGiven = false; // a usable layer_height line was found
};

// Parses profile text (already decoded).
SlicerProfile parseSlicerProfile(const QString& text);

// Reads the profile at path (text in the system's local encoding). False and
// *error set to the file's error text when it cannot be read.
bool readSlicerProfile(const QString& path, SlicerProfile* out, QString* error);

// The slicer's arguments: "slice", "-v", "-j", definition, then "-s" and the
// line for each setting line, then "-o", gcodePath, "-e0", "-l", stlPath. The
// extruder number is part of "-e0": the slicer aborts on a bare "-e".
QStringList slicerArguments(const QString& definitionPath, const QStringList& settingLines,
                            const QString& gcodePath, const QString& stlPath);

} // namespace gcodeexport
