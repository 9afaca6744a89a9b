// Classifying file names and making handlers for them.

#include "fileIo/FileHandlingFactory.h"
#include "fileIo/StlFileHandling.h"
#include "fileIo/VGeoFileHandling.h"

#include <QString>
#include <gtest/gtest.h>

using namespace fileIo;

TEST(FileHandlingFactory, extensionDecidesFormatCode) {
    const struct {
        const wchar_t* name;
        MeshFileType code;
    } cases[] = {
        {L"part.stl", 0},          {L"part.STL", 0},       {L"part.Stl", 0},   {L"dir/part.ply", 1},
        {L"part.slc", 2},          {L"part.3DS", 3},       {L"part.vsg", 4},   {L"part.kav", 5},
        {L"part.obj", 6},          {L"part.stla", -1},     {L"part.st", -1},   {L"models.old/part", -1},
        {L"part", -1},             {L"", -1},              {L".stl", 0},       {L"part.s\u00e9l", -1},
        {L"/tmp/a.b/c.vsg", 4},    {L"part.", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileTypeFromName(c.name), c.code) << QString::fromWCharArray(c.name).toStdString();
}

TEST(FileHandlingFactory, onlyStlAndGeometryFormatHaveHandlers) {
    auto* factory = FileHandlingFactory::instance();
    EXPECT_EQ(factory, FileHandlingFactory::instance());
    EXPECT_NE(dynamic_cast<StlFileHandling*>(factory->create(kMeshStl).get()), nullptr);
    EXPECT_NE(dynamic_cast<VGeoFileHandling*>(factory->create(kMeshVsg).get()), nullptr);
    for (MeshFileType code : {-1, 1, 2, 3, 5, 6, 7})
        EXPECT_EQ(factory->create(code), nullptr) << code;
    for (const wchar_t* name : {L"a.ply", L"a.obj", L"a.3ds", L"a.slc", L"a.kav", L"a.txt", L"a"})
        EXPECT_EQ(factory->createForFile(name, nullptr), nullptr);

    auto handler = factory->createForFile(L"/x/y/part.STL", nullptr);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->fileName(), L"/x/y/part.STL");
    EXPECT_EQ(handler->target(), nullptr);
    EXPECT_EQ(handler->lastStreamLength(), 0u);
    EXPECT_TRUE(handler->isAvailable());
}

TEST(FileHandlingFactory, geometryHandlerRefusesAsciiAndStlRefusesStreams) {
    auto vgeo = FileHandlingFactory::instance()->create(kMeshVsg);
    EXPECT_EQ(vgeo->readAscii(), 0);
    EXPECT_EQ(vgeo->writeAscii(), 0);
    auto stl = FileHandlingFactory::instance()->create(kMeshStl);
    EXPECT_EQ(stl->readStream(nullptr), 0);
    EXPECT_EQ(stl->writeStream(nullptr), 0);
}
