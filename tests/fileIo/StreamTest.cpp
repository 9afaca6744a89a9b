// Byte streams: plain files and zip entries, their end-of-data rules and the
// failures they must report.

#include "fileIo/KStdFile.h"
#include "fileIo/VlrZipFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <quazip/quazip.h>
#include <quazip/quazipnewinfo.h>

#include <fstream>
#include <string>

using namespace fileIo;

namespace {

std::wstring pathIn(const QTemporaryDir& dir, const char* name) {
    return dir.filePath(name).toStdWString();
}

void writeBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(QString::fromStdWString(path).toStdString(), std::ios::binary);
    out << bytes;
}

} // namespace

TEST(KStdFile, sizeReportsLengthAndRewindsToStart) {
    QTemporaryDir dir;
    const auto path = pathIn(dir, "ten.bin");
    writeBytes(path, "0123456789");
    KStdFile file(path, std::ios::in | std::ios::binary);
    ASSERT_TRUE(file.isOpen());
    char buf[5];
    ASSERT_TRUE(file.read(buf, 5));
    EXPECT_EQ(file.tell(), 5);
    EXPECT_EQ(file.size(), 10);
    EXPECT_EQ(file.tell(), 0);
    ASSERT_TRUE(file.read(buf, 1));
    EXPECT_EQ(buf[0], '0');
}

TEST(KStdFile, endIsReachedOnlyByReadingPastTheLastByte) {
    QTemporaryDir dir;
    const auto path = pathIn(dir, "four.bin");
    writeBytes(path, "abcd");
    KStdFile file(path, std::ios::in | std::ios::binary);
    char buf[4];
    ASSERT_TRUE(file.read(buf, 4));
    EXPECT_FALSE(file.atEnd());
    EXPECT_FALSE(file.read(buf, 1)); // a short read is reported
    EXPECT_TRUE(file.atEnd());
}

TEST(KStdFile, shortReadAndClosedStreamReportFailure) {
    QTemporaryDir dir;
    const auto path = pathIn(dir, "three.bin");
    writeBytes(path, "xyz");
    KStdFile file(path, std::ios::in | std::ios::binary);
    char buf[8];
    EXPECT_FALSE(file.read(buf, 8));

    KStdFile missing(pathIn(dir, "no/such/file"), std::ios::in | std::ios::binary);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_FALSE(missing.read(buf, 1));
    EXPECT_FALSE(missing.write("a", 1));
    EXPECT_TRUE(missing.atEnd());
}

TEST(KStdFile, writeToFullDeviceIsReported) {
    KStdFile full(L"/dev/full", std::ios::out | std::ios::binary);
    if (!full.isOpen())
        GTEST_SKIP() << "/dev/full not available";
    std::string block(1 << 16, 'x');
    bool allOk = true;
    for (int i = 0; i < 4; ++i)
        allOk = full.write(block.data(), static_cast<uint32_t>(block.size())) && allOk;
    EXPECT_FALSE(allOk && full.close());
}

TEST(KStdFile, nonAsciiPathRoundTrips) {
    QTemporaryDir dir;
    const auto path = pathIn(dir, "mod\xc3\xa8le-\xe2\x82\xac.bin");
    {
        KStdFile out(path, std::ios::out | std::ios::binary | std::ios::trunc);
        ASSERT_TRUE(out.isOpen());
        EXPECT_TRUE(out.write("hello", 5));
        EXPECT_TRUE(out.close());
    }
    EXPECT_TRUE(QFile::exists(QString::fromStdWString(path)));
    KStdFile in(path, std::ios::in | std::ios::binary);
    EXPECT_EQ(in.size(), 5);
}

TEST(VlrZipFile, entryWrittenAndReadBackEndsExactlyAtLastByte) {
    QTemporaryDir dir;
    const QString zipPath = dir.filePath("a.zip");
    const std::string payload = "The quick brown fox";
    {
        QuaZip zip(zipPath);
        zip.setUtf8Enabled(true);
        ASSERT_TRUE(zip.open(QuaZip::mdCreate));
        VlrZipFile entry(&zip);
        QuaZipNewInfo info("ObjGeo/1.vsg");
        info.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly, info, nullptr, 0, 8, -1, false, -15, 8, 0));
        EXPECT_TRUE(entry.write(payload.data(), static_cast<uint32_t>(payload.size())));
        EXPECT_TRUE(entry.close());
        zip.close();
        ASSERT_EQ(zip.getZipError(), 0);
    }
    QuaZip zip(zipPath);
    ASSERT_TRUE(zip.open(QuaZip::mdUnzip));
    ASSERT_TRUE(zip.goToFirstFile());
    VlrZipFile entry(&zip);
    ASSERT_TRUE(entry.device().open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.size(), static_cast<int64_t>(payload.size()));
    std::string back(payload.size(), '\0');
    ASSERT_TRUE(entry.read(back.data(), static_cast<uint32_t>(back.size())));
    EXPECT_EQ(back, payload);
    EXPECT_EQ(entry.tell(), static_cast<int64_t>(payload.size()));
    EXPECT_TRUE(entry.atEnd());
    char extra;
    EXPECT_FALSE(entry.read(&extra, 1));
    EXPECT_TRUE(entry.close());
}

TEST(VlrZipFile, closedEntryRefusesReadsAndWrites) {
    QTemporaryDir dir;
    QuaZip zip(dir.filePath("b.zip"));
    ASSERT_TRUE(zip.open(QuaZip::mdCreate));
    VlrZipFile entry(&zip);
    char c = 'x';
    EXPECT_FALSE(entry.write(&c, 1));
    EXPECT_FALSE(entry.read(&c, 1));
    EXPECT_TRUE(entry.atEnd());
    EXPECT_FALSE(entry.close());
    zip.close();
}
