// The slice preview's cut when memory runs out at any of its allocations:
// the slicing thread shows nothing at that height and cuts the next one.
#include "FailingAllocations.h"
#include "MeshFixtures.h"
#include "topolib/StlObject.h"
#include "view/SliceRender.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

TEST(SlicePreview, aCutThatRunsOutOfMemoryShowsNothingAndTheNextCutIsWhole) {
    const meshfixtures::TriangleSoup torus = meshfixtures::torus(20.0, 6.0, 64, 32, {0.0, 0.0, 6.0});
    // The fill's triangle count at the height, or -1 without a record.
    auto cut = [&](SliceRender& renderer, float z, long failAt, long* made) {
        failingallocations::arm(failAt);
        const bool done = renderer.computeAt(z);
        *made = failingallocations::disarm();
        EXPECT_TRUE(done);
        long triangles = -1;
        renderer.visitRecords([&](const std::vector<SliceRender::Record>& records, double) {
            if (!records.empty())
                triangles = long(records[0].fillIndices.size() / 3);
        });
        return triangles;
    };
    // A fresh mesh for every cut: the first cut also builds the mesh's z index.
    long made = 0;
    std::unique_ptr<topolib::StlObject> mesh = meshfixtures::buildMesh(torus);
    SliceRender clean(nullptr);
    clean.setSources({{nullptr, mesh.get()}});
    const long whole = cut(clean, 6.0f, 0, &made);
    ASSERT_GT(whole, 0);
    int refused = 0;
    for (long n = 1; n <= made; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(made));
        std::unique_ptr<topolib::StlObject> fresh = meshfixtures::buildMesh(torus);
        SliceRender renderer(nullptr);
        renderer.setSources({{nullptr, fresh.get()}});
        long unused = 0;
        const long triangles = cut(renderer, 6.0f, n, &unused);
        if (triangles == -1)
            ++refused;
        else
            EXPECT_EQ(triangles, whole) << "a cut is shown whole or not at all";
        EXPECT_EQ(cut(renderer, 6.0f, 0, &unused), whole);
    }
    EXPECT_GT(refused, 0);
}
