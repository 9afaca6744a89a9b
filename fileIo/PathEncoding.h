#pragma once
// The one place where a wide path becomes the byte path the system opens,
// and back. Wide texts are UTF-32 on this platform. Names that are valid in
// the local 8-bit encoding go through QFile's file-name encoding, so
// non-ASCII names open as they are shown. A byte that does not decode (a
// Latin-1 "W\xfcrfel.stl" under a UTF-8 locale) becomes the lone surrogate
// U+DC00 + byte and turns back into that byte, so that every name the system
// hands out opens again without loss.

#include <QString>

#include <string>

namespace fileIo {

std::string encodePath(const std::wstring& path);
std::wstring decodePath(const std::string& bytes);

// A path between Qt text (UTF-16) and a wide path without loss: an escaped
// byte stays its lone surrogate both ways (QString::toStdWString would turn
// it into U+FFFD, a name that opens nothing). Every QString path bound for
// the file layer goes through pathFromQString.
QString pathToQString(const std::wstring& path);
std::wstring pathFromQString(const QString& path);
// The path of a command-line argument or other byte name as Qt text.
QString pathToQString(const std::string& bytes);

} // namespace fileIo
