#pragma once
// The table of the file types the program names, read by index.
#include <QObject>
#include <QString>
#include <array>

struct FileTypeEntry {
    QString extension;   // with its leading dot
    QString description; // translated when the table is built (before any translator exists)
};

inline const std::array<FileTypeEntry, 10> fileTypeTable = {{
    {QStringLiteral(".stl"), QObject::tr("STL - STereoLithography Files")},
    {QStringLiteral(".ply"), QObject::tr("PLY - Stanford Polygon Files")},
    {QStringLiteral(".obj"), QObject::tr("OBJ - Wavefront Object Files")},
    {QStringLiteral(".3ds"), QObject::tr("3DS -  3D Studio file")},
    {QStringLiteral(".slc"), QObject::tr("SLC - 3D Systems Layer Contour Files")},
    {QStringLiteral(".vsg"), QObject::tr("Velar Geometry")},
    {QStringLiteral(".vpf"), QObject::tr("Velar Project Files")},
    {QStringLiteral(".xml"), QObject::tr("XML Files")},
    {QStringLiteral(".zip"), QObject::tr("ZIP Files")},
    {QStringLiteral(".rar"), QObject::tr("RAR Files")},
}};

// Named rows of fileTypeTable used by the project code.
enum FileTypeIndex { FILE_TYPE_VSG = 5, FILE_TYPE_VPF = 6, FILE_TYPE_XML = 7 };

// path with extension (with its dot) appended when its file name has none,
// as a save dialog adds the chosen type's; an empty path stays empty.
inline QString withDefaultExtension(const QString& path, const QString& extension) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty() || name.contains(QLatin1Char('.')))
        return path;
    return path + extension;
}

// A copy of the extension of row index (0 to 9); an empty text for any other index.
inline QString fileTypeExtension(int index) {
    if (index < 0 || index >= static_cast<int>(fileTypeTable.size()))
        return QString();
    return fileTypeTable[static_cast<size_t>(index)].extension;
}
