#pragma once
// The scene tests' host and fixture: a host that records every message and
// answers it with the default button, turns each finished import batch into
// its import command (as the main window does), and hands out a prepared
// hollowing result; the fixture installs it and leaves an empty scene behind.

#include "SceneFixtures.h"
#include "app/MemoryCheck.h"
#include "scene/CommandManager.h"
#include "scene/ObjectEx.h"
#include "scene/ObjectTable.h"
#include "scene/SceneCommands.h"
#include "scene/SceneHost.h"

#include <QCoreApplication>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <vector>

class RecordingSceneHost : public BasicSceneHost {
public:
    RecordingSceneHost() {
        QObject::connect(ObjectTable::instance(), &ObjectTable::allObjectImported, &context, [this] {
            batchSizes.push_back(int(ObjectTable::instance()->objectsBeingCalculated().size()));
            pushImportCommand(ObjectTable::instance()->objectsBeingCalculated());
        });
    }
    int showMessage(const QString& text, int icon, int buttons, int defaultButton) override {
        messages.push_back(text);
        return BasicSceneHost::showMessage(text, icon, buttons, defaultButton);
    }
    void getBuildVolume(double out[3]) override {
        out[0] = 130.0;
        out[1] = 130.0;
        out[2] = 180.0;
    }

    QObject context;
    QStringList messages;
    std::vector<int> batchSizes; // objects of each finished batch, in order
};

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
        host = new RecordingSceneHost();
        setSceneHost(host);
        table()->deleteAllObjects();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        scenefixtures::runEventsUntil([] { return !ObjectTable::instance()->importsRunning(); });
        host->commandManager()->clear();
        table()->deleteAllObjects();
        // Batches ended by the reset report on the next turn of the event loop.
        scenefixtures::runEventsUntil([] { return true; });
        QCoreApplication::processEvents();
        setSceneHost(nullptr);
        delete host;
        installMemoryCheck([](const uint64_t&) { return true; });
    }

    static ObjectTable* table() { return ObjectTable::instance(); }
    CommandManager* commands() { return host->commandManager(); }

    // A generated mesh written to the test folder.
    QString file(const QString& name, const meshfixtures::TriangleSoup& soup) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(scenefixtures::writeBinaryStl(path, soup));
        return path;
    }
    // Imports the files as one batch and waits until every import ended.
    void importAndWait(const QStringList& files) {
        const size_t before = host->batchSizes.size();
        table()->importObjects(files);
        ASSERT_TRUE(scenefixtures::runEventsUntil(
            [&] { return host->batchSizes.size() > before && !table()->importsRunning(); }));
    }
    // An object filled from the soup, in the list and ready (as project
    // loading makes them).
    ObjectEx* addMesh(const meshfixtures::TriangleSoup& soup) {
        auto* obj = new ObjectEx();
        meshfixtures::fillMesh(*obj, soup);
        obj->setLoaded(true);
        table()->addObject(obj);
        return obj;
    }

    // Every object of the list by serial with its vertex positions.
    using Snapshot = std::map<quint64, std::vector<std::array<double, 3>>>;
    static Snapshot snapshot() {
        Snapshot s;
        for (ObjectEx* obj : table()->objects()) {
            obj->waitForJobs();
            s[obj->serial()] = scenefixtures::vertexPositions(*obj);
        }
        return s;
    }
    // The largest vertex difference; +infinity when the object sets differ.
    static double difference(const Snapshot& a, const Snapshot& b) {
        if (a.size() != b.size())
            return std::numeric_limits<double>::infinity();
        double worst = 0.0;
        for (const auto& entry : a) {
            auto it = b.find(entry.first);
            if (it == b.end())
                return std::numeric_limits<double>::infinity();
            worst = std::max(worst, scenefixtures::maxDifference(entry.second, it->second));
        }
        return worst;
    }

    RecordingSceneHost* host = nullptr;
    QTemporaryDir dir;
};
