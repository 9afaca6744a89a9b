#pragma once
// Closed test models whose local minima are known: what a support generator
// must reach. Each is one watertight surface wound outward, sizes in mm, its
// lowest point at z = 0 (the caller lifts it).

#include "MeshFixtures.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace islandshapes {

// A turn by `degrees` about the unit `axis` through the origin.
struct Rotation {
    meshfixtures::Point axis;
    double degrees;
};

struct Shape {
    std::string name;
    meshfixtures::TriangleSoup soup;
};

// sphere, standing torus, arch, bridge, downward cone tip, V-shaped keel,
// column with an overhanging ledge at mid-height, plate with stalactites.
std::vector<Shape> all();

// A closed slab over the n x n grid of unit cells from the origin: its
// underside z = bottom(i, j) at grid point (i, j), a flat top at z = top
// (above every bottom height) and upright walls.
meshfixtures::TriangleSoup slab(int n, const std::function<double(int, int)>& bottom, double top);

// The soup turned by `degrees` about the unit `axis` through the origin, then
// moved so that its lowest point lies at z = 0.
meshfixtures::TriangleSoup turned(const meshfixtures::TriangleSoup& soup, const meshfixtures::Point& axis,
                                  double degrees);

// A surface of revolution about the z axis: the closed profile of (radius,
// height) points (radii not negative; points on the axis close the surface
// there) swept round in `sides` steps, wound outward.
meshfixtures::TriangleSoup lathe(const std::vector<std::array<double, 2>>& profile, int sides);

// The union of axis-aligned boxes (minimum and maximum corner each) as one
// closed surface wound outward: the faces between filled and empty cells of
// the grid that every box face lies on, so that flat faces meet in whole
// edges. Boxes must not touch along an edge alone.
using Block = std::array<meshfixtures::Point, 2>;
meshfixtures::TriangleSoup blocks(const std::vector<Block>& boxes);

// Machined parts whose overhangs are flat and narrow or wide, each 60 mm
// across: "housing", a flanged bearing housing turned on a lathe (a 3 mm
// flange, a 2 mm rim at the top, a 2 mm ring inside the bore and a counterbore
// whose ceiling is an annulus of 1206 mm²); "bracket", a box open below (a
// 1428 mm² ceiling with two bosses hanging from it, a 2 mm rail along one
// inner wall, a 2 mm flange round the walls, a square collar on top with a
// 2 mm lip).
std::vector<Shape> machinedParts();
// The boxes the bracket is made of, as made (its material is their union).
std::vector<Block> bracketBlocks();
// A metric screw M10 x 1.5 hanging from its hexagon head: a 30 mm thread of
// the standard profile (a flat crest of an eighth of the pitch, a flat root of
// a quarter, 60-degree flanks) ending in a 1 mm chamfer at z = 0, and a head
// 16 mm across its flats and 6.4 mm high on top.
meshfixtures::TriangleSoup metricScrew();

// The turns the machined parts are checked in, with their names: as made,
// upside down, a quarter turn about x and about y, and tilted 30 degrees
// about x and 20 about y.
struct Pose {
    std::string name;
    std::vector<Rotation> turns; // applied in order
};
std::vector<Pose> machinedPoses();

// A repeatable set of `count` rotations (axis, degrees) drawn from `seed`.
std::vector<Rotation> randomRotations(int count, unsigned seed);
// The seed of the rotations the support tests and the shape writer use.
constexpr unsigned kRotationSeed = 20261207;

} // namespace islandshapes
