// Writing meshes and triangle lists as STL and reading them back.

#include "StlFixtures.h"

#include "app/MemoryCheck.h"
#include "fileIo/StlFileHandling.h"
#include "topolib/StlObject.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <functional>

using namespace fileIo;
using namespace stlfixtures;

namespace {

std::string readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

class StlExport : public ::testing::Test {
protected:
    void SetUp() override {
        installMemoryCheck([](const uint64_t&) { return true; });
        const QString path = dir.filePath("src.stl");
        ASSERT_TRUE(writeFile(path.toStdString(), binaryStl(cube(10.f), "source name")));
        StlFileHandling reader;
        reader.setFileName(path.toStdWString());
        reader.setTarget(&mesh);
        ASSERT_EQ(reader.load(), kSuccess);
    }
    void TearDown() override { installMemoryCheck(nullptr); }

    int reload(const QString& path, topolib::StlObject& out) {
        StlFileHandling reader;
        reader.setFileName(path.toStdWString());
        reader.setTarget(&out);
        return reader.load();
    }

    QTemporaryDir dir;
    topolib::StlObject mesh;
};

} // namespace

TEST_F(StlExport, binaryCubeIsHeaderCountAndTwelveRecords) {
    const QString path = dir.filePath("out.stl");
    ASSERT_EQ(exportBinaryStl(path.toStdWString(), mesh.triangles()), kSuccess);
    const std::string bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 84u + 12 * 50);
    EXPECT_EQ(bytes.substr(0, 16), std::string("Save by Velar3D\0", 16));
    EXPECT_EQ(bytes.substr(16, 64), std::string(64, '\0'));
    EXPECT_EQ(bytes.substr(80, 4), std::string("\x0c\0\0\0", 4));
    topolib::StlObject back;
    ASSERT_EQ(reload(path, back), kSuccess);
    EXPECT_EQ(back.triangleCount(), 12u);
    EXPECT_NEAR(back.volume(), 1000.0, 1e-9);
}

TEST_F(StlExport, deletedTrianglesAreSkippedAndEmptyListsWriteNothing) {
    auto triangles = mesh.triangles();
    for (topolib::StlTriangle* t : triangles)
        t->setDeleted(true);
    const QString deletedPath = dir.filePath("deleted.stl");
    ASSERT_EQ(exportBinaryStl(deletedPath.toStdWString(), triangles), kSuccess);
    EXPECT_EQ(readAll(deletedPath).size(), 84u);
    EXPECT_EQ(readAll(deletedPath).substr(80), std::string(4, '\0'));

    const QString emptyPath = dir.filePath("empty.stl");
    EXPECT_EQ(exportBinaryStl(emptyPath.toStdWString(), std::vector<topolib::StlTriangle*>()), kFailure);
    EXPECT_EQ(exportAsciiStl(emptyPath.toStdWString(), std::vector<topolib::StlTriangle*>()), kFailure);
    EXPECT_FALSE(QFile::exists(emptyPath));
    for (topolib::StlTriangle* t : triangles)
        t->setDeleted(false);
}

TEST_F(StlExport, asciiOutputReadsBackToTheSameTrianglesUnderCommaLocale) {
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const QString path = dir.filePath("out_ascii.stl");
    ASSERT_EQ(exportAsciiStl(path.toStdWString(), mesh.triangles()), kSuccess);
    const std::string text = readAll(path);
    EXPECT_EQ(text.rfind("solid Kavet3D\n  facet normal ", 0), 0u);
    EXPECT_EQ(text.find(','), std::string::npos);
    topolib::StlObject back;
    ASSERT_EQ(reload(path, back), kSuccess);
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(back.triangleCount(), mesh.triangleCount());
    for (uint32_t i = 0; i < back.triangleCount(); ++i)
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(float(back.triangle(i)->vertices[v]->pos.data()[k]),
                          float(mesh.triangle(i)->vertices[v]->pos.data()[k]));
}

TEST_F(StlExport, failedSaveKeepsThePreviousFile) {
    const QString path = dir.filePath("kept.stl");
    const std::string previous = "previous content";
    StlFileHandling handler;
    handler.setTarget(&mesh);
    const std::function<int()> saves[] = {
        [&] { return exportBinaryStl(path.toStdWString(), mesh.triangles()); },
        [&] { return exportAsciiStl(path.toStdWString(), mesh.triangles()); },
        [&] { return handler.writeBinaryMesh(path.toStdWString()); },
        [&] { return handler.writeAsciiMesh(path.toStdWString()); },
    };
    for (const auto& save : saves) {
        ASSERT_TRUE(writeFile(path.toStdString(), previous));
        {
            FileSizeLimit limit(256);
            EXPECT_EQ(save(), kFailure);
        }
        EXPECT_EQ(readAll(path), previous);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"kept.stl", "src.stl"}));
        EXPECT_EQ(save(), kSuccess);
        EXPECT_GT(readAll(path).size(), 256u);
    }
}

TEST_F(StlExport, handlerWritersUseTheMeshAndItsName) {
    StlFileHandling writer;
    writer.setTarget(&mesh);
    writer.setFileName(dir.filePath("h.stl").toStdWString());
    ASSERT_EQ(writer.writeBinary(), kSuccess);
    const std::string bytes = readAll(dir.filePath("h.stl"));
    ASSERT_EQ(bytes.size(), 84u + 12 * 50);
    EXPECT_EQ(bytes.substr(0, 12), std::string("source name\0", 12));
    writer.setFileName(dir.filePath("h_ascii.stl").toStdWString());
    ASSERT_EQ(writer.writeAscii(), kSuccess);
    topolib::StlObject back;
    ASSERT_EQ(reload(dir.filePath("h_ascii.stl"), back), kSuccess);
    EXPECT_EQ(back.triangleCount(), 12u);

    StlFileHandling noTarget;
    EXPECT_EQ(noTarget.writeBinaryMesh(dir.filePath("x.stl").toStdWString()), kFailure);
    EXPECT_EQ(noTarget.writeAsciiMesh(dir.filePath("y.stl").toStdWString()), kFailure);
    EXPECT_EQ(writer.writeBinaryMesh(dir.filePath("no/such/dir.stl").toStdWString()), kFailure);
    EXPECT_EQ(writer.writeBinaryMesh(L"/dev/full"), kFailure);
    EXPECT_EQ(exportAsciiStl(L"/dev/full", mesh.triangles()), kFailure);
}
