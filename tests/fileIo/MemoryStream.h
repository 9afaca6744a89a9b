#pragma once
// A byte stream over memory for tests and fuzzing: reads behave like a zip
// entry (the end is reached with the last byte), writes append, and a write
// limit simulates a full disk.

#include "fileIo/KBaseStream.h"

#include <algorithm>
#include <cstring>
#include <string>

class MemoryStream : public fileIo::KBaseStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}

    bool write(const char* data, uint32_t n) override {
        if (data_.size() + n > writeLimit_)
            return false;
        data_.append(data, n);
        return true;
    }
    bool read(char* buffer, uint32_t n) override {
        const size_t take = std::min<size_t>(n, data_.size() - pos_);
        std::memcpy(buffer, data_.data() + pos_, take);
        pos_ += take;
        return take == n;
    }
    int64_t size() override { return static_cast<int64_t>(data_.size()); }
    int64_t tell() override { return static_cast<int64_t>(pos_); }
    bool atEnd() override { return pos_ >= data_.size(); }

    const std::string& bytes() const { return data_; }
    void setWriteLimit(size_t limit) { writeLimit_ = limit; }

private:
    std::string data_;
    size_t pos_ = 0;
    size_t writeLimit_ = std::string::npos;
};
