#include "fileIo/VlrZipFile.h"

#include <quazip/quazip.h>
#include <quazip/quazipnewinfo.h>

namespace fileIo {

VlrZipFile::VlrZipFile(QuaZip* archive, QObject* parent) : file_(archive, parent) {}

VlrZipFile::~VlrZipFile() = default;

bool VlrZipFile::open(QIODevice::OpenMode mode, const QuaZipNewInfo& info, const char* password, uint32_t crc,
                      int method, int level, bool raw, int windowBits, int memLevel, int strategy) {
    return file_.open(mode, info, password, crc, method, level, raw, windowBits, memLevel, strategy);
}

bool VlrZipFile::close() {
    if (!file_.isOpen())
        return false;
    file_.close();
    return file_.getZipError() == 0;
}

bool VlrZipFile::write(const char* data, uint32_t n) {
    if (!file_.isOpen() || !file_.isWritable())
        return false;
    return file_.write(data, static_cast<qint64>(n)) == static_cast<qint64>(n);
}

bool VlrZipFile::read(char* buffer, uint32_t n) {
    if (!file_.isOpen() || !file_.isReadable())
        return false;
    // The device may hand out less than asked in one call; keep asking until
    // the entry runs dry.
    qint64 done = 0;
    while (done < static_cast<qint64>(n)) {
        const qint64 got = file_.read(buffer + done, static_cast<qint64>(n) - done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

int64_t VlrZipFile::size() {
    if (!file_.isOpen())
        return -1;
    return file_.size();
}

int64_t VlrZipFile::tell() {
    if (!file_.isOpen())
        return -1;
    return file_.pos();
}

bool VlrZipFile::atEnd() {
    return !file_.isOpen() || file_.atEnd();
}

} // namespace fileIo
