#pragma once
// A small file the program keeps for itself (a settings group, the support
// parameters) written whole: the bytes go to a temporary file beside it that
// replaces it only once every byte was written, so a failed write (a full
// disk, a quota, a folder without room for a new file) leaves the previous
// file as it was and no temporary file behind.
#include <QByteArray>
#include <QString>

// Replaces the content of path by bytes. False with *why (the system's
// reason, when why is not null) when the file could not be written whole.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* why = nullptr);

// writeWholeFile that logs a failure as "<what> not saved: <path>: <reason>",
// once while writes keep failing: *failureLogged is set by a failure and
// cleared by a success, so a folder that stays unwritable fills the log with
// one line, not one per write.
bool writeWholeFileLogged(const QString& path, const QByteArray& bytes, const char* what, bool* failureLogged);
