#include "project/ProjectArchiveWriter.h"

#include "fileIo/VlrZipFile.h"
#include "project/ParallelDeflate.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFile>
#include <quazip/quazip.h>
#include <quazip/quazipnewinfo.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace project {

namespace {

// The zip layer's view of the temporary file: unbuffered writes at the
// device's position, so that a failing write (full disk, size limit) is seen
// by the zip layer at once, with its error number noted for the reason.
class ReplacementDevice : public QIODevice {
public:
    explicit ReplacementDevice(fileIo::ReplacementFile& file) : file_(file) {}
    bool isSequential() const override { return false; }
    qint64 size() const override { return size_; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 n) override {
        qint64 done = 0;
        while (done < n) {
            const ssize_t w = ::pwrite(file_.fd(), data + done, size_t(n - done), pos() + done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                const int error = w < 0 ? errno : ENOSPC;
                file_.noteWriteError(error);
                setErrorString(QString::fromLocal8Bit(std::strerror(error)));
                return -1;
            }
            done += w;
        }
        size_ = std::max(size_, pos() + done);
        return done;
    }

private:
    fileIo::ReplacementFile& file_;
    qint64 size_ = 0;
};

// Entries from this size on are compressed in parallel blocks. From
// kFastFrom on they are geometry (float coordinates and indices), which the
// fastest level packs within about 6 % of the default level at a quarter of
// its time; smaller ones (support entries, text) keep the default level.
constexpr int kParallelFrom = 256 << 10;
constexpr int kFastFrom = 2 << 20;
} // namespace

ProjectArchiveWriter::ProjectArchiveWriter(const QString& target, EntryCheck admit)
    : target_(QFileInfo(target).absoluteFilePath()), admit_(std::move(admit)),
      file_(QFile::encodeName(target_).toStdString()) {}

ProjectArchiveWriter::~ProjectArchiveWriter() {
    discard();
}

bool ProjectArchiveWriter::fail(const QString& why) {
    if (error_.isEmpty())
        error_ = why;
    discard();
    return false;
}

void ProjectArchiveWriter::discard() {
    ok_ = false;
    if (entry_) {
        entry_->close();
        entry_.reset();
    }
    if (zip_) {
        zip_->close();
        zip_.reset();
    }
    device_.reset();
    file_.discard();
}

bool ProjectArchiveWriter::open() {
    if (!file_.open())
        return fail(QStringLiteral("cannot write '%1': %2").arg(target_, fileIo::saveFailureText(file_.failure())));
    device_ = std::make_unique<ReplacementDevice>(file_);
    device_->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    zip_ = std::make_unique<QuaZip>(device_.get());
    zip_->setAutoClose(false);
    zip_->setUtf8Enabled(true);
    if (!zip_->open(QuaZip::mdCreate))
        return fail(QStringLiteral("cannot create the archive (zip error %1)").arg(zip_->getZipError()));
    ok_ = true;
    return true;
}

fileIo::VlrZipFile* ProjectArchiveWriter::beginEntry(const QString& name) {
    return openEntry(name, false, 0, 0, Z_DEFAULT_COMPRESSION);
}

fileIo::VlrZipFile* ProjectArchiveWriter::openEntry(const QString& name, bool raw, uint32_t crc, qint64 size,
                                                   int level) {
    if (!ok_ || entry_)
        return nullptr;
    if (admit_ && !admit_(name)) {
        fail(QStringLiteral("entry '%1' refused").arg(name));
        return nullptr;
    }
    QuaZipNewInfo info(name);
    info.dateTime = QDateTime::currentDateTime();
    info.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    info.uncompressedSize = static_cast<ulong>(size);
    entry_ = std::make_unique<fileIo::VlrZipFile>(zip_.get());
    if (!entry_->open(QIODevice::WriteOnly, info, nullptr, crc, Z_DEFLATED, level, raw, -MAX_WBITS, 8,
                      Z_DEFAULT_STRATEGY)) {
        const QString why = entry_->device().errorString();
        entry_.reset();
        fail(QStringLiteral("cannot open entry '%1': %2").arg(name, why));
        return nullptr;
    }
    return entry_.get();
}

bool ProjectArchiveWriter::endEntry() {
    if (!entry_)
        return false;
    const bool closed = entry_->close();
    const int zipError = entry_->device().getZipError();
    entry_.reset();
    if (!closed)
        return fail(QStringLiteral("writing an entry failed (zip error %1)").arg(zipError));
    return true;
}

bool ProjectArchiveWriter::writeEntry(const QString& name, const QByteArray& data) {
    fileIo::VlrZipFile* stream = nullptr;
    QByteArray compressed;
    uint32_t crc = 0;
    // Large entries are compressed on several threads and stored as they are.
    const bool parallel = data.size() >= kParallelFrom;
    if (parallel) {
        const int level = data.size() >= kFastFrom ? Z_BEST_SPEED : Z_DEFAULT_COMPRESSION;
        if (!deflateParallel(data, level, compressed, crc))
            return fail(QStringLiteral("compressing entry '%1' failed").arg(name));
        stream = openEntry(name, true, crc, data.size(), level);
    } else {
        stream = beginEntry(name);
    }
    if (!stream)
        return false;
    const QByteArray& bytes = parallel ? compressed : data;
    if (!bytes.isEmpty() && !stream->write(bytes.constData(), static_cast<uint32_t>(bytes.size())))
        return fail(QStringLiteral("writing entry '%1' failed").arg(name));
    return endEntry();
}

bool ProjectArchiveWriter::commit() {
    if (!ok_ || entry_)
        return fail(QStringLiteral("archive incomplete"));
    zip_->close();
    const int zipError = zip_->getZipError();
    zip_.reset();
    if (zipError != 0)
        return fail(QStringLiteral("closing the archive failed (zip error %1)").arg(zipError));
    device_.reset();
    if (!file_.commit())
        return fail(QStringLiteral("cannot replace '%1': %2").arg(target_, fileIo::saveFailureText(file_.failure())));
    ok_ = false;
    return true;
}

} // namespace project
