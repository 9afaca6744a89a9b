#pragma once
// Byte streams under the geometry format: one abstract interface so that the
// same reader and writer serve a plain file and one entry of a zip archive.

#include <cstdint>

namespace fileIo {

class KBaseStream {
public:
    virtual ~KBaseStream() = default;

    // Appends n bytes. False when the bytes could not all be written (a full
    // disk, a closed stream), so that writers can report the failure.
    virtual bool write(const char* data, uint32_t n) = 0;
    // Reads n bytes into buffer. False when fewer than n bytes arrived; the
    // rest of the buffer is then undefined.
    virtual bool read(char* buffer, uint32_t n) = 0;
    // Length of the data in bytes, -1 when it cannot be measured.
    virtual int64_t size() = 0;
    // Current position, -1 when unknown.
    virtual int64_t tell() = 0;
    // Whether the end of the data has been reached (see each stream for the
    // exact moment).
    virtual bool atEnd() = 0;
};

} // namespace fileIo
