#include "src/Features/lcm/HollowContext.h"

#include "src/Features/lcm/HollowShells.h"
#include "src/Features/lcm/ParallelFor.h"

#include "app/Log.h"
#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "topolib/FillPolygon.h"
#include "topolib/MeshBoolean.h"
#include "topolib/MeshOctree.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <new>

namespace lcm {

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Whether the drain holes get the octree of the hollowed model sooner by
// building it whole, after the new shell is joined, than by filing the new
// shell's triangles into the model's tree one at a time: a whole build costs
// about half as much per triangle as filing one, and runs on threads.
bool wholeTreeIsSooner(std::size_t modelTriangles, std::size_t newTriangles) {
    const std::size_t all = modelTriangles + newTriangles;
    return all < 2 * std::size_t(topolib::octreeBuildThreads(all)) * newTriangles;
}

const char* const kWallDoesNotFit = "The wall is too thick for this object: no inner surface was made.";
const char* const kDegenerate = "This object has no surface that can be hollowed.";
const char* const kOutOfMemory = "Not enough memory to hollow this object.";
const char* const kGridTooLarge =
    "The wall is too thin for an object of this size: hollowing it would need more "
    "memory than is available. Choose a thicker wall.";
std::string millimetres(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

} // namespace

std::string thinWallNotice(double asked, double made) {
    return "A wall of " + millimetres(asked) + " mm is thinner than the hollowing can make for an object of "
           "this size: the thinnest wall it can make is " + millimetres(made) + " mm, and the wall is made that thick.";
}

namespace {

const char* const kInternal = "Hollowing stopped on an internal error; the object was not changed.";

// Takes the triangles of one shell out of the mesh: detached from edges and
// vertices, marked deleted, in no shell (the caller deletes this one).
void removeShellTriangles(topolib::StlShell* shell) {
    for (auto* list : {&shell->primaryTriangles, &shell->reversedTriangles})
        for (topolib::StlTriangle* t : *list) {
            if (t->shell == shell)
                t->shell = nullptr;
            if (t->isDeleted())
                continue;
            t->detachFromEdges();
            t->detachFromVertices();
            t->setDeleted(true);
        }
}

// Whether the segment from a to b crosses triangle t (ends and sides included).
bool segmentCrossesTriangle(const double a[3], const double b[3], const topolib::StlTriangle* t) {
    const topolib::Vector3D& p0 = t->vertices[0]->pos;
    const topolib::Vector3D& p1 = t->vertices[1]->pos;
    const topolib::Vector3D& p2 = t->vertices[2]->pos;
    const double d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double e1[3] = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
    const double e2[3] = {p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
    const double h[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2],
                         d[0] * e2[1] - d[1] * e2[0]};
    const double det = e1[0] * h[0] + e1[1] * h[1] + e1[2] * h[2];
    if (det == 0.0)
        return false;
    const double s[3] = {a[0] - p0.x, a[1] - p0.y, a[2] - p0.z};
    const double u = (s[0] * h[0] + s[1] * h[1] + s[2] * h[2]) / det;
    if (u < 0.0 || u > 1.0)
        return false;
    const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2],
                         s[0] * e1[1] - s[1] * e1[0]};
    const double v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) / det;
    if (v < 0.0 || u + v > 1.0)
        return false;
    const double along = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) / det;
    return along >= 0.0 && along <= 1.0;
}

// The closed mesh of the listed holes, with edges, box and octree: the tool of
// one cut.
std::unique_ptr<topolib::StlObject> toolOfHoles(const std::vector<std::unique_ptr<DrainHole>>& holes,
                                                const std::vector<std::size_t>& which) {
    auto tool = std::make_unique<topolib::StlObject>();
    std::vector<int> indices;
    for (std::size_t k : which) {
        DrainHole& h = *holes[k];
        if (h.vertexCount() == 0)
            h.rebuild();
        indices.assign(h.indices().begin(), h.indices().end());
        tool->appendMesh(static_cast<int>(h.vertexCount()), h.triangleCount(), h.vertices().data(), indices.data());
    }
    tool->computeBoundingBox();
    tool->setBoundingBox(tool->bboxMin(), tool->bboxMax());
    tool->buildEdges(false, 0, 25);
    tool->rebuildOctree();
    return tool;
}

// Whether two triangles meet: a side of one crosses the other (sides, ends
// and corners included, so that a tool through an edge or a corner of the
// mesh meets the triangles around it). Coplanar pairs do not count.
bool trianglesMeet(const topolib::StlTriangle* a, const topolib::StlTriangle* b) {
    for (const auto& [s, t] : {std::make_pair(a, b), std::make_pair(b, a)})
        for (int k = 0; k < 3; ++k)
            if (segmentCrossesTriangle(s->vertices[k]->pos.data(), s->vertices[(k + 1) % 3]->pos.data(), t))
                return true;
    return false;
}

// Whether a hole's cut joins the outside to the hollow inside: its tool's
// surface crosses both an inner shell (the hollowing's, or a cavity's) and the
// outer surface, which is where the cut opens the wall. A hole pointing out of
// the object, placed beside it or ending in the wall crosses no inner shell.
bool holeReachesInnerShell(const topolib::StlObject& model, const topolib::StlObject& tool) {
    bool inner = false, outer = false;
    model.octree()->forEachCandidatePair(model.octreeOrigin(), model.octreeEdge(), *tool.octree(),
                                         tool.octreeOrigin(), tool.octreeEdge(),
                                         [&](topolib::StlTriangle* s, topolib::StlTriangle* t) {
                                             if (s->isDeleted() || s->shell == nullptr)
                                                 return;
                                             bool& side = s->shell->spare != 0 ? inner : outer;
                                             if (!side && trianglesMeet(s, t))
                                                 side = true;
                                         });
    return inner && outer;
}

// The signed volume the live triangles of a shell enclose.
double shellVolume(const topolib::StlShell& shell) {
    double sum = 0.0;
    for (const auto* list : {&shell.primaryTriangles, &shell.reversedTriangles})
        for (const topolib::StlTriangle* t : *list)
            if (!t->isDeleted())
                sum += t->vertices[0]->pos.dot(t->vertices[1]->pos.cross(t->vertices[2]->pos));
    return sum / 6.0;
}

// "N cavities ... trap resin", with their volumes, or empty without any.
std::string sealedCavitiesText(std::vector<double> volumes) {
    if (volumes.empty())
        return {};
    std::sort(volumes.begin(), volumes.end());
    char text[256];
    double total = 0.0;
    for (double v : volumes)
        total += v;
    if (volumes.size() == 1)
        std::snprintf(text, sizeof text, "1 cavity has no drain hole and traps resin: %.1f mm³.", total);
    else
        std::snprintf(text, sizeof text,
                      "%zu cavities have no drain hole and trap resin: %.1f mm³ in all, the largest %.1f mm³, "
                      "the smallest %.3f mm³.",
                      volumes.size(), total, volumes.back(), volumes.front());
    return text;
}

void logShellRoles(const std::vector<ShellRole>& roles) {
    int cavities = 0, insideOut = 0;
    for (ShellRole r : roles) {
        cavities += r == ShellRole::Cavity ? 1 : 0;
        insideOut += r == ShellRole::InsideOut ? 1 : 0;
    }
    if (cavities > 0)
        logInt(cavities, "Hollowing: cavities replaced by the new inner shell: ");
    if (insideOut > 0)
        logInt(insideOut, "Hollowing: shells wound inside out: ");
}

} // namespace

double thinnestHollowWall(const double extents[3]) {
    return kCellsPerWall * std::max({extents[0], extents[1], extents[2]}) / kFinestCellsPerSide;
}

double thinnestHollowWall(const topolib::StlObject& model) {
    const double ext[3] = {model.bboxMax()[0] - model.bboxMin()[0], model.bboxMax()[1] - model.bboxMin()[1],
                           model.bboxMax()[2] - model.bboxMin()[2]};
    return thinnestHollowWall(ext);
}

CellChoice chooseHollowCellSize(double b, std::size_t n, const double extents[3], double t, int density) {
    CellChoice out;
    const double d = static_cast<double>(std::min(100, std::max(0, density)));
    double coarse, fine;
    if (n < 1000)
        coarse = 1.0 * b, fine = 0.03 * b;
    else if (n < 10000)
        coarse = 1.7 * b, fine = 0.08 * b;
    else if (n < 100000)
        coarse = 3.5 * b, fine = 0.16 * b;
    else if (n < 500000)
        coarse = 7.5 * b, fine = 0.3 * b;
    else if (n < 1000000)
        coarse = 10.0 * b, fine = 0.6 * b;
    else
        coarse = 15.2 * b, fine = 1.0 * b;
    double cell = coarse - (coarse - fine) * d / 100.0;
    const double eMax = std::max({extents[0], extents[1], extents[2]});
    const double eMin = std::min({extents[0], extents[1], extents[2]});
    out.thinnestWall = thinnestHollowWall(extents);
    out.wall = std::max(t, out.thinnestWall);
    if (2.1 * out.wall > eMin) {
        out.wallFits = false;
        return out;
    }
    if (!std::isfinite(cell) || cell <= 1e-6)
        return out;
    long nMax = static_cast<long>(eMax / cell);
    if (static_cast<long>(eMin / cell) < 15) {
        cell = eMin / 10.0 - (eMin / 10.0 - eMin / 50.0) * d / 100.0;
        nMax = std::max(nMax, static_cast<long>(eMax / cell));
    }
    if (nMax > 400)
        cell = eMax / 250.0 - (eMax / 250.0 - eMax / 400.0) * d / 100.0;
    if (n > 10000 && cell < 0.5 * b)
        cell = 2.0 * b - (2.0 * b - 0.5 * b) * d / 100.0;
    // The wall is cut along grid lines: a cell of more than a quarter of the
    // wall would leave walls up to a cell thicker than asked. Large triangles
    // or a large object never make the cell coarser than that; the wall is
    // at least the thinnest one, so this never goes below the finest cell.
    const bool limitedByWall = cell >= out.wall / kCellsPerWall;
    if (limitedByWall)
        cell = out.wall / kCellsPerWall;
    // A thickness of a whole number of cells puts the eroded surface on grid
    // lines; a slightly different cell moves it off them (smaller when the
    // wall limits the cell).
    const double m = std::round(out.wall / cell);
    if (std::fabs(m * cell - out.wall) < 1e-5)
        cell += limitedByWall ? -0.0001 : 0.0001;
    out.cell = std::isfinite(cell) && cell > 1e-6 ? cell : 0.0;
    return out;
}

HollowContext::HollowContext() = default;
HollowContext::~HollowContext() = default;

const ZMapSurface* HollowContext::previewSurface() const {
    return m_stock ? &m_stock->surface() : nullptr;
}

topolib::AppendRoom HollowContext::innerSurfaceRoom() const {
    topolib::AppendRoom room;
    if (m_stock) {
        // A closed surface has three edges for every two triangles.
        room.vertices = m_stock->surface().points.size();
        room.triangles = m_stock->surface().triangles.size();
        room.edges = room.triangles / 2 * 3 + 3;
    }
    return room;
}

HollowStatus HollowContext::fail(HollowStatus status, const std::string& message, const char* why) {
    m_stock = std::make_unique<ZMapStock>();
    m_message = message;
    logText("Hollowing: ", false);
    logText(why);
    return status;
}

HollowStatus HollowContext::createPreview(double thickness, int density, const ProgressMonitor& progress) {
    m_previewStatus = buildPreview(thickness, density, progress);
    return m_previewStatus;
}

HollowStatus HollowContext::buildPreview(double thickness, int density, const ProgressMonitor& progress) {
    logText("----- CreateHollowPreview -----");
    logDouble(thickness, "Thickness: ");
    logInt(density, "Density: ");
    logText("-------------------------------");
    const ProgressEnd end(progress);
    progress.start(ProgressText::HollowPreview);
    progress.report(0.0);
    progress.report(0.01);
    m_message.clear();
    m_thickness = thickness;
    m_wallMade = 0.0;
    m_density = density;
    m_timings = HollowTimings();
    m_stock.reset();
    try {
        m_stock = std::make_unique<ZMapStock>();
        m_stock->setThreadCount(m_threads);
        m_stock->setProgress(progress);
        topolib::StlObject* model = m_model;
        if (model == nullptr || model->triangleCount() == 0)
            return fail(HollowStatus::DegenerateMesh, kDegenerate, "no triangles");
        const auto stockStart = Clock::now();
        // The stock is the material the shells bound together: cavities (and
        // inner shells of an earlier hollowing) give way to the new inner
        // shell, shells wound inside out are read the other way round.
        const std::vector<ShellRole> roles = hollowShellRoles(*model, measureShells(*model, m_threads));
        logShellRoles(roles);
        const StockSurface surface = stockSurface(*model, roles, m_threads);
        const double b = surface.averageEdge;
        const double ext[3] = {model->bboxMax()[0] - model->bboxMin()[0],
                               model->bboxMax()[1] - model->bboxMin()[1],
                               model->bboxMax()[2] - model->bboxMin()[2]};
        if (!std::isfinite(b) || b <= 0.0 || !std::isfinite(ext[0] + ext[1] + ext[2]) ||
            !std::isfinite(thickness) || thickness <= 0.0)
            return fail(HollowStatus::DegenerateMesh, kDegenerate,
                        "zero average edge, empty box or bad thickness");
        const CellChoice choice = chooseHollowCellSize(b, surface.triangles, ext, thickness, density);
        if (!choice.wallFits)
            return fail(HollowStatus::WallDoesNotFit, kWallDoesNotFit, "the wall does not fit");
        if (choice.cell <= 0.0)
            return fail(HollowStatus::DegenerateMesh, kDegenerate, "unusable cell size");
        if (choice.wall > thickness) {
            m_message = thinWallNotice(thickness, choice.wall);
            logDouble(choice.wall, "Hollowing: thinnest wall for this object: ");
        }

        m_stock->setCellSize(choice.cell);
        m_stock->setThickness(choice.wall);
        m_stock->setBox(model->bboxMin(), model->bboxMax());
        // A wall this thin on an object this large needs a grid beyond the
        // program's memory: refused, never made coarser (a thicker wall).
        const uint64_t gridBytes = m_stock->plannedBytes();
        if (gridBytes > PRIVATE_MEMORY_BUDGET || (MemoryCheckCallback && !MemoryCheckCallback(gridBytes))) {
            logDouble(static_cast<double>(gridBytes) / (1024.0 * 1024.0), "Hollowing grid (MiB): ");
            return fail(HollowStatus::OutOfMemory, kGridTooLarge,
                        "the grid for this wall does not fit in memory");
        }
        if (!m_stock->setUp())
            return fail(HollowStatus::DegenerateMesh, kDegenerate, "grid could not be set up");
        logDouble(choice.cell, "Cell: ");

        if (progress.stopRequested())
            return fail(HollowStatus::Stopped, std::string(), "stopped");
        model->traceHoleRims();
        progress.report(0.03);
        std::vector<const topolib::StlTriangle*> triangles;
        for (std::size_t s = 0; s < model->shells().size(); ++s) {
            topolib::StlShell* shell = model->shells()[s];
            shell->flags = 0;
            // The caps close the open rims of this shell for the rasterising only.
            std::deque<topolib::StlTriangle*> caps;
            shell->triangulateRimPolygons(caps);
            if (roles[s] == ShellRole::Solid || roles[s] == ShellRole::InsideOut) {
                triangles.clear();
                triangles.insert(triangles.end(), shell->primaryTriangles.begin(),
                                 shell->primaryTriangles.end());
                triangles.insert(triangles.end(), shell->reversedTriangles.begin(),
                                 shell->reversedTriangles.end());
                triangles.insert(triangles.end(), caps.begin(), caps.end());
                try {
                    m_stock->addShell(triangles, roles[s] == ShellRole::InsideOut);
                } catch (...) {
                    for (topolib::StlTriangle* t : caps)
                        delete t;
                    throw;
                }
            }
            for (topolib::StlTriangle* t : caps)
                delete t;
        }
        m_stock->mergeSegments();
        // Shells that bound nothing (every facet twice, facing both ways)
        // leave no material to hollow, whatever the wall.
        if (!m_stock->holdsMaterial())
            return fail(HollowStatus::DegenerateMesh, kDegenerate, "the shells bound no material");
        progress.report(0.05);
        m_timings.stock = msSince(stockStart);
        if (progress.stopRequested())
            return fail(HollowStatus::Stopped, std::string(), "stopped");
        m_stock->buildOffsetSurface();
        const ZMapTimings& zt = m_stock->timings();
        m_timings.offset = zt.trace + zt.erode;
        m_timings.mesh = zt.mesh;
        if (m_stock->surface().triangles.empty()) {
            m_message = kWallDoesNotFit;
            logText("Hollowing: nothing remains inside the wall");
            return HollowStatus::WallDoesNotFit;
        }
        m_wallMade = choice.wall;
        return HollowStatus::Ok;
    } catch (const std::bad_alloc&) {
        return fail(HollowStatus::OutOfMemory, kOutOfMemory, "not enough memory for the preview");
    } catch (const ZMapError& e) {
        return fail(HollowStatus::InternalError, kInternal, e.what());
    }
}

void HollowContext::setPendingHole(const double position[3], const double direction[3], double radius,
                                   double length, double taper) {
    // A hole from a degenerate pick (a normal of a zero-area triangle, a
    // depth read outside the model) would give the tool non-finite corners,
    // which no cut can handle: such a hole is not placed.
    bool finite = std::isfinite(radius) && radius > 0.0 && std::isfinite(length) && std::isfinite(taper);
    for (int k = 0; k < 3; ++k)
        finite = finite && std::isfinite(position[k]) && std::isfinite(direction[k]);
    if (!finite) {
        logText("Hollowing: drain hole with a non-finite position, direction or size not placed");
        m_pending.reset();
        return;
    }
    if (!m_pending)
        m_pending = std::make_unique<DrainHole>();
    DrainHole& h = *m_pending;
    h.radius = radius;
    for (int k = 0; k < 3; ++k) {
        h.position[k] = position[k];
        h.direction[k] = direction[k];
    }
    h.length = length;
    h.taper = taper;
    h.rebuild();
}

void HollowContext::commitPendingHole() {
    if (!m_pending)
        return;
    const DrainHole& h = *m_pending;
    logPoint(h.position, "Position: ");
    logPoint(h.direction, "Direction: ");
    logDouble(h.radius, "Radius: ");
    logDouble(h.length, "Length: ");
    logDouble(h.taper, "Taper: ");
    m_holes.push_back(std::move(m_pending));
}

bool HollowContext::removeHole(int index) {
    if (index < 0 || index >= static_cast<int>(m_holes.size()))
        return false;
    m_holes.erase(m_holes.begin() + index);
    return true;
}

void HollowContext::setHolesRadius(double radius) {
    for (auto& h : m_holes) {
        h->radius = radius;
        h->rebuild();
    }
}

void HollowContext::setHolesTaper(double taper) {
    for (auto& h : m_holes) {
        h->taper = taper;
        h->rebuild();
    }
}

bool HollowContext::assembleShell() {
    return assembleShell(nullptr);
}

namespace {

// Takes the cavities and the inner shells of an earlier hollowing out of the
// model (their triangles deleted, the shells destroyed): the new inner shell
// takes their place, as the stock was built without them.
void removeReplacedShells(topolib::StlObject& model, const std::vector<ShellRole>& roles) {
    auto& shells = model.shells();
    std::size_t s = 0;
    for (auto it = shells.begin(); it != shells.end(); ++s) {
        if (roles[s] == ShellRole::Cavity) {
            removeShellTriangles(*it);
            delete *it;
            it = shells.erase(it);
        } else {
            ++it;
        }
    }
}

// One new vertex record for every point of the surface, in its order, not yet
// in the model's vertex array. Every vertex is new: its incident list is sized
// from the surface, all lists in one block, so that no list grows on the heap
// one triangle at a time (a million small allocations for a big model).
std::deque<topolib::StlVertex*> newSurfaceVertices(topolib::StlObject& model, const ZMapSurface& surface) {
    std::vector<uint32_t> uses(surface.points.size(), 0);
    for (const auto& tri : surface.triangles)
        for (uint32_t v : tri)
            ++uses[v];
    topolib::Ref<topolib::StlTriangle>* lists = model.newIncidentBlock(3 * surface.triangles.size());
    std::deque<topolib::StlVertex*> vertices;
    for (std::size_t i = 0; i < surface.points.size(); ++i) {
        topolib::StlVertex* v = model.newVertex(surface.points[i].data());
        if (uses[i] > 0) // a point that no triangle uses has no list
            v->useExternalList(lists, uses[i]);
        lists += uses[i];
        vertices.push_back(v);
    }
    return vertices;
}

// One new triangle record for every triangle of the surface, in its order, on
// the vertices of newSurfaceVertices; not yet in the model's triangle array.
std::vector<topolib::StlTriangle*> newSurfaceTriangles(topolib::StlObject& model, const ZMapSurface& surface,
                                                       const std::deque<topolib::StlVertex*>& vertices) {
    std::vector<topolib::StlTriangle*> triangles;
    triangles.reserve(surface.triangles.size());
    for (const auto& tri : surface.triangles)
        triangles.push_back(model.newTriangle()->init(vertices[tri[0]], vertices[tri[1]], vertices[tri[2]]));
    return triangles;
}

// A side of a surface triangle: its upper end and 3 × triangle + slot (its
// lower end is the bucket it is filed under).
struct Side {
    uint32_t hi, side;
};

// The sides of the surface's triangles bucketed by their lower end, in
// triangle order: the sides of lower end v are sides[bucket[v] .. bucket[v + 1]).
struct SideBuckets {
    std::vector<uint32_t> bucket;
    std::vector<Side> sides;
};

SideBuckets bucketSidesByLowerEnd(const ZMapSurface& surface) {
    SideBuckets out;
    std::vector<uint32_t>& bucket = out.bucket;
    bucket.assign(surface.points.size() + 1, 0);
    for (const auto& tri : surface.triangles)
        for (std::size_t k = 0; k < 3; ++k)
            ++bucket[std::min(tri[k], tri[(k + 1) % 3]) + 1];
    for (std::size_t v = 0; v + 1 < bucket.size(); ++v)
        bucket[v + 1] += bucket[v];
    out.sides.resize(surface.triangles.size() * 3);
    std::vector<uint32_t> fill(bucket.begin(), bucket.end() - 1);
    for (std::size_t t = 0; t < surface.triangles.size(); ++t)
        for (std::size_t k = 0; k < 3; ++k) {
            const uint32_t a = surface.triangles[t][k];
            const uint32_t b = surface.triangles[t][(k + 1) % 3];
            out.sides[fill[std::min(a, b)]++] = {std::max(a, b), static_cast<uint32_t>(3 * t + k)};
        }
    return out;
}

// Orders one bucket by the upper end, keeping the triangle order among equal
// ends (stable; a bucket holds a handful of sides).
void sortBucketByUpperEnd(Side* first, Side* last) {
    for (Side* p = first + 1; p < last; ++p)
        for (Side* q = p; q > first && q[-1].hi > q->hi; --q)
            std::swap(q[-1], *q);
}

// The edges of the new triangles, not yet in the model's edge array. Every
// vertex is new, so every edge is new: the sides joining the same two
// vertices, found by sorting them by (lower end, upper end, triangle), make
// one edge, which runs as its first triangle's side and lists the triangles
// in their order; each triangle gets its edges in its slots.
std::deque<topolib::StlEdge*> linkSurfaceEdges(topolib::StlObject& model, const ZMapSurface& surface,
                                               const std::vector<topolib::StlTriangle*>& triangles) {
    SideBuckets buckets = bucketSidesByLowerEnd(surface);
    std::deque<topolib::StlEdge*> edges;
    for (std::size_t v = 0; v + 1 < buckets.bucket.size(); ++v) {
        Side* const first = buckets.sides.data() + buckets.bucket[v];
        Side* const last = buckets.sides.data() + buckets.bucket[v + 1];
        sortBucketByUpperEnd(first, last);
        for (Side* s = first; s < last;) {
            Side* e = s;
            while (e < last && e->hi == s->hi)
                ++e;
            const int slot = static_cast<int>(s->side % 3);
            topolib::StlTriangle* t0 = triangles[s->side / 3];
            topolib::StlEdge* edge = model.newEdge(t0->vertices[slot], t0->vertices[(slot + 1) % 3]);
            for (Side* k = s; k < e; ++k) {
                topolib::StlTriangle* t = triangles[k->side / 3];
                edge->addTriangle(t);
                t->edges[k->side % 3] = edge;
            }
            edges.push_back(edge);
            s = e;
        }
    }
    return edges;
}

// Grows the new triangles into shells, marked as inner shells and put at the
// front of the model's shell list, and renumbers the list; debris (negligible
// shells, and sealed pockets smaller than a cell, which are artefacts of the
// grid rather than cavities) is removed. Leaves no walk mark on the new
// triangles. Returns the volume each kept shell encloses.
std::vector<double> growInnerShells(topolib::StlObject& model,
                                    const std::vector<topolib::StlTriangle*>& triangles, double cellVolume) {
    auto& shells = model.shells();
    std::vector<double> volumes;
    for (topolib::StlTriangle* t : triangles) {
        if (t->isDeleted() || t->walkMark() != 0)
            continue;
        topolib::StlShell* shell = model.growShell(t, false);
        shell->spare = 1;
        const double volume = std::fabs(shellVolume(*shell));
        if (model.isNegligibleShell(shell) || volume < cellVolume) {
            removeShellTriangles(shell);
            delete shell;
        } else {
            shells.push_front(shell);
            volumes.push_back(volume);
        }
    }
    for (topolib::StlTriangle* t : triangles)
        t->setWalkMark(0);
    for (std::size_t k = 0; k < shells.size(); ++k)
        shells[k]->number = static_cast<uint32_t>(k);
    return volumes;
}

// The surface is closed by construction; should one of the new edges still be
// open, the hole it borders is filled, and the triangles that fill it join the
// shell whose rim it is. Clears the marks of the new edges and the walk marks
// of every triangle of the model. Returns the open edges met.
std::size_t fillOpenInnerEdges(topolib::StlObject& model, const std::deque<topolib::StlEdge*>& edges,
                               unsigned threads) {
    std::size_t open = 0;
    std::deque<topolib::StlTriangle*> made;
    for (topolib::StlEdge* e : edges) {
        if (e->edgeClass != topolib::kEdgeBoundary || e->marks() != 0)
            continue;
        ++open;
        topolib::FillPolygon* polygon = model.fillHole(e);
        if (!polygon)
            continue;
        topolib::StlShell* shell = polygon->shells.empty() ? nullptr : polygon->shells.front();
        made.clear();
        model.triangulateHolePolygon(polygon, &made);
        if (shell)
            for (topolib::StlTriangle* t : made)
                shell->addTriangle(t);
    }
    for (topolib::StlEdge* e : edges)
        e->clearMarks();
    auto& all = model.triangles();
    parallelFor((all.size() + 0xFFFF) >> 16, workerCount(threads), [&](std::size_t c) {
        for (std::size_t i = c << 16; i < std::min(all.size(), (c + 1) << 16); ++i)
            all[i]->setWalkMark(0);
    });
    return open;
}

} // namespace

bool HollowContext::assembleShell(const std::vector<ShellMeasure>* measures) {
    m_innerTriangles = 0;
    topolib::StlObject* model = m_model;
    if (model == nullptr || !m_stock || m_stock->surface().triangles.empty())
        return false;
    // The sides are numbered in 32 bits (checked before the model changes).
    ZMAP_CHECK(m_stock->surface().triangles.size() <= 0xFFFFFFFFu / 3);
    const auto start = Clock::now();
    removeReplacedShells(*model,
                         hollowShellRoles(*model, measures ? *measures : measureShells(*model, m_threads)));

    const ZMapSurface& surface = m_stock->surface();
    // The new records come from one block each, their pages mapped ahead.
    const topolib::AppendRoom room = innerSurfaceRoom();
    model->reserveRecords(static_cast<uint32_t>(room.vertices), static_cast<uint32_t>(room.triangles),
                          static_cast<uint32_t>(room.edges));
    const std::deque<topolib::StlVertex*> vertices = newSurfaceVertices(*model, surface);
    model->appendVertices(vertices);
    const std::vector<topolib::StlTriangle*> triangles = newSurfaceTriangles(*model, surface, vertices);
    const std::deque<topolib::StlEdge*> edges = linkSurfaceEdges(*model, surface, triangles);
    model->appendEdges(edges);
    model->appendTriangles(triangles);

    const double cell = m_stock->cellSize();
    m_cavityVolumes = growInnerShells(*model, triangles, cell * cell * cell);
    if (const std::size_t open = fillOpenInnerEdges(*model, edges, m_threads))
        logInt(static_cast<int>(open), "Hollowing: open inner edges filled: ");
    for (topolib::StlTriangle* t : triangles)
        m_innerTriangles += t->isDeleted() ? 0 : 1;
    model->setModified();
    m_timings.assemble = msSince(start);
    return true;
}

int HollowContext::createHoles(const topolib::StlObject* copiedFrom) {
    topolib::StlObject* model = m_model;
    m_holesCut = false;
    if (model == nullptr || m_holes.empty())
        return 0;
    const auto start = Clock::now();
    logText("----------- Create Holes Begin: ");
    const DrainHole& first = *m_holes.front();
    logPoint(first.position, "Center:");
    logPoint(first.direction, "Direction:");
    logDouble(first.radius, "Radius: ");
    logDouble(first.taper, "Taper: ");
    if (model->octree() == nullptr)
        model->rebuildOctree();

    int warnings = 0;
    auto warn = [&](const std::string& text) {
        ++warnings;
        m_warnings.push_back(text);
        logText(text.c_str());
    };
    // A hole passes a wall made thicker than asked as well.
    for (const auto& h : m_holes)
        if (h->length < m_wallMade) {
            h->length = m_wallMade;
            h->rebuild();
        }
    // Only the holes whose cut opens the cavity are cut; the others are named
    // by their place in the list.
    std::vector<std::size_t> reaching;
    for (std::size_t k = 0; k < m_holes.size(); ++k) {
        if (holeReachesInnerShell(*model, *toolOfHoles(m_holes, {k})))
            reaching.push_back(k);
        else
            warn("Drain hole " + std::to_string(k + 1) + " does not reach the hollow inside.");
    }
    // A model copied from a mesh at hand is made again after a failed cut,
    // which spares a copy of the whole model before every cut.
    const topolib::StlObject* source = copiedFrom != model ? copiedFrom : nullptr;
    auto cut = [&](const std::vector<std::size_t>& which, bool keepCopy) {
        auto tool = toolOfHoles(m_holes, which);
        topolib::MeshBoolean op(model, tool.get());
        op.setCrossingStepBudget(m_cutStepBudget);
        op.setKeepsTargetCopy(keepCopy);
        if (op.subtract())
            return true;
        logInt(static_cast<int>(op.failure()), "Drain-hole boolean failure: ");
        return false;
    };
    if (!reaching.empty()) {
        if (cut(reaching, source == nullptr)) {
            m_holesCut = true;
        } else {
            if (source)
                remakeModel(*source);
            // One hole the cut cannot take does not cost the others: each is
            // cut on its own, the model kept whole for each.
            std::vector<std::size_t> failed;
            for (std::size_t k : reaching) {
                if (reaching.size() > 1 && cut({k}, true))
                    m_holesCut = true;
                else
                    failed.push_back(k);
            }
            if (failed.size() == reaching.size())
                warn("The drain holes could not be cut; the object keeps its closed wall.");
            else
                for (std::size_t k : failed)
                    warn("Drain hole " + std::to_string(k + 1) + " could not be cut.");
        }
    }
    logText("----------- Create Holes End: ");
    m_timings.holes = msSince(start);
    return warnings;
}

bool HollowContext::joinInnerShell(double* orientMs) {
    // A shell wound inside out is turned outward first, or the result would
    // be an inside-out solid around an inward cavity (a negative volume); the
    // preview read such a shell the other way round already.
    const auto start = Clock::now();
    std::vector<ShellMeasure> measures;
    if (m_model) {
        // A mesh copy or a geometry entry does not carry the shells' boxes.
        measures = measureShells(*m_model, m_threads);
        auto& shells = m_model->shells();
        for (std::size_t s = 0; s < shells.size(); ++s)
            if (measures[s].lo.x <= measures[s].hi.x) {
                shells[s]->boxMin = measures[s].lo;
                shells[s]->boxMax = measures[s].hi;
            }
        // A lone shell enclosing a volume clearly above zero is wound
        // outward: there is nothing to turn.
        const ShellMeasure* lone = shells.size() == 1 ? &measures[0] : nullptr;
        const topolib::Vector3D extent = lone ? lone->hi - lone->lo : topolib::Vector3D();
        if (!lone || !(lone->volume > 1e-6 * lone->area * std::sqrt(extent.dot(extent)))) {
            const int turned = m_model->orientClosedShellsOutward();
            if (turned > 0) {
                logInt(turned, "Hollowing: shells turned outward: ");
                measures = measureShells(*m_model, m_threads);
            }
        }
        // Without holes nothing here asks the octree: the new shell is not
        // filed into it one triangle at a time; the caller builds the tree
        // of the result when it needs one (the scene on a worker). The
        // holes build it whole where that is sooner.
        if (m_holes.empty() || wholeTreeIsSooner(m_model->triangleCount(), innerSurfaceRoom().triangles))
            m_model->releaseOctree();
    }
    *orientMs = msSince(start);
    return assembleShell(m_model ? &measures : nullptr);
}

void HollowContext::remakeModel(const topolib::StlObject& source) {
    const HollowTimings timings = m_timings;
    {
        // The cut's remains go first, so that they and the new copy do not
        // take memory together.
        topolib::StlObject remains;
        m_model->swapMeshWith(remains);
    }
    {
        std::unique_ptr<topolib::StlObject> fresh = copyMeshForHollowing(source, innerSurfaceRoom());
        m_model->swapMeshWith(*fresh);
    }
    double orientMs = 0.0;
    joinInnerShell(&orientMs);
    if (m_model->octree() == nullptr)
        m_model->rebuildOctree();
    m_timings = timings;
    logText("Hollowing: the model was made again without the drain holes");
}

HollowStatus HollowContext::applyHollow(const topolib::StlObject* copiedFrom) {
    m_warnings.clear();
    m_cavityVolumes.clear();
    m_holesCut = false;
    try {
        double before = 0.0;
        const bool inner = joinInnerShell(&before);
        if (!inner && m_message.empty())
            m_message = kWallDoesNotFit;
        createHoles(copiedFrom);
        if (m_model) {
            const auto measureStart = Clock::now();
            computeAreaAndVolumeOnThreads(*m_model, m_threads);
            m_timings.assemble += before + msSince(measureStart);
            // Cavities without an exit trap resin: after a cut, the closed
            // shells wound inward; else the inner shells just joined.
            if (m_holesCut) {
                m_cavityVolumes.clear();
                for (const topolib::StlShell* shell : m_model->shells()) {
                    const double volume = shellVolume(*shell);
                    if (volume < 0.0)
                        m_cavityVolumes.push_back(-volume);
                }
            }
            const std::string sealed = sealedCavitiesText(m_cavityVolumes);
            if (!sealed.empty()) {
                m_warnings.push_back(sealed);
                logText(sealed.c_str());
            }
        }
        return HollowStatus::Ok;
    } catch (const std::bad_alloc&) {
        m_message = kOutOfMemory;
        logText("Hollowing: not enough memory to apply the hollow");
        return HollowStatus::OutOfMemory;
    } catch (const ZMapError& e) {
        m_message = kInternal;
        logText(e.what());
        return HollowStatus::InternalError;
    }
}

std::unique_ptr<topolib::StlObject> copyMeshForHollowing(const topolib::StlObject& source,
                                                          const topolib::AppendRoom& room) {
    auto copy = std::make_unique<topolib::StlObject>(source);
    source.copyMeshTo(copy.get(), room);
    // The copy brings the source's edges and octree; the drain holes build a
    // tree when the source had none.
    return copy;
}

std::unique_ptr<topolib::StlObject> HollowContext::hollowedCopy(const CopyMaker& makeCopy,
                                                                HollowStatus* status) {
    const HollowStatus outcome = m_previewStatus;
    auto refuse = [&](HollowStatus why) -> std::unique_ptr<topolib::StlObject> {
        if (status)
            *status = why;
        return nullptr;
    };
    m_warnings.clear();
    topolib::StlObject* const model = m_model;
    if (model == nullptr) {
        m_message = kDegenerate;
        return refuse(HollowStatus::DegenerateMesh);
    }
    if (outcome == HollowStatus::OutOfMemory || outcome == HollowStatus::InternalError ||
        outcome == HollowStatus::Stopped)
        return refuse(outcome);
    std::unique_ptr<topolib::StlObject> copy;
    try {
        const auto copyStart = Clock::now();
        copy = makeCopy(*model, innerSurfaceRoom());
        m_timings.copy = msSince(copyStart);
    } catch (const std::bad_alloc&) {
        copy.reset();
    }
    if (!copy) {
        m_message = kOutOfMemory;
        logText("Hollowing: not enough memory to copy the object");
        return refuse(HollowStatus::OutOfMemory);
    }
    m_model = copy.get();
    const HollowStatus applied = applyHollow(model);
    m_model = model;
    if (applied != HollowStatus::Ok)
        return refuse(applied);
    // A copy no different from the model is no result: the user is told why.
    if (m_innerTriangles == 0 && !m_holesCut) {
        if (m_message.empty())
            m_message = kWallDoesNotFit;
        return refuse(outcome == HollowStatus::Ok ? HollowStatus::WallDoesNotFit : outcome);
    }
    // The hollowing leaves no walk or vertex mark behind (its steps clear
    // theirs), so the copy needs no pass over its records for them.
    copy->setModified();
    copy->invalidateZSlabIndex();
    if (status)
        *status = outcome;
    return copy;
}

std::unique_ptr<topolib::StlObject> hollowedCopy(HollowContext& context, topolib::StlObject& source,
                                                 double thickness, int density,
                                                 const std::vector<DrainHoleSpec>& holes,
                                                 HollowStatus* status) {
    context.setModel(&source);
    context.createPreview(thickness, density);
    for (const DrainHoleSpec& h : holes) {
        context.setPendingHole(h.position, h.direction, h.size / 2.0, thickness, h.taper);
        context.commitPendingHole();
    }
    return context.hollowedCopy(
        [](const topolib::StlObject& model, const topolib::AppendRoom& room) {
            return copyMeshForHollowing(model, room);
        },
        status);
}

} // namespace lcm
