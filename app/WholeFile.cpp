#include "app/WholeFile.h"

#include "app/Log.h"

#include <QSaveFile>

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* why) {
    QSaveFile file(path);
    // QSaveFile::commit does not notice a failure of the flush it makes when
    // it closes the temporary file: on a full disk the bytes still buffered
    // are lost and the empty temporary replaces the file. Flushing first
    // turns that into a failed write; the temporary is then discarded.
    const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() &&
                    file.commit();
    if (!ok && why)
        *why = file.errorString();
    return ok;
}

bool writeWholeFileLogged(const QString& path, const QByteArray& bytes, const char* what, bool* failureLogged) {
    QString why;
    if (writeWholeFile(path, bytes, &why)) {
        *failureLogged = false;
        return true;
    }
    if (!*failureLogged) {
        logText(what, false);
        logString((QStringLiteral(" not saved: ") + path + QStringLiteral(": ") + why).toStdString());
        *failureLogged = true;
    }
    return false;
}
