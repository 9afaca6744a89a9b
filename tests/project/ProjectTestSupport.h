#pragma once
// Helpers of the project tests: scene objects from generated meshes, a clean
// scene, archives with hand-made entries, and file comparisons.
#include "MeshFixtures.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <utility>
#include <vector>

class ObjectEx;

namespace projecttest {

// A loaded, ready scene object holding the soup's mesh (with its octree).
ObjectEx* makeObject(const meshfixtures::TriangleSoup& soup, const QString& name);
// Empties the object list and the project handler's state.
void clearScene();
// The bytes of the geometry entry the writer makes for soup.
QByteArray geometryEntry(const meshfixtures::TriangleSoup& soup);
// A descriptor with a view port and `records` object records; record k
// declares triangles[k] triangles (0, "not given", when the list is shorter).
QByteArray descriptorEntry(int records, const std::vector<unsigned>& triangles = {});
// Writes an archive holding exactly these entries, in order.
void writeArchive(const QString& path, const std::vector<std::pair<QString, QByteArray>>& entries);
QByteArray fileBytes(const QString& path);
// Names in dir other than the listed ones (leftover temporary files).
QStringList strayFiles(const QString& dir, const QStringList& expected);

} // namespace projecttest
