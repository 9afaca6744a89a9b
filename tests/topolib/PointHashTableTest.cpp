#include "topolib/PointHashTable.h"

#include <gtest/gtest.h>

using topolib::PointHashTable;

TEST(PointHashTable, bucketsFollowTheRoundedCoordinates) {
    const double origin[3] = {0.0, 0.0, 0.0};
    const double negativeZero[3] = {-0.0, 0.0, 0.0};
    const double p123[3] = {1.0, 2.0, 3.0};
    const double below[3] = {0.0000049999, 0.0, 0.0};
    const double above[3] = {0.0000050001, 0.0, 0.0};
    EXPECT_EQ(PointHashTable::bucketOf(origin), 15);
    EXPECT_EQ(PointHashTable::bucketOf(negativeZero), 15);
    EXPECT_EQ(PointHashTable::bucketOf(p123), 58);
    EXPECT_EQ(PointHashTable::bucketOf(below), 15);
    EXPECT_EQ(PointHashTable::bucketOf(above), 62);
}

TEST(PointHashTable, findsEqualPointsAcrossARoundingBoundary) {
    PointHashTable table;
    const double below[3] = {0.0000049999, 7.0000049999, -3.0000050001};
    const double above[3] = {0.0000050001, 7.0000050001, -3.0000049999};
    ASSERT_NE(PointHashTable::bucketOf(below), PointHashTable::bucketOf(above));
    table.insert(below);
    const topolib::Vector3D* found = table.findNear(above);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->x, below[0]);

    const double farAway[3] = {0.0000049999 + 2e-6, 7.0000049999, -3.0000050001};
    EXPECT_EQ(table.findNear(farAway), nullptr);
}

TEST(PointHashTable, insertsWithoutDeduplicatingAndKeepsTheCountOnClear) {
    PointHashTable table;
    const double p[3] = {1.5, -2.25, 1e-9};
    table.insert(p);
    table.insert(p);
    EXPECT_EQ(table.count(), 2u);
    table.clear();
    EXPECT_EQ(table.findNear(p), nullptr);
    EXPECT_EQ(table.count(), 2u);
}
