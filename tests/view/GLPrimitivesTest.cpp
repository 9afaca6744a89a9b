// The geometry behind the overlay primitives.
#include "view/GLPrimitives.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(GLPrimitives, sectorsUseOneSegmentPerDegreeAndCirclesCloseAtSegment71) {
    const struct {
        double angle;
        int segments;
    } sectors[] = {{M_PI / 2, 91}, {0.0, 1}, {2 * M_PI, 361}, {-M_PI / 4, -44}, {0.0087, 1}};
    for (const auto& s : sectors)
        EXPECT_EQ(sectorSegmentCount(s.angle), s.segments) << s.angle;
    const struct {
        int k;
        double from, to;
    } segments[] = {{0, 0, 5}, {3, 15, 20}, {70, 350, 355}, {71, 0, 355}, {99, 495, 500}};
    for (const auto& s : segments) {
        double from, to;
        circleSegmentAngles(s.k, &from, &to);
        EXPECT_EQ(from, s.from) << s.k;
        EXPECT_EQ(to, s.to) << s.k;
    }
}
