#pragma once
// Writes the scene into a project archive and reads one back into an empty
// scene. One instance (instance()); GUI thread only, synchronous, progress
// through the global progress report.
//
// Archive: "VlrProDesc.xml" (view and object records), "ObjGeo/<n>.vsg" (the
// n-th object's mesh in the geometry format), "Support/<n>.xml" (its supports,
// only for objects that have support regions). n counts the saved objects
// from 0 in list order, which is their id.
#include "project/IoError.h"
#include "project/ProjectDescriptor.h"
#include "scene/CameraState.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <set>

class ObjectTable;
class ProgressSink;

namespace project {
class ProjectArchiveWriter;
struct ProjectContents;
}
namespace topolib {
class StlObject;
}

class VlrProjectFileHandling : public QObject {
    Q_OBJECT
public:
    static VlrProjectFileHandling* instance();

    // How projects reach the view's camera, without knowing it: current gives
    // its state for a save and before an open (parts a project lacks keep
    // it), apply sets the state an open read and repaints. Give both, or
    // neither to detach the view; without one (tools, tests) the state last
    // read or taken here stands in.
    void setView(std::function<CameraState()> current, std::function<void(const CameraState&)> apply);

    // Takes the view state from the view for the next save. Always true.
    bool saveGLInfo();

    // Writes every loaded object of the scene to path (replaced only when the
    // whole archive was written; see ProjectArchiveWriter). 0 on success; 2
    // the file cannot be written or put in place (lastReason() says why); 3
    // archive or entry cannot be created, written or closed (a failed support
    // entry included), 4 the descriptor failed, 7 a geometry entry failed, 8
    // an exception.
    IO_ERROR save(const QString& path);
    // save through a writer the caller made for the target path (one that
    // refuses some entries, for a test).
    IO_ERROR save(project::ProjectArchiveWriter& writer);

    // Reads the archive at path into table, which the caller has emptied.
    // loadProjectType other than 0 loads nothing. Every check runs before the
    // first object reaches the table; on failure no object was added and
    // every object built was freed (codes in ProjectArchiveReader.h; 8 also
    // when the descriptor has no view state; 5 also when an allocation or a
    // worker's start fails anywhere). The view state is applied last. An
    // object beyond the coordinate limit (from a file the program did not
    // write) is left out and the others open: openNote() names it.
    IO_ERROR open(int loadProjectType, const QString& path, ObjectTable* table);

    // The last save failure's detail, for the log.
    const QString& lastError() const { return m_lastError; }
    // The reason of the last failed save or open in the user's words
    // (translated); empty when there is none to tell.
    const QString& lastReason() const { return m_lastReason; }
    // What the last open that succeeded left out and how to keep it, in the
    // user's words (translated); empty when it opened everything.
    const QString& openNote() const { return m_openNote; }

private:
    VlrProjectFileHandling();
    ~VlrProjectFileHandling() override;

    // open's reading and finishing, which may throw on a lack of memory.
    IO_ERROR readAndFinish(const QString& path, ObjectTable* table, const ProgressSink& progress);
    // building: the meshes whose octree build was started while reading.
    IO_ERROR finishLoad(project::ProjectContents& contents, ObjectTable* table,
                        const std::set<const topolib::StlObject*>& building);
    void applyGLInfo(const project::ProjectDescriptor& d);

    QString m_docVersion;
    project::ProjectGLInfo m_glInfo;
    std::function<CameraState()> m_currentView;
    std::function<void(const CameraState&)> m_applyView;
    QString m_lastError;
    QString m_lastReason;
    QString m_openNote;
};
