// The record window: 32-bit references to records made anywhere, block reuse,
// and records made and dropped on many threads at once.
#include "topolib/RecordArena.h"
#include "topolib/RecordPool.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace topolib;

TEST(RecordArena, referencesNameRecordsWhereverTheyWereMade) {
    RecordPool<StlVertex> pool;
    StlVertex* pooled = pool.create(1.0, 2.0, 3.0);
    std::unique_ptr<StlVertex> single(new StlVertex(4.0, 5.0, 6.0));
    StlVertex onStack(7.0, 8.0, 9.0);
    std::vector<StlVertex> inVector(3);

    for (StlVertex* v : {pooled, single.get(), &onStack, &inVector[2]}) {
        const Ref<StlVertex> r(v);
        EXPECT_EQ(r.get(), v);
        EXPECT_EQ(Ref<StlVertex>::fromRaw(r.raw()).get(), v);
    }
    // Records the window made are named by their offset; others go through the
    // table of outside records, once per address.
    EXPECT_EQ(Ref<StlVertex>(pooled).raw() & arena::kOutsideBit, 0u);
    EXPECT_EQ(Ref<StlVertex>(single.get()).raw() & arena::kOutsideBit, 0u);
    EXPECT_NE(Ref<StlVertex>(&onStack).raw() & arena::kOutsideBit, 0u);
    EXPECT_EQ(Ref<StlVertex>(&onStack).raw(), Ref<StlVertex>(&onStack).raw());
    EXPECT_EQ(Ref<StlVertex>(nullptr).raw(), 0u);
    EXPECT_EQ(Ref<StlVertex>().get(), nullptr);

    // A triangle on the stack over window vertices, and an edge's lists growing
    // past their two inline slots onto the heap, keep every entry.
    StlTriangle t;
    t.init(pooled, single.get(), &onStack);
    EXPECT_EQ(t.vertex(0), pooled);
    EXPECT_EQ(t.vertex(2), &onStack);
    EXPECT_EQ(single->triangle(0), &t);
    StlEdge e(pooled, single.get());
    std::vector<std::unique_ptr<StlTriangle>> fan;
    for (int i = 0; i < 40; ++i) {
        fan.emplace_back(new StlTriangle);
        ASSERT_EQ(e.addTriangle(fan.back().get()), static_cast<uint32_t>(i + 1));
    }
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(e.triangle(static_cast<uint32_t>(i)), fan[static_cast<std::size_t>(i)].get());
    EXPECT_EQ(e.addVertex(&inVector[0]), 1);
    EXPECT_EQ(e.vertex(2), &inVector[0]);
}

TEST(RecordArena, freedBlocksComeBackZeroed) {
    const std::size_t before = arena::bytesInUse();
    constexpr std::size_t kBytes = std::size_t(3) << 20;
    auto* a = static_cast<unsigned char*>(arena::allocateBlock(kBytes));
    auto* b = static_cast<unsigned char*>(arena::allocateBlock(kBytes));
    std::memset(a, 0xAB, kBytes);
    std::memset(b, 0xCD, kBytes);
    arena::freeBlock(a, kBytes);
    // The first place that fits is the one just given back.
    auto* c = static_cast<unsigned char*>(arena::allocateBlock(kBytes));
    EXPECT_EQ(c, a);
    for (std::size_t i = 0; i < kBytes; i += 4093)
        ASSERT_EQ(c[i], 0) << i;
    EXPECT_EQ(b[kBytes - 1], 0xCD);
    arena::freeBlock(b, kBytes);
    arena::freeBlock(c, kBytes);
    EXPECT_EQ(arena::bytesInUse(), before);
}

TEST(RecordArena, threadsMakeAndDropRecordsTogether) {
    constexpr int kThreads = 8, kRecords = 5000;
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &wrong] {
            RecordPool<StlTriangle> pool;
            std::vector<StlTriangle*> made;
            std::vector<Ref<StlTriangle>> refs;
            for (int i = 0; i < kRecords; ++i) {
                made.push_back(i % 2 ? pool.create() : new StlTriangle);
                made.back()->id = t * kRecords + i;
                refs.emplace_back(made.back());
            }
            for (int i = 0; i < kRecords; ++i)
                wrong[static_cast<std::size_t>(t)] += refs[static_cast<std::size_t>(i)]->id != t * kRecords + i;
            for (int i = 0; i < kRecords; i += 2)
                delete made[static_cast<std::size_t>(i)];
        });
    for (std::thread& th : threads)
        th.join();
    for (int w : wrong)
        EXPECT_EQ(w, 0);
}
