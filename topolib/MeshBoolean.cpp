// The drain-hole boolean: the octree pair walk records the crossing triangle
// pairs, the cutter files and resolves their segments, both meshes replace their
// crossed triangles by pieces that follow the cut, and the pieces of each mesh are
// kept or dropped by whether they lie inside the other mesh.
//
// The cut changes both meshes in place (snapped vertices, new vertices, pieces).
// Since a failure can only be seen once a triangle is being replaced, the model
// and the tool are first copied; a failed run exchanges the copies back in.

#include "topolib/MeshBoolean.h"

#include "topolib/MeshOctree.h"
#include "topolib/PieceWork.h"
#include "topolib/ShortPair.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleCutter.h"
#include "topolib/TriangleIntersection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace topolib {

// ---- Exchanging the contents of two meshes ------------------------------------------

void StlObject::swapMeshWith(StlObject& other) {
    if (&other == this)
        return;
    std::apply(
        [&](auto... unit) {
            auto exchange = [&](auto member) {
                if constexpr (std::is_same_v<decltype(member), Octree StlObject::*>) {
                    std::lock(m_octreeMutex, other.m_octreeMutex);
                    std::lock_guard<std::mutex> mine(m_octreeMutex, std::adopt_lock);
                    std::lock_guard<std::mutex> theirs(other.m_octreeMutex, std::adopt_lock);
                    std::swap(this->*member, other.*member);
                } else {
                    std::swap(this->*member, other.*member);
                }
            };
            (exchange(unit), ...);
        },
        meshUnits());
    // The shells name their mesh.
    for (StlShell* s : m_records.shells)
        s->owner = this;
    for (StlShell* s : other.m_records.shells)
        s->owner = &other;
}

namespace {

// A full copy of a mesh that swapMeshWith can bring back: records with the same
// indices and flags, edges with their classes and triangle lists, shells and the
// octree.
std::unique_ptr<StlObject> snapshotOf(StlObject& mesh) {
    auto copy = std::make_unique<StlObject>(mesh);
    mesh.copyMeshTo(copy.get());
    return copy;
}

// The cutter's record of the pairs the walk has sent already.
class CutterRecorder : public MeshOctree::CutterSink {
public:
    explicit CutterRecorder(TriangleCutter& cutter) : m_cutter(cutter) {}
    bool alreadyRecorded(StlTriangle* s, StlTriangle* t) override {
        const TriangleCutContext* ctx = m_cutter.contextOf(s);
        if (!ctx)
            return false;
        for (const StlTriangle* c : ctx->cutters)
            if (c == t)
                return true;
        return false;
    }
    void record(StlTriangle* s, StlTriangle* t) override { m_cutter.recordCutter(s, t); }

private:
    TriangleCutter& m_cutter;
};

// Whether a piece lies inside `other`, judged at the centroid of its first live
// triangle by the upward-ray test; a piece without a live triangle is not.
// (A wrong answer cannot pass silently: a piece kept or dropped wrongly leaves
// cut edges with one or three live triangles, and the result check rolls back.)
bool pieceInside(const StlShell* piece, const StlObject& other) {
    const StlTriangle* t = piece->firstLiveTriangle();
    if (!t)
        return false;
    const Vector3D c = (t->vertices[0]->pos + t->vertices[1]->pos + t->vertices[2]->pos) / 3.0;
    return other.isInsideByUpwardRay(c.data());
}

bool boxesOverlap(const StlShell* a, const StlShell* b) {
    for (int k = 0; k < 3; ++k)
        if (a->boxMin[k] > b->boxMax[k] + 1e-6 || b->boxMin[k] > a->boxMax[k] + 1e-6)
            return false;
    return true;
}

// A mesh of the listed shells of `tool` (by position in its shell list), with
// edges, shells and octree.
std::unique_ptr<StlObject> meshOfShells(const StlObject& tool, const std::vector<std::size_t>& which) {
    const std::deque<StlShell*>& shells = tool.shells();
    std::vector<int> slot(tool.vertices().size(), -1);
    std::vector<double> xyz;
    std::vector<int> indices;
    for (std::size_t i : which) {
        for (const StlShell::TriangleList* list : {&shells[i]->primaryTriangles, &shells[i]->reversedTriangles}) {
            for (const StlTriangle* t : *list) {
                if (t->isDeleted())
                    continue;
                for (const StlVertex* v : t->vertices) {
                    int& s = slot[static_cast<std::size_t>(v->index)];
                    if (s < 0) {
                        s = static_cast<int>(xyz.size() / 3);
                        xyz.insert(xyz.end(), {v->pos.x, v->pos.y, v->pos.z});
                    }
                    indices.push_back(s);
                }
            }
        }
    }
    auto mesh = std::make_unique<StlObject>();
    mesh->appendMesh(static_cast<int>(xyz.size() / 3), static_cast<uint32_t>(indices.size() / 3), xyz.data(),
                     indices.data());
    mesh->computeBoundingBox();
    mesh->setBoundingBox(mesh->bboxMin(), mesh->bboxMax());
    mesh->buildEdges(false, 0, 0);
    mesh->findShells(false, 0);
    mesh->rebuildOctree();
    return mesh;
}

// The live triangles of a shell.
std::vector<const StlTriangle*> liveTrianglesOf(const StlShell* shell) {
    std::vector<const StlTriangle*> out;
    for (const StlShell::TriangleList* list : {&shell->primaryTriangles, &shell->reversedTriangles})
        for (const StlTriangle* t : *list)
            if (!t->isDeleted())
                out.push_back(t);
    return out;
}

// Whether every corner of the shell lies on the inner side of (or on) every
// triangle's plane: a convex solid such as a drain-hole cylinder.
bool isConvex(const std::vector<const StlTriangle*>& triangles, const std::vector<std::array<double, 3>>& corners,
              double tolerance) {
    for (const StlTriangle* t : triangles) {
        const Vector3D& a = t->vertices[0]->pos;
        const Vector3D n = (t->vertices[1]->pos - a).cross(t->vertices[2]->pos - a);
        const double len = std::sqrt(n.lengthSquared());
        if (!(len > 0.0))
            continue;
        for (const std::array<double, 3>& c : corners)
            if ((Vector3D(c.data()) - a).dot(n) > tolerance * len)
                return false;
    }
    return true;
}

// Whether every corner of a has one of b within the tolerance on every axis
// and the other way round (corner lists of shells, a few hundred at most).
bool sameCorners(const std::vector<std::array<double, 3>>& a, const std::vector<std::array<double, 3>>& b,
                 double tolerance) {
    auto covered = [&](const std::vector<std::array<double, 3>>& from, const std::vector<std::array<double, 3>>& in) {
        return std::all_of(from.begin(), from.end(), [&](const std::array<double, 3>& p) {
            return std::any_of(in.begin(), in.end(), [&](const std::array<double, 3>& q) {
                return std::fabs(p[0] - q[0]) <= tolerance && std::fabs(p[1] - q[1]) <= tolerance &&
                       std::fabs(p[2] - q[2]) <= tolerance;
            });
        });
    };
    return covered(a, b) && covered(b, a);
}

// The positions of tool shells that do not repeat an earlier shell: the same
// triangles at the same corners (each triangle started at its smallest corner,
// so that the winding is kept), in any order; or, for convex shells, the same
// corners however they are triangulated (a convex solid is the hull of its
// corners).
std::vector<std::size_t> distinctShells(const StlObject& tool) {
    struct Shape {
        std::vector<std::array<double, 9>> triangles;
        std::vector<std::array<double, 3>> corners;
        bool convex = false;
    };
    // Corners computed along opposite directions differ in the last bits.
    const double tolerance = 1e-9 * std::max(1.0, tool.diagonal());
    std::vector<Shape> kept;
    std::vector<std::size_t> positions;
    const std::deque<StlShell*>& shells = tool.shells();
    for (std::size_t i = 0; i < shells.size(); ++i) {
        Shape shape;
        const std::vector<const StlTriangle*> live = liveTrianglesOf(shells[i]);
        for (const StlTriangle* t : live) {
            int first = 0;
            for (int k = 1; k < 3; ++k)
                if (std::lexicographical_compare(t->vertices[k]->pos.data(), t->vertices[k]->pos.data() + 3,
                                                 t->vertices[first]->pos.data(), t->vertices[first]->pos.data() + 3))
                    first = k;
            std::array<double, 9> corners{};
            for (int k = 0; k < 3; ++k) {
                const Vector3D& p = t->vertices[(first + k) % 3]->pos;
                for (int a = 0; a < 3; ++a)
                    corners[static_cast<std::size_t>(3 * k + a)] = p[a];
                shape.corners.push_back({p.x, p.y, p.z});
            }
            shape.triangles.push_back(corners);
        }
        std::sort(shape.triangles.begin(), shape.triangles.end());
        std::sort(shape.corners.begin(), shape.corners.end());
        shape.corners.erase(std::unique(shape.corners.begin(), shape.corners.end()), shape.corners.end());
        shape.convex = isConvex(live, shape.corners, tolerance);
        const bool repeated = std::any_of(kept.begin(), kept.end(), [&](const Shape& k) {
            return k.triangles == shape.triangles ||
                   (k.convex && shape.convex && sameCorners(k.corners, shape.corners, tolerance));
        });
        if (!repeated) {
            kept.push_back(std::move(shape));
            positions.push_back(i);
        }
    }
    return positions;
}

// The tool's shells sorted into layers in which no two shells have overlapping
// boxes, each layer as a mesh of its own with edges, shells and octree. Empty
// when one layer takes every shell (the usual case: separate holes).
std::vector<std::unique_ptr<StlObject>> overlapFreeLayers(const StlObject& tool) {
    const std::deque<StlShell*>& shells = tool.shells();
    std::vector<std::size_t> layerOf(shells.size(), 0);
    std::size_t layerCount = shells.empty() ? 0 : 1;
    for (std::size_t i = 0; i < shells.size(); ++i) {
        auto clashes = [&](std::size_t layer) {
            for (std::size_t j = 0; j < i; ++j)
                if (layerOf[j] == layer && boxesOverlap(shells[i], shells[j]))
                    return true;
            return false;
        };
        while (clashes(layerOf[i]))
            ++layerOf[i];
        layerCount = std::max(layerCount, layerOf[i] + 1);
    }
    std::vector<std::unique_ptr<StlObject>> layers;
    if (layerCount < 2)
        return layers;
    for (std::size_t layer = 0; layer < layerCount; ++layer) {
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < shells.size(); ++i)
            if (layerOf[i] == layer)
                which.push_back(i);
        layers.push_back(meshOfShells(tool, which));
    }
    return layers;
}

// Tool corners that lie on a face of the model (a cap flush with a face, a
// tool resting on the model or tangent to it) would make the cut coplanar or
// let it graze. Each such corner moves by `shift` along the outward normal of
// the model's faces it lies on: a flush cap then reaches just beyond the face
// (a through hole or an open pocket), a tool that only touches comes off the
// model (nothing is cut). A corner counts as on a face within `onFace` of its
// plane and inside it. Returns whether a corner moved; the tool's normals and
// octree are renewed then.
bool releaseContacts(StlObject& model, StlObject& tool, double onFace, double shift) {
    std::vector<Vector3D> push(tool.vertices().size());
    std::vector<std::vector<const StlTriangle*>> faces(tool.vertices().size());
    model.octree()->forEachCandidatePair(
        model.octreeOrigin(), model.octreeEdge(), *tool.octree(), tool.octreeOrigin(),
        tool.octreeEdge(), [&](StlTriangle* s, StlTriangle* t) {
            const Vector3D& n = s->normal;
            const Vector3D& a = s->vertices[0]->pos;
            auto onPlane = [&](const StlVertex* v) { return std::fabs((v->pos - a).dot(n)) <= onFace; };
            // Side of p against the line through s's corners k, k + 1, in s's plane
            // (positive inside), as a distance.
            auto sideOf = [&](int k, const Vector3D& p) {
                const Vector3D& c0 = s->vertices[k]->pos;
                const Vector3D edge = s->vertices[(k + 1) % 3]->pos - c0;
                const double len = std::sqrt(edge.lengthSquared());
                return len > 0.0 ? edge.cross(p - c0).dot(n) / len : -1.0;
            };
            auto inside = [&](const Vector3D& p) {
                return sideOf(0, p) >= -onFace && sideOf(1, p) >= -onFace && sideOf(2, p) >= -onFace;
            };
            // Whether the segment pq (in s's plane) meets s: an end inside, or a
            // crossing of one of s's sides.
            auto meets = [&](const Vector3D& p, const Vector3D& q) {
                if (inside(p) || inside(q))
                    return true;
                for (int k = 0; k < 3; ++k) {
                    const Vector3D& c0 = s->vertices[k]->pos;
                    const Vector3D& c1 = s->vertices[(k + 1) % 3]->pos;
                    const double d0 = sideOf(k, p), d1 = sideOf(k, q);
                    const Vector3D pq = q - p;
                    const double e0 = pq.cross(c0 - p).dot(n), e1 = pq.cross(c1 - p).dot(n);
                    if (d0 * d1 < 0.0 && e0 * e1 < 0.0)
                        return true;
                }
                return false;
            };
            auto pushAlong = [&](StlVertex* v) {
                std::vector<const StlTriangle*>& seen = faces[static_cast<std::size_t>(v->index)];
                if (std::find(seen.begin(), seen.end(), s) != seen.end())
                    return;
                // One push per face plane: triangles of one flat face add their
                // normal once.
                bool samePlane = false;
                for (const StlTriangle* o : seen)
                    samePlane = samePlane || o->normal.dot(n) > 1.0 - 1e-12;
                seen.push_back(s);
                if (!samePlane)
                    push[static_cast<std::size_t>(v->index)] += n;
            };
            // Corners on the face, and sides lying in its plane across it.
            for (int k = 0; k < 3; ++k) {
                StlVertex* v = t->vertices[k];
                StlVertex* w = t->vertices[(k + 1) % 3];
                if (onPlane(v) && inside(v->pos))
                    pushAlong(v);
                if (onPlane(v) && onPlane(w) && meets(v->pos, w->pos)) {
                    pushAlong(v);
                    pushAlong(w);
                }
            }
        });
    bool moved = false;
    for (StlVertex* v : tool.vertices()) {
        Vector3D d = push[static_cast<std::size_t>(v->index)];
        if (d.normalize() == 0.0)
            continue;
        v->pos += d * shift;
        moved = true;
    }
    if (!moved)
        return false;
    for (StlTriangle* t : tool.triangles())
        if (!t->isDeleted())
            t->computeNormal();
    tool.computeBoundingBox();
    tool.setBoundingBox(tool.bboxMin(), tool.bboxMax());
    tool.rebuildOctree();
    return true;
}

// The passes below visit every triangle or edge of a model of millions, where
// each item costs a few reads from memory: they run in pieces on threads.
constexpr std::size_t kPassPiece = std::size_t(1) << 14;

std::size_t passPieces(std::size_t n) { return (n + kPassPiece - 1) / kPassPiece; }

// Runs body(piece, begin, end) for the pieces of [0, n) on threads.
template <typename Body>
void forPassPieces(std::size_t n, const Body& body) {
    forEachPiece(importThreads(n), passPieces(n), [&](std::size_t piece, unsigned) {
        body(piece, piece * kPassPiece, std::min(n, (piece + 1) * kPassPiece));
    });
}

// Adds six times the signed volume of every live triangle of `triangles` to
// `sum`, in their order: the terms are worked out on threads a block at a time
// and added here one by one, so the sum is the plain loop's, bit for bit.
template <typename Triangles>
double addVolumeTerms(const Triangles& triangles, double sum) {
    constexpr std::size_t kBlock = std::size_t(1) << 20;
    const std::size_t n = triangles.size();
    std::vector<double> terms(std::min(n, kBlock));
    for (std::size_t first = 0; first < n; first += kBlock) {
        const std::size_t count = std::min(kBlock, n - first);
        forPassPieces(count, [&](std::size_t, std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                const StlTriangle* t = triangles[first + i];
                terms[i] = t->isDeleted() ? 0.0
                                          : t->vertices[0]->pos.dot(t->vertices[1]->pos.cross(t->vertices[2]->pos));
            }
        });
        for (std::size_t i = 0; i < count; ++i)
            sum += terms[i];
    }
    return sum;
}

// The signed volume enclosed by the live triangles of one shell.
double shellVolume(const StlShell* shell) {
    return addVolumeTerms(shell->reversedTriangles, addVolumeTerms(shell->primaryTriangles, 0.0)) / 6.0;
}

// An axis-aligned box, grown point by point from empty.
struct Box {
    Vector3D lo{1e300, 1e300, 1e300};
    Vector3D hi{-1e300, -1e300, -1e300};

    void add(const Vector3D& p) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    }
    bool holds(const Vector3D& p, double margin) const {
        for (int k = 0; k < 3; ++k)
            if (p[k] < lo[k] - margin || p[k] > hi[k] + margin)
                return false;
        return true;
    }
};

// Where the tool lies: one box around all of it and one around each shell (a
// hole each).
struct ToolBoxes {
    Box all;
    std::vector<Box> shells;
};

// The checks a clean subtraction passes (see the class comment); `before` and
// `toolVolume` are the volumes before the cut. The sides checked are those
// near a hole, in its own box: the box around holes on opposite sides of a
// large model holds most of it, and with it the sides a mesher leaves a
// float's step apart, which welding by position pairs four at a time long
// before any cut.
// The size the checks' tolerances scale with.
double checkSize(const StlObject& A, const ToolBoxes& tool) {
    return std::max(A.diagonal(), (tool.all.hi - tool.all.lo).dot(Vector3D(1.0, 1.0, 1.0)));
}

// Shells of next to no volume (slivers between coincident faces, or tiny
// closed pockets the model brought along).
std::size_t tinyShellCount(const StlObject& A, double size) {
    const double tiny = 1e-9 * size * size * size;
    std::size_t n = 0;
    for (const StlShell* shell : A.shells())
        n += std::fabs(shellVolume(shell)) <= tiny ? 1 : 0;
    return n;
}

bool resultIsClean(const StlObject& A, const ToolBoxes& tool, double before, double toolVolume,
                   std::size_t tinyShellsBefore) {
    const double size = checkSize(A, tool);
    // Sides near the tool, welded by position: each exactly twice.
    const double margin = 1e-6 * size;
    auto near = [&](const Vector3D& p) {
        if (!tool.all.holds(p, margin))
            return false;
        if (tool.shells.empty())
            return true;
        for (const Box& box : tool.shells)
            if (box.holds(p, margin))
                return true;
        return false;
    };
    // Positions in single precision, as a saved file holds them; each piece of
    // the triangles lists its own.
    using Side = std::array<float, 6>;
    const auto& triangles = A.triangles();
    std::vector<std::vector<Side>> pieceSides(passPieces(triangles.size()));
    forPassPieces(triangles.size(), [&](std::size_t piece, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const StlTriangle* t = triangles[i];
            if (t->isDeleted() || !(near(t->vertices[0]->pos) || near(t->vertices[1]->pos) || near(t->vertices[2]->pos)))
                continue;
            for (int k = 0; k < 3; ++k) {
                // Both triangles of a side with an end near the tool are listed.
                if (!near(t->vertices[k]->pos) && !near(t->vertices[(k + 1) % 3]->pos))
                    continue;
                std::array<float, 3> a{}, b{};
                for (int c = 0; c < 3; ++c) {
                    a[static_cast<std::size_t>(c)] = static_cast<float>(t->vertices[k]->pos[c]);
                    b[static_cast<std::size_t>(c)] = static_cast<float>(t->vertices[(k + 1) % 3]->pos[c]);
                }
                if (b < a)
                    std::swap(a, b);
                pieceSides[piece].push_back({a[0], a[1], a[2], b[0], b[1], b[2]});
            }
        }
    });
    std::vector<Side> sides;
    for (const std::vector<Side>& some : pieceSides)
        sides.insert(sides.end(), some.begin(), some.end());
    std::sort(sides.begin(), sides.end());
    for (std::size_t i = 0; i < sides.size();) {
        std::size_t j = i + 1;
        while (j < sides.size() && sides[j] == sides[i])
            ++j;
        if (j - i != 2)
            return false;
        i = j;
    }
    // No new shell of next to no volume (slivers between coincident faces);
    // tiny pockets the model had before the cut, away from it, stay as they were.
    const double tiny = 1e-9 * size * size * size;
    if (tinyShellCount(A, size) > tinyShellsBefore)
        return false;
    // The volume lost lies between nothing and the whole tool.
    const double after = liveVolume(A);
    const double slack = 1e-6 * std::fabs(before) + tiny;
    return after <= before + slack && after >= before - std::fabs(toolVolume) - slack;
}

// Scales a mesh by a power of two, which is exact for every coordinate: the
// vertices, box, octree frame, measures, volume reference and shell records.
void scaleByPowerOfTwo(StlObject& mesh, double f) {
    const double s[3] = {f, f, f};
    mesh.scale(s);
    for (StlShell* shell : mesh.shells()) {
        shell->boxMin *= f;
        shell->boxMax *= f;
        shell->area *= f * f;
        shell->volume *= f * f * f;
    }
    Vector3D reference(mesh.volumeReference());
    reference *= f;
    mesh.setVolumeReference(reference.data());
}

// The power of two that brings a model of the given box diagonal to at least
// the tolerance reference size; 1 for models that size or larger.
double normalisingFactor(double diagonal) {
    if (!(diagonal > 0.0) || !std::isfinite(diagonal) || diagonal >= StlObject::kToleranceReferenceSize)
        return 1.0;
    const int k = static_cast<int>(std::ceil(std::log2(StlObject::kToleranceReferenceSize / diagonal)));
    return std::ldexp(1.0, std::min(k, 200));
}

} // namespace

std::size_t countUnpairedEdges(const StlObject& mesh) {
    const auto& edges = mesh.edges();
    std::vector<std::size_t> counts(passPieces(edges.size()), 0);
    forPassPieces(edges.size(), [&](std::size_t piece, std::size_t begin, std::size_t end) {
        std::size_t unpaired = 0;
        for (std::size_t i = begin; i < end; ++i) {
            int live = 0;
            for (const StlTriangle* t : *edges[i])
                if (!t->isDeleted())
                    ++live;
            if (live != 0 && live != 2)
                ++unpaired;
        }
        counts[piece] = unpaired;
    });
    std::size_t n = 0;
    for (std::size_t c : counts)
        n += c;
    return n;
}

double liveVolume(const StlObject& mesh) { return addVolumeTerms(mesh.triangles(), 0.0) / 6.0; }

bool MeshBoolean::subtract() {
    // The cutter, the retriangulation and the inside tests decide with length
    // tolerances meant for models of at least the reference size. A smaller
    // model is cut at a size scaled up by a power of two (exact both ways), so
    // that it meets the same decisions as the same model at that size.
    const double f = target && tool ? normalisingFactor(target->diagonal()) : 1.0;
    if (f == 1.0)
        return subtractHere();
    scaleByPowerOfTwo(*target, f);
    scaleByPowerOfTwo(*tool, f);
    const bool ok = subtractHere();
    scaleByPowerOfTwo(*target, 1.0 / f);
    scaleByPowerOfTwo(*tool, 1.0 / f);
    return ok;
}

bool MeshBoolean::subtractHere() {
    m_failure = Failure::None;
    m_cutTarget = m_cutTool = m_keptTool = 0;
    if (!target || !tool || !target->octree() || !tool->octree()) {
        m_failure = Failure::NoOctree;
        return false;
    }
    const std::size_t openBefore = countUnpairedEdges(*target);
    const double volumeBefore = liveVolume(*target);
    std::unique_ptr<StlObject> targetCopy = m_keepsTargetCopy ? snapshotOf(*target) : nullptr;
    std::unique_ptr<StlObject> toolCopy = snapshotOf(*tool);

    // A shell that repeats another exactly (a hole placed twice at one spot)
    // is cut once: cut again, its wall would lie on the hole's wall.
    std::unique_ptr<StlObject> distinct;
    const std::vector<std::size_t> kept = distinctShells(*tool);
    if (kept.size() < tool->shells().size())
        distinct = meshOfShells(*tool, kept);
    StlObject& cutTool = distinct ? *distinct : *tool;
    // Sizes here are at least the reference size (see subtract). A corner within
    // 1e-4 of the size from a face touches it and moves off by 1e-3 of the size:
    // the cutter handles tool walls that pass a face by that much, while walls
    // that pass it by much less leave slivers it cannot always settle.
    const double size = std::max(target->diagonal(), StlObject::kToleranceReferenceSize);
    releaseContacts(*target, cutTool, 1e-4 * size, 1e-3 * size);
    const double toolVolume = liveVolume(cutTool);
    ToolBoxes toolBoxes;
    for (const StlVertex* v : cutTool.vertices())
        toolBoxes.all.add(v->pos);
    for (const StlShell* shell : cutTool.shells()) {
        Box box;
        for (const StlTriangle* t : liveTrianglesOf(shell))
            for (int k = 0; k < 3; ++k)
                box.add(t->vertices[k]->pos);
        if (box.lo[0] <= box.hi[0])
            toolBoxes.shells.push_back(box);
    }
    const std::size_t tinyBefore = tinyShellCount(*target, checkSize(*target, toolBoxes));

    // Tools that overlap each other are cut one layer after the other: cut
    // together, neither wall would be cut by the other, and the part of one wall
    // that runs inside the other hole would stay as a wall across the channel.
    std::vector<std::unique_ptr<StlObject>> layers = overlapFreeLayers(cutTool);
    // The working state of this subtraction's cuts: every context they file,
    // the crossing budget and the failed replacements.
    TriangleCutter cutter(m_crossingBudget);
    bool ok = true;
    if (layers.empty()) {
        ok = run(cutTool, cutter);
    } else {
        for (std::size_t i = 0; i < layers.size() && ok; ++i) {
            ok = run(*layers[i], cutter);
            cutter.releaseContexts(*layers[i]);
        }
    }
    if (ok && countUnpairedEdges(*target) > openBefore) {
        m_failure = Failure::OpenResult;
        ok = false;
    }
    if (ok && m_cutTarget > 0 && !resultIsClean(*target, toolBoxes, volumeBefore, toolVolume, tinyBefore)) {
        m_failure = Failure::BrokenResult;
        ok = false;
    }
    cutter.releaseContexts(*target);
    cutter.releaseContexts(*tool);
    if (distinct)
        cutter.releaseContexts(*distinct);
    if (!ok) {
        if (targetCopy)
            target->swapMeshWith(*targetCopy);
        tool->swapMeshWith(*toolCopy);
        return false;
    }
    return true;
}

bool MeshBoolean::run(StlObject& B, TriangleCutter& cutter) {
    StlObject& A = *target;

    // 1. Pairs of crossing triangles.
    std::deque<SnapRecord> snaps;
    std::vector<StlTriangle*> coplanar;
    bool found = false;
    CutterRecorder recorder(cutter);
    MeshOctree::collectIntersectionSegments(*A.octree(), A.octreeOrigin(), A.octreeEdge(), *B.octree(),
                                            B.octreeOrigin(), B.octreeEdge(), &snaps, &coplanar, &found, recorder);
    for (StlTriangle* t : coplanar)
        t->setWalkMark(0);
    if (!found) {
        A.clearVertexMarks();
        B.clearVertexMarks();
        return true;
    }

    // 2. Segments of every pair, filed with both triangles.
    std::vector<ShortPair> shortPairs;
    std::vector<StlTriangle*> cutA, cutB;
    const std::size_t countA = A.triangles().size();
    for (std::size_t i = 0; i < countA; ++i) {
        StlTriangle* t = A.triangles()[i];
        TriangleCutContext* ctx = t->isDeleted() ? nullptr : cutter.contextOf(t);
        if (!ctx || ctx->cutters.empty())
            continue;
        if (cutter.intersectTrianglePairs(ctx, shortPairs, &cutB) == 1)
            cutA.push_back(t);
    }
    for (StlTriangle* t : B.triangles())
        t->setWalkMark(0);
    m_cutTarget += cutA.size();
    m_cutTool += cutB.size();

    if ((cutA.empty() || cutB.empty()) && coplanar.empty()) {
        A.clearVertexMarks();
        B.clearVertexMarks();
        // Nothing was cut; the surfaces only touch. A snapped vertex has moved by
        // less than the tolerance, which the caller cannot tell from before.
        return true;
    }

    // 3. Resolve the crossings of every cut triangle, then replace them.
    for (std::vector<StlTriangle*>* list : {&cutA, &cutB}) {
        for (StlTriangle* t : *list) {
            TriangleCutContext* ctx = t->isDeleted() ? nullptr : cutter.contextOf(t);
            if (!ctx)
                continue;
            if (TriangleCutter::splitCrossingSegments(ctx, m_crossingBudget) != 0) {
                m_failure = Failure::UnresolvedCrossing;
                return false;
            }
        }
    }
    cutter.resetFailureCount();
    std::vector<StlTriangle*> addedA, addedB;
    std::vector<StlShell*> piecesA, piecesB;
    // Only the model's pieces that lie in the tool's box can lie inside the
    // tool: the model is not walked far beyond it. (The margin is far above
    // the snapping of cut corners.)
    PieceBounds toolBox;
    {
        Box box;
        for (const StlVertex* v : B.vertices())
            box.add(v->pos);
        const double pad = 1e-2 * std::max(A.diagonal(), StlObject::kToleranceReferenceSize);
        const Vector3D margin(pad, pad, pad);
        toolBox.lo = box.lo - margin;
        toolBox.hi = box.hi + margin;
    }
    const StlObject::CutRetriangulator replace = [&cutter](StlObject& mesh, StlTriangle* t) {
        cutter.retriangulateForMesh(mesh, t);
    };
    A.deleteTriangles(cutA, addedA, piecesA, replace, &toolBox);
    B.deleteTriangles(cutB, addedB, piecesB, replace);
    auto freePieces = [&]() {
        for (StlShell* s : piecesA)
            delete s;
        for (StlShell* s : piecesB)
            delete s;
    };
    if (cutter.failureCount() != 0) {
        freePieces();
        m_failure = Failure::Retriangulation;
        return false;
    }
    for (StlTriangle* t : coplanar)
        t->setDeleted(false);

    // 4. Tool pieces inside the model are kept; model pieces inside the tool go.
    std::vector<StlTriangle*> keep;
    for (StlShell* piece : piecesB) {
        if (pieceInside(piece, A))
            piece->appendTrianglesTo(keep);
    }
    std::vector<StlShell*> dropA;
    for (StlShell* piece : piecesA) {
        if (pieceInside(piece, B))
            dropA.push_back(piece);
    }
    for (StlShell* piece : dropA)
        piece->markTrianglesDeleted();

    // The walls of the hole face into it: addTrianglesWithTopology reverses them.
    m_keptTool += keep.size();
    A.addTrianglesWithTopology(keep);
    freePieces();
    A.clearVertexMarks();
    B.clearVertexMarks();
    A.findShells(false, 0);
    A.setModified();
    return true;
}

} // namespace topolib
