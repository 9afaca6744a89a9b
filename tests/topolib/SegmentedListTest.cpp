// The shells' triangle lists: a list that grows in blocks behaves as a
// std::deque that is only appended to, and a mesh of loose facets pays one
// allocation per shell, not a deque's three.
#include "topolib/SegmentedList.h"
#include "FailingAllocations.h"
#include "MeshFixtures.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

using topolib::SegmentedList;

namespace {

using List = SegmentedList<uint32_t>;

// Every way of reading the list gives the deque's items.
void expectSame(const List& list, const std::deque<uint32_t>& oracle) {
    ASSERT_EQ(list.size(), oracle.size());
    ASSERT_EQ(list.empty(), oracle.empty());
    std::size_t i = 0;
    for (uint32_t item : list) {
        ASSERT_EQ(item, oracle[i]) << "iterating, item " << i;
        ++i;
    }
    ASSERT_EQ(i, oracle.size());
    for (std::size_t k = 0; k < oracle.size(); k += 1 + k / 7)
        ASSERT_EQ(list[k], oracle[k]) << "item " << k;
    if (!oracle.empty()) {
        EXPECT_EQ(list.front(), oracle.front());
        EXPECT_EQ(list.back(), oracle.back());
    }
    const std::vector<uint32_t> copied(list.begin(), list.end());
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), oracle.begin(), oracle.end()));
}

} // namespace

// Random appends, shrinks, growths, clears, moves and swaps, through sizes
// that cross the inline items, the growing blocks and the full-size ones;
// items already in the list never move.
TEST(SegmentedList, behavesAsADequeThatIsAppendedToAndNeverMovesItsItems) {
    std::mt19937 rng(11);
    List list;
    std::deque<uint32_t> oracle;
    uint32_t next = 1;
    const std::size_t sizes[] = {0, 1, 2, 3, 9, 10, 11, 100, 4000, 131066, 131067, 200000, 262603};
    for (std::size_t round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const std::size_t target = sizes[rng() % (sizeof sizes / sizeof sizes[0])];
        switch (rng() % 6) {
        case 0: { // append, checking that earlier items keep their place
            const std::size_t before = oracle.size();
            const uint32_t* first = before ? &list[0] : nullptr;
            const uint32_t* last = before ? &list.back() : nullptr;
            while (oracle.size() < target) {
                list.push_back(next);
                oracle.push_back(next++);
            }
            if (before) {
                EXPECT_EQ(&list[0], first);
                EXPECT_EQ(&list[before - 1], last);
            }
            break;
        }
        case 1: // resize either way; new items are zero
            list.resize(target);
            oracle.resize(target);
            break;
        case 2:
            list.clear();
            oracle.clear();
            break;
        case 3: { // moved out and back
            List moved(std::move(list));
            EXPECT_TRUE(list.empty());
            list = std::move(moved);
            break;
        }
        case 4: { // swapped with a short list and back
            List other;
            other.push_back(7);
            list.swap(other);
            expectSame(list, {7});
            list.swap(other);
            break;
        }
        default: // an append of an item of the list itself
            if (!oracle.empty()) {
                list.push_back(list.front());
                oracle.push_back(oracle.front());
            }
            break;
        }
        expectSame(list, oracle);
        // Writes through the plain iterator land in the list.
        for (uint32_t& item : list)
            item ^= 1u;
        for (uint32_t& item : oracle)
            item ^= 1u;
        expectSame(list, oracle);
    }
}

// Loose facets are a shell each, with one triangle: its record is the only
// allocation the shell makes (a deque makes two for each of its lists).
TEST(SegmentedList, aShellOfOneTriangleAllocatesOnlyItsRecord) {
    meshfixtures::TriangleSoup soup;
    for (int i = 0; i < 5000; ++i)
        soup.push_back(meshfixtures::translated(meshfixtures::singleFacet(), {3.0 * i, 0.0, 0.0})[0]);
    for (unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(threads);
        topolib::forceImportThreads(threads);
        auto mesh = meshfixtures::buildMesh(soup, {true, false});
        failingallocations::arm(0);
        mesh->findShells(false, 0);
        const long made = failingallocations::disarm();
        EXPECT_EQ(mesh->shells().size(), soup.size());
        // A tenth more for the search's own arrays and the object's list of shells.
        EXPECT_LT(made, long(soup.size()) * 11 / 10);
    }
    topolib::forceImportThreads(0);
}
