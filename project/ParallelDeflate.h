#pragma once
// Raw deflate of a large buffer on several threads: the data is cut into
// blocks, each block is compressed on its own (primed with the 32 KiB before
// it, so the ratio stays close to one stream) and ended with a sync flush,
// and the blocks are joined into one valid deflate stream, the last one
// finished. Any inflater reads the result as a single stream.
#include <QByteArray>

#include <cstdint>

namespace project {

// Compresses in (raw deflate, window bits -15, memory level 8, default
// strategy) at level into out and gives the CRC-32 of in. False when zlib
// reports an error or memory runs out.
bool deflateParallel(const QByteArray& in, int level, QByteArray& out, uint32_t& crc);

} // namespace project
