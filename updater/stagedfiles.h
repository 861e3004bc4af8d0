#pragma once

#include <QList>
#include <QString>

namespace mslupdate {

// The name a listed file is written under in the program folder: the
// updater's own file cannot be replaced while it runs, so its new copy waits
// beside it for the main program to move it in.
QString targetFileName(const QString &listedName);

// The files of one update, each held under a temporary name beside its
// target until every one has arrived. Only then are they moved into place,
// so a failure at any point leaves the installation exactly as it was
// instead of a new program beside old companions.
class StagedFiles
{
public:
    explicit StagedFiles(QString folder);
    // Removes whatever was staged and not committed.
    ~StagedFiles();
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    QString folder() const { return m_folder; }

    // Reserves a fresh temporary file beside folder/fileName for its new
    // content and returns its path; the caller fills it (by rename). Empty,
    // with *error set, when the folder does not take a new file.
    QString reserve(const QString &fileName, QString *error = nullptr);

    // Moves every staged file over its target, in the order reserved, each
    // by one rename. A file that replaces another takes that one's
    // permissions; a new program file (".exe") is made executable. Every
    // target is checked before the first rename, so a target that cannot be
    // replaced fails the whole update with nothing touched.
    bool commit(QString *error = nullptr);

    // Removes every staged file; the targets stay as they are.
    void discard();

    int count() const { return int(m_entries.size()); }
    // The temporary paths still held, in order.
    QStringList stagedPaths() const;

private:
    struct Entry {
        QString target;
        QString staged;
    };
    QString m_folder;
    QList<Entry> m_entries;
};

} // namespace mslupdate
