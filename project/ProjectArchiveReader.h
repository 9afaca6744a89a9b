#pragma once
// Reads a project archive into plain values and new meshes, checking it
// strictly before anything reaches the scene:
// - geometry entries are exactly the names "ObjGeo/<digits>.vsg" (extension
//   in any case); any other ".vsg" name under "ObjGeo/" and a number given
//   twice fail the open;
// - "VlrProDesc.xml" must be there once;
// - every entry is read to its end and closed, so a CRC error is seen;
// - the counts of a geometry entry are checked against the entry's
//   uncompressed size and the memory check before its mesh is built; a mesh
//   with a position that is not finite is refused, and its bounding box is
//   computed from its vertices rather than taken from the entry;
// - the object numbers must be 0 .. n-1 for the n descriptor records.
// Entry names are only matched, never used as paths.
#include "app/ProgressReport.h"
#include "project/IoError.h"
#include "project/ProjectDescriptor.h"
#include "project/SupportEntry.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace topolib {
class StlObject;
}

namespace project {

struct ProjectContents {
    ProjectDescriptor descriptor;
    // meshes[r] is the object numbered r, which takes descriptor record r.
    std::vector<std::unique_ptr<topolib::StlObject>> meshes;
    // The support entries by object number, checked against the object's
    // mesh; entries for no object are passed over unread.
    std::map<int, SupportRecord> supports;
    // Why a support entry was refused, in the user's words (empty otherwise).
    std::string refusal;
};

// Makes the empty mesh a geometry entry is read into (the scene's object).
using MeshFactory = std::function<std::unique_ptr<topolib::StlObject>()>;
// Called for a mesh while its entry is read, once its vertices, triangles and
// box are final (see VGeoFileHandling::onTrianglesReady): it may start work
// on the mesh on another thread (the octree build) that must end before the
// mesh is used or freed; the mesh may still be refused afterwards.
using MeshReadyFunction = std::function<void(topolib::StlObject& mesh)>;

// Reads the archive at path. Returns IO_SUCCESS with out filled, or the
// failure (every mesh made so far freed): 2 path is not a regular file (a
// pipe is never waited for); 3 the archive or an entry cannot be
// opened, read or closed (CRC); 4 a malformed descriptor, or an XML entry
// beyond what the program writes (see readDescriptor, readSupportEntry); 5
// the memory check refused the descriptor's objects or a geometry entry, or
// an allocation failed while reading; 6 a geometry entry holds no valid mesh; 8 bad or
// repeated entry names, a missing descriptor, numbers that do not match the
// records. progress hears the share of the geometry entries read so far (by
// their triangles, 0..1), after each entry.
IO_ERROR readProjectArchive(const QString& path, const MeshFactory& makeMesh, ProjectContents& out,
                            const ProgressMonitor& progress = ProgressMonitor::silent(),
                            const MeshReadyFunction& meshReady = {});

// The same for an archive held by a device (not opened yet; not owned).
IO_ERROR readProjectArchive(QIODevice* device, const MeshFactory& makeMesh, ProjectContents& out);

// The limits a support entry of mesh is checked against.
MeshLimits meshLimits(const topolib::StlObject& mesh);

// Memory an object takes in the scene beside its records (kBytesPerTriangle
// per triangle of the geometry format, 96 bytes per vertex): the object with
// its workers and lists, its octree and the record pools' rounding. A scene
// of 20,000 twelve-triangle cubes takes about 9.4 KB per object in all.
constexpr uint64_t kObjectBytes = 8 << 10;

// Memory one support cone takes once built (its meshes, bars and links; an
// open of 50,000 cones peaks at about 23.5 KiB per cone): the memory check is
// asked for this per cone before the cones of a project are built.
constexpr uint64_t kConeMeshBytes = 24 << 10;

// The number of an entry name "<folder>/<digits><extension>" (extension case
// ignored); -1 when the name has another form or the number exceeds the int range.
int entryNumber(const QString& name, const QString& folder, const QString& extension);

} // namespace project
