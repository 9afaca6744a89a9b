#include "ExportFixtures.h"

#include "app/ProgressReport.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "topolib/StlVertex.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

namespace exporttest {

ObjectEx* addSceneObject(const meshfixtures::TriangleSoup& soup) {
    auto* obj = new ObjectEx;
    meshfixtures::fillMesh(*obj, soup);
    obj->setLoaded(true);
    ObjectTable::instance()->addObject(obj);
    return obj;
}

std::vector<double> sceneVertexCoordinates() {
    std::vector<double> out;
    for (ObjectEx* obj : ObjectTable::instance()->objects())
        for (const topolib::StlVertex* v : obj->vertices())
            out.insert(out.end(), {v->pos.x, v->pos.y, v->pos.z});
    return out;
}

QString makeApplicationDir(const QTemporaryDir& dir) {
    const QDir source(QCoreApplication::applicationDirPath());
    for (const char* sub : {"definitions", "profile", "calib"}) {
        QDir(dir.path()).mkpath(QLatin1String(sub));
        QDirIterator it(source.filePath(QLatin1String(sub)), QDir::Files);
        while (it.hasNext()) {
            it.next();
            QFile::copy(it.filePath(), QDir(dir.path()).filePath(QLatin1String(sub) + "/" + it.fileName()));
        }
    }
    return dir.path();
}

void writeTextFile(const QString& path, const QString& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(text.toUtf8());
}

QByteArray readFileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeScript(const QString& path, const QString& body) {
    writeTextFile(path, QStringLiteral("#!/bin/sh\n") + body);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

RunRecord runExport(const gcodeexport::GcodeExportRequest& request, bool selectedOnly,
                    const std::function<void(gcodeexport::GcodeExport&)>& setUp) {
    RunRecord record;
    setProgressCallback([&record](int value, unsigned int, const std::wstring&, const std::wstring&,
                                  const std::wstring&) { record.progress.push_back(value); });
    {
        gcodeexport::GcodeExport exporter;
        exporter.setMessageHandler([&record](const QString& text) { record.messages << text; });
        QEventLoop loop;
        bool ended = false;
        QObject::connect(&exporter, &gcodeexport::GcodeExport::finished, &loop, [&] {
            ended = true;
            loop.quit();
        });
        const gcodeexport::ExportScene scene =
            gcodeexport::gatherExportScene(*ObjectTable::instance(), selectedOnly);
        if (setUp)
            setUp(exporter);
        record.started = exporter.start(request, scene);
        if (record.started && !ended) {
            QTimer::singleShot(180000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        EXPECT_TRUE(!record.started || ended) << "the export did not end";
        record.result = exporter.lastResult();
    }
    setProgressCallback(nullptr);
    return record;
}

SlicerOverride::SlicerOverride(const QString& program)
    : m_old(qgetenv("VELAR_CURAENGINE")), m_hadOld(qEnvironmentVariableIsSet("VELAR_CURAENGINE")) {
    if (program.isEmpty())
        qunsetenv("VELAR_CURAENGINE");
    else
        qputenv("VELAR_CURAENGINE", QFile::encodeName(program));
}

SlicerOverride::~SlicerOverride() {
    if (m_hadOld)
        qputenv("VELAR_CURAENGINE", m_old);
    else
        qunsetenv("VELAR_CURAENGINE");
}

} // namespace exporttest
