#include "WithoutRoot.h"

#include "app/DataFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(DataFolders, dataFolderIsTheCompanyFolderUnderTheUserDataBase) {
    QTemporaryDir data;
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    EXPECT_EQ(getCommonAppDataDir(), data.path() + "/Norvane");
    qputenv("XDG_DATA_HOME", previous);
}

TEST(DataFolders, workFoldersAreNewPrivateAndPerUser) {
    const QString a = createTempWorkDir();
    const QString b = createTempWorkDir();
    ASSERT_FALSE(a.isEmpty());
    EXPECT_NE(a, b);
    for (const QString& dir : {a, b}) {
        EXPECT_TRUE(QDir(dir).exists()) << dir.toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << dir.toStdString();
        EXPECT_EQ(st.st_uid, getuid());
        EXPECT_TRUE(
            QRegularExpression("/\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}$").match(dir).hasMatch())
            << dir.toStdString();
    }
    EXPECT_TRUE(a.startsWith(getTempBaseDir() + "/")) << a.toStdString();

    // A folder left by a run that was killed is removed by the next one; the
    // folders of running processes (these two) and folders without a mark stay.
    const QString base = getTempBaseDir();
    const auto leftBehind = [&](const QString& name, const QByteArray& mark) {
        const QString dir = base + "/" + name;
        EXPECT_TRUE(QDir().mkpath(dir + "/inner"));
        if (!mark.isNull()) {
            QFile owner(dir + "/.owner");
            EXPECT_TRUE(owner.open(QIODevice::WriteOnly));
            owner.write(mark);
        }
        return dir;
    };
    const QByteArray self = QByteArray::number(static_cast<qint64>(getpid()));
    const QString ended = leftBehind(createGuidString(false), "999999999 12345");
    const QString reused = leftBehind(createGuidString(false), self + " 1"); // our id, another start
    const QString unmarked = leftBehind(createGuidString(false), QByteArray());
    const QString c = createTempWorkDir();
    EXPECT_FALSE(QFileInfo::exists(ended));
    EXPECT_FALSE(QFileInfo::exists(reused));
    EXPECT_TRUE(QFileInfo::exists(unmarked));
    for (const QString& dir : {a, b, c, unmarked}) {
        EXPECT_TRUE(QFileInfo::exists(dir)) << dir.toStdString();
        QDir(dir).removeRecursively();
    }
}

TEST(DataFolders, guidTextIsUpperCaseWithOrWithoutBraces) {
    const QString braced = createGuidString(false);
    const QString bare = createGuidString(true);
    EXPECT_EQ(braced.size(), 38);
    EXPECT_EQ(bare.size(), 36);
    EXPECT_EQ(braced, braced.toUpper());
    EXPECT_TRUE(braced.startsWith('{') && braced.endsWith('}'));
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(guidToString(id, false).mid(1, 36), guidToString(id, true));
}

TEST(DataFolders, fileCheckNamesWhyAFileCannotBeOpened) {
    QTemporaryDir dir;
    const QString readable = dir.path() + "/model.stl";
    {
        QFile f(readable);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("solid x\n");
    }
    const QString missing = dir.path() + "/missing.stl";
    QString why = QStringLiteral("left from before");

    EXPECT_TRUE(checkFileReadable(readable, &why));
    EXPECT_TRUE(why.isEmpty());
    EXPECT_FALSE(checkFileReadable(QString(), &why)); // logged only
    EXPECT_TRUE(why.isEmpty());
    EXPECT_FALSE(checkFileReadable(missing)); // logged only

    EXPECT_FALSE(checkFileReadable(missing, &why));
    EXPECT_EQ(why, fileNotExistMessage().arg(missing));
    EXPECT_TRUE(why.contains("The file does not exist."));
    EXPECT_FALSE(checkFileReadable(dir.path(), &why));
    EXPECT_EQ(why, fileNotRegularMessage().arg(dir.path()));

    // A file that exists but may not be read. Root reads everything, so as
    // root the check runs in a child process that has given up root.
    QFile::setPermissions(readable, QFileDevice::WriteOwner);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ExeGroup | QFileDevice::ExeOther);
    const auto unreadableFileIsReported = [&] {
        return !checkFileReadable(readable, &why) && why == fileUnreadableMessage().arg(readable);
    };
    EXPECT_TRUE(testsupport::runWithoutRoot(unreadableFileIsReported));
}

} // namespace
