// An import that runs out of memory at any allocation: it ends with "not
// enough memory" and an empty mesh, or it absorbs the failure and makes the
// mesh a clean import makes; it never ends the process. The allocations of
// the whole process are counted, and the n-th one fails, for every n an
// import makes.

#include "FailingAllocations.h"
#include "MeshStateHash.h"
#include "StlFixtures.h"

#include "app/MemoryCheck.h"
#include "fileIo/MeshFileLoad.h"
#include "topolib/OctreeBeside.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlObject.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <new>

namespace {

// Imports path as the scene does, its octree built beside the edges and
// shells; allocation failAt of the import fails (0: none). The number of
// allocations made goes to *made.
topolib::LoadResult importFailing(topolib::StlObject& mesh, const std::wstring& path, long failAt,
                                  long* made) {
    std::unique_ptr<topolib::OctreeBeside> tree;
    const topolib::StlObject::SideWork beside{[&] {
                                                  try {
                                                      tree = std::make_unique<topolib::OctreeBeside>(mesh);
                                                  } catch (const std::bad_alloc&) {
                                                  }
                                              },
                                              [&] {
                                                  if (tree)
                                                      tree->join();
                                              }};
    failingallocations::arm(failAt);
    const topolib::LoadResult result = fileIo::loadMeshFile(mesh, path, {nullptr, &beside}).result;
    *made = failingallocations::disarm();
    if (result == topolib::LoadResult::Success && tree)
        tree->publish(mesh);
    return result;
}

} // namespace

TEST(ImportOutOfMemory, everyFailedAllocationEndsTheImportEmptyOrIsAbsorbed) {
    installMemoryCheck([](const uint64_t&) { return true; });
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A closed torus big enough for the octree's own thread, and loose
    // facets: one shell each.
    std::vector<stlfixtures::Facet> facets = stlfixtures::torus(72, 36);
    for (int i = 0; i < 40; ++i) {
        const float x = 300.f + 3.f * float(i);
        facets.push_back({0, 0, 1, x, 0, 0, x + 1, 0, 0, x, 1, 0});
    }
    const std::string path = dir.filePath("torus_and_loose.stl").toStdString();
    ASSERT_TRUE(stlfixtures::writeFile(path, stlfixtures::binaryStl(facets)));
    const std::wstring wide = QString::fromStdString(path).toStdWString();

    for (unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        topolib::forceImportThreads(threads);
        long made = 0;
        uint64_t clean = 0;
        for (int warm = 0; warm < 2; ++warm) { // the first import starts the import's threads
            topolib::StlObject mesh;
            ASSERT_EQ(importFailing(mesh, wide, 0, &made), topolib::LoadResult::Success);
            clean = meshstate::stateHash(mesh);
        }
        int refused = 0;
        for (long n = 1; n <= made; ++n) {
            topolib::StlObject mesh;
            long unused = 0;
            const topolib::LoadResult result = importFailing(mesh, wide, n, &unused);
            if (result == topolib::LoadResult::Success) {
                EXPECT_EQ(meshstate::stateHash(mesh), clean) << "allocation " << n << " of " << made;
                continue;
            }
            ++refused;
            ASSERT_EQ(result, topolib::LoadResult::NotEnoughMemory) << "allocation " << n << " of " << made;
            EXPECT_EQ(mesh.triangleCount(), 0u) << "allocation " << n;
            EXPECT_EQ(mesh.vertices().size(), 0u) << "allocation " << n;
            EXPECT_EQ(mesh.edgeCount(), 0u) << "allocation " << n;
            EXPECT_TRUE(mesh.shells().empty()) << "allocation " << n;
        }
        EXPECT_GT(refused, 0);
    }
    topolib::forceImportThreads(0);
    installMemoryCheck(nullptr);
}

// A mesh that falls apart into loose facets has a shell for each, which the
// memory asked for before the read does not cover: the shells ask for their
// own. A check that grants only the read's request refuses the soup, not a
// closed mesh of as many facets, and both import when it grants everything.
TEST(ImportOutOfMemory, theShellsOfATriangleSoupAskTheMemoryCheckForTheirRoom) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    constexpr int kFacets = 140000;
    std::vector<stlfixtures::Facet> soup;
    for (int i = 0; i < kFacets; ++i) {
        const float x = 2.f * float(i % 400), y = 2.f * float(i / 400);
        soup.push_back({0, 0, 1, x, y, 0, x + 1, y, 0, x, y + 1, 0});
    }
    const struct {
        const char* what;
        std::vector<stlfixtures::Facet> facets;
        uint32_t shells;
    } meshes[] = {{"soup", soup, kFacets}, {"torus", stlfixtures::torus(350, 200), 1}};
    for (const auto& m : meshes) {
        const QString path = dir.filePath(QString::fromUtf8(m.what) + ".stl");
        ASSERT_TRUE(stlfixtures::writeFile(path.toStdString(), stlfixtures::binaryStl(m.facets)));
        for (bool grantAll : {false, true}) {
            SCOPED_TRACE(std::string(m.what) + (grantAll ? ", every request granted" : ", only the first"));
            int asked = 0;
            installMemoryCheck([&asked, grantAll](const uint64_t&) { return ++asked == 1 || grantAll; });
            topolib::StlObject mesh;
            const topolib::LoadResult result = fileIo::loadMeshFile(mesh, path.toStdWString()).result;
            if (grantAll || m.shells == 1) {
                ASSERT_EQ(result, topolib::LoadResult::Success);
                EXPECT_EQ(mesh.shells().size(), m.shells);
            } else {
                ASSERT_EQ(result, topolib::LoadResult::NotEnoughMemory);
                EXPECT_EQ(mesh.triangleCount(), 0u);
                EXPECT_TRUE(mesh.shells().empty());
            }
        }
    }
    installMemoryCheck(nullptr);
}
