#pragma once
// A plain file as a byte stream.

#include "fileIo/KBaseStream.h"

#include <fstream>
#include <string>

namespace fileIo {

class KStdFile : public KBaseStream {
public:
    // Opens the file at once with the given mode (std::ios::in | binary to
    // read, std::ios::out | binary | trunc to write). The caller checks
    // isOpen() before use.
    KStdFile(const std::wstring& path, std::ios::openmode mode);
    ~KStdFile() override;

    bool isOpen() const { return stream_.is_open(); }
    bool good() const { return stream_.good(); }

    bool write(const char* data, uint32_t n) override;
    bool read(char* buffer, uint32_t n) override;
    // Full 64-bit length. Leaves the position at the start of the file,
    // whatever it was before.
    int64_t size() override;
    int64_t tell() override;
    // True only after a read has tried to go past the last byte.
    bool atEnd() override;
    // Flushes and closes; false when buffered data could not be written.
    bool close();

private:
    std::fstream stream_;
};

} // namespace fileIo
