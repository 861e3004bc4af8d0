#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtTest>

#include <sys/stat.h>

namespace files {

// The whole content of a file, empty when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the whole file with the given permissions; a failure fails the
// calling test.
inline void writeFile(const QString &path, const QByteArray &data, mode_t mode = 0644)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(data), data.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// The permission bits of a file, 0 when there is none.
inline mode_t modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

} // namespace files
