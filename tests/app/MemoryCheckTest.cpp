#include "app/MemoryCheck.h"
#include "app/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <utility>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint64_t GiB = 1024ull * 1024 * 1024;
constexpr uint64_t MiB = 1024ull * 1024;

TEST(MemoryCheck, availableMemoryIsTheSmallerOfFreeMemoryAndTheBudgetLeft) {
    struct Case {
        uint64_t privateBytes;
        uint64_t freePhysical;
        uint64_t expected;
    };
    const Case cases[] = {
        {1 * GiB, 8 * GiB, 8 * GiB},       // free memory is the limit
        {3 * GiB, 12 * GiB, 7 * GiB},      // the 10 GiB budget is the limit
        {10 * GiB + GiB / 2, 64 * GiB, 0}, // over budget
        {10 * GiB, 64 * GiB, 0},           // exactly at the budget
        {0, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(availableMemoryFrom(c.privateBytes, c.freePhysical), c.expected)
            << c.privateBytes << " private, " << c.freePhysical << " free";
}

TEST(MemoryCheck, requestNeedsStrictlyMoreThanTheMarginOnTop) {
    const uint64_t request = 1 * GiB;
    EXPECT_FALSE(isRequestAffordable(request, request + 200 * MiB));
    EXPECT_TRUE(isRequestAffordable(request, request + 200 * MiB + 1));
    EXPECT_FALSE(isRequestAffordable(0, 200 * MiB));
    EXPECT_FALSE(isRequestAffordable(0, 0));
    // A huge request must not wrap around and pass.
    EXPECT_FALSE(isRequestAffordable(UINT64_MAX - 100 * MiB, 8 * GiB));
}

TEST(MemoryCheck, installedCheckIsWhatCallersReach) {
    MemoryCheckFunction previous = MemoryCheckCallback;
    uint64_t asked = 0;
    installMemoryCheck([&asked](const uint64_t& bytes) {
        asked = bytes;
        return bytes < 100;
    });
    ASSERT_TRUE(MemoryCheckCallback);
    EXPECT_TRUE(MemoryCheckCallback(99));
    EXPECT_FALSE(MemoryCheckCallback(100));
    EXPECT_EQ(asked, 100u);
    installMemoryCheck(hasEnoughMemory);
    // No machine can spare an exabyte.
    EXPECT_FALSE(MemoryCheckCallback(1ull << 60));
    installMemoryCheck(previous);
}

// A run of many small requests judges them on figures read once in a while:
// here the figures are the simulated memory, which every grant takes from
// (and, in one case, another program too). The run reads them at the first
// request, again after kRefreshBytes of grants and before each refusal, so it
// refuses exactly what a check of its own would refuse, and grants nothing a
// check would refuse unless memory was taken behind its back.
uint64_t g_free = 0;
unsigned g_reads = 0;
uint64_t simulatedFigures() noexcept {
    ++g_reads;
    return g_free;
}

TEST(MemoryCheck, aRunOfSmallRequestsReadsTheFiguresRarelyAndRefusesWhatACheckRefuses) {
    struct Case {
        const char* what;
        uint64_t free;
        uint64_t request;
        int requests;
        int64_t takenByOthersEach; // per request (freed when negative), unseen until the next reading
        unsigned maxReads;
    };
    const Case cases[] = {
        {"100,000 objects of 9 KiB in 16 GiB", 16 * GiB, 9 * 1024, 100000, 0, 16},
        {"until the memory runs out", 300 * MiB, 64 * 1024, 3000, 0, 0},
        {"another program takes memory meanwhile", 2 * GiB, 256 * 1024, 20000, 64 * 1024, 0},
        {"another program frees memory meanwhile", 300 * MiB, 1 * MiB, 1000, -512 * 1024, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_free = c.free;
        g_reads = 0;
        MemoryCheckRun run(simulatedFigures);
        int granted = 0;
        for (int i = 0; i < c.requests; ++i) {
            const uint64_t freeBefore = g_free;
            const bool ok = run.allows(c.request);
            // What the run was told before this request (and what it reads
            // when in doubt) bounds what it may answer.
            if (!ok) {
                EXPECT_FALSE(isRequestAffordable(c.request, g_free)) << "request " << i;
            } else if (c.takenByOthersEach == 0) {
                EXPECT_TRUE(isRequestAffordable(c.request, freeBefore)) << "request " << i;
            }
            if (ok) {
                ++granted;
                g_free -= c.request;
            }
            if (c.takenByOthersEach >= 0)
                g_free -= std::min(g_free, uint64_t(c.takenByOthersEach));
            else
                g_free += uint64_t(-c.takenByOthersEach);
        }
        if (c.maxReads > 0) {
            EXPECT_LE(g_reads, c.maxReads);
        }
        if (c.takenByOthersEach == 0) {
            EXPECT_EQ(uint64_t(granted),
                      std::min<uint64_t>(c.requests, (c.free - MEMORY_SAFETY_MARGIN - 1) / c.request));
        }
        EXPECT_EQ(run.readings(), g_reads);
    }

    // hasEnoughMemory on the run's thread asks the run; other threads and
    // the time after it read the figures themselves.
    g_free = 4 * GiB;
    g_reads = 0;
    {
        MemoryCheckRun run(simulatedFigures);
        for (int i = 0; i < 100; ++i)
            EXPECT_TRUE(hasEnoughMemory(1024));
        bool elsewhere = true;
        std::thread([&elsewhere] { elsewhere = hasEnoughMemory(1ull << 60); }).join();
        EXPECT_FALSE(elsewhere);
        EXPECT_EQ(run.readings(), 1u);
    }
    EXPECT_FALSE(hasEnoughMemory(1ull << 60));
    EXPECT_EQ(g_reads, 1u);
}

} // namespace

namespace {

void writeText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace

TEST(MemoryCheck, controlGroupLimitsBoundTheAllowance) {
    QTemporaryDir dir;
    const QString root = dir.path();
    // v2: a limited parent and an unlimited own group; the cache counts as free.
    writeText(root + "/app/memory.max", "4294967296\n");
    writeText(root + "/app/memory.current", "1073741824\n");
    writeText(root + "/app/memory.stat", "anon 900\ninactive_file 536870912\nactive_file 1\n");
    writeText(root + "/app/run/memory.max", "max\n");
    writeText(root + "/app/run/memory.current", "1073741824\n");
    EXPECT_EQ(platform::cgroupMemoryAllowanceFrom("0::/app/run\n", root), 3584ull * MiB);
    // v1, in the memory hierarchy, the group over its limit.
    writeText(root + "/memory/box/memory.limit_in_bytes", "2147483648\n");
    writeText(root + "/memory/box/memory.usage_in_bytes", "3221225472\n");
    writeText(root + "/memory/memory.limit_in_bytes", "9223372036854771712\n");
    EXPECT_EQ(platform::cgroupMemoryAllowanceFrom("4:memory:/box\n3:cpu:/\n", root), 0u);
    // v1 as a container sees it: the listed group is the mount's root.
    writeText(root + "/memory/memory.usage_in_bytes", "1073741824\n");
    writeText(root + "/memory/memory.limit_in_bytes", "3221225472\n");
    EXPECT_EQ(platform::cgroupMemoryAllowanceFrom("9:cpuacct,memory:/elsewhere/abc\n", root), 2 * GiB);
    // No limit anywhere, or nothing readable.
    EXPECT_EQ(platform::cgroupMemoryAllowanceFrom("0::/\n", root + "/none"), UINT64_MAX);
    EXPECT_EQ(platform::cgroupMemoryAllowanceFrom("", root), UINT64_MAX);
    // The live figure never exceeds the machine's.
    EXPECT_LE(availableMemory(), platform::availablePhysicalMemory());
}

// A CPU quota caps the workers: the smallest quota on the way to the root,
// rounded up to whole processors; "max" and v1's -1 set none.
TEST(Platform, cpuQuotasOfTheGroupAndItsAncestorsLimitTheProcessors) {
    QTemporaryDir dir;
    const QString root = dir.path();
    writeText(root + "/app/cpu.max", "250000 100000\n");
    writeText(root + "/app/run/cpu.max", "max 100000\n");
    EXPECT_EQ(platform::cgroupProcessorLimitFrom("0::/app/run\n", root), 3u);
    writeText(root + "/app/run/cpu.max", "50000 100000\n");
    EXPECT_EQ(platform::cgroupProcessorLimitFrom("0::/app/run\n", root), 1u);
    // v1: the cpu hierarchy, as a container sees it (its group is the root).
    writeText(root + "/cpu/cpu.cfs_quota_us", "200000\n");
    writeText(root + "/cpu/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(platform::cgroupProcessorLimitFrom("5:cpu,cpuacct:/docker/abc\n4:memory:/x\n", root), 2u);
    writeText(root + "/cpu/cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(platform::cgroupProcessorLimitFrom("5:cpu,cpuacct:/docker/abc\n", root), 0u);
    EXPECT_EQ(platform::cgroupProcessorLimitFrom("", root), 0u);
    EXPECT_GE(platform::usableProcessorCount(), 1u);
    EXPECT_LE(platform::usableProcessorCount(), platform::processorCount());
}

// Passes are split by the machine's load: the runnable tasks of /proc/loadavg
// other than the caller keep as many processors busy. A pass keeps to the free processors while at most
// half are busy, and takes them all when more are (each thread then shares
// its processor anyway); an unreadable text counts none busy.
TEST(Platform, passesKeepToTheProcessorsOtherProgramsLeaveWhileMostAreFree) {
    using platform::busyProcessorsFrom;
    using platform::passProcessorsFor;
    EXPECT_EQ(busyProcessorsFrom("0.10 0.20 0.30 1/300 999\n", 8), 0u); // only the caller runs
    EXPECT_EQ(busyProcessorsFrom("2.00 2.00 2.00 3/300 999\n", 8), 2u);
    EXPECT_EQ(busyProcessorsFrom("40.0 40.0 40.0 41/300 999\n", 8), 8u);
    for (const char* bad :
         {"", "garbage", "0.1 0.2 0.3 x/5 1", "0.1 0.2 0.3 0/5 1", "0.1 0.2", "0.1 0.2 0.3 12"})
        EXPECT_EQ(busyProcessorsFrom(bad, 4), 0u) << bad;

    EXPECT_EQ(passProcessorsFor(8, 0), 8u);
    EXPECT_EQ(passProcessorsFor(8, 3), 5u);
    EXPECT_EQ(passProcessorsFor(8, 4), 4u);
    EXPECT_EQ(passProcessorsFor(8, 5), 8u);
    EXPECT_EQ(passProcessorsFor(2, 1), 1u); // a two-core machine beside one busy program
    EXPECT_EQ(passProcessorsFor(2, 2), 2u);
    EXPECT_EQ(passProcessorsFor(1, 1), 1u);
    const unsigned now = platform::passProcessorCount();
    EXPECT_GE(now, 1u);
    EXPECT_LE(now, platform::usableProcessorCount());
}

// Under an address-space limit the check budgets what is left below it: the
// process's mapped size is read from the system (and grows with a mapping),
// so a limit just above it leaves little, whatever the machine has free.
TEST(MemoryCheck, anAddressSpaceLimitLeavesOnlyWhatIsNotMapped) {
    const uint64_t before = platform::mappedBytes();
    ASSERT_GT(before, 0u);
    void* block = ::mmap(nullptr, 256 * MiB, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    EXPECT_GE(platform::mappedBytes(), before + 256 * MiB);
    ::munmap(block, 256 * MiB);
    const pid_t child = fork();
    if (child == 0) {
        const uint64_t limit = platform::mappedBytes() + 64 * MiB;
        const rlimit tight{rlim_t(limit), rlim_t(limit)};
        _exit(setrlimit(RLIMIT_AS, &tight) != 0 ? 100 : availableMemory() <= 64 * MiB ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The check runs where memory is short: when even reading its figures cannot
// allocate, it refuses the request instead of throwing.
TEST(MemoryCheck, aCheckThatCannotAllocateRefusesWithoutThrowing) {
    static_assert(noexcept(hasEnoughMemory(std::declval<const uint64_t&>())), "the check never throws");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator ends the process instead of failing an allocation";
#endif
    const pid_t child = fork();
    if (child == 0) {
        const uint64_t limit = platform::mappedBytes() + 16 * MiB;
        const rlimit tight{rlim_t(limit), rlim_t(limit)};
        if (setrlimit(RLIMIT_AS, &tight) != 0)
            _exit(100);
        // Take every byte the allocator still has.
        static void* volatile taken;
        for (size_t size = 1 << 20; size >= 16; size /= 2)
            while ((taken = ::malloc(size)) != nullptr) {
            }
        _exit(hasEnoughMemory(1) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
