#pragma once
// Why a mesh file could not be read, and the checks made before a file is
// opened for reading. Only regular files are opened: a FIFO without a writer
// would block the open for ever, and a device has no end.

#include <cstdint>
#include <fstream>
#include <string>

namespace fileIo {

enum class ReadFailure {
    None,
    Missing,     // no such file (or a folder on the way is missing)
    NotReadable, // permissions, or the open failed otherwise
    NotRegular,  // a folder, pipe, device or socket
    Empty,       // zero bytes
    NotMeshFile, // the content is not of the file's type
    TooLarge,    // the memory check refused the mesh
    NoHandler,   // no reader for the file's extension
    Cancelled,   // the caller stopped the read
    NotFinite,   // a vertex position is not a finite number
};

// The reason in words, for the log and for tools: "missing", "not readable",
// "not a regular file", "empty", "not a mesh file of its type", "too large for
// the available memory", "no reader for this file type", "cancelled", "a
// vertex position is not finite"; "" for None.
const char* readFailureText(ReadFailure failure);

// Checks that path names an existing, regular, non-empty file that this
// process may open for reading (it is opened and closed once).
ReadFailure checkReadableFile(const std::wstring& path);

// Opens path for binary reading when it names a regular file; false (and
// `in` left closed) otherwise, so that a pipe never blocks the caller.
bool openRegularFile(std::ifstream& in, const std::wstring& path);

// Opens path for reading only when it is itself a regular file: not a link
// (to a device, a pipe or anything else), a pipe, a device or a folder. Never
// blocks. Returns the descriptor (the caller closes it) and sets *size to the
// file's size at the open; -1 with *failure (Missing, NotReadable or
// NotRegular) otherwise.
int openRegularFileNoLink(const std::wstring& path, int64_t* size, ReadFailure* failure);

} // namespace fileIo
