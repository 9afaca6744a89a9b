#pragma once
// A file written as a whole, as a byte stream. By default the bytes go to a
// temporary file beside the target, which replaces the target only when
// every byte was written: a save that fails (full disk, quota, file size
// limit) leaves an existing file as it was and leaves no temporary behind.
// The replacement keeps the target's permission bits and, where the process
// may set them, its owner and group.
//
// The target is written in place (truncated and rewritten) instead when the
// safe way is impossible or would change what the user has:
// - it exists but is not a regular file (a device, a pipe);
// - no temporary file can be made beside it (a folder that is not writable,
//   holding a file that is);
// - it has several hard links (a rename would split them);
// - it belongs to another user or group that the replacement cannot be given.
// A failed in-place write leaves the target incomplete; it is reported.

#include "fileIo/KBaseStream.h"

#include <string>

namespace fileIo {

class SafeFileWriter : public KBaseStream {
public:
    explicit SafeFileWriter(const std::wstring& path);
    // Discards the temporary file when commit() was not reached.
    ~SafeFileWriter() override;
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // True when the target is written in place (see above).
    bool writesInPlace() const { return temporary_.empty() && fd_ >= 0; }

    // False once any write has failed; later writes are not attempted.
    bool write(const char* data, uint32_t n) override;
    bool read(char*, uint32_t) override { return false; }
    // Bytes written so far.
    int64_t size() override { return written_; }
    int64_t tell() override { return written_; }
    bool atEnd() override { return true; }

    // Puts the file in place. False when any write, the flush or the rename
    // failed; the target is then untouched (unless written in place).
    bool commit();

private:
    void discard();

    int fd_ = -1;
    std::string target_;    // encoded path
    std::string temporary_; // encoded path of the temporary file; empty in place
    bool ok_ = true;
    int64_t written_ = 0;
};

} // namespace fileIo
