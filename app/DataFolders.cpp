#include "app/DataFolders.h"

#include "app/Constants.h"
#include "app/Log.h"
#include "app/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

QString getCommonAppDataDir() {
    return platform::applicationDataBase() + QLatin1Char('/') + COMPANY_NAME;
}

QString getTempBaseDir() {
    return QStringLiteral("%1/%2-%3/%4")
        .arg(QDir::tempPath(), COMPANY_NAME, QString::number(platform::userId()), APP_VERSION);
}

namespace {

const char* const kOwnerFile = ".owner";

} // namespace

int removeStaleWorkDirs(const QString& base) {
    // Only folders that carry the mark of a process that has ended: a
    // folder without one, or of a process still running, may be in use.
    int removed = 0;
    const QFileInfoList dirs = QDir(base).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& dir : dirs) {
        if (dir.isSymLink())
            continue;
        QFile owner(QDir(dir.filePath()).filePath(QLatin1String(kOwnerFile)));
        if (!owner.open(QIODevice::ReadOnly))
            continue;
        const QByteArray mark = owner.read(64);
        owner.close();
        if (mark.isEmpty() || platform::processMarkIsLive(mark))
            continue;
        if (QDir(dir.filePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

QString createTempWorkDir() {
    const QString guid = createGuidString(false);
    // The shared temporary folder is writable by everyone: the per-user
    // folder must be ours and private, or another user could read or plant
    // files in it.
    QString base = getTempBaseDir();
    const QString userRoot = QFileInfo(base).path();
    if (!platform::makePrivateDirectory(userRoot) || !platform::makePrivateDirectory(base)) {
        logText("WARNING: PRIVATE TEMPORARY FOLDER UNAVAILABLE: ", false);
        logString(userRoot.toStdString());
        base = platform::makeUniquePrivateDirectory(QDir::tempPath() + QLatin1Char('/') + COMPANY_NAME);
        if (base.isEmpty())
            return QString();
    }
    const int stale = removeStaleWorkDirs(base);
    if (stale > 0) {
        logText("Removed work folders of ended runs: ", false);
        logInt(stale, nullptr);
    }
    const QString path = QStringLiteral("%1/%2").arg(base, guid);
    platform::makePrivateDirectory(path);
    // The mark lets a later run remove the folder when this process is
    // killed before it could.
    QFile owner(QDir(path).filePath(QLatin1String(kOwnerFile)));
    if (owner.open(QIODevice::WriteOnly))
        owner.write(platform::currentProcessMark());
    return path;
}

QString createGuidString(bool stripBraces) {
    return guidToString(QUuid::createUuid(), stripBraces);
}

QString guidToString(const QUuid& guid, bool stripBraces) {
    const QString text = guid.toString(stripBraces ? QUuid::WithoutBraces : QUuid::WithBraces).toUpper();
    return text;
}

QString fileNotExistMessage() {
    return QObject::tr("It's impossible to open <i>'%1'</i>.<br>The file does not exist.");
}

QString fileUnreadableMessage() {
    return QObject::tr(
        "It is impossible to open <i>'%1'</i>.<br>The file cannot be read due to a permission issue.");
}

QString fileNotRegularMessage() {
    return QObject::tr("It's impossible to open <i>'%1'</i>.<br>It is not a regular file.");
}

bool checkFileReadable(const QString& path, QString* why) {
    if (why)
        why->clear();
    if (path.isEmpty()) {
        logText("WARNING: FILE PATH EMPTY");
        return false;
    }
    // Logs why the file cannot be opened and hands the user's message back.
    auto refuse = [&](const char* logLine, const QString& message) {
        logText(logLine, false);
        logString(path.toStdString());
        if (why)
            *why = message.arg(path);
        return false;
    };
    if (!QFile::exists(path))
        return refuse("FILE NOT EXIST: ", fileNotExistMessage());
    // A pipe without a writer would block the reader for ever, and a device
    // or folder is no document.
    if (!QFileInfo(path).isFile())
        return refuse("FILE NOT REGULAR: ", fileNotRegularMessage());
    if (!QFileInfo(path).isReadable())
        return refuse("FILE UNREADABLE: ", fileUnreadableMessage());
    return true;
}
