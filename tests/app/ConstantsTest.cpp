#include "app/Constants.h"
#include "app/FileTypes.h"

#include <QFile>
#include <QIcon>
#include <gtest/gtest.h>

namespace {

TEST(Constants, markerAndUnitTextsHaveTheirExactCharacters) {
    EXPECT_EQ(NUL_STRING.size(), 1);
    EXPECT_EQ(NUL_STRING.at(0).unicode(), 0);
    EXPECT_NE(NUL_STRING, QString(""));
    EXPECT_NE(NUL_STRING, QString());
    EXPECT_EQ(UNIT_UM, QString::fromUtf8("\u03bcm"));
    EXPECT_EQ(UNIT_UM_PER_S, QString::fromUtf8("\u03bcm/s"));
}

TEST(Constants, fileTypeTableRowsThatProjectsRelyOn) {
    ASSERT_EQ(fileTypeTable.size(), 10u);
    EXPECT_EQ(fileTypeExtension(FILE_TYPE_VSG), ".vsg");
    EXPECT_EQ(fileTypeExtension(FILE_TYPE_VPF), ".vpf");
    EXPECT_EQ(fileTypeExtension(FILE_TYPE_XML), ".xml");
    EXPECT_EQ(fileTypeTable[3].description, "3DS -  3D Studio file");
    EXPECT_TRUE(fileTypeExtension(10).isEmpty());
    EXPECT_TRUE(fileTypeExtension(-1).isEmpty());
}

TEST(Constants, applicationIconIsEmbedded) {
    initResources();
    EXPECT_TRUE(QFile::exists(ICON_APP));
}

} // namespace
