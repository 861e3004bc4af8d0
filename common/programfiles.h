#pragma once

#include <QString>

// The names by which the two programs find each other: their files in the
// common program folder and the windows each looks for. Both programs carry
// them on every platform.
namespace common {

inline const QString mainProgramFileName = QStringLiteral("Mosalune.exe");
inline const QString updaterFileName = QStringLiteral("MSLUpdate.exe");
// The updater cannot replace its own file while it runs; the main program
// moves this one over it later.
inline const QString newUpdaterFileName = QStringLiteral("NewMSLUpdate.exe");
// The skin both programs load from the folder: its library and its theme.
inline const QString skinLibraryFileName = QStringLiteral("BrontelSkin.dll");
inline const QString skinThemeFileName = QStringLiteral("Brontel.Skin");
// A download's body is kept in the folder under a temporary name made from
// this template (the X's become six letters or digits) until it is moved
// into place.
inline const QString downloadBodyTemplate = QStringLiteral("mosalune-XXXXXX.part");

inline const QString formWindowClass = QStringLiteral("ThunderRT6FormDC");
// The updater's notice window; the main program leaves the updater's file
// alone while it exists.
inline const QString updaterWindowTitle = QStringLiteral("Mosalune 更新程序");
// The main program's main window is published under the program's bare name
// (its shown title carries the version), so that an updater of any version
// finds it.
inline const QString mainWindowKey = QStringLiteral("Mosalune");

} // namespace common
