#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The record that makes an update's replace step all or nothing. The files of
// an update are put in place by one rename each; a program killed between two
// renames would leave new files beside old ones. So before the first rename
// the list of renames is written, synced, beside them, and removed after the
// last. Whichever program starts next (the main program or the updater) finds
// a journal left behind and carries out every rename it lists, so the folder
// ends up with every new file, and never with a mixture.
namespace common {

// One rename: bare file names in the program folder.
struct ReplaceMove
{
    QString staged; // the downloaded body, "mosalune-XXXXXX.part"
    QString target; // the file it replaces or adds
    bool operator==(const ReplaceMove &) const = default;
};

inline const QString replaceJournalName = QStringLiteral("mosalune-replace.journal");

// Far more renames than any update has (a list holds at most
// kMaxFileEntries); a journal listing more is not one of ours.
inline constexpr int kMaxJournalMoves = 4096;

// The journal's bytes for moves, and back. Reading gives nothing for anything
// but a whole journal: cut short, a name that is not a plain file name in the
// folder, a body not named as the transfer control names them, a name twice.
QByteArray replaceJournalBytes(const QList<ReplaceMove> &moves);
std::optional<QList<ReplaceMove>> readReplaceJournal(const QByteArray &bytes);

// Writes the journal for moves into folder and syncs it and the folder, so
// that it survives a crash of the machine too. False (with *error set) when
// it cannot be written or a journal is already there; nothing is renamed
// then.
bool writeReplaceJournal(const QString &folder, const QList<ReplaceMove> &moves,
                         QString *error = nullptr);

// Carries out the moves in order (a body no longer there was moved already),
// syncs the folder and removes the journal. False (with *error set) when a
// rename fails; the journal then stays for the next start.
bool carryOutReplace(const QString &folder, const QList<ReplaceMove> &moves,
                     QString *error = nullptr);

enum class RollForward {
    NoJournal,  // nothing was left half done
    Finished,   // a journal was carried out to its end
    Dropped,    // an unreadable journal was removed; nothing renamed
    Failed,     // a journal is there and could not be carried out
};

// What a program calls at its start, before it uses any file of the folder.
RollForward rollForwardReplace(const QString &folder, QString *error = nullptr);

// The bodies that a journal in folder still needs (empty when there is none
// or it cannot be read): they are not leftovers.
QStringList journalBodies(const QString &folder);

// True for the names the transfer control gives its bodies.
bool isBodyFileName(const QString &name);

} // namespace common
