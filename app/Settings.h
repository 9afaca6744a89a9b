#pragma once
// The settings store: fixed groups, each a file
// <config>/Norvane/Velar3D/<Group>.conf, with fixed key names addressed by
// index. Readers take the default the caller wants when a key is missing.
// All callers run on the GUI thread.
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

enum BooleanSetting {
    BOOL_MAIN_WINDOW_MAXIMIZED = 0,  // "MainWindowMaximized"
    BOOL_RIBBON_MINIMIZED,           // "RibbonMinimized"
    BOOL_OBJECT_COLOR_RANDOM,        // "ObjectColorRandom"
    BOOL_SHOW_SQUARES_ENABLE,        // "ShowSquaresEnable"
    BOOL_SHOW_WELCOME_PAGE_REPAIR,   // "ShowWelcomePageRepair"
    BOOL_SHOW_WELCOME_PAGE_PRINT,    // "ShowWelcomePagePrint"
    BOOL_KEEP_INCH_IMPORTING_OBJECT, // "KeepInchImportingObject"
    BOOL_CONVERT_OVER_SMALL,         // "ConvertOverSmall"
    BOOL_CONVERT_OVER_BIG,           // "ConvertOverBig"
    BOOLEAN_SETTING_COUNT
};

enum GeneralSetting {
    GENERAL_MAIN_WINDOW_SIZE = 0,      // "MainWindowSize" (QSize)
    GENERAL_PREFERENCES_SQUARE_WIDTH,  // "PreferencesSquareWidth"
    GENERAL_LANGUAGE,                  // "Language"
    GENERAL_FONT_SIZE,                 // "FontSize"
    GENERAL_OVER_SMALL_CONVERSION,     // "OverSmallConversion"
    GENERAL_OVER_BIG_CONVERSION,       // "OverBigConversion"
    GENERAL_ZOOM_SCALE,                // "ZoomScale"
    GENERAL_CURRENT_PRINTER,           // "CurrentPrinter": 0 Tarn, 1 Tarn 200, 2 Custom
    GENERAL_CURRENT_BUILD_SIZE_X,      // "CurrentBuildSizeX" (mm)
    GENERAL_CURRENT_BUILD_SIZE_Y,      // "CurrentBuildSizeY" (mm)
    GENERAL_CURRENT_BUILD_SIZE_Z,      // "CurrentBuildSizeZ" (mm)
    GENERAL_CALIB_PROFILE_INDEX,       // "CalibProfileIndex"
    GENERAL_CURA_ENGINE_PROFILE_INDEX, // "CuraEngineProfileIndex"
    GENERAL_HOLLOW_OFFSET,             // "HollowOffset"
    GENERAL_HOLLOW_DENSITY,            // "HollowDensity"
    GENERAL_CREATE_HOLE_RADIUS,        // "CreateHoleRadius"
    GENERAL_CREATE_HOLE_TAPER,         // "CreateHoleTaper"
    GENERAL_SETTING_COUNT
};

enum PathSetting {
    PATH_CURRENT_MACHINE_PATH = 0, // "CurrentMachinePath"
    PATH_DEFAULT_MACHINE,          // "DefaultMachine"
    PATH_MACHINES_LIBRARY,         // "MachinesLibrary" (computed folder)
    PATH_MACHINES,                 // "Machines" (computed folder)
    PATH_MATERIALS,                // "Materials" (computed folder)
    PATH_CURRENT_SUPPORT,          // "CurrentSupport"
    PATH_SUPPORTS,                 // "Supports" (computed folder)
    PATH_PRV,                      // "PRV" (computed folder)
    PATH_MANUFACTURER,             // "Manufacturer" (computed folder)
    PATH_EXPORT_SLICE,             // "ExportSlice"
    PATH_IMPORTED_OBJECT,          // "ImportedObject": the last import folder
    PATH_OPENED_PROJECT,           // "OpenedProject"
    PATH_SAVED_PROJECT,            // "SavedProject"
    PATH_RECENT_OBJECTS,           // "RecentObjects" (QStringList)
    PATH_RECENT_PROJECTS,          // "RecentProjects"
    PATH_SAVED_OBJECTS,            // "SavedObjects"
    PATH_SAVED_GCODE,              // "SavedGcode"
    PATH_SETTING_COUNT
};

enum DialogPositionSetting {
    DIALOG_POS_MAIN_WINDOW = 0, // "PosMainWindow" (QPoint)
};

// Booleans group.
bool getBoolSetting(BooleanSetting key, bool def);
void setBoolSetting(BooleanSetting key, bool value);

// General group.
int getGeneralInt(GeneralSetting key, int def);
void setGeneralInt(GeneralSetting key, int value);
double getGeneralDouble(GeneralSetting key, double def);
void setGeneralDouble(GeneralSetting key, double value);
// The stored size, or an invalid size (-1 x -1) when missing.
QSize getGeneralSize(GeneralSetting key);
void setGeneralSize(GeneralSetting key, QSize size);
bool hasGeneralSetting(GeneralSetting key);

// Paths group. For the computed folders (MachinesLibrary, Machines,
// Materials, Supports, PRV, Manufacturer) the stored value and def are
// ignored: the folder under getVersionDataDir is created when missing and
// returned. Every other key gives its stored text, else def.
QString getPathSetting(PathSetting key, QString def);
void setPathSetting(PathSetting key, QString value);
// Where a file dialog starts: the folder stored under key (the folder of the
// file, for keys that keep a file) while it exists, else the user's home
// folder. Always an existing absolute folder.
QString dialogStartFolder(PathSetting key);
// Replaces *out with the stored list, or with an empty list when missing.
void getPathList(PathSetting key, QStringList* out);
void setPathList(PathSetting key, QStringList list);

// Dialogs Position group: for key 0 the stored point, else (0, 0). rect is not used.
QPoint getDialogPosition(int key, const QRect& rect);
void setDialogPosition(int key, QPoint pos);

// The base of the computed folders: <data base>/Norvane/2.2.1/ (always ends with a slash).
QString getVersionDataDir();
