#pragma once
// Text <-> number conversions in the one format project and parameter files
// store: C notation (a point as decimal separator, no grouping) whatever the
// process locale, 6 significant digits for floating-point values, lists
// joined by ";", booleans "true" and "false".
#include <QString>
#include <string>

// Text to value: a blank text stores 0; otherwise the longest number prefix
// of the text (after leading white space) is stored and anything after it is
// ignored. Return true when a number was read (or the text was blank); on
// failure 0 is stored.
bool qstringToUShort(const QString& text, unsigned short* out);
bool qstringToInt(const QString& text, int* out);
bool qstringToUInt(const QString& text, unsigned int* out);
bool qstringToFloat(const QString& text, float* out);
bool qstringToDouble(const QString& text, double* out);
// "true"/"1" store true, "false"/"0" store false, a blank text stores false;
// any other text (case-sensitive, untrimmed) returns false and leaves *out.
bool qstringToBool(const QString& text, bool* out);

// Value to text: 2.0 -> "2", 1234567.0 -> "1.23457e+06", 0.00001 -> "1e-05".
QString intToQString(int value);
QString uintToQString(unsigned int value);
QString floatToQString(float value);
QString doubleToQString(double value);
QString boolToQString(bool value);

// The first count values joined by ";" (count >= 1): {3, 4, 5} -> "3;4;5".
QString joinInts(const int* values, unsigned int count);
QString joinFloats(const float* values, unsigned int count);
QString joinDoubles(const double* values, unsigned int count);

// Splits text at ";" (empty parts skipped) and converts the first count
// parts into out. Returns count on success. With fewer parts than count,
// writes nothing and returns 0. When a part is no number, 0 is written for
// it, the later outputs are left as they were, and 0 is returned.
unsigned int splitToInts(const QString& text, int* out, unsigned int count);
unsigned int splitToFloats(const QString& text, float* out, unsigned int count);
unsigned int splitToDoubles(const QString& text, double* out, unsigned int count);

// A wide progress text as QString. The one-character text U+0000 becomes
// NUL_STRING (the "keep the text" marker); any other text is converted up to
// its first U+0000.
QString wstringToQString(const std::wstring& text);
