#include "ProjectTestSupport.h"

#include "project/ProjectArchiveWriter.h"
#include "project/ProjectDescriptor.h"

#include "fileIo/VGeoFileHandling.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace projecttest {

ObjectEx* makeObject(const meshfixtures::TriangleSoup& soup, const QString& name) {
    auto* o = new ObjectEx();
    meshfixtures::fillMesh(*o, soup);
    o->rebuildOctree();
    o->setName(name);
    o->setLoaded(true);
    return o;
}

void clearScene() {
    ObjectTable::instance()->deleteAllObjects();
}

QByteArray geometryEntry(const meshfixtures::TriangleSoup& soup) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("g.vsg"));
    auto mesh = meshfixtures::buildMesh(soup);
    fileIo::VGeoFileHandling writer;
    writer.setTarget(mesh.get());
    EXPECT_EQ(writer.writeFile(path.toStdWString()), fileIo::kSuccess);
    return fileBytes(path);
}

QByteArray descriptorEntry(int records, const std::vector<unsigned>& triangles) {
    project::ProjectDescriptor d;
    d.view.renderScale = 2;
    for (int k = 0; k < records; ++k) {
        project::ProjectObjectInfo o;
        o.id = static_cast<unsigned>(k);
        o.name = QStringLiteral("part%1").arg(k);
        o.visible = true;
        o.numberTriangles = size_t(k) < triangles.size() ? triangles[size_t(k)] : 0;
        d.objects.push_back(o);
    }
    return project::writeDescriptor(d);
}

void writeArchive(const QString& path, const std::vector<std::pair<QString, QByteArray>>& entries) {
    project::ProjectArchiveWriter writer(path);
    ASSERT_TRUE(writer.open());
    for (const auto& e : entries)
        ASSERT_TRUE(writer.writeEntry(e.first, e.second)) << e.first.toStdString();
    ASSERT_TRUE(writer.commit());
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList strayFiles(const QString& dir, const QStringList& expected) {
    QStringList out;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (!expected.contains(name))
            out << name;
    return out;
}

} // namespace projecttest
