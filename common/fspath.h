#pragma once

#include <QFile>
#include <QString>

#include <filesystem>

namespace common {

// A Qt path as the standard library's file system functions take it: wide on
// Windows, the file system's own encoding elsewhere.
inline std::filesystem::path toFsPath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace common
