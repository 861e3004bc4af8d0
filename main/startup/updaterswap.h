#pragma once

#include <QString>

// The second half of the updater hand-off: the updater leaves a new copy of
// itself beside the old one, and the main program puts it in place once the
// updater's window is gone.
namespace mosalune {

inline const QString updaterFileName = QStringLiteral("MSLUpdate.exe");
inline const QString newUpdaterFileName = QStringLiteral("NewMSLUpdate.exe");
inline const QString updaterWindowClass = QStringLiteral("ThunderRT6FormDC");
inline const QString updaterWindowTitle = QStringLiteral("Mosalune 更新程序");

enum class SwapResult {
    Swapped,     // the new updater is now "MSLUpdate.exe"
    NotPossible, // one of the two files is missing: nothing was touched
    Failed,      // the rename failed: both files are as they were
};

// Moves folder/NewMSLUpdate.exe over folder/MSLUpdate.exe in one rename, so
// the folder is never without an updater. The new file takes the old one's
// permissions first (it must stay executable).
SwapResult replaceUpdater(const QString &folder, QString *error = nullptr);

} // namespace mosalune
