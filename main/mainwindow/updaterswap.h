#pragma once

#include "common/programfiles.h"

#include <QString>

// The second half of the updater hand-off: the updater leaves a new copy of
// itself beside the old one, and the main program puts it in place once the
// updater's window is gone.
namespace mosalune {

inline const QString &updaterFileName = common::updaterFileName;
inline const QString &newUpdaterFileName = common::newUpdaterFileName;
inline const QString &updaterWindowTitle = common::updaterWindowTitle;

enum class SwapResult {
    Swapped,     // the new updater is now "MSLUpdate.exe"
    NotPossible, // one of the two is missing or not a plain file: nothing was touched
    Failed,      // the rename failed: both files are as they were
};

// Moves folder/NewMSLUpdate.exe over folder/MSLUpdate.exe in one rename, so
// the folder is never without an updater. The moved file then takes the old
// one's permissions (it must stay executable); when that is not allowed (a
// file of another user) the swap still counts as done.
SwapResult replaceUpdater(const QString &folder, QString *error = nullptr);

// Whether folder holds a new updater file that a swap could move in.
bool hasNewUpdater(const QString &folder);

} // namespace mosalune
