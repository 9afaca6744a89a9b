#pragma once

#include "app/ProgressReport.h"
#include "support/AbtShape.h"
#include "support/RegionGrid.h"
#include "support/ShapeGrid.h"
#include "support/SupportArea.h"
#include "support/SupportTypes.h"
#include "topolib/Vector3D.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace topolib {
class StlEdge;
class StlObject;
class StlTriangle;
class StlVertex;
} // namespace topolib

namespace support {

class ColumnLink;
class ConeShape;
class ShapeMemoryCheck;

// Everything that supports one object: the parameters, the support regions with
// their cones, links and bars, the shape grid, the raft, the user's pending
// support point and the state of the render buffer the view draws from.
//
// The mesh analysed is the owner's (not owned). Everything runs on the GUI
// thread; the owner's octree must not be rebuilt while a container works on it.
//
// Shapes stay valid for the container's life: links and bars that a rebuild or a
// trim destroys, and the shapes of regions that are re-placed or cleared, are
// retired (their meshes freed) and deleted only with the container, because undo
// commands may still name them.
class SupportGen {
public:
    // The object's container (MaxAngle 46, minArea 5).
    explicit SupportGen(topolib::StlObject* owner);
    // The project reader's container: no owner yet, MaxAngle 40, minArea 8.
    SupportGen();
    SupportGen(const SupportGen&) = delete;
    SupportGen& operator=(const SupportGen&) = delete;
    // Frees grid, pending point, regions (with their shapes), retired shapes and the
    // raft. Holds no GL name: the drawing keeps those and frees them once the
    // container is gone.
    ~SupportGen();

    // ---- Parameters (plain fields below; these are conveniences) --------------
    // Stores the type for cones made later; with regenerate, rebuilds every mesh.
    void setSupportType(SupportType type, bool regenerate);
    // Marks every cone (a circular base or none), stores the type;
    // with regenerate, rebuilds every mesh and the raft.
    void setBaseType(BaseType type, bool regenerate);
    SupportType getSupportType() const { return supportType; }
    BaseType getBaseType() const { return baseType; }
    void setTipRadius(double v) { tipRadius = v; }
    void setTrunkRadius(double v) { trunkRadius = v; }
    void setBranchRadius(double v) { branchRadius = v; }
    void setHeadExtend(double v) { HeadExtend = v; }
    void setDensity(double v) { Density = v; }
    void setMaxAngle(double v) { MaxAngle = v; }
    void setBaseThickness(double v) { BaseThickness = v; }
    void setBaseSize(double v) { baseSize = v; }
    void setRemoveInternal(bool on) { RemoveInternal = on ? 1 : 0; }
    double getTipRadius() const { return tipRadius; }
    double getTrunkRadius() const { return trunkRadius; }
    double getBranchRadius() const { return branchRadius; }
    double getHeadExtend() const { return HeadExtend; }
    double getDensity() const { return Density; }
    double getMaxAngle() const { return MaxAngle; }
    double getBaseThickness() const { return BaseThickness; }
    double getBaseSize() const { return baseSize; }
    bool getRemoveInternal() const { return RemoveInternal != 0; }

    // ---- Regions -------------------------------------------------------------
    // Appends area and makes this container its owner (project reader).
    void addArea(SupportAreaAbs* area);
    std::size_t areaCount() const { return areas.size(); }
    SupportAreaAbs* areaAt(std::size_t i) const { return i < areas.size() ? areas[i] : nullptr; }
    topolib::StlObject* mesh() const { return owner; }

    // ---- Generation ----------------------------------------------------------
    // Why the last generate returned false.
    enum class Failure {
        None,
        NoSurface,    // no owner, or its octree is being built
        TooManyCones, // the placement would exceed kMaxPlannedCones
        OutOfMemory,  // an allocation failed on the way
        Stopped,      // the progress monitor asked to stop before placing
    };
    // Most cones one placement may make: a larger plannedConeCount is refused.
    // A cone with its mesh and bars costs some 15 to 35 kB, so this is already
    // tens of gigabytes; a model that fits a printer stays far below it (a
    // region 500 mm square at the finest 1 mm spacing plans about 251,000). A
    // model a metre wide at that spacing, or many metres wide at the usual 5 mm
    // (a file in the wrong unit), reaches it and would otherwise allocate until
    // the process dies.
    static constexpr std::uint64_t kMaxPlannedCones = std::uint64_t(1) << 20;

    // A container without regions detects them and builds the supports; one with
    // regions re-places them with the current parameters. The raft follows; then
    // changed := 1; true. The owner's group fields should be reset to none before
    // a first generation. On false, failure() says why:
    // - NoSurface: nothing changed.
    // - TooManyCones: refused before any cone was made. A first generation keeps
    //   no region and resets the owner's groups; regions that were there keep
    //   their supports. refusedConeCount() gives the plan that was refused.
    // - OutOfMemory: the container is cleared (as clear()) when that is still
    //   possible, else keeps whole regions whose shapes may lack meshes; the
    //   owner's groups are reset. Never throws std::bad_alloc.
    // - Stopped: progress asked to stop before the cones were placed; as
    //   TooManyCones, nothing was placed or retired.
    // progress hears the share done (0.2 once overhangs are found, up to 1).
    bool generate(const ProgressMonitor& progress = ProgressMonitor::silent());
    Failure failure() const { return m_failure; }
    // Closed shells of the owner's mesh that the last generation found wound
    // inside out and turned outward before it looked at the normals (a first
    // generation only; 0 otherwise).
    int turnedShellCount() const { return m_turnedShells; }
    // What the user reads when shells were turned (empty when none were).
    std::string turnedShellText() const;
    // What the user reads before supports are generated for a mesh that is not
    // closed (its edges without exactly two facets counted); empty for a
    // closed one.
    std::string openSurfaceText() const;
    // Whether the last generation found the owner's surface open: a cone whose
    // trunk runs where the surface closes round it (in through a missing face,
    // or hanging from a face wound the wrong way) is then deleted as one that
    // meets the model.
    bool surfaceOpen() const { return m_surfaceOpen; }
    std::uint64_t refusedConeCount() const { return m_refusedCones; }
    // What the user reads about the last failure (empty when there is none):
    // one or two sentences in English that say what was not done, why, and what
    // to change.
    std::string failureText() const;
    // The most cones placing every region with the current parameters could
    // make: each overhang region's grid points, each curve's spacings and one per
    // point. Needs no allocation; saturates instead of overflowing.
    std::uint64_t plannedConeCount() const;
    // Bytes the meshes of the live cones placed now and their bars will take
    // at most (ConeShape::barBound), as ShapeMemoryCheck counts them.
    std::uint64_t plannedMeshBytes() const;
    // The steps of generate, public for the project reader and tests.
    void detectOverhangs();
    void growOverhangRegion(topolib::StlTriangle* seed, double limit);
    void filterAreas();
    void findLowestCurves();
    void findLowestPoints();
    // Place the regions' cones and build them. False (failure() TooManyCones,
    // nothing placed or retired) when plannedConeCount exceeds kMaxPlannedCones.
    // Throws std::bad_alloc, before any mesh is made, when the memory check
    // refuses plannedMeshBytes.
    bool buildSupports(const ProgressMonitor& progress = ProgressMonitor::silent());
    bool rebuildSupports(const ProgressMonitor& progress = ProgressMonitor::silent());
    void buildGrid();
    void insertConesIntoGrid();
    // A local minimum of the owner's surface: a vertex, or a connected set of
    // vertices at one height (a horizontal edge chain or a flat patch), lower
    // than every vertex around it, facing down, above the platform and outside
    // the model, from which no lower place is reached without first climbing
    // kMinimumDepth. A print grows into such a place from nothing: it is an
    // island and needs a cone of its own.
    struct SurfaceMinimum {
        topolib::StlVertex* vertex = nullptr; // where its cone goes: the one nearest the middle
        double z = 0.0;
        std::vector<topolib::StlVertex*> plateau; // the vertices at its height, vertex among them
        std::vector<topolib::StlTriangle*> flat;  // the live triangles lying in it
    };
    // A basin shallower than this is rounding noise; any deeper one becomes an
    // island whenever a layer starts inside it, whatever the layer height.
    static constexpr double kMinimumDepth = 0.001; // mm
    // Every surface minimum of the owner's mesh, in vertex order. Leaves no
    // mark behind.
    std::vector<SurfaceMinimum> findSurfaceMinima() const;
    // A cone touches a minimum when its contact lies within 0.1 mm of the
    // minimum's height and within r (a tip radius) of one of its vertices, or
    // over one of its flat triangles.
    static bool touchesMinimum(const ConeShape& c, const SurfaceMinimum& m, double r);
    // Every minimum that no live cone touches gets a lowest-point region with
    // a cone at its vertex (inserted into the grid), unless a lowest-point
    // region holds that vertex already. Returns the number of regions added.
    int holdUntouchedMinima(const std::vector<SurfaceMinimum>& minima);
    // Thinning spares the cone of a lowest-point region at one of these
    // minima from a crowding cone that does not touch the minimum itself.
    void thinCrowdedCones(const std::vector<SurfaceMinimum>& spared);
    void thinCrowdedCones();
    // Joins the live cones to their neighbours in range: every cone proposes
    // the four that rank first from it (ColumnLink::rank), and the proposals
    // are taken shortest first while both cones hold fewer than four links.
    // The links depend only on where the live cones stand, never on the order
    // they were made in: generation, hand edits and a reopened project give
    // the same links, in the same order in every cone's list. Links that no
    // longer belong are retired; bars are left to the meshes.
    void linkNeighbourCones();
    // buildMesh of every shape of every region, with placementParams.
    void rebuildShapeMeshes();
    // The same, but every link keeps the very bars it has (those the user
    // deleted stay deleted): for a change that leaves the trunks where they
    // are (the cones' footing).
    void rebuildShapeMeshesKeepingBars();
    // Every cylinder cone (live or deleted) rebuilds its bars (after loading).
    void rebuildConeBars();
    // A new link of first (which carries its bars) to second, numbered after
    // every link made before; registered with neither cone.
    ColumnLink* makeLink(ConeShape* first, ConeShape* second);
    // Retires every region, the pending point and the raft; changed := 1. Should
    // the one allocation it needs fail, it throws std::bad_alloc and changes
    // nothing.
    void clear();

    // ---- Output --------------------------------------------------------------
    // Every region's shapes' triangles (each pair's bars once), then the raft: the
    // one list the render buffer and STL export are filled from.
    void appendAllTriangles(std::vector<topolib::StlTriangle*>& out) const;
    // Live shapes that support picking offers.
    void collectLiveShapes(ShapeDeque& out) const;
    // The pending point's triangles (the hover preview).
    void appendPendingTriangles(std::vector<topolib::StlTriangle*>& out) const;
    // Number of triangles appendAllTriangles gives.
    std::size_t supportTriangleCount() const;

    // ---- Raft ----------------------------------------------------------------
    // With the raft base type: a plate under the feet of all live platform cones, corners
    // lifted; otherwise (or without such cones) none.
    void buildBase();
    void clearBase();

    // ---- User points ---------------------------------------------------------
    // Shows (or, on a facet tilted more than 75 degrees from facing down, removes)
    // the pending cone at point on facet.
    void previewAddedPoint(topolib::StlTriangle* facet, const double point[3]);
    // Commits the pending point: links its cone to its neighbours, appends its
    // region and rebuilds the raft. Returns the committed region (the last of the
    // list); null when there is no pending point.
    SupportAreaAbs* linkCone();
    void clearAddedPoint();
    AddedPointSupport* pending() const { return pendingPoint; }
    // After a hand edit (a point committed, a support deleted): the links
    // become those linkNeighbourCones gives for the live cones now, and every
    // cone whose links changed makes its bars again. What changed is recorded
    // under key (one per edit) for setLinkEditCommitted.
    void relinkAfterEdit(const void* key);
    // Undo (committed false) and redo of the relink recorded under key: the
    // cones get back their link lists and bars of before (after) it, bit for
    // bit. Nothing once the cones were re-placed or cleared, or for a key
    // without a record.
    void setLinkEditCommitted(const void* key, bool committed);

    // ---- Render state (the drawing owns the GL names and calls) ---------------
    // The triangles no longer match what the drawing uploaded: it uploads them
    // again at its next draw (and clears changed).
    void markChanged() { changed = 1; }

    // ---- Shape lifetime --------------------------------------------------------
    // Takes a shape that its owner no longer lists: frees its mesh and keeps the
    // object until the container dies. A cone's links must be unregistered first.
    // Allocates nothing, so a step that fails on an allocation never leaves a
    // shape half retired.
    void retire(AbtShape* shape) noexcept;
    std::size_t retiredCount() const { return m_retiredCount; }

    // ---- Fields --------------------------------------------------------------
    topolib::StlObject* owner = nullptr;
    AddedPointSupport* pendingPoint = nullptr; // owned
    uint8_t changed = 1;                       // the drawing's upload no longer matches
    BaseType baseType = BaseType::None;
    uint8_t RemoveInternal = 0;
    double MaxAngle = 46.0;
    double minArea = 5.0;
    double Density = 5.0;
    double minTolerance = 0.35;
    SupportType supportType = SupportType::Cylinder;
    double tipRadius = 0.5;
    double trunkRadius = 1.0;
    double branchRadius = 0.6;
    double HeadExtend = 5.0;
    double BaseThickness = 1.0;
    double baseSize = 4.0;
    topolib::Vector3D boxMin;
    topolib::Vector3D boxMax;
    std::vector<SupportAreaAbs*> areas;           // owned, in order
    std::vector<topolib::StlVertex*> baseVertices; // raft records, owned
    std::vector<topolib::StlTriangle*> baseTriangles;
    // What the grid search of the last placement (generate, buildSupports,
    // rebuildSupports) cost; regions placed by hand add to it.
    GridSearchWork gridSearchWork;

    // The parameters every placement, link and mesh of this container runs
    // with, the one place that makes the fields usable: the spacing is Density,
    // at least 1 (5 when not finite); the tip radius the spacing rules count by
    // is |tipRadius| (0.5 when not finite); new cones take the fields as they
    // are.
    PlacementParams placementParams() const;

    // The check that pays for the records of this container's shapes and raft
    // while a generation or a project load makes them; null outside one. Set
    // by the check itself (ShapeMemoryCheck).
    ShapeMemoryCheck* shapeMemoryCheck() const { return m_shapeMemoryCheck; }
    void setShapeMemoryCheck(ShapeMemoryCheck* check) { m_shapeMemoryCheck = check; }

private:
    void rebuildShapeMeshes(const PlacementParams& params);
    bool placeAndBuild(const ProgressMonitor& progress, bool reset);
    // How far from a minimum a cone's contact may lie and still hold it.
    double minimumReach() const;
    bool runGeneration(const ProgressMonitor& progress);
    // After an allocation failed midway: clears the container if that is
    // possible, and the owner's groups.
    void dropAfterAllocationFailure() noexcept;
    // Every cone of every region in order (the gather order of the pipeline).
    std::vector<ConeShape*> gatherCones() const;
    void retireArea(SupportAreaAbs* area);

    // What a relink after a hand edit changed. While committed, the record
    // owns the links that went (bars intact); while undone, those it made.
    // otherBars holds, per link whose bars were made again, the bars of the
    // state not in force.
    struct LinkEdit {
        std::vector<std::pair<ConeShape*, std::vector<AbtShape*>>> before, after;
        std::vector<ColumnLink*> removed, made;
        std::vector<std::pair<ColumnLink*, std::vector<AbtShape*>>> otherBars;
        bool committed = true;
        uint64_t coneEpoch = 0;
    };
    // The live cones in the order of where they stand, and per cone the
    // indices of the cones it is linked to, in rank order.
    struct LinkPlan {
        std::vector<ConeShape*> cones;
        std::vector<std::vector<std::size_t>> partners;
    };
    LinkPlan linkPlan(const PlacementParams& params) const;
    void applyLinks(LinkEdit* edit, const PlacementParams& params);

    std::unique_ptr<ShapeGrid> m_grid;
    uint64_t m_linkSerial = 0;
    // Counts cone retirements: a record made before one no longer applies.
    uint64_t m_coneEpoch = 0;
    std::map<const void*, LinkEdit> m_linkEdits;
    std::vector<LinkEdit> m_staleLinkEdits; // records whose key came again
    // Retired shapes in the order they came, chained through retiredNext.
    AbtShape* m_retiredFirst = nullptr;
    AbtShape* m_retiredLast = nullptr;
    std::size_t m_retiredCount = 0;
    std::vector<std::unique_ptr<SupportAreaAbs>> m_retiredAreas;
    Failure m_failure = Failure::None;
    std::uint64_t m_refusedCones = 0;
    int m_turnedShells = 0;
    bool m_surfaceOpen = false;
    ShapeMemoryCheck* m_shapeMemoryCheck = nullptr;
};

} // namespace support
