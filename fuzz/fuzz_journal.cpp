// The roll-forward of an interrupted update on any journal bytes, in a
// program folder of old files, staged bodies, a folder and a body that is a
// link leading out of it. Whatever the journal says, the outcome is either the
// folder as it was (an unreadable journal is only removed) or every listed
// rename done in order, with the journal gone only once all are; a rename
// that cannot be done stops there and keeps the journal. Nothing outside the
// folder changes.

#include "common/replacejournal.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

// Name -> what it is: "file:" + content, "dir", or "link:" + where it points.
using Snapshot = QMap<QString, QByteArray>;

Snapshot snapshot(const QString &folder)
{
    Snapshot all;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                             QDir::NoDotAndDotDot)) {
        const QFileInfo info(dir.filePath(name));
        QFile file(info.filePath());
        if (info.isSymLink())
            all.insert(name, "link:" + QFile::encodeName(info.symLinkTarget()));
        else if (info.isDir())
            all.insert(name, "dir");
        else
            all.insert(name, "file:" + (file.open(QIODevice::ReadOnly) ? file.readAll() : "?"));
    }
    return all;
}

void check(bool holds)
{
    if (!holds)
        std::abort();
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir world;
    const QString folder = world.filePath(QStringLiteral("program"));
    const QString outside = world.filePath(QStringLiteral("outside.txt"));
    QDir(folder).removeRecursively();
    check(QDir().mkpath(folder + QStringLiteral("/Data")));
    write(outside, "outside");
    for (const char *name : {"Mosalune.exe", "ReadMe.txt", "mosalune-aaaaaa.part",
                             "mosalune-bbbbbb.part", "mosalune-cccccc.part"})
        write(QDir(folder).filePath(QString::fromLatin1(name)), QByteArray("content of ") + name);
    check(QFile::link(outside, QDir(folder).filePath(QStringLiteral("mosalune-llllll.part"))));
    const QByteArray journal(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    write(QDir(folder).filePath(common::replaceJournalName), journal);
    const Snapshot before = snapshot(folder);
    const Snapshot worldBefore = snapshot(world.path());

    const common::RollForward result = common::rollForwardReplace(folder);

    // What should have happened, worked out on the snapshot.
    Snapshot expected = before;
    common::RollForward expectedResult = common::RollForward::Dropped;
    if (const auto moves = common::readReplaceJournal(journal)) {
        expectedResult = common::RollForward::Finished;
        for (const common::ReplaceMove &move : *moves) {
            if (!expected.contains(move.staged))
                continue;
            if (!expected.value(move.staged).startsWith("file:")
                || expected.value(move.target) == "dir") {
                expectedResult = common::RollForward::Failed;
                break;
            }
            expected.insert(move.target, expected.take(move.staged));
        }
    }
    if (expectedResult != common::RollForward::Failed)
        expected.remove(common::replaceJournalName);
    check(result == expectedResult);
    check(snapshot(folder) == expected);
    check(snapshot(world.path()) == worldBefore);
    return 0;
}
