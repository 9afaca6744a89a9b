#include "fileIo/ReadCheck.h"

#include "fileIo/PathEncoding.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fileIo {

namespace {

bool isRegular(const std::string& bytes, struct stat* st) {
    return ::stat(bytes.c_str(), st) == 0 && S_ISREG(st->st_mode);
}

} // namespace

const char* readFailureText(ReadFailure failure) {
    switch (failure) {
    case ReadFailure::None:
        return "";
    case ReadFailure::Missing:
        return "missing";
    case ReadFailure::NotReadable:
        return "not readable";
    case ReadFailure::NotRegular:
        return "not a regular file";
    case ReadFailure::Empty:
        return "empty";
    case ReadFailure::NotMeshFile:
        return "not a mesh file of its type";
    case ReadFailure::TooLarge:
        return "too large for the available memory";
    case ReadFailure::NoHandler:
        return "no reader for this file type";
    case ReadFailure::Cancelled:
        return "cancelled";
    case ReadFailure::NotFinite:
        return "a vertex position is not finite";
    }
    return "";
}

ReadFailure checkReadableFile(const std::wstring& path) {
    const std::string bytes = encodePath(path);
    struct stat st {};
    if (::stat(bytes.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadFailure::Missing : ReadFailure::NotReadable;
    if (!S_ISREG(st.st_mode))
        return ReadFailure::NotRegular;
    // Opening without blocking: the file may have been replaced by a pipe.
    const int fd = ::open(bytes.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return ReadFailure::NotReadable;
    ::close(fd);
    return st.st_size == 0 ? ReadFailure::Empty : ReadFailure::None;
}

bool openRegularFile(std::ifstream& in, const std::wstring& path) {
    const std::string bytes = encodePath(path);
    struct stat st {};
    if (!isRegular(bytes, &st))
        return false;
    in.open(bytes, std::ios::in | std::ios::binary);
    return in.is_open();
}

int openRegularFileNoLink(const std::wstring& path, int64_t* size, ReadFailure* failure) {
    const std::string bytes = encodePath(path);
    // Without blocking: a pipe without a writer would hold the open for ever.
    const int fd = ::open(bytes.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *failure = errno == ENOENT || errno == ENOTDIR ? ReadFailure::Missing
                   : errno == ELOOP                    ? ReadFailure::NotRegular
                                                       : ReadFailure::NotReadable;
        return -1;
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        *failure = known ? ReadFailure::NotRegular : ReadFailure::NotReadable;
        ::close(fd);
        return -1;
    }
    *size = static_cast<int64_t>(st.st_size);
    *failure = ReadFailure::None;
    return fd;
}

} // namespace fileIo
