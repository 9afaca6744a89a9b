#include "app/Settings.h"

#include "app/Constants.h"
#include "app/IniText.h"
#include "app/Platform.h"
#include "app/SettingsStore.h"
#include "app/WholeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>
#include <array>

namespace {

const std::array<const char*, BOOLEAN_SETTING_COUNT> booleanKeys = {
    "MainWindowMaximized",     "RibbonMinimized",       "ObjectColorRandom",
    "ShowSquaresEnable",       "ShowWelcomePageRepair", "ShowWelcomePagePrint",
    "KeepInchImportingObject", "ConvertOverSmall",      "ConvertOverBig"};

const std::array<const char*, GENERAL_SETTING_COUNT> generalKeys = {
    "MainWindowSize",         "PreferencesSquareWidth", "Language",          "FontSize",
    "OverSmallConversion",    "OverBigConversion",      "ZoomScale",         "CurrentPrinter",
    "CurrentBuildSizeX",      "CurrentBuildSizeY",      "CurrentBuildSizeZ", "CalibProfileIndex",
    "CuraEngineProfileIndex", "HollowOffset",           "HollowDensity",     "CreateHoleRadius",
    "CreateHoleTaper"};

const std::array<const char*, PATH_SETTING_COUNT> pathKeys = {
    "CurrentMachinePath", "DefaultMachine", "MachinesLibrary", "Machines",
    "Materials",          "CurrentSupport", "Supports",        "PRV",
    "Manufacturer",       "ExportSlice",    "ImportedObject",  "OpenedProject",
    "SavedProject",       "RecentObjects",  "RecentProjects",  "SavedObjects",
    "SavedGcode"};

const char* const dialogPositionKey = "PosMainWindow";

template <size_t N> QString keyName(const std::array<const char*, N>& keys, int index) {
    Q_ASSERT(index >= 0 && static_cast<size_t>(index) < N);
    if (index < 0 || static_cast<size_t>(index) >= N)
        return QString();
    return QString::fromLatin1(keys[static_cast<size_t>(index)]);
}

// The keys and values of a settings file as QSettings reads them; false when
// the file exists but could not be read or parsed.
bool readSettingsFile(const QString& path, QVariantMap* values) {
    values->clear();
    if (!QFileInfo::exists(path))
        return true;
    const QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return false;
    for (const QString& key : file.allKeys())
        values->insert(key, file.value(key));
    return true;
}

SettingsGroupStore& booleans() {
    return settingsGroup(SettingsGroup::Booleans);
}
SettingsGroupStore& general() {
    return settingsGroup(SettingsGroup::General);
}
SettingsGroupStore& paths() {
    return settingsGroup(SettingsGroup::Paths);
}
SettingsGroupStore& dialogPositions() {
    return settingsGroup(SettingsGroup::DialogsPosition);
}

} // namespace

QString settingsGroupName(SettingsGroup group) {
    switch (group) {
    case SettingsGroup::Booleans:
        return QStringLiteral("Booleans");
    case SettingsGroup::Colors:
        return QStringLiteral("Colors");
    case SettingsGroup::DialogsPosition:
        return QStringLiteral("Dialogs Position");
    case SettingsGroup::General:
        return QStringLiteral("General");
    case SettingsGroup::Paths:
        return QStringLiteral("Paths");
    }
    return QString();
}

SettingsGroupStore::SettingsGroupStore(QString path) : m_path(std::move(path)) {
    readSettingsFile(m_path, &m_values);
}

QVariant SettingsGroupStore::value(const QString& key, const QVariant& def) const {
    return m_values.value(key, def);
}

bool SettingsGroupStore::setValue(const QString& key, const QVariant& value) {
    m_values.insert(key, value);
    m_changed.insert(key);
    return save();
}

bool SettingsGroupStore::clear() {
    m_values.clear();
    m_changed.clear();
    return write();
}

bool SettingsGroupStore::save() {
    // What another copy of the program wrote since stays, unless this run
    // wrote the same key.
    QVariantMap merged;
    if (readSettingsFile(m_path, &merged)) {
        for (const QString& key : m_changed)
            merged.insert(key, m_values.value(key));
        m_values = merged;
    }
    return write();
}

bool SettingsGroupStore::write() {
    QDir().mkpath(QFileInfo(m_path).path());
    return writeWholeFileLogged(m_path, iniText(m_values), "Settings", &m_failureLogged);
}

SettingsGroupStore& settingsGroup(SettingsGroup group) {
    // A slash (not a backslash) between application and group makes each
    // group its own file under <config>/Norvane/Velar3D/, where QSettings
    // keeps its native format.
    auto make = [](SettingsGroup g) {
        const QSettings place(QSettings::NativeFormat, QSettings::UserScope, COMPANY_NAME,
                              APP_NAME + QLatin1Char('/') + settingsGroupName(g));
        return new SettingsGroupStore(place.fileName());
    };
    static SettingsGroupStore* const groups[] = {make(SettingsGroup::Booleans), make(SettingsGroup::Colors),
                                                 make(SettingsGroup::DialogsPosition), make(SettingsGroup::General),
                                                 make(SettingsGroup::Paths)};
    return *groups[static_cast<int>(group)];
}

bool getBoolSetting(BooleanSetting key, bool def) {
    return booleans().value(keyName(booleanKeys, key), def).toBool();
}

void setBoolSetting(BooleanSetting key, bool value) {
    booleans().setValue(keyName(booleanKeys, key), value);
}

int getGeneralInt(GeneralSetting key, int def) {
    return general().value(keyName(generalKeys, key), def).toInt();
}

void setGeneralInt(GeneralSetting key, int value) {
    general().setValue(keyName(generalKeys, key), value);
}

double getGeneralDouble(GeneralSetting key, double def) {
    return general().value(keyName(generalKeys, key), def).toDouble();
}

void setGeneralDouble(GeneralSetting key, double value) {
    general().setValue(keyName(generalKeys, key), value);
}

QSize getGeneralSize(GeneralSetting key) {
    return general().value(keyName(generalKeys, key)).toSize();
}

void setGeneralSize(GeneralSetting key, QSize size) {
    general().setValue(keyName(generalKeys, key), size);
}

bool hasGeneralSetting(GeneralSetting key) {
    return general().contains(keyName(generalKeys, key));
}

QString getVersionDataDir() {
    return platform::applicationDataBase() + QLatin1Char('/') + COMPANY_NAME + QLatin1Char('/') +
           APP_VERSION + QLatin1Char('/');
}

QString getPathSetting(PathSetting key, QString def) {
    QString folder;
    switch (key) {
    case PATH_MACHINES_LIBRARY:
    case PATH_MACHINES:
    case PATH_MATERIALS:
    case PATH_MANUFACTURER:
        folder = QStringLiteral("%1/General/%2").arg(getVersionDataDir(), keyName(pathKeys, key));
        break;
    case PATH_SUPPORTS:
    case PATH_PRV:
        folder = QStringLiteral("%1/%2/%3").arg(getVersionDataDir(), APP_NAME, keyName(pathKeys, key));
        break;
    default:
        return paths().value(keyName(pathKeys, key), def).toString();
    }
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    return folder;
}

void setPathSetting(PathSetting key, QString value) {
    paths().setValue(keyName(pathKeys, key), value);
}

QString dialogStartFolder(PathSetting key) {
    const QString stored = getPathSetting(key, QString());
    if (!stored.isEmpty()) {
        const QFileInfo info(stored);
        // A relative or empty text would start in whatever folder the program
        // was launched from.
        const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
        if (info.isAbsolute() && QFileInfo(folder).isDir())
            return QDir::cleanPath(folder);
    }
    return QDir::homePath();
}

void getPathList(PathSetting key, QStringList* out) {
    *out = paths().value(keyName(pathKeys, key)).toStringList();
}

void setPathList(PathSetting key, QStringList list) {
    paths().setValue(keyName(pathKeys, key), list);
}

QPoint getDialogPosition(int key, const QRect& rect) {
    Q_UNUSED(rect);
    if (key != DIALOG_POS_MAIN_WINDOW)
        return QPoint(0, 0);
    return dialogPositions().value(QString::fromLatin1(dialogPositionKey), QPoint(0, 0)).toPoint();
}

void setDialogPosition(int key, QPoint pos) {
    if (key != DIALOG_POS_MAIN_WINDOW)
        return;
    dialogPositions().setValue(QString::fromLatin1(dialogPositionKey), pos);
}
