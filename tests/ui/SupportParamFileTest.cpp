// The support parameter file: the exact one-line text of the presets, round
// trips, clamping of missing and garbage values as the panel's boxes would,
// XML errors, a data folder that cannot be written and a full disk.
#include "SmallDisk.h"
#include "ui/SupportParamFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using support::SupportParams;
using P = support::SupportParams;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeText(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// The data folder points at a temporary folder while the test runs.
class DataFolder {
public:
    DataFolder() : m_previous(qgetenv("XDG_DATA_HOME")) { qputenv("XDG_DATA_HOME", dir.path().toUtf8()); }
    ~DataFolder() { qputenv("XDG_DATA_HOME", m_previous); }
    QTemporaryDir dir;

private:
    QByteArray m_previous;
};

SupportParams someParams() {
    SupportParams p;
    p.values = {0.55, 3.25, 1.4, 7.5, 12.34, 2, 0.8, 9.9, 33};
    p.removeInternal = true;
    return p;
}

} // namespace

TEST(SupportParamFile, presetsAreWrittenAsOneLineAndReadBack) {
    DataFolder data;
    const QString path = support::supportParamFilePath();
    EXPECT_EQ(path, data.dir.path() + "/Norvane/Params/supportParam.xml");
    EXPECT_TRUE(QDir(data.dir.path() + "/Norvane/Params").exists());

    ASSERT_TRUE(support::writeSupportParamFile(path, support::presetSupportParams()));
    EXPECT_EQ(fileBytes(path), QByteArray("<Projects><SupportParams TipSize=\"1\" TrunkSize=\"2\" BranchSize=\"1.2\" "
                                          "HeadExtend=\"2.5\" ZOffset=\"5\" BottomSize=\"4\" BaseThickness=\"1\" "
                                          "Density=\"5\" Angle=\"46\" RemoveInternal=\"false\"/></Projects>"));
    SupportParams back = someParams();
    ASSERT_TRUE(support::readSupportParamFile(path, back));
    EXPECT_EQ(back, support::presetSupportParams());

    // Values other than the presets, and the check box, come back as written.
    ASSERT_TRUE(support::writeSupportParamFile(path, someParams()));
    back = support::presetSupportParams();
    ASSERT_TRUE(support::readSupportParamFile(path, back));
    EXPECT_EQ(back, someParams());
    EXPECT_EQ(QDir(data.dir.path() + "/Norvane/Params").entryList(QDir::Files), QStringList{"supportParam.xml"});

    // No file: nothing changes.
    ASSERT_TRUE(QFile::remove(path));
    back = someParams();
    EXPECT_FALSE(support::readSupportParamFile(path, back));
    EXPECT_EQ(back, someParams());
}

TEST(SupportParamFile, missingAndGarbageValuesAreClampedAsTheBoxesWould) {
    const SupportParams presets = support::presetSupportParams();
    // Every attribute except those named in the case.
    auto fullExcept = [](const QByteArray& replaced) {
        QByteArray attrs;
        const char* defaults[] = {"TipSize=\"1\"", "TrunkSize=\"2\"", "BranchSize=\"1.2\"", "HeadExtend=\"2.5\"",
                                  "ZOffset=\"5\"", "BottomSize=\"4\"", "BaseThickness=\"1\"", "Density=\"5\"",
                                  "Angle=\"46\""};
        for (const char* d : defaults) {
            const QByteArray name = QByteArray(d).left(QByteArray(d).indexOf('='));
            if (!replaced.contains(name + "="))
                attrs += QByteArray(d) + " ";
        }
        return "<Projects><SupportParams " + attrs + replaced + "/></Projects>";
    };
    struct Case {
        const char* what;
        QByteArray text;
        P::Index index;
        double expected;
        bool removeInternal; // the read starts checked
    };
    const Case cases[] = {
        {"no angle: 0, clamped to 20", QByteArray(fullExcept("")).replace("Angle=\"46\" ", ""), P::Angle, 20.0, false},
        {"no density", QByteArray(fullExcept("")).replace("Density=\"5\" ", ""), P::Density, 1.0, false},
        {"no Z offset", QByteArray(fullExcept("")).replace("ZOffset=\"5\" ", ""), P::ZOffset, 0.0, false},
        {"tip 25 above its maximum", fullExcept("TipSize=\"25\""), P::TipSize, 10.0, false},
        {"negative head extend", fullExcept("HeadExtend=\"-3\""), P::HeadExtend, 0.5, false},
        {"text that is no number", fullExcept("Density=\"lots\""), P::Density, 1.0, false},
        {"not a number", fullExcept("TrunkSize=\"nan\""), P::TrunkSize, 0.01, false},
        {"overflowing number", fullExcept("ZOffset=\"1e999\""), P::ZOffset, 0.0, false},
        {"blank with spaces", fullExcept("BranchSize=\"  \""), P::BranchSize, 0.01, false},
        {"three decimals round to two", fullExcept("BottomSize=\"3.14159\""), P::BottomSize, 3.14, false},
        {"remove internal 1", fullExcept("RemoveInternal=\"1\""), P::TipSize, 1.0, true},
        {"remove internal 0", fullExcept("RemoveInternal=\"0\""), P::TipSize, 1.0, false},
        {"remove internal unknown text keeps it", fullExcept("RemoveInternal=\"yes\""), P::TipSize, 1.0, true},
        {"a later element wins, at any depth",
         "<Projects><SupportParams Angle=\"30\"/><More><SupportParams Angle=\"50\" Density=\"7\"/></More></Projects>",
         P::Angle, 50.0, false},
        {"an XML error after the element keeps what was read",
         "<Projects><SupportParams Angle=\"33\" Density=\"7\" RemoveInternal=\"true\"/><Broken attr=></Projects>",
         P::Angle, 33.0, true},
        {"an XML error before the element reads nothing",
         "<Projects><Broken <SupportParams Angle=\"33\"/></Projects>", P::Angle, 46.0, true},
        {"not XML at all", "\x01\x02 garbage", P::Angle, 46.0, true},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("supportParam.xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(writeText(path, c.text));
        SupportParams p = presets;
        p.removeInternal = true;
        EXPECT_TRUE(support::readSupportParamFile(path, p));
        EXPECT_DOUBLE_EQ(p[c.index], c.expected);
        EXPECT_EQ(p.removeInternal, c.removeInternal);
        for (int i = 0; i < P::kCount; ++i) {
            const support::SupportParamRange& r = support::supportParamRange(P::Index(i));
            EXPECT_GE(p.values[i], r.minimum);
            EXPECT_LE(p.values[i], r.maximum);
        }
    }
}

// Runs fn in a child that has given up root (root writes anywhere); its exit
// code, or fn() directly when not root.
int runUnprivileged(const std::function<int()>& fn) {
    if (geteuid() != 0)
        return fn();
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(100);
        _exit(fn());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SupportParamFile, readOnlyDataFolderKeepsTheOldFileAndShowsNothing) {
    DataFolder data;
    const QString path = support::supportParamFilePath();
    ASSERT_TRUE(support::writeSupportParamFile(path, someParams()));
    const QByteArray before = fileBytes(path);
    const QString params = QFileInfo(path).path();
    const auto readExec = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                          QFile::ReadOther | QFile::ExeOther;
    for (const QString& d : {data.dir.path(), data.dir.path() + "/Norvane"})
        QFile::setPermissions(d, readExec | QFile::WriteOwner);
    ASSERT_TRUE(QFile::setPermissions(params, readExec));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

    const int result = runUnprivileged([&] {
        const bool first = support::writeSupportParamFile(path, support::presetSupportParams());
        const bool second = support::writeSupportParamFile(path, support::presetSupportParams());
        SupportParams back = support::presetSupportParams();
        const bool readable = support::readSupportParamFile(path, back) && back == someParams();
        return (first ? 1 : 0) | (second ? 2 : 0) | (readable ? 0 : 8);
    });
    QFile::setPermissions(params, readExec | QFile::WriteOwner);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(QDir(params).entryList(QDir::Files | QDir::Hidden), QStringList{"supportParam.xml"});
}

// Generating supports on a full disk: the file keeps what it held, and no
// temporary file is left beside it.
TEST(SupportParamFile, aFullDiskKeepsTheOldFileWhole) {
    QTemporaryDir dir;
    const QString small = dir.filePath("small");
    testsupport::SmallDisk disk(small.toStdString(), 64);
    if (!disk.mounted())
        GTEST_SKIP() << testsupport::SmallDisk::skipReason();
    const QString path = small + "/supportParam.xml";
    ASSERT_TRUE(support::writeSupportParamFile(path, someParams()));
    const QByteArray before = fileBytes(path);
    disk.fill("filler");
    EXPECT_FALSE(support::writeSupportParamFile(path, support::presetSupportParams()));
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "supportParam.xml"}));
}
