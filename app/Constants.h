#pragma once
// Program-wide constants: identity, file extensions, descriptor titles, unit
// texts and the paths of the embedded resources. Inline variables give one
// shared, read-only copy per program.
#include <QRegExp>
#include <QString>

// Symbols and unit texts.
inline const QString SYM_MIDDOT = QString(QChar(0x00B7));
inline const QString SYM_DEGREE = QString(QChar(0x00B0));
inline const QString SYM_MICRO = QString(QChar(0x03BC));
inline const QString SYM_SUBARROW = QString(QChar(0x21B3));
inline const QString SYM_SQRT = QString(QChar(0x221A));
inline const QString SYM_TIMES = QString(QChar(0x00D7));
inline const QString SYM_CIRCLED_C = QString(QChar(0x00A9));
inline const QString SYM_REGISTERED = QString(QChar(0x00AE));
inline const QString SYM_TRADEMARK = QString(QChar(0x2122));
inline const QString UNIT_UM = QStringLiteral("%1m").arg(SYM_MICRO);
inline const QString UNIT_UM_PER_S = QStringLiteral("%1/s").arg(UNIT_UM);
// A one-character text holding U+0000: as a progress text it means "keep the
// text shown so far". It is neither null nor empty.
inline const QString NUL_STRING = QString(QChar(0x0000));

// Identity of the program.
inline const QString COMPANY_NAME = QStringLiteral("Norvane");
inline const QString APP_VERSION = QStringLiteral("2.2.1");
inline const QString APP_NAME = QStringLiteral("Velar3D");

// Names and patterns.
inline const QRegExp INVALID_FILENAME_CHARS = QRegExp(QStringLiteral("[/\\:*?\"<>|]"));
inline const QString DEFAULT_OBJECT_NAME = QStringLiteral("NO_NAME");

// Project descriptor and file extensions.
inline const QString PROJECT_DESC_TITLE = QStringLiteral("Velar Project Description");
inline const QString SUPPORT_DESC_TITLE = QStringLiteral("Velar Project Support Description");
inline const QString PROJECT_DESC_VERSION = QStringLiteral("1.0");
inline const QString EXT_VFG = QStringLiteral(".vfg");
inline const QString EXT_VFGEXTR = QStringLiteral(".vfgextr");
inline const QString EXT_VSP = QStringLiteral(".vsp");
inline const QString EXT_VCP = QStringLiteral(".vcp");

// Language.
inline const QString DEFAULT_LANGUAGE_NAME = QStringLiteral("English (default)");
inline const QString DEFAULT_LANGUAGE = QStringLiteral("en");

// Embedded resources.
inline const QString ICON_APP = QStringLiteral(":/MainWindow/Resources/Velar.ico");
inline const QString ICON_IMPORT_OBJECT = QStringLiteral(":/MainWindow/Resources/toolbar/ImportObject.png");
inline const QString ICON_TRANSLATE = QStringLiteral(":/MainWindow/Resources/toolbar/translate_32.png");
inline const QString ICON_ROTATE = QStringLiteral(":/MainWindow/Resources/toolbar/rotate_32.png");
inline const QString ICON_RESCALE = QStringLiteral(":/MainWindow/Resources/toolbar/rescale_32.png");
inline const QString ICON_GENERATE_SUPPORT =
    QStringLiteral(":/MainWindow/Resources/toolbar/generateSupport.png");
inline const QString ICON_EXPORT = QStringLiteral(":/MainWindow/Resources/toolbar/Export.png");
inline const QString ICON_PRINT = QStringLiteral(":/MainWindow/Resources/toolbar/Print.png");
inline const QString ICON_REMOVE = QStringLiteral(":/MainWindow/Resources/toolbar/remove.png");
inline const QString ICON_RECENT_OBJECT = QStringLiteral(":/MainWindow/Resources/toolbar/recentObject.png");
inline const QString CURSOR_ROTATE = QStringLiteral(":/cursors/Resources/cursor/object_rotate_left.png");
inline const QString CURSOR_RESCALE = QStringLiteral(":/cursors/Resources/cursor/object_rescale.png");
inline const QString CURSOR_PANNING = QStringLiteral(":/cursors/Resources/cursor/panning_m_24.png");
inline const QString CURSOR_ADD_SUPPORT = QStringLiteral(":/cursors/Resources/cursor/add_column_support.png");
inline const QString CURSOR_DELETE_SUPPORT =
    QStringLiteral(":/cursors/Resources/cursor/delete_column_support.png");
inline const QString IMAGE_CLOSE = QStringLiteral(":/Velar3D/Resources/Dialog/close.png");
inline const QString IMAGE_SCALE_DIALOG = QStringLiteral(":/Velar3D/Resources/Dialog/ScaleDialog.png");
inline const QString BG_BLACK_GRADIENT = QStringLiteral(":/bkground/Resources/bkground/black_gradient.png");
inline const QString BG_RADIAL_GRADIENT = QStringLiteral(":/bkground/Resources/bkground/RadGrad.png");
inline const QString BG_STONE_GRAPHITE = QStringLiteral(":/bkground/Resources/bkground/stone_graphite.png");
inline const QString BG_STONE_GRAPHITE_TARN =
    QStringLiteral(":/bkground/Resources/bkground/stone_graphite_tarn.png");
inline const QString BG_STONE_GRAPHITE_TARN_200 =
    QStringLiteral(":/bkground/Resources/bkground/stone_graphite_tarn_200.png");
inline const QString PLATFORM_IMAGE = QStringLiteral(":/bkground/Resources/bkground/platformBgr.png");
inline const QString PLATFORM_IMAGE_TARN =
    QStringLiteral(":/bkground/Resources/bkground/platformBgr_tarn.png");
inline const QString PLATFORM_IMAGE_TARN_200 =
    QStringLiteral(":/bkground/Resources/bkground/platformBgr_tarn200.png");
inline const QString LANGUAGES_DIR = QStringLiteral("/languages");

// Makes the embedded resources (icons, cursors, images) of the static
// library available; call once before the first resource path is loaded.
// Further calls do nothing.
void initResources();
