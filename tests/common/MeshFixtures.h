#pragma once
// Generated test meshes, shared by every test suite and benchmark. Meshes are
// triangle soups (three corners per facet, every shared corner repeated, as a
// mesh file delivers them) wound counter-clockwise seen from outside, plus a
// helper that turns a soup into a topolib::StlObject the way the STL readers do.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

namespace topolib {
class ImportSession;
class StlObject;
}

namespace meshfixtures {

using Point = std::array<double, 3>;

struct Facet {
    Point v[3];
};

using TriangleSoup = std::vector<Facet>;

// Axis-aligned cube of edge `size` with its minimum corner at `origin`: 12 facets.
TriangleSoup cube(double size = 10.0, const Point& origin = {0.0, 0.0, 0.0});
// Box with edges (sx, sy, sz) from `origin`: 12 facets.
TriangleSoup box(const Point& size, const Point& origin = {0.0, 0.0, 0.0});
// The cube without its top face (z = max): 10 facets, an open rim of 4 edges.
TriangleSoup openBox(double size = 10.0, const Point& origin = {0.0, 0.0, 0.0});
// Two cubes of edge `size`, the second moved by size/2 on every axis so that the
// two overlap: 24 facets, two components.
TriangleSoup overlappingCubes(double size = 10.0, const Point& origin = {0.0, 0.0, 0.0});
// Latitude-longitude sphere: `slices` around the z axis, `stacks` from pole to
// pole (>= 2): 2 · slices · (stacks - 1) facets, slices · (stacks - 1) + 2 vertices.
TriangleSoup uvSphere(double radius, int slices, int stacks, const Point& centre = {0.0, 0.0, 0.0});
// Subdivided icosahedron: 20 · 4^level facets, 10 · 4^level + 2 vertices.
TriangleSoup icosphere(double radius, int level, const Point& centre = {0.0, 0.0, 0.0});
// A closed, irregular sphere around the origin: as icosphere, but each new point
// lies at a random 20-80% of its edge and its radius is jittered by ±2%
// (repeatable for a seed).
TriangleSoup irregularIcosphere(double radius, int level, unsigned seed = 7);
// A closed, bumpy head of longest side `size` with two thin ears, like a scanned
// animal: an icosphere of the level, its radius rippled by a few per cent, two
// ears rising from the top whose necks are pinched narrower than their tips (a
// smooth one-to-one warp, so the surface never crosses itself). Walls of a few
// per cent of the size leave the ears' insides cut off from the body's.
TriangleSoup bumpyHead(double size, int level = 6);
// Torus around the z axis: major radius R, tube radius r, `majorSegments` ×
// `minorSegments` quads, 2 · major · minor facets, major · minor vertices,
// 3 · major · minor edges. 1000 × 500 gives the million-facet import mesh.
TriangleSoup torus(double majorRadius, double minorRadius, int majorSegments, int minorSegments,
                   const Point& centre = {0.0, 0.0, 0.0});
// Closed cylinder of radius r from p0 to p1 with `sides` sides and flat caps (a fan
// around each cap's centre): 4 · sides facets.
TriangleSoup cylinder(double radius, const Point& p0, const Point& p1, int sides = 32);
// Closed cone standing on `baseCentre`: its side and its base are fans of
// `blades` facets round the tip and round the base's centre (a hub each), in
// the order tip blade i, base blade i; 2 · blades facets. Rim point i lies at
// angle 2 pi i / blades.
TriangleSoup cone(int blades, double radius, double height, const Point& baseCentre = {0.0, 0.0, 0.0});
// A screw hanging from its head: a shank of core radius 4 with a helical thread
// 1 deep (outer radius 5, pitch 2, a trapezoid profile) from z = 0 to z = 42,
// and a flat head of radius 9.5 from z = 42 to 50 whose underside is a ledge of
// about 205 mm² around the shank. `sides` facets around, `rowsPerPitch` rows
// of the shank per turn: 2 · sides · (21 · rowsPerPitch + 3) facets.
TriangleSoup screw(int sides = 64, int rowsPerPitch = 8);
// One facet (0,0,0), (size,0,0), (0,size,0), normal +z.
TriangleSoup singleFacet(double size = 1.0);
// `blades` facets sharing the centre (0,0,0) in the z = 0 plane, spread over
// `spanDegrees` (360 closes the fan into a disc); normals +z.
TriangleSoup fan(int blades, double radius = 10.0, double spanDegrees = 180.0);

// Soup helpers.
TriangleSoup translated(TriangleSoup soup, const Point& d);
// Machined parts as overlapping solids, at their own size. A turned housing
// about 200 mm tall: a foot with a pocket's ceiling above it, a column with a
// 4 mm lip reaching 25 mm out and a 3 mm ring higher up, a thin upper column
// and a cross bar on two legs whose underside is a long ceiling.
TriangleSoup machinedHousing();
// A bracket 180 mm long: a plate, an upright wall, a roof hanging out over
// the plate with a 2 mm lip down its edge, ribs, and a boss with a ring.
TriangleSoup machinedBracket();
// The soup moved and scaled so that its largest side measures `size` and its
// box starts at the origin.
TriangleSoup fitted(TriangleSoup soup, double size);
// Reverses the winding of facet i (or of every facet when i < 0).
TriangleSoup flipped(TriangleSoup soup, long i = -1);
TriangleSoup concatenated(TriangleSoup a, const TriangleSoup& b);

// (b - a) x (c - a) for the corners a, b, c of f: it points outward on a facet
// wound counter-clockwise from outside, and its length is twice the facet's area.
Point facetCross(const Facet& f);

// Facets as an STL file stores them: file normal then the three corners, floats.
std::vector<std::array<float, 12>> toStlFacets(const TriangleSoup& soup);

// What buildMesh runs after the facets are in.
struct BuildSteps {
    bool edges = true;  // buildEdges (no progress report)
    bool shells = true; // findShells (only after edges)
};

// Fills `mesh` (which must be empty) from the soup as the STL readers do: room for
// the facets, addFacet for each (float corners, the first corner as the volume
// reference), weldFacetCorners, area and volume finalised, bounding box and
// loaded box from the float corners; then the requested topology steps. The
// steps hand over through `scratch` (a reader's, which the load's edge and
// shell steps take next) or, without one, through a scratch of their own.
void fillMesh(topolib::StlObject& mesh, const TriangleSoup& soup, BuildSteps steps = BuildSteps(),
              topolib::ImportSession* scratch = nullptr);
std::unique_ptr<topolib::StlObject> buildMesh(const TriangleSoup& soup, BuildSteps steps = BuildSteps());
// buildMesh with every step, then the mesh's octree (rebuildOctree), for the
// queries and edits that need one.
std::unique_ptr<topolib::StlObject> buildMeshWithOctree(const TriangleSoup& soup);

} // namespace meshfixtures
