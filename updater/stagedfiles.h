#pragma once

#include <QList>
#include <QString>

namespace mslupdate {

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

    // Takes the complete new content of folder/fileName, a temporary file
    // that already lies in folder (so that putting it in place is a rename);
    // from then on it is removed unless committed. False, with *error set,
    // when there is no such file there.
    bool adopt(const QString &fileName, const QString &contentPath, QString *error = nullptr);

    // Moves every staged file over its target, in the order adopted, each
    // by one rename. A file that replaces another takes that one's
    // permissions; a new program file (".exe") is made executable. Every
    // target is checked before the first rename, so a target that cannot be
    // replaced fails the whole update with nothing touched. The renames are
    // journalled (common/replacejournal.h): should one fail, or the program
    // be stopped among them, the files stay staged under the journal and the
    // next start of either program finishes the replace.
    bool commit(QString *error = nullptr);

    // Removes every staged file; the targets stay as they are.
    void discard();

    int count() const { return int(m_entries.size()); }

    // Removes temporary files that an updater killed during its download
    // left in folder. Only one updater runs per folder, so none of them can
    // still be in use; those that a replace journal still lists are kept.
    static void removeLeftovers(const QString &folder);

private:
    struct Entry {
        QString target;
        QString staged;
    };
    QString m_folder;
    QList<Entry> m_entries;
};

} // namespace mslupdate
