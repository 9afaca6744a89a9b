#pragma once

#include "topolib/RecordArena.h"
#include "topolib/Vector3D.h"

#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

class ProgressMonitor;

namespace topolib {

class MeshOctree;
class StlObject;
class StlTriangle;

// The octree of a mesh file built on threads of its own while the import goes
// on with the edges and shells (see StlObject::SideWork): start it once the
// weld has made the vertices and triangle corners final, join it before the
// import returns or releases the mesh, and publish the tree when the import
// succeeded. The build reads only the box, the vertices' positions and the
// triangles' corners and normals, which the edge and shell steps never write,
// and files the triangles that MeshOctree::filedByShape takes: those the edge
// step keeps (it deletes the ones with two corners welded into one, and the
// reader those without a normal). Before the tree is published that is
// checked against the triangles' deleted flags. The tree is the one
// buildOctree makes for the mesh after the import.
class OctreeBeside {
public:
    // Meshes of fewer triangles are built at once, on the calling thread.
    static constexpr std::size_t kBesideFrom = 4096;

    // Starts the build (nothing when the box is too small for a tree or memory
    // runs out; the whole build for a mesh below kBesideFrom triangles). A
    // stop asked by `stop` (may be null; the import's monitor, which must
    // outlive the build) ends the build within a few thousand records; the
    // tree is then not published.
    explicit OctreeBeside(const StlObject& mesh, const ProgressMonitor* stop = nullptr);
    ~OctreeBeside(); // joins
    OctreeBeside(const OctreeBeside&) = delete;
    OctreeBeside& operator=(const OctreeBeside&) = delete;

    void join();
    // After join: makes the tree the mesh's octree (with its cube and cell size)
    // when it was complete and its triangles are still exactly the mesh's live
    // ones; true then. Otherwise the mesh is left as it was.
    bool publish(StlObject& mesh);

private:
    std::size_t triangles_ = 0; // the mesh's triangle count when the build started
    unsigned threads_ = 1;
    std::shared_ptr<MeshOctree> tree_;
    Vector3D origin_;
    double diagonal_ = 0.0;
    double minCell_ = 0.0;
    bool built_ = false;
    std::thread thread_;
};

} // namespace topolib
