#include "fileIo/FileHandling.h"

#include "fileIo/PathEncoding.h"

#include "app/ProgressReport.h"

#include <algorithm>
#include <fstream>

namespace fileIo {

FileHandling::~FileHandling() = default;

bool FileHandling::cancelRequested() const {
    return progress_ != nullptr && progress_->stopRequested();
}

int FileHandling::load() {
    notes_.clear();
    if (!checkBeforeLoad())
        return kFailure;
    return noteLoadResult(isAsciiFile() ? readAscii() : readBinary());
}

bool FileHandling::checkBeforeLoad() {
    failure_ = checkReadableFile(fileName_);
    return failure_ == ReadFailure::None;
}

int FileHandling::noteLoadResult(int result) {
    if (result == kSuccess)
        failure_ = ReadFailure::None;
    else if (result == kNotEnoughMemory)
        failure_ = ReadFailure::TooLarge;
    else if (result == kCancelled)
        failure_ = ReadFailure::Cancelled;
    else if (failure_ == ReadFailure::None)
        failure_ = ReadFailure::NotMeshFile;
    return result;
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
    std::ifstream in;
    if (!openRegularFile(in, fileName_))
        return false;
    char head[100];
    in.read(head, sizeof head);
    const auto got = in.gcount();
    return got > 0 && std::find(head, head + got, '\0') == head + got;
}

} // namespace fileIo
