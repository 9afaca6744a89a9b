#include "fileIo/MeshFileLoad.h"

#include "fileIo/FileHandlingFactory.h"

#include "app/Log.h"

#include <utility>

namespace fileIo {

topolib::LoadResult MeshFileRead::read(topolib::StlObject& target, const std::wstring& path,
                                       const ProgressMonitor* progress) {
    auto handler = FileHandlingFactory::instance()->createForFile(path, &target);
    if (handler)
        handler->setProgressSink(progress);
    const int result = handler ? handler->load() : kFailure;
    failure_ = handler ? handler->lastFailure() : ReadFailure::NoHandler;
    notes_ = handler ? handler->loadNotes() : std::vector<std::string>();
    for (const std::string& note : notes_) {
        logText("READ NOTE: ", false);
        logString(note, true);
    }
    if (result == kCancelled) {
        logText("READ CANCELLED: ", false);
        logWString(path);
    } else if (result != kSuccess) {
        logText("READ FAILED (", false);
        logText(readFailureText(failure_), false);
        logText("): ", false);
        logWString(path);
    }
    return static_cast<topolib::LoadResult>(result);
}

LoadOutcome loadMeshFile(topolib::StlObject& mesh, const std::wstring& path, const LoadOptions& options) {
    MeshFileRead plain;
    MeshFileRead& read = options.read ? *options.read : plain;
    LoadOutcome outcome;
    outcome.result = mesh.loadFromFile(path, read, options.progress, options.beside);
    outcome.failure = read.failure();
    outcome.notes = std::move(read.notes());
    return outcome;
}

} // namespace fileIo
