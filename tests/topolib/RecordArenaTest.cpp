// The record window: 32-bit references to records made anywhere, block reuse,
// and records made and dropped on many threads at once.
#include "app/MemoryCheck.h"
#include "app/Platform.h"
#include "topolib/RecordArena.h"
#include "topolib/RecordPool.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlVertex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <cstring>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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

namespace {

// The process's data size (writable private memory) in kB, as a data-size
// limit counts it.
long dataKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmData: %ld kB", &kb) == 1)
            break;
    std::fclose(f);
    return kb;
}

// The tests that limit the address space need a process whose window is not
// reserved yet, and no sanitizer (its shadow memory fills the address space).
void skipUnlessTheWindowIsUnreserved() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory fills the address space";
#endif
    if (topolib::arena::base() != reinterpret_cast<char*>(std::uintptr_t(0) - topolib::arena::kMaxWindowBytes))
        GTEST_SKIP() << "an earlier test of this process reserved the window already";
}

// Runs body in a child process whose address space is limited to what it has
// mapped plus extra bytes; returns the child's exit code (body's result), or
// -1 when it ended by a signal.
int exitCodeUnderAddressLimit(uint64_t extra, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        const uint64_t limit = platform::mappedBytes() + extra;
        rlimit tight{rlim_t(limit), rlim_t(limit)};
        _exit(setrlimit(RLIMIT_AS, &tight) == 0 ? body() : 100);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

// What the window gives back and forgets: a big freed block no longer counts
// as data (a data-size limit would refuse later allocations otherwise) and
// its range serves again; records made outside the window and destroyed
// leave the table of outside addresses, however many come and go.
TEST(RecordArena, freedMemoryAndDestroyedOutsideRecordsAreGivenBack) {
    constexpr std::size_t kBig = std::size_t(512) << 20;
    void* warm = topolib::arena::allocateRecord(sizeof(topolib::StlVertex)); // the window exists
    topolib::arena::freeRecord(warm, sizeof(topolib::StlVertex));
    const long before = dataKb();
    char* big = static_cast<char*>(topolib::arena::allocateBlock(kBig));
    big[0] = 1;
    big[kBig - 1] = 2;
    EXPECT_GT(dataKb(), before + 400 * 1024);
    topolib::arena::freeBlock(big, kBig);
    EXPECT_LT(dataKb(), before + 100 * 1024);
    // The range is usable again, by a block and by records.
    char* again = static_cast<char*>(topolib::arena::allocateBlock(kBig / 4));
    again[kBig / 4 - 1] = 3;
    EXPECT_EQ(again[0], 0);
    std::vector<topolib::StlVertex*> records;
    for (int i = 0; i < 20000; ++i)
        records.push_back(new topolib::StlVertex(i, 0, 0));
    for (topolib::StlVertex* v : records)
        delete v;
    topolib::arena::freeBlock(again, kBig / 4);

    const std::size_t outside = topolib::arena::outsideCount();
    for (int i = 0; i < 1200000; ++i) {
        topolib::StlVertex v(i, 0, 0);
        topolib::Ref<topolib::StlVertex> r(&v);
        ASSERT_EQ(r.get(), &v);
    }
    EXPECT_EQ(topolib::arena::outsideCount(), outside);
}

// Without room for the window (an address-space limit below it), making a
// record fails as any allocation does instead of ending the program.
TEST(RecordArena, noRoomForTheWindowIsAnAllocationFailure) {
    skipUnlessTheWindowIsUnreserved();
    if (::testing::Test::IsSkipped())
        return;
    const int code = exitCodeUnderAddressLimit(uint64_t(32) << 20, [] {
        try {
            // The window is reserved on first use, in the child.
            return topolib::arena::allocateBlock(std::size_t(64) << 20) != nullptr ? 1 : 2;
        } catch (const std::bad_alloc&) {
            return 0;
        }
    });
    EXPECT_EQ(code, 0);
}

#if defined(__SANITIZE_ADDRESS__)
// A record read after it was freed is reported by AddressSanitizer, although
// its slot stays in the window.
TEST(RecordArenaDeathTest, useOfAFreedRecordIsReported) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* t = new topolib::StlTriangle;
            delete t;
            volatile uint32_t flags = t->flags;
            (void)flags;
        },
        "AddressSanitizer");
}
#endif

// Under an address-space limit the window is smaller than the memory check's
// own budget: the check promises a mesh no more than the window (and the
// limit) can hold.
TEST(RecordArena, theMemoryCheckAgreesWithTheWindow) {
    skipUnlessTheWindowIsUnreserved();
    if (::testing::Test::IsSkipped())
        return;
    const uint64_t extra = uint64_t(3) << 30;
    const int code = exitCodeUnderAddressLimit(extra, [extra] {
        const uint64_t limit = platform::addressSpaceLimit();
        const uint64_t room = topolib::arena::bytesFree(); // reserves the window
        if (room == 0 || room >= extra)
            return 4;
        const uint64_t available = availableMemory();
        if (available > 2 * room || available > limit)
            return 5;
        // A mesh the window cannot hold is refused before it is read.
        return hasEnoughMemory(2 * room + (uint64_t(1) << 30)) ? 6 : 0;
    });
    EXPECT_EQ(code, 0);
}

TEST(RecordArena, lentRoomHoldsTheNextRecordsAndItsLoanEndsWithTheFirstOne) {
    RecordPool<StlEdge> pool;
    EXPECT_EQ(pool.lentRoom(), nullptr);
    void* room = pool.lendRoom(1000);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(pool.lendRoom(1000), room); // the same room again
    EXPECT_EQ(pool.lentRoom(), room);
    // The room is plain memory while lent, and the records are then made there.
    std::memset(room, 0xAB, 1000 * sizeof(StlEdge));
    StlEdge* made = pool.takeSlots(600);
    EXPECT_EQ(static_cast<void*>(made), room);
    EXPECT_EQ(pool.lentRoom(), nullptr);
    for (int i = 0; i < 600; ++i)
        new (made + i) StlEdge();
    // Lent again after the records, the rest of the block; one create ends it.
    void* rest = pool.lendRoom(400);
    EXPECT_EQ(rest, static_cast<void*>(made + 600));
    EXPECT_EQ(static_cast<void*>(pool.create()), rest);
    EXPECT_EQ(pool.lentRoom(), nullptr);
    // A loan ends when the pool needs a new block or is cleared.
    pool.lendRoom(100);
    pool.reserve(1000);
    EXPECT_EQ(pool.lentRoom(), nullptr);
    pool.lendRoom(10);
    pool.clear();
    EXPECT_EQ(pool.lentRoom(), nullptr);
}

namespace {

// A record of 24 bytes (records straddle the granules) that counts its
// destructor calls, and those of records that marked themselves.
struct CountedOwner {
    static constexpr bool kMarksOwnedMemory = true;
    static int destroyed;
    static int ownersDestroyed;
    ~CountedOwner() {
        ++destroyed;
        ownersDestroyed += owns;
    }
    void own() {
        owns = true;
        arena::markOwner(this);
    }
    bool owns = false;
    char pad[23];
};
int CountedOwner::destroyed = 0;
int CountedOwner::ownersDestroyed = 0;

} // namespace

// A pool that goes as a whole destroys every record that marked itself (in
// the first and last granule, on both sides of a granule's edge, in runs of
// marked granules) and leaves the records of unmarked granules alone; a block
// made in a freed block's room starts without its marks.
TEST(RecordArena, aPoolDestroysTheRecordsThatOwnMemoryAndLooksAtNoOthers) {
    static_assert(sizeof(CountedOwner) == 24, "records straddle granules");
    // 99 whole granules in one block aligned to the big page.
    constexpr std::size_t kRecords = arena::kOwnerGranule * 99 / sizeof(CountedOwner);
    constexpr std::size_t kPerGranule = arena::kOwnerGranule / sizeof(CountedOwner);
    const std::size_t straddling = 5 * arena::kOwnerGranule / sizeof(CountedOwner); // begins in granule 4
    const std::size_t owners[] = {0,          kRecords - 1,        straddling,    straddling + 1,
                                  kPerGranule * 40, kPerGranule * 41 + 7, kPerGranule * 42, 77777};
    CountedOwner::destroyed = CountedOwner::ownersDestroyed = 0;
    {
        RecordPool<CountedOwner> pool;
        pool.reserve(kRecords);
        std::vector<CountedOwner*> made;
        for (std::size_t i = 0; i < kRecords; ++i)
            made.push_back(pool.create());
        for (std::size_t i : owners)
            made[i]->own();
        ASSERT_EQ(CountedOwner::destroyed, 0);
    }
    EXPECT_EQ(CountedOwner::ownersDestroyed, static_cast<int>(std::size(owners)));
    // At most the records of the granules marked: 0, 4 and 5, 40 to 42, 98
    // and the one of record 77777.
    EXPECT_LE(CountedOwner::destroyed, static_cast<int>(9 * (kPerGranule + 1)));

    CountedOwner::destroyed = CountedOwner::ownersDestroyed = 0;
    {
        RecordPool<CountedOwner> pool;
        pool.reserve(kRecords);
        for (std::size_t i = 0; i < kRecords; ++i)
            pool.create();
    }
    EXPECT_EQ(CountedOwner::destroyed, 0);

    // Small blocks begin inside a granule, marked by an owner before them.
    CountedOwner::destroyed = CountedOwner::ownersDestroyed = 0;
    {
        std::vector<std::unique_ptr<RecordPool<CountedOwner>>> pools;
        for (int p = 0; p < 24; ++p) {
            pools.emplace_back(new RecordPool<CountedOwner>);
            pools.back()->reserve(1000);
            for (int i = 0; i < 1000; ++i) {
                CountedOwner* made = pools.back()->create();
                if (i == 0 || i == 999)
                    made->own();
            }
        }
    }
    EXPECT_EQ(CountedOwner::ownersDestroyed, 48);
}
