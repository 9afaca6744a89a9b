#pragma once
// A file written as a whole, as a byte stream: the bytes go to a temporary
// file beside the target, which replaces the target only when every byte was
// written (ReplacementFile). A save that fails (full disk, quota, file size
// limit) or that cannot replace the target safely (a folder without room for
// a new file, a target of another owner, not a regular file) leaves an
// existing file as it was and leaves no temporary behind; failure() says why.
// The target is never truncated or written in place.

#include "fileIo/KBaseStream.h"
#include "fileIo/ReplacementFile.h"

#include <string>

namespace fileIo {

class SafeFileWriter : public KBaseStream {
public:
    explicit SafeFileWriter(const std::wstring& path);
    // Discards the temporary file when commit() was not reached.
    ~SafeFileWriter() override = default;
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // False when the target cannot be replaced (see failure()).
    bool isOpen() const { return file_.fd() >= 0; }

    // False once any write has failed; later writes are not attempted.
    bool write(const char* data, uint32_t n) override;
    bool read(char*, uint32_t) override { return false; }
    // Bytes written so far.
    int64_t size() override { return written_; }
    int64_t tell() override { return written_; }
    bool atEnd() override { return true; }

    // Puts the file in place. False when any write, the flush or the rename
    // failed; the target is then untouched.
    bool commit();

    // Why opening, a write or the commit failed; None otherwise.
    SaveFailure failure() const { return file_.failure(); }
    // After a commit: the target had other hard links, which keep the old content.
    bool linksLeftBehind() const { return file_.linksLeftBehind(); }

private:
    ReplacementFile file_;
    bool ok_ = true;
    int64_t written_ = 0;
};

} // namespace fileIo
