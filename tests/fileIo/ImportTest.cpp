// Whole imports through topolib::StlObject::loadFromFile with the file
// handlers installed: topology counts of a large closed mesh, from binary and
// ASCII files and under a comma-decimal locale.

#include "MeshFixtures.h"
#include "StlFixtures.h"

#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "fileIo/MeshFileLoad.h"
#include "fileIo/VGeoFileHandling.h"
#include "topolib/MeshBoolean.h"
#include "topolib/OctreeBeside.h"
#include "topolib/ParallelRuns.h"
#include "topolib/StlEdge.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"
#include "topolib/StlTriangle.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <memory>
#include <random>

#include <dlfcn.h>
#include <pthread.h>

using namespace stlfixtures;

namespace {

struct Counts {
    uint32_t triangles = 0, vertices = 0, edges = 0, shells = 0, boundary = 0, nonManifold = 0;
    bool operator==(const Counts& o) const {
        return triangles == o.triangles && vertices == o.vertices && edges == o.edges && shells == o.shells &&
               boundary == o.boundary && nonManifold == o.nonManifold;
    }
};

std::ostream& operator<<(std::ostream& os, const Counts& c) {
    return os << c.triangles << " triangles, " << c.vertices << " vertices, " << c.edges << " edges, " << c.shells
              << " shells, " << c.boundary << " boundary, " << c.nonManifold << " non-manifold";
}

Counts countsOf(const topolib::StlObject& mesh) {
    Counts c;
    c.triangles = mesh.triangleCount();
    c.vertices = static_cast<uint32_t>(mesh.vertices().size());
    c.edges = mesh.edgeCount();
    c.shells = static_cast<uint32_t>(mesh.shells().size());
    for (const topolib::StlEdge* e : mesh.edges()) {
        c.boundary += e->edgeClass == topolib::kEdgeBoundary;
        c.nonManifold += e->edgeClass == topolib::kEdgeNonManifold;
    }
    return c;
}

// Threads started in this process: every pthread_create passes here first.
std::atomic<unsigned> g_threadsStarted{0};

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*run)(void*), void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    g_threadsStarted.fetch_add(1);
    return next(thread, attr, run, arg);
}

namespace {

class Import : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
    }
    void TearDown() override {
        installMemoryCheck(nullptr);
        setProgressCallback(nullptr);
        std::setlocale(LC_ALL, "C");
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Import, millionFacetTorusHasExactTopologyFromBinaryAndAsciiUnderAnyLocale) {
    const auto facets = torus(1000, 500);
    const std::string binaryPath = dir.filePath("torus.stl").toStdString();
    const std::string asciiPath = dir.filePath("torus_ascii.STL").toStdString();
    ASSERT_TRUE(writeFile(binaryPath, binaryStl(facets)));
    ASSERT_TRUE(writeFile(asciiPath, asciiStl(facets)));
    const Counts expected{1000000, 500000, 1500000, 1, 0, 0};

    const struct {
        const char* what;
        std::string path;
        const char* locale;
    } cases[] = {
        {"binary", binaryPath, "C"},
        {"ascii", asciiPath, "C"},
        {"ascii, comma locale", asciiPath, "de_DE.UTF-8"},
    };
    double area = 0, volume = 0;
    for (const auto& c : cases) {
        ASSERT_NE(std::setlocale(LC_ALL, c.locale), nullptr) << c.locale;
        topolib::StlObject mesh;
        ASSERT_EQ(fileIo::loadMeshFile(mesh, QString::fromStdString(c.path).toStdWString()).result,
                  topolib::LoadResult::Success)
            << c.what;
        EXPECT_EQ(countsOf(mesh), expected) << c.what;
        EXPECT_GT(mesh.volume(), 0.0) << c.what;
        if (area == 0) {
            area = mesh.area();
            volume = mesh.volume();
        }
        EXPECT_DOUBLE_EQ(mesh.area(), area) << c.what;
        EXPECT_DOUBLE_EQ(mesh.volume(), volume) << c.what;
        std::setlocale(LC_ALL, "C");
    }
}

TEST_F(Import, smallFileImportsWithoutHelperThreadsAndBigOnesWithThem) {
    // As the scene imports: the octree is built beside the edges and shells.
    // A small file's import starts no thread of its own; the tree is there.
    const struct {
        int ring, tube;
        bool helpers;
    } cases[] = {{10, 5, false}, {40, 40, false}, {100, 50, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(2 * c.ring * c.tube);
        const QString path = dir.filePath("part.stl");
        ASSERT_TRUE(writeFile(path.toStdString(), binaryStl(torus(c.ring, c.tube))));
        topolib::StlObject mesh;
        std::unique_ptr<topolib::OctreeBeside> tree;
        const topolib::StlObject::SideWork beside{[&] { tree = std::make_unique<topolib::OctreeBeside>(mesh); },
                                                  [&] { tree->join(); }};
        topolib::forceImportThreads(1);
        const unsigned before = g_threadsStarted.load();
        ASSERT_EQ(fileIo::loadMeshFile(mesh, path.toStdWString(), {nullptr, &beside}).result,
                  topolib::LoadResult::Success);
        const unsigned started = g_threadsStarted.load() - before;
        topolib::forceImportThreads(0);
        EXPECT_EQ(started > 0, c.helpers) << started;
        ASSERT_TRUE(tree && tree->publish(mesh));
        EXPECT_NE(mesh.octree(), nullptr);
    }
}

TEST_F(Import, everyLoadClosesTheProgressReport) {
    std::vector<int> values;
    setProgressCallback([&](int v, unsigned, const std::wstring&, const std::wstring&, const std::wstring&) {
        values.push_back(v);
    });
    ASSERT_TRUE(writeFile(dir.filePath("c.stl").toStdString(), binaryStl(cube())));
    ASSERT_TRUE(writeFile(dir.filePath("c.obj").toStdString(), binaryStl(cube())));
    const struct {
        const char* name;
        topolib::LoadResult result;
    } cases[] = {{"c.stl", topolib::LoadResult::Success},
                 {"c.obj", topolib::LoadResult::Failure},
                 {"missing.stl", topolib::LoadResult::Failure},
                 {"noextension", topolib::LoadResult::Failure}};
    for (const auto& c : cases) {
        values.clear();
        topolib::StlObject mesh;
        EXPECT_EQ(fileIo::loadMeshFile(mesh, dir.filePath(c.name).toStdWString()).result, c.result) << c.name;
        ASSERT_FALSE(values.empty()) << c.name;
        EXPECT_EQ(values.back(), -1) << c.name;
    }
}

TEST_F(Import, geometryFileComesBackExactlyAsWrittenAndCanBeDrilled) {
    topolib::StlObject written;
    ASSERT_EQ(fileIo::loadMeshFile(written, QString(dir.filePath("cube.stl")).toStdWString()).result,
              topolib::LoadResult::Failure); // not there yet
    ASSERT_TRUE(writeFile(dir.filePath("cube.stl").toStdString(), binaryStl(cube())));
    ASSERT_EQ(fileIo::loadMeshFile(written, dir.filePath("cube.stl").toStdWString()).result,
              topolib::LoadResult::Success);
    fileIo::VGeoFileHandling writer;
    writer.setTarget(&written);
    ASSERT_EQ(writer.writeFile(dir.filePath("cube.vsg").toStdWString()), fileIo::kSuccess);

    topolib::StlObject mesh;
    ASSERT_EQ(fileIo::loadMeshFile(mesh, dir.filePath("cube.vsg").toStdWString()).result,
              topolib::LoadResult::Success);
    EXPECT_EQ(countsOf(mesh), countsOf(written));
    EXPECT_EQ(countsOf(mesh), (Counts{12, 8, 18, 1, 0, 0}));
    // Every triangle points at edges of the mesh's own list.
    for (const topolib::StlTriangle* t : mesh.triangles())
        for (const topolib::StlEdge* e : t->edges) {
            ASSERT_NE(e, nullptr);
            ASSERT_LT(e->index, mesh.edges().size());
            EXPECT_EQ(mesh.edges()[e->index], e);
        }

    mesh.rebuildOctree();
    auto tool = std::make_unique<topolib::StlObject>();
    ASSERT_TRUE(
        writeFile(dir.filePath("drill.stl").toStdString(),
                  binaryStl(meshfixtures::toStlFacets(meshfixtures::cylinder(1.0, {-5, 5, 5}, {15, 5, 5})))));
    ASSERT_EQ(fileIo::loadMeshFile(*tool, dir.filePath("drill.stl").toStdWString()).result,
              topolib::LoadResult::Success);
    tool->rebuildOctree();
    topolib::MeshBoolean op(&mesh, tool.get());
    ASSERT_TRUE(op.subtract());
    EXPECT_EQ(topolib::countUnpairedEdges(mesh), 0u);
    EXPECT_LT(topolib::liveVolume(mesh), 1000.0 - 10.0);
}

namespace {

// A latitude-longitude sphere of `segments` around the z axis and
// `segments / 2` bands, written as an exporter that computes every facet's
// corners on its own would: the angles of a facet are its first row and
// column plus one step, so the corners it shares with its neighbours differ
// from theirs in the last bits. Closed before the corners became floats:
// segments × (segments / 2 - 1) + 2 points.
std::vector<Facet> sphereWithCornersPerFacet(int segments, double radius) {
    const int bands = segments / 2;
    const double pi = 3.141592653589793;
    const double dTheta = pi / bands, dPhi = 2.0 * pi / segments;
    std::vector<Facet> facets;
    for (int i = 0; i < bands; ++i)
        for (int j = 0; j < segments; ++j) {
            const double theta0 = i * dTheta, phi0 = j * dPhi;
            float p[4][3];
            for (int k = 0; k < 4; ++k) {
                const double theta = theta0 + (k == 1 || k == 2 ? dTheta : 0.0);
                const double phi = phi0 + (k >= 2 ? dPhi : 0.0);
                p[k][0] = float(radius * std::sin(theta) * std::cos(phi));
                p[k][1] = float(radius * std::sin(theta) * std::sin(phi));
                p[k][2] = float(radius * std::cos(theta));
            }
            // Quad (i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1), outward;
            // the bands at the poles have one facet per segment.
            if (i > 0)
                facets.push_back(makeFacet(p[0], p[1], p[3]));
            if (i < bands - 1)
                facets.push_back(makeFacet(p[1], p[2], p[3]));
        }
    return facets;
}

} // namespace

TEST_F(Import, sphereWhoseSharedCornersDifferInTheLastBitsImportsClosed) {
    // Near the poles and the meridians at ±90 degrees the coordinates are
    // tiny, so the float corners of one point differ, and corners of other
    // points fall between them in the weld's order by x.
    for (int segments : {8, 16, 32, 128, 360}) {
        for (unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(testing::Message() << segments << " segments, " << threads << " threads");
            const std::string path = dir.filePath("sphere" + QString::number(segments) + ".stl").toStdString();
            ASSERT_TRUE(writeFile(path, binaryStl(sphereWithCornersPerFacet(segments, 10.0))));
            topolib::forceImportThreads(threads);
            topolib::StlObject mesh;
            const topolib::LoadResult result =
                fileIo::loadMeshFile(mesh, QString::fromStdString(path).toStdWString()).result;
            topolib::forceImportThreads(0);
            ASSERT_EQ(result, topolib::LoadResult::Success);
            const uint32_t facets = uint32_t(segments) * uint32_t(segments - 2);
            const uint32_t points = uint32_t(segments) * uint32_t(segments / 2 - 1) + 2;
            EXPECT_EQ(countsOf(mesh), (Counts{facets, points, facets * 3 / 2, 1, 0, 0}));
            EXPECT_GT(mesh.volume(), 0.0);
        }
    }
    // A flat grid at x = 0 whose facets carry their own rounding noise in x:
    // every corner of the face shares the window of the order by x.
    const int n = 60;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-1e-8f, 1e-8f);
    std::vector<Facet> grid;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            auto at = [&](int di, int dj) { return std::array<float, 3>{noise(rng), float(i + di), float(j + dj)}; };
            const auto a = at(0, 0), b = at(1, 0), c = at(1, 1), d = at(0, 1), e = at(0, 0), f = at(1, 1);
            grid.push_back(makeFacet(a.data(), b.data(), c.data()));
            grid.push_back(makeFacet(e.data(), f.data(), d.data()));
        }
    const std::string path = dir.filePath("noisy.stl").toStdString();
    ASSERT_TRUE(writeFile(path, binaryStl(grid)));
    topolib::StlObject mesh;
    ASSERT_EQ(fileIo::loadMeshFile(mesh, QString::fromStdString(path).toStdWString()).result,
              topolib::LoadResult::Success);
    const uint32_t facets = 2 * n * n;
    EXPECT_EQ(countsOf(mesh), (Counts{facets, uint32_t((n + 1) * (n + 1)), facets * 3 / 2 + 2 * n, 1, 4 * n, 0}));
}
