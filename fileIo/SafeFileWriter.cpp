#include "fileIo/SafeFileWriter.h"

#include "fileIo/PathEncoding.h"

#include <cerrno>
#include <unistd.h>

namespace fileIo {

SafeFileWriter::SafeFileWriter(const std::wstring& path) : file_(encodePath(path)) {
    ok_ = file_.open();
}

bool SafeFileWriter::write(const char* data, uint32_t n) {
    if (!isOpen() || !ok_)
        return false;
    uint32_t done = 0;
    while (done < n) {
        // A write past the file size limit fails with EFBIG where the signal is
        // ignored (the program ignores SIGXFSZ).
        const ssize_t w = ::write(file_.fd(), data + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            file_.noteWriteError(w < 0 ? errno : ENOSPC);
            ok_ = false;
            return false;
        }
        done += static_cast<uint32_t>(w);
    }
    written_ += n;
    return true;
}

bool SafeFileWriter::commit() {
    return file_.commit();
}

} // namespace fileIo
