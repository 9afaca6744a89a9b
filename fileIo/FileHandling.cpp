#include "fileIo/FileHandling.h"

#include "fileIo/PathEncoding.h"

#include <algorithm>
#include <fstream>

namespace fileIo {

FileHandling::~FileHandling() = default;

int FileHandling::load() {
    return isAsciiFile() ? readAscii() : readBinary();
}

uint64_t FileHandling::estimateMemory(KBaseStream*) {
    return 0;
}

int FileHandling::readStream(KBaseStream*) {
    return kFailure;
}

int FileHandling::writeStream(KBaseStream*) {
    return kFailure;
}

bool FileHandling::isAvailable() {
    return true;
}

bool FileHandling::isAsciiFile() const {
    std::ifstream in(encodePath(fileName_), std::ios::in | std::ios::binary);
    if (!in.is_open())
        return false;
    char head[100] = {};
    in.read(head, sizeof head);
    return std::find(head, head + sizeof head, '\0') == head + sizeof head;
}

} // namespace fileIo
