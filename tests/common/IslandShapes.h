#pragma once
// Closed test models whose local minima are known: what a support generator
// must reach. Each is one watertight surface wound outward, sizes in mm, its
// lowest point at z = 0 (the caller lifts it).

#include "MeshFixtures.h"

#include <functional>
#include <string>
#include <vector>

namespace islandshapes {

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

// A repeatable set of `count` rotations (axis, degrees) drawn from `seed`.
struct Rotation {
    meshfixtures::Point axis;
    double degrees;
};
std::vector<Rotation> randomRotations(int count, unsigned seed);
// The seed of the rotations the support tests and the shape writer use.
constexpr unsigned kRotationSeed = 20261207;

} // namespace islandshapes
