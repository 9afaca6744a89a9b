#pragma once
// The one place where a wide path becomes the byte path the C++ streams
// open: wide texts are UTF-32 on this platform and go through QFile's
// file-name encoding, so non-ASCII names open as they are shown.

#include <string>

namespace fileIo {

std::string encodePath(const std::wstring& path);

} // namespace fileIo
