#include "fileIo/ReplacementFile.h"

#include "app/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fileIo {

namespace {

const char kMarker[] = ".velar-";
// Room left in a file name (NAME_MAX 255) for the dot, the marker, the host,
// the pid and the random part: long target names are cut in the temporary name.
constexpr size_t kMaxNamePart = 180;

std::string hostPart() {
    static const std::string tag = platform::hostTag().toStdString();
    return tag;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path with every symbolic link along it resolved; a link whose target
// does not exist yet resolves to that target, so that the save creates it.
std::string resolveLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            break;
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            path = resolved;
            std::free(resolved);
            break;
        }
        std::vector<char> text(size_t(link.st_size > 0 ? link.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), text.data(), text.size() - 1);
        if (n <= 0)
            break;
        const std::string pointed(text.data(), size_t(n));
        path = pointed[0] == '/' ? pointed : folderOf(path) + "/" + pointed;
    }
    return path;
}

} // namespace

const char* saveFailureText(SaveFailure failure) {
    switch (failure) {
    case SaveFailure::None:
        return "";
    case SaveFailure::NotRegular:
        return "The target is not a regular file.";
    case SaveFailure::FolderMissing:
        return "The folder does not exist.";
    case SaveFailure::FolderLocked:
        return "No new file can be created in its folder, so the file cannot be replaced safely; it was left as "
               "it was.";
    case SaveFailure::OtherOwner:
        return "The file belongs to another user or group and replacing it would change its owner; it was left "
               "as it was.";
    case SaveFailure::ReadOnly:
        return "The file is read-only; it was left as it was.";
    case SaveFailure::DiskFull:
        return "The disk is full.";
    case SaveFailure::TooLarge:
        return "The file would exceed the file size limit.";
    case SaveFailure::WriteFailed:
        return "Writing the file failed.";
    case SaveFailure::ReplaceFailed:
        return "The finished file could not be put in place of the old one.";
    }
    return "";
}

SaveFailure saveFailureFromErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return SaveFailure::DiskFull;
    case EFBIG:
        return SaveFailure::TooLarge;
    default:
        return SaveFailure::WriteFailed;
    }
}

std::string temporaryPrefix(const std::string& targetName) {
    // The process mark "<pid> <start time>" with '_' for the blank: a later
    // process given the same id does not make the file look live.
    std::string mark = platform::currentProcessMark().toStdString();
    for (char& c : mark)
        c = c == ' ' ? '_' : c;
    return "." + targetName.substr(0, kMaxNamePart) + kMarker + hostPart() + "-" + mark + "-";
}

bool isStaleTemporaryName(const std::string& name) {
    // ".<name>.velar-<host>-<pid>_<start>-XXXXXX"
    if (name.size() < 2 || name[0] != '.')
        return false;
    const size_t marker = name.rfind(kMarker);
    if (marker == std::string::npos || marker == 0)
        return false;
    const std::string rest = name.substr(marker + sizeof kMarker - 1);
    const std::string host = hostPart();
    if (rest.size() < host.size() + 1 || rest.compare(0, host.size(), host) != 0 || rest[host.size()] != '-')
        return false;
    const size_t markAt = host.size() + 1;
    const size_t dash = rest.find('-', markAt);
    if (dash == std::string::npos || rest.size() != dash + 7)
        return false;
    std::string mark = rest.substr(markAt, dash - markAt);
    const size_t blank = mark.find('_');
    if (blank == std::string::npos || blank == 0 || blank + 1 == mark.size() ||
        mark.find_first_not_of("0123456789_") != std::string::npos || mark.find('_', blank + 1) != std::string::npos)
        return false;
    mark[blank] = ' ';
    return !platform::processMarkIsLive(QByteArray::fromStdString(mark));
}

int removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir))
        if (isStaleTemporaryName(entry->d_name))
            stale.emplace_back(entry->d_name);
    for (const std::string& name : stale) {
        // Only this user's own regular files, never what a link points at.
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && ::unlinkat(::dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

ReplacementFile::ReplacementFile(std::string target) : target_(std::move(target)) {}

ReplacementFile::~ReplacementFile() {
    discard();
}

bool ReplacementFile::fail(SaveFailure why) {
    if (failure_ == SaveFailure::None)
        failure_ = why;
    discard();
    return false;
}

void ReplacementFile::discard() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

void ReplacementFile::noteWriteError(int error) {
    if (failure_ == SaveFailure::None)
        failure_ = saveFailureFromErrno(error);
}

bool ReplacementFile::open() {
    failure_ = SaveFailure::None;
    linksLeftBehind_ = false;
    // A symbolic link stays a link: the file it points at is replaced.
    target_ = resolveLinks(target_);
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return fail(SaveFailure::NotRegular);
    // The mode bits decide, not access(): root may write any file.
    if (exists && ((st.st_mode & 0222) == 0 || (st.st_uid == ::geteuid() && (st.st_mode & S_IWUSR) == 0)))
        return fail(SaveFailure::ReadOnly);

    const std::string folder = folderOf(target_);
    removeStaleTemporaries(folder);
    std::string pattern = folder + "/" + temporaryPrefix(nameOf(target_)) + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ < 0)
        return fail(errno == ENOSPC || errno == EDQUOT ? SaveFailure::DiskFull
                    : errno == ENOENT || errno == ENOTDIR ? SaveFailure::FolderMissing
                                                          : SaveFailure::FolderLocked);
    temporary_.assign(buffer.data());

    if (exists) {
        // The replacement takes the target's owner, group and permissions.
        const bool sameOwner = st.st_uid == ::geteuid() && st.st_gid == ::getegid();
        if (!sameOwner && ::fchown(fd_, st.st_uid, st.st_gid) != 0)
            return fail(SaveFailure::OtherOwner);
        if (::fchmod(fd_, st.st_mode & 07777) != 0)
            return fail(SaveFailure::OtherOwner);
        linksLeftBehind_ = st.st_nlink > 1;
    } else {
        // A new file gets the permissions a plain create would give it.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
    return true;
}

bool ReplacementFile::commit() {
    if (fd_ < 0)
        return fail(failure_ == SaveFailure::None ? SaveFailure::WriteFailed : failure_);
    if (failure_ != SaveFailure::None)
        return fail(failure_);
    // The data must be on disk before the name points at it, or a crash right
    // after the rename could leave an empty file.
    if (::fsync(fd_) != 0)
        return fail(saveFailureFromErrno(errno));
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0)
        return fail(saveFailureFromErrno(errno));
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        return fail(SaveFailure::ReplaceFailed);
    temporary_.clear();
    return true;
}

} // namespace fileIo
