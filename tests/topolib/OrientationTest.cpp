// Turning closed inside-out shells outward: the result must be the mesh the
// outward soup builds, with a topology that still agrees with itself.
#include "MeshFixtures.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <vector>

using namespace topolib;
namespace mf = meshfixtures;

namespace {

using Corner = std::array<double, 3>;
using Facet = std::array<Corner, 3>;

Corner cornerOf(const StlVertex* v) {
    return {v->x(), v->y(), v->z()};
}

// Every live triangle as its corners, rotated to start at the smallest corner
// (the winding is kept).
std::multiset<Facet> windings(const StlObject& mesh) {
    std::multiset<Facet> out;
    for (const StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted())
            continue;
        Facet f{cornerOf(t->vertices[0]), cornerOf(t->vertices[1]), cornerOf(t->vertices[2])};
        std::rotate(f.begin(), std::min_element(f.begin(), f.end()), f.end());
        out.insert(f);
    }
    return out;
}

// Edge k of every triangle joins its vertices k and k + 1; the normal is the
// one its corners give; every edge's ends run as its first triangle runs them.
void expectConsistentTopology(const StlObject& mesh) {
    for (const StlTriangle* t : mesh.triangles()) {
        if (t->isDeleted())
            continue;
        for (int k = 0; k < 3; ++k) {
            const StlEdge* e = t->edges[k];
            ASSERT_NE(e, nullptr);
            const std::set<const StlVertex*> ends{e->vertex(0), e->vertex(1)};
            EXPECT_EQ(ends, (std::set<const StlVertex*>{t->vertices[k], t->vertices[(k + 1) % 3]}));
        }
        const Vector3D& p0 = t->vertices[0]->pos;
        Vector3D n = (t->vertices[1]->pos - p0).cross(t->vertices[2]->pos - p0);
        n.normalizeAnyLength();
        EXPECT_NEAR((n - t->normal).lengthSquared(), 0.0, 1e-24);
    }
    for (const StlEdge* e : mesh.edges()) {
        const StlTriangle* first = e->triangle(0);
        const int side = e->sideIn(first);
        ASSERT_GE(side, 0);
        EXPECT_EQ(e->vertex(0), first->vertices[side]);
    }
}

} // namespace

TEST(ShellOrientation, insideOutClosedShellsTurnOutwardAndOpenOnesKeepTheirWinding) {
    const mf::TriangleSoup torus = mf::torus(10.0, 3.0, 24, 12, {0.0, 0.0, 20.0});
    const mf::TriangleSoup cube = mf::cube(5.0, {30.0, 0.0, 0.0});
    const mf::TriangleSoup openBox = mf::openBox(5.0, {-30.0, 0.0, 0.0});
    const mf::TriangleSoup outward = mf::concatenated(mf::concatenated(torus, cube), openBox);
    // The torus and the open box inside out, the cube as it should be.
    const mf::TriangleSoup mixed =
        mf::concatenated(mf::concatenated(mf::flipped(torus), cube), mf::flipped(openBox));

    auto reference = mf::buildMesh(outward);
    auto mesh = mf::buildMesh(mixed);
    ASSERT_LT(mesh->volume(), 0.0);
    const std::vector<uint8_t> classesBefore = [&] {
        std::vector<uint8_t> c;
        for (const StlEdge* e : mesh->edges())
            c.push_back(e->edgeClass);
        return c;
    }();

    EXPECT_EQ(mesh->orientClosedShellsOutward(), 1);

    // The torus is now wound as the outward soup winds it, the cube untouched
    // and the open box (which encloses nothing) left as it came.
    std::multiset<Facet> expected = windings(*reference);
    for (const Facet& f : windings(*mf::buildMesh(openBox)))
        expected.erase(expected.find(f));
    for (const Facet& f : windings(*mf::buildMesh(mf::flipped(openBox))))
        expected.insert(f);
    EXPECT_EQ(windings(*mesh), expected);
    expectConsistentTopology(*mesh);

    // Area and volume follow; the edges keep their classes.
    auto closedOnly = mf::buildMesh(mf::concatenated(torus, cube));
    auto openOnly = mf::buildMesh(mf::flipped(openBox));
    EXPECT_NEAR(mesh->volume(), closedOnly->volume() + openOnly->volume(), 1e-6 * closedOnly->volume());
    EXPECT_NEAR(mesh->area(), reference->area(), 1e-9 * reference->area());
    std::vector<uint8_t> classesAfter;
    for (const StlEdge* e : mesh->edges())
        classesAfter.push_back(e->edgeClass);
    EXPECT_EQ(classesAfter, classesBefore);

    // A new shell search finds each component consistently wound, and a second
    // call has nothing left to turn.
    mesh->findShells(false, 0);
    for (const StlShell* s : mesh->shells())
        EXPECT_TRUE(s->reversedTriangles.empty());
    EXPECT_EQ(mesh->orientClosedShellsOutward(), 0);
}

TEST(ShellOrientation, inconsistentlyWoundShellIsLeftAlone) {
    // One facet of the inside-out cube turned back: the surface no longer
    // runs each edge once each way, so its volume says nothing.
    auto mesh = mf::buildMesh(mf::flipped(mf::flipped(mf::cube(4.0)), 3));
    const std::multiset<Facet> before = windings(*mesh);
    EXPECT_EQ(mesh->orientClosedShellsOutward(), 0);
    EXPECT_EQ(windings(*mesh), before);
}

TEST(ShellOrientation, nestedShellsFollowTheirContainer) {
    // A hollowed ball: the outer surface faces out, the cavity's faces in.
    const mf::TriangleSoup outer = mf::icosphere(10.0, 2);
    const mf::TriangleSoup cavity = mf::flipped(mf::icosphere(7.0, 2));
    const mf::TriangleSoup hollow = mf::concatenated(outer, cavity);
    // Two solids, one inside the other, both facing out: a union, no cavity.
    const mf::TriangleSoup solidInSolid = mf::concatenated(outer, mf::icosphere(7.0, 2));
    // Two cubes pushed into each other, neither inside the other.
    const mf::TriangleSoup overlapping = mf::overlappingCubes(6.0);
    struct Case {
        const char* name;
        mf::TriangleSoup given;
        mf::TriangleSoup expected;
        int turned;
    };
    const Case cases[] = {
        {"hollow ball as it should be", hollow, hollow, 0},
        {"hollow ball inside out", mf::flipped(hollow), hollow, 2},
        {"solid in a solid", solidInSolid, solidInSolid, 0},
        {"overlapping cubes inside out", mf::flipped(overlapping), overlapping, 2},
        {"overlapping cubes, one inside out",
         mf::concatenated(mf::cube(6.0), mf::flipped(mf::cube(6.0, {3, 3, 3}))), overlapping, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto mesh = mf::buildMesh(c.given);
        EXPECT_EQ(mesh->orientClosedShellsOutward(), c.turned);
        EXPECT_EQ(windings(*mesh), windings(*mf::buildMesh(c.expected)));
        expectConsistentTopology(*mesh);
    }
    // A copy's shells carry no box: the nesting is measured all the same.
    auto source = mf::buildMesh(hollow);
    StlObject copy(*source);
    source->copyMeshTo(&copy);
    copy.buildEdges(false, 0, 0);
    EXPECT_EQ(copy.orientClosedShellsOutward(), 0);
    EXPECT_EQ(windings(copy), windings(*source));
}
