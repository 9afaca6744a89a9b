// Importing batches of files through the object list: placement on the
// platform, one end-of-batch signal and one command per batch, failed files,
// changes of the scene while a large import runs, and a deleted import's
// read that stops early.
#include "SceneTestHost.h"
#include "app/ProgressReport.h"
#include "fileIo/MeshFileLoad.h"
#include "scene/ObjectCalcThread.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using meshfixtures::box;
using meshfixtures::cube;

struct Box {
    double min[3], max[3];
};

Box boxOf(ObjectEx* obj) {
    Box b;
    EXPECT_TRUE(obj->readBox(b.min, b.max));
    return b;
}

bool footprintsOverlap(const Box& a, const Box& b) {
    return a.min[0] < b.max[0] && a.min[1] < b.max[1] && b.min[0] < a.max[0] && b.min[1] < a.max[1];
}

const ImportObjectCmd* topImport(CommandManager* commands) {
    return dynamic_cast<const ImportObjectCmd*>(commands->undoTop());
}

} // namespace

TEST_F(SceneTest, batchWithMillionFacetsEndsOnceOnThePlatformWithoutOverlaps) {
    const QStringList files = {file("small.stl", cube(10.0, {-50.0, 7.0, 3.0})),
                               file("torus.stl", scenefixtures::millionFacetTorus()),
                               file("plate.stl", box({30.0, 20.0, 2.0}, {200.0, 200.0, -40.0}))};
    importAndWait(files);
    // Nothing more arrives later.
    scenefixtures::runEventsUntil([] { return false; }, 200);
    ASSERT_EQ(host->batchSizes, std::vector<int>({3}));
    ASSERT_EQ(table()->count(), 3);
    ASSERT_EQ(commands()->undoCount(), 1u);
    ASSERT_NE(topImport(commands()), nullptr);
    EXPECT_EQ(topImport(commands())->objects(), table()->objects());
    EXPECT_TRUE(host->messages.isEmpty());

    std::vector<Box> boxes;
    for (ObjectEx* obj : table()->objects()) {
        EXPECT_TRUE(obj->isReady());
        EXPECT_TRUE(obj->isLoaded());
        boxes.push_back(boxOf(obj));
        EXPECT_NEAR(boxes.back().min[2], 0.0, 1e-9) << obj->name().toStdString();
    }
    EXPECT_EQ(table()->objectAt(1)->name(), QStringLiteral("torus"));
    EXPECT_EQ(table()->objectAt(1)->facetCount(), 1000000u);
    for (size_t i = 0; i < boxes.size(); ++i)
        for (size_t j = i + 1; j < boxes.size(); ++j)
            EXPECT_FALSE(footprintsOverlap(boxes[i], boxes[j])) << i << " " << j;
    // The octrees are built after placement; picking works once they are.
    ObjectEx* torus = table()->objectAt(1);
    torus->waitForJobs();
    const Box t = boxes[1];
    const double origin[3] = {(t.min[0] + t.max[0]) / 2 + 40.0, (t.min[1] + t.max[1]) / 2, 100.0};
    const double down[3] = {0.0, 0.0, -1.0};
    double hit[3];
    ObjectEx* picked = nullptr;
    EXPECT_EQ(table()->rayPick(origin, down, false, hit, &picked, nullptr), 1);
    EXPECT_EQ(picked, torus);
}

TEST_F(SceneTest, placementAgainstOtherPlacedObjects) {
    // {boxes already in the list (min, size)}, new object's size -> expected
    // lower corner of the new object's box.
    struct Case {
        const char* what;
        std::vector<std::pair<meshfixtures::Point, meshfixtures::Point>> placed;
        meshfixtures::Point size;
        double expectX, expectY;
    };
    const std::vector<Case> cases = {
        {"lone object is centred", {}, {20.0, 40.0, 20.0}, 55.0, 45.0},
        {"right of the only other object", {{{0, 0, 0}, {10, 10, 5}}}, {4.0, 6.0, 3.0}, 13.0, 0.0},
        {"touching footprints are free",
         {{{0, 0, 0}, {10, 10, 5}}, {{17, 0, 0}, {10, 10, 5}}},
         {4.0, 6.0, 3.0},
         13.0,
         0.0},
        {"behind when the right is taken",
         {{{0, 0, 0}, {10, 10, 5}}, {{12, 0, 0}, {10, 10, 5}}},
         {4.0, 6.0, 3.0},
         0.0,
         13.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        table()->deleteAllObjects();
        for (const auto& p : c.placed)
            addMesh(box(p.second, p.first));
        // The lone case: box (10, 20, 5)..(30, 60, 25) moves by (45, 25, -5).
        ObjectEx* obj = addMesh(box(c.size, {10.0, 20.0, 5.0}));
        table()->placeObject(obj);
        const Box b = boxOf(obj);
        EXPECT_NEAR(b.min[0], c.expectX, 1e-9);
        EXPECT_NEAR(b.min[1], c.expectY, 1e-9);
        EXPECT_NEAR(b.min[2], 0.0, 1e-9);
    }
}

TEST_F(SceneTest, failedFilesAreReportedOnceAndLeaveNothingBehind) {
    const QString garbage = dir.filePath("garbage.stl");
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(300, '\x7f'));
    }
    const QString missing = dir.filePath("missing.stl");
    const QString good = file("good.stl", cube(5.0));
    // Within the coordinate limit, but standing on the platform it would
    // reach twice as high.
    const QString tall = file("tall.stl", box({10.0, 10.0, 2e6}, {0.0, 0.0, -1e6}));

    // {files, memory granted, expected messages (in any order), objects left}
    struct Case {
        const char* what;
        QStringList files;
        bool memory;
        QStringList messages;
        int objects;
    };
    const std::vector<Case> cases = {
        {"garbage and missing",
         {garbage, missing},
         true,
         {"Load object fail!\ngarbage.stl: not a mesh file of its type",
          "Load object fail!\nmissing.stl: missing"},
         0},
        {"memory refused", {good}, false, {"NOT ENOUGH MEMORY TO OPEN THIS OBJECT!"}, 0},
        {"one good, one garbage",
         {garbage, good},
         true,
         {"Load object fail!\ngarbage.stl: not a mesh file of its type"},
         1},
        {"taller than the coordinate limit",
         {tall, good},
         true,
         {"Load object fail!\ntall.stl: the model is 10 × 10 × 2000000 mm: placed on the platform it would "
          "reach "
          "beyond the coordinate limit of ±1000000 mm."},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        commands()->clear();
        table()->deleteAllObjects();
        host->messages.clear();
        host->batchSizes.clear();
        installMemoryCheck([ok = c.memory](const uint64_t&) { return ok; });
        importAndWait(c.files);
        installMemoryCheck([](const uint64_t&) { return true; });
        host->messages.sort();
        EXPECT_EQ(host->messages, c.messages);
        EXPECT_EQ(table()->count(), c.objects);
        EXPECT_EQ(host->batchSizes, std::vector<int>({c.objects}));
        // A batch in which every file failed pushes no command.
        EXPECT_EQ(commands()->undoCount(), c.objects > 0 ? 1u : 0u);
        for (ObjectEx* obj : table()->objects()) {
            EXPECT_EQ(obj->name(), QStringLiteral("good"));
            EXPECT_TRUE(ObjectTable::staysWithinLimit(obj, topolib::Matrix4D()));
        }
    }
}

TEST_F(SceneTest, sceneChangesWhileALargeImportRuns) {
    const QString torus = file("torus.stl", scenefixtures::millionFacetTorus());
    const QString small = file("part.old.stl", cube(8.0));
    const QString other = file("other.stl", cube(4.0));

    // Deleting the importing object: the batch ends with what is left.
    table()->importObjects({torus, small});
    table()->removeObjectAt(0, true);
    ASSERT_TRUE(scenefixtures::runEventsUntil(
        [&] { return !host->batchSizes.empty() && !table()->importsRunning(); }));
    scenefixtures::runEventsUntil([] { return false; }, 100);
    EXPECT_EQ(host->batchSizes, std::vector<int>({1}));
    ASSERT_EQ(table()->count(), 1);
    EXPECT_EQ(table()->objectAt(0)->name(), QStringLiteral("part.old"));
    EXPECT_EQ(table()->objectAt(0)->id(), 0);

    // A second batch while the first runs gets its own signal and command;
    // an unload meanwhile takes only placed objects.
    host->batchSizes.clear();
    table()->importObjects({torus});
    table()->importObjects({other, small});
    table()->selectAll(true);
    EXPECT_TRUE(sceneHost()->pushCommand(new UnloadObjectCmd(-1), false)); // the placed part.old
    EXPECT_FALSE(sceneHost()->pushCommand(new UnloadObjectCmd(0), false)); // the torus is still importing
    ASSERT_TRUE(scenefixtures::runEventsUntil(
        [&] { return host->batchSizes.size() == 2 && !table()->importsRunning(); }));
    std::vector<int> sizes = host->batchSizes;
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, std::vector<int>({1, 2}));
    EXPECT_EQ(table()->count(), 3);
    // import batch 1, unload, and the two new batches
    EXPECT_EQ(commands()->undoCount(), 4u);

    // Unloading and resetting the scene while the torus is being read.
    table()->importObjects({torus, other});
    table()->deleteAllObjects();
    commands()->clear();
    ASSERT_TRUE(scenefixtures::runEventsUntil(
        [&] { return host->batchSizes.size() == 3 && !table()->importsRunning(); }));
    EXPECT_EQ(host->batchSizes.back(), 0);
    EXPECT_EQ(table()->count(), 0);
    EXPECT_EQ(commands()->undoCount(), 0u);

    // An object of a running batch that was placed and then unloaded, or
    // deleted with the scene, is not part of the batch's command: the unload
    // owns the first, the second is gone. Undoing the import and discarding it
    // must free nothing twice (address sanitizer).
    auto smallPlaced = [&] {
        return table()->count() == 2 && table()->objectAt(1)->isReady() && !table()->objectAt(0)->isReady();
    };
    table()->importObjects({torus, small});
    ASSERT_TRUE(scenefixtures::runEventsUntil(smallPlaced));
    table()->selectAll(true);
    ASSERT_TRUE(sceneHost()->pushCommand(new UnloadObjectCmd(-1), false));
    ASSERT_TRUE(scenefixtures::runEventsUntil(
        [&] { return host->batchSizes.size() == 4 && !table()->importsRunning(); }));
    EXPECT_EQ(host->batchSizes.back(), 1);
    ASSERT_EQ(commands()->undoCount(), 2u);
    EXPECT_TRUE(commands()->undo()); // the import: the torus leaves
    EXPECT_EQ(table()->count(), 0);
    const double offset[3] = {1.0, 0.0, 0.0};
    EXPECT_TRUE(sceneHost()->pushCommand(new TranslateCmd(0, offset), false)); // discards the undone import
    commands()->clear();                                                       // the unload frees the part

    table()->importObjects({torus, small});
    ASSERT_TRUE(scenefixtures::runEventsUntil(smallPlaced));
    table()->deleteAllObjects();
    commands()->clear();
    table()->importObjects({other}); // a new object may take the freed one's address
    ASSERT_TRUE(scenefixtures::runEventsUntil(
        [&] { return host->batchSizes.size() == 6 && !table()->importsRunning(); }));
    std::vector<int> last(host->batchSizes.end() - 2, host->batchSizes.end());
    std::sort(last.begin(), last.end());
    EXPECT_EQ(last, std::vector<int>({0, 1}));
    EXPECT_EQ(table()->count(), 1);
    EXPECT_EQ(commands()->undoCount(), 1u);
}

namespace {

// Reads through the file handlers, but holds the reader at its first
// progress step (on the import worker) until the read is asked to stop.
struct HeldRead : fileIo::MeshFileRead {
    static inline std::atomic<bool> held{false};
    static inline std::atomic<int> heldStep{0};
    static inline std::mutex valuesMutex;
    static inline std::vector<int> readerValues;

    // Passes the reader's reports on, and holds the first step until the
    // import is asked to stop.
    struct Holding : ProgressMonitor {
        explicit Holding(const ProgressMonitor& outer) : outer(outer) {}
        void report(double fraction) const override {
            const int v = progressPercent(fraction);
            {
                std::lock_guard<std::mutex> lock(valuesMutex);
                readerValues.push_back(v);
            }
            outer.report(fraction);
            if (v <= 0 || held.load())
                return;
            heldStep.store(v);
            held.store(true);
            for (int i = 0; i < 60000 && !outer.stopRequested(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        bool stopRequested() const override { return outer.stopRequested(); }
        const ProgressMonitor& outer;
    };

    topolib::LoadResult read(topolib::StlObject& target, const std::wstring& path,
                             const ProgressMonitor* progress, topolib::ImportSession* scratch) override {
        const Holding holding(monitorOrDialog(progress));
        return MeshFileRead::read(target, path, &holding, scratch);
    }
};

} // namespace

TEST_F(SceneTest, deletingAnImportingObjectCancelsItsRead) {
    const QString torus = file("torus.stl", scenefixtures::millionFacetTorus());
    // The reader's first progress step holds the import until the deletion has
    // raised the worker's stop flag. A full read reports steps up to 40, then
    // 60; a cancelled one ends within the block of records it was in, so the
    // held step is its last.
    table()->setMeshReadMaker([] { return std::make_unique<HeldRead>(); });
    std::vector<int> values; // what reaches the progress dialog (GUI thread)
    setProgressCallback([&](int v, unsigned, const std::wstring&, const std::wstring&, const std::wstring&) {
        values.push_back(v);
    });
    table()->importObjects({torus});
    ASSERT_EQ(table()->count(), 1);
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return HeldRead::held.load(); }));
    table()->removeObjectAt(0, true); // waits for the import job
    table()->setMeshReadMaker(nullptr);
    ASSERT_TRUE(scenefixtures::runEventsUntil([&] { return !table()->importsRunning(); }));
    scenefixtures::runEventsUntil([] { return false; }, 100);
    setProgressCallback(ProgressCallbackFunction());
    ASSERT_FALSE(HeldRead::readerValues.empty());
    EXPECT_EQ(*std::max_element(HeldRead::readerValues.begin(), HeldRead::readerValues.end()),
              HeldRead::heldStep.load());
    EXPECT_LT(HeldRead::heldStep.load(), 40);
    // The batch ended with its only file: its progress closed, once.
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), -1);
    EXPECT_EQ(std::count(values.begin(), values.end(), -1), 1);
    EXPECT_EQ(table()->count(), 0);
    EXPECT_EQ(host->batchSizes, std::vector<int>({0}));
    // The user's own delete is not reported as a failed load.
    EXPECT_TRUE(host->messages.isEmpty()) << host->messages.join(QLatin1Char('|')).toStdString();

    // Cancelled before the read started: the mesh stays empty, the reason is
    // told and the progress is closed.
    values.clear();
    setProgressCallback([&](int v, unsigned, const std::wstring&, const std::wstring&, const std::wstring&) {
        values.push_back(v);
    });
    const std::atomic<bool> cancel{true};
    const ProgressSink stopped(ProgressCallbackFunction(), &cancel);
    topolib::StlObject mesh;
    const fileIo::LoadOutcome outcome = fileIo::loadMeshFile(mesh, torus.toStdWString(), {&stopped});
    EXPECT_EQ(outcome.result, topolib::LoadResult::Cancelled);
    setProgressCallback(ProgressCallbackFunction());
    EXPECT_EQ(outcome.failure, fileIo::ReadFailure::Cancelled);
    EXPECT_EQ(mesh.triangleCount(), 0u);
    EXPECT_EQ(mesh.vertexCount(), 0u);
    EXPECT_EQ(mesh.edgeCount(), 0u);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), -1);
}
