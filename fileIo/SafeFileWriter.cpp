#include "fileIo/SafeFileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

namespace fileIo {

SafeFileWriter::SafeFileWriter(const std::wstring& path) {
    // QFile encodes the name with QFile::encodeName, like every other path here.
    const QString name = QString::fromStdWString(path);
    const QFileInfo info(name);
    std::unique_ptr<QFileDevice> device;
    if (info.exists() && !info.isFile()) {
        direct_ = true;
        device = std::make_unique<QFile>(name);
    } else {
        device = std::make_unique<QSaveFile>(name);
    }
    if (device->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        device_ = std::move(device);
}

SafeFileWriter::~SafeFileWriter() = default;

bool SafeFileWriter::write(const char* data, uint32_t n) {
    if (!device_ || !ok_)
        return false;
    ok_ = device_->write(data, static_cast<qint64>(n)) == static_cast<qint64>(n);
    if (ok_)
        written_ += n;
    return ok_;
}

bool SafeFileWriter::commit() {
    if (!device_)
        return false;
    if (direct_) {
        const bool flushed = device_->flush();
        device_->close();
        ok_ = ok_ && flushed && device_->error() == QFileDevice::NoError;
    } else {
        auto* save = static_cast<QSaveFile*>(device_.get());
        if (!ok_)
            save->cancelWriting();
        ok_ = save->commit() && ok_;
    }
    device_.reset();
    return ok_;
}

} // namespace fileIo
