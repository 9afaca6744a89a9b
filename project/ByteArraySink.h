#pragma once
// A byte stream that collects what is written in memory, so that a whole
// entry can be compressed at once.
#include "fileIo/KBaseStream.h"

#include <QByteArray>

#include <new>

namespace project {

class ByteArraySink : public fileIo::KBaseStream {
public:
    bool write(const char* data, uint32_t n) override {
        try {
            bytes.append(data, static_cast<int>(n));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    bool read(char*, uint32_t) override { return false; }
    int64_t size() override { return bytes.size(); }
    int64_t tell() override { return bytes.size(); }
    bool atEnd() override { return true; }

    QByteArray bytes;
};

} // namespace project
