#include "project/ProjectArchiveWriter.h"

#include "fileIo/VlrZipFile.h"
#include "project/ParallelDeflate.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryFile>
#include <quazip/quazip.h>
#include <quazip/quazipnewinfo.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <zlib.h>

namespace project {

namespace {
int failAfterEntries = -1;
// Entries from this size on are compressed in parallel blocks. From
// kFastFrom on they are geometry (float coordinates and indices), which the
// fastest level packs within about 6 % of the default level at a quarter of
// its time; smaller ones (support entries, text) keep the default level.
constexpr int kParallelFrom = 256 << 10;
constexpr int kFastFrom = 2 << 20;
} // namespace

void ProjectArchiveWriter::setFailAfterEntriesForTesting(int n) {
    failAfterEntries = n;
}

ProjectArchiveWriter::ProjectArchiveWriter(const QString& target) : target_(QFileInfo(target).absoluteFilePath()) {}

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
    if (file_.isOpen())
        file_.close();
    if (!tempPath_.isEmpty()) {
        QFile::remove(tempPath_);
        tempPath_.clear();
    }
}

bool ProjectArchiveWriter::open() {
    const QFileInfo info(target_);
    // A unique name in the target's folder, so that the final rename stays on
    // one file system and cannot clash with another save.
    {
        QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                            QStringLiteral(".XXXXXX"));
        temp.setAutoRemove(false);
        if (!temp.open())
            return fail(QStringLiteral("cannot create a file in '%1': %2").arg(info.absolutePath(), temp.errorString()));
        tempPath_ = temp.fileName();
    }
    file_.setFileName(tempPath_);
    // Unbuffered, so that a failing write (full disk, size limit) is seen by
    // the zip layer at once and not only at a final flush nobody checks.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(file_.errorString());
    // The temporary file is private; the project gets the permissions of the
    // file it replaces, or those of a new document.
    file_.setPermissions(info.exists() ? QFile::permissions(target_)
                                       : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    zip_ = std::make_unique<QuaZip>(&file_);
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
    if (failAfterEntries >= 0 && entries_ >= failAfterEntries) {
        fail(QStringLiteral("entry '%1' refused (injected failure)").arg(name));
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
    ++entries_;
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
    if (file_.error() != QFileDevice::NoError)
        return fail(file_.errorString());
    // The data must be on disk before the name points at it, or a crash
    // right after the rename could leave an empty project.
    if (::fsync(file_.handle()) != 0)
        return fail(QStringLiteral("flushing the archive failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    file_.close();
    if (file_.error() != QFileDevice::NoError)
        return fail(file_.errorString());
    if (::rename(QFile::encodeName(tempPath_).constData(), QFile::encodeName(target_).constData()) != 0)
        return fail(QStringLiteral("cannot replace '%1': %2")
                        .arg(target_, QString::fromLocal8Bit(std::strerror(errno))));
    tempPath_.clear();
    ok_ = false;
    return true;
}

} // namespace project
