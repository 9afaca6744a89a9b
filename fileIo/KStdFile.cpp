#include "fileIo/KStdFile.h"

#include "fileIo/PathEncoding.h"
#include "fileIo/ReadCheck.h"

namespace fileIo {

KStdFile::KStdFile(const std::wstring& path, std::ios::openmode mode) {
    // A file only read is opened only when it is a regular file (a pipe
    // without a writer would block the open).
    if ((mode & std::ios::out) == 0) {
        std::ifstream probe;
        if (!openRegularFile(probe, path))
            return;
    }
    stream_.open(encodePath(path), mode);
}

KStdFile::~KStdFile() = default;

bool KStdFile::write(const char* data, uint32_t n) {
    if (!stream_.is_open())
        return false;
    stream_.write(data, static_cast<std::streamsize>(n));
    return !stream_.fail();
}

bool KStdFile::read(char* buffer, uint32_t n) {
    if (!stream_.is_open())
        return false;
    stream_.read(buffer, static_cast<std::streamsize>(n));
    return stream_.gcount() == static_cast<std::streamsize>(n);
}

int64_t KStdFile::size() {
    if (!stream_.is_open())
        return -1;
    stream_.clear();
    stream_.seekg(0, std::ios::end);
    const auto end = static_cast<int64_t>(stream_.tellg());
    stream_.seekg(0, std::ios::beg);
    return end;
}

int64_t KStdFile::tell() {
    if (!stream_.is_open())
        return -1;
    return static_cast<int64_t>(stream_.tellg());
}

bool KStdFile::atEnd() {
    return !stream_.is_open() || stream_.eof();
}

bool KStdFile::close() {
    if (!stream_.is_open())
        return false;
    stream_.flush();
    const bool ok = !stream_.fail();
    stream_.close();
    return ok && !stream_.fail();
}

} // namespace fileIo
