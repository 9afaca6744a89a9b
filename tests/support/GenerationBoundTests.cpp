// Generation on models far beyond a printer's size: the placement is refused
// before it allocates, and a generation that runs out of memory reports it
// instead of taking the program down.
#include "SupportTestUtil.h"
#include "app/MemoryCheck.h"
#include "support/SupportGen.h"
#include "topolib/RecordArena.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using support::SupportGen;

std::unique_ptr<SupportGen> preset(topolib::StlObject* mesh, double density) {
    auto gen = std::make_unique<SupportGen>(mesh);
    gen->setTipRadius(0.5);
    gen->setTrunkRadius(1.0);
    gen->setBranchRadius(0.6);
    gen->setHeadExtend(2.5);
    gen->setDensity(density);
    return gen;
}

std::size_t supportTriangles(const SupportGen& gen) {
    std::vector<topolib::StlTriangle*> all;
    gen.appendAllTriangles(all);
    return all.size();
}

bool noGroups(const topolib::StlObject& mesh) {
    for (const topolib::StlTriangle* t : mesh.triangles()) {
        if (t->group() != -1)
            return false;
    }
    return true;
}

// A square plate `size` wide and 2 thick, 5 above the platform: one overhang
// region as wide as the plate.
meshfixtures::TriangleSoup plate(double size) {
    return meshfixtures::box({size, size, 2.0}, {0.0, 0.0, 5.0});
}

} // namespace

TEST(GenerationBound, modelMetresAcrossIsRefusedAtOnceWithAReasonAndNoSupports) {
    struct Case {
        const char* what;
        meshfixtures::TriangleSoup soup;
        double density;
    };
    // A 73 m sphere (a file in the wrong unit) plans millions of cones; so
    // does a plate 1.1 m wide at the finest spacing. Today's models stay far
    // below: the printer-sized plate is generated.
    const Case cases[] = {
        {"73 m sphere", meshfixtures::uvSphere(36500.0, 96, 48, {0, 0, 36505.0}), 5.0},
        {"1.1 m plate at 1 mm", plate(1100.0), 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto mesh = meshfixtures::buildMeshWithOctree(c.soup);
        mesh->resetTriangleGroups();
        auto gen = preset(mesh.get(), c.density);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(gen->generate());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0);
        EXPECT_EQ(gen->failure(), SupportGen::Failure::TooManyCones);
        EXPECT_GT(gen->refusedConeCount(), SupportGen::kMaxPlannedCones);
        const std::string text = gen->failureText();
        EXPECT_NE(text.find("not generated"), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(gen->refusedConeCount())), std::string::npos) << text;
        EXPECT_EQ(gen->areaCount(), 0u);
        EXPECT_EQ(supportTriangles(*gen), 0u);
        EXPECT_TRUE(noGroups(*mesh));
        EXPECT_TRUE(supporttest::marksClear(*mesh));
    }
    // The largest plate a printer holds, at the finest spacing, is planned
    // within the bound.
    auto mesh = meshfixtures::buildMeshWithOctree(plate(500.0));
    auto gen = preset(mesh.get(), 1.0);
    gen->detectOverhangs();
    EXPECT_GT(gen->plannedConeCount(), 250000u);
    EXPECT_LE(gen->plannedConeCount(), SupportGen::kMaxPlannedCones);
}

TEST(GenerationBound, regenerationBeyondTheBoundKeepsTheSupportsThatWereThere) {
    auto mesh = meshfixtures::buildMeshWithOctree(plate(1100.0));
    mesh->resetTriangleGroups();
    auto gen = preset(mesh.get(), 99.0);
    ASSERT_TRUE(gen->generate());
    EXPECT_EQ(gen->failure(), SupportGen::Failure::None);
    EXPECT_TRUE(gen->failureText().empty());
    const std::size_t regions = gen->areaCount(), triangles = supportTriangles(*gen);
    ASSERT_GT(triangles, 0u);
    std::vector<support::AbtShape*> shapes;
    for (std::size_t i = 0; i < regions; ++i)
        shapes.insert(shapes.end(), gen->areaAt(i)->shapes.begin(), gen->areaAt(i)->shapes.end());

    gen->setDensity(1.0);
    EXPECT_FALSE(gen->generate());
    EXPECT_EQ(gen->failure(), SupportGen::Failure::TooManyCones);
    EXPECT_EQ(gen->areaCount(), regions);
    EXPECT_EQ(supportTriangles(*gen), triangles);
    std::vector<support::AbtShape*> after;
    for (std::size_t i = 0; i < regions; ++i)
        after.insert(after.end(), gen->areaAt(i)->shapes.begin(), gen->areaAt(i)->shapes.end());
    EXPECT_EQ(after, shapes);
}

// A plan well within the bound can still need more memory than the machine
// has: columns 400 mm tall carry a bar every few millimetres (a 100 mm plate
// makes 441 cones and some 60 MB of meshes). The meshes are asked of the
// program's memory check as a whole before any is made, then paid for in
// steps as they are made; a refusal either way ends the generation with the
// memory message and nothing left behind. With room enough the same plan is
// generated.
TEST(GenerationBound, meshesTheMemoryCheckRefusesAreNeverMade) {
    auto mesh = meshfixtures::buildMeshWithOctree(meshfixtures::box({100.0, 100.0, 2.0}, {0.0, 0.0, 400.0}));
    mesh->resetTriangleGroups();
    auto gen = preset(mesh.get(), 5.0);
    constexpr std::size_t kAllowed = std::size_t(32) << 20;
    struct Case {
        const char* what;
        bool wholePlanGranted; // the first request (the whole plan) is granted
    };
    for (const Case c : {Case{"refused as a whole", false}, Case{"refused on the way", true}}) {
        SCOPED_TRACE(c.what);
        const std::size_t recordsBefore = topolib::arena::bytesInUse();
        std::size_t requests = 0, asked = 0, recordsAtRefusal = 0;
        installMemoryCheck([&](const uint64_t& bytes) {
            if (requests++ == 0 && c.wholePlanGranted)
                return true;
            asked += bytes;
            if (asked <= kAllowed)
                return true;
            recordsAtRefusal = topolib::arena::bytesInUse() - recordsBefore;
            return false;
        });
        const bool generated = gen->generate();
        installMemoryCheck(nullptr);
        EXPECT_FALSE(generated);
        EXPECT_EQ(gen->failure(), SupportGen::Failure::OutOfMemory);
        EXPECT_NE(gen->failureText().find("not enough memory"), std::string::npos) << gen->failureText();
        if (c.wholePlanGranted) {
            EXPECT_GT(recordsAtRefusal, 0u);
            EXPECT_LE(recordsAtRefusal, kAllowed);
        } else {
            EXPECT_EQ(requests, 1u);
            EXPECT_EQ(recordsAtRefusal, 0u);
        }
        EXPECT_EQ(gen->areaCount(), 0u);
        EXPECT_EQ(supportTriangles(*gen), 0u);
        EXPECT_TRUE(noGroups(*mesh));
        EXPECT_TRUE(supporttest::marksClear(*mesh));
    }

    std::size_t planned = 0;
    installMemoryCheck([&planned](const uint64_t& bytes) {
        planned = std::max<std::size_t>(planned, bytes);
        return true;
    });
    const std::size_t recordsBefore = topolib::arena::bytesInUse();
    EXPECT_TRUE(gen->generate());
    const std::size_t records = topolib::arena::bytesInUse() - recordsBefore;
    installMemoryCheck(nullptr);
    EXPECT_GT(supportTriangles(*gen), 200000u);
    // The plan asked for covers what was made.
    EXPECT_GE(planned, records);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {

// Bytes of address space the process holds (0 when unknown).
unsigned long long addressSpace() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return 0;
    char line[256];
    unsigned long long kb = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "VmSize:", 7) == 0)
            kb = std::strtoull(line + 7, nullptr, 10);
    }
    std::fclose(f);
    return kb * 1024;
}

} // namespace

// In a child process capped at 256 MB more than it holds, a plan well within
// the bound (a 600 mm plate at 1 mm: 361,201 cones, gigabytes of meshes) runs
// out of memory: generate reports it, the container is left empty and the
// process lives on to free it.
TEST(GenerationBoundDeathTest, runningOutOfMemoryIsReportedAndTheContainerCleared) {
    auto mesh = meshfixtures::buildMeshWithOctree(plate(600.0));
    mesh->resetTriangleGroups();
    auto gen = preset(mesh.get(), 1.0);
    auto run = [&] {
        const unsigned long long held = addressSpace();
        const rlimit cap{held + (256ull << 20), held + (256ull << 20)};
        if (held == 0 || setrlimit(RLIMIT_AS, &cap) != 0)
            _exit(3);
        const bool generated = gen->generate();
        const bool ok = !generated && gen->failure() == SupportGen::Failure::OutOfMemory &&
                        gen->areaCount() == 0 && supportTriangles(*gen) == 0 && noGroups(*mesh) &&
                        gen->failureText().find("memory") != std::string::npos;
        gen.reset();
        _exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}
#endif
