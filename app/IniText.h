#pragma once
// The text of a settings file in the INI layout of QSettings (its native format
// on this platform), so that a file written here reads back through QSettings
// and through older versions of the program. Keys with a "/" go to the section
// named by their first part; the others to "[General]".
#include <QByteArray>
#include <QVariantMap>

// values as QSettings writes them: sections and keys sorted, each value in
// QSettings' text form (strings escaped, lists joined by ", ", "@Size(w h)",
// "@Point(x y)", "@Rect(x y w h)", "@ByteArray(...)", "@Invalid()", other
// types as "@Variant(...)").
QByteArray iniText(const QVariantMap& values);
