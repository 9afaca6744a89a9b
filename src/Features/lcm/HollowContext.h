#pragma once
// The hollowing driver: the state behind the hollowing panel (the object being
// hollowed, the stock of its last preview, the drain hole being placed and the
// committed ones), the preview, and the final step that joins the inner surface
// to the mesh as a second, inward-facing shell and cuts the drain holes.
//
// It works on a plain topolib::StlObject; the scene object derives from it. All
// of it runs on the calling (GUI) thread; the stock parallelises internally.
// Failures never leave a half-built stock: a preview that stops (wall does not
// fit, degenerate mesh, not enough memory, broken internal invariant) leaves an
// empty stock and a message for the user. applyHollow changes its model in
// place; hollowedCopy applies it to a copy with the one rule of when there is
// a result, and is what the panel, the tools and the tests call.

#include "src/Features/lcm/DrainHole.h"
#include "src/Features/lcm/HollowShells.h"
#include "src/Features/lcm/ZMapStock.h"
#include "topolib/StlObject.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lcm {

enum class HollowStatus {
    Ok,
    DegenerateMesh, // no surface to work on (no triangles, zero edges, unusable cell)
    WallDoesNotFit, // 2.1 thickness above the smallest extent: no inner shell
    OutOfMemory,
    InternalError,
    Stopped, // the progress monitor asked to stop; no message
};

// The cell size chosen for a model: from the triangle count and the average edge
// length, the density (0 coarse .. 100 fine), the extents and the thickness.
// The cell is lowered to what the wall needs to come out as thick as asked
// (kCellsPerWall cells across it), but never below the finest cell for the
// model's size (the longest extent / kFinestCellsPerSide), which bounds the
// grid's memory and time for any model. A wall thinner than that cell allows
// (thinnestWall) cannot be made: wall is then the thinnest wall, the one the
// stock erodes. wallFits is false when 2.1 × wall exceeds the smallest extent
// (the cell is then not computed further); cell is 0 for degenerate input.
struct CellChoice {
    double cell = 0.0;
    bool wallFits = true;
    double wall = 0.0;         // the wall made: the thickness asked, or thinnestWall when above it
    double thinnestWall = 0.0; // the thinnest wall the grid can make for these extents
};
constexpr double kCellsPerWall = 4.0;
constexpr double kFinestCellsPerSide = 400.0;
CellChoice chooseHollowCellSize(double averageEdge, std::size_t triangleCount, const double extents[3],
                                double thickness, int density);
// The thinnest wall the hollowing can make for a model of these extents (mm).
double thinnestHollowWall(const double extents[3]);
// The same for a model, from its bounding box.
double thinnestHollowWall(const topolib::StlObject& model);
// What the user is told when the wall asked is thinner than the thinnest wall
// the hollowing can make (both in mm).
std::string thinWallNotice(double asked, double made);

// Milliseconds of the steps of the last preview and application.
struct HollowTimings {
    double stock = 0.0;   // shell roles, cell size, grid set-up, rasterising, segments, merging
    double offset = 0.0;  // wire cuts and erosion
    double mesh = 0.0;    // triangulation of the inner surface
    double assemble = 0.0; // orienting the model, joining the inner surface to it, area and volume
    double holes = 0.0;   // cutting the drain holes
    double copy = 0.0;    // copying the model that receives the hollow (hollowedCopy)
};

class HollowContext {
public:
    HollowContext();
    ~HollowContext();
    HollowContext(const HollowContext&) = delete;
    HollowContext& operator=(const HollowContext&) = delete;

    // The object previewed or changed; not owned.
    void setModel(topolib::StlObject* model) { m_model = model; }
    topolib::StlObject* model() const { return m_model; }
    // Worker threads of the stock (0: every core); the result never depends on it.
    void setThreadCount(unsigned n) { m_threads = n; }

    // Builds a new stock for the model: cell size by the density, rasterising of
    // the material the shells bound together (hollowShellRoles: cavities and
    // inner shells of an earlier hollowing left out, shells wound inside out
    // read the other way round), erosion by the thickness and triangulation.
    // Reports its stage and progress to progress and always ends it; stops
    // between steps when progress asks (Stopped). On failure the stock is
    // empty and message() says why.
    HollowStatus createPreview(double thickness, int density,
                               const ProgressMonitor& progress = ProgressMonitor::silent());
    // What the last preview returned (DegenerateMesh before the first).
    HollowStatus previewStatus() const { return m_previewStatus; }
    const ZMapStock* stock() const { return m_stock.get(); }
    // The inner surface of the last preview; null without a stock.
    const ZMapSurface* previewSurface() const;
    // The records that joining that surface appends to a model (none without
    // a stock): the room a copy made for the hollowing keeps for them.
    topolib::AppendRoom innerSurfaceRoom() const;
    double thickness() const { return m_thickness; }
    int density() const { return m_density; }
    // The wall the last preview made: the thickness asked, or the thinnest
    // wall the grid can make for the model when that is thicker (0 before a
    // preview or when no wall was made).
    double wallMade() const { return m_wallMade; }

    // ---- Drain holes ---------------------------------------------------------
    // Creates the pending hole when there is none, sets its values, computes
    // its frame and builds its mesh. radius is the radius (half the panel's size).
    // A non-finite value or a radius not above zero places nothing (the
    // pending hole is dropped).
    void setPendingHole(const double position[3], const double direction[3], double radius, double length,
                        double taper);
    DrainHole* pendingHole() const { return m_pending.get(); }
    // Logs the pending hole and moves it to the committed holes; nothing without one.
    void commitPendingHole();
    // Forgets the pending hole (the cursor left the model); committed holes stay.
    void dropPendingHole() { m_pending.reset(); }
    // Deletes committed hole `index`; false when out of range.
    bool removeHole(int index);
    // Every committed hole (not the pending one) gets the radius or taper and
    // a new mesh.
    void setHolesRadius(double radius);
    void setHolesTaper(double taper);
    const std::vector<std::unique_ptr<DrainHole>>& holes() const { return m_holes; }

    // ---- Applying --------------------------------------------------------------
    // Makes the copy of the model that receives the hollow, keeping `room` in
    // its arrays for the records the hollowing appends (copyMeshForHollowing,
    // or the scene object's own clone). May throw std::bad_alloc.
    using CopyMaker = std::function<std::unique_ptr<topolib::StlObject>(const topolib::StlObject& model,
                                                                        const topolib::AppendRoom& room)>;
    // The hollowing itself, whoever asks for it: the last preview and the
    // committed holes applied to a copy of the model (applyHollow with the
    // model as copiedFrom); the model is left as it was and stays the model.
    // The copy comes back with the state of a new mesh (modified, no walk or
    // vertex marks, its z-slab index to be rebuilt) and an octree only when
    // holes were cut.
    // Null, with message() saying why unless the user stopped the preview,
    // when the preview ran out of memory, failed or was stopped, the copy
    // could not be made, the application failed, or the copy would be no
    // different from the model (no inner shell made, no hole cut). status
    // (may be null) gets the preview's status when there is a copy, else the
    // reason there is none (WallDoesNotFit when nothing changed after a
    // preview that went through). warnings() lists what the user must know
    // either way.
    std::unique_ptr<topolib::StlObject> hollowedCopy(const CopyMaker& makeCopy, HollowStatus* status);

    // Turns the model's closed inside-out shells outward, then assembleShell
    // and createHoles, on the model; then the model's area and volume are
    // recomputed. Ok also when the wall did not fit (no inner shell;
    // holes are still cut): message() tells. OutOfMemory / InternalError leave
    // the model in an unusable state: apply to a copy. Without committed holes
    // the model's octree is dropped (the caller builds the result's tree when
    // it needs one); holes keep it, with the new shell filed in.
    // copiedFrom, when given, is the mesh that the model is a fresh copy of
    // (copyMeshForHollowing with innerSurfaceRoom): a failed drain-hole cut
    // then makes the model again from it, so that no cut needs a copy of the
    // whole model beside it. Either way a failed cut leaves the model hollow
    // without holes, with a warning.
    HollowStatus applyHollow(const topolib::StlObject* copiedFrom = nullptr);
    // Removes the cavities and the inner shells of an earlier hollowing, then
    // joins the stock's surface to the model as a new inner shell (at the
    // front of its shell list, marked as a hollow shell). False when there is
    // no surface (the model is then unchanged).
    bool assembleShell();
    // Cuts the committed holes whose cut opens the hollow inside (the tool
    // crosses an inner shell and the outer surface); the others are named in
    // a warning by their place in the list. Holes are made at least as long
    // as the wall made. When the holes cannot be cut together, each is cut on
    // its own, and those that fail are named. Returns the number of warnings
    // (also logged). copiedFrom as for applyHollow.
    int createHoles(const topolib::StlObject* copiedFrom = nullptr);
    // Steps allowed to the cut's crossing resolution of one triangle
    // (MeshBoolean::setCrossingStepBudget); 0, the default, for its own.
    void setCutStepBudget(std::size_t steps) { m_cutStepBudget = steps; }

    // The last message for the user (empty when there is nothing to say), and
    // the warnings of the last application (one line each): holes that do
    // not reach the cavity or could not be cut, and the cavities left
    // without an exit (they trap resin).
    const std::string& message() const { return m_message; }
    const std::vector<std::string>& warnings() const { return m_warnings; }
    const HollowTimings& timings() const { return m_timings; }
    std::size_t innerTriangleCount() const { return m_innerTriangles; }
    // The volumes of the cavities the last application left without an exit.
    const std::vector<double>& sealedCavities() const { return m_cavityVolumes; }

private:
    // assembleShell with the model's shell measures when the caller has them.
    bool assembleShell(const std::vector<ShellMeasure>* measures);
    // applyHollow's steps before the holes: the model's closed inside-out
    // shells turned outward, its octree dropped unless the holes keep it,
    // then assembleShell. orientMs gets the time before assembleShell.
    bool joinInnerShell(double* orientMs);
    // After a cut that failed without a copy of the model: the model's mesh
    // as it was before the cut, made again from the mesh it was copied from.
    void remakeModel(const topolib::StlObject& source);
    HollowStatus fail(HollowStatus status, const std::string& message, const char* why);
    // createPreview's work; createPreview keeps what it returns.
    HollowStatus buildPreview(double thickness, int density, const ProgressMonitor& progress);

    topolib::StlObject* m_model = nullptr;
    std::unique_ptr<ZMapStock> m_stock;
    std::unique_ptr<DrainHole> m_pending;
    std::vector<std::unique_ptr<DrainHole>> m_holes;
    unsigned m_threads = 0;
    HollowStatus m_previewStatus = HollowStatus::DegenerateMesh;
    double m_thickness = 0.0;
    double m_wallMade = 0.0;
    int m_density = 0;
    std::string m_message;
    std::vector<std::string> m_warnings;
    HollowTimings m_timings;
    std::size_t m_innerTriangles = 0;
    bool m_holesCut = false;            // the last createHoles cut at least one hole
    std::vector<double> m_cavityVolumes; // sealed cavities of the last application (mm³)
    std::size_t m_cutStepBudget = 0;
};

// A copy of a mesh ready for hollowing: records, shells, edges and the
// source's octree, if it has one.
std::unique_ptr<topolib::StlObject> copyMeshForHollowing(const topolib::StlObject& source,
                                                          const topolib::AppendRoom& room = {});

// A drain hole as the user places it: the clicked point, the direction into the
// object, the size (a diameter) and the taper.
struct DrainHoleSpec {
    double position[3];
    double direction[3];
    double size;
    double taper;
};

// The whole hollowing of a mesh without a scene, as the hollowing panel's Ok
// makes it: preview on the source, the holes committed (each as long as the
// thickness), then HollowContext::hollowedCopy with copyMeshForHollowing.
// The context is the caller's, to be inspected afterwards; its model is the
// source again when this returns.
std::unique_ptr<topolib::StlObject> hollowedCopy(HollowContext& context, topolib::StlObject& source,
                                                 double thickness, int density,
                                                 const std::vector<DrainHoleSpec>& holes, HollowStatus* status);

} // namespace lcm
