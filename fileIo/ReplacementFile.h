#pragma once
// A file that replaces its target only once it is complete: the bytes go to a
// new temporary file beside the target, which is flushed to disk and renamed
// over the target, so that a save that fails at any point leaves the file the
// user had as it was. The target is never truncated or written in place;
// when the replacement cannot be made without changing what the user has,
// open() refuses and says why:
// - a symbolic link is followed: the file it points at is replaced and the
//   link stays;
// - a target that is not a regular file (a folder, pipe or device) is refused;
// - a folder that allows no new file beside the target is refused, even when
//   the target itself is writable;
// - a target of another owner or group is refused unless the process may give
//   the replacement that owner and group (root may);
// - a read-only target (no write permission bit at all, or none for its owner
//   when that is the process) is refused, also for root, whom the system
//   would let write it: the user marked the file to be kept;
// - a target with several hard links is replaced under its own name; its
//   other names keep the old content, which linksLeftBehind() reports.
// The replacement gets the target's permission bits (a new file those of a
// plain create).
//
// Temporary names are hidden and carry the host and the process's mark (id
// and start time): ".<name>.velar-<host>-<pid>_<start>-XXXXXX". Those that a
// process which no longer runs left behind (a save that was killed) are
// removed by the next open() in that folder.

#include <cstdint>
#include <string>

namespace fileIo {

enum class SaveFailure {
    None,
    NotRegular,      // the target is a folder, pipe, device or socket
    FolderMissing,   // the target's folder does not exist
    FolderLocked,    // no new file can be made in the target's folder
    OtherOwner,      // the replacement could not keep the target's owner or group
    ReadOnly,        // the target is marked read-only
    DiskFull,        // no space left (or the disk quota is used up)
    TooLarge,        // beyond the file size limit
    WriteFailed,     // another write or flush error
    ReplaceFailed,   // the final rename failed
};

// What a finished save tells its caller besides success.
struct SaveReport {
    SaveFailure failure = SaveFailure::None;
    // The replaced file had other hard links; they keep the old content.
    bool linksLeftBehind = false;
};

// The reason in words, a sentence for the user and the log: "The disk is
// full.", ... ; "" for None.
const char* saveFailureText(SaveFailure failure);
// The failure a write, flush or close error number stands for.
SaveFailure saveFailureFromErrno(int error);

class ReplacementFile {
public:
    // target: the encoded path the user chose.
    explicit ReplacementFile(std::string target);
    // Removes the temporary file unless commit() succeeded.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Checks the target and creates the temporary file; false with failure().
    bool open();
    // The temporary file's descriptor while open (owned), else -1.
    int fd() const { return fd_; }
    // Notes that writing failed with the error number (the first one stays).
    void noteWriteError(int error);
    // Flushes, closes and renames the temporary file over the target. False
    // when a write was noted as failed or any of these steps failed; the
    // temporary file is then removed and the target is untouched.
    bool commit();
    // Removes the temporary file; the target is untouched.
    void discard();

    SaveFailure failure() const { return failure_; }
    // The file really replaced (a link resolved).
    const std::string& target() const { return target_; }
    // True when the replaced target had other hard links, which still name
    // the old content.
    bool linksLeftBehind() const { return linksLeftBehind_; }

private:
    bool fail(SaveFailure why);

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    SaveFailure failure_ = SaveFailure::None;
    bool linksLeftBehind_ = false;
};

// The temporary-name prefix of this process for a target file name, and the
// test whether a file name is a temporary of a process that no longer runs on
// this host.
std::string temporaryPrefix(const std::string& targetName);
bool isStaleTemporaryName(const std::string& name);
// Removes the stale temporaries of this user in folder (an encoded path);
// returns how many were removed.
int removeStaleTemporaries(const std::string& folder);

} // namespace fileIo
