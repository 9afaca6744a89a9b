// The nearest-cone search against a brute-force oracle, on spreads that
// defeat a plain grid: cones crowded at one point, on one line, inside one
// small cell among far ones, on a lattice where many lie at one distance, and
// at random. Every cone's answer must be the oracle's, cone for cone, and the
// search must look at a number of cones and boxes that stays near the
// logarithm of the crowd, however the cones are spread.
#include "support/ColumnLink.h"
#include "support/ConeShape.h"
#include "support/NearestCones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using support::ColumnLink;
using support::ConeShape;
using support::NearestCones;
using topolib::Vector3D;

namespace {

using Spread = std::function<void(std::size_t n, std::mt19937& random, std::vector<Vector3D>& feet)>;

// The first k cones c links to: every live cone other than c in range, by
// rank and then by its place in the list.
std::vector<ConeShape*> oracle(const std::vector<ConeShape*>& cones, const ConeShape* c, double a, double b,
                               std::size_t k) {
    std::vector<std::tuple<ColumnLink::Rank, std::size_t, ConeShape*>> found;
    for (std::size_t n = 0; n < cones.size(); ++n) {
        ConeShape* d = cones[n];
        if (d == c || d->isDeleted())
            continue;
        const double dx = d->FootPoint.x - c->FootPoint.x, dy = d->FootPoint.y - c->FootPoint.y;
        const double s2 = dx * dx + dy * dy;
        if (a < s2 && s2 < b)
            found.emplace_back(ColumnLink::rank(ColumnLink::footDistanceSq(c, d), d), n, d);
    }
    std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) {
        if (std::get<0>(x) < std::get<0>(y))
            return true;
        if (std::get<0>(y) < std::get<0>(x))
            return false;
        return std::get<1>(x) < std::get<1>(y);
    });
    std::vector<ConeShape*> out;
    for (std::size_t n = 0; n < found.size() && n < k; ++n)
        out.push_back(std::get<2>(found[n]));
    return out;
}

std::vector<std::unique_ptr<ConeShape>> conesAt(const std::vector<Vector3D>& feet, std::mt19937& random) {
    std::vector<std::unique_ptr<ConeShape>> cones;
    for (std::size_t n = 0; n < feet.size(); ++n) {
        auto c = std::make_unique<ConeShape>();
        c->FootPoint = feet[n];
        // Contacts repeat now and then: equal ranks fall back on the order.
        c->ContactPoint = Vector3D(feet[n].x, feet[n].y, 10.0 + double(random() % 3));
        c->deleted = random() % 11 == 0 ? 1 : 0;
        cones.push_back(std::move(c));
    }
    return cones;
}

const std::vector<std::pair<std::string, Spread>>& spreads() {
    static const std::vector<std::pair<std::string, Spread>> all = {
        {"all at one point and a few others",
         [](std::size_t n, std::mt19937& random, std::vector<Vector3D>& feet) {
             for (std::size_t i = 0; i < n; ++i)
                 feet.push_back(i % 500 == 0 ? Vector3D(double(random() % 20), double(random() % 20), 0.0)
                                             : Vector3D(3.0, 4.0, 0.0));
         }},
        {"on one line, closer than the lower limit",
         [](std::size_t n, std::mt19937&, std::vector<Vector3D>& feet) {
             for (std::size_t i = 0; i < n; ++i)
                 feet.push_back(Vector3D(1e-4 * double(i), 2.0, 0.0));
         }},
        {"on one line, a cone every 0.3 mm",
         [](std::size_t n, std::mt19937&, std::vector<Vector3D>& feet) {
             for (std::size_t i = 0; i < n; ++i)
                 feet.push_back(Vector3D(0.3 * double(i), 0.3 * double(i), 0.0));
         }},
        {"in one small cell among far cones",
         [](std::size_t n, std::mt19937& random, std::vector<Vector3D>& feet) {
             std::uniform_real_distribution<double> cell(0.0, 0.2), far(-400.0, 400.0);
             for (std::size_t i = 0; i < n; ++i)
                 feet.push_back(i % 200 == 0 ? Vector3D(far(random), far(random), 0.0)
                                             : Vector3D(cell(random), cell(random), 0.0));
         }},
        {"on a lattice of equal distances, feet at two heights",
         [](std::size_t n, std::mt19937&, std::vector<Vector3D>& feet) {
             const std::size_t side = std::size_t(std::sqrt(double(n))) + 1;
             for (std::size_t i = 0; i < n; ++i)
                 feet.push_back(
                     Vector3D(2.0 * double(i % side), 2.0 * double(i / side), (i % 7 == 0) ? 3.0 : 0.0));
         }},
        {"at random",
         [](std::size_t n, std::mt19937& random, std::vector<Vector3D>& feet) {
             std::uniform_real_distribution<double> u(0.0, 60.0);
             for (std::size_t i = 0; i < n; ++i)
                 feet.push_back(Vector3D(u(random), u(random), u(random) < 6.0 ? u(random) : 0.0));
         }},
    };
    return all;
}

} // namespace

TEST(NearestCones, everyConeFindsWhatTheOracleFindsHoweverTheConesAreSpread) {
    std::mt19937 random(64);
    const double a = 0.525 * 0.525, b = 10.5 * 10.5;
    for (const auto& [name, spread] : spreads()) {
        for (std::size_t n : {1, 2, 9, 700, 3000}) {
            SCOPED_TRACE(name + ", " + std::to_string(n) + " cones");
            std::vector<Vector3D> feet;
            spread(n, random, feet);
            const auto owned = conesAt(feet, random);
            std::vector<ConeShape*> cones;
            for (const auto& c : owned)
                cones.push_back(c.get());
            for (std::size_t k : {std::size_t(1), std::size_t(4)}) {
                const NearestCones nearest(cones, 4);
                std::vector<ConeShape*> found;
                int checked = 0;
                for (std::size_t i = 0; i < cones.size(); i += 1 + cones.size() / 400, ++checked) {
                    nearest.find(cones[i], a, b, k, found);
                    ASSERT_EQ(found, oracle(cones, cones[i], a, b, k)) << "cone " << i << " k " << k;
                }
                EXPECT_GT(checked, 0);
            }
        }
    }
}

TEST(NearestCones, searchLooksAtFewConesHoweverTheConesAreSpread) {
    std::mt19937 random(65);
    const double a = 0.525 * 0.525, b = 10.5 * 10.5;
    for (const auto& [name, spread] : spreads()) {
        SCOPED_TRACE(name);
        std::vector<Vector3D> feet;
        spread(40000, random, feet);
        const auto owned = conesAt(feet, random);
        std::vector<ConeShape*> cones;
        for (const auto& c : owned)
            cones.push_back(c.get());
        const NearestCones nearest(cones, 4);
        std::vector<ConeShape*> found;
        std::uint64_t examined = 0;
        for (ConeShape* c : cones)
            nearest.find(c, a, b, 4, found, &examined);
        // Some hundreds a cone at the most: a search that looks through a
        // crowd cone by cone takes tens of thousands.
        EXPECT_LT(double(examined) / double(cones.size()), 400.0);
    }
}
