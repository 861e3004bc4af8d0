#pragma once

#include <QString>

namespace platform {

class DialogService;

// An update stopped among its renames (a crash, a power cut) is carried out
// to its end before any file of the folder is used. When it cannot be, the
// user is told why, and so is standard error. The caller holds the
// updater's instance lock meanwhile: a running updater finishes its own.
void finishStoppedUpdate(const QString &folder, DialogService &dialogs);

} // namespace platform
