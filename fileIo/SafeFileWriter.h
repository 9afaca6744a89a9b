#pragma once
// A file written as a whole, as a byte stream. The bytes go to a temporary
// file beside the target, which replaces the target only when every byte was
// written: a save that fails (full disk, quota, file size limit) leaves an
// existing file as it was and leaves no temporary behind. A target that exists
// but is not a regular file (a device, a pipe) cannot be replaced and is
// written directly.

#include "fileIo/KBaseStream.h"

#include <memory>
#include <string>

class QFileDevice;

namespace fileIo {

class SafeFileWriter : public KBaseStream {
public:
    explicit SafeFileWriter(const std::wstring& path);
    // Discards the temporary file when commit() was not reached.
    ~SafeFileWriter() override;

    bool isOpen() const { return device_ != nullptr; }

    // False once any write has failed; later writes are not attempted.
    bool write(const char* data, uint32_t n) override;
    bool read(char*, uint32_t) override { return false; }
    // Bytes written so far.
    int64_t size() override { return written_; }
    int64_t tell() override { return written_; }
    bool atEnd() override { return true; }

    // Puts the file in place. False when any write, the flush or the rename
    // failed; the target is then untouched (unless written directly).
    bool commit();

private:
    std::unique_ptr<QFileDevice> device_;
    bool direct_ = false;
    bool ok_ = true;
    int64_t written_ = 0;
};

} // namespace fileIo
