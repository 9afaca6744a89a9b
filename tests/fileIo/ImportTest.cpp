// Whole imports through topolib::StlObject::loadFromFile with the file
// handlers installed: topology counts of a large closed mesh, from binary and
// ASCII files and under a comma-decimal locale.

#include "StlFixtures.h"
#include "MeshFixtures.h"

#include "app/MemoryCheck.h"
#include "app/ProgressReport.h"
#include "fileIo/FileHandlingFactory.h"
#include "fileIo/VGeoFileHandling.h"
#include "topolib/MeshBoolean.h"
#include "topolib/StlEdge.h"
#include "topolib/StlTriangle.h"
#include "topolib/StlObject.h"
#include "topolib/StlShell.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <memory>

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

class Import : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
        fileIo::installFileHandlers();
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
        ASSERT_EQ(mesh.loadFromFile(QString::fromStdString(c.path).toStdWString()), 1) << c.what;
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

TEST_F(Import, everyLoadClosesTheProgressReport) {
    std::vector<int> values;
    setProgressCallback([&](int v, unsigned, const std::wstring&, const std::wstring&, const std::wstring&) {
        values.push_back(v);
    });
    ASSERT_TRUE(writeFile(dir.filePath("c.stl").toStdString(), binaryStl(cube())));
    ASSERT_TRUE(writeFile(dir.filePath("c.obj").toStdString(), binaryStl(cube())));
    const struct {
        const char* name;
        int result;
    } cases[] = {{"c.stl", 1}, {"c.obj", 0}, {"missing.stl", 0}, {"noextension", 0}};
    for (const auto& c : cases) {
        values.clear();
        topolib::StlObject mesh;
        EXPECT_EQ(mesh.loadFromFile(dir.filePath(c.name).toStdWString()), c.result) << c.name;
        ASSERT_FALSE(values.empty()) << c.name;
        EXPECT_EQ(values.back(), -1) << c.name;
    }
}

TEST_F(Import, geometryFileComesBackExactlyAsWrittenAndCanBeDrilled) {
    topolib::StlObject written;
    ASSERT_EQ(written.loadFromFile(QString(dir.filePath("cube.stl")).toStdWString()), 0); // not there yet
    ASSERT_TRUE(writeFile(dir.filePath("cube.stl").toStdString(), binaryStl(cube())));
    ASSERT_EQ(written.loadFromFile(dir.filePath("cube.stl").toStdWString()), 1);
    fileIo::VGeoFileHandling writer;
    writer.setTarget(&written);
    ASSERT_EQ(writer.writeFile(dir.filePath("cube.vsg").toStdWString()), fileIo::kSuccess);

    topolib::StlObject mesh;
    ASSERT_EQ(mesh.loadFromFile(dir.filePath("cube.vsg").toStdWString()), 1);
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
    ASSERT_TRUE(writeFile(dir.filePath("drill.stl").toStdString(),
                          binaryStl(meshfixtures::toStlFacets(meshfixtures::cylinder(1.0, {-5, 5, 5}, {15, 5, 5})))));
    ASSERT_EQ(tool->loadFromFile(dir.filePath("drill.stl").toStdWString()), 1);
    tool->rebuildOctree();
    topolib::MeshBoolean op(&mesh, tool.get());
    ASSERT_TRUE(op.subtract());
    EXPECT_EQ(topolib::countUnpairedEdges(mesh), 0u);
    EXPECT_LT(topolib::liveVolume(mesh), 1000.0 - 10.0);
}
