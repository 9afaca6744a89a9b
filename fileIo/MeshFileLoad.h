#pragma once
// Loading a mesh file into a mesh: the handler for the path reads it, the
// mesh builds its edges and shells (StlObject::loadFromFile). What the load
// came to is returned as a value.

#include "fileIo/ReadCheck.h"
#include "topolib/MeshFileReader.h"
#include "topolib/StlObject.h"

#include <atomic>
#include <string>
#include <vector>

class ProgressMonitor;

namespace fileIo {

// One read through the file handlers (FileHandlingFactory), handed to
// StlObject::loadFromFile; afterwards it tells why the read failed and what
// the user should be told. One object per load, used by one thread.
class MeshFileRead : public topolib::MeshFileReader {
public:
    // Picks the handler for the path's type and runs its load on `target`;
    // Failure when no handler fits. Failures and notes are also logged.
    topolib::LoadResult read(topolib::StlObject& target, const std::wstring& path,
                             const ProgressMonitor* progress) override;
    // Why the read failed; None after a success.
    ReadFailure failure() const { return failure_; }
    // What the read found that the user should be told (FileHandling::loadNotes).
    std::vector<std::string>& notes() { return notes_; }

private:
    ReadFailure failure_ = ReadFailure::None;
    std::vector<std::string> notes_;
};

// What loading a file came to.
struct LoadOutcome {
    topolib::LoadResult result = topolib::LoadResult::Failure;
    // Why the read failed (None after a success, and when only the edge or
    // shell step was cancelled).
    ReadFailure failure = ReadFailure::None;
    // What the user should be told, in the order found (see FileHandling::loadNotes).
    std::vector<std::string> notes;
};

struct LoadOptions {
    const ProgressMonitor* progress = nullptr;            // null: the progress dialog; its stop ends the load
    const topolib::StlObject::SideWork* beside = nullptr; // see StlObject::loadFromFile
    MeshFileRead* read = nullptr;                         // null: a plain read through the handlers
};

// Loads the file at `path` into the empty `mesh` (StlObject::loadFromFile
// with a MeshFileRead) and returns what it came to.
LoadOutcome loadMeshFile(topolib::StlObject& mesh, const std::wstring& path, const LoadOptions& options = {});

} // namespace fileIo
