#pragma once

// The processes a test has started, and what they started in turn, as Linux
// lists them in /proc.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>

// The command lines of the processes whose parent is `pid`.
inline QStringList childrenOf(qint64 pid)
{
    QStringList found;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dir = it.next();
        QFile stat(dir + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (name) state ppid ...; the name may hold spaces and brackets.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() < 2 || rest.at(1).toLongLong() != pid)
            continue;
        QFile cmdline(dir + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly))
            found << QString::fromLocal8Bit(cmdline.readAll().replace('\0', ' ').trimmed());
    }
    return found;
}
