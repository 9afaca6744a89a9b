// An import whose worker runs out of memory, at any of its allocations: the
// file is refused with the memory message and leaves no object, or the
// failure is absorbed and the object imported whole; either way the batch
// ends and the scene imports the next file.
#include "FailingAllocations.h"
#include "SceneTestHost.h"

namespace {

using meshfixtures::concatenated;
using meshfixtures::cube;
using meshfixtures::translated;

} // namespace

TEST_F(SceneTest, anImportWhoseWorkerRunsOutOfMemoryIsRefusedAndTheSceneGoesOn) {
    // A solid and two loose facets: three shells.
    const QString model =
        file("model.stl", concatenated(concatenated(meshfixtures::icosphere(10.0, 3),
                                                    translated(meshfixtures::singleFacet(), {30, 0, 0})),
                                       translated(meshfixtures::singleFacet(), {40, 0, 0})));
    // The worker threads' allocations only: the GUI thread's are not the
    // import's to survive.
    auto importFailing = [&](long n) {
        failingallocations::arm(n, true);
        importAndWait({model});
        for (ObjectEx* obj : table()->objects())
            obj->waitForJobs();
        return failingallocations::disarm();
    };
    const long made = importFailing(0);
    ASSERT_EQ(table()->count(), 1);
    const uint32_t facets = table()->objectAt(0)->facetCount();
    int refused = 0;
    for (long n = 1; n <= made; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(made));
        commands()->clear();
        table()->deleteAllObjects();
        host->messages.clear();
        importFailing(n);
        if (table()->count() == 1) {
            EXPECT_TRUE(host->messages.isEmpty()) << host->messages.join('|').toStdString();
            EXPECT_TRUE(table()->objectAt(0)->isLoaded());
            EXPECT_EQ(table()->objectAt(0)->facetCount(), facets);
            EXPECT_EQ(table()->objectAt(0)->shells().size(), 3u);
        } else {
            ++refused;
            ASSERT_EQ(table()->count(), 0);
            EXPECT_EQ(host->messages, QStringList{"NOT ENOUGH MEMORY TO OPEN THIS OBJECT!"});
            EXPECT_EQ(commands()->undoCount(), 0u);
        }
    }
    EXPECT_GT(refused, 0);
    commands()->clear();
    table()->deleteAllObjects();
    importAndWait({model});
    ASSERT_EQ(table()->count(), 1);
    EXPECT_TRUE(table()->objectAt(0)->isLoaded());
}
