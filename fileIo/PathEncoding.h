#pragma once
// The one place where a wide path becomes the byte path the system opens,
// and back. Wide texts are UTF-32 on this platform. Names that are valid in
// the local 8-bit encoding go through QFile's file-name encoding, so
// non-ASCII names open as they are shown. A byte that does not decode (a
// Latin-1 "W\xfcrfel.stl" under a UTF-8 locale) becomes the lone surrogate
// U+DC00 + byte and turns back into that byte, so that every name the system
// hands out opens again without loss.

#include <string>

namespace fileIo {

std::string encodePath(const std::wstring& path);
std::wstring decodePath(const std::string& bytes);

} // namespace fileIo
