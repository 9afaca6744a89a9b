#pragma once
// Helpers for tests and benchmarks that run the scene: generated meshes
// written as STL files, an event loop that runs until a condition holds, and
// vertex snapshots to compare a mesh before and after an operation.

#include "MeshFixtures.h"

#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace topolib {
class StlObject;
}

namespace scenefixtures {

// Writes the soup as a binary STL file; false when the file could not be written.
bool writeBinaryStl(const QString& path, const meshfixtures::TriangleSoup& soup);
// The torus of 1,000,000 facets (built once, then shared).
const meshfixtures::TriangleSoup& millionFacetTorus();

// Processes the application's events until done() holds or timeoutMs passed;
// returns done().
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs = 120000);

// Every vertex position of the mesh in vertex order.
std::vector<std::array<double, 3>> vertexPositions(const topolib::StlObject& mesh);
// The largest coordinate difference between two snapshots of the same mesh
// (+infinity when their sizes differ).
double maxDifference(const std::vector<std::array<double, 3>>& a, const std::vector<std::array<double, 3>>& b);

} // namespace scenefixtures
