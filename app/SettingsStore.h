#pragma once
// The settings store's group objects. Only the accessors of Settings.h and
// tests that check what reaches the files use this header.
#include <QSettings>
#include <QString>

enum class SettingsGroup { Booleans, Colors, DialogsPosition, General, Paths };

// The group's name as it appears in the file name: "Booleans", "Colors",
// "Dialogs Position", "General", "Paths".
QString settingsGroupName(SettingsGroup group);
// The group's store, built on first use (organisation "Norvane", application
// "Velar3D/<Group>", native format, user scope) and kept until exit.
QSettings& settingsGroup(SettingsGroup group);
