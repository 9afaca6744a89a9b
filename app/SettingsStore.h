#pragma once
// The settings store's groups. Only the accessors of Settings.h and tests that
// check what reaches the files use this header.
//
// Each group is one file <config>/Norvane/Velar3D/<Group>.conf in QSettings'
// INI layout (the place QSettings gives the native format in user scope). The
// file is read through QSettings when the group is first used; every change
// writes it again at once, whole, through writeWholeFile, so that a write that
// fails (a full disk) keeps the previous file instead of leaving it empty as
// QSettings' own writing would. Keys another running copy of the program wrote
// meanwhile are kept: a write starts from the file as it is on disk.
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantMap>

enum class SettingsGroup { Booleans, Colors, DialogsPosition, General, Paths };

class SettingsGroupStore {
public:
    explicit SettingsGroupStore(QString path);

    QVariant value(const QString& key, const QVariant& def = QVariant()) const;
    bool contains(const QString& key) const { return m_values.contains(key); }
    // Stores value and writes the file; false when the file could not be
    // written (the value is kept for this run, the failure logged once).
    bool setValue(const QString& key, const QVariant& value);
    // Removes every key, also from the file.
    bool clear();
    const QString& filePath() const { return m_path; }

private:
    bool save();
    bool write();

    QString m_path;
    QVariantMap m_values;
    QSet<QString> m_changed; // keys this run wrote
    bool m_failureLogged = false;
};

// The group's name as it appears in the file name: "Booleans", "Colors",
// "Dialogs Position", "General", "Paths".
QString settingsGroupName(SettingsGroup group);
// The group's store, built on first use and kept until exit.
SettingsGroupStore& settingsGroup(SettingsGroup group);
