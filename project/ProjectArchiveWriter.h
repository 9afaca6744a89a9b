#pragma once
// Writes a project archive so that the file it replaces survives any failure:
// the entries go into a temporary file in the target's folder
// (fileIo::ReplacementFile: a symbolic link is followed, a target that cannot
// be replaced whole is refused), every entry's close and the archive's close
// are checked, the data is flushed to disk, and only then the temporary file
// is renamed over the target. On any failure (or when the writer is destroyed
// before commit) the temporary file is removed and the target keeps its bytes.
#include "fileIo/ReplacementFile.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QuaZip;

namespace fileIo {
class VlrZipFile;
}

namespace project {

class ProjectArchiveWriter {
public:
    // Whether the entry of that name may be opened; a refused entry fails as
    // one the zip layer cannot open. Lets a caller (a test) make any entry of
    // a real save fail.
    using EntryCheck = std::function<bool(const QString& name)>;

    // target: the file the archive replaces (kept by the writer, see target()).
    explicit ProjectArchiveWriter(const QString& target, EntryCheck admit = EntryCheck());
    ~ProjectArchiveWriter();
    ProjectArchiveWriter(const ProjectArchiveWriter&) = delete;
    ProjectArchiveWriter& operator=(const ProjectArchiveWriter&) = delete;

    // Creates the temporary file and opens the archive in it.
    bool open();
    // Opens a new deflated entry and returns its stream (owned by the writer,
    // valid until endEntry); null when the entry cannot be opened.
    fileIo::VlrZipFile* beginEntry(const QString& name);
    // Closes the entry opened last; false when the zip layer reports an error.
    bool endEntry();
    // An entry holding data; large data is compressed on several threads.
    bool writeEntry(const QString& name, const QByteArray& data);
    // Closes the archive and puts it in place of the target. False when
    // anything failed (the target is then untouched).
    bool commit();

    // The last failure, for the log.
    const QString& errorString() const { return error_; }
    // Why the file could not be written or put in place (a full disk, a
    // folder without room for a new file...); None when the failure lay
    // elsewhere (an entry the caller could not make) or nothing failed.
    fileIo::SaveFailure fileFailure() const { return file_.failure(); }

    // The absolute path of the file the archive replaces.
    const QString& target() const { return target_; }

private:
    // raw: data already deflated, with the CRC and length of the original.
    fileIo::VlrZipFile* openEntry(const QString& name, bool raw, uint32_t crc, qint64 size, int level);
    void discard();
    bool fail(const QString& why);

    QString target_;
    EntryCheck admit_;
    fileIo::ReplacementFile file_;
    std::unique_ptr<QIODevice> device_;
    std::unique_ptr<QuaZip> zip_;
    std::unique_ptr<fileIo::VlrZipFile> entry_;
    bool ok_ = false;
    QString error_;
};

} // namespace project
