#include "fileIo/PathEncoding.h"

#include <QFile>
#include <QString>

namespace fileIo {

std::string encodePath(const std::wstring& path) {
    return QFile::encodeName(QString::fromStdWString(path)).toStdString();
}

} // namespace fileIo
