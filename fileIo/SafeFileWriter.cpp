#include "fileIo/SafeFileWriter.h"

#include "fileIo/PathEncoding.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fileIo {

namespace {

// A new, empty temporary file beside target (same folder, so that rename
// replaces the target atomically); -1 when the folder does not allow it.
int makeTemporaryBeside(const std::string& target, std::string* name) {
    std::string pattern = target + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd >= 0)
        name->assign(buffer.data());
    return fd;
}

} // namespace

SafeFileWriter::SafeFileWriter(const std::wstring& path) : target_(encodePath(path)) {
    // A symbolic link stays a link: the file it points at is replaced.
    struct stat link {};
    if (::lstat(target_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* resolved = ::realpath(target_.c_str(), nullptr)) {
            target_ = resolved;
            std::free(resolved);
        }
    }
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    bool inPlace = exists && !S_ISREG(st.st_mode);
    if (!inPlace && exists && st.st_nlink > 1)
        inPlace = true;
    if (!inPlace) {
        fd_ = makeTemporaryBeside(target_, &temporary_);
        if (fd_ < 0) {
            inPlace = true;
        } else if (exists) {
            // The replacement takes the target's permissions and, when it can
            // be given them, its owner and group; otherwise the target is kept
            // and written in place.
            const bool sameOwner = st.st_uid == ::geteuid() && st.st_gid == ::getegid();
            if ((!sameOwner && ::fchown(fd_, st.st_uid, st.st_gid) != 0) ||
                ::fchmod(fd_, st.st_mode & 07777) != 0) {
                discard();
                inPlace = true;
            }
        } else {
            // A new file gets the permissions a plain create would give it.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fd_, 0666 & ~mask);
        }
    }
    if (inPlace) {
        temporary_.clear();
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
}

SafeFileWriter::~SafeFileWriter() {
    if (fd_ >= 0) {
        if (temporary_.empty())
            ::close(fd_);
        else
            discard();
    }
}

void SafeFileWriter::discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

bool SafeFileWriter::write(const char* data, uint32_t n) {
    if (fd_ < 0 || !ok_)
        return false;
    uint32_t done = 0;
    while (done < n) {
        // A write past the file size limit fails with EFBIG where the signal is
        // ignored (the program ignores SIGXFSZ).
        const ssize_t w = ::write(fd_, data + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            ok_ = false;
            return false;
        }
        done += static_cast<uint32_t>(w);
    }
    written_ += n;
    return true;
}

bool SafeFileWriter::commit() {
    if (fd_ < 0)
        return false;
    if (temporary_.empty()) {
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        ok_ = ok_ && closed;
        return ok_;
    }
    ok_ = ok_ && ::fsync(fd_) == 0;
    ok_ = ::close(fd_) == 0 && ok_;
    fd_ = -1;
    if (ok_)
        ok_ = ::rename(temporary_.c_str(), target_.c_str()) == 0;
    if (!ok_)
        ::unlink(temporary_.c_str());
    temporary_.clear();
    return ok_;
}

} // namespace fileIo
