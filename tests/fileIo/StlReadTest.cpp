// Reading STL files into a mesh: binary and ASCII readers, the ASCII test,
// hostile counts and coordinates, memory check and progress.

#include "MeshStateHash.h"
#include "StlFixtures.h"

#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "fileIo/FileHandlingFactory.h"
#include "fileIo/StlFileHandling.h"
#include "topolib/ImportSession.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlObject.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <thread>

#include <sched.h>
#include <unistd.h>

using namespace fileIo;
using namespace stlfixtures;

namespace {

class StlRead : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([this](const uint64_t& bytes) {
            askedBytes = bytes;
            return allowMemory;
        });
    }
    void TearDown() override {
        installMemoryCheck(nullptr);
        setProgressCallback(nullptr);
    }

    std::wstring file(const char* name, const std::string& bytes) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeFile(path.toStdString(), bytes));
        return path.toStdWString();
    }

    int load(const std::wstring& path, topolib::StlObject& mesh) {
        StlFileHandling handler;
        handler.setFileName(path);
        handler.setTarget(&mesh);
        return handler.load();
    }

    int readBinaryBytes(const std::string& bytes, topolib::StlObject& mesh,
                        topolib::ImportSession* scratch = nullptr) {
        std::istringstream in(bytes);
        StlFileHandling handler;
        handler.setTarget(&mesh);
        handler.setImportScratch(scratch);
        return handler.readBinaryFrom(in);
    }

    QTemporaryDir dir;
    bool allowMemory = true;
    uint64_t askedBytes = 0;
};

std::vector<Facet> someFacets(int n) {
    auto facets = torus(8, 8);
    facets.resize(n);
    return facets;
}

std::vector<Facet> someFacetsOfTorus(int n) {
    auto facets = torus(100, 100);
    facets.resize(n);
    return facets;
}

} // namespace

TEST_F(StlRead, binaryCubeBecomesWeldedMeshWithNameBoxAreaAndVolume) {
    topolib::StlObject mesh;
    ASSERT_EQ(load(file("cube.stl", binaryStl(cube(10.f), "my cube")), mesh), kSuccess);
    EXPECT_EQ(mesh.triangleCount(), 12u);
    EXPECT_EQ(mesh.vertexCount(), 8u);
    EXPECT_EQ(mesh.getName(), "my cube");
    EXPECT_NEAR(mesh.area(), 600.0, 1e-9);
    EXPECT_NEAR(mesh.volume(), 1000.0, 1e-9);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(mesh.bboxMin()[k], 0.0);
        EXPECT_EQ(mesh.bboxMax()[k], 10.0);
        EXPECT_EQ(mesh.loadedBoxMax()[k], 10.0);
    }
}

TEST_F(StlRead, binaryCountsAndTruncationsGiveCompleteFacetsOrFailure) {
    const auto five = someFacets(5);
    const std::string full = binaryStl(five);
    const struct {
        const char* what;
        std::string bytes;
        int result;
        uint32_t triangles;
    } cases[] = {
        {"exact", full, kSuccess, 5},
        {"count 3 of 5 present", binaryStl(five, "h", 3), kSuccess, 3},
        {"count 7, two records cut off", full.substr(0, 84 + 2 * 50), kSuccess, 2},
        {"huge count, five records", binaryStl(five, "h", 0xffffffffLL), kSuccess, 5},
        {"last record without attribute bytes", full.substr(0, full.size() - 2), kSuccess, 5},
        {"last record cut inside", full.substr(0, full.size() - 3), kSuccess, 4},
        {"zero count", binaryStl(five, "h", 0), kFailure, 0},
        {"header and count only", full.substr(0, 84), kFailure, 0},
        {"shorter than a header", full.substr(0, 60), kFailure, 0},
        {"empty", std::string(), kFailure, 0},
        {"first record cut inside", full.substr(0, 84 + 47), kFailure, 0},
    };
    for (const auto& c : cases) {
        topolib::StlObject mesh;
        EXPECT_EQ(readBinaryBytes(c.bytes, mesh), c.result) << c.what;
        EXPECT_EQ(mesh.triangleCount(), c.triangles) << c.what;
    }
}

TEST_F(StlRead, cornersThatAreNotNumbersDropTheirFacetAndCornersBeyondTheLimitRefuseTheFile) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto changed = [](std::vector<Facet> facets, std::size_t facet, std::size_t value, float to) {
        facets[facet][value] = to;
        return facets;
    };
    auto cubeFrom = [](float low, float size) {
        std::vector<Facet> facets = cube(size);
        for (Facet& f : facets)
            for (std::size_t c = 3; c < 12; ++c)
                f[c] += low;
        return facets;
    };
    const auto four = someFacets(4);
    const struct {
        const char* what;
        std::vector<Facet> facets;
        int result;
        uint32_t triangles;
    } cases[] = {
        {"corner not a number", changed(four, 1, 4, nan), kSuccess, 3},
        {"normal not a number (not used)", changed(four, 3, 0, nan), kSuccess, 4},
        {"every corner not a number", {changed(four, 0, 3, nan)[0]}, kFailure, 0},
        {"corner infinite", changed(four, 2, 11, -inf), kFailure, 0},
        {"cube 0 to 2000000 mm", cube(2e6f), kFailure, 0},
        {"one corner at -10000000 mm", changed(four, 3, 7, -1e7f), kFailure, 0},
        {"cube -1000000 to 1000000 mm", cubeFrom(-1e6f, 2e6f), kSuccess, 12},
        {"one corner at -1000000.1 mm", changed(four, 2, 9, -1000000.1f), kFailure, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const unsigned threads : {1u, 3u}) {
            topolib::StlObject mesh;
            topolib::forceImportThreads(threads);
            EXPECT_EQ(readBinaryBytes(binaryStl(c.facets), mesh), c.result) << threads;
            topolib::forceImportThreads(0);
            if (c.result == kSuccess) {
                EXPECT_EQ(mesh.triangleCount(), c.triangles) << threads;
                for (int k = 0; k < 3; ++k)
                    EXPECT_TRUE(std::isfinite(mesh.bboxMin()[k]) && std::isfinite(mesh.bboxMax()[k]));
            }
        }
        topolib::StlObject fromText;
        EXPECT_EQ(load(file("text.stl", asciiStl(c.facets)), fromText), c.result);
        if (c.result == kSuccess) {
            EXPECT_EQ(fromText.triangleCount(), c.triangles);
        }
    }
    // The corner farthest beyond the limit is told with its sign and every
    // digit that tells it from the limit.
    const struct {
        std::vector<Facet> facets;
        const char* corner;
    } told[] = {
        {changed(four, 2, 9, -1000000.1f), "a corner at -1000000.1 mm"},
        {changed(changed(four, 1, 3, 3e6f), 2, 5, -1e7f), "2 facets reach beyond the coordinate limit of ±1000000 "
                                                          "mm (a corner at -10000000 mm)"},
        {changed(four, 0, 4, 1e30f), "a corner at 1e+30 mm"},
    };
    for (const auto& c : told) {
        topolib::StlObject mesh;
        StlFileHandling handler;
        handler.setFileName(file("far.stl", asciiStl(c.facets)));
        handler.setTarget(&mesh);
        EXPECT_EQ(handler.load(), kFailure);
        ASSERT_EQ(handler.loadNotes().size(), 1u);
        EXPECT_NE(handler.loadNotes()[0].find(c.corner), std::string::npos) << handler.loadNotes()[0];
    }
}

TEST_F(StlRead, binaryFileThatShrinksWhileReadIsToldWithBothCounts) {
    // The file is cut to half its records once the read has begun (at its
    // first progress report, after the first block).
    const std::wstring path = file("shrinking.stl", binaryStl(someFacetsOfTorus(10000)));
    const std::string bytes = QString::fromStdWString(path).toStdString();
    bool cut = false;
    const ProgressSink cutting([&](int percent, unsigned, const std::wstring&, const std::wstring&,
                                   const std::wstring&) {
        if (percent > 0 && !cut)
            cut = ::truncate(bytes.c_str(), 84 + 5000 * 50) == 0;
    });
    topolib::StlObject mesh;
    StlFileHandling handler;
    handler.setFileName(path);
    handler.setTarget(&mesh);
    handler.setProgressSink(&cutting);
    topolib::forceImportThreads(1);
    EXPECT_EQ(handler.load(), kSuccess);
    topolib::forceImportThreads(0);
    ASSERT_TRUE(cut);
    EXPECT_EQ(mesh.triangleCount(), 5000u);
    EXPECT_EQ(handler.loadNotes(), std::vector<std::string>{"The file declares 10000 facets, its size held 10000 when "
                                                            "the read began, but it ended after 5000 (it shrank "
                                                            "while it was read); 5000 facets were read."});
}

TEST_F(StlRead, memoryCheckSeesTheCountTheFileCanHoldAndCanRefuse) {
    const std::string bytes = binaryStl(someFacets(5), "h", 60000000);
    topolib::StlObject mesh;
    EXPECT_EQ(readBinaryBytes(bytes, mesh), kSuccess);
    EXPECT_EQ(askedBytes, uint64_t(5 * 330 * 1.2));

    allowMemory = false;
    topolib::StlObject refused;
    EXPECT_EQ(readBinaryBytes(bytes, refused), kNotEnoughMemory);
    EXPECT_EQ(refused.triangleCount(), 0u);

    installMemoryCheck(nullptr);
    topolib::StlObject unchecked;
    EXPECT_EQ(readBinaryBytes(bytes, unchecked), kNotEnoughMemory);
}

TEST_F(StlRead, headerWithoutZeroByteGivesEightyByteName) {
    topolib::StlObject mesh;
    ASSERT_EQ(readBinaryBytes(binaryStl(someFacets(2), std::string(80, 'N') + "ignored"), mesh), kSuccess);
    EXPECT_EQ(mesh.getName(), std::string(80, 'N'));
}

TEST_F(StlRead, binaryProgressOpensWithFileTextAndReportsAboutFortyTimes) {
    struct Report {
        int value;
        unsigned code;
    };
    std::vector<Report> reports;
    setProgressCallback([&](int v, unsigned code, const std::wstring&, const std::wstring&, const std::wstring&) {
        reports.push_back({v, code});
    });
    topolib::StlObject mesh;
    ASSERT_EQ(readBinaryBytes(binaryStl(torus(50, 100)), mesh), kSuccess); // 10000 facets
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports.front().value, -2);
    EXPECT_EQ(reports.front().code, 3u);
    EXPECT_EQ(reports[1].value, 0);
    EXPECT_EQ(reports.back().value, 60);
    const size_t percentReports = reports.size() - 3;
    EXPECT_GE(percentReports, 38u);
    EXPECT_LE(percentReports, 41u);
    for (size_t i = 2; i + 1 < reports.size(); ++i) {
        EXPECT_GE(reports[i].value, reports[i - 1].value);
        EXPECT_LT(reports[i].value, 40);
    }

    reports.clear();
    topolib::StlObject small;
    ASSERT_EQ(readBinaryBytes(binaryStl(someFacets(7)), small), kSuccess);
    EXPECT_EQ(reports.size(), 3u + 7u); // below 40 facets: one report per facet
}

TEST_F(StlRead, asciiTestRoutesEachFileToTheRightReader) {
    const std::string asciiCube = asciiStl(cube());
    std::string solidHeader = binaryStl(cube(), "solid binary part");
    const struct {
        const char* what;
        std::string bytes;
        int result;
        uint32_t triangles;
    } cases[] = {
        {"ascii", asciiCube, kSuccess, 12},
        {"binary whose header starts with solid", solidHeader, kSuccess, 12},
        // A file under 100 bytes without a zero byte is ASCII (a binary file
        // that short holds no facet).
        {"60-byte ascii text, cut", "solid a\nfacet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0", kFailure, 0},
        // (One complete facet takes 92 bytes; "endsolid" makes 100.)
        {"92-byte ascii facet", "solid\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
                                "endloop\nendfacet\n", kSuccess, 1},
        {"90-byte header and count", binaryStl({}, "short", 1).append(6, 'x'), kFailure, 0},
        // No zero byte in the first 100 bytes: the ASCII reader gets it.
        {"binary without zero bytes up front", std::string(100, 'x') + binaryStl(cube()).substr(100), kFailure, 0},
        {"ascii without any normal", "solid a\n" + std::string(200, ' ') + "endsolid a\n", kFailure, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        topolib::StlObject mesh;
        const std::string name = "route" + std::to_string(n++) + ".stl";
        EXPECT_EQ(load(file(name.c_str(), c.bytes), mesh), c.result) << c.what;
        EXPECT_EQ(mesh.triangleCount(), c.triangles) << c.what;
    }
    topolib::StlObject missing;
    EXPECT_EQ(load(dir.filePath("missing.stl").toStdWString(), missing), kFailure);
}

TEST_F(StlRead, asciiAndBinaryOfTheSameFacetsGiveTheSameMesh) {
    const auto facets = torus(20, 10);
    topolib::StlObject fromBinary, fromAscii;
    ASSERT_EQ(load(file("t.stl", binaryStl(facets)), fromBinary), kSuccess);
    ASSERT_EQ(load(file("ta.stl", asciiStl(facets)), fromAscii), kSuccess);
    EXPECT_EQ(fromAscii.triangleCount(), 400u);
    EXPECT_EQ(fromAscii.vertexCount(), 200u);
    EXPECT_EQ(fromBinary.vertexCount(), fromAscii.vertexCount());
    EXPECT_DOUBLE_EQ(fromBinary.area(), fromAscii.area());
    EXPECT_DOUBLE_EQ(fromBinary.volume(), fromAscii.volume());
    EXPECT_GT(fromAscii.volume(), 0.0);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(fromBinary.bboxMax()[k], fromAscii.bboxMax()[k]);
}

// An ASCII file cut at any byte, or with any one keyword misspelt, is never a
// clean success with other geometry: the read keeps exactly the facets
// complete before the fault and its note names a line and their number.
TEST_F(StlRead, asciiFileCutOrMisspeltAnywhereKeepsTheCompleteFacetsAndSaysSo) {
    const std::string text = asciiStl(cube(10.f)); // every facet encloses 50 mm²
    const auto facetsWithin = [&](std::size_t end) {
        int n = 0;
        for (std::size_t at = text.find("endfacet"); at != std::string::npos && at + 8 <= end;
             at = text.find("endfacet", at + 1))
            ++n;
        return n;
    };
    const auto lineAt = [&](std::size_t at) { return 1 + std::count(text.begin(), text.begin() + long(at), '\n'); };
    const auto facetsRead = [](int n) {
        return "The " + std::to_string(n) + (n == 1 ? " facet before it was read" : " facets before it were read");
    };
    // Reads bytes; returns the first note ("" for none) after checking the mesh.
    const auto readBack = [](const std::string& bytes, int complete) {
        std::istringstream in(bytes);
        topolib::StlObject mesh;
        StlFileHandling handler;
        handler.setTarget(&mesh);
        EXPECT_EQ(handler.readAsciiFrom(in), complete > 0 ? kSuccess : kFailure);
        if (complete > 0) {
            EXPECT_EQ(mesh.triangleCount(), uint32_t(complete));
            EXPECT_NEAR(mesh.area(), 50.0 * complete, 1e-9);
        }
        return handler.loadNotes().empty() ? std::string() : handler.loadNotes()[0];
    };

    const std::size_t endsolidEnd = text.rfind("endsolid") + 8;
    for (std::size_t cut = 5; cut <= text.size(); ++cut) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut));
        const int complete = facetsWithin(cut);
        const std::string note = readBack(text.substr(0, cut), complete);
        if (cut >= endsolidEnd) {
            EXPECT_EQ(note, "");
            continue;
        }
        // "Line 40: ..." or "... of line 37." or "... at line 86 ...".
        const std::size_t at = note.find("ine ");
        ASSERT_NE(at, std::string::npos) << note;
        const long line = std::atol(note.c_str() + at + 4);
        EXPECT_GE(line, 1);
        EXPECT_LE(line, lineAt(cut)) << note;
        EXPECT_NE(note.find(facetsRead(complete) + "."), std::string::npos) << note;
    }

    for (std::size_t at = text.find_first_not_of(' ', text.find('\n')); at < text.size();
         at = text.find_first_not_of(" \n", text.find_first_of(" \n", at))) {
        const std::size_t length = text.find_first_of(" \n", at) - at;
        const std::string word = text.substr(at, length);
        if (!std::isalpha(static_cast<unsigned char>(word[0])) || word == "fixture")
            continue;
        // "endfacet" -> "endfact", "loop" -> "lop"
        std::string misspelt = word;
        misspelt.erase(misspelt.size() - 2, 1);
        SCOPED_TRACE(misspelt + " at byte " + std::to_string(at));
        const int complete = facetsWithin(at);
        const std::string note = readBack(std::string(text).replace(at, length, misspelt), complete);
        EXPECT_EQ(note.rfind("Line " + std::to_string(lineAt(at)) + ": \"" + misspelt + "\" where ", 0), 0u) << note;
        EXPECT_NE(note.find(facetsRead(complete) + "; the rest of the file was left out."), std::string::npos)
            << note;
    }
}

TEST_F(StlRead, facetCountForMemoryEstimate) {
    StlFileHandling binary;
    binary.setFileName(file("c.stl", binaryStl(cube(), "h", 123456)));
    EXPECT_EQ(binary.countFacets(), 123456u);
    EXPECT_EQ(binary.estimateMemory(nullptr), 123456ull * 330);
    StlFileHandling ascii;
    ascii.setFileName(file("a.stl", asciiStl(cube())));
    EXPECT_EQ(ascii.countFacets(), 12u);
    StlFileHandling missing;
    missing.setFileName(dir.filePath("none.stl").toStdWString());
    EXPECT_EQ(missing.countFacets(), 0u);
}

TEST_F(StlRead, binaryReadOnThreadsGivesTheMeshOfOneThread) {
    // Repeats right after their facet and after a facet with two equal corners
    // or with a corner that is not finite between them (still repeats of the
    // last facet taken), such facets alone, collinear facets, all scattered;
    // the last record lacks its attribute bytes. Enough facets for several
    // blocks of the threaded read on each number of threads tried.
    const auto torus = torusOfAbout(300000);
    std::mt19937 rng(17);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<Facet> facets;
    facets.reserve(torus.size() * 11 / 10);
    std::size_t insertions = 0;
    for (const Facet& same : torus) {
        facets.push_back(same);
        if (rng() % 20 != 0)
            continue;
        Facet twoEqual = same;
        for (int k = 0; k < 3; ++k)
            twoEqual[6 + k] = twoEqual[3 + k];
        Facet notFinite = same;
        notFinite[4 + rng() % 8] = nan;
        Facet collinear = same;
        for (int k = 0; k < 3; ++k)
            collinear[9 + k] = 2 * collinear[6 + k] - collinear[3 + k];
        const std::vector<Facet> inserted[] = {{same}, {twoEqual, same}, {notFinite, same}, {twoEqual},
                                               {notFinite}, {collinear}, {same, same}};
        const auto& add = inserted[insertions++ % 7];
        facets.insert(facets.end(), add.begin(), add.end());
    }
    // On 2, 3 and 8 threads the second and third blocks, and the parts of the
    // second block, begin with a repeat of the facet before: right after it,
    // after a facet that is not finite, and after one with two equal corners.
    // Inserted from the front, each where the record that begins a block or
    // part is to be its repeat.
    std::vector<std::size_t> begins;
    for (const unsigned threads : {2u, 3u, 8u}) {
        const std::size_t block = fileIo::StlFileHandling::recordsPerParallelBlock(threads);
        begins.push_back(block);
        begins.push_back(2 * block);
        for (unsigned t = 1; t < threads; ++t)
            begins.push_back(block + topolib::partBegin(block, t, threads));
    }
    std::sort(begins.begin(), begins.end());
    begins.erase(std::unique(begins.begin(), begins.end()), begins.end());
    for (std::size_t j = 0; j < begins.size(); ++j) {
        const Facet& repeated = torus[begins[j] / 7];
        Facet notFinite = repeated;
        notFinite[5] = nan;
        Facet twoEqual = repeated;
        for (int k = 0; k < 3; ++k)
            twoEqual[6 + k] = twoEqual[3 + k];
        const std::size_t kind = j % 3;
        const std::vector<Facet> straddling = kind == 0   ? std::vector<Facet>{repeated, repeated}
                                              : kind == 1 ? std::vector<Facet>{repeated, notFinite, repeated}
                                                          : std::vector<Facet>{repeated, twoEqual, repeated};
        const std::size_t before = kind == 1 ? 2 : 1; // records of the straddle before the part begins
        facets.insert(facets.begin() + static_cast<std::ptrdiff_t>(begins[j] - before), straddling.begin(),
                      straddling.end());
        insertions += straddling.size() - 1;
    }
    std::string bytes = binaryStl(facets);
    bytes.resize(bytes.size() - 2);

    // As a load does, the weld handing over to the edge build and that to
    // the shell search, or without a scratch to hand over through.
    auto imported = [&](unsigned threads, topolib::StlObject& mesh, bool handOver = true) {
        topolib::forceImportThreads(threads);
        topolib::ImportSession scratch;
        topolib::ImportSession* const through = handOver ? &scratch : nullptr;
        const int result = readBinaryBytes(bytes, mesh, through);
        mesh.buildEdges(false, 60, 25, nullptr, topolib::StlObject::AfterEdges::FindShells, through);
        mesh.findShells(false, 85, nullptr, through);
        topolib::forceImportThreads(0);
        return result;
    };
    topolib::StlObject one;
    ASSERT_EQ(imported(1, one), kSuccess);
    EXPECT_LT(one.triangleCount(), facets.size() - insertions);
    for (unsigned threads : {2u, 3u, 8u}) {
        SCOPED_TRACE(threads);
        topolib::StlObject mesh;
        ASSERT_EQ(imported(threads, mesh), kSuccess);
        EXPECT_EQ(meshstate::stateHash(mesh), meshstate::stateHash(one));
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(mesh.bboxMin()[k], one.bboxMin()[k]);
            EXPECT_EQ(mesh.bboxMax()[k], one.bboxMax()[k]);
        }
        EXPECT_EQ(mesh.getName(), one.getName());
        if (threads == 8) {
            topolib::StlObject alone;
            ASSERT_EQ(imported(threads, alone, false), kSuccess);
            EXPECT_EQ(meshstate::stateHash(alone), meshstate::stateHash(one));
        }
    }

    // Cancelled once its first block is read: every triangle the mesh counts
    // is made, those of the block before the cancel included.
    for (unsigned threads : {3u, 8u}) {
        SCOPED_TRACE(threads);
        topolib::StlObject mesh;
        std::atomic<bool> cancel{false};
        const ProgressSink raiseCancel(
            [&](int percent, unsigned, const std::wstring&, const std::wstring&, const std::wstring&) {
                if (percent > 0)
                    cancel = true;
            },
            &cancel);
        std::istringstream in(bytes);
        StlFileHandling handler;
        handler.setTarget(&mesh);
        handler.setProgressSink(&raiseCancel);
        topolib::forceImportThreads(threads);
        EXPECT_EQ(handler.readBinaryFrom(in), kCancelled);
        topolib::forceImportThreads(0);
        ASSERT_GT(mesh.triangleCount(), 0u);
        ASSERT_LT(mesh.triangleCount(), one.triangleCount());
        for (uint32_t i = 0; i < mesh.triangleCount(); ++i) {
            ASSERT_NE(mesh.triangle(i), nullptr) << i;
            ASSERT_EQ(mesh.triangle(i)->id, static_cast<int32_t>(i));
        }
    }

    // On a thread held to two or three processors the import picks its own
    // threads: a read on one, which counts the corners for a sort on two or
    // three as it makes them (the part boundaries inside facets when the
    // count is odd), or leaves the count to the sort when some facets are
    // dropped.
    std::vector<Facet> odd(torus.begin(), torus.begin() + (torus.size() | 1) - 2);
    ASSERT_EQ(odd.size() % 2, 1u);
    const std::string oddBytes = binaryStl(odd);
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    const std::string* const inputs[] = {&oddBytes, &bytes};
    for (const std::string* input : inputs) {
        topolib::StlObject alone;
        topolib::forceImportThreads(1);
        ASSERT_EQ(readBinaryBytes(*input, alone), kSuccess);
        topolib::forceImportThreads(0);
        alone.buildEdges(false, 60, 25);
        alone.findShells(false, 85);
        for (const int processors : {2, 3}) {
            SCOPED_TRACE(processors);
            if (CPU_COUNT(&all) < processors)
                continue;
            topolib::StlObject held;
            int result = kFailure;
            unsigned threads = 0;
            std::thread([&] {
                cpu_set_t some;
                CPU_ZERO(&some);
                for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < processors; ++cpu)
                    if (CPU_ISSET(cpu, &all)) {
                        CPU_SET(cpu, &some);
                        ++taken;
                    }
                if (sched_setaffinity(0, sizeof some, &some) != 0)
                    return;
                threads = topolib::importThreads(3 * odd.size());
                result = readBinaryBytes(*input, held);
                held.buildEdges(false, 60, 25);
                held.findShells(false, 85);
            }).join();
            ASSERT_EQ(result, kSuccess);
            if (CPU_COUNT(&all) > processors) {
                EXPECT_EQ(threads, static_cast<unsigned>(processors));
            }
            EXPECT_EQ(meshstate::stateHash(held), meshstate::stateHash(alone));
        }
    }
}
