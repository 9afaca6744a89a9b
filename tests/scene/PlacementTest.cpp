// Where imported objects go: the placement index against the exhaustive
// search (every candidate tested against every placed footprint) over
// generated scenes, bit for bit, directly and through the object list while
// the scene changes between placements.
#include "SceneTestHost.h"
#include "scene/PlacementIndex.h"
#include "topolib/Matrix4D.h"

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <vector>

namespace {

using Footprint = PlacementIndex::Footprint;

// The search the index must reproduce: for every placed footprint in list
// order its four candidates, each tested against every footprint; the first
// free one, or else the last one tried.
std::array<double, 2> exhaustiveCorner(const std::vector<Footprint>& placed, double w, double d) {
    double corner[2] = {0.0, 0.0};
    for (const Footprint& a : placed) {
        const double candidates[4][2] = {{a.max[0] + 3.0, a.min[1]},
                                         {a.min[0], a.max[1] + 3.0},
                                         {a.min[0] - w - 3.0, a.min[1]},
                                         {a.min[0], a.min[1] - d - 3.0}};
        for (const auto& c : candidates) {
            corner[0] = c[0];
            corner[1] = c[1];
            const double cmax[2] = {c[0] + w, c[1] + d};
            if (std::none_of(placed.begin(), placed.end(), [&](const Footprint& b) {
                    return corner[0] < b.max[0] && corner[1] < b.max[1] && b.min[0] < cmax[0] &&
                           b.min[1] < cmax[1];
                }))
                return {{corner[0], corner[1]}};
        }
    }
    return {{corner[0], corner[1]}};
}

// An object's own box in x and y (as its file placed it) of a generated size.
struct Size {
    double w, d;
};
using SizeMaker = std::function<Size(std::mt19937&, int)>;

Footprint boxOfSize(std::mt19937& rng, const Size& s) {
    std::uniform_real_distribution<double> at(-60.0, 60.0);
    const double x = at(rng), y = at(rng);
    return {{x, y}, {x + s.w, y + s.d}};
}

struct Scenario {
    const char* what;
    unsigned seed;
    int initial;  // footprints already in the list, scattered, some overlapping
    int imported; // objects placed one after another
    int disorder; // how far an import may finish before those listed ahead of it
    SizeMaker size;
};

std::vector<Scenario> scenarios() {
    auto uniform = [](double lo, double hi) {
        return [lo, hi](std::mt19937& rng, int) {
            std::uniform_real_distribution<double> u(lo, hi);
            return Size{u(rng), u(rng)};
        };
    };
    return {
        {"copies of one cube", 1, 1, 400, 0,
         [](std::mt19937&, int) {
             return Size{10.0, 10.0};
         }},
        {"copies finishing out of order", 2, 3, 300, 8,
         [](std::mt19937&, int) {
             return Size{10.0, 10.0};
         }},
        {"three sizes in turn", 3, 10, 300, 4,
         [](std::mt19937&, int i) {
             const Size sizes[3] = {{10.0, 10.0}, {4.0, 6.0}, {25.0, 3.0}};
             return sizes[i % 3];
         }},
        {"random sizes over overlapping objects", 4, 40, 200, 6, uniform(0.5, 40.0)},
        {"whole millimetres, touching", 5, 30, 250, 3,
         [](std::mt19937& rng, int) {
             std::uniform_int_distribution<int> u(1, 12);
             return Size{double(u(rng)), double(u(rng))};
         }},
        {"flat and without width", 6, 20, 200, 5,
         [](std::mt19937& rng, int i) {
             std::uniform_int_distribution<int> u(0, 8);
             return Size{i % 3 == 0 ? 0.0 : double(u(rng)), i % 4 == 0 ? 0.0 : double(u(rng))};
         }},
        {"tiny beside large", 7, 15, 200, 4,
         [](std::mt19937& rng, int) {
             std::uniform_int_distribution<int> pick(0, 3);
             const double sides[4] = {1e-3, 0.37, 55.5, 700.0};
             return Size{sides[pick(rng)], sides[pick(rng)]};
         }},
    };
}

// The order in which the imports finish: list order, each moved up to
// `disorder` places back.
std::vector<int> finishingOrder(std::mt19937& rng, int n, int disorder) {
    std::vector<int> order;
    for (int i = 0; i < n; ++i)
        order.push_back(i);
    for (int i = 0; disorder > 0 && i + 1 < n; ++i) {
        std::uniform_int_distribution<int> step(0, std::min(disorder, n - 1 - i));
        std::swap(order[size_t(i)], order[size_t(i + step(rng))]);
    }
    return order;
}

} // namespace

TEST(Placement, indexFindsTheCornersOfTheExhaustiveSearchBitForBit) {
    for (const Scenario& s : scenarios()) {
        SCOPED_TRACE(s.what);
        std::mt19937 rng(s.seed);
        std::uniform_real_distribution<double> scatter(-150.0, 150.0);
        // Footprints by list position; the index takes them as they are placed.
        std::vector<std::pair<int, Footprint>> placed;
        PlacementIndex index;
        for (int i = 0; i < s.initial; ++i) {
            const Size size = s.size(rng, i);
            const double x = scatter(rng), y = scatter(rng);
            placed.push_back({i, {{x, y}, {x + size.w, y + size.d}}});
            index.add(i, placed.back().second);
        }
        const std::vector<int> order = finishingOrder(rng, s.imported, s.disorder);
        for (int i = 0; i < s.imported; ++i) {
            const int position = s.initial + order[size_t(i)];
            const Footprint own = boxOfSize(rng, s.size(rng, i));
            const double w = own.max[0] - own.min[0], d = own.max[1] - own.min[1];
            std::sort(placed.begin(), placed.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            std::vector<Footprint> inOrder;
            for (const auto& p : placed)
                inOrder.push_back(p.second);
            const std::array<double, 2> expected = exhaustiveCorner(inOrder, w, d);
            const std::array<double, 2> found = index.findCorner(w, d);
            ASSERT_EQ(found[0], expected[0]) << "import " << i << " of " << w << " x " << d;
            ASSERT_EQ(found[1], expected[1]) << "import " << i << " of " << w << " x " << d;
            // The object moves by (corner - own corner), as the list moves it.
            const double offset[2] = {found[0] - own.min[0], found[1] - own.min[1]};
            const Footprint moved{{own.min[0] + offset[0], own.min[1] + offset[1]},
                                  {own.max[0] + offset[0], own.max[1] + offset[1]}};
            placed.push_back({position, moved});
            index.add(position, moved);
        }
    }
}

namespace {

std::vector<Footprint> placedFootprints(const ObjectEx* except) {
    std::vector<Footprint> out;
    for (const ObjectEx* o : ObjectTable::instance()->objects()) {
        double min[3], max[3];
        if (o != except && o->isReady() && o->readBox(min, max))
            out.push_back({{min[0], min[1]}, {max[0], max[1]}});
    }
    return out;
}

} // namespace

// Imports placed one by one, in an order of their own, while objects are moved,
// turned, removed and added between them: each lands where the exhaustive
// search over the scene as it then is puts it.
TEST_F(SceneTest, placementsFollowTheSceneAsItChangesBetweenImports) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> scatter(-80.0, 80.0), side(2.0, 30.0);
    auto randomBox = [&] {
        return meshfixtures::box({side(rng), side(rng), side(rng)},
                                 {scatter(rng), scatter(rng), scatter(rng)});
    };
    for (int i = 0; i < 12; ++i)
        addMesh(randomBox());
    // The imports are listed at once and wait, as a batch's objects do.
    std::vector<ObjectEx*> imports;
    for (int i = 0; i < 90; ++i) {
        ObjectEx* obj = addMesh(i % 3 == 0 ? randomBox() : meshfixtures::cube(10.0));
        obj->setImportPending(true);
        imports.push_back(obj);
    }
    const std::vector<int> order = finishingOrder(rng, int(imports.size()), 6);
    for (size_t i = 0; i < order.size(); ++i) {
        ObjectEx* obj = imports[size_t(order[i])];
        std::uniform_int_distribution<int> anyObject(0, table()->count() - 1);
        ObjectEx* other = table()->objectAt(anyObject(rng));
        double min[3], max[3];
        ASSERT_TRUE(obj->readBox(min, max));
        // Where the import would go if the scene stayed as it is: the changes
        // below that must be seen take that place.
        const std::array<double, 2> before =
            exhaustiveCorner(placedFootprints(obj), max[0] - min[0], max[1] - min[1]);
        switch (i % 10) {
        case 3: // a placed object moves there
            if (other->isReady() && other != obj) {
                double omin[3], omax[3];
                ASSERT_TRUE(other->readBox(omin, omax));
                const double offset[3] = {before[0] - omin[0], before[1] - omin[1], 0.0};
                other->translate(offset);
            }
            break;
        case 6: // a quarter turn about z
            if (other->isReady()) {
                double min[3], max[3];
                ASSERT_TRUE(other->readBox(min, max));
                const double centre[3] = {min[0], max[1], 0.0}, axis[3] = {0.0, 0.0, 1.0}, quarter = M_PI / 2;
                topolib::Matrix4D m;
                topolib::makeAxisRotationMatrix(&quarter, centre, axis, m);
                other->rotateByMatrix(&m);
            }
            break;
        case 8: // a placed object leaves
            if (other->isReady())
                table()->removeObjectAt(other->id(), true);
            break;
        case 9: // another one comes there
            addMesh(meshfixtures::box({side(rng), side(rng), side(rng)}, {before[0], before[1], 0.0}));
            break;
        default:
            break;
        }
        const std::array<double, 2> corner =
            exhaustiveCorner(placedFootprints(obj), max[0] - min[0], max[1] - min[1]);
        ASSERT_TRUE(table()->placeObject(obj));
        obj->setImportPending(false);
        double placedMin[3], placedMax[3];
        ASSERT_TRUE(obj->readBox(placedMin, placedMax));
        for (int k = 0; k < 2; ++k)
            ASSERT_EQ(placedMin[k], min[k] + (corner[size_t(k)] - min[k])) << "import " << i << " axis " << k;
        ASSERT_EQ(placedMin[2], 0.0);
    }
}
