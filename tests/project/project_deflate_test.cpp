// Parallel deflate gives one raw deflate stream that zlib inflates back to
// the input, with the input's CRC; a large entry written that way reads back
// through the zip layer with its CRC checked.
#include "ProjectTestSupport.h"

#include "project/ParallelDeflate.h"
#include "project/ProjectArchiveWriter.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <random>

namespace {

// Compressible but not trivial: runs of repeated records with random noise.
QByteArray sample(int size, unsigned seed) {
    QByteArray out(size, '\0');
    std::mt19937 rng(seed);
    for (int k = 0; k < size; ++k)
        out[k] = char((k / 12) % 7 == 0 ? rng() & 0xFF : (k * 31) & 0x3F);
    return out;
}

QByteArray inflateRaw(const QByteArray& in, int expected) {
    QByteArray out(expected + 1, '\0');
    z_stream z = {};
    EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u) << "nothing after the end of the stream";
    out.resize(int(z.total_out));
    inflateEnd(&z);
    return out;
}

} // namespace

TEST(ProjectDeflate, blocksJoinIntoOneStreamWithTheInputsCrc) {
    // Blocks of 256 KiB below 8 MiB, of 1 MiB from there on.
    const int small = 256 << 10, block = 1 << 20;
    for (int size : {0, 1, 5000, small - 1, small, small + 1, 3 * block + 12345, 8 * block, 9 * block + 77}) {
        const QByteArray in = sample(size, unsigned(size));
        QByteArray out;
        uint32_t crc = 0;
        ASSERT_TRUE(project::deflateParallel(in, Z_DEFAULT_COMPRESSION, out, crc)) << size;
        EXPECT_EQ(inflateRaw(out, size), in) << size;
        EXPECT_EQ(crc, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(in.constData()), uInt(in.size())))) << size;
        if (size > small) {
            EXPECT_LT(out.size(), size / 2) << "blocks primed with the data before them still compress";
        }
    }
}

TEST(ProjectDeflate, largeEntryReadsBackThroughTheZipLayer) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.zip"));
    const QByteArray big = sample(5 << 20, 7);
    projecttest::writeArchive(path, {{QStringLiteral("small.txt"), QByteArray("abc")}, {QStringLiteral("big.bin"), big}});
    QuaZip zip(path);
    ASSERT_TRUE(zip.open(QuaZip::mdUnzip));
    ASSERT_TRUE(zip.setCurrentFile(QStringLiteral("big.bin")));
    QuaZipFile file(&zip);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.usize(), big.size());
    EXPECT_EQ(file.readAll(), big);
    file.close();
    EXPECT_EQ(file.getZipError(), UNZ_OK) << "CRC checked at close";
}
