#include "SmallDisk.h"
#include "app/IniText.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/WholeFile.h"

#include <QColor>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Every test works on a private settings folder and data folder; the group
// stores are built once per process, so the folder is set before first use
// and the groups are emptied before each test.
class SettingsStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        configDir = std::make_unique<QTemporaryDir>();
        dataDir = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir->path());
        qputenv("XDG_DATA_HOME", dataDir->path().toUtf8());
    }
    static void TearDownTestSuite() {
        configDir.reset();
        dataDir.reset();
    }
    void SetUp() override {
        for (SettingsGroup g : {SettingsGroup::Booleans, SettingsGroup::Colors,
                                SettingsGroup::DialogsPosition, SettingsGroup::General, SettingsGroup::Paths})
            settingsGroup(g).clear();
    }

    // The value of key as it reached the group's file on disk.
    static QVariant valueInFile(const QString& group, const QString& key) {
        const QString file = configDir->path() + "/Norvane/Velar3D/" + group + ".conf";
        EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
        QSettings onDisk(file, QSettings::IniFormat);
        return onDisk.value(key);
    }

    static std::unique_ptr<QTemporaryDir> configDir;
    static std::unique_ptr<QTemporaryDir> dataDir;
};

std::unique_ptr<QTemporaryDir> SettingsStoreTest::configDir;
std::unique_ptr<QTemporaryDir> SettingsStoreTest::dataDir;

TEST_F(SettingsStoreTest, freshStoreGivesTheCallersDefaults) {
    EXPECT_FALSE(getGeneralSize(GENERAL_MAIN_WINDOW_SIZE).isValid());
    EXPECT_EQ(getGeneralSize(GENERAL_MAIN_WINDOW_SIZE), QSize(-1, -1));
    EXPECT_EQ(getDialogPosition(DIALOG_POS_MAIN_WINDOW, QRect()), QPoint(0, 0));
    QStringList list{"stale"};
    getPathList(PATH_RECENT_OBJECTS, &list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(getBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, true));
    EXPECT_FALSE(getBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, false));
    EXPECT_EQ(getGeneralInt(GENERAL_CURRENT_PRINTER, 0), 0);
    EXPECT_DOUBLE_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_Z, 180.0), 180.0);
    EXPECT_EQ(getPathSetting(PATH_IMPORTED_OBJECT, "fallback"), "fallback");
    EXPECT_FALSE(hasGeneralSetting(GENERAL_CURRENT_BUILD_SIZE_X));
}

TEST_F(SettingsStoreTest, writtenValuesReadBackAndLandInTheirGroupFile) {
    setBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, false);
    setGeneralInt(GENERAL_CURRENT_PRINTER, 2);
    setGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, 131.5);
    setGeneralSize(GENERAL_MAIN_WINDOW_SIZE, QSize(800, 600));
    setPathSetting(PATH_IMPORTED_OBJECT, QString::fromUtf8("/home/u/Modelle/Würfel"));
    setPathList(PATH_RECENT_OBJECTS, {"/a/one.stl", "/b/two.stl"});
    setDialogPosition(DIALOG_POS_MAIN_WINDOW, QPoint(12, 34));

    // Read back in the same run.
    EXPECT_FALSE(getBoolSetting(BOOL_MAIN_WINDOW_MAXIMIZED, true));
    EXPECT_EQ(getGeneralInt(GENERAL_CURRENT_PRINTER, 0), 2);
    EXPECT_DOUBLE_EQ(getGeneralDouble(GENERAL_CURRENT_BUILD_SIZE_X, 130.0), 131.5);
    EXPECT_TRUE(hasGeneralSetting(GENERAL_CURRENT_BUILD_SIZE_X));
    EXPECT_EQ(getGeneralSize(GENERAL_MAIN_WINDOW_SIZE), QSize(800, 600));
    EXPECT_EQ(getPathSetting(PATH_IMPORTED_OBJECT, QString()), QString::fromUtf8("/home/u/Modelle/Würfel"));
    QStringList list;
    getPathList(PATH_RECENT_OBJECTS, &list);
    EXPECT_EQ(list, QStringList({"/a/one.stl", "/b/two.stl"}));
    EXPECT_EQ(getDialogPosition(DIALOG_POS_MAIN_WINDOW, QRect(1, 2, 3, 4)), QPoint(12, 34));

    // And each under its exact key in its own group file, at once.
    EXPECT_EQ(valueInFile("Booleans", "MainWindowMaximized").toBool(), false);
    EXPECT_EQ(valueInFile("General", "CurrentPrinter").toInt(), 2);
    EXPECT_DOUBLE_EQ(valueInFile("General", "CurrentBuildSizeX").toDouble(), 131.5);
    EXPECT_EQ(valueInFile("General", "MainWindowSize").toSize(), QSize(800, 600));
    EXPECT_EQ(valueInFile("Paths", "ImportedObject").toString(), QString::fromUtf8("/home/u/Modelle/Würfel"));
    EXPECT_EQ(valueInFile("Paths", "RecentObjects").toStringList(),
              QStringList({"/a/one.stl", "/b/two.stl"}));
    EXPECT_EQ(valueInFile("Dialogs Position", "PosMainWindow").toPoint(), QPoint(12, 34));
    // No file named after a backslash-joined group.
    EXPECT_TRUE(QDir(configDir->path() + "/Norvane").entryList({"*\\*"}).isEmpty());
}

TEST_F(SettingsStoreTest, computedFoldersIgnoreStoredValueAndDefaultAndAreCreated) {
    const QString base = getVersionDataDir();
    EXPECT_EQ(base, dataDir->path() + "/Norvane/2.2.1/");
    struct Case {
        PathSetting key;
        QString expected;
    };
    const Case cases[] = {
        {PATH_MACHINES_LIBRARY, base + "/General/MachinesLibrary"},
        {PATH_MACHINES, base + "/General/Machines"},
        {PATH_MATERIALS, base + "/General/Materials"},
        {PATH_MANUFACTURER, base + "/General/Manufacturer"},
        {PATH_SUPPORTS, base + "/Velar3D/Supports"},
        {PATH_PRV, base + "/Velar3D/PRV"},
    };
    for (const Case& c : cases) {
        setPathSetting(c.key, "/stored/elsewhere");
        EXPECT_EQ(getPathSetting(c.key, "/some/default"), c.expected);
        EXPECT_TRUE(QDir(c.expected).exists()) << c.expected.toStdString();
        EXPECT_EQ(getPathSetting(c.key, QString()), c.expected);
    }
    EXPECT_TRUE(getPathSetting(PATH_SUPPORTS, QString()).endsWith("/2.2.1//Velar3D/Supports"));
}

} // namespace

namespace {

// The bytes QSettings itself writes for values in its INI format.
QByteArray qsettingsText(const QVariantMap& values) {
    QTemporaryDir dir;
    const QString path = dir.filePath("oracle.conf");
    {
        QSettings file(path, QSettings::IniFormat);
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            file.setValue(it.key(), it.value());
    }
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

// The group files are written by the store, not by QSettings: each value must
// come out as QSettings writes it, so that the files read back there and in
// older versions of the program.
TEST(SettingsFileText, isWhatQSettingsWritesForEveryKindOfValue) {
    QVariantMap values;
    values["MainWindowSize"] = QSize(800, 600);
    values["PosMainWindow"] = QPoint(-12, 34);
    values["Area"] = QRect(1, 2, 3, 4);
    values["Maximized"] = false;
    values["CurrentPrinter"] = 2;
    values["CurrentBuildSizeX"] = 131.5;
    values["Tiny"] = 1e-7;
    values["Folder"] = QString::fromUtf8("/home/u/Modelle/W\xc3\xbcrfel, \"neu\"; a=b \\ \xe2\x82\xac");
    values["Blanks"] = QStringLiteral(" padded ");
    values["At"] = QStringLiteral("@Size(1 2)");
    values["HexAfterEscape"] = QString::fromUtf8("\xc3\xa9" "abc\t1\x01" "f");
    values["Lost"] = QString(QChar(0xDCE9)) + QStringLiteral("lat");
    values["RecentObjects"] = QStringList{"/a/one.stl", "/b/t,wo.stl", "@x"};
    values["OneRecent"] = QStringList{"/a/one.stl"};
    values["NoRecent"] = QStringList{};
    values["Bytes"] = QByteArray("\x00\x01\xff", 3);
    values["Nothing"] = QVariant();
    values["Colour"] = QColor(10, 20, 30);
    values["Grouped/Inner key"] = 5;
    values["General/x"] = 1;
    const QByteArray ours = iniText(values);
    EXPECT_EQ(ours.toStdString(), qsettingsText(values).toStdString());

    // And it reads back through QSettings as written.
    QTemporaryDir dir;
    const QString path = dir.filePath("ours.conf");
    ASSERT_TRUE(writeWholeFile(path, ours));
    const QSettings back(path, QSettings::IniFormat);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        if (it.value().userType() == QMetaType::QStringList) {
            EXPECT_EQ(back.value(it.key()).toStringList(), it.value().toStringList());
        } else {
            EXPECT_EQ(back.value(it.key()), it.value());
        }
    }
}

// A settings write on a full disk keeps the file as it was (QSettings' own
// writing left it empty), and the value still holds for the rest of the run.
TEST(SettingsFileText, aFullDiskKeepsTheGroupFileWhole) {
    QTemporaryDir dir;
    const QString small = dir.filePath("small");
    testsupport::SmallDisk disk(small.toStdString(), 64);
    if (!disk.mounted())
        GTEST_SKIP() << testsupport::SmallDisk::skipReason();
    const QString path = small + "/General.conf";
    SettingsGroupStore store(path);
    ASSERT_TRUE(store.setValue("CurrentPrinter", 1));
    ASSERT_TRUE(store.setValue("MainWindowSize", QSize(800, 600)));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    disk.fill("filler");
    EXPECT_FALSE(store.setValue("CurrentPrinter", 2));
    EXPECT_EQ(store.value("CurrentPrinter").toInt(), 2);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "General.conf"}));
    // A new store reads the old values.
    SettingsGroupStore reopened(path);
    EXPECT_EQ(reopened.value("CurrentPrinter").toInt(), 1);
    EXPECT_EQ(reopened.value("MainWindowSize").toSize(), QSize(800, 600));
}
