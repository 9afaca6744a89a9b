// The bytes of STL output.

#include "StlFixtures.h"

#include "fileIo/StlWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

using namespace fileIo;

namespace {

std::string readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

const double kN[3] = {0, 0, 1};
const double kA[3] = {12.5, -3, 0};
const double kB[3] = {1, 2, 3};
const double kC[3] = {-0.001, 1e10, 7};

} // namespace

TEST(StlWriter, binaryLayoutIsHeaderCountAndFiftyBytesPerFacet) {
    QTemporaryDir dir;
    const QString path = dir.filePath("b.stl");
    BinaryStlWriter w(path.toStdWString());
    ASSERT_TRUE(w.isOpen());
    w.begin(std::string("Save by Velar3D") + '\0', 2);
    w.addFacet(kN, kA, kB, kC);
    w.addFacet(kN, kC, kB, kA);
    ASSERT_TRUE(w.finish());
    const std::string bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 84u + 2 * 50);
    EXPECT_EQ(std::string(bytes.c_str()), "Save by Velar3D");
    EXPECT_EQ(bytes.find_first_not_of('\0', 15), 80u); // zero padding to 80
    EXPECT_EQ(bytes.substr(80, 4), std::string("\x02\0\0\0", 4));
    float f[12];
    std::memcpy(f, bytes.data() + 84, 48);
    const float expect[12] = {0, 0, 1, 12.5f, -3, 0, 1, 2, 3, -0.001f, 1e10f, 7};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(f[i], expect[i]) << i;
    EXPECT_EQ(bytes.substr(132, 2), std::string("\0\0", 2));
}

TEST(StlWriter, binaryHeaderIsCutAtEightyBytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("h.stl");
    BinaryStlWriter w(path.toStdWString());
    w.begin(std::string(100, 'H'), 0);
    ASSERT_TRUE(w.finish());
    const std::string bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 84u);
    EXPECT_EQ(bytes.substr(0, 80), std::string(80, 'H'));
    EXPECT_EQ(bytes.substr(80), std::string(4, '\0'));
}

TEST(StlWriter, asciiLayoutMatchesToTheByteUnderAnyLocale) {
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    QTemporaryDir dir;
    const QString path = dir.filePath("a.stl");
    AsciiStlWriter w(path.toStdWString());
    w.begin();
    w.addFacet(kN, kA, kB, kC);
    ASSERT_TRUE(w.finish());
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(readAll(path), "solid Kavet3D\n"
                             "  facet normal 0.00000000e+00 0.00000000e+00 1.00000000e+00\n"
                             "    outer loop \n"
                             "      vertex 1.25000000e+01 -3.00000000e+00 0.00000000e+00\n"
                             "      vertex 1.00000000e+00 2.00000000e+00 3.00000000e+00\n"
                             "      vertex -1.00000000e-03 1.00000000e+10 7.00000000e+00\n"
                             "    endloop\n"
                             "  endfacet\n"
                             "endsolid\n");
}

TEST(StlWriter, numbersMatchPrintfScientificEight) {
    for (double v : {0.0, -0.0, 1.0, 123456789.0, 1e-300, -2.5e-7, 9.999999999, 1e100, 0.1}) {
        char expect[64];
        std::snprintf(expect, sizeof expect, "%.8e", v);
        std::string got;
        AsciiStlWriter::appendNumber(got, v);
        EXPECT_EQ(got, expect);
    }
}

TEST(StlWriter, devicesAreNeverWrittenAndAFailedWriteIsReported) {
    // A device cannot be replaced whole: refused before any byte.
    BinaryStlWriter device(L"/dev/full");
    EXPECT_FALSE(device.isOpen());
    EXPECT_FALSE(device.finish());
    EXPECT_EQ(device.report().failure, SaveFailure::NotRegular);

    QTemporaryDir dir;
    const QString path = dir.filePath("limited.stl");
    stlfixtures::FileSizeLimit limit(100);
    BinaryStlWriter w(path.toStdWString());
    ASSERT_TRUE(w.isOpen());
    w.begin("x", 4);
    for (int i = 0; i < 4; ++i)
        w.addFacet(kN, kA, kB, kC);
    EXPECT_FALSE(w.finish());
    EXPECT_EQ(w.report().failure, SaveFailure::TooLarge);
    EXPECT_FALSE(QFile::exists(path));
}
