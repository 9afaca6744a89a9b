#pragma once
// One entry of a zip archive as a byte stream (QuaZip). The archive is owned
// by the caller and must outlive the stream; the stream is created closed,
// opened for one entry at a time and may be reused for the next entry.

#include "fileIo/KBaseStream.h"

#include <QIODevice>
#include <quazip/quazipfile.h>

class QuaZip;
class QuaZipNewInfo;

namespace fileIo {

class VlrZipFile : public KBaseStream {
public:
    explicit VlrZipFile(QuaZip* archive, QObject* parent = nullptr);
    ~VlrZipFile() override;

    // Opens a new entry for writing; the arguments go to QuaZipFile's open
    // unchanged. False when QuaZip refuses the entry.
    bool open(QIODevice::OpenMode mode, const QuaZipNewInfo& info, const char* password, uint32_t crc,
              int method, int level, bool raw, int windowBits, int memLevel, int strategy);
    // Closes the entry. False when QuaZip reports an error (for a written
    // entry this is where the compressed tail and the CRC are flushed).
    bool close();
    // The device itself, for reading: the caller selects the archive's
    // current entry and opens it read-only through it.
    QuaZipFile& device() { return file_; }

    bool write(const char* data, uint32_t n) override;
    bool read(char* buffer, uint32_t n) override;
    // For an entry open for reading: its uncompressed length.
    int64_t size() override;
    int64_t tell() override;
    // True as soon as the last byte has been read.
    bool atEnd() override;

private:
    QuaZipFile file_;
};

} // namespace fileIo
