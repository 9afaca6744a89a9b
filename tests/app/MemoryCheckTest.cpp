#include "app/MemoryCheck.h"

#include <gtest/gtest.h>

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

} // namespace
