#pragma once
// What reading a file into a mesh came to. The file readers return these
// values; the object's import and the scene act on them.
namespace topolib {

enum class LoadResult : int {
    Failure = 0,         // no reader for the path, or the file could not be read (its notes say why)
    Success = 1,         // the mesh holds the file's geometry
    NotEnoughMemory = 4, // the memory check refused the mesh
    Cancelled = 5,       // the caller's cancel flag stopped the read; the mesh is released
};

} // namespace topolib
