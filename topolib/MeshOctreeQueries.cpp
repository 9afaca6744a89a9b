// The queries of the mesh octree. Each is a recursive walk that prunes child
// cubes by a cheap cube test and applies an exact triangle test to the live
// triangles of the leaves it reaches. Children are visited in child order.

#include "topolib/GeometricPredicates.h"
#include "topolib/MeshOctree.h"
#include "topolib/OctreeKernels.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"
#include "topolib/TriangleIntersection.h"
#include "topolib/TruncatedCone.h"

#include <algorithm>
#include <cmath>

namespace topolib {

namespace {

// The vertical-line cell tests: on x and y, cubeMin - tol < p < cubeMin + edge + tol.
inline bool columnMeetsCell(const double o[3], double edge, const double p[3], double tol) {
    return o[0] - tol < p[0] && p[0] < o[0] + edge + tol && o[1] - tol < p[1] && p[1] < o[1] + edge + tol;
}

inline void copy3(const double* src, double* dst) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
}

} // namespace

// Visits the leaves reached through children that pass childTest(origin, edge);
// leafBody(node) returns true to stop the walk, which then returns true.
template <typename ChildTest, typename LeafBody>
bool MeshOctree::walk(std::uint32_t node, const double origin[3], double edge, ChildTest& childTest,
                      LeafBody& leafBody) const {
    const Node& n = nodes_[node];
    if (n.isLeaf())
        return leafBody(n);
    const double half = edge * 0.5;
    for (int k = 0; k < 8; ++k) {
        const std::uint32_t c = n.children[k];
        if (c == kNone)
            continue;
        double o[3];
        childOrigin(origin, edge, k, o);
        if (!childTest(o, half))
            continue;
        if (walk(c, o, half, childTest, leafBody))
            return true;
    }
    return false;
}

void MeshOctree::pickTriangleOnLine(const double origin[3], double edge, const double q[3], const double d[3],
                                    double best[3], StlTriangle** out) const {
    if (nodes_.empty())
        return;
    auto childTest = [&](const double o[3], double e) { return lineMeetsCube(q, d, o, &e); };
    auto leaf = [&](const Node& n) {
        listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            double h[3];
            if (t->isDeleted() || !t->lineHit(q, d, h))
                return false;
            // The hit farthest along d wins; the line runs both ways.
            if ((h[0] - best[0]) * d[0] + (h[1] - best[1]) * d[1] + (h[2] - best[2]) * d[2] > 0.0) {
                copy3(h, best);
                *out = t;
            }
            return false;
        });
        return false;
    };
    walk(0, origin, edge, childTest, leaf);
}

bool MeshOctree::anyTriangleUnderPoint(const double origin[3], double edge, const double p[3], double tol) const {
    if (nodes_.empty())
        return false;
    auto childTest = [&](const double o[3], double e) {
        for (int k = 0; k < 3; ++k) {
            if (!(o[k] - tol < p[k] && p[k] < o[k] + e + tol))
                return false;
        }
        return true;
    };
    auto leaf = [&](const Node& n) {
        return listForEach(triangleChunks_, n.triangles,
                           [&](StlTriangle* t) { return !t->isDeleted() && t->containsProjectedPoint(p); });
    };
    return walk(0, origin, edge, childTest, leaf);
}

bool MeshOctree::anyLeafCentreInPolygon(const double origin[3], double edge, const std::vector<const double*>& polygon,
                                        const double normal[3]) const {
    if (nodes_.empty() || polygon.empty())
        return false;
    // Every child is visited; the leaf's cube is needed, so this walk keeps its own recursion.
    struct Rec {
        const MeshOctree& tree;
        const std::vector<const double*>& polygon;
        const double* normal;
        bool operator()(std::uint32_t node, const double o[3], double e) const {
            const Node& n = tree.nodes_[node];
            if (n.isLeaf()) {
                double centre[3] = {o[0] + e * 0.5, o[1] + e * 0.5, o[2] + e * 0.5};
                double projected[3];
                projectPointOnPlane(centre, polygon[0], normal, projected);
                return pointInPolygon3D(projected, polygon, normal);
            }
            for (int k = 0; k < 8; ++k) {
                if (n.children[k] == kNone)
                    continue;
                double co[3];
                childOrigin(o, e, k, co);
                if ((*this)(n.children[k], co, e * 0.5))
                    return true;
            }
            return false;
        }
    };
    return Rec{*this, polygon, normal}(0, origin, edge);
}

void MeshOctree::lowestTriangleAtXY(const double origin[3], double edge, const double p[3], int group, double* best,
                                    StlTriangle** out) const {
    if (nodes_.empty())
        return;
    auto childTest = [&](const double o[3], double e) { return columnMeetsCell(o, e, p, 1e-5); };
    auto leaf = [&](const Node& n) {
        listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            if (t->isDeleted() || t->group() != group)
                return false;
            const double h = triangleHeightAt(t, p[0], p[1]);
            if (h > -1e-6 && h < *best) {
                *best = h;
                if (out)
                    *out = t;
            }
            return false;
        });
        return false;
    };
    walk(0, origin, edge, childTest, leaf);
}

void MeshOctree::highestUpFacingTriangleBelow(const double origin[3], double edge, const double p[3], double upper,
                                              double* best, double normalOut[3]) const {
    if (nodes_.empty())
        return;
    auto childTest = [&](const double o[3], double e) { return upper > o[2] && columnMeetsCell(o, e, p, 1e-5); };
    auto leaf = [&](const Node& n) {
        listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            // Up-facing: steeper than 5 degrees from vertical.
            if (t->isDeleted() || !(t->normal.z > 0.08715574))
                return false;
            const double h = triangleHeightAt(t, p[0], p[1]);
            if (h > *best && h < upper) {
                *best = h;
                copy3(t->normal.data(), normalOut);
            }
            return false;
        });
        return false;
    };
    walk(0, origin, edge, childTest, leaf);
}

void MeshOctree::highestUpFacingPointWithin(const double origin[3], double edge, int group, const double p[3],
                                            double r, double upper, double best[3], double normalOut[3]) const {
    if (nodes_.empty())
        return;
    auto childTest = [&](const double o[3], double e) { return upper > o[2] && columnMeetsCell(o, e, p, r + 1e-5); };
    const double r2 = r * r;
    auto leaf = [&](const Node& n) {
        listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            if (t->isDeleted() || t->group() == group || !(t->normal.z > 1e-5))
                return false;
            const Vector3D& nrm = t->normal;
            if (t->containsPointXY(p)) {
                const Vector3D& v0 = t->vertices[0]->pos;
                const double h = v0.z + ((v0.y - p[1]) * nrm.y + (v0.x - p[0]) * nrm.x) / nrm.z;
                if (h > best[2] - 1e-6) {
                    if (h > best[2] && h < upper) {
                        best[0] = p[0];
                        best[1] = p[1];
                        best[2] = h;
                        copy3(nrm.data(), normalOut);
                    }
                    return false;
                }
            }
            // The column's rim may land on an edge of the triangle.
            for (int i = 0; i < 3; ++i) {
                const Vector3D& a = t->vertices[i]->pos;
                const Vector3D& b = t->vertices[(i + 1) % 3]->pos;
                if (!(pointSegmentDistSq2D(p, a.data(), b.data()) < r2))
                    continue;
                const double ex = b.x - a.x, ey = b.y - a.y, ez = b.z - a.z;
                const double ee = ex * ex + ey * ey;
                // A vertical edge is one point seen from above: its top end lands first.
                double s = ee > 0.0 ? ((p[0] - a.x) * ex + (p[1] - a.y) * ey) / ee : (ez > 0.0 ? 1.0 : 0.0);
                s = std::min(1.0, std::max(0.0, s));
                const double z = a.z + s * ez;
                if (z > best[2] && z < upper) {
                    best[0] = a.x + s * ex;
                    best[1] = a.y + s * ey;
                    best[2] = z;
                    copy3(nrm.data(), normalOut);
                }
            }
            return false;
        });
        return false;
    };
    walk(0, origin, edge, childTest, leaf);
}

void MeshOctree::countCrossingsBelow(const double origin[3], double edge, const double p[3], int* count,
                                     std::vector<StlTriangle*>& touched, double lengthScale) const {
    if (nodes_.empty())
        return;
    // A crossing counts when it lies at least this far below p (a length, so it
    // follows the tolerance scale of the mesh being asked).
    const double below = 0.001 * lengthScale;
    // The cell test's margin only lets more cells be visited; the triangle
    // test decides.
    auto childTest = [&](const double o[3], double e) { return columnMeetsCell(o, e, p, 1e-5) && p[2] > o[2]; };
    auto leaf = [&](const Node& n) {
        listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            // Mark 1: already counted through a shared vertex or edge, or met in
            // another leaf.
            if (t->isDeleted() || t->walkMark() == 1)
                return false;
            // The kernel collects exactly the triangles it meets, so a grown list
            // tells a crossing from a miss (-1.0). Judging by the height instead
            // would drop every crossing at or below z = 0: an object resting on the
            // platform would have no bottom, and its inside points would be outside.
            const std::size_t before = touched.size();
            const double h = triangleHeightAtMarking(t, p[0], p[1], touched, lengthScale);
            if (touched.size() > before && h < p[2] - below)
                *count += t->normal.z > 0.0 ? 1 : -1;
            return false;
        });
        return false;
    };
    walk(0, origin, edge, childTest, leaf);
}

bool MeshOctree::anyTriangleInCylinder(const double origin[3], double edge, const double cylinder[8]) const {
    if (nodes_.empty())
        return false;
    auto childTest = [&](const double o[3], double e) { return cylinderMayTouchCube(cylinder, o, &e); };
    auto leaf = [&](const Node& n) {
        return listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            return !t->isDeleted() &&
                   triangleIntersectsCylinder(t, cylinder + 2, cylinder + 5, cylinder + 0, cylinder + 1);
        });
    };
    return walk(0, origin, edge, childTest, leaf);
}

bool MeshOctree::anyTriangleInTruncatedCone(const double origin[3], double edge,
                                            const Misc::VBTruncatedCone& cone) const {
    if (nodes_.empty())
        return false;
    auto childTest = [&](const double o[3], double e) { return cone.intersectsCell(o, &e); };
    auto leaf = [&](const Node& n) {
        return listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            return !t->isDeleted() && triangleIntersectsTruncatedCone(t, &cone);
        });
    };
    return walk(0, origin, edge, childTest, leaf);
}

bool MeshOctree::collectRayHits(const double origin[3], double edge, const double q[3], const double d[3],
                                std::set<StlTriangle*>* hits, double lengthScale) const {
    if (nodes_.empty())
        return false;
    auto childTest = [&](const double o[3], double e) { return rayMeetsCube(q, d, o, &e); };
    auto leaf = [&](const Node& n) {
        return listForEach(triangleChunks_, n.triangles, [&](StlTriangle* t) {
            if (t->isDeleted() || !rayHitsTriangle(t, q, d, lengthScale))
                return false;
            if (!hits)
                return true;
            hits->insert(t);
            return false;
        });
    };
    const bool stopped = walk(0, origin, edge, childTest, leaf);
    return hits ? !hits->empty() : stopped;
}

// ---- two trees at once ------------------------------------------------------------------

void MeshOctree::pairWalk(const MeshOctree& ta, std::uint32_t a, const double originA[3], double edgeA,
                          const MeshOctree& tb, std::uint32_t b, const double originB[3], double edgeB, bool swapped,
                          const PairVisitor& visit) {
    const Node& na = ta.nodes_[a];
    const Node& nb = tb.nodes_[b];
    // Closed cubes: touching cells are paired too.
    auto overlaps = [](const double c[3], double ec, const double o[3], double eo) {
        for (int k = 0; k < 3; ++k) {
            if (!(o[k] <= c[k] + ec && c[k] <= o[k] + eo))
                return false;
        }
        return true;
    };
    if (!na.isLeaf()) {
        const double half = edgeA * 0.5;
        for (int k = 0; k < 8; ++k) {
            if (na.children[k] == kNone)
                continue;
            double co[3];
            childOrigin(originA, edgeA, k, co);
            if (overlaps(co, half, originB, edgeB))
                pairWalk(ta, na.children[k], co, half, tb, b, originB, edgeB, swapped, visit);
        }
        return;
    }
    if (!nb.isLeaf()) {
        const double half = edgeB * 0.5;
        for (int k = 0; k < 8; ++k) {
            if (nb.children[k] == kNone)
                continue;
            double co[3];
            childOrigin(originB, edgeB, k, co);
            if (overlaps(co, half, originA, edgeA))
                pairWalk(tb, nb.children[k], co, half, ta, a, originA, edgeA, !swapped, visit);
        }
        return;
    }
    listForEach(ta.triangleChunks_, na.triangles, [&](StlTriangle* s) {
        if (s->isDeleted())
            return false;
        listForEach(tb.triangleChunks_, nb.triangles, [&](StlTriangle* t) {
            if (!t->isDeleted()) {
                if (swapped)
                    visit(t, s);
                else
                    visit(s, t);
            }
            return false;
        });
        return false;
    });
}

void MeshOctree::forEachCandidatePair(const double origin[3], double edge, const MeshOctree& other,
                                      const double otherOrigin[3], double otherEdge, const PairVisitor& visit) const {
    if (nodes_.empty() || other.nodes_.empty())
        return;
    pairWalk(*this, 0, origin, edge, other, 0, otherOrigin, otherEdge, false, visit);
}

void MeshOctree::collectIntersectionSegments(const MeshOctree& a, const double originA[3], double edgeA,
                                             const MeshOctree& b, const double originB[3], double edgeB,
                                             std::deque<SnapRecord>* snapList, std::vector<StlTriangle*>* coplanar,
                                             bool* found, CutterSink& sink) {
    a.forEachCandidatePair(originA, edgeA, b, originB, edgeB, [&](StlTriangle* s, StlTriangle* t) {
        if (s->walkMark() == 1 && t->walkMark() == 1)
            return;
        if (trianglesCoplanarOverlap(s, t, 1e-6, 1e-6)) {
            // Coplanar overlaps are resolved apart from the cut: collect each once.
            for (StlTriangle* u : {s, t}) {
                if (u->walkMark() != 1) {
                    u->setWalkMark(1);
                    if (coplanar)
                        coplanar->push_back(u);
                }
            }
            return;
        }
        if (sink.alreadyRecorded(s, t))
            return;
        if (TriangleCutter::prefilterPair(s, t, snapList)) {
            sink.record(s, t);
            sink.record(t, s);
            if (found)
                *found = true;
        }
    });
}

// ---- inspection ---------------------------------------------------------------------------

void MeshOctree::forEachLeaf(const double origin[3], double edge, const LeafVisitor& f) const {
    if (nodes_.empty())
        return;
    struct Rec {
        const MeshOctree& tree;
        const LeafVisitor& f;
        std::vector<StlVertex*> vs;
        std::vector<StlTriangle*> ts;
        void operator()(std::uint32_t node, const double o[3], double e) {
            const Node& n = tree.nodes_[node];
            if (n.isLeaf()) {
                if (n.vertices.count == 0 && n.triangles.count == 0)
                    return;
                vs.clear();
                ts.clear();
                listForEach(tree.vertexChunks_, n.vertices, [&](StlVertex* v) {
                    vs.push_back(v);
                    return false;
                });
                listForEach(tree.triangleChunks_, n.triangles, [&](StlTriangle* t) {
                    ts.push_back(t);
                    return false;
                });
                f(o, e, vs, ts);
                return;
            }
            for (int k = 0; k < 8; ++k) {
                if (n.children[k] == kNone)
                    continue;
                double co[3];
                childOrigin(o, e, k, co);
                (*this)(n.children[k], co, e * 0.5);
            }
        }
    };
    Rec rec{*this, f, {}, {}};
    rec(0, origin, edge);
}

} // namespace topolib
