#include "project/ParallelDeflate.h"

#include "app/Platform.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <thread>
#include <vector>

namespace project {

namespace {

// Blocks of 1 MiB; entries below 8 MiB are cut into blocks of 256 KiB, so
// that they too are spread over the threads.
constexpr int64_t kBlock = 1 << 20;
constexpr int64_t kSmallBlock = 256 << 10;
constexpr int64_t kSmallBlocksBelow = 8 << 20;
constexpr int64_t kWindow = 32768;
constexpr unsigned kMaxThreads = 8;

struct Block {
    QByteArray out;
    uint32_t crc = 0;
    bool ok = false;
};

void compressBlock(const char* data, int64_t begin, int64_t end, bool last, int level, Block& b) {
    z_stream z = {};
    if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    const int64_t primed = std::min(begin, kWindow);
    if (primed > 0 &&
        deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(data + begin - primed), uInt(primed)) != Z_OK) {
        deflateEnd(&z);
        return;
    }
    try {
        b.out.resize(int(deflateBound(&z, uLong(end - begin)) + 16));
    } catch (const std::bad_alloc&) {
        deflateEnd(&z);
        return;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + begin));
    z.avail_in = uInt(end - begin);
    z.next_out = reinterpret_cast<Bytef*>(b.out.data());
    z.avail_out = uInt(b.out.size());
    const int r = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    b.ok = (last ? r == Z_STREAM_END : r == Z_OK) && z.avail_in == 0;
    b.out.resize(int(z.total_out));
    b.crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data + begin), uInt(end - begin)));
    deflateEnd(&z);
}

} // namespace

bool deflateParallel(const QByteArray& in, int level, QByteArray& out, uint32_t& crc) {
    const int64_t size = in.size();
    const int64_t block = size < kSmallBlocksBelow ? kSmallBlock : kBlock;
    const int64_t count = std::max<int64_t>(1, (size + block - 1) / block);
    std::vector<Block> blocks(static_cast<size_t>(count));
    std::atomic<int64_t> next{0};
    auto work = [&]() {
        for (int64_t k = next++; k < count; k = next++) {
            const int64_t begin = k * block, end = std::min(size, begin + block);
            compressBlock(in.constData(), begin, end, k == count - 1, level, blocks[size_t(k)]);
        }
    };
    const unsigned threads =
        unsigned(std::min<int64_t>(count, std::min(platform::usableProcessorCount(), kMaxThreads)));
    std::vector<std::thread> pool;
    try {
        for (unsigned t = 1; t < threads; ++t)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer helpers than hoped: the calling thread does the rest.
    }
    work();
    for (std::thread& t : pool)
        t.join();

    int64_t total = 0;
    for (const Block& b : blocks) {
        if (!b.ok)
            return false;
        total += b.out.size();
    }
    try {
        out.clear();
        out.reserve(int(total));
    } catch (const std::bad_alloc&) {
        return false;
    }
    crc = uint32_t(crc32(0, nullptr, 0));
    for (size_t k = 0; k < blocks.size(); ++k) {
        out.append(blocks[k].out);
        const int64_t length = std::min(size, int64_t(k + 1) * block) - int64_t(k) * block;
        crc = uint32_t(crc32_combine(crc, blocks[k].crc, z_off_t(length)));
    }
    return true;
}

} // namespace project
